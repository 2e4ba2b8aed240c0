// Documents: Save and Save As write the Serialize bytes; a failed save keeps the old file and
// the modified flag with one message; the save question; opening.
#include <gtest/gtest.h>

#include "suite_files.h"
#include "suite_paths.h"
#include "test_support.h"

namespace {

class TextDocument : public CDocument {
  public:
    std::string content;
    void Serialize(CArchive &ar) override { fwtest::SerializeBytes(ar, content); }
};

// A writer that marks the document saved as it writes, before the file is in place.
class SelfClearingDocument : public TextDocument {
  public:
    void Serialize(CArchive &ar) override {
        TextDocument::Serialize(ar);
        if (ar.IsStoring())
            SetModifiedFlag(FALSE);
    }
};

std::string Path(const char *leaf) {
    return suite::TestDataDir() + "\\" + leaf;
}

class Documents : public ::testing::Test {
  protected:
    void SetUp() override { AfxTestSeam::Begin(); }
    void TearDown() override { AfxTestSeam::End(); }
};

} // namespace

TEST_F(Documents, SaveAndSaveAsWriteTheSerializeBytes) {
    std::string path = Path("doc_save.opj");
    DeleteFileA(path.c_str());
    TextDocument doc;
    doc.OnNewDocument();
    doc.SetTitle("Project1");
    doc.content = std::string("[FILES]\r\nCount=0\r\n") + std::string(1, '\0') + "end";
    doc.SetModifiedFlag();
    ASSERT_TRUE(doc.DoSave(path.c_str()));
    EXPECT_EQ(suite::ReadAll(path), doc.content);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_STREQ(doc.GetTitle(), "doc_save.opj");
    EXPECT_TRUE(AfxTestSeam::TakeLog().empty()); // no box, no dialog

    // Save As through the routed command: the scripted path, the template's filter.
    std::string other = Path("doc_saveas.opj");
    DeleteFileA(other.c_str());
    doc.m_strFilter = "Project (*.OPJ)|*.OPJ||";
    doc.m_strDefExt = ".OPJ";
    doc.content = "second";
    AfxTestSeam::PushAnswer("file:" + other);
    EXPECT_TRUE(doc.OnCmdMsg(ID_FILE_SAVE_AS, CN_COMMAND, nullptr, nullptr));
    EXPECT_EQ(suite::ReadAll(other), "second");
    EXPECT_EQ(suite::ReadAll(path).substr(0, 7), "[FILES]");
    auto log = AfxTestSeam::TakeLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].kind, "save");
    EXPECT_EQ(log[0].caption, "Save As");
    EXPECT_EQ(log[0].filter, "Project (*.OPJ)|*.OPJ|");
    EXPECT_EQ(log[0].ext, "OPJ"); // the dialog adds the dot itself
    EXPECT_TRUE(log[0].flags & OFN_OVERWRITEPROMPT);
    EXPECT_NE(log[0].text.find("doc_save.opj"), std::string::npos);

    // Save (57603) now writes to the new path without asking.
    doc.content = "third";
    EXPECT_TRUE(doc.OnCmdMsg(ID_FILE_SAVE, CN_COMMAND, nullptr, nullptr));
    EXPECT_EQ(suite::ReadAll(other), "third");
    EXPECT_TRUE(AfxTestSeam::TakeLog().empty());

    // A cancelled Save As writes nothing.
    doc.content = "fourth";
    doc.SetModifiedFlag();
    AfxTestSeam::PushAnswer("IDCANCEL");
    EXPECT_FALSE(doc.DoSave(nullptr));
    EXPECT_EQ(suite::ReadAll(other), "third");
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(Documents, AFailedSaveLosesNothing) {
    std::string path = Path("doc_locked.opj");
    suite::WriteAll(path, "old project bytes");
    TextDocument doc;
    doc.SetPathName(path.c_str(), FALSE);
    doc.content = "new bytes";
    doc.SetModifiedFlag();

    // Locked by another handle (no sharing).
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(doc.DoFileSave());
    CloseHandle(lock);
    EXPECT_EQ(suite::ReadAll(path), "old project bytes");
    EXPECT_TRUE(doc.IsModified());
    auto log = AfxTestSeam::TakeLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].kind, "box");
    EXPECT_NE(log[0].text.find("doc_locked.opj"), std::string::npos);
    EXPECT_EQ(log[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONEXCLAMATION));

    // Its folder gone.
    std::string gone = Path("no_such_folder\\doc.opj");
    EXPECT_FALSE(doc.DoSave(gone.c_str()));
    EXPECT_TRUE(doc.IsModified());
    EXPECT_STREQ(doc.GetPathName(), path.c_str());
    EXPECT_EQ(AfxTestSeam::TakeLog().size(), 1u);

    // A document whose writer clears the flag itself is still modified after a failure.
    SelfClearingDocument clearing;
    clearing.SetPathName(path.c_str(), FALSE);
    clearing.content = "new bytes";
    clearing.SetModifiedFlag();
    lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(clearing.DoFileSave());
    CloseHandle(lock);
    EXPECT_EQ(suite::ReadAll(path), "old project bytes");
    EXPECT_TRUE(clearing.IsModified());
    EXPECT_EQ(AfxTestSeam::TakeLog().size(), 1u);

    // No temporary file is left beside the target.
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(Path("sav*.tmp").c_str(), &found);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE);
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
}

TEST_F(Documents, SaveQuestionAnswers) {
    std::string path = Path("doc_question.opj");
    struct Case {
        bool modified;
        const char *answer;
        BOOL result;
        const char *fileAfter;
        size_t boxes;
    } cases[] = {
        {false, nullptr, TRUE, "before", 0}, {true, "IDCANCEL", FALSE, "before", 1},
        {true, "IDNO", TRUE, "before", 1},   {true, "IDYES", TRUE, "after", 1},
        {true, nullptr, FALSE, "before", 1}, // unscripted: Cancel
    };
    for (auto &c : cases) {
        suite::WriteAll(path, "before");
        TextDocument doc;
        doc.SetPathName(path.c_str(), FALSE);
        doc.content = "after";
        doc.SetModifiedFlag(c.modified);
        if (c.answer)
            AfxTestSeam::PushAnswer(c.answer);
        EXPECT_EQ(doc.SaveModified(), c.result) << (c.answer ? c.answer : "-");
        EXPECT_EQ(suite::ReadAll(path), c.fileAfter) << (c.answer ? c.answer : "-");
        auto log = AfxTestSeam::TakeLog();
        ASSERT_EQ(log.size(), c.boxes);
        if (c.boxes) {
            EXPECT_EQ(log[0].flags, static_cast<UINT>(MB_YESNOCANCEL | MB_ICONQUESTION));
            EXPECT_NE(log[0].text.find("doc_question.opj?"), std::string::npos);
        }
    }
}

TEST_F(Documents, OpenReadsTheFileAndReportsAMissingOne) {
    std::string path = Path("doc_open.opj");
    suite::WriteAll(path, std::string(1000, 'p'));
    TextDocument doc;
    EXPECT_TRUE(doc.OnOpenDocument(path.c_str()));
    EXPECT_EQ(doc.content, std::string(1000, 'p'));
    EXPECT_FALSE(doc.IsModified());
    EXPECT_FALSE(doc.OnOpenDocument(Path("doc_missing.opj").c_str()));
    auto log = AfxTestSeam::TakeLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].text.find("doc_missing.opj"), std::string::npos);
}

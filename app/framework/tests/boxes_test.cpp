// Message boxes and file dialogs through the seam, one real box and one real file dialog.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "test_ids.h"
#include "test_support.h"

namespace {

class Seam : public ::testing::Test {
  protected:
    void SetUp() override { AfxTestSeam::Begin(); }
    void TearDown() override { AfxTestSeam::End(); }
};

std::vector<std::string> Paths(const CFileDialog &dlg) {
    std::vector<std::string> out;
    for (POSITION pos = dlg.GetStartPosition(); pos && out.size() < 100;)
        out.push_back(std::string(dlg.GetNextPathName(pos)));
    return out;
}

} // namespace

TEST_F(Seam, BoxFlagsCaptionsAndAnswers) {
    struct Case {
        const char *script; // nullptr: unscripted
        UINT type;
        UINT expectFlags;
        int expectAnswer;
    } cases[] = {
        {"IDOK", MB_OK, MB_OK | MB_ICONEXCLAMATION, IDOK},
        {"IDCANCEL", MB_OKCANCEL, MB_OKCANCEL | MB_ICONEXCLAMATION, IDCANCEL},
        {"IDYES", MB_YESNO, MB_YESNO | MB_ICONQUESTION, IDYES},
        {"IDNO", MB_YESNOCANCEL, MB_YESNOCANCEL | MB_ICONQUESTION, IDNO},
        {"IDOK", MB_OK | MB_ICONINFORMATION, MB_OK | MB_ICONINFORMATION, IDOK},
        {"IDOK", MB_OK | MB_SYSTEMMODAL | MB_SETFOREGROUND,
         MB_OK | MB_SYSTEMMODAL | MB_SETFOREGROUND | MB_ICONEXCLAMATION, IDOK},
        {"IDRETRY", MB_RETRYCANCEL | MB_ICONSTOP, MB_RETRYCANCEL | MB_ICONSTOP, IDRETRY},
        {"7", MB_YESNO, MB_YESNO | MB_ICONQUESTION, IDNO},
        {nullptr, MB_YESNO, MB_YESNO | MB_ICONQUESTION, IDNO},
        {nullptr, MB_YESNOCANCEL, MB_YESNOCANCEL | MB_ICONQUESTION, IDCANCEL},
        {nullptr, MB_OK, MB_OK | MB_ICONEXCLAMATION, IDOK},
        {"IDMAYBE", MB_OKCANCEL, MB_OKCANCEL | MB_ICONEXCLAMATION, IDCANCEL},
    };
    for (auto &c : cases) {
        if (c.script)
            AfxTestSeam::PushAnswer(c.script);
        EXPECT_EQ(AfxMessageBox("question?", c.type), c.expectAnswer)
            << (c.script ? c.script : "-");
        auto log = AfxTestSeam::TakeLog();
        ASSERT_FALSE(log.empty());
        const auto &box = log.back();
        EXPECT_EQ(box.kind, "box");
        EXPECT_EQ(box.flags, c.expectFlags) << (c.script ? c.script : "-");
        EXPECT_EQ(box.caption, "Framework Test");
        EXPECT_EQ(box.text, "question?");
        EXPECT_EQ(box.thread, GetCurrentThreadId());
        if (c.script && std::string(c.script) == "IDMAYBE") {
            ASSERT_EQ(log.size(), 2u);
            EXPECT_EQ(log[0].kind, "script"); // the malformed line is logged
        }
    }
}

TEST_F(Seam, StringIdsCallerCaptionNullTextAndWorkerThreads) {
    AfxTestSeam::PushAnswer("IDOK");
    AfxMessageBox(IDS_GREETING, MB_OK);
    AfxTestSeam::PushAnswer("IDOK");
    fwtest::TopWindow top;
    top.MessageBox("direct", "My Caption", MB_OK);
    AfxMessageBox(static_cast<const char *>(nullptr));
    top.MessageBox("no caption");

    DWORD worker = 0;
    std::thread t([&] {
        worker = GetCurrentThreadId();
        AfxTestSeam::PushAnswer("IDYES");
        EXPECT_EQ(AfxMessageBox("from a worker", MB_YESNO), IDYES);
    });
    t.join();

    auto log = AfxTestSeam::TakeLog();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0].text, "Hello from the test program");
    EXPECT_EQ(log[1].caption, "My Caption");
    EXPECT_EQ(log[1].flags, static_cast<UINT>(MB_OK)); // a window's box adds no icon
    EXPECT_EQ(log[1].owner, top.m_hWnd);
    EXPECT_EQ(log[2].text, "");
    EXPECT_EQ(log[3].caption, "Framework Test");
    EXPECT_EQ(log[4].thread, worker);
    EXPECT_EQ(log[4].owner, nullptr);
    EXPECT_NE(log[4].Line().find("text=from a worker"), std::string::npos);
}

TEST_F(Seam, HelpCallsAreLoggedAndMade) {
    CWinApp &app = fwtest::App();
    app.EnableHtmlHelp();
    app.HtmlHelp(0, 0);
    app.HtmlHelp(153, 0x000F);
    auto log = AfxTestSeam::TakeLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].kind, "help");
    EXPECT_EQ(log[0].flags, 0u);
    EXPECT_EQ(log[1].data, 153u);
    EXPECT_EQ(log[1].flags, static_cast<UINT>(0x000F));
}

TEST_F(Seam, FileDialogAnswers) {
    struct Case {
        const char *answer;
        DWORD flags;
        INT_PTR result;
        std::vector<std::string> paths;
    } cases[] = {
        {"files:C:\\d|a.sfp|b c.ttf",
         OFN_ALLOWMULTISELECT,
         IDOK,
         {"C:\\d\\a.sfp", "C:\\d\\b c.ttf"}},
        {"file:C:\\d\\b c.ttf", OFN_ALLOWMULTISELECT, IDOK, {"C:\\d\\b c.ttf"}},
        {"files:C:\\|a.sfp|b.ttf", OFN_ALLOWMULTISELECT, IDOK, {"C:\\a.sfp", "C:\\b.ttf"}},
        {"file:C:\\a.sfp", OFN_ALLOWMULTISELECT, IDOK, {"C:\\a.sfp"}},
        {"files:C:\\d| lead.sfp|trail .ttf ",
         OFN_ALLOWMULTISELECT,
         IDOK,
         {"C:\\d\\ lead.sfp", "C:\\d\\trail .ttf "}},
        {"file:C:\\last.pjl", 0, IDOK, {"C:\\last.pjl"}},
        {"IDCANCEL", OFN_ALLOWMULTISELECT, IDCANCEL, {}},
        {"files:C:\\d|", OFN_ALLOWMULTISELECT, IDCANCEL, {}}, // malformed
        {nullptr, 0, IDCANCEL, {}},                           // unscripted
    };
    for (auto &c : cases) {
        CFileDialog dlg(TRUE, "sfp", nullptr, OFN_HIDEREADONLY | c.flags,
                        "Fonts (*.sfp)|*.sfp|All Files (*.*)|*.*||");
        std::vector<char> buffer(8000, 'Z'); // stale bytes must not read as paths
        buffer[0] = '\0';
        dlg.m_ofn.lpstrFile = buffer.data();
        dlg.m_ofn.nMaxFile = static_cast<DWORD>(buffer.size());
        dlg.m_ofn.lpstrTitle = "Add File";
        if (c.answer)
            AfxTestSeam::PushAnswer(c.answer);
        EXPECT_EQ(dlg.DoModal(), c.result) << (c.answer ? c.answer : "-");
        EXPECT_EQ(Paths(dlg), c.paths) << (c.answer ? c.answer : "-");
        if (!c.paths.empty()) {
            EXPECT_EQ(std::string(dlg.GetPathName()), c.paths[0]);
        }
        auto log = AfxTestSeam::TakeLog();
        ASSERT_FALSE(log.empty());
        const auto &e = log.back();
        EXPECT_EQ(e.kind, "open");
        EXPECT_EQ(e.caption, "Add File");
        EXPECT_EQ(e.filter, "Fonts (*.sfp)|*.sfp|All Files (*.*)|*.*|");
        EXPECT_EQ(e.ext, "sfp");
        EXPECT_TRUE(e.flags & OFN_EXPLORER);
        EXPECT_EQ(e.flags & OFN_ALLOWMULTISELECT, c.flags & OFN_ALLOWMULTISELECT);
    }

    // A buffer too small for the answer: IDCANCEL and nothing half parsed.
    CFileDialog dlg(FALSE, "pjl", "last.pjl", OFN_OVERWRITEPROMPT, "PJL (*.pjl)|*.pjl||");
    char tiny[8] = "xxxxxxx";
    dlg.m_ofn.lpstrFile = tiny;
    dlg.m_ofn.nMaxFile = sizeof tiny;
    AfxTestSeam::PushAnswer("file:C:\\folder\\last.pjl");
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.GetStartPosition(), nullptr);
    auto log = AfxTestSeam::TakeLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].kind, "save");
    EXPECT_EQ(log[0].text, "xxxxxxx");
}

TEST(FileDialog, ReadsWineAnswerBuffersExactly) {
    struct Case {
        const char *bytes;
        size_t size;
        WORD offset;
        std::vector<std::string> paths;
    } cases[] = {
        {"C:\\d\0a.sfp\0b c.ttf\0\0", 20, 5, {"C:\\d\\a.sfp", "C:\\d\\b c.ttf"}},
        {"C:\\d\\b c.ttf\0\0garbage\0\0", 23, 5, {"C:\\d\\b c.ttf"}},
        {"C:\\\0a.sfp\0\0", 11, 4, {"C:\\a.sfp"}},
        {"C:\\a.sfp\0b.ttf\0\0", 16, 3, {"C:\\a.sfp"}}, // a one-file answer with stale bytes after
        {"C:\\d\0a.sfp", 10, 5, {}},                    // not terminated within the buffer
        {"", 1, 0, {}},
    };
    for (auto &c : cases) {
        CFileDialog dlg(TRUE, nullptr, nullptr, OFN_ALLOWMULTISELECT);
        std::vector<char> buffer(c.bytes, c.bytes + c.size);
        dlg.m_ofn.lpstrFile = buffer.data();
        dlg.m_ofn.nMaxFile = static_cast<DWORD>(buffer.size());
        dlg.m_ofn.nFileOffset = c.offset;
        EXPECT_EQ(Paths(dlg), c.paths) << c.bytes;
    }
}

TEST(RealWindows, MessageBoxAnsweredByAnotherThread) {
    ASSERT_FALSE(AfxTestSeam::Active());
    int answer = 0;
    std::string caption;
    {
        fwtest::DialogDriver driver([&](HWND box) {
            if (!box)
                return;
            char text[64] = {};
            GetWindowTextA(box, text, sizeof text);
            caption = text;
            SendMessageA(box, WM_COMMAND, IDYES, 0);
        });
        answer = AfxMessageBox("Really?", MB_YESNO);
    }
    EXPECT_EQ(caption, "Framework Test");
    EXPECT_EQ(answer, IDYES);
}

TEST(RealWindows, FileDialogAnsweredByAnotherThread) {
    ASSERT_FALSE(AfxTestSeam::Active());
    CFileDialog dlg(FALSE, "pjl", nullptr, OFN_HIDEREADONLY,
                    "PJL Files (*.pjl)|*.pjl|All Files (*.*)|*.*||");
    {
        fwtest::DialogDriver driver([&](HWND d) {
            if (!d)
                return;
            for (int i = 0; i < 200 && !GetDlgItem(d, 0x47C); ++i)
                Sleep(20);
            SetDlgItemTextA(d, 0x47C, "C:\\windows\\temp\\framework-answer.pjl");
            SendMessageA(d, WM_COMMAND, IDOK, 0);
        });
        EXPECT_EQ(dlg.DoModal(), IDOK);
    }
    EXPECT_STREQ(dlg.GetPathName(), "C:\\windows\\temp\\framework-answer.pjl");
    EXPECT_STREQ(dlg.GetFileName(), "framework-answer.pjl");
}

// The error reporter and the buffers.
#include "buffer.h"
#include "errors.h"
#include "helpers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "framework.h"
#include "seam_test.h"
#include "suite_paths.h"

namespace {

// The application object: its message box adds the default icon.
CWinApp g_app("Kelvane");

class AppTest : public SeamTest {
  protected:
    static std::string Scratch(const std::string &name) {
        return suite::TestDataDir() + "\\" + name;
    }
};

std::string SystemText(DWORD code) {
    char *text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string out = text ? text : "";
    LocalFree(text);
    return out;
}

} // namespace

TEST_F(AppTest, ErrorCodesBecomeOneBoxEach) {
    struct Case {
        DWORD code;
        std::string text;
    } cases[] = {
        {0x20000009, "Kelvane Error Code 536870921(0x20000009): Access Denied"},
        {0x20000103, "Kelvane Error Code 536871171(0x20000103): Job Connection Error"},
        {0x20000303,
         "Kelvane Error Code 536871683(0x20000303): Status Manager Initialisation Error "},
        {0x20002712, "Kelvane Error Code 536880914(0x20002712): The Kelvane cannot get access to "
                     "this printer."},
        {0x2000ABCD, "Kelvane Error Code 536914893(0x2000abcd): Unrecognised Error"},
        {5, SystemText(5)},
        {0x12345, "Kelvane Error Code 74565(0x12345): Unrecognised Error"}, // no system text
    };
    for (const Case &c : cases) {
        CErrors report(c.code);
        auto boxes = Boxes();
        ASSERT_EQ(boxes.size(), 1u) << c.code;
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].flags & (MB_TYPEMASK | MB_SYSTEMMODAL | MB_SETFOREGROUND),
                  static_cast<UINT>(MB_OK | MB_SYSTEMMODAL | MB_SETFOREGROUND));
        EXPECT_EQ(boxes[0].flags & MB_ICONMASK,
                  static_cast<UINT>(MB_ICONEXCLAMATION)); // the default
    }
    for (DWORD silent : {0u, 0x20000008u}) {
        CErrors report(silent);
        EXPECT_TRUE(Boxes().empty());
    }
    EXPECT_EQ(CErrors::GetMessageId(0x20000001), 10006u);
    EXPECT_EQ(CErrors::GetMessageId(0x20002715), 10121u);
}

TEST_F(AppTest, MissingStringsAreMarked) {
    char text[260];
    EXPECT_STREQ(LoadResString(10084, text), "Kelvane Error Code %d(0x%x): %s");
    EXPECT_STREQ(LoadResString(4242, text), "STOP - Missing Resource String");
}

TEST_F(AppTest, GenericDownloadStreamAndTheJobListOrder) {
    CBuffer a(1000);
    std::string bytes(1000, 'a');
    bytes[5] = '\x1b';
    ASSERT_TRUE(a.Append(bytes.data(), 1000));
    EXPECT_FALSE(a.Append("x", 1)); // full
    CBuffer b(3);
    b.AppendString("BBB");
    CPtrList jobs;
    const DWORD lengthA = a.BuildDownload(jobs, "1:", "\\common\\demo", "START.DMO", "7");
    const DWORD lengthB = b.BuildDownload(jobs, "0:", "\\pcl", "B", "");
    const std::string headerA = "\x1b%-12345X@PJL FSDOWNLOAD FORMAT:BINARY SIZE=1000 "
                                "NAME=\"1:\\common\\demo\\START.DMO\"\r\n";
    EXPECT_EQ(lengthA, headerA.size() + 1000 + 9);
    std::string joined;
    while (!jobs.IsEmpty()) {
        auto *stream = static_cast<CBuffer *>(jobs.RemoveHead());
        joined.append(stream->m_data, stream->GetLength());
        delete stream;
    }
    const std::string streamB =
        "\x1b%-12345X@PJL FSDOWNLOAD FORMAT:BINARY SIZE=3 NAME=\"0:\\pcl\\B\"\r\nBBB\x1b%-12345X";
    EXPECT_EQ(lengthB, streamB.size());
    EXPECT_EQ(joined, streamB + headerA + bytes + "\x1b%-12345X"); // A then B joins as B, A
}

TEST_F(AppTest, GrowingBufferKeepsItsBytes) {
    CMBuffer m;
    EXPECT_EQ(m.m_length, 260u);
    std::string text(250, 'x');
    CBuffer *base = &m;
    ASSERT_TRUE(base->AppendString(text.c_str()));
    const std::string more(50, 'y');
    ASSERT_TRUE(base->AppendString(more.c_str())); // through the base: still grows
    EXPECT_EQ(m.m_length, 520u);
    EXPECT_EQ(m.GetLength(), 300u);
    EXPECT_EQ(std::string(m.m_data, 300), text + more);
    EXPECT_EQ(m.m_data[m.m_length], '\0');
    CBuffer *owned = new CMBuffer; // deleted through the base
    owned->AppendString(std::string(1000, 'z').c_str());
    delete owned;
}

TEST_F(AppTest, FilesAreReadWrittenAndDescribed) {
    const std::string path = Scratch("buffer_file.bin");
    CBuffer data(5);
    data.Append("hello", 5);
    ASSERT_EQ(data.WriteToFile(path.c_str()), 1);
    CBuffer shorter(2);
    shorter.Append("hi", 2);
    ASSERT_EQ(shorter.WriteToFile(path.c_str()), 1); // truncates the old file
    CBuffer read(path.c_str());
    ASSERT_FALSE(read.IsEmpty());
    EXPECT_EQ(std::string(read.m_data, read.m_length), "hi");
    EXPECT_EQ(read.m_data[read.m_length], '\0');
    EXPECT_EQ(read.m_cursor, read.m_data + read.m_length);
    DWORD count = 0;
    std::vector<char> whole = ReadWholeFile(path.c_str(), &count);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(whole.size(), 3u);

    HWND host = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                nullptr);
    ASSERT_NE(host, nullptr) << GetLastError();
    CListCtrl list;
    ASSERT_TRUE(
        list.Create(WS_CHILD | LVS_REPORT, CRect(0, 0, 100, 100), CWnd::FromHandle(host), 1));
    list.InsertColumn(0, "a");
    list.InsertColumn(1, "b");
    EXPECT_EQ(read.ShowProperties(list), 4);
    EXPECT_EQ(std::string(list.GetItemText(2, 1)), "2");
    EXPECT_EQ(std::string(list.GetItemText(1, 0)), "Full Path:");
    list.DeleteAllItems();
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(read.ShowProperties(list), 2); // held open elsewhere
    CloseHandle(held);
    DestroyWindow(host);
    Boxes();

    CBuffer missing(Scratch("no_such_file.bin").c_str());
    EXPECT_TRUE(missing.IsEmpty());
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot open file " + Scratch("no_such_file.bin"));

    const std::string tooLong = Scratch(std::string(300, 'n'));
    CBuffer overLong(tooLong.c_str());
    EXPECT_TRUE(overLong.IsEmpty());
    EXPECT_EQ(Boxes().size(), 1u);

    const std::string empty = Scratch("empty.bin");
    ASSERT_EQ(WriteWholeFile(empty.c_str(), "", 0), 1);
    CBuffer none(empty.c_str());
    EXPECT_TRUE(none.IsEmpty());
    EXPECT_TRUE(Boxes().empty());
}

// A replacement goes through a file of its own: it never leaves the old file half written, and
// it leaves nothing beside it.
TEST_F(AppTest, ReplacingAFileKeepsTheOldOneUntilTheNewOneIsWhole) {
    const std::string folder = Scratch("replace");
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string path = folder + "\\ZqConfig.dat";
    auto read = [&] {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    auto others = [&] {
        int n = 0;
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE)
            return n;
        do {
            const std::string name = found.cFileName;
            n += name != "." && name != ".." && name != "ZqConfig.dat";
        } while (FindNextFileA(find, &found));
        FindClose(find);
        return n;
    };
    ASSERT_EQ(ReplaceWholeFile(path.c_str(), "old", 3), 1);
    ASSERT_EQ(ReplaceWholeFile(path.c_str(), "newer", 5), 1);
    EXPECT_EQ(read(), "newer");
    EXPECT_EQ(others(), 0);

    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    SetLastError(NO_ERROR);
    EXPECT_EQ(ReplaceWholeFile(path.c_str(), "lost", 4), 0);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(NO_ERROR));
    CloseHandle(held);
    EXPECT_EQ(read(), "newer");
    EXPECT_EQ(others(), 0);

    SetLastError(NO_ERROR);
    EXPECT_EQ(ReplaceWholeFile((folder + "\\missing\\ZqConfig.dat").c_str(), "x", 1), 0);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(NO_ERROR));
    DeleteFileA(path.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST_F(AppTest, TypefaceNamesFromTheThirtyTwoBitModule) {
    HMODULE module = LoadLibraryExA("velmar_test_typefaces.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    char text[260];
    EXPECT_EQ(LoadTypefaceName(module, 4, text, sizeof text), 0x20);
    EXPECT_STREQ(text, "Arial");
    EXPECT_EQ(LoadTypefaceName(module, 0x5004, text, sizeof text),
              0x20); // number masked to 12 bits
    EXPECT_EQ(LoadTypefaceName(module, 5, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(LoadTypefaceName(module, 6, text, sizeof text), 0x50);
    EXPECT_STREQ(text, "Dutch");
    EXPECT_EQ(LoadTypefaceName(module, 99, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    FreeLibrary(module);
}

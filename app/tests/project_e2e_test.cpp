// velmar end to end with a project: velmar_under_test.exe driven by posted commands, its
// boxes and file dialogs answered from a script, its project list read across the process
// boundary, and the fake printer (through corvane.dll) receiving the project's one job.
// It shares the prefix's data folder with the other program tests, so it runs alone and
// puts back the settings file it found.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "server.h"
#include "suite_files.h"
#include "suite_paths.h"

namespace {

const std::string kDataFolder = "C:\\ProgramData\\Dranvel\\Wyr";
const std::string kSettings = kDataFolder + "\\ZqConfig.dat";
const std::string kUel = "\x1b%-12345X";
const std::string kSoftFonts = SUITE_SOFTFONT_DIR;
const std::string kTrueTypes = SUITE_TRUETYPE_DIR;
const std::string kSans = "Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf";
const std::string kRemoved = ". It has been temporarily removed. You must add it to the project "
                             "again to correct the problem.";

constexpr WPARAM kNewProject = 101, kAddFile = 102, kCreateDownloadFile = 104, kSendProject = 106,
                 kCloseProject = 1059, kOpenProject = 57601, kSaveAs = 57604;

bool WaitFor(const std::function<bool()> &done, int ms = 20000) {
    for (int waited = 0; waited < ms; waited += 100) {
        if (done())
            return true;
        Sleep(100);
    }
    return done();
}

std::string TestProgramDir() {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe);
    return dir.substr(0, dir.find_last_of('\\'));
}

struct Find {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK TakeMainWindow(HWND hwnd, LPARAM lParam) {
    auto *find = reinterpret_cast<Find *>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (pid == find->pid && IsWindowVisible(hwnd) && !GetWindow(hwnd, GW_OWNER) &&
        std::string(cls) != "#32770") {
        find->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CountProjectWindows(HWND hwnd, LPARAM lParam) {
    if (GetWindowLongPtrA(hwnd, GWLP_USERDATA) == 23)
        reinterpret_cast<std::vector<HWND> *>(lParam)->push_back(hwnd);
    return TRUE;
}

// The file list of a project window: the list view of its first pane.
BOOL CALLBACK TakeFileList(HWND hwnd, LPARAM lParam) {
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (std::string(cls) == "SysListView32" && GetDlgCtrlID(hwnd) == 0xE900) {
        *reinterpret_cast<HWND *>(lParam) = hwnd;
        return FALSE;
    }
    return TRUE;
}

class Velmar {
  public:
    Velmar(const std::string &exe, const std::vector<std::string> &answers) {
        log_ = suite::TestDataDir() + "\\velmar-project-boxes.log";
        const std::string script = suite::TestDataDir() + "\\velmar-project-boxes.txt";
        DeleteFileA(log_.c_str());
        std::string text;
        for (const auto &a : answers)
            text += a + "\r\n";
        suite::WriteAll(script, text);
        SetEnvironmentVariableA("FRAMEWORK_TEST_SCRIPT", script.c_str());
        SetEnvironmentVariableA("FRAMEWORK_TEST_LOG", log_.c_str());
        std::string cmd = "\"" + exe + "\"";
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        started_ = CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  suite::BinDir().c_str(), &si, &pi_) != FALSE;
        SetEnvironmentVariableA("FRAMEWORK_TEST_SCRIPT", nullptr);
        SetEnvironmentVariableA("FRAMEWORK_TEST_LOG", nullptr);
        if (started_) {
            Find find = {pi_.dwProcessId, nullptr};
            WaitFor(
                [&] {
                    EnumWindows(TakeMainWindow, reinterpret_cast<LPARAM>(&find));
                    return find.found != nullptr ||
                           WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0;
                },
                30000);
            window_ = find.found;
        }
    }
    ~Velmar() {
        if (!started_)
            return;
        if (window_)
            PostMessageA(window_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(pi_.hProcess, 20000) != WAIT_OBJECT_0)
            TerminateProcess(pi_.hProcess, 99);
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
    }
    HWND window() const { return window_; }
    void Command(WPARAM id) const { PostMessageA(window_, WM_COMMAND, id, 0); }
    std::vector<HWND> Projects() const {
        std::vector<HWND> found;
        EnumChildWindows(window_, CountProjectWindows, reinterpret_cast<LPARAM>(&found));
        return found;
    }
    // Name, ID, volume and folder of each row of the (one) project window's file list.
    std::vector<std::vector<std::string>> Rows() const {
        std::vector<std::vector<std::string>> rows;
        const auto projects = Projects();
        if (projects.size() != 1)
            return rows;
        HWND list = nullptr;
        EnumChildWindows(projects[0], TakeFileList, reinterpret_cast<LPARAM>(&list));
        if (!list)
            return rows;
        void *remote =
            VirtualAllocEx(pi_.hProcess, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!remote)
            return rows;
        const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < count && i < 100; ++i) {
            std::vector<std::string> row;
            for (int column = 0; column < 4; ++column) {
                LVITEMA item = {};
                item.iSubItem = column;
                item.pszText = static_cast<char *>(remote) + sizeof item;
                item.cchTextMax = 1024;
                SIZE_T done = 0;
                WriteProcessMemory(pi_.hProcess, remote, &item, sizeof item, &done);
                SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(remote));
                char text[1025] = {};
                ReadProcessMemory(pi_.hProcess, static_cast<char *>(remote) + sizeof item, text,
                                  1024, &done);
                row.emplace_back(text);
            }
            rows.push_back(row);
        }
        VirtualFreeEx(pi_.hProcess, remote, 0, MEM_RELEASE);
        return rows;
    }
    std::vector<std::string> Log(const std::string &kind) const {
        std::vector<std::string> lines;
        std::istringstream in(suite::ReadAll(log_));
        for (std::string line; std::getline(in, line);)
            if (line.rfind(kind + "\t", 0) == 0)
                lines.push_back(line);
        return lines;
    }

  private:
    std::string log_;
    PROCESS_INFORMATION pi_ = {};
    bool started_ = false;
    HWND window_ = nullptr;
};

// The stream of one font row: the wild delete of its ID, the download of `stored`, UEL.
std::string FontStream(const std::string &name, const std::string &id, const std::string &stored) {
    return kUel + "@PJL QUVWILDFSDELETE NAME=\"0:\\fonts\\*_" + id +
           "\"\r\n@PJL FSDOWNLOAD FORMAT:BINARY SIZE=" + std::to_string(stored.size()) +
           " NAME=\"0:\\fonts\\" + name + "_" + id + "\"\r\n" + stored + kUel;
}

// A text as the seam's log writes it: backslashes doubled.
std::string Logged(const std::string &text) {
    std::string out;
    for (char c : text)
        out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

std::string WithTypeface(std::string header, int typeface) {
    header[36] = static_cast<char>(typeface >> 8);
    header[37] = static_cast<char>(typeface & 0xFF);
    return header;
}

class ProjectEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        hadFile_ = GetFileAttributesA(kSettings.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (hadFile_)
            saved_ = suite::ReadAll(kSettings);
        CreateDirectoryA("C:\\ProgramData\\Dranvel", nullptr);
        CreateDirectoryA(kDataFolder.c_str(), nullptr);
    }
    void TearDown() override {
        if (hadFile_)
            suite::WriteAll(kSettings, saved_);
        else
            DeleteFileA(kSettings.c_str());
    }
    bool hadFile_ = false;
    std::string saved_;
};

} // namespace

TEST_F(ProjectEndToEnd, AProjectIsFilledSavedReopenedSentAndSaved) {
    fakeprinter::Server server;
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string address = "127.0.0.1:" + std::to_string(server.Port());
    suite::WriteAll(kSettings, "[PRINTERS]\r\nName=Fake Printer,Port=" + address +
                                   "\r\n[SEARCH_FILTERS]\r\nTypeFace=3000\r\n");

    const std::string folder = suite::TestDataDir() + "\\project e2e";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string courier = folder + "\\courier.sfp", sans = folder + "\\DejaVuSans.ttf",
                      tiny = folder + "\\pclt_277.ttf";
    suite::WriteAll(courier, suite::ReadAll(kSoftFonts + "/d64.sfp"));
    suite::WriteAll(sans, suite::ReadAll(kSans));
    suite::WriteAll(tiny, suite::ReadAll(kTrueTypes + "/pclt_277.ttf"));
    const std::string opj = folder + "\\e2e.OPJ", pjl = folder + "\\last.pjl";
    DeleteFileA(opj.c_str());
    DeleteFileA(pjl.c_str());

    Velmar velmar(TestProgramDir() + "\\velmar_under_test.exe",
                  {"files:" + folder + "|courier.sfp|DejaVuSans.ttf|pclt_277.ttf", "file:" + opj,
                   "file:" + opj, "IDOK", "file:" + pjl, "file:" + opj, "IDOK"});
    ASSERT_NE(velmar.window(), nullptr) << "velmar showed no main window";

    // 1. A new project, three files added from one folder.
    velmar.Command(kNewProject);
    ASSERT_TRUE(WaitFor([&] { return velmar.Projects().size() == 1; })) << "no project window";
    velmar.Command(kAddFile);
    ASSERT_TRUE(WaitFor([&] { return velmar.Rows().size() == 3; })) << "the files were not added";
    const std::vector<std::vector<std::string>> rows = {{"Courier", "0", "0:", "\\fonts"},
                                                        {"DejaVu-Sans", "1", "0:", "\\fonts"},
                                                        {"Tiny-Regular", "2", "0:", "\\fonts"}};
    EXPECT_EQ(velmar.Rows(), rows);

    // 2. Saved as exact bytes; closed and opened again with the same rows.
    velmar.Command(kSaveAs);
    std::string text;
    auto section = [](int n, const std::string &source, const std::vector<std::string> &row) {
        return "[file" + std::to_string(n) + "]\r\nFileSourcePath=" + source +
               "\r\nFileName=" + row[0] + "\r\nFileID=" + row[1] +
               "\r\nFileTargetVolume=" + row[2] + "\r\nFileTargetPath=" + row[3] + "\r\n\r\n";
    };
    const std::string expected = "[FILES]\r\nCount=3\r\n\r\n" + section(0, courier, rows[0]) +
                                 section(1, sans, rows[1]) + section(2, tiny, rows[2]);
    ASSERT_TRUE(WaitFor([&] { return (text = suite::ReadAll(opj)) == expected; })) << text;
    velmar.Command(kCloseProject);
    ASSERT_TRUE(WaitFor([&] { return velmar.Projects().empty(); }));
    velmar.Command(kOpenProject);
    ASSERT_TRUE(WaitFor([&] { return velmar.Rows().size() == 3; })) << "the project did not open";
    EXPECT_EQ(velmar.Rows(), rows);

    // 3. One job, the last row's stream first, every font byte-exact at its target.
    velmar.Command(kSendProject);
    ASSERT_TRUE(WaitFor([&] { return !velmar.Log("box").empty(); })) << "no box after the send";
    ASSERT_EQ(server.Jobs().size(), 1u);
    const std::string stored = suite::ReadAll(kSoftFonts + "/d64.stored");
    const std::string sansFile = suite::ReadAll(sans), tinyFile = suite::ReadAll(tiny);
    const std::string sansHeader = suite::ReadAll(kTrueTypes + "/DejaVuSans.hdr");
    const std::string tinyHeader = suite::ReadAll(kTrueTypes + "/pclt_277.hdr");
    ASSERT_EQ(sansHeader.size(), 112u);
    ASSERT_EQ(tinyHeader.size(), 112u);
    auto joined = [&](int typeface) {
        return FontStream("Tiny-Regular", "2", tinyHeader + tinyFile) +
               FontStream("DejaVu-Sans", "1", WithTypeface(sansHeader, typeface) + sansFile) +
               FontStream("Courier", "0", stored);
    };
    EXPECT_NE(server.Jobs()[0].received.find(joined(3000)), std::string::npos)
        << "the joined stream, sent whole";
    server.With([&](fakeprinter::Engine &e) {
        const std::string *c = e.Files().Find("0:\\fonts\\Courier_0");
        const std::string *s = e.Files().Find("0:\\fonts\\DejaVu-Sans_1");
        const std::string *t = e.Files().Find("0:\\fonts\\Tiny-Regular_2");
        ASSERT_TRUE(c && s && t);
        EXPECT_TRUE(*c == stored);
        EXPECT_TRUE(*s == WithTypeface(sansHeader, 3000) + sansFile);
        EXPECT_TRUE(*t == tinyHeader + tinyFile);
    });
    auto boxes = velmar.Log("box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("Command Issued."), std::string::npos) << boxes[0];
    EXPECT_NE(suite::ReadAll(kSettings).find("TypeFace=3001\r\n"), std::string::npos);

    // 4. The same stream saved as last.pjl, DejaVu's typeface one on.
    velmar.Command(kCreateDownloadFile);
    ASSERT_TRUE(WaitFor([&] { return suite::ReadAll(pjl).size() == joined(3001).size(); }))
        << "no last.pjl";
    EXPECT_TRUE(suite::ReadAll(pjl) == joined(3001));
    EXPECT_EQ(server.Jobs().size(), 1u);

    // 5. A source deleted: reopening names it, the other rows keep their columns.
    velmar.Command(kCloseProject);
    ASSERT_TRUE(WaitFor([&] { return velmar.Projects().empty(); }));
    DeleteFileA(tiny.c_str());
    velmar.Command(kOpenProject);
    ASSERT_TRUE(WaitFor([&] { return velmar.Rows().size() == 2; }))
        << "the project did not open again";
    EXPECT_EQ(velmar.Rows(), (std::vector<std::vector<std::string>>{rows[0], rows[1]}));
    boxes = velmar.Log("box");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[1].find("Cannot open file " + Logged(tiny) + kRemoved), std::string::npos)
        << boxes[1];
}

// velmar end to end: its window, its printer bar filled from ZqConfig.dat, the data folder,
// the missing settings file and resource module, and its exit. Most runs start
// velmar_under_test.exe, the same program with the framework's test seam, which answers its
// boxes from a script; one drives the shipped velmar.exe as a user would, through its real
// box. These share the prefix's data folder, so they run one after another and put back what
// they change.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "server.h"
#include "snmp_agent.h"
#include "velmar_runner.h"

#include "suite_files.h"
#include "suite_paths.h"

namespace {

const std::string kDataFolder = "C:\\ProgramData\\Dranvel\\Wyr";
const std::string kSettings = kDataFolder + "\\ZqConfig.dat";

bool IsFolder(const std::string &path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Keeps the prefix's settings file as it was found.
class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        hadFile_ = GetFileAttributesA(kSettings.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (hadFile_)
            saved_ = suite::ReadAll(kSettings);
    }
    void TearDown() override {
        if (hadFile_) {
            CreateDirectoryA("C:\\ProgramData\\Dranvel", nullptr);
            CreateDirectoryA(kDataFolder.c_str(), nullptr);
            suite::WriteAll(kSettings, saved_);
        } else {
            DeleteFileA(kSettings.c_str());
        }
    }
    // The program with the test seam; the shipped one is suite::BinPath("velmar.exe").
    std::string exe_ = TestProgramDir() + "\\velmar_under_test.exe";
    bool hadFile_ = false;
    std::string saved_;
};

TEST_F(EndToEnd, BarShowsThePrinterOfTheSettingsFileAndCloseExitsWithZero) {
    fakeprinter::Server server;
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string address = "127.0.0.1:" + std::to_string(server.Port());
    CreateDirectoryA("C:\\ProgramData\\Dranvel", nullptr);
    CreateDirectoryA(kDataFolder.c_str(), nullptr);
    suite::WriteAll(kSettings, "[PRINTERS]\r\nName=Fake Printer,Port=" + address + "\r\n");

    Velmar velmar(exe_, suite::BinDir());
    ASSERT_TRUE(velmar.started()) << GetLastError();
    HWND window = velmar.Window();
    ASSERT_NE(window, nullptr) << "velmar showed no main window";
    char title[128] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_EQ(std::string(title).rfind("Kelvane", 0), 0u) << title;
    const auto rows = velmar.BarRows(window);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], "Fake Printer on " + address);
    EXPECT_TRUE(velmar.Boxes().empty());
    EXPECT_EQ(velmar.Close(window), 0u);
    EXPECT_TRUE(server.Jobs().empty()); // start-up sends nothing to the printer
}

// The shipped program, driven from outside: its real box is answered by its button, and the
// seam's variables in its environment change nothing.
TEST_F(EndToEnd, ShippedProgramCreatesTheDataFolderAndReportsTheMissingFileInARealBox) {
    DeleteFileA(kSettings.c_str());
    RemoveDirectoryA(kDataFolder.c_str());
    RemoveDirectoryA("C:\\ProgramData\\Dranvel");
    ASSERT_FALSE(IsFolder(kDataFolder));

    Velmar velmar(suite::BinPath("velmar.exe"), suite::BinDir());
    ASSERT_TRUE(velmar.started()) << GetLastError();
    HWND box = velmar.Box();
    ASSERT_NE(box, nullptr) << "velmar.exe showed no box for the missing settings file";
    BoxContents contents;
    EnumChildWindows(box, ReadBoxChild, reinterpret_cast<LPARAM>(&contents));
    EXPECT_NE(contents.text.find("Cannot open file "), std::string::npos) << contents.text;
    EXPECT_NE(contents.text.find("ZqConfig.dat"), std::string::npos) << contents.text;
    ASSERT_EQ(contents.buttons.size(), 1u);
    EXPECT_EQ(contents.buttons[0].first, "OK");
    SendMessageA(contents.buttons[0].second, BM_CLICK, 0, 0);

    HWND window = velmar.Window();
    ASSERT_NE(window, nullptr) << "no main window after the box was answered";
    EXPECT_TRUE(IsFolder(kDataFolder));
    EXPECT_TRUE(velmar.BarRows(window).empty());
    EXPECT_EQ(velmar.Close(window), 0u);
    EXPECT_FALSE(velmar.LogWritten()) << "velmar.exe wrote the test seam's log";
}

TEST_F(EndToEnd, MissingDataFolderIsCreatedAndTheMissingFileReportedOnce) {
    DeleteFileA(kSettings.c_str());
    RemoveDirectoryA(kDataFolder.c_str());
    RemoveDirectoryA("C:\\ProgramData\\Dranvel");
    ASSERT_FALSE(IsFolder(kDataFolder));

    Velmar velmar(exe_, suite::BinDir());
    ASSERT_TRUE(velmar.started());
    HWND window = velmar.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsFolder(kDataFolder));
    EXPECT_TRUE(velmar.BarRows(window).empty());
    const auto boxes = velmar.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("Cannot open file "), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[0].find("ZqConfig.dat"), std::string::npos) << boxes[0];
    EXPECT_EQ(velmar.Close(window), 0u);
}

TEST_F(EndToEnd, WorkingFolderWithoutTheResourceModuleEndsWithItsMessage) {
    const std::string folder = suite::TestDataDir() + "\\velmar-alone";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string copy = folder + "\\velmar.exe";
    ASSERT_TRUE(CopyFileA(exe_.c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(suite::BinPath("corvane.dll").c_str(), (folder + "\\corvane.dll").c_str(),
                          FALSE));

    Velmar velmar(copy, folder);
    ASSERT_TRUE(velmar.started());
    EXPECT_EQ(velmar.Exit(), 1u);
    const auto boxes = velmar.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("nimbrel.dll"), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[0].find("velmar-alone"), std::string::npos) << boxes[0];
    DeleteFileA(copy.c_str());
    DeleteFileA((folder + "\\corvane.dll").c_str());
    RemoveDirectoryA(folder.c_str());
}

// Windows 4.0 keeps the settings beside the program and creates nothing under ProgramData.
TEST_F(EndToEnd, OnVersionFourTheSettingsLieInTheProgramFolder) {
    const char kKey[] = "Software\\Wine\\AppDefaults\\velmar.exe";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE *>("nt40"), 5);
    RegCloseKey(key);

    const std::string folder = suite::TestDataDir() + "\\velmar-nt40";
    CreateDirectoryA(folder.c_str(), nullptr);
    // Named velmar.exe, the name the version setting above is kept under.
    ASSERT_TRUE(CopyFileA(exe_.c_str(), (folder + "\\velmar.exe").c_str(), FALSE));
    for (const char *file : {"corvane.dll", "nimbrel.dll"})
        ASSERT_TRUE(CopyFileA(suite::BinPath(file).c_str(), (folder + "\\" + file).c_str(), FALSE));
    suite::WriteAll(folder + "\\ZqConfig.dat", "[PRINTERS]\r\nName=Old,Port=LPT1\r\n");
    DeleteFileA(kSettings.c_str());
    RemoveDirectoryA(kDataFolder.c_str());
    RemoveDirectoryA("C:\\ProgramData\\Dranvel");

    {
        Velmar velmar(folder + "\\velmar.exe", folder);
        ASSERT_TRUE(velmar.started());
        HWND window = velmar.Window();
        EXPECT_NE(window, nullptr);
        if (window) {
            const auto rows = velmar.BarRows(window);
            ASSERT_EQ(rows.size(), 1u);
            EXPECT_EQ(rows[0], "Old on LPT1");
            EXPECT_TRUE(velmar.Boxes().empty());
            EXPECT_EQ(velmar.Close(window), 0u);
        }
    }
    EXPECT_FALSE(IsFolder("C:\\ProgramData\\Dranvel"));
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    for (const char *file : {"velmar.exe", "corvane.dll", "nimbrel.dll", "ZqConfig.dat"})
        DeleteFileA((folder + "\\" + file).c_str());
    RemoveDirectoryA(folder.c_str());
}

} // namespace

BOOL CALLBACK TakeProjectWindow(HWND hwnd, LPARAM lParam) {
    if (GetWindowLongPtrA(hwnd, GWLP_USERDATA) == 23) {
        *reinterpret_cast<HWND *>(lParam) = hwnd;
        return FALSE;
    }
    return TRUE;
}

TEST_F(EndToEnd, AProjectFileOnTheCommandLineOpensAProjectWindow) {
    const std::string folder = suite::TestDataDir() + "\\velmar projects";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string project = folder + "\\first try.OPJ";
    const std::string macro = folder + "\\page one.bin";
    suite::WriteAll(macro, "\x1b&f1Y");
    const std::string text =
        "[FILES]\r\nCount=1\r\n\r\n[file0]\r\nFileSourcePath=" + macro +
        "\r\nFileName=7\r\nFileID=7\r\nFileTargetVolume=0:\r\nFileTargetPath=\\pcl\\macros\r\n\r\n";
    suite::WriteAll(project, text);
    CreateDirectoryA("C:\\ProgramData\\Dranvel", nullptr);
    CreateDirectoryA(kDataFolder.c_str(), nullptr);
    suite::WriteAll(kSettings, "[PRINTERS]\r\n");

    Velmar velmar(exe_, suite::BinDir(), "\"" + project + "\"");
    ASSERT_TRUE(velmar.started()) << GetLastError();
    HWND window = velmar.Window();
    ASSERT_NE(window, nullptr) << "velmar showed no main window";
    HWND child = nullptr;
    EnumChildWindows(window, TakeProjectWindow, reinterpret_cast<LPARAM>(&child));
    ASSERT_NE(child, nullptr) << "no project window";
    char title[MAX_PATH] = {};
    GetWindowTextA(child, title, sizeof title);
    EXPECT_EQ(std::string(title), project); // the full path, as Open gives it
    EXPECT_TRUE(velmar.Boxes().empty());
    EXPECT_EQ(velmar.Close(window), 0u);
    EXPECT_EQ(suite::ReadAll(project), text); // left as it was
}

// Start-up opens the discovery dialog; its Start sweeps loopback for the broadcast scope and
// puts the printer found before the listed one.
TEST_F(EndToEnd, StartUpDiscoveryFindsAPrinterOnLoopback) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    snmpagent::Agent agent(snmpagent::SystemAnswers("Fake Printer", "Fake PJL printer"), 0,
                           "127.0.0.205");
    ASSERT_TRUE(agent.Ok()) << "an SNMP agent cannot bind 127.0.0.205: error " << agent.BindError();
    CreateDirectoryA("C:\\ProgramData\\Dranvel", nullptr);
    CreateDirectoryA(kDataFolder.c_str(), nullptr);
    suite::WriteAll(kSettings, "[PRINTERS]\r\nName=Listed,Port=127.0.0.1:9\r\n[SEARCH_FILTERS]\r\n"
                               "SubNet=255.255.255.255\r\n");
    const std::string port = std::to_string(agent.Port());
    SetEnvironmentVariableA("CORVANE_SNMP_PORT", port.c_str());
    SetEnvironmentVariableA("CORVANE_DISCOVERY_SWEEP", ("127.0.0.205:" + port).c_str());
    SetEnvironmentVariableA("CORVANE_TIMEOUT_SCALE", "0.05");
    Velmar velmar(exe_, suite::BinDir());
    for (const char *name :
         {"CORVANE_SNMP_PORT", "CORVANE_DISCOVERY_SWEEP", "CORVANE_TIMEOUT_SCALE"})
        SetEnvironmentVariableA(name, nullptr);
    ASSERT_TRUE(velmar.started());
    HWND dialog = velmar.Discovery();
    ASSERT_NE(dialog, nullptr) << "start-up opened no discovery dialog";
    velmar.DiscoveryHandled();
    auto button = [&] {
        char text[64] = {};
        GetDlgItemTextA(dialog, IDOK, text, sizeof text);
        return std::string(text);
    };
    EXPECT_EQ(button(), "Start");
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    bool stopShown = false, startAgain = false;
    for (int i = 0; i < 300 && !startAgain; ++i) {
        Sleep(50);
        const std::string text = button();
        stopShown = stopShown || text == "Stop";
        startAgain = stopShown && text == "Start" && IsWindowEnabled(GetDlgItem(dialog, IDCANCEL));
    }
    EXPECT_TRUE(stopShown);
    EXPECT_TRUE(startAgain);
    ASSERT_TRUE(velmar.ExitDiscovery(dialog));
    HWND window = velmar.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(velmar.BarRows(window),
              (std::vector<std::string>{"Fake Printer on 127.0.0.205", "Listed on 127.0.0.1:9"}));
    EXPECT_GE(agent.ReceivedCount(), 1u);
    EXPECT_EQ(velmar.Close(window), 0u);
    WSACleanup();
}

TEST_F(EndToEnd, APostedDemoPageCommandReachesThePrinter) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    setup.files.clear(); // no demo files: the chooser takes DEMO1 without showing
    fakeprinter::Server server(setup);
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string address = "127.0.0.1:" + std::to_string(server.Port());
    CreateDirectoryA("C:\\ProgramData\\Dranvel", nullptr);
    CreateDirectoryA(kDataFolder.c_str(), nullptr);
    suite::WriteAll(kSettings, "[PRINTERS]\r\nName=Fake Printer,Port=" + address + "\r\n");

    Velmar velmar(exe_, suite::BinDir());
    ASSERT_TRUE(velmar.started()) << GetLastError();
    HWND window = velmar.Window();
    ASSERT_NE(window, nullptr) << "velmar showed no main window";
    PostMessageA(window, WM_COMMAND, 120, 0);
    std::vector<std::string> boxes;
    for (int i = 0; i < 200 && boxes.empty(); ++i) {
        Sleep(50);
        boxes = velmar.Boxes();
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("Command Issued."), std::string::npos) << boxes[0];
    EXPECT_TRUE(server.WaitForJobs(server.Jobs().size(), 10000));
    const auto jobs = server.Jobs();
    ASSERT_FALSE(jobs.empty());
    EXPECT_EQ(jobs.back().received,
              "\x1b%-12345X@PJL ECHO TEST\r\n@PJL QUVINFOPRINT DEMO=DEMO1\r\n\x1b%-12345X");
    EXPECT_EQ(velmar.Close(window), 0u);
}

// Runs the driver program on the framework's WinMain under a test script.
#include <gtest/gtest.h>

#include "suite_files.h"
#include "suite_paths.h"
#include "test_support.h"

namespace {

struct FindWindowOf {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK TakeVisible(HWND hwnd, LPARAM lParam) {
    auto *f = reinterpret_cast<FindWindowOf *>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == f->pid && IsWindowVisible(hwnd) && !GetWindow(hwnd, GW_OWNER)) {
        f->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

std::string TestDir() {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe);
    return dir.substr(0, dir.find_last_of('\\'));
}

struct DriverRun {
    DWORD exitCode = 1234;
    std::string title;
    std::string log;
};

// Starts the driver with `args` and a script of `answers`; closes its window when it shows.
DriverRun RunDriver(const std::string &args, const std::string &answers) {
    DriverRun run;
    std::string dir = suite::TestDataDir();
    std::string script = dir + "\\framework_driver_script.txt";
    std::string log = dir + "\\framework_driver_log.txt";
    suite::WriteAll(script, answers);
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("FRAMEWORK_TEST_SCRIPT", script.c_str());
    SetEnvironmentVariableA("FRAMEWORK_TEST_LOG", log.c_str());
    std::string exe = TestDir() + "\\framework_driver.exe";
    std::string cmd = "\"" + exe + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &si, &pi);
    SetEnvironmentVariableA("FRAMEWORK_TEST_SCRIPT", nullptr);
    SetEnvironmentVariableA("FRAMEWORK_TEST_LOG", nullptr);
    if (!started)
        return run;
    FindWindowOf find = {pi.dwProcessId, nullptr};
    bool exited = false;
    for (int i = 0; i < 300 && !find.found; ++i) { // at most 30 s
        if (WaitForSingleObject(pi.hProcess, 100) == WAIT_OBJECT_0) {
            exited = true;
            break;
        }
        EnumWindows(TakeVisible, reinterpret_cast<LPARAM>(&find));
    }
    if (find.found) {
        char title[128] = {};
        GetWindowTextA(find.found, title, sizeof title);
        run.title = title;
        PostMessageA(find.found, WM_CLOSE, 0, 0);
    }
    if (!exited && WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 99);
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    run.log = suite::ReadAll(log);
    return run;
}

} // namespace

TEST(Driver, RunsInitInstanceAndTheLoopUntilTheMainWindowCloses) {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\FrameworkDriverTest");
    DriverRun run = RunDriver("", "IDOK\r\n");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.title, "Kelvane");
    // The exe's own name first, then the module's; the help call is logged; the second box
    // is unscripted and gets the negative answer without a window.
    EXPECT_NE(
        run.log.find("caption=Framework Driver\ttext=name before: Framework Driver\tanswer=IDOK"),
        std::string::npos)
        << run.log;
    EXPECT_NE(run.log.find("help\t"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("Missing.chm\tdata=0"), std::string::npos) << run.log;
    EXPECT_NE(
        run.log.find("caption=Kelvane\ttext=profile: C:\\\\projects\\\\one.opj 6\tanswer=(none) 1"),
        std::string::npos)
        << run.log;

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER,
                            "Software\\FrameworkDriverTest\\Kelvane\\Recent File List", 0, KEY_READ,
                            &key),
              ERROR_SUCCESS);
    char value[64] = {};
    DWORD size = sizeof value, type = 0;
    EXPECT_EQ(
        RegQueryValueExA(key, "File1", nullptr, &type, reinterpret_cast<BYTE *>(value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(value, "C:\\projects\\one.opj");
    RegCloseKey(key);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\FrameworkDriverTest");
}

TEST(Driver, InitInstanceFalseExitsWithOne) {
    DriverRun run = RunDriver("fail", "");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.title, "");
    EXPECT_NE(run.log.find("name before: Framework Driver\tanswer=(none) 1"), std::string::npos)
        << run.log;
}

TEST(Driver, CommandLineFileReachesTheOverrideWhole) {
    DriverRun run = RunDriver("/flag \"C:\\my dir\\x y.OPJ\"", "");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_NE(run.log.find("text=open: C:\\\\my dir\\\\x y.OPJ\t"), std::string::npos) << run.log;

    run = RunDriver("notes.txt", ""); // the override gives NULL: start-up ends
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.log.find("text=open: notes.txt\t"), std::string::npos) << run.log;
}

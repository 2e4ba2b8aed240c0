// Starts velmar.exe, waits for its top-level window, closes it and checks the exit code.
#include <windows.h>

#include <gtest/gtest.h>

#include "suite_paths.h"

namespace {

struct FindWindowOf {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK TakeVisibleWindow(HWND hwnd, LPARAM lParam) {
    auto *find = reinterpret_cast<FindWindowOf *>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == find->pid && IsWindowVisible(hwnd) && GetWindow(hwnd, GW_OWNER) == nullptr) {
        find->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

} // namespace

TEST(Velmar, StartsShowsItsWindowAndExitsCleanlyOnClose) {
    std::string exe = suite::BinPath("velmar.exe");
    std::string cmd = "\"" + exe + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               suite::BinDir().c_str(), &si, &pi))
        << "CreateProcess failed: " << GetLastError();

    FindWindowOf find = {pi.dwProcessId, nullptr};
    for (int i = 0; i < 300 && !find.found; ++i) { // at most 30 s
        if (WaitForSingleObject(pi.hProcess, 100) == WAIT_OBJECT_0)
            break;
        EnumWindows(TakeVisibleWindow, reinterpret_cast<LPARAM>(&find));
    }
    if (!find.found)
        TerminateProcess(pi.hProcess, 99);
    ASSERT_NE(find.found, nullptr) << "velmar showed no top-level window";

    PostMessageA(find.found, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 1234;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

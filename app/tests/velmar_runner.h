// Runs velmar as a program for the end-to-end tests and looks at its windows from outside:
// its main window, its boxes and the seam's box log, the printer bar's rows.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <sstream>
#include <string>
#include <vector>

#include "suite_files.h"
#include "suite_paths.h"

struct FindWindowOf {
    DWORD pid;
    HWND found;
};

inline BOOL CALLBACK TakeVisibleWindow(HWND hwnd, LPARAM lParam) {
    auto *find = reinterpret_cast<FindWindowOf *>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (pid == find->pid && IsWindowVisible(hwnd) && GetWindow(hwnd, GW_OWNER) == nullptr &&
        std::string(cls) != "#32770") {
        find->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

inline const char kDiscoveryCaption[] = "Wyr - Printer Discovery";

inline std::string Caption(HWND hwnd) {
    char text[256] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// A box (dialog class "#32770") of the process, visible; not the discovery dialog.
inline BOOL CALLBACK TakeBox(HWND hwnd, LPARAM lParam) {
    auto *find = reinterpret_cast<FindWindowOf *>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (pid == find->pid && IsWindowVisible(hwnd) && std::string(cls) == "#32770" &&
        Caption(hwnd) != kDiscoveryCaption) {
        find->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The discovery dialog of the process, visible.
inline BOOL CALLBACK TakeDiscovery(HWND hwnd, LPARAM lParam) {
    auto *find = reinterpret_cast<FindWindowOf *>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == find->pid && IsWindowVisible(hwnd) && Caption(hwnd) == kDiscoveryCaption) {
        find->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The texts of a box's static controls and the handles of its buttons by caption.
struct BoxContents {
    std::string text;
    std::vector<std::pair<std::string, HWND>> buttons;
};

inline BOOL CALLBACK ReadBoxChild(HWND hwnd, LPARAM lParam) {
    auto *box = reinterpret_cast<BoxContents *>(lParam);
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    char text[1024] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    if (_stricmp(cls, "Static") == 0)
        box->text += text;
    else if (_stricmp(cls, "Button") == 0 && IsWindowVisible(hwnd))
        box->buttons.emplace_back(text, hwnd);
    return TRUE;
}

inline BOOL CALLBACK TakeList(HWND hwnd, LPARAM lParam) {
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (std::string(cls) == "SysListView32") {
        *reinterpret_cast<HWND *>(lParam) = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The folder of this test program, where velmar_under_test.exe lies.
inline std::string TestProgramDir() {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe);
    return dir.substr(0, dir.find_last_of('\\'));
}

// One velmar run: started with a message-box script and log in its environment (which only
// velmar_under_test.exe reads), ended by WM_CLOSE. The script holds one answer a line.
class Velmar {
  public:
    Velmar(const std::string &exe, const std::string &folder, const std::string &args = "",
           const std::string &script = "IDOK\r\nIDOK\r\nIDOK\r\n") {
        log_ = suite::TestDataDir() + "\\velmar-boxes.log";
        script_ = suite::TestDataDir() + "\\velmar-boxes.txt";
        DeleteFileA(log_.c_str());
        suite::WriteAll(script_, script);
        SetEnvironmentVariableA("FRAMEWORK_TEST_SCRIPT", script_.c_str());
        SetEnvironmentVariableA("FRAMEWORK_TEST_LOG", log_.c_str());
        std::string cmd = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        started_ = CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  folder.c_str(), &si, &pi_) != FALSE;
        SetEnvironmentVariableA("FRAMEWORK_TEST_SCRIPT", nullptr);
        SetEnvironmentVariableA("FRAMEWORK_TEST_LOG", nullptr);
    }
    ~Velmar() {
        if (!started_)
            return;
        if (WaitForSingleObject(pi_.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(pi_.hProcess, 99);
        WaitForSingleObject(pi_.hProcess, 10000);
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
    }
    bool started() const { return started_; }
    // The discovery dialog that start-up opens, or NULL when none shows within 30 s or the
    // process ends first.
    HWND Discovery() {
        FindWindowOf find = {pi_.dwProcessId, nullptr};
        for (int i = 0; i < 300 && !find.found; ++i) {
            if (WaitForSingleObject(pi_.hProcess, 100) == WAIT_OBJECT_0)
                break;
            EnumWindows(TakeDiscovery, reinterpret_cast<LPARAM>(&find));
        }
        return find.found;
    }
    // Ends the start-up discovery dialog through Exit; false when it did not close in 30 s.
    bool ExitDiscovery(HWND dialog) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        for (int i = 0; i < 300; ++i) {
            if (!IsWindow(dialog) || !IsWindowVisible(dialog))
                return true;
            if (WaitForSingleObject(pi_.hProcess, 100) == WAIT_OBJECT_0)
                return true;
        }
        return false;
    }
    // The dialog was (or will be) left by the test itself.
    void DiscoveryHandled() { dismissed_ = true; }
    // The main window once the start-up discovery dialog was left through Exit, or NULL
    // when none shows within 30 s or the process ends first.
    HWND Window() {
        if (!dismissed_) {
            dismissed_ = true;
            if (HWND dialog = Discovery())
                ExitDiscovery(dialog);
        }
        FindWindowOf find = {pi_.dwProcessId, nullptr};
        for (int i = 0; i < 300 && !find.found; ++i) {
            if (WaitForSingleObject(pi_.hProcess, 100) == WAIT_OBJECT_0)
                break;
            EnumWindows(TakeVisibleWindow, reinterpret_cast<LPARAM>(&find));
        }
        return find.found;
    }
    // A box of the process, or NULL when none shows within 30 s or the process ends first.
    HWND Box() {
        FindWindowOf find = {pi_.dwProcessId, nullptr};
        for (int i = 0; i < 300 && !find.found; ++i) {
            if (WaitForSingleObject(pi_.hProcess, 100) == WAIT_OBJECT_0)
                break;
            EnumWindows(TakeBox, reinterpret_cast<LPARAM>(&find));
        }
        return find.found;
    }
    bool LogWritten() const { return GetFileAttributesA(log_.c_str()) != INVALID_FILE_ATTRIBUTES; }
    // The exit code after at most 30 s, or 1234 when still running.
    DWORD Exit() {
        DWORD code = 1234;
        if (WaitForSingleObject(pi_.hProcess, 30000) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }
    DWORD Close(HWND window) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        return Exit();
    }
    // The texts of the printer bar's rows, read across the process boundary.
    std::vector<std::string> BarRows(HWND window) {
        HWND list = nullptr;
        EnumChildWindows(window, TakeList, reinterpret_cast<LPARAM>(&list));
        std::vector<std::string> rows;
        if (!list)
            return rows;
        const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        void *remote =
            VirtualAllocEx(pi_.hProcess, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!remote)
            return rows;
        for (int i = 0; i < count && i < 100; ++i) {
            LVITEMA item = {};
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.pszText = static_cast<char *>(remote) + sizeof item;
            item.cchTextMax = 1024;
            SIZE_T done = 0;
            WriteProcessMemory(pi_.hProcess, remote, &item, sizeof item, &done);
            SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(remote));
            char text[1025] = {};
            ReadProcessMemory(pi_.hProcess, static_cast<char *>(remote) + sizeof item, text, 1024,
                              &done);
            rows.emplace_back(text);
        }
        VirtualFreeEx(pi_.hProcess, remote, 0, MEM_RELEASE);
        return rows;
    }
    // The box lines of the log.
    std::vector<std::string> Boxes() const {
        std::vector<std::string> boxes;
        std::istringstream in(suite::ReadAll(log_));
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("box\t", 0) == 0)
                boxes.push_back(line);
        return boxes;
    }

    HANDLE Process() const { return pi_.hProcess; }

  private:
    std::string log_, script_;
    PROCESS_INFORMATION pi_ = {};
    bool started_ = false;
    bool dismissed_ = false;
};

// Modal dialogs of the test's own process, found and driven from a second thread while the
// test's thread runs the dialog. Windows only.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace suite {

namespace detail {

struct DialogSearch {
    DWORD pid;
    HWND except;
    HWND found;
};

inline BOOL CALLBACK TakeDialog(HWND hwnd, LPARAM lParam) {
    auto *search = reinterpret_cast<DialogSearch *>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[32] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (pid == search->pid && hwnd != search->except && IsWindowVisible(hwnd) &&
        std::string(cls) == "#32770") {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

} // namespace detail

// Waits (at most `ms`) for a visible "#32770" window of this process other than `except`
// and returns it, or NULL.
inline HWND WaitForDialog(DWORD ms = 15000, HWND except = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        detail::DialogSearch search = {GetCurrentProcessId(), except, nullptr};
        EnumWindows(detail::TakeDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        Sleep(20);
    }
    return nullptr;
}

// Runs `action` on a second thread once a dialog shows; if none shows in time the action
// gets NULL. The destructor joins the thread.
class DialogDriver {
  public:
    explicit DialogDriver(std::function<void(HWND)> action, DWORD ms = 15000)
        : thread_([action, ms] { action(WaitForDialog(ms)); }) {}
    ~DialogDriver() {
        if (thread_.joinable())
            thread_.join();
    }
    DialogDriver(const DialogDriver &) = delete;
    DialogDriver &operator=(const DialogDriver &) = delete;

  private:
    std::thread thread_;
};

} // namespace suite

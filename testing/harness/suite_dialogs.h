// Modal dialogs of the test's own process, found and driven from a second thread while the
// test's thread runs the dialog. Windows only.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
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
// and returns it, or NULL (0: one look).
inline HWND WaitForDialog(DWORD ms = 15000, HWND except = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        detail::DialogSearch search = {GetCurrentProcessId(), except, nullptr};
        EnumWindows(detail::TakeDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        if (std::chrono::steady_clock::now() >= deadline)
            return nullptr;
        Sleep(20);
    }
}

// Runs `action` on a second thread with the dialog that `find` returns (by default any
// visible dialog of this process) once it shows, or with NULL once the destructor runs
// without one having shown: a test's modal call ends only through its dialog, so the driver
// waits for as long as the call runs, however slow the machine. A dialog still open a minute
// after its action ended would hold the test for good: it is cancelled, and if it stays the
// program ends with a message. The destructor joins the thread.
class DialogDriver {
  public:
    using Finder = std::function<HWND()>;

    explicit DialogDriver(std::function<void(HWND)> action, Finder find = {})
        : thread_([this, action = std::move(action), find = std::move(find)] {
              Run(
                  action, find ? find : [] { return WaitForDialog(0); });
          }) {}
    ~DialogDriver() {
        finished_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    DialogDriver(const DialogDriver &) = delete;
    DialogDriver &operator=(const DialogDriver &) = delete;

  private:
    static constexpr DWORD kMaxWaitMs = 300000; // a test program's own time limit
    static constexpr DWORD kLeftOpenMs = 60000;
    static constexpr DWORD kAfterCancelMs = 10000;

    // Sleeps until `done` holds or `ms` passes; true when it holds.
    bool WaitFor(const std::function<bool()> &done, DWORD ms) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (done())
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            Sleep(20);
        }
    }

    void Run(const std::function<void(HWND)> &action, const Finder &find) {
        HWND dialog = nullptr;
        WaitFor([&] { return finished_ || (dialog = find()) != nullptr; }, kMaxWaitMs);
        action(dialog);
        if (!dialog)
            return;
        auto closed = [&] { return finished_ || !IsWindow(dialog); };
        if (WaitFor(closed, kLeftOpenMs))
            return;
        char caption[128] = {};
        GetWindowTextA(dialog, caption, sizeof caption);
        fprintf(
            stderr,
            "suite: the dialog \"%s\" is still open %lu s after its driver acted: cancelling it\n",
            caption, static_cast<unsigned long>(kLeftOpenMs / 1000));
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        if (WaitFor(closed, kAfterCancelMs))
            return;
        fprintf(stderr, "suite: the dialog \"%s\" does not close: ending the test program\n",
                caption);
        fflush(stderr);
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    }

    std::atomic<bool> finished_{false};
    std::thread thread_;
};

} // namespace suite

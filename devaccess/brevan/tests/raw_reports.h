// Collects the raw transport's reports handed to a caller's callback (dorvik's threads).
#pragma once

#include <windows.h>

#include <vector>

#include "brevan.h"
#include "dorvik.h"
#include "win_owners.h"

namespace brevantest {

struct Report {
    int status = 0;
    int wsaError = 0;
    int bytesDone = 0;
    bool progress = false; // a progress report (cancel pointer set)
};

// Win32 lock and event only: dorvik's threads are not the C++ runtime's.
class RawReports {
  public:
    RawReports() {
        InitializeCriticalSection(&lock_);
        final_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~RawReports() {
        CloseHandle(final_);
        DeleteCriticalSection(&lock_);
    }
    RawReports(const RawReports &) = delete;
    RawReports &operator=(const RawReports &) = delete;

    static void BREVAN_RAW_CALL Callback(Raw9100Event *event, void *user) {
        auto *self = static_cast<RawReports *>(user);
        {
            win::SectionLock hold(self->lock_);
            self->all_.push_back(
                {event->status, event->wsaError, event->bytesDone, event->cancel != nullptr});
        }
        if (!event->cancel)
            SetEvent(self->final_);
    }

    // The final report, or status -999 when none came within timeoutMs.
    Report WaitFinal(unsigned timeoutMs) {
        Report none{-999, 0, 0, false};
        if (WaitForSingleObject(final_, timeoutMs) != WAIT_OBJECT_0)
            return none;
        win::SectionLock hold(lock_);
        Report last = none;
        for (const Report &r : all_)
            if (!r.progress)
                last = r;
        return last;
    }

    std::vector<Report> All() {
        win::SectionLock hold(lock_);
        return all_;
    }

    void Reset() {
        win::SectionLock hold(lock_);
        all_.clear();
        ResetEvent(final_);
    }

  private:
    CRITICAL_SECTION lock_;
    HANDLE final_;
    std::vector<Report> all_;
};

} // namespace brevantest

// When a transfer job reports progress to its callback.
#pragma once

#include <cstdint>

namespace dorvik {

// A step that moved bytes reports at once and stops the clock. A step that moved nothing
// starts the clock if it is stopped (no report), and reports only once 1000 ms have passed
// since the clock's value, which then moves to now. Ticks are unsigned 32-bit milliseconds and
// wrap; a clock value of 0 means stopped.
class ProgressClock {
  public:
    static constexpr std::uint32_t kIdleReportMs = 1000;

    bool ShouldReport(std::uint32_t bytesMoved, std::uint32_t nowMs) {
        if (bytesMoved != 0) {
            last_ = 0;
            return true;
        }
        if (last_ == 0) {
            last_ = nowMs;
            return false;
        }
        if (nowMs - last_ < kIdleReportMs)
            return false;
        last_ = nowMs;
        return true;
    }

    std::uint32_t Last() const { return last_; }

  private:
    std::uint32_t last_ = 0;
};

} // namespace dorvik

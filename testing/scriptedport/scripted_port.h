// A scripted stand-in for the seven port calls of corvane (corvane.h), linked into a test
// in place of the DLL's import library. Each call answers from its own queue of scripted
// steps (default when the queue is empty: success, a write takes everything, a read brings
// nothing) and every call is recorded.
#pragma once

#include <windows.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace scriptedport {

enum class Call { Open, SetTimeout, StartJob, Write, Read, EndJob, Close };

struct Step {
    BOOL result = TRUE;
    std::optional<DWORD> count; // Write: bytes taken (capped at the count asked); unset: all
    std::string bytes;          // Read: bytes delivered (more than the capacity: the rest next)
    DWORD lastError = 0;        // set when result is FALSE
};

struct Record {
    Call call;
    DWORD asked = 0;  // Write: bytes asked; Read: capacity; SetTimeout: ms; EndJob: ok
    std::string data; // Write: the bytes taken; Open: the port name
    BOOL result = TRUE;
};

struct Script {
    std::deque<Step> open, start, writes, reads;
    std::vector<Record> calls;
    // The bytes taken by every write, joined.
    std::string Written() const;
    std::size_t Count(Call call) const;
};

// The script the calls answer from; Reset() empties it.
Script &Current();
void Reset();

} // namespace scriptedport

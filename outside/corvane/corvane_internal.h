// Helpers shared by the stand-in's port and discovery calls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace corvane_internal {

// An environment variable as the process has it now (SetEnvironmentVariableA included).
bool Env(const char *name, std::string &value);
// CORVANE_TIMEOUT_SCALE, read at each call, applied to ms (tests use 0.01).
DWORD Scaled(DWORD ms);
// CORVANE_LOG=<file>: one line per event. Leaves the last-error code as it found it.
void Log(const char *call, std::uintptr_t h, const std::string &detail, BOOL result);
BOOL Fail(DWORD code);
// Winsock started once for the process.
bool WinsockUp();

} // namespace corvane_internal

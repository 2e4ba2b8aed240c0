// Shared by the fake transports: the call log and the scripted results.
//
// The log is a text file named by the environment variable FAKE_LOG, one line per call,
// appended and closed at once, so that it outlives the fake's unloading. Results come from
// environment variables read at each call (FAKE_<NAME>, a decimal number), so the driver can
// script them between calls.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fake {

inline void Log(const char *format, ...) {
    char path[MAX_PATH];
    if (!GetEnvironmentVariableA("FAKE_LOG", path, sizeof path))
        return;
    char line[2048];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line - 2, format, args);
    va_end(args);
    if (n < 0)
        return;
    if (n > static_cast<int>(sizeof line) - 2)
        n = sizeof line - 2;
    line[n++] = '\n';
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
}

// FAKE_<name> as a number, or fallback when unset.
inline int Scripted(const char *name, int fallback) {
    char value[64];
    std::string variable = std::string("FAKE_") + name;
    if (!GetEnvironmentVariableA(variable.c_str(), value, sizeof value))
        return fallback;
    return static_cast<int>(std::strtol(value, nullptr, 10));
}

inline std::string Text(const char *text) {
    return text ? "\"" + std::string(text) + "\"" : "(null)";
}

// The fake's own file name, so the log shows which copy was loaded.
inline std::string ModulePath(HMODULE module) {
    char name[MAX_PATH + 1] = {};
    GetModuleFileNameA(module, name, MAX_PATH);
    return name;
}

} // namespace fake

// The Windows version as GetVersionExA reports it, and the checks the mail code makes on it.
#pragma once

#include <windows.h>

namespace quenta {

struct WindowsVersion {
    DWORD major = 0;
    DWORD minor = 0;
    DWORD platformId = 0;
    // Windows NT 4.0 or Windows 95: marfel is never used there.
    bool IsNt4OrWin95() const {
        return (platformId == VER_PLATFORM_WIN32_NT && major == 4) ||
               (platformId == VER_PLATFORM_WIN32_WINDOWS && minor == 0);
    }
};

bool ReadWindowsVersion(WindowsVersion &out);

} // namespace quenta

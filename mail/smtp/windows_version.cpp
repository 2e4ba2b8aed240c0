#include "windows_version.h"

namespace quenta {

bool ReadWindowsVersion(WindowsVersion &out) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL ok = GetVersionExA(&info);
#pragma GCC diagnostic pop
    if (!ok)
        return false;
    out.major = info.dwMajorVersion;
    out.minor = info.dwMinorVersion;
    out.platformId = info.dwPlatformId;
    return true;
}

} // namespace quenta

#include <winsock2.h>

#include "corvane_internal.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace corvane_internal {

bool Env(const char *name, std::string &value) {
    value.clear();
    char small[512];
    DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
    if (n == 0)
        return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    if (n < sizeof small) {
        value.assign(small, n);
        return true;
    }
    if (n > 65536)
        return false;
    std::string big(n, '\0');
    DWORD got = GetEnvironmentVariableA(name, big.data(), n);
    if (got == 0 || got >= n)
        return false;
    big.resize(got);
    value = big;
    return true;
}

DWORD Scaled(DWORD ms) {
    const DWORD error = GetLastError();
    std::string text;
    double scale = Env("CORVANE_TIMEOUT_SCALE", text) ? std::atof(text.c_str()) : 1.0;
    SetLastError(error);
    if (!(scale > 0))
        scale = 1.0;
    double scaled = ms * scale;
    if (scaled < 1 && ms > 0)
        return 1;
    return scaled > 0x7fffffff ? 0x7fffffff : static_cast<DWORD>(scaled);
}

void Log(const char *call, std::uintptr_t h, const std::string &detail, BOOL result) {
    const DWORD error = GetLastError();
    std::string path;
    if (!Env("CORVANE_LOG", path) || path.empty()) {
        SetLastError(error);
        return;
    }
    static std::mutex logMu;
    std::lock_guard<std::mutex> lock(logMu);
    if (FILE *f = std::fopen(path.c_str(), "a")) {
        std::fprintf(f, "%s handle=0x%llx %s result=%d error=0x%lx\n", call,
                     static_cast<unsigned long long>(h), detail.c_str(), result ? 1 : 0,
                     static_cast<unsigned long>(result ? 0 : error));
        std::fclose(f);
    }
    SetLastError(error);
}

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

bool WinsockUp() {
    static std::once_flag once;
    static bool up = false;
    std::call_once(once, [] {
        WSADATA data;
        up = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return up;
}

} // namespace corvane_internal

// Our stand-in for vantrel, the adapter library quenta asks for its registry root. It fills
// three entries of the caller's table; the third answers 3 (the machine-wide root).
// VANTREL_TEST changes that for tests: a number is the answer, "fail" makes the export fail,
// "null" leaves the third entry empty.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

char g_mode[32];

const char *Mode() {
    const DWORD n = GetEnvironmentVariableA("VANTREL_TEST", g_mode, sizeof g_mode);
    if (n == 0 || n >= sizeof g_mode)
        return "";
    return g_mode;
}

int AdapterVersion() {
    return 1;
}
int AdapterReady() {
    return 1;
}

int AdapterRootChoice() {
    const char *mode = Mode();
    if (*mode == '\0')
        return 3;
    return std::atoi(mode);
}

} // namespace

extern "C" int InitAdapterLibrary(HMODULE, void **table) {
    if (!table)
        return 1;
    const char *mode = Mode();
    if (std::strcmp(mode, "fail") == 0)
        return 1;
    table[0] = reinterpret_cast<void *>(&AdapterVersion);
    table[1] = reinterpret_cast<void *>(&AdapterReady);
    table[2] =
        std::strcmp(mode, "null") == 0 ? nullptr : reinterpret_cast<void *>(&AdapterRootChoice);
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

// Test programs run in processes of their own, optionally under a Wine AppDefaults version.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>

namespace suite {

// Sets HKCU\Software\Wine\AppDefaults\<exe>\Version (e.g. "nt40", "win95", "winxp") for the
// object's life, so that Wine reports that Windows version to <exe> alone.
class AppDefaultsVersion {
  public:
    AppDefaultsVersion(const std::string &exe, const char *version)
        : key_("Software\\Wine\\AppDefaults\\" + exe) {
        HKEY k = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &k, nullptr) != ERROR_SUCCESS)
            return;
        set_ = RegSetValueExA(k, "Version", 0, REG_SZ, reinterpret_cast<const BYTE *>(version),
                              static_cast<DWORD>(std::strlen(version) + 1)) == ERROR_SUCCESS;
        RegCloseKey(k);
    }
    ~AppDefaultsVersion() { RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str()); }
    AppDefaultsVersion(const AppDefaultsVersion &) = delete;
    AppDefaultsVersion &operator=(const AppDefaultsVersion &) = delete;

    bool set() const { return set_; }

  private:
    std::string key_;
    bool set_ = false;
};

// Runs <exe>, which lies beside the running test program, with `arguments`; its exit code,
// or `failure` when it could not be started or did not end within timeoutMs.
inline DWORD RunBesideSelf(const std::string &exe, const std::string &arguments,
                           DWORD failure = 1000, DWORD timeoutMs = 120000) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return failure;
    std::string program = self;
    program = program.substr(0, program.find_last_of('\\') + 1) + exe;
    std::string command = "\"" + program + "\" " + arguments;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    DWORD code = failure;
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                       &pi)) {
        if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &code);
        else
            TerminateProcess(pi.hProcess, failure);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    return code;
}

// RunBesideSelf under the Windows version `version`.
inline DWORD RunBesideSelfAs(const char *version, const std::string &exe,
                             const std::string &arguments, DWORD failure = 1000) {
    AppDefaultsVersion as(exe, version);
    if (!as.set())
        return failure;
    return RunBesideSelf(exe, arguments, failure);
}

} // namespace suite

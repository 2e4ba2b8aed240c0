// Run by the mail tests in a process of its own, under a TZ or a Wine AppDefaults version:
//   quenta_probe date "<end of the line>"   the Date line ends so (" +0530")
//   quenta_probe version old|winxp          what the settings and the session do there
// Exit 0 when everything matched; each mismatch is printed.
#include <windows.h>
#include <winsock.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "library_folder.h"
#include "mail_error.h"
#include "parameter.h"
#include "smtp.h"
#include "suite_paths.h"
#include "windows_version.h"

#undef GetUserName

namespace {

const char *const kKeyPath = "Software\\Dranvel\\Common\\SMTP";
int g_failures = 0;

void Expect(bool ok, const char *what, long got) {
    if (ok)
        return;
    ++g_failures;
    std::printf("quenta_probe: %s (got %ld)\n", what, got);
}

int DateLine(const std::string &end) {
    CSMTP smtp;
    std::string line;
    const int code = CatchMailError([&] { smtp.MakeDateLine(line); });
    std::printf("quenta_probe: TZ=%s: \"%s\"\n", std::getenv("TZ") ? std::getenv("TZ") : "",
                line.c_str());
    Expect(code == 0, "MakeDateLine failed", code);
    // "Date: Www, dd Mmm yy hh:mm:ss +hhmm"
    Expect(line.size() == 35 && line.compare(0, 6, "Date: ") == 0 && line[9] == ',' &&
               line[26] == ':',
           "the line is not in its fixed columns", static_cast<long>(line.size()));
    Expect(line.size() >= end.size() &&
               line.compare(line.size() - end.size(), end.size(), end) == 0,
           ("the line does not end with \"" + end + "\"").c_str(), 0);
    return g_failures;
}

int Version(const std::string &kind) {
    quenta::WindowsVersion version;
    quenta::ReadWindowsVersion(version);
    std::printf("quenta_probe: Windows %lu.%lu platform %lu\n", version.major, version.minor,
                version.platformId);
    const std::string bin = suite::BinDir();
    quenta::SetLibraryFolderForTesting(std::wstring(bin.begin(), bin.end()).c_str());
    // vantrel, were it asked, would choose HKEY_CURRENT_USER.
    SetEnvironmentVariableA("VANTREL_TEST", "1");
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    {
        CParameter settings;
        settings.SetServer("127.0.0.1");
        settings.SetPort(25);
        Expect(settings.Root() == HKEY_LOCAL_MACHINE, "settings not under HKEY_LOCAL_MACHINE", 0);
        if (kind == "winxp") {
            Expect(version.major == 5 && version.minor == 1, "not Windows XP",
                   static_cast<long>(version.major));
            Expect(settings.HasMarfel(), "marfel not loaded", 0);
            const int code = CatchMailError([&] { settings.SetUserName("someone"); });
            Expect(code == 0, "SetUserName failed", code);
            const char *user = nullptr;
            Expect(CatchMailError([&] { user = settings.GetUserName(); }) == 0 && user &&
                       std::strcmp(user, "someone") == 0,
                   "the user name did not round-trip", 0);
        } else {
            Expect(version.major == 4 && version.minor == 0, "not Windows 4.0",
                   static_cast<long>(version.major));
            Expect(!settings.HasMarfel(), "marfel loaded", 0);
            int code = CatchMailError([&] { settings.GetUserName(); });
            Expect(code == kMailDependentDll, "GetUserName did not give 104", code);
            code = CatchMailError([&] { settings.SetPassword("x"); });
            Expect(code == kMailDependentDll, "SetPassword did not give 104", code);
            CSMTP smtp;
            smtp.SetAuthOptions(0x2, "u", "p");
            code = CatchMailError([&] { smtp.ConnectServer(); });
            smtp.CloseServer();
            Expect(code == kMailDependentDll, "the marfel path did not give 104", code);
            code = CatchMailError([&] { smtp.ProbeServerOptions(); });
            Expect(code == kMailDependentDll, "ProbeServerOptions did not give 104", code);
        }
    }
    WSACleanup();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKeyPath);
    return g_failures;
}

} // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 3 && std::strcmp(argv[1], "date") == 0)
        return DateLine(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "version") == 0)
        return Version(argv[2]);
    std::printf("usage: quenta_probe date <end> | version old|winxp\n");
    return 100;
}

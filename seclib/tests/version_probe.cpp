// Run by the socket test under a Wine AppDefaults version: opens a plain context to a loopback
// listener of its own and reports which security library the context loaded.
// Exit 0 when the outcome matches argv[1]: "Security.dll", "Secur32.dll" or "1633".
#include <winsock2.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "marfel.h"
#include "suite_paths.h"
#include "win_socket_owner.h"

int main(int argc, char **argv) {
    if (argc != 2)
        return 10;
    const std::string expected = argv[1];
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 11;
    win::Socket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(listener.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(listener.get(), 1) != 0 ||
        getsockname(listener.get(), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 12;

    HMODULE dll = LoadLibraryA(suite::BinPath("marfel.dll").c_str());
    auto open = dll ? reinterpret_cast<SslOpenSocketFn>(
                          reinterpret_cast<void (*)()>(GetProcAddress(dll, "SslOpenSocket")))
                    : nullptr;
    auto close = dll ? reinterpret_cast<SslCloseSocketFn>(
                           reinterpret_cast<void (*)()>(GetProcAddress(dll, "SslCloseSocket")))
                     : nullptr;
    if (!open || !close)
        return 13;
    const bool securityBefore = GetModuleHandleA("Security.dll") != nullptr;
    SslSocketContext *c = open("127.0.0.1", ntohs(address.sin_port));
    const DWORD error = GetLastError();
    const bool security = GetModuleHandleA("Security.dll") != nullptr;
    const bool secur32 = GetModuleHandleA("Secur32.dll") != nullptr;
    if (c)
        close(c);
    listener.reset();
    std::printf("context %s, error %lu, Security.dll %d (before %d), Secur32.dll %d\n",
                c ? "made" : "NULL", static_cast<unsigned long>(error), security, securityBefore,
                secur32);
    if (expected == "1633")
        return !c && error == 1633 ? 0 : 1;
    if (!c)
        return 2;
    if (expected == "Security.dll")
        return security && !securityBefore ? 0 : 3;
    if (expected == "Secur32.dll")
        return secur32 && !security ? 0 : 4;
    return 14;
}

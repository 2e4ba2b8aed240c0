// quenta.dll's module start-up and clean-up: Windows Sockets belongs to the module from its
// load to its FreeLibrary. This program starts no Windows Sockets of its own.
#include <winsock.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "suite_paths.h"

namespace {

bool SocketsWork() {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    closesocket(s);
    return true;
}

TEST(QuentaModule, LoadStartsWindowsSocketsAndFreeLibraryCleansUp) {
    ASSERT_FALSE(SocketsWork());
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        HMODULE module = LoadLibraryA(suite::BinPath("quenta.dll").c_str());
        ASSERT_NE(module, nullptr);
        EXPECT_TRUE(SocketsWork());
        ASSERT_TRUE(FreeLibrary(module));
        EXPECT_FALSE(SocketsWork());
        EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    }
}

} // namespace

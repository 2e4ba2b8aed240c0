// What the socket tests share: Winsock for a test's lifetime and the bound SSL table.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "marfel_test_util.h"

namespace marfel_test {

// The failure code of the socket exports, returned and left as the last error.
constexpr DWORD kInternalError = 0x80090304;

class WinsockScope {
  public:
    WinsockScope() { WSAStartup(MAKEWORD(2, 2), &data_); }
    ~WinsockScope() { WSACleanup(); }

  private:
    WSADATA data_{};
};

inline const SslLibraryTable &Ssl() {
    static const SslLibraryTable table = [] {
        SslLibraryTable t{};
        auto init = ProcAs<InitSslLibraryFn>(LoadMarfel(), "InitSslLibrary");
        if (!init || init(LoadMarfel(), &t) != 0)
            t = SslLibraryTable{};
        return t;
    }();
    return table;
}

// A receive result: checked for its zero byte and freed; "<null>" for NULL.
inline std::string TakeReceived(void *r, int length) {
    if (!r)
        return "<null>";
    EXPECT_GT(HeapSize(GetProcessHeap(), 0, r), static_cast<SIZE_T>(length));
    EXPECT_EQ(static_cast<char *>(r)[length], '\0');
    std::string s(static_cast<char *>(r), static_cast<std::size_t>(length));
    HeapFree(GetProcessHeap(), 0, r);
    return s;
}

} // namespace marfel_test

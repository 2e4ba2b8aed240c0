// The owner of a Windows Sockets socket (closesocket). Include winsock.h or winsock2.h first:
// modules differ in which one they use.
#pragma once

#if !defined(_WINSOCKAPI_) && !defined(_WINSOCK2API_)
#error "include winsock.h or winsock2.h before win_socket_owner.h"
#endif

#include "win_owners.h"

namespace win {

struct SocketTraits {
    using Type = SOCKET;
    static Type Empty() noexcept { return INVALID_SOCKET; }
    static bool Valid(Type s) noexcept { return s != INVALID_SOCKET; }
    static void Close(Type s) noexcept { closesocket(s); }
};

using Socket = Owner<SocketTraits>;

} // namespace win

// The socket helpers and the plain path of the TLS socket exports, against peers on loopback
// threads of this program.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "socket_util.h"
#include "ssl_socket.h"
#include "ssl_test_util.h"
#include "suite_process.h"

using namespace marfel_test;

namespace {

// A one-connection peer on a loopback address: accepts, runs `serve` on the connection, closes.
class LoopbackPeer {
  public:
    LoopbackPeer(std::function<void(SOCKET)> serve, int family = AF_INET) {
        listener_ = socket(family, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_storage address{};
        int length;
        if (family == AF_INET) {
            auto *in = reinterpret_cast<sockaddr_in *>(&address);
            in->sin_family = AF_INET;
            in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof(sockaddr_in);
        } else {
            auto *in6 = reinterpret_cast<sockaddr_in6 *>(&address);
            in6->sin6_family = AF_INET6;
            in6->sin6_addr = in6addr_loopback;
            length = sizeof(sockaddr_in6);
        }
        if (listener_ == INVALID_SOCKET ||
            bind(listener_, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            listen(listener_, 1) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        port_ = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in *>(&address)->sin_port
                                        : reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port);
        thread_ = std::thread([this, serve] {
            // Bounded: the listener waits at most 30 s for its one client.
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(listener_, &readable);
            timeval wait{30, 0};
            if (select(0, &readable, nullptr, nullptr, &wait) != 1)
                return;
            SOCKET s = accept(listener_, nullptr, nullptr);
            if (s == INVALID_SOCKET)
                return;
            serve(s);
            closesocket(s);
        });
    }
    ~LoopbackPeer() {
        Join();
        if (listener_ != INVALID_SOCKET)
            closesocket(listener_);
    }
    void Join() {
        if (thread_.joinable())
            thread_.join();
    }
    int port() const { return port_; }

  private:
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::thread thread_;
};

// Everything the client sends until it closes, within 30 s.
std::string ReadAll(SOCKET s) {
    std::string got;
    char buffer[4096];
    for (int i = 0; i < 10000; ++i) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval wait{30, 0};
        if (select(0, &readable, nullptr, nullptr, &wait) != 1)
            break;
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

class PlainSockets : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(Ssl().SslReceiveDataStream, nullptr) << "InitSslLibrary did not give 0";
    }
    const SslLibraryTable &ssl = Ssl();
    WinsockScope winsock;
};

} // namespace

// Feeds SendAll short counts and then an error.
namespace {
std::string g_wire;
int g_budget = 0;
int WSAAPI OneByteAtATime(SOCKET, const char *data, int length, int) {
    if (g_budget == 0)
        return SOCKET_ERROR;
    if (length <= 0)
        return 0;
    --g_budget;
    g_wire += data[0];
    return 1;
}
int WSAAPI ClosedPeer(SOCKET, const char *, int, int) {
    return 0;
}
} // namespace

TEST(SendAll, LoopsOverShortCountsAndReportsWhatWentOut) {
    g_wire.clear();
    g_budget = 100;
    DWORD sent = 99;
    EXPECT_TRUE(marfel::SendAll(&OneByteAtATime, INVALID_SOCKET, "hello", 5, &sent));
    EXPECT_EQ(sent, 5u);
    EXPECT_EQ(g_wire, "hello");

    g_wire.clear();
    g_budget = 3;
    EXPECT_FALSE(marfel::SendAll(&OneByteAtATime, INVALID_SOCKET, "hello", 5, &sent));
    EXPECT_EQ(sent, 3u);
    EXPECT_EQ(g_wire, "hel");

    EXPECT_FALSE(marfel::SendAll(&ClosedPeer, INVALID_SOCKET, "x", 1, &sent));
    EXPECT_EQ(sent, 0u);
    EXPECT_TRUE(marfel::SendAll(&ClosedPeer, INVALID_SOCKET, "x", 0, &sent));
}

TEST(SocketUtil, Helpers) {
    WinsockScope winsock;
    const marfel::CSocketUtil util;
    EXPECT_EQ(util.AlwaysOne(), 1);
    EXPECT_EQ(util.GetHostFamily("::1"), AF_INET6);
    EXPECT_EQ(util.GetHostFamily("localhost"), AF_UNSPEC);
    EXPECT_EQ(util.ParseScopeId("fe80::1%4"), 4);

    marfel::SocketEndpoint udp;
    ASSERT_EQ(util.OpenUdpSocket("127.0.0.1", 161, &udp), 0);
    BOOL broadcast = FALSE;
    int size = sizeof broadcast;
    ASSERT_EQ(getsockopt(udp.socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char *>(&broadcast),
                         &size),
              0);
    EXPECT_TRUE(broadcast);
    EXPECT_EQ(reinterpret_cast<sockaddr_in *>(udp.address)->sin_port, htons(161));
    util.CloseEndpoint(&udp);
    EXPECT_EQ(udp.socket, INVALID_SOCKET);
    EXPECT_EQ(util.OpenUdpSocket(nullptr, 161, &udp), 1);

    unsigned char v6[16];
    ASSERT_EQ(util.ResolveIpv6Address("::1", v6, 16), 0);
    EXPECT_EQ(Hex(std::string(reinterpret_cast<char *>(v6), 16)),
              "00000000000000000000000000000001");
    EXPECT_EQ(util.ResolveIpv6Address("::1", v6, 15), 1);
    EXPECT_EQ(util.ResolveIpv6Address(nullptr, v6, 16), 1);

    char text[64];
    unsigned length = sizeof text;
    ASSERT_EQ(util.FormatHostAddress("127.0.0.1", 0, text, &length), 0);
    EXPECT_EQ(std::string(text, length - 1), "127.0.0.1");
    length = sizeof text;
    ASSERT_EQ(util.FormatHostAddress("::1", 5, text, &length), 0);
    EXPECT_EQ(std::string(text, length - 1), "::1");
    EXPECT_EQ(util.FormatHostAddress(nullptr, 0, text, &length), 4);
    EXPECT_EQ(util.FormatHostAddress("x", 0, text, nullptr), 4);

    sockaddr_in6 scoped{};
    scoped.sin6_family = AF_INET6;
    scoped.sin6_addr.s6_addr[0] = 0xfe;
    scoped.sin6_addr.s6_addr[1] = 0x80;
    scoped.sin6_addr.s6_addr[15] = 1;
    length = sizeof text;
    ASSERT_EQ(util.FormatNumericAddress(reinterpret_cast<sockaddr *>(&scoped), 4, text, &length),
              0);
    EXPECT_EQ(std::string(text, length - 1), "fe80::1%4");

    WSADATA data;
    EXPECT_EQ(util.StartWinsock(&data), 0);
    util.StopWinsock();
}

TEST(SocketUtil, VersionBranches) {
    EXPECT_EQ(marfel::CredentialFlags(VER_PLATFORM_WIN32_NT, 6), 0x30u);
    EXPECT_EQ(marfel::CredentialFlags(VER_PLATFORM_WIN32_NT, 5), 0x30u);
    EXPECT_EQ(marfel::CredentialFlags(VER_PLATFORM_WIN32_NT, 4), 0x18u);
    EXPECT_EQ(marfel::CredentialFlags(VER_PLATFORM_WIN32_WINDOWS, 4), 0x18u);
    EXPECT_STREQ(marfel::SecurityModuleName(VER_PLATFORM_WIN32_NT, 4), "Security.dll");
    EXPECT_STREQ(marfel::SecurityModuleName(VER_PLATFORM_WIN32_NT, 6), "Secur32.dll");
    EXPECT_STREQ(marfel::SecurityModuleName(VER_PLATFORM_WIN32_WINDOWS, 4), "Secur32.dll");
    EXPECT_EQ(marfel::SecurityModuleName(VER_PLATFORM_WIN32s, 3), nullptr);

    const timeval shortWait = marfel::ShortWait(60);
    EXPECT_EQ(shortWait.tv_sec, 0);
    EXPECT_EQ(shortWait.tv_usec, 600);
    const timeval huge = marfel::ShortWait(0x7FFFFFFF);
    EXPECT_EQ(huge.tv_sec, 21474);
    EXPECT_EQ(huge.tv_usec, 836470);
    EXPECT_EQ(marfel::LongWait(-5).tv_sec, 0);
    EXPECT_EQ(marfel::ShortWait(-5).tv_usec, 0);
}

TEST_F(PlainSockets, ExchangeAndGrowingReceive) {
    const std::string big(10000, 'z');
    std::string fromClient;
    LoopbackPeer peer([&](SOCKET s) {
        char buffer[5];
        int got = 0;
        while (got < 5) {
            const int n = recv(s, buffer + got, 5 - got, 0);
            if (n <= 0)
                break;
            got += n;
        }
        fromClient.assign(buffer, static_cast<std::size_t>(got));
        send(s, big.data(), static_cast<int>(big.size()), 0);
        // The peer closes: the receive ends with success.
    });
    ASSERT_NE(peer.port(), 0);
    SslSocketContext *c = ssl.SslOpenSocket("127.0.0.1", peer.port());
    ASSERT_NE(c, nullptr) << GetLastError();

    const SOCKET s = static_cast<SOCKET>(ssl.SslGetSocket(c));
    sockaddr_in remote{};
    int remoteLength = sizeof remote;
    ASSERT_EQ(getpeername(s, reinterpret_cast<sockaddr *>(&remote), &remoteLength), 0);
    EXPECT_EQ(ntohs(remote.sin_port), peer.port());
    EXPECT_EQ(ssl.SslGetSocket(nullptr), 0u);

    int length = 5;
    EXPECT_EQ(ssl.SslSendDataStream(c, "hello", &length), 0);
    EXPECT_EQ(length, 5);
    length = 0;
    void *r = ssl.SslReceiveDataStream(c, 10, &length, 0);
    EXPECT_EQ(TakeReceived(r, length), big);
    peer.Join();
    EXPECT_EQ(fromClient, "hello");
    ssl.SslCloseSocket(c);
    ssl.SslCloseSocket(nullptr);
}

TEST_F(PlainSockets, SilentPeerTimesOutAndCloseSendsNothing) {
    std::string seen = "<none>";
    LoopbackPeer peer([&](SOCKET s) { seen = ReadAll(s); });
    SslSocketContext *c = ssl.SslOpenSocket("127.0.0.1", peer.port());
    ASSERT_NE(c, nullptr);
    int length = 0;
    const auto start = std::chrono::steady_clock::now();
    SetLastError(0);
    EXPECT_EQ(ssl.SslReceiveDataStream(c, 1, &length, 0), nullptr);
    EXPECT_EQ(GetLastError(), kInternalError);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 0.9);
    EXPECT_LE(seconds, 3.0);
    ssl.SslCloseSocket(c); // a plain context sends nothing before its TCP close
    peer.Join();
    EXPECT_EQ(seen, "");
}

TEST_F(PlainSockets, ConnectFailuresAndBadArguments) {
    // A port that was free a moment ago refuses.
    int freed;
    {
        LoopbackPeer closed([](SOCKET) {});
        freed = closed.port();
        SslSocketContext *knock = ssl.SslOpenSocket("127.0.0.1", freed); // lets the peer thread end
        if (knock)
            ssl.SslCloseSocket(knock);
    }
    SetLastError(0);
    EXPECT_EQ(ssl.SslOpenSocket("127.0.0.1", freed), nullptr);
    EXPECT_EQ(GetLastError(), 3u);
    EXPECT_EQ(ssl.SslOpenSocket("no-such-host.invalid", 25), nullptr);
    EXPECT_EQ(GetLastError(), 2u);
    EXPECT_EQ(ssl.SslOpenSocket(nullptr, 25), nullptr);
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(ssl.SslOpenSSLSocket(nullptr, 25, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), 87u);

    int length = 3;
    EXPECT_EQ(ssl.SslSendDataStream(nullptr, "abc", &length), 87);
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(ssl.SslSendSSLDataStream(nullptr, "abc", &length), 87);
    EXPECT_EQ(ssl.SslReceiveDataStream(nullptr, 1, &length, 0), nullptr);
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(ssl.SslReceiveSSLDataStream(nullptr, 1, &length, 0), nullptr);
    EXPECT_EQ(ssl.SslStartTls(nullptr, "localhost", nullptr), static_cast<int>(kInternalError));
    EXPECT_EQ(GetLastError(), kInternalError);

    LoopbackPeer peer([](SOCKET s) { ReadAll(s); });
    SslSocketContext *c = ssl.SslOpenSocket("127.0.0.1", peer.port());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(ssl.SslSendDataStream(c, nullptr, &length), 87);
    EXPECT_EQ(ssl.SslSendDataStream(c, "abc", nullptr), 87);
    length = -1;
    EXPECT_EQ(ssl.SslSendDataStream(c, "abc", &length), 87);
    EXPECT_EQ(length, -1);
    EXPECT_EQ(ssl.SslReceiveDataStream(c, 1, nullptr, 0), nullptr);
    // TLS calls on a plain context fail without touching it.
    length = 3;
    EXPECT_EQ(ssl.SslSendSSLDataStream(c, "abc", &length), static_cast<int>(kInternalError));
    EXPECT_EQ(ssl.SslStartTls(c, nullptr, nullptr), static_cast<int>(kInternalError));
    ssl.SslCloseSocket(c);
}

TEST_F(PlainSockets, Ipv6Loopback) {
    std::string seen;
    LoopbackPeer peer([&](SOCKET s) { seen = ReadAll(s); }, AF_INET6);
    ASSERT_NE(peer.port(), 0) << "the IPv6 loopback peer could not bind [::1]";
    SslSocketContext *c = ssl.SslOpenSocket("::1", peer.port());
    ASSERT_NE(c, nullptr) << GetLastError();
    int length = 4;
    EXPECT_EQ(ssl.SslSendDataStream(c, "ipv6", &length), 0);
    ssl.SslCloseSocket(c);
    peer.Join();
    EXPECT_EQ(seen, "ipv6");
}

namespace {

// Runs marfel_version_probe.exe with `expected` under Wine's AppDefaults version `version`; its
// exit code.
DWORD RunProbeAs(const char *version, const char *expected) {
    return suite::RunBesideSelfAs(version, "marfel_version_probe.exe", expected, 100);
}

} // namespace

TEST(SocketUtil, SecurityLibraryOfTheSystemVersion) {
    EXPECT_EQ(RunProbeAs("nt40", "Security.dll"), 0u);
    EXPECT_EQ(RunProbeAs("win95", "Secur32.dll"), 0u);
    EXPECT_EQ(RunProbeAs("win31", "1633"), 0u);
}

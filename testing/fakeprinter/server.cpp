#include "server.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <fstream>

#include "win_socket_owner.h"

namespace fakeprinter {

namespace {

void Pause(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool SendAll(SOCKET s, std::string_view bytes) {
    while (!bytes.empty()) {
        int n =
            send(s, bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 65536)), 0);
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Waits up to ms for s to become readable; false on time-out.
bool Readable(SOCKET s, unsigned ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
    return select(0, &set, nullptr, nullptr, &tv) > 0;
}

} // namespace

Server::Server(Setup setup) : engine_(std::move(setup)), listener_(INVALID_SOCKET) {}

Server::~Server() {
    Stop();
}

bool Server::Start(const std::string &address, unsigned short port) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        error_ = "WSAStartup failed";
        return false;
    }
    winsock_ = true;
    win::Socket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s) {
        error_ = "socket failed: " + std::to_string(WSAGetLastError());
        return false;
    }
    // A small receive buffer, so that a pause in reading soon stalls the sender.
    int rcvbuf = 8192;
    setsockopt(s.get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&rcvbuf),
               sizeof rcvbuf);
    // Port 9100 may be held on another loopback address, or linger from an earlier run.
    BOOL reuse = TRUE;
    setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&reuse),
               sizeof reuse);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        s.reset();
        error_ = "bad address " + address;
        return false;
    }
    if (bind(s.get(), reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        error_ = "bind failed: " + std::to_string(WSAGetLastError());
        s.reset();
        return false;
    }
    int len = sizeof sa;
    getsockname(s.get(), reinterpret_cast<sockaddr *>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    const SOCKET bound = s.release(); // Stop closes it from here on
    listener_ = bound;
    bool refuse = false;
    With([&](Engine &e) { refuse = e.defaults.refuseConnections; });
    if (refuse)
        return true; // bound, never listening: connects are refused
    if (listen(bound, 4) != 0) {
        error_ = "listen failed: " + std::to_string(WSAGetLastError());
        return false;
    }
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void Server::Stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ != INVALID_SOCKET) {
        closesocket(static_cast<SOCKET>(listener_));
        listener_ = INVALID_SOCKET;
    }
    if (winsock_) {
        WSACleanup();
        winsock_ = false;
    }
}

void Server::With(const std::function<void(Engine &)> &f) {
    std::lock_guard<std::mutex> lock(mu_);
    f(engine_);
}

std::vector<Job> Server::Jobs() {
    std::lock_guard<std::mutex> lock(mu_);
    return engine_.Jobs();
}

bool Server::WaitForJobs(std::size_t n, unsigned ms) {
    for (unsigned waited = 0; waited <= ms; waited += 10) {
        if (jobsDone_ >= n)
            return true;
        Pause(10);
    }
    return jobsDone_ >= n;
}

void Server::Run() {
    const SOCKET listener = static_cast<SOCKET>(listener_);
    while (!stop_) {
        if (!Readable(listener, 50))
            continue;
        SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            continue;
        Serve(client);
        closesocket(client);
    }
}

void Server::Serve(std::uintptr_t handle) {
    const SOCKET client = static_cast<SOCKET>(handle);
    std::string greeting;
    Faults jobFaults;
    std::size_t jobIndex = 0;
    {
        std::lock_guard<std::mutex> lock(mu_);
        greeting = engine_.BeginJob();
        jobFaults = engine_.FaultsFor({});
        jobIndex = engine_.Jobs().size() - 1;
    }
    bool open = greeting.empty() || SendAll(client, greeting);
    // A pause in reading, cut short when the server stops.
    for (unsigned paused = 0; paused < jobFaults.readPauseMs && !stop_; paused += 10)
        Pause(10);
    char buf[16384];
    while (open && !stop_) {
        if (!Readable(client, 50))
            continue;
        int n = recv(client, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        std::vector<Exchange> exchanges;
        std::vector<Faults> faults;
        {
            std::lock_guard<std::mutex> lock(mu_);
            exchanges = engine_.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
            for (const Exchange &ex : exchanges)
                faults.push_back(engine_.FaultsFor(ex.command));
        }
        for (std::size_t i = 0; i < exchanges.size() && open; ++i) {
            const std::string &reply = exchanges[i].reply;
            const Faults &f = faults[i];
            if (reply.empty())
                continue;
            if (f.closeBeforeReply) {
                open = false;
                break;
            }
            if (f.delayMs)
                Pause(f.delayMs);
            std::string_view rest = reply;
            if (f.closeInsideReply) {
                SendAll(client, rest.substr(0, rest.size() / 2));
                open = false;
                break;
            }
            if (f.pieceSize == 0) {
                open = SendAll(client, rest);
                continue;
            }
            while (!rest.empty() && open) {
                std::size_t k = std::min(f.pieceSize, rest.size());
                open = SendAll(client, rest.substr(0, k));
                rest.remove_prefix(k);
                if (!rest.empty())
                    Pause(20); // let each piece arrive as its own read
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        engine_.EndJob();
    }
    Log(jobIndex);
    ++jobsDone_;
}

void Server::Log(std::size_t jobIndex) {
    if (logPath_.empty())
        return;
    std::string bytes;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (jobIndex < engine_.Jobs().size())
            bytes = engine_.Jobs()[jobIndex].received;
    }
    std::ofstream log(logPath_, std::ios::app | std::ios::binary);
    log << "job " << (jobIndex + 1) << " (" << bytes.size() << " bytes): " << Escape(bytes) << "\n";
}

} // namespace fakeprinter

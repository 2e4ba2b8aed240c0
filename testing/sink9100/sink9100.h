// An in-process TCP peer on 127.0.0.N:9100 that plays a printer's raw port: it drains and
// records, stalls (accepts and never reads), replies with scripted bursts, or tracks how each
// connection ends. One thread serves every connection; every wait is bounded.
//
// The thread and the lock are Win32 ones: on 32-bit Wine the runtime's thread library
// (std::thread, std::mutex) crashes threads that also make Winsock calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace sink9100 {

enum class Mode {
    kDrain, // keep every byte received
    kStall, // accept and never read
    kReply, // send the scripted bursts (draining meanwhile), then optionally close
    kTrack, // drain, and after the peer's FIN probe until the peer has closed
};

struct Burst {
    std::string bytes;
    unsigned delayMs = 0; // after the accept or the previous burst
};

struct Options {
    Mode mode = Mode::kDrain;
    std::vector<Burst> reply;     // kReply
    bool closeAfterReply = false; // kReply
    bool keepBytes = true;        // false: count and checksum only
};

// What one accepted connection did.
struct Connection {
    std::string bytes;       // when keepBytes
    std::uint64_t count = 0; // bytes received
    bool finSeen = false;    // the peer sent its FIN (a receive returned 0)
    bool closeSeen = false;  // the peer's socket is gone (a send or receive was refused)
    bool closeAfterFin = false;
};

// FNV-1a, 64-bit, as the sink computes it over every byte since the last Reset.
std::uint64_t Checksum(const void *data, std::size_t length,
                       std::uint64_t seed = 14695981039346656037ull);

class Sink {
  public:
    Sink(std::string address, Options options);
    ~Sink();
    Sink(const Sink &) = delete;
    Sink &operator=(const Sink &) = delete;

    // Binds address:9100 and starts serving; false with a message when it cannot.
    bool Start(std::string *error);
    void Stop();

    int Accepted() const;
    Connection Record(int index) const; // the index-th accepted connection
    std::string Received() const;       // every kept byte, in connection order
    std::uint64_t Count() const;        // bytes received since the last Reset
    std::uint64_t Sum() const;          // checksum of those bytes
    void Reset();                       // forget the count, the checksum and the kept bytes

    // Polls until the sink has received at least count bytes; false after timeoutMs.
    bool WaitForCount(std::uint64_t count, unsigned timeoutMs) const;
    bool WaitForAccepted(int connections, unsigned timeoutMs) const;
    bool WaitForClose(int index, unsigned timeoutMs) const;

  private:
    struct Peer;
    void Serve();
    void ServePeer(Peer &peer, std::uint32_t now);

    std::string address_;
    Options options_;
    static unsigned long __stdcall ServeThread(void *sink);

    std::uintptr_t listener_;
    void *thread_ = nullptr; // HANDLE
    void *lock_ = nullptr;   // CRITICAL_SECTION, allocated
    std::atomic<bool> stop_{false};
    std::vector<Connection> records_;
    std::uint64_t count_ = 0;
    std::uint64_t sum_ = 14695981039346656037ull;
};

} // namespace sink9100

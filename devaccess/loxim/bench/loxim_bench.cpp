// Throughput of loxim's synchronous write (code 8) over a TCP/IP device, block by block, beside
// dorvik's own single-step write and a plain socket send of the same blocks.
//
//   loxim_bench [--total BYTES] [--host 127.0.0.N] [--check] [--socat 127.0.0.A FILE]
//   build/win32/wine-run build/win32/tests/loxim_bench.exe
//   devaccess/loxim/bench/loxim_bench.sh               (to a socat sink in another process)
//
// Each row sends --total bytes (default 16 MiB) in blocks of 1, 4, 16 or 64 KiB over a
// connection of its own, to the in-process sink on --host:9100, or with --socat to a `socat -u
// TCP-LISTEN:9100,bind=127.0.0.A,fork OPEN:FILE,append` listener started by the script, whose
// file receives the rows one after the other. A row's time runs from its first call, once
// connected, until the sink holds every byte. Prints bytes, seconds, MB/s (10^6 bytes a second),
// calls and µs a call, and whether the sink's count and checksum match. With --check the exit
// code is 1 when a row does not match; the figures themselves are never judged.
#include <winsock2.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dorvik.h"
#include "loxim.h"
#include "sink9100.h"

namespace {

using Clock = std::chrono::steady_clock;
using Io = int32_t(__stdcall *)(uint32_t, uint32_t, void *);

constexpr std::size_t kBlocks[] = {1024, 4096, 16384, 65536};

struct Settings {
    std::size_t total = 16u << 20;
    std::string host = "127.0.0.38";
    bool check = false;
    std::string socatHost, socatFile; // a sink in another process
};

struct Row {
    std::string name;
    std::size_t block;
    double seconds;
    long long calls;
    bool match;
};

bool ParseSize(const char *text, std::size_t *out) {
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (!end || *end || v == 0 || v > 0x7fffffffull)
        return false;
    *out = static_cast<std::size_t>(v);
    return true;
}

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    unsigned x = 54321;
    for (char &c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

std::string BinFolder() {
    const char *bin = std::getenv("SUITE_BIN_DIR");
    return bin ? bin : ".";
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The sink of every row: in this process, or the file a socat listener appends each
// connection to. Rows run one after the other, so the file holds them in order.
class Target {
  public:
    explicit Target(const Settings &s) : settings_(s), sink_(s.host, Options()) {}

    bool Start(std::string *error) {
        if (!settings_.socatHost.empty())
            return true;
        return sink_.Start(error);
    }
    const std::string &Host() const {
        return settings_.socatHost.empty() ? settings_.host : settings_.socatHost;
    }
    void BeginRow() {
        if (settings_.socatHost.empty())
            sink_.Reset();
    }
    // Waits (bounded) until the row's bytes have all arrived; true when they have.
    bool Arrived(const std::string &data) {
        if (settings_.socatHost.empty())
            return sink_.WaitForCount(data.size(), 120000);
        const unsigned long long want = filled_ + data.size();
        for (int polls = 0; polls < 600000; ++polls) {
            WIN32_FILE_ATTRIBUTE_DATA a;
            if (GetFileAttributesExA(settings_.socatFile.c_str(), GetFileExInfoStandard, &a) &&
                ((static_cast<unsigned long long>(a.nFileSizeHigh) << 32) | a.nFileSizeLow) >=
                    want) {
                filled_ = want;
                return true;
            }
            Sleep(polls < 1000 ? 0 : 1);
        }
        return false;
    }
    // The in-process sink checks each row; the file is checked once, after the last row.
    bool RowMatches(const std::string &data) {
        expectedSum_ = sink9100::Checksum(data.data(), data.size(), expectedSum_);
        if (!settings_.socatHost.empty())
            return true;
        return sink_.Count() == data.size() &&
               sink_.Sum() == sink9100::Checksum(data.data(), data.size());
    }
    bool FileMatches() const {
        if (settings_.socatHost.empty())
            return true;
        std::FILE *f = std::fopen(settings_.socatFile.c_str(), "rb");
        if (!f)
            return false;
        std::uint64_t sum = sink9100::Checksum(nullptr, 0);
        unsigned long long count = 0;
        std::vector<char> chunk(1 << 20);
        std::size_t n;
        while ((n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) {
            sum = sink9100::Checksum(chunk.data(), n, sum);
            count += n;
        }
        std::fclose(f);
        return count == filled_ && sum == expectedSum_;
    }
    void Stop() {
        if (settings_.socatHost.empty())
            sink_.Stop();
    }

  private:
    static sink9100::Options Options() {
        sink9100::Options o;
        o.keepBytes = false;
        return o;
    }
    const Settings &settings_;
    sink9100::Sink sink_;
    unsigned long long filled_ = 0;
    std::uint64_t expectedSum_ = sink9100::Checksum(nullptr, 0);
};

// ---- the three ways of sending ----

// Each sets *start once its connection is up.
bool SocketRow(const std::string &host, const std::string &data, std::size_t block,
               long long *calls, Clock::time_point *start) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(9100);
    peer.sin_addr.s_addr = inet_addr(host.c_str());
    bool ok = connect(s, reinterpret_cast<sockaddr *>(&peer), sizeof peer) == 0;
    *start = Clock::now();
    for (std::size_t at = 0; ok && at < data.size();) {
        const int n =
            send(s, data.data() + at, static_cast<int>(std::min(block, data.size() - at)), 0);
        ++*calls;
        ok = n > 0;
        if (ok)
            at += static_cast<std::size_t>(n);
    }
    closesocket(s);
    return ok;
}

struct Dorvik {
    HMODULE dll = nullptr;
    Quv9100_OpenFn Open = nullptr;
    Quv9100_CloseFn Close = nullptr;
    Quv9100_WriteFn Write = nullptr;
};

struct ConnectWait {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    int status = 0;
    ~ConnectWait() { CloseHandle(done); }
    static void QUV9100_CALL Callback(Raw9100Event *event, void *user) {
        auto *self = static_cast<ConnectWait *>(user);
        if (!event->cancel) {
            self->status = event->status;
            SetEvent(self->done);
        }
    }
};

// dorvik's single step, one block a call (a call that sends less is repeated for the rest, and
// counted).
bool DorvikRow(const Dorvik &d, const std::string &host, const std::string &data, std::size_t block,
               long long *calls, Clock::time_point *start) {
    ConnectWait connect;
    if (d.Open(host.c_str(), &ConnectWait::Callback, &connect) != 0)
        return false;
    bool ok = WaitForSingleObject(connect.done, 30000) == WAIT_OBJECT_0 &&
              connect.status == QUV9100_CONNECTED;
    *start = Clock::now();
    // A step whose socket is not ready sends nothing; 10 s without progress ends the row.
    DWORD progress = GetTickCount();
    for (std::size_t at = 0; ok && at < data.size();) {
        int length = static_cast<int>(std::min(block, data.size() - at));
        const int status = d.Write(host.c_str(), data.data() + at, &length, nullptr, nullptr);
        ++*calls;
        ok = status >= 0 && length >= 0 && (length > 0 || GetTickCount() - progress < 10000);
        if (length > 0) {
            at += static_cast<std::size_t>(length);
            progress = GetTickCount();
        }
    }
    d.Close(host.c_str());
    return ok;
}

// loxim's code 8 on a TCP/IP device, one block a call.
bool LoximRow(Io io, const std::string &host, const std::string &data, std::size_t block,
              long long *calls, Clock::time_point *start) {
    uint32_t handle = 0;
    OpenDeviceBlock open{nullptr, host.c_str(), &handle, nullptr, 0, nullptr, nullptr, nullptr};
    if (io(LOXIM_OPEN, LOXIM_TYPE_TCPIP, &open) != LOXIM_OK)
        return false;
    bool ok = io(LOXIM_NET_CONNECT, handle, nullptr) == LOXIM_OK;
    // Connected once the send result is known (-101 until then).
    uint32_t done = 0, sent = 0;
    SendResultBlock result{nullptr, &done, 0, &sent};
    for (int i = 0; ok && i < 3000 && io(LOXIM_SEND_RESULT, handle, &result) != LOXIM_OK; ++i)
        Sleep(10);
    *start = Clock::now();
    for (std::size_t at = 0; ok && at < data.size();) {
        const uint32_t length = static_cast<uint32_t>(std::min(block, data.size() - at));
        uint32_t written = 0;
        WriteBlock write{data.data() + at, length, &written, 10000};
        ok = io(LOXIM_WRITE, handle, &write) == LOXIM_OK && written == length;
        ++*calls;
        at += length;
    }
    io(LOXIM_NET_DISCONNECT, handle, nullptr);
    ok = io(LOXIM_CLOSE, handle, nullptr) == LOXIM_OK && ok;
    return ok;
}

// The loader's registry folder: the shipped network library in the bin folder.
void SetLoaderFolder(const std::string &folder) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Dranvel\\Common", 0, nullptr, 0, KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(folder.c_str()),
                   static_cast<DWORD>(folder.size() + 1));
    RegCloseKey(key);
}

} // namespace

int main(int argc, char **argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--total" && i + 1 < argc && ParseSize(argv[i + 1], &settings.total)) {
            ++i;
        } else if (arg == "--host" && i + 1 < argc && std::strncmp(argv[i + 1], "127.", 4) == 0) {
            settings.host = argv[++i];
        } else if (arg == "--check") {
            settings.check = true;
        } else if (arg == "--socat" && i + 2 < argc && std::strncmp(argv[i + 1], "127.", 4) == 0) {
            settings.socatHost = argv[i + 1];
            settings.socatFile = argv[i + 2];
            i += 2;
        } else {
            std::fprintf(stderr, "usage: loxim_bench [--total BYTES] [--host 127.0.0.N] [--check] "
                                 "[--socat 127.0.0.A FILE]\n(sizes 1 to 2147483647; hosts must be "
                                 "loopback addresses)\n");
            return 2;
        }
    }

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        std::fprintf(stderr, "loxim_bench: Winsock did not start\n");
        return 1;
    }
    const std::string bin = BinFolder();
    SetLoaderFolder(bin);
    HMODULE loxim = LoadLibraryA((bin + "\\loxim.dll").c_str());
    Io io =
        loxim ? reinterpret_cast<Io>(reinterpret_cast<void *>(GetProcAddress(loxim, "DeviceIO_IF")))
              : nullptr;
    Dorvik d;
    d.dll = LoadLibraryA((bin + "\\dorvik.dll").c_str());
    if (d.dll) {
        d.Open = reinterpret_cast<Quv9100_OpenFn>(
            reinterpret_cast<void *>(GetProcAddress(d.dll, "Quv9100_Open")));
        d.Close = reinterpret_cast<Quv9100_CloseFn>(
            reinterpret_cast<void *>(GetProcAddress(d.dll, "Quv9100_Close")));
        d.Write = reinterpret_cast<Quv9100_WriteFn>(
            reinterpret_cast<void *>(GetProcAddress(d.dll, "Quv9100_Write")));
    }
    if (!io || !d.Open || !d.Close || !d.Write) {
        std::fprintf(stderr, "loxim_bench: cannot load loxim.dll and dorvik.dll from %s\n",
                     bin.c_str());
        return 1;
    }

    Target target(settings);
    std::string error;
    if (!target.Start(&error)) {
        std::fprintf(stderr, "loxim_bench: %s\n", error.c_str());
        return 1;
    }
    const std::string data = Pattern(settings.total);
    std::printf("loxim code 8 throughput, %d-bit, %zu bytes a row, sink %s:9100%s\n\n",
                static_cast<int>(sizeof(void *) * 8), data.size(), target.Host().c_str(),
                settings.socatHost.empty() ? "" : " (socat)");

    std::vector<Row> rows;
    for (std::size_t block : kBlocks) {
        for (int way = 0; way < 3; ++way) {
            target.BeginRow();
            long long calls = 0;
            Clock::time_point start = Clock::now();
            bool ok = false;
            const char *name = "";
            switch (way) {
            case 0:
                name = "socket send";
                ok = SocketRow(target.Host(), data, block, &calls, &start);
                break;
            case 1:
                name = "dorvik single step";
                ok = DorvikRow(d, target.Host(), data, block, &calls, &start);
                break;
            default:
                name = "loxim code 8";
                ok = LoximRow(io, target.Host(), data, block, &calls, &start);
                break;
            }
            ok = target.Arrived(data) && ok;
            const double seconds = SecondsSince(start);
            ok = target.RowMatches(data) && ok;
            rows.push_back({name, block, seconds, calls, ok});
        }
    }
    const bool fileOk = target.FileMatches();

    std::printf("%-20s %7s %10s %9s %9s %9s %9s  %s\n", "row", "block", "bytes", "seconds", "MB/s",
                "calls", "us/call", "sink count+checksum");
    bool all = fileOk;
    double loxim4k = 0, loxim64k = 0;
    for (const Row &r : rows) {
        const double mbps = r.seconds > 0 ? static_cast<double>(data.size()) / r.seconds / 1e6 : 0;
        const double perCall = r.calls > 0 ? r.seconds * 1e6 / static_cast<double>(r.calls) : 0;
        std::printf("%-20s %7zu %10zu %9.3f %9.2f %9lld %9.1f  %s\n", r.name.c_str(), r.block,
                    data.size(), r.seconds, mbps, r.calls, perCall, r.match ? "match" : "MISMATCH");
        if (r.name == "loxim code 8" && r.block == 4096)
            loxim4k = mbps;
        if (r.name == "loxim code 8" && r.block == 65536)
            loxim64k = mbps;
        all = all && r.match;
    }
    if (!settings.socatHost.empty())
        std::printf("socat file, every row in order: %s\n", fileOk ? "match" : "MISMATCH");
    if (loxim64k > 0)
        std::printf("loxim 4 KiB / 64 KiB throughput: %.2f\n", loxim4k / loxim64k);
    target.Stop();
    FreeLibrary(d.dll);
    FreeLibrary(loxim);
    WSACleanup();
    return settings.check && !all ? 1 : 0;
}

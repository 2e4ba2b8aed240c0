// Throughput of dorvik beside a plain socket copy to the same in-process draining sink.
//
//   dorvik_bench [--buffer BYTES] [--file BYTES] [--host 127.0.0.N] [--check]
//                [--socat-plain 127.0.0.A FILE --socat-step 127.0.0.B FILE]
//   build/win64/wine-run build/win64/tests/dorvik_bench.exe      (or win32)
//   devaccess/dorvik/bench/dorvik_bench.sh [win64|win32]          (with the socat rows)
//
// The socat rows send the buffer to a sink in another process: `socat -u
// TCP-LISTEN:9100,bind=127.0.0.A OPEN:FILE`, one listener per row, started by the script; a
// row ends when FILE holds every byte, and its checksum is read back from FILE.
//
// Prints one row per way of sending: bytes, seconds, MB/s (10^6 bytes a second), the reports or
// calls it took, and whether the sink's count and checksum match what was sent. With --check
// the exit code is 1 when any row does not match (the figures themselves are never judged).
#include <winsock2.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dorvik.h"
#include "sink9100.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
    std::size_t bufferSize = 64u << 20;
    std::size_t fileSize = 4u << 20;
    std::string host = "127.0.0.40";
    bool check = false;
    // Sinks in another process: host and the file it writes (Windows path), one per row.
    std::string socatPlainHost, socatPlainFile, socatStepHost, socatStepFile;
};

struct Api {
    HMODULE dll = nullptr;
    Quv9100_OpenFn Open = nullptr;
    Quv9100_CloseFn Close = nullptr;
    Quv9100_WriteFn Write = nullptr;
    Quv9100_WriteFileFn WriteFile = nullptr;
};

// Counts reports; signals the final one. The callback runs on dorvik's threads, which the
// runtime's thread library did not start, so only Win32 primitives are used here.
struct Waiter {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    volatile LONG reports = 0;
    int status = 0;

    ~Waiter() { CloseHandle(done); }
    static void QUV9100_CALL Callback(Raw9100Event *event, void *user) {
        auto *self = static_cast<Waiter *>(user);
        InterlockedIncrement(&self->reports);
        if (!event->cancel) {
            self->status = event->status;
            SetEvent(self->done);
        }
    }
    bool Wait(unsigned ms) { return WaitForSingleObject(done, ms) == WAIT_OBJECT_0; }
};

struct Row {
    const char *name;
    std::size_t bytes;
    double seconds;
    long long count; // reports or calls
    const char *countKind;
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
    unsigned x = 12345;
    for (char &c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

// The deliverables' folder: SUITE_BIN_DIR when set (wine-run sets it), else the program's own.
std::string Folder() {
    if (const char *bin = std::getenv("SUITE_BIN_DIR"))
        return std::string(bin) + "\\";
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    const std::size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

// Waits for the sink to hold bytes bytes and compares its checksum with data's.
bool SinkMatches(const sink9100::Sink &sink, const std::string &data) {
    sink.WaitForCount(data.size(), 120000);
    return sink.Count() == data.size() &&
           sink.Sum() == sink9100::Checksum(data.data(), data.size());
}

SOCKET PlainConnect(const std::string &host) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(9100);
    peer.sin_addr.s_addr = inet_addr(host.c_str());
    if (s != INVALID_SOCKET && connect(s, reinterpret_cast<sockaddr *>(&peer), sizeof peer) != 0) {
        closesocket(s);
        s = INVALID_SOCKET;
    }
    return s;
}

bool SendAll(SOCKET s, const char *data, std::size_t length, long long *calls) {
    while (length > 0) {
        const int n = send(s, data, static_cast<int>(std::min<std::size_t>(length, 1u << 30)), 0);
        ++*calls;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Waits until the file written by a sink in another process holds size bytes (bounded), then
// compares its checksum with data's.
bool FileSinkFilled(const std::string &path, std::size_t size) {
    for (int polls = 0; polls < 600000; ++polls) {
        WIN32_FILE_ATTRIBUTE_DATA a;
        if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a) &&
            ((static_cast<unsigned long long>(a.nFileSizeHigh) << 32) | a.nFileSizeLow) >= size)
            return true;
        Sleep(polls < 1000 ? 0 : 1);
    }
    return false;
}

bool FileSinkMatches(const std::string &path, const std::string &data) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::uint64_t sum = sink9100::Checksum(nullptr, 0);
    std::size_t count = 0;
    std::vector<char> chunk(1 << 20);
    std::size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) {
        sum = sink9100::Checksum(chunk.data(), n, sum);
        count += n;
    }
    std::fclose(f);
    return count == data.size() && sum == sink9100::Checksum(data.data(), data.size());
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool OpenSession(const Api &api, const std::string &host) {
    Waiter connect;
    if (api.Open(host.c_str(), &Waiter::Callback, &connect) != 0)
        return false;
    if (!connect.Wait(30000) || connect.status != QUV9100_CONNECTED) {
        api.Close(host.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--buffer" && hasValue && ParseSize(argv[i + 1], &settings.bufferSize)) {
            ++i;
        } else if (arg == "--file" && hasValue && ParseSize(argv[i + 1], &settings.fileSize)) {
            ++i;
        } else if (arg == "--host" && hasValue && std::strncmp(argv[i + 1], "127.", 4) == 0) {
            settings.host = argv[++i];
        } else if (arg == "--check") {
            settings.check = true;
        } else if ((arg == "--socat-plain" || arg == "--socat-step") && i + 2 < argc &&
                   std::strncmp(argv[i + 1], "127.", 4) == 0) {
            (arg == "--socat-plain" ? settings.socatPlainHost : settings.socatStepHost) =
                argv[i + 1];
            (arg == "--socat-plain" ? settings.socatPlainFile : settings.socatStepFile) =
                argv[i + 2];
            i += 2;
        } else {
            std::fprintf(
                stderr,
                "usage: dorvik_bench [--buffer BYTES] [--file BYTES] [--host 127.0.0.N] "
                "[--check]\n    [--socat-plain 127.0.0.A FILE --socat-step 127.0.0.B FILE]\n"
                "(sizes 1 to 2147483647; the hosts must be loopback addresses)\n");
            return 2;
        }
    }

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        std::fprintf(stderr, "dorvik_bench: Winsock did not start\n");
        return 1;
    }
    Api api;
    const std::string dllPath = Folder() + "dorvik.dll";
    api.dll = LoadLibraryA(dllPath.c_str());
    if (!api.dll) {
        std::fprintf(stderr, "dorvik_bench: cannot load %s (%lu)\n", dllPath.c_str(),
                     GetLastError());
        return 1;
    }
    auto bind = [&](const char *name) {
        return reinterpret_cast<void *>(GetProcAddress(api.dll, name));
    };
    api.Open = reinterpret_cast<Quv9100_OpenFn>(bind("Quv9100_Open"));
    api.Close = reinterpret_cast<Quv9100_CloseFn>(bind("Quv9100_Close"));
    api.Write = reinterpret_cast<Quv9100_WriteFn>(bind("Quv9100_Write"));
    api.WriteFile = reinterpret_cast<Quv9100_WriteFileFn>(bind("Quv9100_WriteFile"));
    if (!api.Open || !api.Close || !api.Write || !api.WriteFile) {
        std::fprintf(stderr, "dorvik_bench: %s lacks an export\n", dllPath.c_str());
        return 1;
    }

    sink9100::Options options;
    options.keepBytes = false;
    sink9100::Sink sink(settings.host, options);
    std::string error;
    if (!sink.Start(&error)) {
        std::fprintf(stderr, "dorvik_bench: %s\n", error.c_str());
        return 1;
    }

    const std::string buffer = Pattern(settings.bufferSize);
    const std::string fileBytes = Pattern(settings.fileSize);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string filePath =
        std::string(temp) + "dorvik_bench_" + std::to_string(GetCurrentProcessId()) + ".bin";
    {
        std::FILE *f = std::fopen(filePath.c_str(), "wb");
        if (!f || std::fwrite(fileBytes.data(), 1, fileBytes.size(), f) != fileBytes.size()) {
            std::fprintf(stderr, "dorvik_bench: cannot write %s\n", filePath.c_str());
            return 1;
        }
        std::fclose(f);
    }

    int sndbuf = 0;
    {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        int len = sizeof sndbuf;
        getsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char *>(&sndbuf), &len);
        closesocket(s);
    }
    std::printf("dorvik throughput, %d-bit, SO_SNDBUF %d, sink %s:9100\n",
                static_cast<int>(sizeof(void *) * 8), sndbuf, settings.host.c_str());
    std::printf("(an asynchronous job steps every 100 ms: one chunk of SO_SNDBUF bytes a step for "
                "files)\n\n");

    std::vector<Row> rows;
    const char *h = settings.host.c_str();

    { // plain socket copy of the buffer
        sink.Reset();
        long long calls = 0;
        const Clock::time_point start = Clock::now();
        SOCKET s = PlainConnect(settings.host);
        bool ok = s != INVALID_SOCKET && SendAll(s, buffer.data(), buffer.size(), &calls);
        ok = SinkMatches(sink, buffer) && ok;
        rows.push_back(
            {"socket copy, buffer", buffer.size(), SecondsSince(start), calls, "sends", ok});
        if (s != INVALID_SOCKET)
            closesocket(s);
    }
    { // plain socket copy of the file, 64 KiB reads
        sink.Reset();
        long long calls = 0;
        const Clock::time_point start = Clock::now();
        SOCKET s = PlainConnect(settings.host);
        std::FILE *f = std::fopen(filePath.c_str(), "rb");
        bool ok = s != INVALID_SOCKET && f;
        std::vector<char> chunk(65536);
        while (ok) {
            const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), f);
            if (n == 0)
                break;
            ok = SendAll(s, chunk.data(), n, &calls);
        }
        if (f)
            std::fclose(f);
        ok = SinkMatches(sink, fileBytes) && ok;
        rows.push_back(
            {"socket copy, file", fileBytes.size(), SecondsSince(start), calls, "sends", ok});
        if (s != INVALID_SOCKET)
            closesocket(s);
    }
    const bool opened = OpenSession(api, settings.host);
    if (!opened)
        std::fprintf(stderr, "dorvik_bench: Quv9100_Open did not connect to %s\n", h);
    if (opened) { // asynchronous Quv9100_Write
        sink.Reset();
        Waiter job;
        int length = static_cast<int>(buffer.size());
        const Clock::time_point start = Clock::now();
        bool ok = api.Write(h, buffer.data(), &length, &Waiter::Callback, &job) == 0 &&
                  job.Wait(600000) && job.status == QUV9100_WRITE_COMPLETE;
        ok = SinkMatches(sink, buffer) && ok;
        rows.push_back({"Quv9100_Write, asynchronous", buffer.size(), SecondsSince(start),
                        job.reports, "reports", ok});
    }
    if (opened) { // single-step Quv9100_Write
        sink.Reset();
        long long calls = 0;
        std::size_t sent = 0;
        int status = 0;
        const Clock::time_point start = Clock::now();
        while (sent < buffer.size() && status >= 0) {
            int length = static_cast<int>(buffer.size() - sent);
            status = api.Write(h, buffer.data() + sent, &length, nullptr, nullptr);
            ++calls;
            sent += static_cast<std::size_t>(length > 0 ? length : 0);
        }
        const bool ok = SinkMatches(sink, buffer) && status == QUV9100_WRITE_COMPLETE;
        rows.push_back(
            {"Quv9100_Write, single step", buffer.size(), SecondsSince(start), calls, "calls", ok});
    }
    if (opened) { // asynchronous Quv9100_WriteFile
        sink.Reset();
        Waiter job;
        const Clock::time_point start = Clock::now();
        bool ok = api.WriteFile(h, filePath.c_str(), &Waiter::Callback, &job) == 0 &&
                  job.Wait(3600000) && job.status == QUV9100_WRITE_COMPLETE;
        ok = SinkMatches(sink, fileBytes) && ok;
        rows.push_back({"Quv9100_WriteFile, asynchronous", fileBytes.size(), SecondsSince(start),
                        job.reports, "reports", ok});
    }
    if (opened) { // single-step Quv9100_WriteFile
        sink.Reset();
        long long calls = 0;
        int status = 0;
        const Clock::time_point start = Clock::now();
        while (status == 0 && calls < 100000000) {
            status = api.WriteFile(h, filePath.c_str(), nullptr, nullptr);
            ++calls;
        }
        const bool ok = SinkMatches(sink, fileBytes) && status == QUV9100_WRITE_COMPLETE;
        rows.push_back({"Quv9100_WriteFile, single step", fileBytes.size(), SecondsSince(start),
                        calls, "calls", ok});
        api.Close(h);
    }
    std::remove(filePath.c_str());

    // The same buffer to sinks in another process: a plain send loop, then single steps.
    std::size_t expectedRows = 6;
    if (!settings.socatPlainHost.empty()) {
        ++expectedRows;
        long long calls = 0;
        const Clock::time_point start = Clock::now();
        SOCKET s = PlainConnect(settings.socatPlainHost);
        bool ok = s != INVALID_SOCKET && SendAll(s, buffer.data(), buffer.size(), &calls);
        ok = ok && FileSinkFilled(settings.socatPlainFile, buffer.size());
        const double seconds = SecondsSince(start);
        if (s != INVALID_SOCKET)
            closesocket(s);
        ok = ok && FileSinkMatches(settings.socatPlainFile, buffer);
        rows.push_back({"socket copy, buffer, socat", buffer.size(), seconds, calls, "sends", ok});
    }
    if (!settings.socatStepHost.empty()) {
        ++expectedRows;
        const char *sh = settings.socatStepHost.c_str();
        long long calls = 0;
        bool ok = OpenSession(api, settings.socatStepHost);
        std::size_t sent = 0;
        int status = 0;
        const Clock::time_point start = Clock::now();
        while (ok && sent < buffer.size() && status >= 0) {
            int length = static_cast<int>(buffer.size() - sent);
            status = api.Write(sh, buffer.data() + sent, &length, nullptr, nullptr);
            ++calls;
            sent += static_cast<std::size_t>(length > 0 ? length : 0);
        }
        ok = ok && status == QUV9100_WRITE_COMPLETE &&
             FileSinkFilled(settings.socatStepFile, buffer.size());
        const double seconds = SecondsSince(start);
        api.Close(sh);
        ok = ok && FileSinkMatches(settings.socatStepFile, buffer);
        rows.push_back(
            {"Quv9100_Write, single step, socat", buffer.size(), seconds, calls, "calls", ok});
    }

    std::printf("%-34s %12s %9s %10s %16s  %s\n", "row", "bytes", "seconds", "MB/s",
                "reports/calls", "sink count+checksum");
    bool all = rows.size() == expectedRows;
    for (const Row &r : rows) {
        const double mbps = r.seconds > 0 ? static_cast<double>(r.bytes) / r.seconds / 1e6 : 0;
        std::printf("%-34s %12zu %9.3f %10.2f %8lld %-7s  %s\n", r.name, r.bytes, r.seconds, mbps,
                    r.count, r.countKind, r.match ? "match" : "MISMATCH");
        all = all && r.match;
    }
    sink.Stop();
    FreeLibrary(api.dll);
    WSACleanup();
    return settings.check && !all ? 1 : 0;
}

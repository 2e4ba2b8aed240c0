// Speed of a send: a message with an N MiB attachment, composed and sent by quenta's session
// to a sink that answers like a server and drains DATA, beside a plain socket copy of the same
// rendered bytes.
//
//   mail_bench [--mib N] [--check] [--tls-port PORT --tls-file FILE]
//   build/win64/wine-run build/win64/tests/mail_bench.exe          (plain SMTP only)
//   mail/bench/mail_bench.sh [MiB]                                  (adds STARTTLS)
//
// The plain rows use a sink in this process on 127.0.0.1. The STARTTLS row needs a TLS server:
// the script starts mail/bench/tls_sink.py, puts its CA into the prefix's Root store through
// QUENTA_BENCH_CA, and names its port and the file it writes the DATA into. Every row's bytes
// are compared with the rendered message; with --check the exit code is 1 when one differs
// (the figures themselves are never judged). The bench writes the SMTP settings of the
// prefix's registry and puts back what was there.
#include <winsock2.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "library_folder.h"
#include "mail_error.h"
#include "mail_message.h"
#include "message_text.h"
#include "smtp.h"
#include "smtp_protocol.h"
#include "suite_test_ca.h"

namespace {

using Clock = std::chrono::steady_clock;

const char *const kKeyPath = "Software\\Dranvel\\Common\\SMTP";

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    unsigned x = 2463534242u;
    for (char &c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

// The deliverables' folder: SUITE_BIN_DIR when set (wine-run sets it), else the program's own.
std::string Folder() {
    if (const char *bin = std::getenv("SUITE_BIN_DIR"))
        return bin;
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    const std::size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : s.substr(0, slash);
}

// The SMTP settings as they were, put back when the bench ends.
class SavedSettings {
  public:
    SavedSettings() {
        HKEY key = nullptr;
        m_existed = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, &key) == ERROR_SUCCESS;
        for (Value &v : m_values) {
            DWORD size = 0;
            if (m_existed &&
                RegQueryValueExA(key, v.name, nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
                v.data.resize(size);
                v.present = RegQueryValueExA(key, v.name, nullptr, &v.type, v.data.data(), &size) ==
                            ERROR_SUCCESS;
            }
        }
        if (key)
            RegCloseKey(key);
    }
    ~SavedSettings() {
        if (!m_existed) {
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath);
            return;
        }
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            return;
        for (const Value &v : m_values) {
            if (v.present)
                RegSetValueExA(key, v.name, 0, v.type, v.data.data(),
                               static_cast<DWORD>(v.data.size()));
            else
                RegDeleteValueA(key, v.name);
        }
        RegCloseKey(key);
    }
    static void Write(const char *server, DWORD port, DWORD timeout) {
        HKEY key = nullptr;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr);
        RegSetValueExA(key, "Server", 0, REG_SZ, reinterpret_cast<const BYTE *>(server),
                       static_cast<DWORD>(std::strlen(server) + 1));
        RegSetValueExA(key, "Port", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&port),
                       sizeof port);
        RegSetValueExA(key, "Timeout", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&timeout),
                       sizeof timeout);
        RegCloseKey(key);
    }

  private:
    struct Value {
        const char *name;
        bool present = false;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    bool m_existed = false;
    Value m_values[3] = {
        {"Server", false, 0, {}}, {"Port", false, 0, {}}, {"Timeout", false, 0, {}}};
};

// A sink on 127.0.0.1 for one connection at a time. As a server it greets, answers every
// command, and keeps the DATA up to and with its end mark; as a plain sink it keeps every byte
// until the peer closes. Runs on a Win32 thread; every wait is bounded.
class Sink {
  public:
    bool Start(std::string *error) {
        m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (m_listener == INVALID_SOCKET ||
            bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            listen(m_listener, 4) != 0 ||
            getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            *error =
                "the sink cannot listen on 127.0.0.1 (" + std::to_string(WSAGetLastError()) + ")";
            return false;
        }
        m_port = ntohs(address.sin_port);
        return true;
    }
    ~Sink() {
        if (m_listener != INVALID_SOCKET)
            closesocket(m_listener);
    }
    int Port() const { return m_port; }
    // Room for bytes bytes, touched now so that no row pays for fresh memory.
    void Prepare(std::size_t bytes) {
        m_bytes.resize(bytes);
        m_bytes.clear();
    }

    // Serves one connection on a thread of its own; Finish waits for it.
    void Serve(bool asServer) {
        m_asServer = asServer;
        m_bytes.clear();
        m_thread = CreateThread(nullptr, 0, &Sink::Thread, this, 0, nullptr);
    }
    bool Finish() {
        const bool ended = m_thread && WaitForSingleObject(m_thread, 600000) == WAIT_OBJECT_0;
        if (m_thread)
            CloseHandle(m_thread);
        m_thread = nullptr;
        return ended && m_ok;
    }
    const std::string &Bytes() const { return m_bytes; }

  private:
    static DWORD WINAPI Thread(void *self) {
        auto *sink = static_cast<Sink *>(self);
        sink->m_ok = sink->Run();
        return 0;
    }
    bool Wait(SOCKET s) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval wait{60, 0};
        return select(0, &set, nullptr, nullptr, &wait) == 1;
    }
    bool Run() {
        if (!Wait(m_listener))
            return false;
        const SOCKET s = accept(m_listener, nullptr, nullptr);
        if (s == INVALID_SOCKET)
            return false;
        const bool ok = m_asServer ? Converse(s) : Drain(s);
        closesocket(s);
        return ok;
    }
    bool Drain(SOCKET s) {
        std::vector<char> chunk(1 << 20);
        for (;;) {
            if (!Wait(s))
                return false;
            const int n = recv(s, chunk.data(), static_cast<int>(chunk.size()), 0);
            if (n <= 0)
                return n == 0;
            m_bytes.append(chunk.data(), static_cast<std::size_t>(n));
        }
    }
    bool Reply(SOCKET s, const char *text) {
        return send(s, text, static_cast<int>(std::strlen(text)), 0) ==
               static_cast<int>(std::strlen(text));
    }
    bool Converse(SOCKET s) {
        if (!Reply(s, "220 bench ready\r\n"))
            return false;
        std::string pending;
        std::vector<char> chunk(1 << 20);
        bool inData = false;
        for (;;) {
            if (inData) {
                const std::size_t end = pending.find("\r\n.\r\n");
                if (end == std::string::npos) {
                    // Keep all but the last four bytes, which may begin the end mark.
                    if (pending.size() > 4) {
                        m_bytes.append(pending, 0, pending.size() - 4);
                        pending.erase(0, pending.size() - 4);
                    }
                } else {
                    m_bytes.append(pending, 0, end + 5);
                    pending.erase(0, end + 5);
                    inData = false;
                    if (!Reply(s, "250 queued\r\n"))
                        return false;
                    continue;
                }
            } else if (const std::size_t lf = pending.find("\r\n"); lf != std::string::npos) {
                const std::string verb = pending.substr(0, std::min<std::size_t>(4, lf));
                pending.erase(0, lf + 2);
                if (verb == "DATA") {
                    inData = true;
                    if (!Reply(s, "354 go ahead\r\n"))
                        return false;
                    // The body may begin with the end mark's own CR LF.
                    pending.insert(0, "\r\n");
                    m_bytes.clear();
                    continue;
                }
                if (verb == "QUIT")
                    return Reply(s, "221 bye\r\n");
                if (!Reply(s, "250 ok\r\n"))
                    return false;
                continue;
            }
            if (!Wait(s))
                return false;
            const int n = recv(s, chunk.data(), static_cast<int>(chunk.size()), 0);
            if (n <= 0)
                return false;
            pending.append(chunk.data(), static_cast<std::size_t>(n));
        }
    }

    SOCKET m_listener = INVALID_SOCKET;
    int m_port = 0;
    bool m_asServer = true;
    HANDLE m_thread = nullptr;
    volatile bool m_ok = false;
    std::string m_bytes;
};

// The DATA as a line-by-line sender would have put it: CR LF first (the sink's own), every
// stuffed line, then the empty line and the end mark.
std::string ExpectedData(const std::string &text) {
    std::string out = "\r\n";
    for (std::string_view line : SplitCrlfLines(text))
        out += StuffDataLine(line);
    return out + "\r\n.\r\n";
}

// The rendered text with the Date line the server received.
std::string RenderedWithDateOf(const CMailMessage &message, const std::string &received) {
    const std::size_t at = received.find("Date: ");
    const std::size_t end = at == std::string::npos ? at : received.find("\r\n", at);
    if (end == std::string::npos)
        return std::string();
    return RenderMessageText(message, received.substr(at, end - at));
}

bool ReadWholeFile(const std::string &path, std::string *out) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    out->clear();
    std::vector<char> chunk(1 << 20);
    std::size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0)
        out->append(chunk.data(), n);
    std::fclose(f);
    return true;
}

struct Row {
    const char *name;
    std::size_t bytes;
    double seconds;
    bool match;
};

} // namespace

int main(int argc, char **argv) {
    std::size_t mib = 8;
    bool check = false;
    int tlsPort = 0;
    std::string tlsFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--mib" && hasValue) {
            mib = std::strtoul(argv[++i], nullptr, 10);
        } else if (arg == "--check") {
            check = true;
        } else if (arg == "--tls-port" && hasValue) {
            tlsPort = std::atoi(argv[++i]);
        } else if (arg == "--tls-file" && hasValue) {
            tlsFile = argv[++i];
        } else {
            mib = 0;
            break;
        }
    }
    if (mib == 0 || mib > 256 || (tlsPort != 0) != !tlsFile.empty() || tlsPort < 0 ||
        tlsPort > 65535) {
        std::fprintf(
            stderr,
            "usage: mail_bench [--mib 1..256] [--check] [--tls-port PORT --tls-file FILE]\n");
        return 2;
    }
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        std::fprintf(stderr, "mail_bench: Winsock did not start\n");
        return 1;
    }
    const std::string bin = Folder();
    quenta::SetLibraryFolderForTesting(std::wstring(bin.begin(), bin.end()).c_str());
    if (tlsPort) {
        std::string why;
        if (!suite::InstallTestCa("QUENTA_BENCH_CA", &why)) {
            std::fprintf(stderr, "mail_bench: %s\n", why.c_str());
            return 1;
        }
    }

    // The attachment, in the temporary folder.
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string path =
        std::string(temp) + "mail_bench_" + std::to_string(GetCurrentProcessId()) + ".exe";
    {
        const std::string bytes = Pattern(mib << 20);
        std::FILE *f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            std::fprintf(stderr, "mail_bench: cannot write %s\n", path.c_str());
            return 1;
        }
        std::fclose(f);
    }

    std::vector<Row> rows;
    CMailMessage message(kCharsetUS);
    Clock::time_point start = Clock::now();
    const int composed = CatchMailError([&] {
        message.AddItem("from@bench.test", "Bench", kItemFrom);
        message.AddItem("to@bench.test", "Sink", kItemTo);
        message.AddItem("", "An attachment", kItemSubject);
        message.AddBodyString("The attachment follows.\r\n", kBodyReplace | kBodyMakePart);
        message.AddContent(path.c_str(), "bench.exe");
    });
    const double composeSeconds = SecondsSince(start);
    std::remove(path.c_str());
    if (composed != 0) {
        std::fprintf(stderr, "mail_bench: the message was not composed (%d)\n", composed);
        return 1;
    }
    const std::size_t rendered =
        RenderMessageText(message, "Date: Thu,  1 Jan 25 00:00:00 +0000").size();
    rows.push_back({"compose (AddContent)", mib << 20, composeSeconds, true});
    SavedSettings saved;
    Sink sink;
    std::string error;
    if (!sink.Start(&error)) {
        std::fprintf(stderr, "mail_bench: %s\n", error.c_str());
        return 1;
    }
    sink.Prepare(rendered + (1u << 20));
    CSMTP smtp;
    auto sendOnce = [&](const char *server, int port, int options, int *code) {
        SavedSettings::Write(server, static_cast<DWORD>(port), 60);
        smtp.SetAuthOptions(options, nullptr, nullptr);
        const Clock::time_point begin = Clock::now();
        *code = CatchMailError([&] {
            smtp.ConnectServer();
            smtp.SendMailTransaction(&message);
        });
        smtp.CloseServer();
        return SecondsSince(begin);
    };

    std::string text; // the rendered bytes as the plain send carried them
    {                 // plain SMTP to the in-process sink
        sink.Serve(true);
        int code = 0;
        const double seconds = sendOnce("127.0.0.1", sink.Port(), 0, &code);
        const bool served = sink.Finish();
        text = RenderedWithDateOf(message, sink.Bytes());
        const bool match =
            code == 0 && served && !text.empty() && sink.Bytes() == ExpectedData(text);
        if (code)
            std::fprintf(stderr, "mail_bench: the plain send failed with %d\n", code);
        rows.push_back({"Send, plain SMTP", rendered, seconds, match});
    }
    if (tlsPort) { // STARTTLS to the TLS sink of the script
        int code = 0;
        const double seconds = sendOnce("localhost", tlsPort, kSmtpStartTls, &code);
        std::string received;
        const bool read = ReadWholeFile(tlsFile, &received);
        const std::string tlsText = RenderedWithDateOf(message, received);
        const bool match =
            code == 0 && read && !tlsText.empty() && received == ExpectedData(tlsText);
        if (code)
            std::fprintf(stderr, "mail_bench: the STARTTLS send failed with %d\n", code);
        rows.push_back({"Send, STARTTLS", rendered, seconds, match});
    }
    { // one plain socket copy of the bytes the plain send put after DATA
        const std::string bytes = text.empty() ? std::string() : ExpectedData(text).substr(2);
        sink.Serve(false);
        const Clock::time_point begin = Clock::now();
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(sink.Port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = s != INVALID_SOCKET &&
                  connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        for (std::size_t sent = 0; ok && sent < bytes.size();) {
            const int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
            ok = n > 0;
            sent += ok ? static_cast<std::size_t>(n) : 0;
        }
        if (s != INVALID_SOCKET)
            closesocket(s);
        ok = sink.Finish() && ok;
        const double seconds = SecondsSince(begin);
        rows.push_back({"socket copy of the DATA bytes", bytes.size(), seconds,
                        ok && !bytes.empty() && sink.Bytes() == bytes});
    }
    quenta::SetLibraryFolderForTesting(nullptr);

    std::printf("quenta send, one %zu MiB attachment, %zu bytes after DATA\n", mib, rendered);
    std::printf("%-32s %12s %9s %10s  %s\n", "row", "bytes", "seconds", "MB/s",
                "bytes at the sink");
    bool all = true;
    for (const Row &r : rows) {
        const double mbps = r.seconds > 0 ? static_cast<double>(r.bytes) / r.seconds / 1e6 : 0;
        std::printf("%-32s %12zu %9.3f %10.2f  %s\n", r.name, r.bytes, r.seconds, mbps,
                    r.match ? "match" : "MISMATCH");
        all = all && r.match;
    }
    WSACleanup();
    return check && !all ? 1 : 0;
}

// The port API stand-in's discovery calls under Wine, against in-process agents bound to
// 127.0.0.201 and up, and a private snmpd (with-snmpd.sh) on 127.0.0.1.
#include "corvane.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "snmp_agent.h"
#include "suite_paths.h"

using namespace snmpagent;

namespace {

using Clock = std::chrono::steady_clock;
using Found = std::pair<std::string, std::string>; // port, name

struct Recorder {
    std::mutex mu;
    std::vector<Found> found;
    int nulls = 0;
    int afterNull = 0;
    Clock::time_point start = Clock::now();
    double nullAtMs = -1;
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE closeFromCallback = nullptr;
    BOOL closeResult = TRUE;
    DWORD closeError = 0;
    ~Recorder() { CloseHandle(done); }

    static void CALLBACK Callback(HANDLE h, const DiscoveredPrinter *p, void *ctx) {
        auto *r = static_cast<Recorder *>(ctx);
        if (r->closeFromCallback == reinterpret_cast<HANDLE>(1)) {
            r->closeResult = QuvClosePrinterDiscovery(h);
            r->closeError = GetLastError();
            r->closeFromCallback = nullptr;
        }
        std::lock_guard<std::mutex> lock(r->mu);
        if (r->nulls > 0)
            ++r->afterNull;
        if (p) {
            r->found.emplace_back(p->port, p->name);
        } else {
            ++r->nulls;
            r->nullAtMs =
                std::chrono::duration<double, std::milli>(Clock::now() - r->start).count();
            SetEvent(r->done);
        }
    }
    bool Wait(DWORD ms) { return WaitForSingleObject(done, ms) == WAIT_OBJECT_0; }
    std::vector<Found> Sorted() {
        std::lock_guard<std::mutex> lock(mu);
        auto v = found;
        std::sort(v.begin(), v.end());
        return v;
    }
};

Bytes NameAnswer(const Datagram &d, const std::string &name, int32_t idDelta = 0) {
    return Response(d.community, d.requestId + idDelta,
                    VarBindList({VarBind("1.3.6.1.2.1.1.1.0", Str("descr of " + name)),
                                 VarBind("1.3.6.1.2.1.1.5.0", Str(name))}));
}

Script Names(const std::string &name, int delayMs = 0) {
    return [name, delayMs](const Datagram &d) -> std::vector<Reply> {
        if (!d.parsed)
            return {};
        return {Reply{NameAnswer(d, name), delayMs}};
    };
}

std::string Multi(std::initializer_list<std::string> items) {
    std::string out;
    for (const std::string &s : items) {
        out += s;
        out.push_back('\0');
    }
    out.push_back('\0');
    return out;
}

std::string At(const Agent &a, const char *address) {
    return std::string(address) + ":" + std::to_string(a.Port());
}

void SetEnv(const char *name, const std::string &value) {
    SetEnvironmentVariableA(name, value.c_str());
}
void ClearEnv(const char *name) {
    SetEnvironmentVariableA(name, nullptr);
}

std::string LogPath(const char *name) {
    return suite::TestDataDir() + "\\" + name;
}
std::vector<std::string> LogLines(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

int ThreadCount() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 e{};
    e.dwSize = sizeof e;
    int n = 0;
    for (BOOL ok = Thread32First(snap, &e); ok; ok = Thread32Next(snap, &e))
        if (e.th32OwnerProcessID == GetCurrentProcessId())
            ++n;
    CloseHandle(snap);
    return n;
}

class Discovery : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    }
    static void TearDownTestSuite() { WSACleanup(); }
    void SetUp() override {
        for (const char *name :
             {"CORVANE_LOCAL_PRINTERS", "CORVANE_FAIL_DISCOVERY", "CORVANE_LOCAL_DELAY_MS",
              "CORVANE_SNMP_PORT", "CORVANE_DISCOVERY_SWEEP", "CORVANE_SNMP_COMMUNITY",
              "CORVANE_LOG"})
            ClearEnv(name);
        SetEnv("CORVANE_TIMEOUT_SCALE", "1");
    }
    HANDLE Start(DWORD kind, const std::string &targets, DWORD timeoutMs, Recorder &r) {
        const DWORD timeout[2] = {timeoutMs, 0};
        HANDLE h = nullptr;
        r.start = Clock::now();
        EXPECT_TRUE(
            QuvStartPrinterDiscovery(kind, 0, targets.data(), timeout, Recorder::Callback, &r, &h))
            << GetLastError();
        return h;
    }
};

void ExpectAgent(const Agent &a, const char *address) {
    ASSERT_TRUE(a.Ok()) << "an SNMP agent cannot bind " << address << ": error " << a.BindError();
}

} // namespace

TEST_F(Discovery, UnicastTargetsEachGiveOneRecordThenOneNull) {
    Agent a(Names("Printer A"), 0, "127.0.0.201");
    Agent b(Names("Printer B", 300), 0, "127.0.0.202");
    ExpectAgent(a, "127.0.0.201");
    ExpectAgent(b, "127.0.0.202");
    Recorder r;
    HANDLE h = Start(1, Multi({At(a, "127.0.0.201"), At(b, "127.0.0.202")}), 40000, r);
    ASSERT_TRUE(r.Wait(10000)) << "no end of search";
    EXPECT_LT(r.nullAtMs, 5000) << "the search did not end once both were settled";
    EXPECT_EQ(r.Sorted(),
              (std::vector<Found>{{"127.0.0.201", "Printer A"}, {"127.0.0.202", "Printer B"}}));
    EXPECT_TRUE(QuvClosePrinterDiscovery(h));
    Sleep(100);
    std::lock_guard<std::mutex> lock(r.mu);
    EXPECT_EQ(r.nulls, 1);
    EXPECT_EQ(r.afterNull, 0);
    EXPECT_EQ(a.ReceivedCount(), 1u);
}

TEST_F(Discovery, SweepCountsUntilTheTimeOutWithOneRecordPerAddress) {
    // .203 answers twice; .204 late.
    Agent a(
        [](const Datagram &d) -> std::vector<Reply> {
            return {Reply{NameAnswer(d, "Sweep A"), 0}, Reply{NameAnswer(d, "Sweep A again"), 100}};
        },
        0, "127.0.0.203");
    Agent b(Names("Sweep B", 400), 0, "127.0.0.204");
    ExpectAgent(a, "127.0.0.203");
    ExpectAgent(b, "127.0.0.204");
    SetEnv("CORVANE_DISCOVERY_SWEEP", At(a, "127.0.0.203") + "," + At(b, "127.0.0.204"));
    SetEnv("CORVANE_TIMEOUT_SCALE", "0.1");
    Recorder r;
    HANDLE h = Start(1, Multi({"255.255.255.255"}), 15000, r);
    ASSERT_TRUE(r.Wait(10000));
    EXPECT_NEAR(r.nullAtMs, 1500, 150);
    EXPECT_EQ(r.Sorted(),
              (std::vector<Found>{{"127.0.0.203", "Sweep A"}, {"127.0.0.204", "Sweep B"}}));
    EXPECT_TRUE(QuvClosePrinterDiscovery(h));
}

TEST_F(Discovery, DefaultSweepStaysOnLoopback) {
    Agent a(Names("Swept"), 0, "127.0.0.205");
    ExpectAgent(a, "127.0.0.205");
    const std::string log = LogPath("corvane_default_sweep.log");
    std::remove(log.c_str());
    SetEnv("CORVANE_LOG", log);
    SetEnv("CORVANE_SNMP_PORT", std::to_string(a.Port()));
    SetEnv("CORVANE_TIMEOUT_SCALE", "0.05");
    Recorder r;
    HANDLE h = Start(1, Multi({"255.255.255.255"}), 20000, r);
    ASSERT_TRUE(r.Wait(10000));
    EXPECT_TRUE(QuvClosePrinterDiscovery(h));
    // Wine delivers a datagram for any 127.0.0.N of the port to the agent, which answers
    // each id: every record is a loopback address of the sweep, once.
    const std::vector<Found> found = r.Sorted();
    EXPECT_NE(std::find(found.begin(), found.end(), Found{"127.0.0.205", "Swept"}), found.end());
    EXPECT_LE(found.size(), 254u);
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].first.rfind("127.0.0.", 0), 0u) << found[i].first;
        if (i > 0) {
            EXPECT_NE(found[i].first, found[i - 1].first);
        }
    }
    int sends = 0;
    for (const std::string &line : LogLines(log)) {
        const std::size_t at = line.find(" to=");
        if (line.rfind("discovery-send", 0) != 0 || at == std::string::npos)
            continue;
        ++sends;
        EXPECT_EQ(line.compare(at + 4, 4, "127."), 0) << line;
        EXPECT_EQ(line.find(".0:"), std::string::npos) << line;
        EXPECT_EQ(line.find(".255:"), std::string::npos) << line;
    }
    EXPECT_EQ(sends, 254);
}

TEST_F(Discovery, WrongAndHostileAnswersAreIgnored) {
    Agent a(
        [](const Datagram &d) -> std::vector<Reply> {
            Bytes big(3000, 0x41);
            big[0] = 0x30;
            big[1] = 0x82;
            big[2] = 0x0b;
            big[3] = 0xb4;
            Bytes status2 =
                Message(d.community,
                        Tlv(0xa2, Cat({Int(d.requestId), Int(2), Int(1),
                                       VarBindList({VarBind("1.3.6.1.2.1.1.5.0", Str("e"))})})));
            return {
                Reply{NameAnswer(d, "wrong id", 7), 0},
                Reply{status2, 0},
                Reply{Response(d.community, d.requestId,
                               VarBindList({VarBind("1.3.6.1.2.1.1.5.0", Int(5))})),
                      0},
                Reply{Bytes{0x30, 0x84, 0xff, 0xff, 0xff, 0xff, 0x02, 0x01}, 0},
                Reply{big, 0},
                Reply{Response("public", d.requestId,
                               VarBindList({VarBind("1.3.6.1.2.1.1.5.0", Str("other"))})),
                      0},
                Reply{NameAnswer(d, "Good\r\n%s%n"), 200},
            };
        },
        0, "127.0.0.206");
    ExpectAgent(a, "127.0.0.206");
    Recorder r;
    HANDLE h = Start(1, Multi({At(a, "127.0.0.206")}), 10000, r);
    ASSERT_TRUE(r.Wait(8000));
    EXPECT_EQ(r.Sorted(), (std::vector<Found>{{"127.0.0.206", "Good"}}));
    EXPECT_TRUE(QuvClosePrinterDiscovery(h));
}

TEST_F(Discovery, CloseMidSearchReturnsAfterTheNull) {
    Agent silent([](const Datagram &) { return std::vector<Reply>{}; }, 0, "127.0.0.207");
    ExpectAgent(silent, "127.0.0.207");
    Recorder r;
    HANDLE h = Start(1, Multi({At(silent, "127.0.0.207")}), 40000, r);
    Sleep(300);
    const auto before = Clock::now();
    EXPECT_TRUE(QuvClosePrinterDiscovery(h));
    const double closeMs = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
    EXPECT_LT(closeMs, 2000);
    {
        std::lock_guard<std::mutex> lock(r.mu);
        EXPECT_EQ(r.nulls, 1) << "Close returned before the search's end was reported";
        EXPECT_TRUE(r.found.empty());
    }
    EXPECT_FALSE(QuvClosePrinterDiscovery(h));
    EXPECT_EQ(GetLastError(), QUV_E_INVALID_HANDLE);
}

TEST_F(Discovery, LocalPortsFindMappedTargetsOnly) {
    EXPECT_FALSE(QuvIsAccessAvailable());
    EXPECT_EQ(GetLastError(), QUV_E_ACCESS_DENIED);
    SetEnv("CORVANE_LOCAL_PRINTERS", "LPT1:=Desk Laser;usb001=Label");
    EXPECT_TRUE(QuvIsAccessAvailable());
    Recorder r;
    HANDLE h = Start(0, Multi({"lpt1:", "LPT2:", "USB001", "USB002"}), 5000, r);
    ASSERT_TRUE(r.Wait(3000));
    EXPECT_EQ(r.Sorted(), (std::vector<Found>{{"USB001", "Label"}, {"lpt1:", "Desk Laser"}}));
    EXPECT_TRUE(QuvClosePrinterDiscovery(h));

    // A held search is ended by Close, after its finds.
    SetEnv("CORVANE_LOCAL_DELAY_MS", "30000");
    Recorder held;
    h = Start(0, Multi({"LPT1:"}), 60000, held);
    Sleep(200);
    EXPECT_FALSE(held.Wait(0));
    EXPECT_TRUE(QuvClosePrinterDiscovery(h));
    EXPECT_EQ(held.Sorted(), (std::vector<Found>{{"LPT1:", "Desk Laser"}}));
    EXPECT_EQ(held.nulls, 1);
}

TEST_F(Discovery, BadArgumentsAndRequestedFailures) {
    const DWORD timeout[2] = {1000, 0};
    const std::string targets = Multi({"127.0.0.1"});
    Recorder r;
    HANDLE h = reinterpret_cast<HANDLE>(0x77);
    struct Case {
        const char *what;
        DWORD kind;
        const char *targets;
        bool cb;
        HANDLE *out;
    } cases[] = {
        {"no targets", 1, nullptr, true, &h},
        {"no callback", 1, targets.data(), false, &h},
        {"no out pointer", 1, targets.data(), true, nullptr},
        {"kind 2", 2, targets.data(), true, &h},
    };
    for (const Case &c : cases) {
        h = reinterpret_cast<HANDLE>(0x77);
        EXPECT_FALSE(QuvStartPrinterDiscovery(c.kind, 0, c.targets, timeout,
                                              c.cb ? Recorder::Callback : nullptr, &r, c.out))
            << c.what;
        EXPECT_EQ(GetLastError(), QUV_E_INVALID_PARAMETER) << c.what;
        if (c.out) {
            EXPECT_EQ(h, nullptr) << c.what;
        }
    }
    // A sweep list over 254 addresses fails a broadcast search before anything is sent
    // (entries outside loopback are held only in the planner's host table).
    SetEnv("CORVANE_DISCOVERY_SWEEP", "127.0.0.1-127.0.1.10");
    const std::string broadcast = Multi({"255.255.255.255"});
    EXPECT_FALSE(
        QuvStartPrinterDiscovery(1, 0, broadcast.data(), timeout, Recorder::Callback, &r, &h));
    EXPECT_EQ(GetLastError(), QUV_E_INVALID_PARAMETER);
    ClearEnv("CORVANE_DISCOVERY_SWEEP");

    SetEnv("CORVANE_FAIL_DISCOVERY", "1");
    EXPECT_FALSE(
        QuvStartPrinterDiscovery(1, 0, targets.data(), timeout, Recorder::Callback, &r, &h));
    EXPECT_EQ(GetLastError(), QUV_E_UNSUPPORTED_PORT);
    const std::string local = Multi({"LPT1:"});
    ASSERT_TRUE(QuvStartPrinterDiscovery(0, 0, local.data(), timeout, Recorder::Callback, &r, &h));
    EXPECT_TRUE(r.Wait(3000));
    EXPECT_TRUE(QuvClosePrinterDiscovery(h));

    EXPECT_FALSE(QuvClosePrinterDiscovery(reinterpret_cast<HANDLE>(0x1234)));
    EXPECT_EQ(GetLastError(), QUV_E_INVALID_HANDLE);
    EXPECT_FALSE(QuvClosePrinterDiscovery(nullptr));
    EXPECT_EQ(GetLastError(), QUV_E_INVALID_HANDLE);

    // Close from inside the callback is refused.
    ClearEnv("CORVANE_FAIL_DISCOVERY");
    Recorder inside;
    inside.closeFromCallback = reinterpret_cast<HANDLE>(1);
    h = Start(0, local, 1000, inside);
    ASSERT_TRUE(inside.Wait(3000));
    EXPECT_FALSE(inside.closeResult);
    EXPECT_EQ(inside.closeError, QUV_E_INVALID_PARAMETER);
    EXPECT_TRUE(QuvClosePrinterDiscovery(h));
}

TEST_F(Discovery, StartCloseRoundsLeaveNoThread) {
    Agent silent([](const Datagram &) { return std::vector<Reply>{}; }, 0, "127.0.0.208");
    ExpectAgent(silent, "127.0.0.208");
    const std::string targets = Multi({At(silent, "127.0.0.208")});
    const int before = ThreadCount();
    for (int i = 0; i < 100; ++i) {
        Recorder r;
        HANDLE h = Start(1, targets, 40000, r);
        ASSERT_TRUE(QuvClosePrinterDiscovery(h)) << i;
        ASSERT_EQ(r.nulls, 1) << i;
    }
    EXPECT_LE(ThreadCount(), before);
}

TEST_F(Discovery, FindsTheRealAgent) {
    const char *port = std::getenv("TESSYN_SNMPD_PORT");
    ASSERT_TRUE(port && std::string(port) != "0")
        << "snmpd (Debian packages snmpd, snmp) did not start; run under "
           "testing/snmpagent/with-snmpd.sh";
    const std::string target = Multi({std::string("127.0.0.1:") + port});
    Recorder r;
    HANDLE h = Start(1, target, 10000, r);
    ASSERT_TRUE(r.Wait(15000));
    EXPECT_TRUE(QuvClosePrinterDiscovery(h));
    EXPECT_EQ(r.Sorted(), (std::vector<Found>{{"127.0.0.1", "tessyn-peer"}}));

    // Another community: the agent stays silent, only the end comes.
    SetEnv("CORVANE_SNMP_COMMUNITY", "public");
    SetEnv("CORVANE_TIMEOUT_SCALE", "0.1");
    Recorder quiet;
    h = Start(1, target, 10000, quiet);
    ASSERT_TRUE(quiet.Wait(5000));
    EXPECT_TRUE(QuvClosePrinterDiscovery(h));
    EXPECT_TRUE(quiet.Sorted().empty());
    EXPECT_EQ(quiet.nulls, 1);
}

// tessyn.dll against real peers on loopback: Debian's snmpd (started by with-snmpd.sh) and
// snmptrap.
#include "tessyn_fixture.h"

#include <cstdlib>
#include <string>

using namespace tessyn_test;

namespace {

const char *Env(const char *name) {
    const char *v = std::getenv(name);
    return v && *v ? v : nullptr;
}

class Peers : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(t.Load());
        handle = t.OpenPort(1, 0);
        ASSERT_GT(handle, 0);
    }
    void TearDown() override {
        if (handle > 0) {
            EXPECT_EQ(t.ClosePort(handle), 1);
        }
        t.Free();
    }

    // The snmpd port, or 0 (the test is then skipped or failed).
    uint16_t SnmpdPort() {
        const char *port = Env("TESSYN_SNMPD_PORT");
        if (!port)
            return 0;
        return static_cast<uint16_t>(std::atoi(port));
    }

    Tessyn t;
    int32_t handle = 0;
    Recorder rec;
};

// Starts a Unix program through Wine. Wine gives no process handle for it, so the caller
// waits for its effect instead.
bool StartUnix(const std::string &commandLine) {
    std::string line = commandLine;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return false;
    if (pi.hThread)
        CloseHandle(pi.hThread);
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    return true;
}

} // namespace

TEST_F(Peers, SnmpdAnswersAGetOfThreeObjects) {
    ASSERT_NE(Env("TESSYN_SNMPD_PORT"), nullptr)
        << "no snmpd beside the test: run it through with-snmpd.sh, with snmpd installed (package "
           "snmpd)";
    const uint16_t port = SnmpdPort();
    ASSERT_NE(port, 0) << "snmpd is installed but did not start";
    SnmpVarBind vbs[] = {
        {"1.3.6.1.2.1.1.1.0", 5, 0, nullptr},
        {"1.3.6.1.2.1.1.3.0", 5, 0, nullptr},
        {"1.3.6.1.2.1.1.2.0", 5, 0, nullptr},
    };
    SnmpMessageDesc d{};
    d.host = "127.0.0.1";
    d.port = port;
    d.pduType = 0xA0;
    d.timeouts[0] = 1000;
    d.timeouts[1] = 1000;
    d.varBindCount = 3;
    d.varBinds = vbs;
    d.responseProc = &Recorder::OnResponse;
    d.responseContext = &rec;
    ASSERT_EQ(t.Post(handle, &d), 0);
    ASSERT_TRUE(rec.WaitFor(1, 5000));
    Call c = rec.Calls()[0];
    ASSERT_FALSE(c.null);
    EXPECT_EQ(c.pduType, 0xA2);
    EXPECT_EQ(c.community, "tavmor");
    EXPECT_EQ(c.errorStatus, 0);
    EXPECT_EQ(c.port, port);
    ASSERT_EQ(c.binds.size(), 3u);
    EXPECT_EQ(c.binds[0].oid, "1.3.6.1.2.1.1.1.0");
    EXPECT_EQ(c.binds[0].type, 4);
    EXPECT_EQ(c.binds[0].Text(), Env("TESSYN_SNMPD_DESCR"));
    EXPECT_EQ(c.binds[1].type, 0x43);
    EXPECT_EQ(c.binds[1].length, 4);
    EXPECT_EQ(c.binds[2].type, 6);
    EXPECT_EQ(c.binds[2].Text().rfind("1.3.6.1.4.1.", 0), 0u) << c.binds[2].Text();

    // A wrong community gets no answer: the request ends with NULL.
    d.community = "wrongone";
    d.timeouts[0] = 300;
    d.timeouts[1] = 300;
    ASSERT_EQ(t.Post(handle, &d), 0);
    ASSERT_TRUE(rec.WaitFor(2, 5000));
    EXPECT_TRUE(rec.Calls()[1].null);
}

TEST_F(Peers, SnmptrapTrapArrivesWithEveryField) {
    const char *snmptrap = Env("TESSYN_SNMPTRAP");
    ASSERT_NE(snmptrap, nullptr) << "snmptrap is not installed (package snmp)";
    ASSERT_EQ(t.SetTrap(handle, &Recorder::OnTrap, &rec), 0);
    const std::string to = "127.0.0.1:" + std::to_string(HandlePort(handle));

    // An SNMPv2 trap (0xA7) carries an id that is not pending: dropped.
    ASSERT_TRUE(StartUnix(std::string(snmptrap) + " -v 2c -c tavmor " + to +
                          " 0 1.3.6.1.4.1.7341 1.3.6.1.2.1.1.5.0 s v2"));
    ASSERT_TRUE(
        StartUnix(std::string(snmptrap) + " -v 1 -c tavmor " + to +
                  " 1.3.6.1.4.1.7341 127.0.0.1 6 17 12345 1.3.6.1.2.1.1.5.0 s name"
                  " 1.3.6.1.2.1.2.2.1.10.1 c 4000000000 1.3.6.1.2.1.4.20.1.1.1 a 10.1.2.3"));
    ASSERT_TRUE(rec.WaitFor(1, 30000)) << "no trap from snmptrap";
    Sleep(500);
    auto calls = rec.Calls();
    ASSERT_EQ(calls.size(), 1u);
    const Call &c = calls[0];
    ASSERT_FALSE(c.null);
    EXPECT_EQ(c.reserved, 0);
    EXPECT_EQ(c.community, "tavmor");
    EXPECT_EQ(c.enterprise, "1.3.6.1.4.1.7341");
    EXPECT_EQ(c.agent, "127.0.0.1");
    EXPECT_EQ(c.genericTrap, 6);
    EXPECT_EQ(c.specificTrap, 17);
    EXPECT_EQ(c.timeStamp, 12345u);
    ASSERT_EQ(c.binds.size(), 3u);
    EXPECT_EQ(c.binds[0].oid, "1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(c.binds[0].type, 4);
    EXPECT_EQ(c.binds[0].Text(), "name");
    EXPECT_EQ(c.binds[1].oid, "1.3.6.1.2.1.2.2.1.10.1");
    EXPECT_EQ(c.binds[1].type, 0x41);
    EXPECT_EQ(c.binds[1].U32(), 4000000000u);
    EXPECT_EQ(c.binds[2].oid, "1.3.6.1.2.1.4.20.1.1.1");
    EXPECT_EQ(c.binds[2].type, 0x40);
    EXPECT_EQ(c.binds[2].value, (std::vector<uint8_t>{10, 1, 2, 3}));
}

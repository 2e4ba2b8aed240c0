// tessyn.dll under Wine against the in-process agent: handles, resends, exactly-once delivery,
// broadcast, traps, hostile datagrams, closing, leaks and unloading.
#include "tessyn_fixture.h"

#include "snmp_agent.h"

#include <cstdlib>
#include <memory>

using namespace tessyn_test;
using namespace snmpagent;

namespace {

class Port : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(t.Load()) << "tessyn.dll: error " << GetLastError();
        handle = t.OpenPort(1, 0);
        ASSERT_GT(handle, 0);
    }
    void TearDown() override {
        if (handle > 0) {
            EXPECT_EQ(t.ClosePort(handle), 1);
        }
        t.Free();
    }

    Tessyn t;
    int32_t handle = 0;
    Recorder rec;
};

Script Silent() {
    return [](const Datagram &) { return std::vector<Reply>{}; };
}

Script Echoes(int count = 1, int delayMs = 0) {
    return [=](const Datagram &d) {
        std::vector<Reply> r;
        for (int i = 0; i < count; ++i)
            r.push_back({Echo(d), delayMs});
        return r;
    };
}

const uint8_t kAgentAddr[4] = {10, 9, 9, 9};

// The agent needs Winsock whether or not tessyn.dll is loaded.
struct WinsockUp {
    WinsockUp() {
        WSADATA wsa;
        WSAStartup(MAKEWORD(1, 1), &wsa);
    }
    ~WinsockUp() { WSACleanup(); }
} g_winsock;

// A loopback port where nothing answers.
constexpr uint16_t kNobody = 9;

} // namespace

TEST_F(Port, HandleIsKindAndBoundPortWord) {
    EXPECT_EQ(handle >> 16, 1);
    Agent agent(Echoes());
    ASSERT_TRUE(agent.Ok());
    GetDesc g("127.0.0.1", agent.Port(), {2000}, &rec);
    ASSERT_EQ(t.Post(handle, &g.d), 0);
    ASSERT_TRUE(rec.WaitFor(1, 3000));
    auto got = agent.Received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].senderPort, HandlePort(handle))
        << "low word is the bound port in network order";
}

TEST_F(Port, RefusedKindsUnknownHandlesAndClosingTwice) {
    // IPX ports cannot be opened under Wine; kinds with no positive handle are refused.
    for (int32_t kind : {2, 0x8000, -1})
        EXPECT_EQ(t.OpenPort(kind, 0), TESSYN_E_SOCKET) << kind;
    EXPECT_EQ(t.OpenPort(1, 70000), TESSYN_E_SOCKET);

    GetDesc g("127.0.0.1", kNobody, {500}, &rec);
    const int32_t unknown = 0x1FFFF;
    EXPECT_EQ(t.Post(unknown, &g.d), TESSYN_E_HANDLE);
    EXPECT_EQ(t.SetTrap(unknown, &Recorder::OnTrap, &rec), TESSYN_E_HANDLE);
    EXPECT_EQ(t.ClosePort(unknown), TESSYN_E_HANDLE);
    EXPECT_EQ(t.ClosePort(handle), 1);
    EXPECT_EQ(t.ClosePort(handle), TESSYN_E_HANDLE);
    EXPECT_EQ(t.Post(handle, &g.d), TESSYN_E_HANDLE);
    handle = t.OpenPort(1, 0);
    ASSERT_GT(handle, 0);
}

TEST_F(Port, DescriptorErrors) {
    EXPECT_EQ(t.Post(handle, nullptr), TESSYN_E_MEMORY);
    struct Case {
        const char *name;
        void (*edit)(GetDesc &);
        int rc;
    };
    const Case cases[] = {
        {"negative count", [](GetDesc &g) { g.d.varBindCount = -1; }, TESSYN_E_MEMORY},
        {"no bindings", [](GetDesc &g) { g.d.varBinds = nullptr; }, TESSYN_E_MEMORY},
        {"first timeout 0", [](GetDesc &g) { g.d.timeouts[0] = 0; }, TESSYN_E_MEMORY},
        {"negative timeout", [](GetDesc &g) { g.d.timeouts[1] = -5; }, TESSYN_E_MEMORY},
        {"no host", [](GetDesc &g) { g.d.host = nullptr; }, TESSYN_E_HOST},
        {"empty host", [](GetDesc &g) { g.d.host = ""; }, TESSYN_E_HOST},
        {"bad ipx", [](GetDesc &g) { g.d.host = "0000000a:00A0C9123456"; }, TESSYN_E_IPX},
        {"bad oid", [](GetDesc &g) { g.vb.oid = "1.3.x"; }, TESSYN_E_OID},
        {"no oid", [](GetDesc &g) { g.vb.oid = nullptr; }, TESSYN_E_OID},
        {"unknown type", [](GetDesc &g) { g.vb.type = 0x44; }, TESSYN_E_VALUE},
        {"integer without value", [](GetDesc &g) { g.vb.type = 2; }, TESSYN_E_VALUE},
    };
    for (const Case &c : cases) {
        GetDesc g("127.0.0.1", 9, {500}, &rec);
        c.edit(g);
        EXPECT_EQ(t.Post(handle, &g.d), c.rc) << c.name;
    }
    Sleep(100);
    EXPECT_EQ(rec.Count(), 0u) << "a refused post has no call";
}

TEST_F(Port, HostNameGoesThroughTheResolver) {
    Agent agent(Echoes());
    ASSERT_TRUE(agent.Ok());
    GetDesc g("localhost", agent.Port(), {2000}, &rec);
    ASSERT_EQ(t.Post(handle, &g.d), 0);
    ASSERT_TRUE(rec.WaitFor(1, 3000));
    EXPECT_FALSE(rec.Calls()[0].null);
}

// 127.0.0.1:161, the default port, may be taken for a moment by another test on this machine:
// the agent tries for up to 10 s, then the test fails naming the holder that with-snmpd.sh
// found (Debian's snmpd service, say, which scripts/setup keeps from running).
TEST_F(Port, DefaultPortAndCommunity) {
    std::unique_ptr<Agent> agent;
    for (int i = 0; i < 20; ++i) {
        agent = std::make_unique<Agent>(Echoes(), 161);
        if (agent->Ok())
            break;
        agent.reset();
        Sleep(500);
    }
    if (!agent) {
        const char *holder = std::getenv("TESSYN_PORT161_HOLDER");
        FAIL() << "127.0.0.1:161 cannot be bound: it is taken by "
               << (holder && *holder ? holder
                                     : "another program (none held it when the test began)");
    }
    GetDesc g("127.0.0.1", 0, {2000}, &rec);
    ASSERT_EQ(t.Post(handle, &g.d), 0);
    ASSERT_TRUE(rec.WaitFor(1, 3000));
    auto got = agent->Received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].community, "tavmor");
    EXPECT_EQ(got[0].pduTag, 0xA0);
    EXPECT_EQ(got[0].version, 0);
}

TEST_F(Port, ResendsOnTheTimeoutSchedule) {
    struct Case {
        std::initializer_list<int32_t> timeouts;
        std::vector<double> sends; // ms after the first
        double nullAt;
    };
    const Case cases[] = {
        {{500, 500}, {0, 500}, 1000},
        {{200, 200, 200, 200}, {0, 200, 400, 600}, 800},
    };
    for (const Case &c : cases) {
        Agent agent(Silent());
        ASSERT_TRUE(agent.Ok());
        Recorder r;
        GetDesc g("127.0.0.1", agent.Port(), c.timeouts, &r);
        ASSERT_EQ(t.Post(handle, &g.d), 0);
        ASSERT_TRUE(r.WaitFor(1, 5000));
        double nullAt = r.Calls()[0].atMs;
        Sleep(300);
        auto calls = r.Calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_TRUE(calls[0].null);
        EXPECT_NEAR(nullAt, c.nullAt, 150);
        auto got = agent.Received();
        ASSERT_EQ(got.size(), c.sends.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i].atMs - got[0].atMs, c.sends[i], 150) << "send " << i;
            EXPECT_EQ(got[i].bytes, got[0].bytes) << "a resend repeats the same bytes";
        }
    }
}

TEST_F(Port, UnicastDeliversExactlyOnce) {
    std::string big(2990, 'x');
    struct Case {
        const char *name;
        Script script;
        std::initializer_list<int32_t> timeouts;
        bool answered;
    };
    const Case cases[] = {
        {"two answers", Echoes(2), {1000}, true},
        {"late answer", Echoes(1, 500), {200}, false},
        {"wrong id",
         [](const Datagram &d) { return std::vector<Reply>{{Echo(d, 1)}}; },
         {300},
         false},
        {"3000 bytes, then the answer",
         [&](const Datagram &d) {
             Bytes huge =
                 Response(d.community, d.requestId, VarBindList({VarBind("1.3.6.1", Str(big))}));
             return std::vector<Reply>{{huge}, {Echo(d), 50}};
         },
         {1000},
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Agent agent(c.script);
        ASSERT_TRUE(agent.Ok());
        Recorder r;
        GetDesc g("127.0.0.1", agent.Port(), c.timeouts, &r);
        ASSERT_EQ(t.Post(handle, &g.d), 0);
        ASSERT_TRUE(r.WaitFor(1, 3000));
        Sleep(700); // room for a second call
        auto calls = r.Calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(!calls[0].null, c.answered);
        if (c.answered) {
            auto got = agent.Received();
            ASSERT_FALSE(got.empty());
            EXPECT_EQ(calls[0].host, "127.0.0.1");
            EXPECT_EQ(calls[0].port, agent.Port());
            EXPECT_EQ(calls[0].pduType, 0xA2);
            EXPECT_EQ(calls[0].version, 0);
            EXPECT_EQ(calls[0].community, "tavmor");
            EXPECT_EQ(calls[0].requestId, got[0].requestId);
            ASSERT_EQ(calls[0].binds.size(), 1u);
            EXPECT_EQ(calls[0].binds[0].oid, "1.3.6.1.2.1.1.1.0");
            EXPECT_EQ(calls[0].binds[0].type, 5);
            EXPECT_TRUE(calls[0].binds[0].valueNull);
        }
    }
}

TEST_F(Port, RequestIdsAdvanceAndValuesArrive) {
    Agent agent([](const Datagram &d) {
        Bytes list = VarBindList({VarBind("1.3.6.1.2.1.1.1.0", Str("Laser one")),
                                  VarBind("1.3.6.1.2.1.1.3.0", Unsigned(0x43, 4242)),
                                  VarBind("1.3.6.1.2.1.1.2.0", Oid("1.3.6.1.4.1.7341")),
                                  VarBind("1.3.6.1.2.1.2.1.0", Int(-3)),
                                  VarBind("1.3.6.1.2.1.4.20.1.1", Str("\x0a\x01\x02\x03", 0x40))});
        return std::vector<Reply>{{Response(d.community, d.requestId, list)}};
    });
    ASSERT_TRUE(agent.Ok());
    for (int i = 0; i < 3; ++i) {
        GetDesc g("127.0.0.1", agent.Port(), {2000}, &rec);
        ASSERT_EQ(t.Post(handle, &g.d), 0);
        ASSERT_TRUE(rec.WaitFor(static_cast<size_t>(i + 1), 3000));
    }
    auto got = agent.Received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].requestId, 1);
    EXPECT_EQ(got[1].requestId, 2);
    EXPECT_EQ(got[2].requestId, 3);
    auto c = rec.Calls()[2];
    ASSERT_EQ(c.binds.size(), 5u);
    EXPECT_EQ(c.binds[0].Text(), "Laser one");
    EXPECT_EQ(c.binds[0].length, 9);
    EXPECT_EQ(c.binds[1].U32(), 4242u);
    EXPECT_EQ(c.binds[2].Text(), "1.3.6.1.4.1.7341");
    EXPECT_EQ(static_cast<int32_t>(c.binds[3].U32()), -3);
    EXPECT_EQ(c.binds[4].length, 4);
    EXPECT_EQ(c.binds[4].value, (std::vector<uint8_t>{10, 1, 2, 3}));
}

TEST_F(Port, BroadcastDeliversEveryAnswerThenNull) {
    // An address with a byte 255 is a broadcast to tessyn; the agent listens on it itself.
    Agent agent(Echoes(2), 0, "127.0.255.1");
    ASSERT_TRUE(agent.Ok()) << "cannot bind 127.0.255.1: error " << agent.BindError();
    GetDesc g("127.0.255.1", agent.Port(), {600}, &rec);
    ASSERT_EQ(t.Post(handle, &g.d), 0);
    ASSERT_TRUE(rec.WaitFor(3, 3000));
    Sleep(300);
    auto calls = rec.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_FALSE(calls[0].null);
    EXPECT_FALSE(calls[1].null);
    EXPECT_TRUE(calls[2].null);
    EXPECT_EQ(agent.ReceivedCount(), 1u);
}

TEST_F(Port, TrapsReachTheTrapProcedure) {
    Agent agent(Silent());
    ASSERT_TRUE(agent.Ok());
    const uint16_t port = HandlePort(handle);
    Bytes binds = VarBindList({VarBind("1.3.6.1.2.1.1.5.0", Str("name")),
                               VarBind("1.3.6.1.2.1.2.2.1.10.1", Unsigned(0x41, 4000000000u)),
                               VarBind("1.3.6.1.2.1.4.20.1.1.1", Str("\x0a\x01\x02\x03", 0x40))});
    Bytes full = Trap("tavmor", "1.3.6.1.4.1.7341", kAgentAddr, 6, 17, 12345, binds);

    // No procedure: nothing.
    agent.SendTo(port, full);
    Sleep(200);
    EXPECT_EQ(rec.Count(), 0u);

    ASSERT_EQ(t.SetTrap(handle, &Recorder::OnTrap, &rec), 0);
    agent.SendTo(port, full);
    ASSERT_TRUE(rec.WaitFor(1, 3000));
    Call c = rec.Calls()[0];
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
    EXPECT_EQ(c.binds[0].Text(), "name");
    EXPECT_EQ(c.binds[1].type, 0x41);
    EXPECT_EQ(c.binds[1].U32(), 4000000000u);
    EXPECT_EQ(c.binds[2].type, 0x40);
    EXPECT_EQ(c.binds[2].value, (std::vector<uint8_t>{10, 1, 2, 3}));

    // Four elements: a NULL call.
    Bytes four = Message(
        "tavmor", Tlv(0xA4, Cat({Oid("1.3.6.1.4.1.7341"),
                                 Tlv(0x40, Bytes(kAgentAddr, kAgentAddr + 4)), Int(6), Int(17)})));
    agent.SendTo(port, four);
    ASSERT_TRUE(rec.WaitFor(2, 3000));
    EXPECT_TRUE(rec.Calls()[1].null);

    // Cleared: no more calls.
    ASSERT_EQ(t.SetTrap(handle, nullptr, nullptr), 0);
    agent.SendTo(port, full);
    Sleep(300);
    EXPECT_EQ(rec.Count(), 2u);
}

TEST_F(Port, Trap2WithAPendingIdArrivesAsAResponse) {
    Agent agent([](const Datagram &d) {
        Bytes list = VarBindList({VarBind("1.3.6.1.2.1.1.3.0", Unsigned(0x43, 7))});
        return std::vector<Reply>{{Response(d.community, d.requestId, list, 0xA7)}};
    });
    ASSERT_TRUE(agent.Ok());
    Recorder traps;
    ASSERT_EQ(t.SetTrap(handle, &Recorder::OnTrap, &traps), 0);
    GetDesc g("127.0.0.1", agent.Port(), {2000}, &rec);
    ASSERT_EQ(t.Post(handle, &g.d), 0);
    ASSERT_TRUE(rec.WaitFor(1, 3000));
    auto c = rec.Calls()[0];
    ASSERT_FALSE(c.null);
    EXPECT_EQ(c.pduType, 0xA7);
    EXPECT_EQ(traps.Count(), 0u);
}

TEST_F(Port, HostileDatagramsAreDroppedAndThePortAnswers) {
    std::vector<Bytes (*)(const Datagram &)> hostile = {
        [](const Datagram &) { return Bytes{}; },
        [](const Datagram &) { return Bytes{0x30}; },
        [](const Datagram &d) {
            return Response(d.community, d.requestId,
                            VarBindList({VarBind("1.3.6.1", Bytes{0x06, 0x00})}));
        },
        [](const Datagram &d) {
            return Response(d.community, d.requestId,
                            VarBindList({VarBind("1.3.6.1", Bytes{0x06, 0x02, 0x2B, 0x81})}));
        },
        [](const Datagram &d) {
            return Response(
                d.community, d.requestId,
                VarBindList({VarBind("1.3.6.1", Bytes{0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF})}));
        },
        [](const Datagram &d) {
            return Response(d.community, d.requestId,
                            VarBindList({VarBind("1.3.6.1", Bytes{0x04, 0x80, 0, 0})}));
        },
        [](const Datagram &d) {
            return Response(d.community, d.requestId,
                            VarBindList({VarBind("1.3.6.1", Bytes{0x9F, 0x01, 0})}));
        },
        [](const Datagram &d) {
            return Message(d.community, Int(d.requestId));
        }, // INTEGER as the PDU
        [](const Datagram &d) {
            Bytes b = Echo(d);
            b.resize(b.size() - 3);
            return b;
        },
        [](const Datagram &) {
            Bytes b;
            for (int k = 0; k < 40; ++k)
                b = Tlv(0x30, b);
            return b;
        },
    };
    Agent agent([&](const Datagram &d) {
        std::vector<Reply> r;
        for (auto make : hostile)
            r.push_back({make(d)});
        r.push_back({Echo(d), 30});
        return r;
    });
    ASSERT_TRUE(agent.Ok());
    for (int round = 0; round < 2; ++round) {
        GetDesc g("127.0.0.1", agent.Port(), {2000}, &rec);
        ASSERT_EQ(t.Post(handle, &g.d), 0);
        ASSERT_TRUE(rec.WaitFor(static_cast<size_t>(round + 1), 3000));
        EXPECT_FALSE(rec.Calls()[static_cast<size_t>(round)].null)
            << "the good answer after the hostile ones";
    }
    // A matched answer that cannot become a response info ends its request with NULL.
    agent.SetScript([](const Datagram &d) {
        return std::vector<Reply>{
            {Response(d.community, d.requestId, VarBindList({Tlv(0x30, Oid("1.3.6.1"))}))},
            {Echo(d), 30}};
    });
    GetDesc g("127.0.0.1", agent.Port(), {2000}, &rec);
    ASSERT_EQ(t.Post(handle, &g.d), 0);
    ASSERT_TRUE(rec.WaitFor(3, 3000));
    Sleep(300);
    ASSERT_EQ(rec.Count(), 3u);
    EXPECT_TRUE(rec.Calls()[2].null);
}

TEST_F(Port, CloseEndsPendingRequestsWithoutCalls) {
    for (int i = 0; i < 5; ++i) {
        GetDesc g("127.0.0.1", kNobody, {5000, 5000}, &rec);
        ASSERT_EQ(t.Post(handle, &g.d), 0);
    }
    GetDesc b("127.0.255.1", kNobody, {5000}, &rec);
    ASSERT_EQ(t.Post(handle, &b.d), 0);
    Sleep(200);
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(t.ClosePort(handle), 1);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before)
                    .count();
    handle = 0;
    EXPECT_LT(ms, 1000) << "close took " << ms << " ms"; // about 200 ms expected
    Sleep(300);
    EXPECT_EQ(rec.Count(), 0u);
}

TEST_F(Port, RequestsLeaveNoHandlesBehind) {
    Agent agent(Echoes());
    ASSERT_TRUE(agent.Ok());
    auto probe = [] {
        HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        uintptr_t v = reinterpret_cast<uintptr_t>(e);
        CloseHandle(e);
        return v;
    };
    auto run = [&](int count, size_t &done) {
        for (int i = 0; i < count; ++i) {
            GetDesc g("127.0.0.1", agent.Port(), {2000}, &rec);
            ASSERT_EQ(t.Post(handle, &g.d), 0);
            ASSERT_TRUE(rec.WaitFor(++done, 3000));
        }
    };
    size_t done = 0;
    run(10, done);
    Sleep(100);
    uintptr_t baseline = probe();
    run(200, done);
    Sleep(100);
    uintptr_t after = probe();
    EXPECT_LE(after, baseline + 8 * 4) << "handles grew from " << baseline << " to " << after;
    for (const Call &c : rec.Calls())
        EXPECT_FALSE(c.null);
}

TEST(Unload, LoadOpenPostCloseFreeRounds) {
    Recorder rec;
    for (int round = 0; round < 20; ++round) {
        Tessyn t;
        ASSERT_TRUE(t.Load()) << "round " << round;
        int32_t handle = t.OpenPort(1, 0);
        ASSERT_GT(handle, 0);
        for (int i = 0; i < 50; ++i) {
            GetDesc g("127.0.0.1", kNobody, {3000}, &rec);
            ASSERT_EQ(t.Post(handle, &g.d), 0);
        }
        EXPECT_EQ(t.ClosePort(handle), 1);
        t.Free();
    }
    EXPECT_EQ(rec.Count(), 0u);
}

// The discovery rules of the port API stand-in: codec, loopback guard and planner.
#include "discovery_core.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using corvane::Answer;
using corvane::Bytes;

namespace {

// The test's own small encoder.
Bytes Tlv(uint8_t tag, const Bytes &content) {
    Bytes out{tag};
    if (content.size() < 0x80) {
        out.push_back(static_cast<uint8_t>(content.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(content.size() >> 8));
        out.push_back(static_cast<uint8_t>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes Str(const std::string &s) {
    return Tlv(0x04, Bytes(s.begin(), s.end()));
}
Bytes Int(uint8_t v) {
    return Tlv(0x02, Bytes{v});
}
const Bytes kSysName = Tlv(0x06, {0x2b, 6, 1, 2, 1, 1, 5, 0});
const Bytes kSysDescr = Tlv(0x06, {0x2b, 6, 1, 2, 1, 1, 1, 0});

Bytes Answer_(const Bytes &bindings, uint8_t id = 7, uint8_t status = 0, uint8_t tag = 0xa2,
              const std::string &community = "tavmor", uint8_t version = 0) {
    return Tlv(0x30, Cat({Int(version), Str(community),
                          Tlv(tag, Cat({Int(id), Int(status), Int(0), Tlv(0x30, bindings)}))}));
}
// What a real agent sends back for our request: sysDescr first, then sysName.
Bytes AgentAnswer() {
    return Answer_(Cat({Tlv(0x30, Cat({kSysDescr, Str("Kelvane test agent\r\nline two")})),
                        Tlv(0x30, Cat({kSysName, Str("tessyn-peer")}))}));
}

bool Decode(const Bytes &b, Answer &a, const std::string &community = "tavmor") {
    return corvane::DecodeAnswer(b.data(), b.size(), community, a);
}

uint32_t Ip(const char *text) {
    uint32_t a = 0;
    EXPECT_TRUE(corvane::ParseIPv4(text, a)) << text;
    return a;
}

} // namespace

TEST(DiscoveryCodec, RequestBytes) {
    const Bytes want = {0x30, 0x34, 0x02, 0x01, 0x00, 0x04, 0x06, 0x74, 0x61, 0x76, 0x6d,
                        0x6f, 0x72, 0xa0, 0x27, 0x02, 0x01, 0x01, 0x02, 0x01, 0x00, 0x02,
                        0x01, 0x00, 0x30, 0x1c, 0x30, 0x0c, 0x06, 0x08, 0x2b, 0x06, 0x01,
                        0x02, 0x01, 0x01, 0x05, 0x00, 0x05, 0x00, 0x30, 0x0c, 0x06, 0x08,
                        0x2b, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00, 0x05, 0x00};
    EXPECT_EQ(corvane::EncodeGetRequest(1, "tavmor"), want);
    // Ids that need more octets stay minimal and signed.
    const Bytes big = corvane::EncodeGetRequest(0x80, "c");
    EXPECT_EQ(Bytes(big.begin() + 10, big.begin() + 14), (Bytes{0x02, 0x02, 0x00, 0x80}));
}

TEST(DiscoveryCodec, AgentAnswerInAnyOrder) {
    Answer a;
    ASSERT_TRUE(Decode(AgentAnswer(), a));
    EXPECT_EQ(a.id, 7);
    EXPECT_EQ(a.sysName, "tessyn-peer");
    EXPECT_EQ(corvane::PrinterName(a, "127.0.0.9"), "tessyn-peer");
    // Long lengths are read too.
    const std::string longName(300, 'x');
    ASSERT_TRUE(Decode(Answer_(Tlv(0x30, Cat({kSysName, Str(longName)}))), a));
    EXPECT_EQ(a.sysName.size(), 300u);
    EXPECT_EQ(corvane::PrinterName(a, "x").size(), 255u);
}

TEST(DiscoveryCodec, RefusedAnswers) {
    const Bytes good = Tlv(0x30, Cat({kSysName, Str("A")}));
    struct Case {
        const char *what;
        Bytes bytes;
    } cases[] = {
        {"version 1", Answer_(good, 7, 0, 0xa2, "tavmor", 1)},
        {"other community", Answer_(good, 7, 0, 0xa2, "public")},
        {"GetRequest tag", Answer_(good, 7, 0, 0xa0)},
        {"trap tag", Answer_(good, 7, 0, 0xa4)},
        {"error-status 2", Answer_(good, 7, 2)},
        {"INTEGER value", Answer_(Tlv(0x30, Cat({kSysName, Int(5)})))},
        {"NULL value", Answer_(Tlv(0x30, Cat({kSysName, Bytes{0x05, 0x00}})))},
        {"five levels", Answer_(Tlv(0x30, Cat({kSysName, Tlv(0x30, Str("A"))})))},
        {"binding not a sequence", Answer_(Cat({kSysName, Str("A")}))},
        {"trailing bytes", Cat({Answer_(good), Bytes{0}})},
        {"empty", Bytes{}},
        {"length past the datagram", Bytes{0x30, 0x84, 0x7f, 0xff, 0xff, 0xff, 0x02}},
        {"five length octets", Bytes{0x30, 0x85, 0, 0, 0, 0, 3}},
    };
    for (const Case &c : cases) {
        Answer a;
        EXPECT_FALSE(Decode(c.bytes, a)) << c.what;
    }
    // Every truncation of a good answer is refused.
    const Bytes full = AgentAnswer();
    for (std::size_t n = 0; n < full.size(); ++n) {
        Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        Answer a;
        EXPECT_FALSE(Decode(cut, a)) << n;
    }
}

TEST(DiscoveryCodec, NameRule) {
    struct Case {
        bool hasName;
        std::string name;
        bool hasDescr;
        std::string descr;
        std::string want;
    } cases[] = {
        {true, "A", true, "B", "A"},
        {false, "", true, "Desk\r\nLaser", "Desk"},
        {true, "", true, "Descr\nmore", "Descr"},
        {false, "", false, "", "127.0.0.5"},
        {true, std::string("na\0me", 5), false, "", "na"},
        {true, "a\tb\x01%s%n", false, "", "a b %s%n"},
        {true, std::string(400, 'q'), false, "", std::string(255, 'q')},
    };
    for (const Case &c : cases) {
        Answer a;
        a.hasName = c.hasName;
        a.sysName = c.name;
        a.hasDescr = c.hasDescr;
        a.sysDescr = c.descr;
        EXPECT_EQ(corvane::PrinterName(a, "127.0.0.5"), c.want) << c.name << "|" << c.descr;
    }
}

TEST(DiscoveryCodec, SeededMutationsNeverOverRead) {
    std::mt19937 rng(20261211);
    const Bytes seed = AgentAnswer();
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        Bytes b = seed;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !b.empty(); ++e) {
            const std::size_t at = rng() % b.size();
            switch (rng() % 3) {
            case 0:
                b[at] = static_cast<uint8_t>(rng());
                break;
            case 1:
                b.erase(b.begin() + static_cast<std::ptrdiff_t>(at));
                break;
            default:
                b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(rng()));
                break;
            }
        }
        // Exact-size heap copy so that the sanitizer sees any read past the end.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[b.size() ? b.size() : 1]);
        std::copy(b.begin(), b.end(), copy.get());
        Answer a;
        if (corvane::DecodeAnswer(copy.get(), b.size(), "tavmor", a)) {
            ++accepted;
            EXPECT_LE(corvane::PrinterName(a, "127.0.0.1").size(), 255u);
        }
    }
    EXPECT_LT(accepted, 20000);
}

TEST(DiscoveryGuard, LoopbackRule) {
    struct Case {
        const char *address;
        bool sent;
    } cases[] = {
        {"127.0.0.1", true},        {"127.1.2.3", true},      {"127.0.0.254", true},
        {"127.0.0.0", false},       {"127.0.0.255", false},   {"127.255.255.255", false},
        {"0.0.0.0", false},         {"10.1.2.3", false},      {"224.0.0.1", false},
        {"255.255.255.255", false}, {"192.168.1.255", false}, {"128.0.0.1", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(corvane::MaySendTo(Ip(c.address)), c.sent) << c.address;
}

TEST(DiscoveryPlanner, TargetsBecomeDestinationsOrSweepOrSkips) {
    const char targets[] = "127.0.0.1\0"
                           "127.1.2.3:1161\0"
                           "10.1.2.3\0"
                           "1.2.3\0"
                           "256.1.1.1\0"
                           "127.0.0.0\0"
                           "printer\0"
                           "127.0.0.2:0\0"
                           "127.0.0.2:x\0";
    corvane::Plan plan;
    std::string why;
    ASSERT_TRUE(corvane::PlanSearch(targets, sizeof targets, "", 161, plan, why)) << why;
    ASSERT_EQ(plan.unicast.size(), 2u);
    EXPECT_EQ(plan.unicast[0].address, Ip("127.0.0.1"));
    EXPECT_EQ(plan.unicast[0].port, 161);
    EXPECT_EQ(plan.unicast[1].address, Ip("127.1.2.3"));
    EXPECT_EQ(plan.unicast[1].port, 1161);
    EXPECT_FALSE(plan.sweep);
    EXPECT_TRUE(plan.sweepTo.empty());
    EXPECT_EQ(plan.skipped.size(), 7u);

    // An empty text ends the list; a list without its closing NUL stops at the limit.
    const char unclosed[] = {'1', '2', '7', '.', '0', '.', '0', '.', '1'};
    ASSERT_TRUE(corvane::PlanSearch(unclosed, sizeof unclosed, "", 161, plan, why));
    EXPECT_EQ(plan.unicast.size(), 1u);
    ASSERT_TRUE(corvane::PlanSearch("\0"
                                    "127.0.0.1\0",
                                    12, "", 161, plan, why));
    EXPECT_TRUE(plan.unicast.empty());
}

TEST(DiscoveryPlanner, BroadcastTargetsBecomeTheSweep) {
    for (const char *target : {"255.255.255.255", "192.168.1.255", "127.0.0.255"}) {
        std::string list = std::string(target) + '\0' + '\0';
        corvane::Plan plan;
        std::string why;
        ASSERT_TRUE(corvane::PlanSearch(list.data(), list.size(), "", 5161, plan, why)) << target;
        EXPECT_TRUE(plan.sweep) << target;
        EXPECT_TRUE(plan.unicast.empty()) << target;
        ASSERT_EQ(plan.sweepTo.size(), 254u) << target;
        for (const corvane::Destination &d : plan.sweepTo) {
            EXPECT_TRUE(corvane::MaySendTo(d.address));
            EXPECT_EQ(d.port, 5161);
        }
        EXPECT_EQ(plan.sweepTo.front().address, Ip("127.0.0.1"));
        EXPECT_EQ(plan.sweepTo.back().address, Ip("127.0.0.254"));
    }
}

TEST(DiscoveryPlanner, SweepEntries) {
    struct Case {
        const char *spec;
        bool ok;
        std::size_t count;
    } cases[] = {
        {"127.0.0.203:4001,127.0.0.204:4002", true, 2},
        {"127.0.0.250-127.0.1.5", true, 10}, // .255 and .0 left out
        {"127.0.0.1-127.0.0.254", true, 254},
        {"127.9.9.9", true, 1},
        {"10.0.0.1", false, 0},
        {"127.0.0.1-127.0.1.10", false, 0},
        {"127.0.0.9-127.0.0.1", false, 0},
        {"127.0.0.1-10.0.0.1", false, 0},
        {"127.0.0.1:99999", false, 0},
        {"127.0.0.1,junk", false, 0},
        {"255.255.255.255", false, 0},
    };
    for (const Case &c : cases) {
        std::vector<corvane::Destination> out;
        std::vector<std::string> refused;
        std::string why;
        EXPECT_EQ(corvane::ParseSweep(c.spec, 161, out, refused, why), c.ok) << c.spec;
        if (c.ok)
            EXPECT_EQ(out.size(), c.count) << c.spec;
        else
            EXPECT_FALSE(why.empty()) << c.spec;
    }
    // A bad sweep list fails the whole plan of a broadcast search.
    const char list[] = "255.255.255.255\0";
    corvane::Plan plan;
    std::string why;
    EXPECT_FALSE(corvane::PlanSearch(list, sizeof list, "10.0.0.1", 161, plan, why));
}

// The message and BER layer: golden encodings, composing, parsing hostile datagrams, the
// address texts and the request-id allocator.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/ber.h"
#include "core/snmp_message.h"

using namespace tessyn;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Encoded(const BerValue &v) {
    BerBuffer out;
    v.Encode(out);
    return Bytes(out.Data(), out.Data() + out.Size());
}

// An element with its header for a given content.
Bytes Tlv(uint8_t tag, const Bytes &content) {
    BerBuffer out;
    BerWriteHeader(out, tag, static_cast<uint32_t>(content.size()));
    out.Append(content.data(), content.size());
    return Bytes(out.Data(), out.Data() + out.Size());
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Decodes one element by wrapping it in a SEQUENCE; the decode code, and the element.
int DecodeOne(const Bytes &element, BerSequence &holder) {
    Bytes wrapped = Tlv(0x30, element);
    BerBuffer in(wrapped.data(), wrapped.size());
    try {
        in.Read(in.Size());
        holder.DecodeChildren(in, in.Size(), 0);
        return 0;
    } catch (const BerError &e) {
        return e.code;
    }
}

const Bytes kOid1361 = {0x06, 0x03, 0x2B, 0x06, 0x01};
const Bytes kTavmor = Tlv(0x04, Bytes{'t', 'a', 'v', 'm', 'o', 'r'});

// A GetResponse with request id 7 and one variable binding {1.3.6.1, value}.
Bytes Response(const Bytes &value, uint8_t pduTag = 0xA2) {
    Bytes entry = Tlv(0x30, Cat({kOid1361, value}));
    Bytes pdu = Tlv(pduTag, Cat({Bytes{2, 1, 7, 2, 1, 0, 2, 1, 0}, Tlv(0x30, entry)}));
    return Tlv(0x30, Cat({Bytes{2, 1, 0}, kTavmor, pdu}));
}

// An SNMPv1 Trap-PDU from enterprise 1.3.6.1 with the given elements after it.
Bytes Trap(const Bytes &rest) {
    return Tlv(0x30, Cat({Bytes{2, 1, 0}, kTavmor, Tlv(0xA4, Cat({kOid1361, rest}))}));
}

Bytes Truncated(Bytes b) {
    b.pop_back();
    return b;
}

SnmpAddress Loopback(uint16_t port) {
    const uint8_t a[4] = {127, 0, 0, 1};
    return SnmpAddress::Inet(a, port);
}

int ParseBytes(SnmpMessage &m, const Bytes &b) {
    return m.Parse(Loopback(1161), b.data(), b.size());
}

} // namespace

TEST(Ber, GoldenVectorsEncodeAndDecode) {
    struct Case {
        const char *name;
        std::unique_ptr<BerValue> value;
        Bytes bytes;
    };
    std::string s200(200, 'x');
    Bytes os200 = {0x04, 0x81, 0xC8};
    os200.insert(os200.end(), s200.begin(), s200.end());
    auto oid = [](const char *text) {
        auto o = std::make_unique<BerObjectId>();
        EXPECT_EQ(o->ParseText(text), 0) << text;
        return o;
    };
    auto ip = [](const char *text) {
        auto o = std::make_unique<BerIpAddress>();
        EXPECT_EQ(o->ParseText(text), 0) << text;
        return o;
    };
    std::vector<Case> cases;
    cases.push_back({"int 0", std::make_unique<BerInteger>(0), {0x02, 0x01, 0x00}});
    cases.push_back({"int 127", std::make_unique<BerInteger>(127), {0x02, 0x01, 0x7F}});
    cases.push_back({"int 128", std::make_unique<BerInteger>(128), {0x02, 0x02, 0x00, 0x80}});
    cases.push_back({"int -1", std::make_unique<BerInteger>(-1), {0x02, 0x01, 0xFF}});
    cases.push_back({"int -129", std::make_unique<BerInteger>(-129), {0x02, 0x02, 0xFF, 0x7F}});
    cases.push_back({"int max",
                     std::make_unique<BerInteger>(0x7FFFFFFF),
                     {0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}});
    cases.push_back(
        {"int min", std::make_unique<BerInteger>(INT32_MIN), {0x02, 0x04, 0x80, 0x00, 0x00, 0x00}});
    cases.push_back({"counter",
                     std::make_unique<BerCounter>(0x80000000u),
                     {0x41, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}});
    cases.push_back({"gauge 255", std::make_unique<BerGauge>(255), {0x42, 0x02, 0x00, 0xFF}});
    cases.push_back({"gauge max",
                     std::make_unique<BerGauge>(0xFFFFFFFFu),
                     {0x42, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}});
    cases.push_back({"ticks 0", std::make_unique<BerTimeTicks>(0), {0x43, 0x01, 0x00}});
    cases.push_back(
        {"ticks 0x1234", std::make_unique<BerTimeTicks>(0x1234), {0x43, 0x02, 0x12, 0x34}});
    cases.push_back({"null", std::make_unique<BerNull>(), {0x05, 0x00}});
    cases.push_back({"sysName",
                     oid("1.3.6.1.2.1.1.5.0"),
                     {0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x05, 0x00}});
    cases.push_back({"arc 300", oid("1.3.300"), {0x06, 0x03, 0x2B, 0x82, 0x2C}});
    cases.push_back(
        {"arc max", oid("1.3.4294967295"), {0x06, 0x06, 0x2B, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}});
    cases.push_back({"2.100", oid("2.100"), {0x06, 0x02, 0x81, 0x34}});
    cases.push_back({"ip", ip("10.1.2.3"), {0x40, 0x04, 0x0A, 0x01, 0x02, 0x03}});
    cases.push_back(
        {"octets 3", std::make_unique<BerOctetString>("abc", 3), {0x04, 0x03, 'a', 'b', 'c'}});
    cases.push_back({"octets 0", std::make_unique<BerOctetString>(nullptr, 0), {0x04, 0x00}});
    cases.push_back({"octets 200", std::make_unique<BerOctetString>(s200.data(), 200), os200});

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Encoded(*c.value), c.bytes);
        EXPECT_EQ(c.value->EncodedSize(), c.bytes.size());
        BerSequence holder;
        ASSERT_EQ(DecodeOne(c.bytes, holder), 0);
        ASSERT_EQ(holder.Count(), 1u);
        EXPECT_EQ(Encoded(*holder.At(0)), c.bytes) << "decoded value re-encodes differently";
    }
}

TEST(Ber, DecodesValues) {
    struct Case {
        Bytes bytes;
        int64_t value;    // integers
        const char *text; // OIDs and strings
    };
    const Case cases[] = {
        {{0x02, 0x04, 0x80, 0x00, 0x00, 0x00}, INT32_MIN, nullptr},
        {{0x02, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}, -1, nullptr},
        {{0x02, 0x00}, 0, nullptr},
        {{0x02, 0x82, 0x00, 0x02, 0x01, 0x00}, 256, nullptr},
        {{0x41, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF, nullptr},
        {{0x43, 0x01, 0x80}, 0x80, nullptr},
        {{0x06, 0x03, 0x2B, 0x06, 0x01}, 0, "1.3.6.1"},
        {{0x06, 0x01, 0x00}, 0, "0.0"},
        {{0x06, 0x01, 0x4F}, 0, "1.39"},
        {{0x06, 0x01, 0x78}, 0, "2.40"}, // 120: not arc 3
        {{0x06, 0x01, 0x7F}, 0, "2.47"},
        {{0x06, 0x02, 0x81, 0x00}, 0, "2.48"},
        {{0x04, 0x82, 0x00, 0x05, 'h', 'e', 'l', 'l', 'o'}, 0, "hello"},
    };
    for (const Case &c : cases) {
        BerSequence holder;
        ASSERT_EQ(DecodeOne(c.bytes, holder), 0);
        const BerValue *v = holder.At(0);
        ASSERT_NE(v, nullptr);
        switch (v->Tag()) {
        case kTagInteger:
            EXPECT_EQ(static_cast<const BerInteger *>(v)->Value(), c.value);
            break;
        case kTagCounter:
        case kTagTimeTicks:
            EXPECT_EQ(static_cast<const BerUnsigned32 *>(v)->Value(), c.value);
            break;
        case kTagObjectId:
            EXPECT_EQ(static_cast<const BerObjectId *>(v)->Text(), c.text);
            break;
        case kTagOctetString: {
            auto *s = static_cast<const BerOctetString *>(v);
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(s->Bytes())), c.text);
            EXPECT_EQ(s->Size(), std::strlen(c.text));
            break;
        }
        default:
            ADD_FAILURE() << "tag " << int(v->Tag());
        }
    }
}

TEST(Ber, HeaderLengths) {
    const std::pair<uint32_t, Bytes> cases[] = {
        {127, {0x04, 0x7F}},
        {128, {0x04, 0x81, 0x80}},
        {200, {0x04, 0x81, 0xC8}},
        {256, {0x04, 0x82, 0x01, 0x00}},
        {65536, {0x04, 0x83, 0x01, 0x00, 0x00}},
    };
    for (const auto &[length, bytes] : cases) {
        BerBuffer out;
        BerWriteHeader(out, 0x04, length);
        EXPECT_EQ(Bytes(out.Data(), out.Data() + out.Size()), bytes) << length;
    }
}

TEST(Ber, BufferGrowsInStepsToFitAnyWrite) {
    BerBuffer b;
    b.Append(1);
    EXPECT_EQ(b.Capacity(), 256u);
    std::vector<uint8_t> big(1000, 0xAB);
    b.Append(big.data(), big.size());
    EXPECT_EQ(b.Size(), 1001u);
    EXPECT_EQ(b.Capacity(), 1024u);
    EXPECT_EQ(b.Data()[0], 1);
    EXPECT_EQ(b.Data()[1000], 0xAB);
    // A large OCTET STRING is written whole.
    std::string s(5000, 'q');
    BerOctetString os(s.data(), s.size());
    Bytes enc = Encoded(os);
    ASSERT_EQ(enc.size(), 5004u);
    EXPECT_EQ(enc[1], 0x82);
    EXPECT_EQ(enc.back(), 'q');
}

TEST(Ber, OidTextRules) {
    const std::pair<const char *, int> cases[] = {
        {"1.3.6.1", 0},
        {"0.0", 0},
        {"1.3.6.a", TESSYN_E_OID},
        {"1", TESSYN_E_OID},
        {"", TESSYN_E_OID},
        {"1..3", TESSYN_E_OID},
        {"1.3.", TESSYN_E_OID},
        {".1.3", TESSYN_E_OID},
        {"1.3.4294967296", TESSYN_E_OID},
        {"107374183.0", TESSYN_E_OID}, // 40 x arc1 + arc2 over 32 bits
        {"1.-3", TESSYN_E_OID},
        {nullptr, TESSYN_E_OID},
    };
    for (const auto &[text, rc] : cases) {
        BerObjectId o;
        EXPECT_EQ(o.ParseText(text), rc) << (text ? text : "(null)");
    }
    std::string arcs128 = "1.3";
    for (int i = 2; i < 128; ++i)
        arcs128 += ".1";
    BerObjectId o;
    EXPECT_EQ(o.ParseText(arcs128.c_str()), 0);
    EXPECT_EQ(o.ParseText((arcs128 + ".1").c_str()), TESSYN_E_OID);
}

TEST(Ber, IpAddressTextRules) {
    const std::pair<const char *, int> cases[] = {
        {"10.1.2.3", 0},
        {"1.2.3", TESSYN_E_HOST},
        {"1.2.3.256", TESSYN_E_HOST},
        {"1.2.x.4", TESSYN_E_HOST},
        {"1..2.3", 0},
        {nullptr, TESSYN_E_HOST},
    };
    for (const auto &[text, rc] : cases) {
        BerIpAddress ip;
        EXPECT_EQ(ip.ParseText(text), rc) << (text ? text : "(null)");
    }
}

namespace {

bool FakeResolver(const char *name, uint8_t addr[4]) {
    if (std::strcmp(name, "printer.test") != 0)
        return false;
    const uint8_t a[4] = {127, 0, 0, 9};
    std::memcpy(addr, a, 4);
    return true;
}

SnmpMessageDesc GetDesc(const SnmpVarBind *binds, int count) {
    SnmpMessageDesc d{};
    d.host = "127.0.0.1";
    d.pduType = 0xA0;
    d.timeouts[0] = 500;
    d.timeouts[1] = 500;
    d.varBindCount = count;
    d.varBinds = binds;
    return d;
}

} // namespace

TEST(SnmpMessageCompose, GetRequestMatchesByteForByte) {
    SnmpVarBind vb{"1.3.6.1.2.1.1.1.0", 5, 0, nullptr};
    SnmpMessageDesc d = GetDesc(&vb, 1);
    d.timeouts[2] = 300;
    d.timeouts[3] = 0;
    SnmpMessage m;
    ASSERT_EQ(m.Compose(d), 0);
    m.SetRequestId(1);
    BerBuffer out;
    ASSERT_EQ(m.EncodeTo(out), 0);
    const Bytes expected = {0x30, 0x26, 0x02, 0x01, 0x00, 0x04, 0x06, 't',  'a',  'v',
                            'm',  'o',  'r',  0xA0, 0x19, 0x02, 0x01, 0x01, 0x02, 0x01,
                            0x00, 0x02, 0x01, 0x00, 0x30, 0x0E, 0x30, 0x0C, 0x06, 0x08,
                            0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00, 0x05, 0x00};
    EXPECT_EQ(Bytes(out.Data(), out.Data() + out.Size()), expected);
    EXPECT_EQ(m.ContentLength(), expected.size());
    EXPECT_EQ(m.Timeouts(), (std::vector<int32_t>{500, 500, 300}));
    EXPECT_EQ(m.Destination().Port(), 0); // the port fills in the default
    EXPECT_EQ(m.GetRequestId(), 1);
}

TEST(SnmpMessageCompose, EveryValueTypeAndTheDescriptorFields) {
    int32_t i = -129;
    uint32_t c = 0x80000000u, g = 255, t = 0;
    SnmpVarBind vbs[] = {
        {"1.3.6.1.1", 2, 0, &i},
        {"1.3.6.1.2", 4, 3, "abc"},
        {"1.3.6.1.3", 5, 0, nullptr},
        {"1.3.6.1.4", 6, 0, "1.3.300"},
        {"1.3.6.1.5", 0x40, 0, "10.1.2.3"},
        {"1.3.6.1.6", 0x41, 0, &c},
        {"1.3.6.1.7", 0x42, 0, &g},
        {"1.3.6.1.8", 0x43, 0, &t},
        {"1.3.6.1.9", 4, 0, nullptr},
    };
    SnmpMessageDesc d = GetDesc(vbs, 9);
    d.community = "public";
    d.pduType = 0x1A3; // low byte only
    d.version = 0;
    d.errorStatus = 2;
    d.errorIndex = 3;
    d.requestId = 99;
    d.port = 1161;
    SnmpMessage m;
    ASSERT_EQ(m.Compose(d), 0);
    EXPECT_EQ(m.GetPduTag(), 0xA3);
    EXPECT_EQ(m.GetRequestId(), 99);
    EXPECT_EQ(m.Destination().Port(), 1161);
    BerBuffer out;
    ASSERT_EQ(m.EncodeTo(out), 0);

    // The encoding reads back as the same bindings.
    SnmpMessage back;
    ASSERT_EQ(back.Parse(Loopback(161), out.Data(), out.Size()), 0);
    const SnmpMessageDesc *info = back.BuildResponseInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->community, "public");
    EXPECT_EQ(info->pduType, 0xA3);
    EXPECT_EQ(info->requestId, 99);
    EXPECT_EQ(info->errorStatus, 2);
    EXPECT_EQ(info->errorIndex, 3);
    ASSERT_EQ(info->varBindCount, 9);
    EXPECT_EQ(*static_cast<const int32_t *>(info->varBinds[0].value), -129);
    EXPECT_STREQ(static_cast<const char *>(info->varBinds[1].value), "abc");
    EXPECT_EQ(info->varBinds[2].value, nullptr);
    EXPECT_STREQ(static_cast<const char *>(info->varBinds[3].value), "1.3.300");
    EXPECT_EQ(info->varBinds[3].length, 7);
    EXPECT_EQ(info->varBinds[4].length, 4);
    EXPECT_EQ(std::memcmp(info->varBinds[4].value, "\x0a\x01\x02\x03", 4), 0);
    EXPECT_EQ(*static_cast<const uint32_t *>(info->varBinds[5].value), 0x80000000u);
    EXPECT_EQ(*static_cast<const uint32_t *>(info->varBinds[6].value), 255u);
    EXPECT_EQ(info->varBinds[7].type, 0x43);
    EXPECT_EQ(info->varBinds[8].length, 0);
    EXPECT_STREQ(info->varBinds[8].oid, "1.3.6.1.9");
}

TEST(SnmpMessageCompose, ErrorsTable) {
    SetHostResolver(FakeResolver);
    int32_t i = 1;
    struct Case {
        const char *name;
        const char *host;
        SnmpVarBind vb;
        int count;
        int32_t t0, t1;
        int rc;
    };
    const Case cases[] = {
        {"ok via resolver", "printer.test", {"1.3.6.1", 5, 0, nullptr}, 1, 500, 0, 0},
        {"letter in oid", "127.0.0.1", {"1.3.6.a", 5, 0, nullptr}, 1, 500, 0, TESSYN_E_OID},
        {"null oid", "127.0.0.1", {nullptr, 5, 0, nullptr}, 1, 500, 0, TESSYN_E_OID},
        {"one arc", "127.0.0.1", {"1", 5, 0, nullptr}, 1, 500, 0, TESSYN_E_OID},
        {"oid value missing", "127.0.0.1", {"1.3.6.1", 6, 0, nullptr}, 1, 500, 0, TESSYN_E_OID},
        {"oid value bad", "127.0.0.1", {"1.3.6.1", 6, 0, "1.x"}, 1, 500, 0, TESSYN_E_OID},
        {"ipx lower case",
         "0000000a:00A0C9123456",
         {"1.3.6.1", 5, 0, nullptr},
         1,
         500,
         0,
         TESSYN_E_IPX},
        {"ipx short", "0000000A:00A0C91234", {"1.3.6.1", 5, 0, nullptr}, 1, 500, 0, TESSYN_E_IPX},
        {"null host", nullptr, {"1.3.6.1", 5, 0, nullptr}, 1, 500, 0, TESSYN_E_HOST},
        {"empty host", "", {"1.3.6.1", 5, 0, nullptr}, 1, 500, 0, TESSYN_E_HOST},
        {"unknown host", "nosuch.test", {"1.3.6.1", 5, 0, nullptr}, 1, 500, 0, TESSYN_E_HOST},
        {"ip value three parts",
         "127.0.0.1",
         {"1.3.6.1", 0x40, 0, "1.2.3"},
         1,
         500,
         0,
         TESSYN_E_HOST},
        {"ip value missing", "127.0.0.1", {"1.3.6.1", 0x40, 0, nullptr}, 1, 500, 0, TESSYN_E_HOST},
        {"unknown type", "127.0.0.1", {"1.3.6.1", 0x44, 0, &i}, 1, 500, 0, TESSYN_E_VALUE},
        {"integer missing", "127.0.0.1", {"1.3.6.1", 2, 0, nullptr}, 1, 500, 0, TESSYN_E_VALUE},
        {"ticks missing", "127.0.0.1", {"1.3.6.1", 0x43, 0, nullptr}, 1, 500, 0, TESSYN_E_VALUE},
        {"octets missing", "127.0.0.1", {"1.3.6.1", 4, 3, nullptr}, 1, 500, 0, TESSYN_E_VALUE},
        {"octets negative", "127.0.0.1", {"1.3.6.1", 4, -1, "x"}, 1, 500, 0, TESSYN_E_VALUE},
        {"negative count", "127.0.0.1", {"1.3.6.1", 5, 0, nullptr}, -1, 500, 0, TESSYN_E_MEMORY},
        {"first timeout 0", "127.0.0.1", {"1.3.6.1", 5, 0, nullptr}, 1, 0, 0, TESSYN_E_MEMORY},
        {"negative timeout", "127.0.0.1", {"1.3.6.1", 5, 0, nullptr}, 1, 500, -1, TESSYN_E_MEMORY},
    };
    for (const Case &c : cases) {
        SnmpMessageDesc d = GetDesc(&c.vb, c.count);
        d.host = c.host;
        d.timeouts[0] = c.t0;
        d.timeouts[1] = c.t1;
        SnmpMessage m;
        EXPECT_EQ(m.Compose(d), c.rc) << c.name;
    }
    SnmpMessageDesc d = GetDesc(nullptr, 1);
    SnmpMessage m;
    EXPECT_EQ(m.Compose(d), TESSYN_E_MEMORY) << "NULL varBinds with a count";
    SetHostResolver(nullptr);
}

TEST(SnmpMessageParse, ResponseInfo) {
    SnmpMessage m;
    Bytes b = Response(Tlv(0x04, Bytes{'d', 'e', 's', 'c'}));
    ASSERT_EQ(ParseBytes(m, b), 0);
    EXPECT_EQ(m.GetPduTag(), 0xA2);
    EXPECT_TRUE(m.HasRequestId());
    EXPECT_EQ(m.GetRequestId(), 7);
    const SnmpMessageDesc *info = m.BuildResponseInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->host, "127.0.0.1");
    EXPECT_EQ(info->port, 1161);
    EXPECT_EQ(info->pduType, 0xA2);
    EXPECT_STREQ(info->community, "tavmor");
    EXPECT_EQ(info->requestId, 7);
    for (int32_t t : info->timeouts)
        EXPECT_EQ(t, 0);
    EXPECT_EQ(info->responseProc, nullptr);
    ASSERT_EQ(info->varBindCount, 1);
    EXPECT_STREQ(info->varBinds[0].oid, "1.3.6.1");
    EXPECT_EQ(info->varBinds[0].type, 4);
    EXPECT_EQ(info->varBinds[0].length, 4);
    EXPECT_STREQ(static_cast<const char *>(info->varBinds[0].value), "desc");
}

TEST(SnmpMessageParse, TrapInfo) {
    Bytes binds =
        Tlv(0x30, Cat({Tlv(0x30, Cat({kOid1361, Bytes{0x41, 0x05, 0x00, 0xEE, 0x6B, 0x28, 0x00}})),
                       Tlv(0x30, Cat({kOid1361, Bytes{0x40, 0x04, 10, 1, 2, 3}}))}));
    Bytes trap = Trap(Cat(
        {Bytes{0x40, 0x04, 10, 9, 9, 9}, Bytes{2, 1, 6, 2, 1, 17, 0x43, 0x02, 0x30, 0x39}, binds}));
    SnmpMessage m;
    ASSERT_EQ(ParseBytes(m, trap), 0);
    EXPECT_EQ(m.GetPduTag(), 0xA4);
    const SnmpTrapInfo *t = m.BuildTrapInfo();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->reserved, 0);
    EXPECT_STREQ(t->community, "tavmor");
    EXPECT_STREQ(t->enterprise, "1.3.6.1");
    EXPECT_STREQ(t->agent, "127.0.0.1"); // the sender, not agent-addr
    EXPECT_EQ(t->genericTrap, 6);
    EXPECT_EQ(t->specificTrap, 17);
    EXPECT_EQ(t->timeStamp, 12345u);
    ASSERT_EQ(t->varBindCount, 2);
    EXPECT_EQ(*static_cast<const uint32_t *>(t->varBinds[0].value), 4000000000u);
    EXPECT_EQ(t->varBinds[1].length, 4);

    SnmpMessage four;
    ASSERT_EQ(
        ParseBytes(four, Trap(Cat({Bytes{0x40, 0x04, 10, 9, 9, 9}, Bytes{2, 1, 6, 2, 1, 17}}))), 0);
    EXPECT_EQ(four.BuildTrapInfo(), nullptr);
    SnmpMessage badStamp;
    ASSERT_EQ(ParseBytes(badStamp, Trap(Cat({Bytes{0x40, 0x04, 10, 9, 9, 9},
                                             Bytes{2, 1, 6, 2, 1, 17, 2, 1, 5}}))),
              0);
    EXPECT_EQ(badStamp.BuildTrapInfo(), nullptr) << "time-stamp must be TimeTicks";
}

TEST(SnmpMessageParse, HostileDatagrams) {
    enum Outcome { kDropped, kNoInfo, kFine };
    Bytes deep;
    for (int k = 0; k < 20; ++k)
        deep = Tlv(0x30, deep);
    struct Case {
        const char *name;
        Bytes bytes;
        Outcome outcome;
    };
    const Case cases[] = {
        {"empty", {}, kDropped},
        {"oid of no octets", Response({0x06, 0x00}), kDropped},
        {"two-octet first subidentifier", Response({0x06, 0x02, 0x81, 0x00}), kFine},
        {"oid ending 0x81", Response({0x06, 0x02, 0x2B, 0x81}), kDropped},
        {"6-octet subidentifier", Response({0x06, 0x07, 0x2B, 0x81, 0x81, 0x81, 0x81, 0x81, 0x01}),
         kDropped},
        {"huge octet string", Response({0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}), kDropped},
        {"length past the datagram", Response({0x04, 0x05, 'a'}), kDropped},
        {"indefinite length", Response({0x04, 0x80, 0x00, 0x00}), kDropped},
        {"five length octets", Response({0x04, 0x85, 0, 0, 0, 0, 1, 'a'}), kDropped},
        {"integer of five octets", Response({0x02, 0x05, 0, 0, 0, 0, 1}), kDropped},
        {"unsigned of five without 00", Response({0x41, 0x05, 1, 0, 0, 0, 1}), kDropped},
        {"unsigned of six", Response({0x41, 0x06, 0, 0, 0, 0, 0, 1}), kDropped},
        {"nesting past the cap", Response(deep), kDropped},
        {"nesting at the root", deep, kDropped},
        {"high tag form", Response({0x9F, 0x01, 0x00}), kDropped},
        {"unknown tag skipped whole", Response({0x44, 0x02, 0x30, 0x00}), kNoInfo},
        {"varbind without a value", Response({}), kNoInfo},
        {"value is a sequence", Response({0x30, 0x00}), kNoInfo},
        {"root not a sequence", {0x31, 0x03, 0x02, 0x01, 0x00}, kDropped},
        {"integer as the PDU", Tlv(0x30, Cat({Bytes{2, 1, 0}, kTavmor, Bytes{2, 1, 5}})), kDropped},
        {"community not a string", Tlv(0x30, Cat({Bytes{2, 1, 0}, Bytes{2, 1, 0}, Tlv(0xA2, {})})),
         kDropped},
        {"no PDU", Tlv(0x30, Cat({Bytes{2, 1, 0}, kTavmor})), kDropped},
        {"list not a sequence",
         Tlv(0x30, Cat({Bytes{2, 1, 0}, kTavmor, Tlv(0xA2, {2, 1, 1, 2, 1, 0, 2, 1, 0, 4, 0})})),
         kDropped},
        {"error-status not integer",
         Tlv(0x30, Cat({Bytes{2, 1, 0}, kTavmor, Tlv(0xA2, {2, 1, 1, 4, 0})})), kNoInfo},
        {"child past its parent",
         {0x30, 0x05, 0x02, 0x01, 0x00, 0x04, 0x06, 't', 'a', 'v', 'm', 'o', 'r'},
         kDropped},
        {"truncated", Truncated(Response({0x05, 0x00})), kDropped},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SnmpMessage m;
        int rc = ParseBytes(m, c.bytes);
        if (c.outcome == kDropped) {
            EXPECT_EQ(rc, TESSYN_E_VALUE);
            EXPECT_EQ(m.GetPduTag(), 0);
            EXPECT_EQ(m.BuildResponseInfo(), nullptr);
            continue;
        }
        ASSERT_EQ(rc, 0);
        if (c.outcome == kNoInfo)
            EXPECT_EQ(m.BuildResponseInfo(), nullptr);
        else
            EXPECT_NE(m.BuildResponseInfo(), nullptr);
    }
    // A PDU whose first element is not an INTEGER has no request id.
    SnmpMessage noId;
    ASSERT_EQ(
        ParseBytes(noId, Tlv(0x30, Cat({Bytes{2, 1, 0}, kTavmor, Tlv(0xA2, Cat({kTavmor}))}))), 0);
    EXPECT_FALSE(noId.HasRequestId());
}

TEST(SnmpMessageParse, MutationLoop) {
    Bytes binds = Tlv(0x30, Cat({Tlv(0x30, Cat({kOid1361, Bytes{0x41, 0x02, 0x00, 0xEE}})),
                                 Tlv(0x30, Cat({kOid1361, Bytes{0x06, 0x03, 0x2B, 0x82, 0x2C}}))}));
    const Bytes seeds[] = {
        Response(Tlv(0x04, Bytes{'d', 'e', 's', 'c'})),
        Trap(Cat({Bytes{0x40, 0x04, 10, 9, 9, 9}, Bytes{2, 1, 6, 2, 1, 17, 0x43, 0x02, 0x30, 0x39},
                  binds})),
    };
    std::mt19937 rng(20261210);
    size_t parsed = 0;
    for (int round = 0; round < 30000; ++round) {
        Bytes b = seeds[round % 2];
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !b.empty(); ++e) {
            size_t at = rng() % b.size();
            switch (rng() % 4) {
            case 0:
                b[at] = static_cast<uint8_t>(rng());
                break;
            case 1:
                b[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
                break;
            case 2:
                b.resize(at);
                break;
            default:
                b.insert(b.begin() + static_cast<long>(at), static_cast<uint8_t>(rng()));
                break;
            }
        }
        SnmpMessage m;
        if (ParseBytes(m, b) != 0)
            continue;
        ++parsed;
        auto touch = [](const SnmpVarBind *vbs, int32_t n) {
            size_t sum = 0;
            for (int32_t k = 0; k < n; ++k) {
                sum += std::strlen(vbs[k].oid);
                if (vbs[k].value && vbs[k].length > 0)
                    sum += static_cast<const uint8_t *>(vbs[k].value)[vbs[k].length - 1];
            }
            return sum;
        };
        if (const SnmpMessageDesc *info = m.BuildResponseInfo()) {
            EXPECT_GE(info->varBindCount, 0);
            (void)touch(info->varBinds, info->varBindCount);
            (void)std::strlen(info->community);
        }
        if (const SnmpTrapInfo *t = m.BuildTrapInfo()) {
            (void)touch(t->varBinds, t->varBindCount);
            (void)std::strlen(t->enterprise);
        }
    }
    EXPECT_GT(parsed, 100u) << "the mutations should leave some datagrams readable";
}

TEST(Addresses, IpxAndIpv4Texts) {
    SetHostResolver(FakeResolver);
    struct Case {
        const char *text;
        int rc;
        const char *sender; // AddressText of the result
    };
    const Case cases[] = {
        {"0000000A:00A0C9123456", 0, "0000000A:00A0C9123456"},
        {"0000000a:00A0C9123456", TESSYN_E_IPX, nullptr},
        {"0000000A:00a0c9123456", TESSYN_E_IPX, nullptr},
        {"0000000A:00A0C91234", TESSYN_E_IPX, nullptr},
        {"0000000A:00A0C912345678", TESSYN_E_IPX, nullptr},
        {"0000000:A00A0C9123456", TESSYN_E_IPX, nullptr},
        {"0000000A-00A0C9123456:", TESSYN_E_IPX, nullptr},
        {"127.0.0.1", 0, "127.0.0.1"},
        {"10..0.1", 0, "10.0.0.1"},
        {"1.2.3.4.5", 0, "1.2.3.4"},
        {"printer.test", 0, "127.0.0.9"},
        {"1.2.3", TESSYN_E_HOST, nullptr},
        {"256.1.1.1", TESSYN_E_HOST, nullptr},
    };
    for (const Case &c : cases) {
        SnmpAddress a;
        EXPECT_EQ(ResolveDestination(c.text, 0, a), c.rc) << c.text;
        if (c.rc == 0) {
            EXPECT_EQ(AddressText(a), c.sender) << c.text;
        }
    }
    SetHostResolver(nullptr);

    SnmpAddress ipx;
    ASSERT_EQ(ResolveDestination("01020304:0A0B0C0D0E0F", 0x1234, ipx), 0);
    const uint8_t layout[16] = {6,    0,    1,    2,    3,    4,    0x0A, 0x0B,
                                0x0C, 0x0D, 0x0E, 0x0F, 0x12, 0x34, 0,    0};
    EXPECT_EQ(std::memcmp(ipx.bytes.data(), layout, 16), 0);
    EXPECT_EQ(ipx.Port(), 0x1234);

    SnmpAddress ip;
    ASSERT_EQ(ResolveDestination("127.0.0.1", 0, ip), 0);
    ApplyDefaultPort(ip);
    EXPECT_EQ(ip.Port(), 161);
    const uint8_t inet[8] = {2, 0, 0, 161, 127, 0, 0, 1};
    EXPECT_EQ(std::memcmp(ip.bytes.data(), inet, 8), 0);
    SnmpAddress ipx0;
    ASSERT_EQ(ResolveDestination("01020304:0A0B0C0D0E0F", 0, ipx0), 0);
    ApplyDefaultPort(ipx0);
    EXPECT_EQ(ipx0.Port(), 0x900F);
}

TEST(Addresses, BroadcastRule) {
    const std::pair<const char *, bool> cases[] = {
        {"10.255.0.1", true},
        {"255.0.0.1", true},
        {"1.255.0.1", true},
        {"1.0.255.1", true},
        {"1.0.0.255", true},
        {"127.0.0.1", false},
        {"127.0.254.1", false},
        {"00000001:FFFFFFFFFFFF", true},
        {"00000001:C000FFFFFFFF", true},
        {"00000001:C001FFFFFFFF", false},
        {"FFFFFFFF:00A0C9123456", false},
    };
    for (const auto &[text, broadcast] : cases) {
        SnmpAddress a;
        ASSERT_EQ(ResolveDestination(text, 0, a), 0) << text;
        EXPECT_EQ(IsBroadcast(a), broadcast) << text;
    }
}

TEST(RequestIds, WrapSkipAndExhaust) {
    std::map<uint16_t, int> pending;
    uint16_t counter = 0;
    EXPECT_EQ(NextRequestId(counter, pending), 1);
    counter = 65534;
    EXPECT_EQ(NextRequestId(counter, pending), 65535);
    EXPECT_EQ(NextRequestId(counter, pending), 1);
    pending[2] = 0;
    pending[3] = 0;
    EXPECT_EQ(NextRequestId(counter, pending), 4);
    counter = 65535;
    pending[1] = 0;
    EXPECT_EQ(NextRequestId(counter, pending), 4);
    for (unsigned id = 1; id <= 65535; ++id)
        pending[static_cast<uint16_t>(id)] = 0;
    EXPECT_EQ(NextRequestId(counter, pending), 0);
}

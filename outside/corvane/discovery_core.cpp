#include "discovery_core.h"

#include <algorithm>
#include <cstring>

namespace corvane {

namespace {

const uint8_t kSysNameOid[] = {0x2b, 6, 1, 2, 1, 1, 5, 0};
const uint8_t kSysDescrOid[] = {0x2b, 6, 1, 2, 1, 1, 1, 0};
constexpr std::size_t kMaxNameBytes = 255;

void PutLength(Bytes &out, std::size_t n) {
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else if (n <= 0xff) {
        out.push_back(0x81);
        out.push_back(static_cast<uint8_t>(n));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(n >> 8));
        out.push_back(static_cast<uint8_t>(n));
    }
}

Bytes Tlv(uint8_t tag, const Bytes &content) {
    Bytes out{tag};
    PutLength(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Integer(int32_t v) {
    Bytes content;
    // Minimal two's complement.
    for (int shift = 24; shift > 0; shift -= 8) {
        const uint8_t byte = static_cast<uint8_t>(static_cast<uint32_t>(v) >> shift);
        const uint8_t next = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (shift - 8));
        const bool redundant = (byte == 0 && !(next & 0x80)) || (byte == 0xff && (next & 0x80));
        if (!redundant || !content.empty())
            content.push_back(byte);
    }
    content.push_back(static_cast<uint8_t>(v));
    return Tlv(0x02, content);
}

Bytes NullBinding(const uint8_t *oid, std::size_t oidLength) {
    Bytes body = Tlv(0x06, Bytes(oid, oid + oidLength));
    body.push_back(0x05);
    body.push_back(0x00);
    return Tlv(0x30, body);
}

// A bounded BER element reader over [p, end).
struct Reader {
    const uint8_t *p;
    const uint8_t *end;

    bool Next(uint8_t &tag, Reader &content) {
        if (end - p < 2)
            return false;
        tag = p[0];
        std::size_t length = p[1];
        const uint8_t *at = p + 2;
        if (length & 0x80) {
            const std::size_t count = length & 0x7f;
            if (count == 0 || count > 4 || static_cast<std::size_t>(end - at) < count)
                return false;
            length = 0;
            for (std::size_t i = 0; i < count; ++i)
                length = (length << 8) | at[i];
            at += count;
        }
        if (length > static_cast<std::size_t>(end - at))
            return false;
        content = Reader{at, at + length};
        p = at + length;
        return true;
    }
    bool Expect(uint8_t want, Reader &content) {
        uint8_t tag = 0;
        return Next(tag, content) && tag == want;
    }
    bool Empty() const { return p == end; }
    std::size_t Size() const { return static_cast<std::size_t>(end - p); }
};

bool ReadInteger(Reader &r, int32_t &out) {
    Reader content{};
    if (!r.Expect(0x02, content) || content.Size() == 0 || content.Size() > 4)
        return false;
    uint32_t v = (content.p[0] & 0x80) ? 0xffffffffu : 0;
    for (const uint8_t *q = content.p; q != content.end; ++q)
        v = (v << 8) | *q;
    out = static_cast<int32_t>(v);
    return true;
}

bool SameOid(const Reader &oid, const uint8_t *want, std::size_t n) {
    return oid.Size() == n && std::memcmp(oid.p, want, n) == 0;
}

std::string Clean(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == '\0' || out.size() == kMaxNameBytes)
            break;
        const auto u = static_cast<unsigned char>(c);
        out.push_back(u < 0x20 || u == 0x7f ? ' ' : c);
    }
    return out;
}

bool ParsePort(const std::string &digits, uint16_t &port) {
    if (digits.empty() || digits.size() > 5)
        return false;
    unsigned long v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<unsigned long>(c - '0');
    }
    if (v == 0 || v > 65535)
        return false;
    port = static_cast<uint16_t>(v);
    return true;
}

// "text[:port]" split; false when the port is bad.
bool SplitPort(const std::string &text, uint16_t defaultPort, std::string &host, uint16_t &port) {
    const std::size_t colon = text.find(':');
    host = text.substr(0, colon);
    port = defaultPort;
    return colon == std::string::npos || ParsePort(text.substr(colon + 1), port);
}

bool IsLoopback(uint32_t address) {
    return (address >> 24) == 127;
}

} // namespace

Bytes EncodeGetRequest(int32_t id, const std::string &community) {
    Bytes bindings = NullBinding(kSysNameOid, sizeof kSysNameOid);
    const Bytes descr = NullBinding(kSysDescrOid, sizeof kSysDescrOid);
    bindings.insert(bindings.end(), descr.begin(), descr.end());
    Bytes pdu = Integer(id);
    const Bytes zero = Integer(0);
    pdu.insert(pdu.end(), zero.begin(), zero.end());
    pdu.insert(pdu.end(), zero.begin(), zero.end());
    const Bytes list = Tlv(0x30, bindings);
    pdu.insert(pdu.end(), list.begin(), list.end());
    Bytes message = Integer(0);
    const Bytes name = Tlv(0x04, Bytes(community.begin(), community.end()));
    message.insert(message.end(), name.begin(), name.end());
    const Bytes body = Tlv(0xa0, pdu);
    message.insert(message.end(), body.begin(), body.end());
    return Tlv(0x30, message);
}

bool DecodeAnswer(const uint8_t *data, std::size_t size, const std::string &community,
                  Answer &out) {
    out = Answer{};
    if (!data)
        return false;
    Reader datagram{data, data + size};
    Reader message{}, text{}, pdu{}, list{};
    int32_t version = -1, errorStatus = -1, errorIndex = 0;
    uint8_t tag = 0;
    if (!datagram.Expect(0x30, message) || !datagram.Empty() || !ReadInteger(message, version) ||
        version != 0)
        return false;
    if (!message.Expect(0x04, text) ||
        std::string(reinterpret_cast<const char *>(text.p), text.Size()) != community)
        return false;
    if (!message.Next(tag, pdu) || tag != 0xa2 || !message.Empty())
        return false;
    if (!ReadInteger(pdu, out.id) || !ReadInteger(pdu, errorStatus) || errorStatus != 0 ||
        !ReadInteger(pdu, errorIndex) || !pdu.Expect(0x30, list) || !pdu.Empty())
        return false;
    while (!list.Empty()) {
        Reader binding{}, oid{}, value{};
        if (!list.Expect(0x30, binding) || !binding.Expect(0x06, oid) ||
            !binding.Expect(0x04, value) || !binding.Empty())
            return false;
        const std::string v(reinterpret_cast<const char *>(value.p), value.Size());
        if (SameOid(oid, kSysNameOid, sizeof kSysNameOid)) {
            out.hasName = true;
            out.sysName = v;
        } else if (SameOid(oid, kSysDescrOid, sizeof kSysDescrOid)) {
            out.hasDescr = true;
            out.sysDescr = v;
        }
    }
    return true;
}

std::string PrinterName(const Answer &answer, const std::string &address) {
    if (answer.hasName) {
        std::string name = Clean(answer.sysName);
        if (!name.empty())
            return name;
    }
    if (answer.hasDescr) {
        std::string name = Clean(answer.sysDescr);
        if (!name.empty())
            return name;
    }
    return Clean(address);
}

bool ParseIPv4(const std::string &text, uint32_t &out) {
    uint32_t v = 0;
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        std::size_t digits = 0;
        uint32_t octet = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            octet = octet * 10 + static_cast<uint32_t>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || octet > 255)
            return false;
        v = (v << 8) | octet;
        ++parts;
        if (parts < 4) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
    }
    if (i != text.size())
        return false;
    out = v;
    return true;
}

std::string FormatIPv4(uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xff) + "." +
           std::to_string((a >> 8) & 0xff) + "." + std::to_string(a & 0xff);
}

bool MaySendTo(uint32_t address) {
    const uint32_t last = address & 0xff;
    return IsLoopback(address) && last != 0 && last != 255;
}

bool ParseSweep(const std::string &spec, uint16_t defaultPort, std::vector<Destination> &out,
                std::vector<std::string> &refused, std::string &why) {
    out.clear();
    refused.clear();
    std::size_t start = 0;
    while (start <= spec.size()) {
        std::size_t comma = spec.find(',', start);
        if (comma == std::string::npos)
            comma = spec.size();
        const std::string entry = spec.substr(start, comma - start);
        start = comma + 1;
        if (entry.empty()) {
            if (comma == spec.size())
                break;
            continue;
        }
        std::string range;
        uint16_t port = 0;
        if (!SplitPort(entry, defaultPort, range, port)) {
            why = "bad port in sweep entry \"" + entry + "\"";
            return false;
        }
        const std::size_t dash = range.find('-');
        uint32_t first = 0, last = 0;
        if (!ParseIPv4(range.substr(0, dash), first) ||
            !ParseIPv4(dash == std::string::npos ? range.substr(0, dash) : range.substr(dash + 1),
                       last)) {
            why = "bad sweep entry \"" + entry + "\"";
            return false;
        }
        if (!IsLoopback(first) || !IsLoopback(last)) {
            why = "sweep entry \"" + entry + "\" lies outside 127.0.0.0/8";
            return false;
        }
        if (last < first || last - first >= kMaxSweepEntry) {
            why = "sweep entry \"" + entry + "\" is reversed or over 254 addresses";
            return false;
        }
        for (uint32_t a = first;; ++a) {
            if (MaySendTo(a))
                out.push_back(Destination{a, port, true});
            else
                refused.push_back(FormatIPv4(a));
            if (a == last)
                break;
        }
    }
    return true;
}

bool PlanSearch(const char *targets, std::size_t limit, const std::string &sweepSpec,
                uint16_t defaultPort, Plan &plan, std::string &why) {
    plan = Plan{};
    if (!targets)
        return true;
    std::size_t at = 0;
    while (at < limit && targets[at] != '\0') {
        std::size_t n = 0;
        while (at + n < limit && targets[at + n] != '\0')
            ++n;
        const std::string target(targets + at, n);
        at += n + 1;
        std::string host;
        uint16_t port = 0;
        uint32_t address = 0;
        if (!SplitPort(target, defaultPort, host, port) || !ParseIPv4(host, address)) {
            plan.skipped.push_back(target + ": not an address");
            continue;
        }
        if ((address & 0xff) == 255) {
            plan.sweep = true;
            continue;
        }
        if (!MaySendTo(address)) {
            plan.skipped.push_back(target + (IsLoopback(address) ? ": refused by the loopback rule"
                                                                 : ": outside loopback"));
            continue;
        }
        plan.unicast.push_back(Destination{address, port, false});
    }
    if (plan.sweep) {
        std::vector<std::string> refused;
        if (!ParseSweep(sweepSpec.empty() ? std::string(kDefaultSweep) : sweepSpec, defaultPort,
                        plan.sweepTo, refused, why))
            return false;
        for (const std::string &a : refused)
            plan.skipped.push_back(a + ": refused by the loopback rule");
    }
    return true;
}

} // namespace corvane

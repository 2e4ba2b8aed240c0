#include "fake_printer.h"

#include "snmp_agent.h"
#include "win_owners.h"

namespace fakeprinter {

namespace {

using snmpagent::Bytes;

constexpr uint8_t kGet = 0xA0;
constexpr uint8_t kGetNext = 0xA1;
constexpr uint8_t kSet = 0xA3;

// Dotted text of an OID's content octets; empty when malformed.
std::string DottedOid(const uint8_t *p, size_t n) {
    std::string text;
    uint32_t arc = 0;
    bool first = true;
    for (size_t i = 0; i < n; ++i) {
        if (arc > (0xFFFFFFFFu >> 7))
            return {};
        arc = arc << 7 | (p[i] & 0x7F);
        if (p[i] & 0x80)
            continue;
        if (first) {
            uint32_t top = arc < 80 ? arc / 40 : 2;
            text = std::to_string(top) + "." + std::to_string(arc - top * 40);
            first = false;
        } else {
            text += "." + std::to_string(arc);
        }
        arc = 0;
    }
    return text;
}

// The first variable binding of a request: its OID, value tag and value octets.
SnmpRequest ReadFirstBinding(const snmpagent::Datagram &d) {
    SnmpRequest r;
    r.parsed = d.parsed;
    r.community = d.community;
    r.pduTag = d.pduTag;
    r.requestId = d.requestId;
    r.atMs = d.atMs;
    const uint8_t *p = d.varBindList.data(), *end = p + d.varBindList.size();
    uint8_t tag;
    const uint8_t *c;
    size_t n;
    if (!snmpagent::ReadTlv(p, end, tag, c, n) || tag != 0x30)
        return r;
    const uint8_t *q = c, *qend = c + n;
    if (!snmpagent::ReadTlv(q, qend, tag, c, n) || tag != 0x30)
        return r;
    const uint8_t *b = c, *bend = c + n;
    if (!snmpagent::ReadTlv(b, bend, tag, c, n) || tag != 0x06)
        return r;
    r.oid = DottedOid(c, n);
    if (!snmpagent::ReadTlv(b, bend, tag, c, n))
        return r;
    r.valueTag = tag;
    r.value.assign(c, c + n);
    return r;
}

} // namespace

SnmpRequest ReadSnmpDatagram(const std::vector<uint8_t> &bytes) {
    snmpagent::Datagram d;
    d.bytes = bytes;
    snmpagent::ReadRequest(d);
    return ReadFirstBinding(d);
}

struct FakePrinter::Agent {
    CRITICAL_SECTION lock;
    std::string status = "17";
    bool silent = false;
    int delayMs = 0;
    Bytes testValue = snmpagent::Int(0); // whole TLV
    std::unique_ptr<snmpagent::Agent> agent;

    Agent() { InitializeCriticalSection(&lock); }
    ~Agent() {
        agent.reset(); // stops the thread before the lock goes
        DeleteCriticalSection(&lock);
    }

    std::vector<snmpagent::Reply> Answer(const snmpagent::Datagram &d) {
        if (!d.parsed || d.community != kCommunity)
            return {};
        SnmpRequest r = ReadFirstBinding(d);
        win::SectionLock hold(lock);
        std::vector<snmpagent::Reply> replies;
        auto respond = [&](const char *oid, const Bytes &value) {
            Bytes list = snmpagent::VarBindList({snmpagent::VarBind(oid, value)});
            replies.push_back({snmpagent::Response(d.community, d.requestId, list), delayMs});
        };
        if (silent) {
        } else if (r.pduTag == kGet && r.oid == kStatusOid) {
            respond(kStatusOid, snmpagent::Str(status));
        } else if ((r.pduTag == kGet && r.oid == kTestOid) ||
                   (r.pduTag == kGetNext && r.oid == kTestOidParent)) {
            respond(kTestOid, testValue);
        } else if (r.pduTag == kSet && r.oid == kTestOid && r.valueTag >= 0) {
            testValue = snmpagent::Tlv(static_cast<uint8_t>(r.valueTag), r.value);
            respond(kTestOid, testValue);
        } else {
            replies.push_back({snmpagent::Echo(d), delayMs});
        }
        return replies;
    }
};

FakePrinter::FakePrinter(std::string address, sink9100::Options raw, uint16_t snmpPort)
    : address_(std::move(address)), snmpPort_(snmpPort), sink_(address_, std::move(raw)),
      agent_(std::make_unique<Agent>()) {}

FakePrinter::~FakePrinter() {
    Stop();
}

bool FakePrinter::Start(std::string *error) {
    if (!sink_.Start(error))
        return false;
    Agent *state = agent_.get();
    // A fixed port (161) may be held for a moment by another test of the run, for example
    // one whose socket is bound to every address: try again for a bounded time.
    const int attempts = snmpPort_ != 0 ? 200 : 1;
    for (int i = 0; i < attempts; ++i) {
        if (i != 0)
            Sleep(100);
        state->agent = std::make_unique<snmpagent::Agent>(
            [state](const snmpagent::Datagram &d) { return state->Answer(d); }, snmpPort_,
            address_.c_str());
        if (state->agent->Ok())
            break;
    }
    if (!state->agent->Ok()) {
        *error = "cannot bind the SNMP agent on " + address_ + ":" + std::to_string(snmpPort_);
        state->agent.reset();
        sink_.Stop();
        return false;
    }
    return true;
}

void FakePrinter::Stop() {
    agent_->agent.reset();
    sink_.Stop();
}

uint16_t FakePrinter::SnmpPort() const {
    return agent_->agent ? agent_->agent->Port() : 0;
}

void FakePrinter::SetStatus(const std::string &text) {
    win::SectionLock hold(agent_->lock);
    agent_->status = text;
}

void FakePrinter::SetAnswerDelay(int ms) {
    win::SectionLock hold(agent_->lock);
    agent_->delayMs = ms;
}

void FakePrinter::SetSilent(bool silent) {
    win::SectionLock hold(agent_->lock);
    agent_->silent = silent;
}

std::vector<uint8_t> FakePrinter::TestValue() const {
    win::SectionLock hold(agent_->lock);
    return agent_->testValue;
}

std::vector<SnmpRequest> FakePrinter::SnmpRequests() const {
    std::vector<SnmpRequest> out;
    if (!agent_->agent)
        return out;
    for (const snmpagent::Datagram &d : agent_->agent->Received())
        out.push_back(ReadFirstBinding(d));
    return out;
}

bool FakePrinter::WaitForSnmpRequests(size_t count, unsigned timeoutMs) const {
    return agent_->agent && agent_->agent->WaitForCount(count, static_cast<int>(timeoutMs));
}

} // namespace fakeprinter

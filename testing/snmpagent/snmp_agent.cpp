#include "snmp_agent.h"

#include <cstdlib>
#include <cstring>

namespace snmpagent {

Bytes Tlv(uint8_t tag, const Bytes &content) {
    Bytes out{tag};
    size_t n = content.size();
    if (n < 128) {
        out.push_back(static_cast<uint8_t>(n));
    } else {
        Bytes len;
        for (size_t v = n; v; v >>= 8)
            len.insert(len.begin(), static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(0x80 | len.size()));
        out.insert(out.end(), len.begin(), len.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Int(int32_t v) {
    Bytes c;
    for (int i = 3; i >= 0; --i)
        c.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    while (c.size() > 1 && ((c[0] == 0 && !(c[1] & 0x80)) || (c[0] == 0xFF && (c[1] & 0x80))))
        c.erase(c.begin());
    return Tlv(0x02, c);
}

Bytes Unsigned(uint8_t tag, uint32_t v) {
    Bytes c{0};
    for (int i = 3; i >= 0; --i)
        c.push_back(static_cast<uint8_t>(v >> (8 * i)));
    while (c.size() > 1 && c[0] == 0 && !(c[1] & 0x80))
        c.erase(c.begin());
    return Tlv(tag, c);
}

static void Base128(Bytes &out, uint32_t v) {
    Bytes groups;
    do {
        groups.insert(groups.begin(), static_cast<uint8_t>(v & 0x7F));
        v >>= 7;
    } while (v);
    for (size_t i = 0; i + 1 < groups.size(); ++i)
        groups[i] |= 0x80;
    out.insert(out.end(), groups.begin(), groups.end());
}

Bytes Oid(const char *dotted) {
    std::vector<uint32_t> arcs;
    for (const char *p = dotted; *p;) {
        char *end;
        arcs.push_back(static_cast<uint32_t>(std::strtoul(p, &end, 10)));
        p = *end == '.' ? end + 1 : end;
    }
    Bytes c;
    if (arcs.size() >= 2) {
        Base128(c, arcs[0] * 40 + arcs[1]);
        for (size_t i = 2; i < arcs.size(); ++i)
            Base128(c, arcs[i]);
    }
    return Tlv(0x06, c);
}

Bytes Str(const std::string &s, uint8_t tag) {
    return Tlv(tag, Bytes(s.begin(), s.end()));
}

Bytes VarBind(const char *oid, const Bytes &value) {
    return Tlv(0x30, Cat({Oid(oid), value}));
}

Bytes VarBindList(std::initializer_list<Bytes> binds) {
    return Tlv(0x30, Cat(binds));
}

Bytes Message(const std::string &community, const Bytes &pdu) {
    return Tlv(0x30, Cat({Int(0), Str(community), pdu}));
}

Bytes Response(const std::string &community, int32_t id, const Bytes &varBindList, uint8_t tag) {
    return Message(community, Tlv(tag, Cat({Int(id), Int(0), Int(0), varBindList})));
}

Bytes Echo(const Datagram &request, int32_t idDelta) {
    Bytes list = request.varBindList.empty() ? Tlv(0x30, {}) : request.varBindList;
    return Response(request.community, request.requestId + idDelta, list);
}

Script SystemAnswers(const std::string &sysName, const std::string &sysDescr,
                     const std::string &community) {
    return [sysName, sysDescr, community](const Datagram &d) -> std::vector<Reply> {
        if (!d.parsed || d.version != 0 || d.pduTag != 0xA0 || d.community != community)
            return {};
        const Bytes list = VarBindList({VarBind("1.3.6.1.2.1.1.5.0", Str(sysName)),
                                        VarBind("1.3.6.1.2.1.1.1.0", Str(sysDescr))});
        return {Reply{Response(community, d.requestId, list), 0}};
    };
}

Bytes Trap(const std::string &community, const char *enterprise, const uint8_t agentAddr[4],
           int32_t generic, int32_t specific, uint32_t ticks, const Bytes &varBindList) {
    Bytes addr(agentAddr, agentAddr + 4);
    return Message(community, Tlv(0xA4, Cat({Oid(enterprise), Tlv(0x40, addr), Int(generic),
                                             Int(specific), Unsigned(0x43, ticks), varBindList})));
}

bool ReadTlv(const uint8_t *&p, const uint8_t *end, uint8_t &tag, const uint8_t *&content,
             size_t &length) {
    if (end - p < 2)
        return false;
    tag = p[0];
    size_t n = p[1];
    const uint8_t *q = p + 2;
    if (n & 0x80) {
        size_t count = n & 0x7F;
        if (count == 0 || count > 4 || static_cast<size_t>(end - q) < count)
            return false;
        n = 0;
        for (size_t i = 0; i < count; ++i)
            n = n << 8 | *q++;
    }
    if (static_cast<size_t>(end - q) < n)
        return false;
    content = q;
    length = n;
    p = q + n;
    return true;
}

static bool ReadInt(const uint8_t *&p, const uint8_t *end, int32_t &v) {
    uint8_t tag;
    const uint8_t *c;
    size_t n;
    if (!ReadTlv(p, end, tag, c, n) || tag != 0x02 || n < 1 || n > 4)
        return false;
    uint32_t u = (c[0] & 0x80) ? 0xFFFFFFFFu : 0;
    for (size_t i = 0; i < n; ++i)
        u = u << 8 | c[i];
    v = static_cast<int32_t>(u);
    return true;
}

void ReadRequest(Datagram &d) {
    const uint8_t *p = d.bytes.data(), *end = p + d.bytes.size();
    uint8_t tag;
    const uint8_t *c;
    size_t n;
    if (!ReadTlv(p, end, tag, c, n) || tag != 0x30)
        return;
    const uint8_t *q = c, *qend = c + n;
    if (!ReadInt(q, qend, d.version))
        return;
    if (!ReadTlv(q, qend, tag, c, n) || tag != 0x04)
        return;
    d.community.assign(reinterpret_cast<const char *>(c), n);
    const uint8_t *pduStart = q;
    (void)pduStart;
    if (!ReadTlv(q, qend, tag, c, n))
        return;
    d.pduTag = tag;
    const uint8_t *r = c, *rend = c + n;
    int32_t status, index;
    if (!ReadInt(r, rend, d.requestId) || !ReadInt(r, rend, status) || !ReadInt(r, rend, index))
        return;
    const uint8_t *listStart = r;
    if (!ReadTlv(r, rend, tag, c, n) || tag != 0x30)
        return;
    d.varBindList.assign(listStart, r);
    d.parsed = true;
}

Agent::Agent(Script script, uint16_t port, const char *address) : script_(std::move(script)) {
    InitializeCriticalSection(&lock_);
    start_ = std::chrono::steady_clock::now();
    win::Socket s(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!s)
        return;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = address ? inet_addr(address) : htonl(INADDR_LOOPBACK);
    // Loopback only: anything else is refused.
    if ((ntohl(local.sin_addr.s_addr) >> 24) != 127) {
        bindError_ = WSAEADDRNOTAVAIL;
        return;
    }
    int length = sizeof local;
    if (bind(s.get(), reinterpret_cast<sockaddr *>(&local), sizeof local) == SOCKET_ERROR ||
        getsockname(s.get(), reinterpret_cast<sockaddr *>(&local), &length) == SOCKET_ERROR) {
        bindError_ = WSAGetLastError();
        return;
    }
    DWORD timeoutMs = 5;
    setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeoutMs),
               sizeof timeoutMs);
    socket_ = std::move(s);
    port_ = ntohs(local.sin_port);
    thread_.reset(CreateThread(nullptr, 0, Main, this, 0, nullptr));
    if (!thread_)
        socket_.reset();
}

Agent::~Agent() {
    stop_ = true;
    if (thread_) {
        WaitForSingleObject(thread_.get(), 10000);
        thread_.reset();
    }
    socket_.reset();
    DeleteCriticalSection(&lock_);
}

void Agent::SetScript(Script script) {
    win::SectionLock hold(lock_);
    script_ = std::move(script);
}

void Agent::SendTo(uint16_t port, const Bytes &bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(socket_.get(), reinterpret_cast<const char *>(bytes.data()),
           static_cast<int>(bytes.size()), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
}

std::vector<Datagram> Agent::Received() {
    win::SectionLock hold(lock_);
    return received_;
}

size_t Agent::ReceivedCount() {
    win::SectionLock hold(lock_);
    return received_.size();
}

bool Agent::WaitForCount(size_t count, int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += 5) {
        if (ReceivedCount() >= count)
            return true;
        Sleep(5);
    }
    return false;
}

DWORD WINAPI Agent::Main(void *param) {
    static_cast<Agent *>(param)->Run();
    return 0;
}

void Agent::Run() {
    struct Due {
        Bytes bytes;
        sockaddr_in to;
        std::chrono::steady_clock::time_point at;
    };
    std::vector<Due> due;
    std::vector<uint8_t> buffer(65536);
    while (!stop_) {
        auto now = std::chrono::steady_clock::now();
        for (size_t i = 0; i < due.size();) {
            if (due[i].at <= now) {
                sendto(socket_.get(), reinterpret_cast<const char *>(due[i].bytes.data()),
                       static_cast<int>(due[i].bytes.size()), 0,
                       reinterpret_cast<sockaddr *>(&due[i].to), sizeof due[i].to);
                due.erase(due.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        // Waits in recvfrom (a 5 ms receive time-out), so that stopping is prompt.
        sockaddr_in from{};
        int fromLength = sizeof from;
        int got = recvfrom(socket_.get(), reinterpret_cast<char *>(buffer.data()),
                           static_cast<int>(buffer.size()), 0, reinterpret_cast<sockaddr *>(&from),
                           &fromLength);
        if (got == SOCKET_ERROR)
            continue;
        Datagram d;
        d.atMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
                .count();
        d.bytes.assign(buffer.begin(), buffer.begin() + got);
        d.senderPort = ntohs(from.sin_port);
        ReadRequest(d);
        Script script;
        {
            win::SectionLock hold(lock_);
            received_.push_back(d);
            script = script_;
        }
        if (!script)
            continue;
        for (Reply &r : script(d))
            due.push_back(
                {std::move(r.bytes), from,
                 std::chrono::steady_clock::now() + std::chrono::milliseconds(r.delayMs)});
    }
}

} // namespace snmpagent

#include "snmp_message.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

namespace tessyn {

const char kDefaultCommunity[] = "tavmor";

// ---- addresses ----

uint16_t SnmpAddress::Port() const {
    size_t at = Family() == kFamilyInet ? 2 : 12;
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

void SnmpAddress::SetPort(uint16_t port) {
    size_t at = Family() == kFamilyInet ? 2 : 12;
    bytes[at] = static_cast<uint8_t>(port >> 8);
    bytes[at + 1] = static_cast<uint8_t>(port);
}

SnmpAddress SnmpAddress::Inet(const uint8_t addr[4], uint16_t port) {
    SnmpAddress a;
    a.SetFamily(kFamilyInet);
    a.SetPort(port);
    std::memcpy(&a.bytes[4], addr, 4);
    return a;
}

static std::atomic<HostResolver> g_resolver{nullptr};

void SetHostResolver(HostResolver resolver) {
    g_resolver.store(resolver);
}

bool ParseIpv4Text(const char *text, uint8_t addr[4]) {
    if (!text)
        return false;
    uint8_t bytes[4] = {};
    size_t parts = 0;
    const char *p = text;
    for (;;) {
        const char *dot = std::strchr(p, '.');
        const char *end = dot ? dot : p + std::strlen(p);
        unsigned v = 0;
        for (const char *q = p; q < end; ++q) {
            if (*q < '0' || *q > '9')
                return false;
            v = v * 10 + static_cast<unsigned>(*q - '0');
            if (v > 255)
                return false;
        }
        if (parts < 4)
            bytes[parts] = static_cast<uint8_t>(v);
        ++parts;
        if (!dot)
            break;
        p = dot + 1;
    }
    if (parts < 4)
        return false;
    std::memcpy(addr, bytes, 4);
    return true;
}

static int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Exactly 8 upper-case hexadecimal digits, a colon and 12 more.
static bool ParseIpxText(const char *text, uint8_t network[4], uint8_t node[6]) {
    if (std::strlen(text) != 21 || text[8] != ':')
        return false;
    uint8_t bytes[10];
    for (size_t i = 0; i < 10; ++i) {
        size_t at = i < 4 ? 2 * i : 2 * i + 1;
        int hi = HexDigit(text[at]), lo = HexDigit(text[at + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    std::memcpy(network, bytes, 4);
    std::memcpy(node, bytes + 4, 6);
    return true;
}

int ResolveDestination(const char *host, int32_t port, SnmpAddress &out) {
    if (!host || !*host)
        return kBerBadAddress;
    SnmpAddress a;
    if (std::strchr(host, ':')) {
        uint8_t network[4], node[6];
        if (!ParseIpxText(host, network, node))
            return kBerBadIpx;
        a.SetFamily(kFamilyIpx);
        std::memcpy(&a.bytes[2], network, 4);
        std::memcpy(&a.bytes[6], node, 6);
        a.SetPort(static_cast<uint16_t>(port));
        out = a;
        return kBerOk;
    }
    uint8_t addr[4];
    if (!ParseIpv4Text(host, addr)) {
        HostResolver resolve = g_resolver.load();
        if (!resolve || !resolve(host, addr))
            return kBerBadAddress;
    }
    out = SnmpAddress::Inet(addr, static_cast<uint16_t>(port));
    return kBerOk;
}

std::string AddressText(const SnmpAddress &addr) {
    char text[32];
    const uint8_t *b = addr.bytes.data();
    if (addr.Family() == kFamilyInet)
        std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[4], b[5], b[6], b[7]);
    else
        std::snprintf(text, sizeof text, "%02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X", b[2], b[3],
                      b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11]);
    return text;
}

bool IsBroadcast(const SnmpAddress &addr) {
    const uint8_t *b = addr.bytes.data();
    if (addr.Family() == kFamilyInet)
        return b[4] == 255 || b[5] == 255 || b[6] == 255 || b[7] == 255;
    static const uint8_t all[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    static const uint8_t alt[6] = {0xC0, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    return std::memcmp(b + 6, all, 6) == 0 || std::memcmp(b + 6, alt, 6) == 0;
}

void ApplyDefaultPort(SnmpAddress &addr) {
    if (addr.Port() == 0)
        addr.SetPort(addr.Family() == kFamilyInet ? kDefaultUdpPort : kDefaultIpxSocket);
}

// ---- the message ----

SnmpMessage::~SnmpMessage() = default;

void SnmpMessage::Clear() {
    responseInfo_.reset();
    responseBinds_.clear();
    trapInfo_.reset();
    trapBinds_.clear();
    root_.reset();
    pdu_ = nullptr;
    varBinds_ = nullptr;
    timeouts_.clear();
    text_.clear();
    proc_ = nullptr;
    context_ = nullptr;
}

uint32_t SnmpMessage::ContentLength() const {
    return root_ ? root_->EncodedSize() : 0;
}

void SnmpMessage::BuildTree(const SnmpMessageDesc &desc) {
    const char *community = desc.community ? desc.community : kDefaultCommunity;
    auto root = std::make_unique<BerSequence>(kTagSequence);
    root->Append(std::make_unique<BerInteger>(desc.version));
    root->Append(std::make_unique<BerOctetString>(community, std::strlen(community)));
    auto *pdu = static_cast<BerSequence *>(
        root->Append(std::make_unique<BerSequence>(static_cast<uint8_t>(desc.pduType & 0xFF))));
    pdu->Append(std::make_unique<BerInteger>(desc.requestId));
    pdu->Append(std::make_unique<BerInteger>(desc.errorStatus));
    pdu->Append(std::make_unique<BerInteger>(desc.errorIndex));
    varBinds_ =
        static_cast<BerSequence *>(pdu->Append(std::make_unique<BerSequence>(kTagSequence)));
    pdu_ = pdu;
    root_ = std::move(root);
}

static std::unique_ptr<BerValue> ComposeValue(const SnmpVarBind &vb) {
    const void *value = vb.value;
    switch (vb.type) {
    case kTagInteger:
        if (!value)
            ThrowBer(kBerBadData);
        return std::make_unique<BerInteger>(*static_cast<const int32_t *>(value));
    case kTagCounter:
    case kTagGauge:
    case kTagTimeTicks: {
        if (!value)
            ThrowBer(kBerBadData);
        uint32_t v = *static_cast<const uint32_t *>(value);
        if (vb.type == kTagCounter)
            return std::make_unique<BerCounter>(v);
        if (vb.type == kTagGauge)
            return std::make_unique<BerGauge>(v);
        return std::make_unique<BerTimeTicks>(v);
    }
    case kTagOctetString:
        if (vb.length < 0 || (vb.length > 0 && !value))
            ThrowBer(kBerBadData);
        return std::make_unique<BerOctetString>(value, static_cast<size_t>(vb.length));
    case kTagNull:
        return std::make_unique<BerNull>();
    case kTagObjectId: {
        auto oid = std::make_unique<BerObjectId>();
        if (int rc = oid->ParseText(static_cast<const char *>(value)))
            ThrowBer(rc);
        return oid;
    }
    case kTagIpAddress: {
        auto ip = std::make_unique<BerIpAddress>();
        if (int rc = ip->ParseText(static_cast<const char *>(value)))
            ThrowBer(rc);
        return ip;
    }
    default:
        ThrowBer(kBerBadData);
    }
}

int SnmpMessage::Compose(const SnmpMessageDesc &desc) {
    try {
        Clear();
        if (desc.varBindCount < 0 || (desc.varBindCount > 0 && !desc.varBinds))
            return kBerNoMemory;
        std::vector<int32_t> timeouts;
        for (int32_t t : desc.timeouts) {
            if (t == 0)
                break;
            if (t < 0)
                return kBerNoMemory;
            timeouts.push_back(t);
        }
        if (timeouts.empty())
            return kBerNoMemory;

        if (!desc.host || !*desc.host)
            return kBerBadAddress;
        text_ = desc.host;
        port_ = desc.port;
        if (int rc = ResolveDestination(desc.host, desc.port, address_))
            return rc;

        BuildTree(desc);
        timeouts_ = std::move(timeouts);
        proc_ = desc.responseProc;
        context_ = desc.responseContext;

        for (int32_t i = 0; i < desc.varBindCount; ++i) {
            const SnmpVarBind &vb = desc.varBinds[i];
            auto oid = std::make_unique<BerObjectId>();
            if (int rc = oid->ParseText(vb.oid))
                ThrowBer(rc);
            std::unique_ptr<BerValue> value = ComposeValue(vb);
            auto entry = std::make_unique<BerSequence>(kTagSequence);
            entry->Append(std::move(oid));
            entry->Append(std::move(value));
            varBinds_->Append(std::move(entry));
        }
        return kBerOk;
    } catch (const BerError &e) {
        Clear();
        return e.code;
    } catch (const std::bad_alloc &) {
        Clear();
        return kBerNoMemory;
    }
}

int SnmpMessage::EncodeTo(BerBuffer &out) const {
    if (!root_)
        return kBerBadOid; // no variable-binding list
    try {
        root_->Encode(out);
        return kBerOk;
    } catch (const BerError &e) {
        return e.code;
    } catch (const std::bad_alloc &) {
        return kBerNoMemory;
    }
}

int SnmpMessage::Parse(const SnmpAddress &sender, const uint8_t *data, size_t size) {
    try {
        Clear();
        address_ = sender;
        text_ = AddressText(sender);
        port_ = sender.Port();
        if (!data || size == 0 || size > UINT32_MAX)
            return kBerBadData;
        BerBuffer in(data, size);
        uint8_t tag = in.Read(in.Size());
        if (tag != kTagSequence)
            return kBerBadData;
        auto root = std::make_unique<BerSequence>(tag);
        root->DecodeChildren(in, in.Size(), 0);
        // version INTEGER, community OCTET STRING, PDU of a constructed context tag.
        if (!BerChild<BerInteger>(root.get(), 0, kTagInteger))
            return kBerBadData;
        if (!BerChild<BerOctetString>(root.get(), 1, kTagOctetString))
            return kBerBadData;
        BerValue *pdu = root->At(2);
        if (!pdu || (pdu->Tag() & 0xE0) != 0xA0)
            return kBerBadData;
        auto *seq = static_cast<BerSequence *>(pdu);
        BerValue *list = seq->At(seq->Tag() == kTagTrap ? 5 : 3);
        if (list && list->Tag() != kTagSequence)
            return kBerBadData;
        pdu_ = seq;
        varBinds_ = static_cast<BerSequence *>(list);
        root_ = std::move(root);
        return kBerOk;
    } catch (const BerError &e) {
        pdu_ = varBinds_ = nullptr;
        root_.reset();
        return e.code;
    } catch (const std::bad_alloc &) {
        pdu_ = varBinds_ = nullptr;
        root_.reset();
        return kBerNoMemory;
    }
}

bool SnmpMessage::HasRequestId() const {
    return BerChild<BerInteger>(pdu_, 0, kTagInteger) != nullptr;
}

int32_t SnmpMessage::GetRequestId() const {
    const BerInteger *id = BerChild<BerInteger>(pdu_, 0, kTagInteger);
    return id ? id->Value() : 0;
}

void SnmpMessage::SetRequestId(int32_t id) {
    if (BerInteger *v = BerChild<BerInteger>(pdu_, 0, kTagInteger))
        v->SetValue(id);
}

uint8_t SnmpMessage::GetPduTag() const {
    return pdu_ ? pdu_->Tag() : 0;
}

// The INTEGER at index of the PDU: its value, 0 when absent, kBerBadData when of another type.
static int32_t PduInteger(const BerSequence *pdu, size_t index) {
    const BerValue *v = pdu->At(index);
    if (!v)
        return 0;
    if (v->Tag() != kTagInteger)
        ThrowBer(kBerBadData);
    return static_cast<const BerInteger *>(v)->Value();
}

void SnmpMessage::FillVarBinds(std::vector<SnmpVarBind> &out) const {
    out.clear();
    if (!varBinds_)
        return;
    out.reserve(varBinds_->Count());
    for (size_t i = 0; i < varBinds_->Count(); ++i) {
        const BerSequence *entry = BerChild<BerSequence>(varBinds_, i, kTagSequence);
        if (!entry)
            ThrowBer(kBerBadData);
        const BerObjectId *oid = BerChild<BerObjectId>(entry, 0, kTagObjectId);
        const BerValue *value = entry->At(1);
        if (!oid || !value)
            ThrowBer(kBerBadData);
        SnmpVarBind vb{};
        vb.oid = oid->Text().c_str();
        vb.type = value->Tag();
        switch (value->Tag()) {
        case kTagInteger:
            vb.length = 4;
            vb.value = static_cast<const BerInteger *>(value)->ValuePtr();
            break;
        case kTagCounter:
        case kTagGauge:
        case kTagTimeTicks:
            vb.length = 4;
            vb.value = static_cast<const BerUnsigned32 *>(value)->ValuePtr();
            break;
        case kTagOctetString:
        case kTagIpAddress: {
            auto *s = static_cast<const BerOctetString *>(value);
            if (s->Size() > INT32_MAX)
                ThrowBer(kBerBadData);
            vb.length = static_cast<int32_t>(s->Size());
            vb.value = s->Bytes();
            break;
        }
        case kTagNull:
            vb.length = 0;
            vb.value = nullptr;
            break;
        case kTagObjectId: {
            auto *o = static_cast<const BerObjectId *>(value);
            vb.length = static_cast<int32_t>(o->Text().size());
            vb.value = o->Text().c_str();
            break;
        }
        default:
            ThrowBer(kBerBadData);
        }
        out.push_back(vb);
    }
}

const SnmpMessageDesc *SnmpMessage::BuildResponseInfo() {
    if (responseInfo_)
        return responseInfo_.get();
    if (!root_ || !pdu_)
        return nullptr;
    try {
        auto info = std::make_unique<SnmpMessageDesc>();
        std::memset(info.get(), 0, sizeof *info);
        std::vector<SnmpVarBind> binds;
        FillVarBinds(binds);
        info->host = text_.c_str();
        info->port = port_;
        info->pduType = pdu_->Tag();
        info->version = 0;
        info->community = reinterpret_cast<const char *>(
            BerChild<BerOctetString>(root_.get(), 1, kTagOctetString)->Bytes());
        info->requestId = PduInteger(pdu_, 0);
        info->errorStatus = PduInteger(pdu_, 1);
        info->errorIndex = PduInteger(pdu_, 2);
        responseBinds_ = std::move(binds);
        info->varBindCount = static_cast<int32_t>(responseBinds_.size());
        info->varBinds = responseBinds_.empty() ? nullptr : responseBinds_.data();
        responseInfo_ = std::move(info);
        return responseInfo_.get();
    } catch (const BerError &) {
        return nullptr;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

const SnmpTrapInfo *SnmpMessage::BuildTrapInfo() {
    if (trapInfo_)
        return trapInfo_.get();
    if (!root_ || !pdu_ || pdu_->Count() < 5)
        return nullptr;
    try {
        const BerObjectId *enterprise = BerChild<BerObjectId>(pdu_, 0, kTagObjectId);
        const BerInteger *generic = BerChild<BerInteger>(pdu_, 2, kTagInteger);
        const BerInteger *specific = BerChild<BerInteger>(pdu_, 3, kTagInteger);
        const BerTimeTicks *stamp = BerChild<BerTimeTicks>(pdu_, 4, kTagTimeTicks);
        if (!enterprise || !generic || !specific || !stamp)
            return nullptr;
        auto info = std::make_unique<SnmpTrapInfo>();
        std::memset(info.get(), 0, sizeof *info);
        std::vector<SnmpVarBind> binds;
        FillVarBinds(binds);
        info->reserved = 0;
        info->community = reinterpret_cast<const char *>(
            BerChild<BerOctetString>(root_.get(), 1, kTagOctetString)->Bytes());
        info->enterprise = enterprise->Text().c_str();
        info->agent = text_.c_str();
        info->genericTrap = generic->Value();
        info->specificTrap = specific->Value();
        info->timeStamp = stamp->Value();
        trapBinds_ = std::move(binds);
        info->varBindCount = static_cast<int32_t>(trapBinds_.size());
        info->varBinds = trapBinds_.empty() ? nullptr : trapBinds_.data();
        trapInfo_ = std::move(info);
        return trapInfo_.get();
    } catch (const BerError &) {
        return nullptr;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

} // namespace tessyn

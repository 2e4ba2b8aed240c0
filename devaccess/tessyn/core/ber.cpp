#include "ber.h"

#include <cstring>
#include <new>

namespace tessyn {

void ThrowBer(int code) {
    throw BerError{code};
}

// ---- BerBuffer ----

BerBuffer::BerBuffer(const uint8_t *data, size_t size) {
    if (size)
        Append(data, size);
}

void BerBuffer::Reserve(uint64_t needed) {
    if (needed <= capacity_)
        return;
    // Whole steps of 256 octets, so that any single write fits.
    uint64_t grown = (needed + kStep - 1) / kStep * kStep;
    if (grown > UINT32_MAX)
        ThrowBer(kBerNoMemory);
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[static_cast<size_t>(grown)]);
    if (!block)
        ThrowBer(kBerNoMemory);
    if (length_)
        std::memcpy(block.get(), data_.get(), length_);
    data_ = std::move(block);
    capacity_ = static_cast<uint32_t>(grown);
}

void BerBuffer::Append(const uint8_t *data, size_t size) {
    if (!size)
        return;
    Reserve(static_cast<uint64_t>(length_) + size);
    std::memcpy(data_.get() + length_, data, size);
    length_ += static_cast<uint32_t>(size);
}

uint8_t BerBuffer::Read(uint32_t end) {
    if (end > length_ || position_ >= end)
        ThrowBer(kBerBadData);
    return data_[position_++];
}

const uint8_t *BerBuffer::ReadSpan(uint32_t size, uint32_t end) {
    if (end > length_ || Left(end) < size)
        ThrowBer(kBerBadData);
    const uint8_t *p = data_.get() + position_;
    position_ += size;
    return p;
}

// ---- headers ----

static unsigned OctetCount(uint32_t v) {
    unsigned n = 1;
    while (n < 4 && (v >> (8 * n)) != 0)
        ++n;
    return n;
}

uint32_t BerHeaderSize(uint32_t length) {
    return 1 + (length < 128 ? 1 : 1 + OctetCount(length));
}

void BerWriteHeader(BerBuffer &out, uint8_t tag, uint32_t length) {
    out.Append(tag);
    if (length < 128) {
        out.Append(static_cast<uint8_t>(length));
        return;
    }
    unsigned n = OctetCount(length);
    out.Append(static_cast<uint8_t>(0x80 | n));
    for (unsigned i = n; i-- > 0;)
        out.Append(static_cast<uint8_t>(length >> (8 * i)));
}

uint32_t BerReadLength(BerBuffer &in, uint32_t end) {
    uint8_t first = in.Read(end);
    uint32_t length = first;
    if (first & 0x80) {
        unsigned n = first & 0x7F;
        // The indefinite form (0x80) and lengths of more than four octets are refused.
        if (n == 0 || n > 4)
            ThrowBer(kBerBadData);
        length = 0;
        for (unsigned i = 0; i < n; ++i)
            length = (length << 8) | in.Read(end);
    }
    if (length > in.Left(end))
        ThrowBer(kBerBadData);
    return length;
}

uint32_t BerValue::EncodedSize() const {
    uint32_t length = ContentLength();
    return BerHeaderSize(length) + length;
}

// ---- INTEGER ----

uint32_t BerInteger::ContentLength() const {
    uint32_t n = 4;
    uint32_t u = static_cast<uint32_t>(value_);
    // Drop a leading 0x00 / 0xFF octet while the next octet keeps the sign.
    while (n > 1) {
        uint8_t top = static_cast<uint8_t>(u >> (8 * (n - 1)));
        uint8_t next = static_cast<uint8_t>(u >> (8 * (n - 2)));
        if ((top == 0x00 && !(next & 0x80)) || (top == 0xFF && (next & 0x80)))
            --n;
        else
            break;
    }
    return n;
}

void BerInteger::Encode(BerBuffer &out) const {
    uint32_t n = ContentLength();
    BerWriteHeader(out, Tag(), n);
    uint32_t u = static_cast<uint32_t>(value_);
    for (uint32_t i = n; i-- > 0;)
        out.Append(static_cast<uint8_t>(u >> (8 * i)));
}

void BerInteger::Decode(BerBuffer &in, uint32_t end, unsigned) {
    uint32_t n = BerReadLength(in, end);
    if (n > 4)
        ThrowBer(kBerBadData);
    const uint8_t *p = in.ReadSpan(n, end);
    uint32_t u = (n && (p[0] & 0x80)) ? 0xFFFFFFFFu : 0;
    for (uint32_t i = 0; i < n; ++i)
        u = (u << 8) | p[i];
    value_ = static_cast<int32_t>(u);
}

// ---- OCTET STRING, IpAddress ----

BerOctetString::BerOctetString(const void *data, size_t size) {
    Assign(static_cast<const uint8_t *>(data), size);
}

void BerOctetString::Assign(const uint8_t *data, size_t size) {
    if (size > UINT32_MAX - 1)
        ThrowBer(kBerNoMemory);
    std::vector<uint8_t> bytes;
    bytes.reserve(size + 1);
    if (size)
        bytes.assign(data, data + size);
    bytes.push_back(0);
    bytes_ = std::move(bytes);
}

void BerOctetString::Encode(BerBuffer &out) const {
    BerWriteHeader(out, Tag(), Size());
    out.Append(Bytes(), Size());
}

void BerOctetString::Decode(BerBuffer &in, uint32_t end, unsigned) {
    uint32_t n = BerReadLength(in, end);
    Assign(in.ReadSpan(n, end), n);
}

// Digits only, at most 255; an empty part is 0.
static bool ParseByte(const char *begin, const char *end, uint8_t &out) {
    unsigned v = 0;
    for (const char *p = begin; p < end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + static_cast<unsigned>(*p - '0');
        if (v > 255)
            return false;
    }
    out = static_cast<uint8_t>(v);
    return true;
}

int BerIpAddress::ParseText(const char *text) {
    if (!text)
        return kBerBadAddress;
    std::vector<uint8_t> bytes;
    const char *p = text;
    for (;;) {
        const char *dot = std::strchr(p, '.');
        const char *end = dot ? dot : p + std::strlen(p);
        uint8_t b;
        if (!ParseByte(p, end, b))
            return kBerBadAddress;
        bytes.push_back(b);
        if (!dot)
            break;
        p = dot + 1;
    }
    if (bytes.size() < 4)
        return kBerBadAddress;
    Assign(bytes.data(), bytes.size());
    return kBerOk;
}

// ---- NULL ----

void BerNull::Encode(BerBuffer &out) const {
    BerWriteHeader(out, Tag(), 0);
}

void BerNull::Decode(BerBuffer &in, uint32_t end, unsigned) {
    uint32_t n = BerReadLength(in, end);
    in.ReadSpan(n, end);
}

// ---- OBJECT IDENTIFIER ----

static uint32_t SubidSize(uint32_t v) {
    uint32_t n = 1;
    while (v >>= 7)
        ++n;
    return n;
}

static void WriteSubid(BerBuffer &out, uint32_t v) {
    uint32_t n = SubidSize(v);
    for (uint32_t i = n; i-- > 0;) {
        uint8_t octet = static_cast<uint8_t>((v >> (7 * i)) & 0x7F);
        out.Append(static_cast<uint8_t>(i ? octet | 0x80 : octet));
    }
}

uint32_t BerObjectId::ContentLength() const {
    if (arcs_.size() < 2)
        return 0;
    uint32_t n = SubidSize(arcs_[0] * 40 + arcs_[1]);
    for (size_t i = 2; i < arcs_.size(); ++i)
        n += SubidSize(arcs_[i]);
    return n;
}

void BerObjectId::Encode(BerBuffer &out) const {
    BerWriteHeader(out, Tag(), ContentLength());
    if (arcs_.size() < 2)
        return;
    WriteSubid(out, arcs_[0] * 40 + arcs_[1]);
    for (size_t i = 2; i < arcs_.size(); ++i)
        WriteSubid(out, arcs_[i]);
}

void BerObjectId::Decode(BerBuffer &in, uint32_t end, unsigned) {
    uint32_t n = BerReadLength(in, end);
    if (n == 0)
        ThrowBer(kBerBadData);
    const uint8_t *p = in.ReadSpan(n, end);
    std::vector<uint32_t> arcs;
    uint32_t i = 0;
    while (i < n) {
        uint64_t v = 0;
        for (;;) {
            if (i >= n)
                ThrowBer(kBerBadData); // subidentifier not terminated
            uint8_t octet = p[i++];
            v = (v << 7) | (octet & 0x7F);
            if (v > UINT32_MAX)
                ThrowBer(kBerBadData);
            if (!(octet & 0x80))
                break;
        }
        uint32_t sub = static_cast<uint32_t>(v);
        if (arcs.empty()) {
            if (sub < 40) {
                arcs.push_back(0);
                arcs.push_back(sub);
            } else if (sub < 80) {
                arcs.push_back(1);
                arcs.push_back(sub - 40);
            } else {
                arcs.push_back(2);
                arcs.push_back(sub - 80);
            }
        } else {
            arcs.push_back(sub);
        }
        if (arcs.size() > kBerMaxArcs)
            ThrowBer(kBerBadData);
    }
    std::string text;
    for (size_t k = 0; k < arcs.size(); ++k) {
        if (k)
            text += '.';
        text += std::to_string(arcs[k]);
    }
    arcs_ = std::move(arcs);
    text_ = std::move(text);
}

int BerObjectId::ParseText(const char *text) {
    if (!text)
        return kBerBadOid;
    std::vector<uint32_t> arcs;
    const char *p = text;
    for (;;) {
        const char *dot = std::strchr(p, '.');
        const char *end = dot ? dot : p + std::strlen(p);
        if (end == p)
            return kBerBadOid; // empty part
        uint64_t v = 0;
        for (const char *q = p; q < end; ++q) {
            if (*q < '0' || *q > '9')
                return kBerBadOid;
            v = v * 10 + static_cast<unsigned>(*q - '0');
            if (v > UINT32_MAX)
                return kBerBadOid;
        }
        arcs.push_back(static_cast<uint32_t>(v));
        if (arcs.size() > kBerMaxArcs)
            return kBerBadOid;
        if (!dot)
            break;
        p = dot + 1;
    }
    if (arcs.size() < 2)
        return kBerBadOid;
    if (static_cast<uint64_t>(arcs[0]) * 40 + arcs[1] > UINT32_MAX)
        return kBerBadOid;
    arcs_ = std::move(arcs);
    text_ = text;
    return kBerOk;
}

// ---- Counter, Gauge, TimeTicks ----

uint32_t BerUnsigned32::ContentLength() const {
    uint32_t n = OctetCount(value_);
    if ((value_ >> (8 * (n - 1))) & 0x80)
        ++n;
    return n;
}

void BerUnsigned32::Encode(BerBuffer &out) const {
    uint32_t n = ContentLength();
    BerWriteHeader(out, Tag(), n);
    for (uint32_t i = n; i-- > 0;)
        out.Append(i >= 4 ? 0 : static_cast<uint8_t>(value_ >> (8 * i)));
}

void BerUnsigned32::Decode(BerBuffer &in, uint32_t end, unsigned) {
    uint32_t n = BerReadLength(in, end);
    if (n > 5)
        ThrowBer(kBerBadData);
    const uint8_t *p = in.ReadSpan(n, end);
    if (n == 5 && p[0] != 0)
        ThrowBer(kBerBadData);
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    value_ = v;
}

// ---- SEQUENCE and the PDUs ----

uint32_t BerSequence::ContentLength() const {
    uint64_t n = 0;
    for (const auto &c : children_)
        n += c->EncodedSize();
    if (n > UINT32_MAX)
        ThrowBer(kBerNoMemory);
    return static_cast<uint32_t>(n);
}

void BerSequence::Encode(BerBuffer &out) const {
    BerWriteHeader(out, Tag(), ContentLength());
    for (const auto &c : children_)
        c->Encode(out);
}

BerValue *BerSequence::Append(std::unique_ptr<BerValue> child) {
    children_.push_back(std::move(child));
    return children_.back().get();
}

static std::unique_ptr<BerValue> MakeValue(uint8_t tag) {
    switch (tag) {
    case kTagInteger:
        return std::make_unique<BerInteger>();
    case kTagOctetString:
        return std::make_unique<BerOctetString>();
    case kTagNull:
        return std::make_unique<BerNull>();
    case kTagObjectId:
        return std::make_unique<BerObjectId>();
    case kTagSequence:
    case kTagGetRequest:
    case kTagGetNextRequest:
    case kTagGetResponse:
    case kTagSetRequest:
    case kTagTrap:
    case kTagTrapV2:
        return std::make_unique<BerSequence>(tag);
    case kTagIpAddress:
        return std::make_unique<BerIpAddress>();
    case kTagCounter:
        return std::make_unique<BerCounter>();
    case kTagGauge:
        return std::make_unique<BerGauge>();
    case kTagTimeTicks:
        return std::make_unique<BerTimeTicks>();
    default:
        return nullptr;
    }
}

void BerSequence::DecodeChildren(BerBuffer &in, uint32_t end, unsigned depth) {
    if (depth >= kBerMaxDepth)
        ThrowBer(kBerBadData);
    uint32_t length = BerReadLength(in, end);
    uint32_t stop = in.Position() + length;
    children_.clear();
    while (in.Position() < stop) {
        uint8_t tag = in.Read(stop);
        if ((tag & 0x1F) == 0x1F)
            ThrowBer(kBerBadData); // high tag numbers are not SNMPv1
        std::unique_ptr<BerValue> child = MakeValue(tag);
        if (!child) {
            // An element of unknown type is passed over whole.
            uint32_t n = BerReadLength(in, stop);
            in.ReadSpan(n, stop);
            continue;
        }
        child->Decode(in, stop, depth + 1);
        children_.push_back(std::move(child));
    }
}

} // namespace tessyn

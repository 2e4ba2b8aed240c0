// BER values of SNMPv1 (definite lengths only) and the buffer they are written to and read
// from. Errors are thrown as BerError with one of the codes below and caught by the message
// operation that started the work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../tessyn.h"

namespace tessyn {

enum BerCode : int {
    kBerOk = 0,
    kBerNoMemory = TESSYN_E_MEMORY,
    kBerBadOid = TESSYN_E_OID,
    kBerBadIpx = TESSYN_E_IPX,
    kBerBadAddress = TESSYN_E_HOST,
    kBerBadData = TESSYN_E_VALUE,
};

struct BerError {
    int code;
};

[[noreturn]] void ThrowBer(int code);

// Identifier octets known to the decoder.
enum BerTag : uint8_t {
    kTagInteger = 0x02,
    kTagOctetString = 0x04,
    kTagNull = 0x05,
    kTagObjectId = 0x06,
    kTagSequence = 0x30,
    kTagIpAddress = 0x40,
    kTagCounter = 0x41,
    kTagGauge = 0x42,
    kTagTimeTicks = 0x43,
    kTagGetRequest = 0xA0,
    kTagGetNextRequest = 0xA1,
    kTagGetResponse = 0xA2,
    kTagSetRequest = 0xA3,
    kTagTrap = 0xA4,
    kTagTrapV2 = 0xA7,
};

// Deepest nesting of constructed values the decoder accepts (SNMPv1 needs 4).
constexpr unsigned kBerMaxDepth = 16;
// Most arcs in an object identifier, as text or on the wire.
constexpr size_t kBerMaxArcs = 128;

// A growable byte buffer, written at its end and read from a read position.
class BerBuffer {
  public:
    static constexpr uint32_t kStep = 256;

    BerBuffer() = default;
    BerBuffer(const uint8_t *data, size_t size);
    BerBuffer(const BerBuffer &) = delete;
    BerBuffer &operator=(const BerBuffer &) = delete;

    void Append(uint8_t octet) { Append(&octet, 1); }
    void Append(const uint8_t *data, size_t size);

    const uint8_t *Data() const { return data_.get(); }
    uint32_t Size() const { return length_; }
    uint32_t Capacity() const { return capacity_; }

    uint32_t Position() const { return position_; }
    // Octets left before end (an absolute position no greater than Size()).
    uint32_t Left(uint32_t end) const { return end > position_ ? end - position_ : 0; }
    // One octet before end; kBerBadData when none is left.
    uint8_t Read(uint32_t end);
    // size octets before end; kBerBadData when fewer are left.
    const uint8_t *ReadSpan(uint32_t size, uint32_t end);

  private:
    void Reserve(uint64_t needed);

    std::unique_ptr<uint8_t[]> data_;
    uint32_t capacity_ = 0;
    uint32_t length_ = 0;
    uint32_t position_ = 0;
};

// Writes an identifier octet and a definite length.
void BerWriteHeader(BerBuffer &out, uint8_t tag, uint32_t length);
// Reads a definite length and checks that the content ends no later than end.
uint32_t BerReadLength(BerBuffer &in, uint32_t end);
// Octets of the header of an element with this content length.
uint32_t BerHeaderSize(uint32_t length);

class BerValue {
  public:
    virtual ~BerValue() = default;
    virtual uint8_t Tag() const { return 0; }
    virtual uint32_t ContentLength() const { return 0; }
    virtual void Encode(BerBuffer &out) const { out.Append(0); }
    // Reads length and content (the identifier was read by the caller); the element must end
    // no later than end. depth counts the constructed values around this one.
    virtual void Decode(BerBuffer &in, uint32_t end, unsigned depth) {
        (void)in, (void)end, (void)depth;
    }

    // Size of the whole encoding.
    uint32_t EncodedSize() const;
};

class BerInteger : public BerValue {
  public:
    explicit BerInteger(int32_t value = 0) : value_(value) {}
    uint8_t Tag() const override { return kTagInteger; }
    uint32_t ContentLength() const override;
    void Encode(BerBuffer &out) const override;
    void Decode(BerBuffer &in, uint32_t end, unsigned depth) override;

    int32_t Value() const { return value_; }
    const int32_t *ValuePtr() const { return &value_; }
    void SetValue(int32_t value) { value_ = value; }

  private:
    int32_t value_;
};

class BerOctetString : public BerValue {
  public:
    BerOctetString() : bytes_(1, 0) {}
    BerOctetString(const void *data, size_t size);
    uint8_t Tag() const override { return kTagOctetString; }
    uint32_t ContentLength() const override { return Size(); }
    void Encode(BerBuffer &out) const override;
    void Decode(BerBuffer &in, uint32_t end, unsigned depth) override;

    // The bytes, followed by a NUL that Size() does not count.
    const uint8_t *Bytes() const { return bytes_.data(); }
    uint32_t Size() const { return static_cast<uint32_t>(bytes_.size() - 1); }

  protected:
    void Assign(const uint8_t *data, size_t size);

  private:
    std::vector<uint8_t> bytes_;
};

class BerNull : public BerValue {
  public:
    uint8_t Tag() const override { return kTagNull; }
    uint32_t ContentLength() const override { return 0; }
    void Encode(BerBuffer &out) const override;
    void Decode(BerBuffer &in, uint32_t end, unsigned depth) override;
};

class BerObjectId : public BerValue {
  public:
    uint8_t Tag() const override { return kTagObjectId; }
    uint32_t ContentLength() const override;
    void Encode(BerBuffer &out) const override;
    void Decode(BerBuffer &in, uint32_t end, unsigned depth) override;

    // Dotted decimal text to arcs; kBerBadOid for a bad text (the value is then unchanged).
    int ParseText(const char *text);
    const std::vector<uint32_t> &Arcs() const { return arcs_; }
    const std::string &Text() const { return text_; }

  private:
    std::vector<uint32_t> arcs_;
    std::string text_;
};

class BerIpAddress : public BerOctetString {
  public:
    uint8_t Tag() const override { return kTagIpAddress; }
    // Dotted decimal text (at least four parts, an empty part is 0) to bytes; kBerBadAddress
    // when bad.
    int ParseText(const char *text);
};

// Counter, Gauge and TimeTicks: unsigned 32-bit values with a leading 0x00 octet when the
// top bit of the first content octet is set.
class BerUnsigned32 : public BerValue {
  public:
    uint32_t ContentLength() const override;
    void Encode(BerBuffer &out) const override;
    void Decode(BerBuffer &in, uint32_t end, unsigned depth) override;

    uint32_t Value() const { return value_; }
    const uint32_t *ValuePtr() const { return &value_; }
    void SetValue(uint32_t value) { value_ = value; }

  protected:
    explicit BerUnsigned32(uint32_t value) : value_(value) {}

  private:
    uint32_t value_;
};

class BerCounter : public BerUnsigned32 {
  public:
    explicit BerCounter(uint32_t value = 0) : BerUnsigned32(value) {}
    uint8_t Tag() const override { return kTagCounter; }
};

class BerGauge : public BerUnsigned32 {
  public:
    explicit BerGauge(uint32_t value = 0) : BerUnsigned32(value) {}
    uint8_t Tag() const override { return kTagGauge; }
};

class BerTimeTicks : public BerUnsigned32 {
  public:
    explicit BerTimeTicks(uint32_t value = 0) : BerUnsigned32(value) {}
    uint8_t Tag() const override { return kTagTimeTicks; }
};

class BerSequence : public BerValue {
  public:
    explicit BerSequence(uint8_t tag = kTagSequence) : tag_(tag) {}
    uint8_t Tag() const override { return tag_; }
    uint32_t ContentLength() const override;
    void Encode(BerBuffer &out) const override;
    void Decode(BerBuffer &in, uint32_t end, unsigned depth) override {
        DecodeChildren(in, end, depth);
    }

    // Reads the length and every child; unknown elements are passed over whole.
    void DecodeChildren(BerBuffer &in, uint32_t end, unsigned depth);

    BerValue *Append(std::unique_ptr<BerValue> child);
    size_t Count() const { return children_.size(); }
    // The child at index, or nullptr.
    BerValue *At(size_t index) const {
        return index < children_.size() ? children_[index].get() : nullptr;
    }

  private:
    uint8_t tag_;
    std::vector<std::unique_ptr<BerValue>> children_;
};

// The element at index of seq when it has the given tag, else nullptr.
template <class T> T *BerChild(const BerSequence *seq, size_t index, uint8_t tag) {
    if (!seq)
        return nullptr;
    BerValue *v = seq->At(index);
    return v && v->Tag() == tag ? static_cast<T *>(v) : nullptr;
}

} // namespace tessyn

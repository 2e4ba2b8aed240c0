// One SNMPv1 message: composed from a caller's descriptor and encoded for sending, or parsed
// from a datagram and turned into the records handed to the caller's procedures. Also the
// address texts: destination resolution, the sender's text and the broadcast rule.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../tessyn.h"
#include "ber.h"

namespace tessyn {

// Address families as the platform numbers them.
constexpr uint16_t kFamilyInet = 2;
constexpr uint16_t kFamilyIpx = 6;
constexpr uint16_t kDefaultUdpPort = 161;
constexpr uint16_t kDefaultIpxSocket = 0x900F;
extern const char kDefaultCommunity[];

// A 16-byte copy of the platform's socket address. IPv4: family (little-endian) at 0, port
// (network order) at 2, address at 4. IPX: family at 0, network at 2, node at 6, socket
// (network order) at 12.
struct SnmpAddress {
    std::array<uint8_t, 16> bytes{};

    uint16_t Family() const { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }
    void SetFamily(uint16_t f) {
        bytes[0] = static_cast<uint8_t>(f);
        bytes[1] = static_cast<uint8_t>(f >> 8);
    }
    // The port (IPv4) or socket (IPX) in host order.
    uint16_t Port() const;
    void SetPort(uint16_t port);
    static SnmpAddress Inet(const uint8_t addr[4], uint16_t port);
};

// Resolves a host name to an IPv4 address; false when it does not resolve. The DLL installs
// one that asks the platform resolver; without one every name fails.
using HostResolver = bool (*)(const char *name, uint8_t addr[4]);
void SetHostResolver(HostResolver resolver);

// A dotted quad: at least four dot-separated parts, each digits only (an empty part is 0) and
// at most 255; the first four are the address. False for any other text.
bool ParseIpv4Text(const char *text, uint8_t addr[4]);
// Destination of host text and a host-order port: IPX text ("NNNNNNNN:HHHHHHHHHHHH", upper-case
// hexadecimal), a dotted quad or a host name. 0, kBerBadIpx or kBerBadAddress (no such host).
int ResolveDestination(const char *host, int32_t port, SnmpAddress &out);
// The sender's text: dotted decimal for IPv4, the IPX form otherwise.
std::string AddressText(const SnmpAddress &addr);
// True when any IPv4 address byte is 255, or the IPX node is FF-FF-FF-FF-FF-FF or
// C0-00-FF-FF-FF-FF.
bool IsBroadcast(const SnmpAddress &addr);
// Fills in the default port (161) or IPX socket (0x900F) when the address has none.
void ApplyDefaultPort(SnmpAddress &addr);

// The next request id after counter (1 to 65535, skipping ids still pending), stored back
// into counter; 0 when every id is pending.
template <class PendingMap> uint16_t NextRequestId(uint16_t &counter, const PendingMap &pending) {
    if (pending.size() >= 0xFFFF)
        return 0;
    do {
        counter = counter == 0xFFFF ? 1 : static_cast<uint16_t>(counter + 1);
    } while (pending.count(counter));
    return counter;
}

class SnmpMessage : public BerValue {
  public:
    SnmpMessage() = default;
    ~SnmpMessage() override;
    SnmpMessage(const SnmpMessage &) = delete;
    SnmpMessage &operator=(const SnmpMessage &) = delete;

    uint8_t Tag() const override { return kTagSequence; }
    // Size of the whole encoded message.
    uint32_t ContentLength() const override;

    // Builds the message from a descriptor: 0 or a BerCode.
    int Compose(const SnmpMessageDesc &desc);
    // Appends the encoding: 0 or an error.
    int EncodeTo(BerBuffer &out) const;
    // Takes the sender's address and decodes one datagram: 0 or kBerBadData (also for a message
    // whose version, community or PDU is not of its type).
    int Parse(const SnmpAddress &sender, const uint8_t *data, size_t size);

    // The PDU's first element when it is an INTEGER.
    bool HasRequestId() const;
    int32_t GetRequestId() const;
    void SetRequestId(int32_t id);
    uint8_t GetPduTag() const;

    const SnmpAddress &Destination() const { return address_; }
    const std::string &AddressString() const { return text_; }
    const std::vector<int32_t> &Timeouts() const { return timeouts_; }
    SnmpResponseProc ResponseProc() const { return proc_; }
    void *ResponseContext() const { return context_; }

    // The records handed to the caller's procedures; owned by the message, nullptr when the
    // message does not have their shape.
    const SnmpMessageDesc *BuildResponseInfo();
    const SnmpTrapInfo *BuildTrapInfo();

  private:
    void Clear();
    void BuildTree(const SnmpMessageDesc &desc);
    void FillVarBinds(std::vector<SnmpVarBind> &out) const;

    SnmpAddress address_;
    std::string text_;
    int32_t port_ = 0;
    SnmpResponseProc proc_ = nullptr;
    void *context_ = nullptr;
    std::unique_ptr<BerSequence> root_;
    BerSequence *pdu_ = nullptr;
    BerSequence *varBinds_ = nullptr;
    std::vector<int32_t> timeouts_;
    std::unique_ptr<SnmpMessageDesc> responseInfo_;
    std::vector<SnmpVarBind> responseBinds_;
    std::unique_ptr<SnmpTrapInfo> trapInfo_;
    std::vector<SnmpVarBind> trapBinds_;
};

} // namespace tessyn

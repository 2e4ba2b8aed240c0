// The fake printer's network side for in-process tests: a TCP 9100 sink and an SNMPv1 agent on
// UDP, both bound on one loopback address 127.0.0.N.
//
// The agent answers only the community "tavmor" (other messages are recorded, not answered):
//   - GetRequest for kStatusOid: OCTET STRING, the status text (SetStatus, "17" at start);
//   - GetRequest and SetRequest for kTestOid: the test value (a Set stores the value it
//     carries, then answers it); GetNextRequest for kTestOidParent: the kTestOid binding;
//   - anything else: a GetResponse echoing the request's id and variable bindings.
// SetSilent(true) records requests without answering any; SetAnswerDelay holds answers back.
//
// Threads and locks are Win32 ones (see sink9100.h), so the fixture also runs in 32-bit tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sink9100.h"

namespace fakeprinter {

inline constexpr char kCommunity[] = "tavmor";
inline constexpr char kStatusOid[] = "1.3.6.1.4.1.7341.1.1.1.1.2.10.0";
inline constexpr char kTestOidParent[] = "1.3.6.1.4.1.7341.1.1.1.1.2.20";
inline constexpr char kTestOid[] = "1.3.6.1.4.1.7341.1.1.1.1.2.20.0";

// One datagram the agent received, as far as it could be read.
struct SnmpRequest {
    bool parsed = false;
    std::string community;
    int pduTag = 0;
    int32_t requestId = 0;
    std::string oid;            // the first variable binding's OID, dotted
    int valueTag = -1;          // the first variable binding's value tag
    std::vector<uint8_t> value; // its content octets
    double atMs = 0;            // since the agent started
};

// Reads an SNMPv1 message (request or response) into the record above.
SnmpRequest ReadSnmpDatagram(const std::vector<uint8_t> &bytes);

class FakePrinter {
  public:
    // address: a loopback address text; raw: how the 9100 sink treats connections; snmpPort:
    // the agent's UDP port (0: one the system chooses).
    explicit FakePrinter(std::string address = "127.0.0.1", sink9100::Options raw = {},
                         uint16_t snmpPort = 0);
    ~FakePrinter();
    FakePrinter(const FakePrinter &) = delete;
    FakePrinter &operator=(const FakePrinter &) = delete;

    // Binds address:9100 (TCP) and address:snmpPort (UDP); false with a message when either
    // cannot be bound.
    bool Start(std::string *error);
    void Stop();

    const std::string &Address() const { return address_; }
    uint16_t SnmpPort() const;
    sink9100::Sink &Raw() { return sink_; }

    void SetStatus(const std::string &text);
    void SetSilent(bool silent);
    // Holds every answer back for ms before sending it (0 at start).
    void SetAnswerDelay(int ms);
    // The test value: INTEGER 0 at start; a SetRequest stores its value (tag and octets).
    std::vector<uint8_t> TestValue() const;

    std::vector<SnmpRequest> SnmpRequests() const;
    // Waits (bounded) until at least count datagrams have arrived.
    bool WaitForSnmpRequests(size_t count, unsigned timeoutMs) const;

  private:
    struct Agent;
    std::string address_;
    uint16_t snmpPort_;
    sink9100::Sink sink_;
    std::unique_ptr<Agent> agent_;
};

} // namespace fakeprinter

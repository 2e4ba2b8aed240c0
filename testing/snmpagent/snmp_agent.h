// An SNMPv1 agent on loopback UDP that runs as a thread of a test program. It records every
// datagram it receives (arrival time, sender port, the request's fields as its own small BER
// reader sees them) and answers each one as the test's script says. Independent of the code
// under test: it has its own encoder and reader.
#pragma once

#include <winsock.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "win_socket_owner.h"

namespace snmpagent {

using Bytes = std::vector<uint8_t>;

// One received datagram.
struct Datagram {
    Bytes bytes;
    uint16_t senderPort = 0; // host order
    double atMs = 0;         // since the agent started
    bool parsed = false;     // the fields below were read
    int32_t version = -1;
    std::string community;
    uint8_t pduTag = 0;
    int32_t requestId = 0;
    Bytes varBindList; // the whole variable-binding list, header included
};

// One datagram to send back to the sender, after a delay.
struct Reply {
    Bytes bytes;
    int delayMs = 0;
};

using Script = std::function<std::vector<Reply>(const Datagram &)>;

// ---- encoding helpers ----
Bytes Tlv(uint8_t tag, const Bytes &content);
Bytes Cat(std::initializer_list<Bytes> parts);
Bytes Int(int32_t v);
Bytes Unsigned(uint8_t tag, uint32_t v); // Counter 0x41, Gauge 0x42, TimeTicks 0x43
Bytes Oid(const char *dotted);
Bytes Str(const std::string &s, uint8_t tag = 0x04);
Bytes VarBind(const char *oid, const Bytes &value);
Bytes VarBindList(std::initializer_list<Bytes> binds);
// A message {version 0, community, pdu}.
Bytes Message(const std::string &community, const Bytes &pdu);
// A GetResponse (or another tag) with this id, error 0 and the given list.
Bytes Response(const std::string &community, int32_t id, const Bytes &varBindList,
               uint8_t tag = 0xA2);
// A GetResponse that echoes a request: its community, id and variable bindings.
Bytes Echo(const Datagram &request, int32_t idDelta = 0);
// An SNMPv1 Trap-PDU.
Bytes Trap(const std::string &community, const char *enterprise, const uint8_t agentAddr[4],
           int32_t generic, int32_t specific, uint32_t ticks, const Bytes &varBindList);

// A script that answers each GetRequest of `community` with sysName.0 and sysDescr.0 (in
// that order, whatever was asked) and ignores everything else.
Script SystemAnswers(const std::string &sysName, const std::string &sysDescr,
                     const std::string &community = "tavmor");

// Reads one element at p (before end): its tag, content and the octets after it. False when
// the element does not fit.
bool ReadTlv(const uint8_t *&p, const uint8_t *end, uint8_t &tag, const uint8_t *&content,
             size_t &length);
// Reads a request datagram into its fields.
void ReadRequest(Datagram &d);

class Agent {
  public:
    // Binds address:port, a loopback address (127.0.0.N, NULL for 127.0.0.1) and nothing else.
    // Port 0 lets the system choose. Ok() is false when the bind fails; BindError() says why.
    explicit Agent(Script script = nullptr, uint16_t port = 0, const char *address = nullptr);
    ~Agent();
    Agent(const Agent &) = delete;
    Agent &operator=(const Agent &) = delete;

    bool Ok() const { return static_cast<bool>(socket_); }
    int BindError() const { return bindError_; }
    uint16_t Port() const { return port_; }
    void SetScript(Script script);
    // Sends bytes to 127.0.0.1:port from the agent's socket.
    void SendTo(uint16_t port, const Bytes &bytes);
    std::vector<Datagram> Received();
    size_t ReceivedCount();
    // Waits (bounded) until at least count datagrams have arrived.
    bool WaitForCount(size_t count, int timeoutMs);

  private:
    static DWORD WINAPI Main(void *param);
    void Run();

    win::Socket socket_;
    int bindError_ = 0;
    uint16_t port_ = 0;
    win::Handle thread_;
    std::atomic<bool> stop_{false};
    CRITICAL_SECTION lock_;
    Script script_;
    std::vector<Datagram> received_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace snmpagent

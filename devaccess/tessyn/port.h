// An open SNMP port: its socket, receive thread, pending requests and their sender threads.
#pragma once

#include <winsock.h>

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "core/snmp_message.h"
#include "win_socket_owner.h"

namespace tessyn {

class SnmpRequestTable;

// One posted message, owned by its table from insertion until its sender thread removes it.
struct SnmpRequest {
    SnmpAddress destination;
    SOCKET socket = INVALID_SOCKET;
    HANDLE waits[2] = {}; // the table's stop-all event, then the reply event (unicast only)
    DWORD waitCount = 0;
    win::Handle reply; // the reply event of waits[1]
    SnmpRequestTable *table = nullptr;
    std::vector<uint8_t> bytes;
    std::vector<int32_t> timeouts;
    uint16_t id = 0;
    SnmpResponseProc proc = nullptr;
    void *context = nullptr;
    bool broadcast = false;
    bool answered = false;
    HANDLE thread = nullptr;

    HANDLE ReplyEvent() const { return waitCount > 1 ? waits[1] : nullptr; }
};

class SnmpRequestTable {
  public:
    SnmpRequestTable() = default;
    ~SnmpRequestTable();
    SnmpRequestTable(const SnmpRequestTable &) = delete;
    SnmpRequestTable &operator=(const SnmpRequestTable &) = delete;

    // Creates the events; false when they cannot be created.
    bool Init();

    // Assigns the next request id to msg, encodes it and starts its sender thread: 0,
    // TESSYN_E_THREAD, TESSYN_E_HANDLE (table closed) or TESSYN_E_MEMORY.
    int Submit(SnmpMessage &msg, SOCKET socket);

    // Claims the request with this id for a call of its procedure. A unicast request is
    // claimed once; its reply event is set inside the claim.
    bool Claim(uint16_t id, SnmpResponseProc &proc, void *&context);

    // The sender thread's last step.
    void Remove(SnmpRequest *request);

    // The receive thread's last step: refuses new requests, stops the pending ones and waits
    // until every sender thread has ended.
    void CloseAndDrain();

    size_t PendingCount();

  private:
    static DWORD WINAPI SenderMain(void *param);
    void Discard(uint16_t id);
    void WaitAndClose(std::vector<HANDLE> &threads);

    std::map<uint16_t, std::unique_ptr<SnmpRequest>> pending_;
    bool closing_ = false;
    CRITICAL_SECTION lock_;
    bool lockReady_ = false;
    uint16_t counter_ = 0;
    HANDLE idle_ = nullptr;     // signalled while no request is pending (set under the lock)
    HANDLE stopAll_ = nullptr;  // signalled once when the port closes with requests pending
    std::vector<HANDLE> ended_; // sender threads past their removal, still to be waited for
};

class SnmpPort {
  public:
    SnmpPort() = default;
    ~SnmpPort();
    SnmpPort(const SnmpPort &) = delete;
    SnmpPort &operator=(const SnmpPort &) = delete;

    // Creates the socket and the receive thread: 0, TESSYN_E_MEMORY or TESSYN_E_SOCKET. word
    // receives the bound port word (the port as it lies in the bound address).
    int Open(int32_t kind, int32_t localPort, uint16_t &word);
    int Post(const SnmpMessageDesc &desc);
    void SetTrapProc(SnmpTrapProc proc, void *context);
    // Stops the receive thread (which waits for every sender thread) and closes the socket.
    void Close();

  private:
    static DWORD WINAPI ReceiveMain(void *param);
    void Receive();
    void Deliver(const uint8_t *data, int size, const SnmpAddress &sender);

    win::Socket socket_;
    SnmpRequestTable table_;
    uint8_t buffer_[2048];
    SnmpTrapProc trapProc_ = nullptr;
    void *trapContext_ = nullptr;
    CRITICAL_SECTION trapLock_; // pairs the trap procedure with its context
    win::Handle stop_;
    win::Handle thread_;
    CRITICAL_SECTION lock_;
    bool locksReady_ = false;
};

} // namespace tessyn

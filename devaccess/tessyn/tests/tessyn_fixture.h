// Loads tessyn.dll of the width and records the calls of its response and trap procedures.
#pragma once

#include <winsock.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "suite_paths.h"
#include "tessyn.h"
#include "win_owners.h"

namespace tessyn_test {

struct Binding {
    std::string oid;
    int32_t type = 0;
    int32_t length = 0;
    std::vector<uint8_t> value; // integers as their 4 bytes; texts with their NUL
    bool valueNull = false;

    uint32_t U32() const {
        uint32_t v = 0;
        if (value.size() >= 4)
            std::memcpy(&v, value.data(), 4);
        return v;
    }
    std::string Text() const { return std::string(reinterpret_cast<const char *>(value.data())); }
};

inline std::vector<Binding> CopyBindings(const SnmpVarBind *vbs, int32_t count) {
    std::vector<Binding> out;
    for (int32_t i = 0; i < count; ++i) {
        Binding b;
        b.oid = vbs[i].oid ? vbs[i].oid : "";
        b.type = vbs[i].type;
        b.length = vbs[i].length;
        b.valueNull = vbs[i].value == nullptr;
        const auto *v = static_cast<const uint8_t *>(vbs[i].value);
        if (v) {
            size_t n = static_cast<size_t>(vbs[i].length);
            if (b.type == 4 || b.type == 6)
                ++n; // the NUL after the bytes
            b.value.assign(v, v + n);
        }
        out.push_back(b);
    }
    return out;
}

// One call of a procedure, copied while it ran.
struct Call {
    bool null = true;
    double atMs = 0;
    std::string host, community;
    int32_t port = 0, pduType = 0, version = -1, requestId = 0, errorStatus = 0, errorIndex = 0;
    std::vector<Binding> binds;
    // Trap info
    int32_t reserved = -1, genericTrap = 0, specificTrap = 0;
    uint32_t timeStamp = 0;
    std::string enterprise, agent;
};

class Recorder {
  public:
    Recorder() : start_(std::chrono::steady_clock::now()) {
        InitializeCriticalSection(&lock_);
        InitializeConditionVariable(&changed_);
    }
    ~Recorder() { DeleteCriticalSection(&lock_); }
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    static void TESSYN_CALL OnResponse(void *context, const SnmpMessageDesc *info) {
        auto *self = static_cast<Recorder *>(context);
        Call c;
        c.atMs = self->Now();
        if (info) {
            c.null = false;
            c.host = info->host ? info->host : "";
            c.community = info->community ? info->community : "";
            c.port = info->port;
            c.pduType = info->pduType;
            c.version = info->version;
            c.requestId = info->requestId;
            c.errorStatus = info->errorStatus;
            c.errorIndex = info->errorIndex;
            c.binds = CopyBindings(info->varBinds, info->varBindCount);
        }
        self->Add(c);
    }

    static void TESSYN_CALL OnTrap(void *context, const SnmpTrapInfo *info) {
        auto *self = static_cast<Recorder *>(context);
        Call c;
        c.atMs = self->Now();
        if (info) {
            c.null = false;
            c.reserved = info->reserved;
            c.community = info->community ? info->community : "";
            c.enterprise = info->enterprise ? info->enterprise : "";
            c.agent = info->agent ? info->agent : "";
            c.genericTrap = info->genericTrap;
            c.specificTrap = info->specificTrap;
            c.timeStamp = info->timeStamp;
            c.binds = CopyBindings(info->varBinds, info->varBindCount);
        }
        self->Add(c);
    }

    double Now() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
            .count();
    }
    void Restart() { start_ = std::chrono::steady_clock::now(); }

    std::vector<Call> Calls() {
        win::SectionLock hold(lock_);
        return calls_;
    }
    size_t Count() {
        win::SectionLock hold(lock_);
        return calls_.size();
    }
    // Waits (bounded) for at least count calls.
    bool WaitFor(size_t count, int timeoutMs) {
        const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
        win::SectionLock hold(lock_);
        while (calls_.size() < count) {
            ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                break;
            SleepConditionVariableCS(&changed_, &lock_, static_cast<DWORD>(deadline - now));
        }
        return calls_.size() >= count;
    }

  private:
    void Add(const Call &c) {
        {
            win::SectionLock hold(lock_);
            calls_.push_back(c);
        }
        WakeAllConditionVariable(&changed_);
    }

    std::chrono::steady_clock::time_point start_;
    CRITICAL_SECTION lock_;
    CONDITION_VARIABLE changed_;
    std::vector<Call> calls_;
};

// The four exports of a loaded tessyn.dll.
struct Tessyn {
    HMODULE dll = nullptr;
    Tessyn_OpenPort_t OpenPort = nullptr;
    Tessyn_PostSnmpMessage_t Post = nullptr;
    Tessyn_ClosePort_t ClosePort = nullptr;
    Tessyn_SetTrap1Proc_t SetTrap = nullptr;

    bool Load() {
        dll = LoadLibraryA(suite::BinPath("tessyn.dll").c_str());
        if (!dll)
            return false;
        OpenPort = reinterpret_cast<Tessyn_OpenPort_t>(
            reinterpret_cast<void *>(GetProcAddress(dll, "Tessyn_OpenPort")));
        Post = reinterpret_cast<Tessyn_PostSnmpMessage_t>(
            reinterpret_cast<void *>(GetProcAddress(dll, "Tessyn_PostSnmpMessage")));
        ClosePort = reinterpret_cast<Tessyn_ClosePort_t>(
            reinterpret_cast<void *>(GetProcAddress(dll, "Tessyn_ClosePort")));
        SetTrap = reinterpret_cast<Tessyn_SetTrap1Proc_t>(
            reinterpret_cast<void *>(GetProcAddress(dll, "Tessyn_SetTrap1Proc")));
        return OpenPort && Post && ClosePort && SetTrap;
    }
    void Free() {
        if (dll)
            FreeLibrary(dll);
        dll = nullptr;
    }
};

// The local UDP port of a handle (its low word is the port in network order).
inline uint16_t HandlePort(int32_t handle) {
    return ntohs(static_cast<u_short>(handle & 0xFFFF));
}

// A GetRequest descriptor for one OID (NULL value).
struct GetDesc {
    SnmpVarBind vb{};
    SnmpMessageDesc d{};
    std::string host;

    GetDesc(const std::string &to, uint16_t port, std::initializer_list<int32_t> timeouts,
            Recorder *rec, const char *oid = "1.3.6.1.2.1.1.1.0")
        : host(to) {
        vb.oid = oid;
        vb.type = 5;
        d.host = host.c_str();
        d.port = port;
        d.pduType = 0xA0;
        int i = 0;
        for (int32_t t : timeouts)
            d.timeouts[i++] = t;
        d.varBindCount = 1;
        d.varBinds = &vb;
        d.responseProc = &Recorder::OnResponse;
        d.responseContext = rec;
    }
};

} // namespace tessyn_test

// State shared by the simulated kernel's files.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace sim {

struct PoolBlock {
    ULONG tag;
    SIZE_T bytes;
};

struct LogPacket {
    PVOID object;
    ULONG size;
};

struct RegValue {
    ULONG type;
    std::vector<unsigned char> data;
};

struct Port; // parport/

struct State {
    LONGLONG now = 0; // ps
    ULONGLONG tickBase = 0;
    LONGLONG counterHz = 10000000;
    LONGLONG counterBase = 0;
    ULONG portPs = 1000000;
    ULONG counterReadPs = 100000;
    ULONG passFs = 1000000; // 1 ns
    volatile LONG *loopCounter = nullptr;
    LONG loopSeen = 0;
    std::multimap<LONGLONG, std::function<void()>> events;

    KIRQL irql = PASSIVE_LEVEL;
    bool cancelLockHeld = false;
    LONG pageable = -1;

    std::map<void *, PoolBlock> pool;
    ULONG failPoolAt = 0;

    std::map<std::wstring, PDEVICE_OBJECT> devices;
    std::map<PDEVICE_OBJECT, std::wstring> deviceNames;
    std::map<std::wstring, std::wstring> links;
    std::map<PFILE_OBJECT, LONG> files;
    bool failLinks = false;

    std::map<std::wstring, std::map<std::wstring, RegValue>> registry;
    bool optionalDefaults = true;
    bool failDeviceMap = false;

    std::map<unsigned char *, LogPacket> logPending;
    std::vector<SimLogEntry> log;
    bool failErrorLog = false;

    std::deque<PWORK_QUEUE_ITEM> work;
    bool workHeld = false;
    std::set<PIRP> irps;
    std::map<PIRP, ULONG> completions;
    bool lateGrantDue = false;
    ULONG countReads = 0;
    std::vector<std::pair<ULONG, SimPortConfig>> laterPorts;

    std::vector<Port *> ports;
    DRIVER_OBJECT *portDriver = nullptr;
    DRIVER_OBJECT *driver = nullptr;

    std::vector<std::string> violations;
};

extern State *g;

void Violation(const char *what);
void Charge();
void UpdateTick();
void Advance(LONGLONG ps);
void RunEventsUntil(LONGLONG until);
void Schedule(LONGLONG at, std::function<void()> fn);
void CheckIrqlAtMost(KIRQL max, const char *what);
std::wstring Lower(const WCHAR *s);
std::wstring Lower(PCUNICODE_STRING s);

PIRP NewIrp(CCHAR stackSize);
bool LiveIrp(PIRP irp);
void RunOneWorkItem();
void CompleteIrp(PIRP irp);

// parport/
UCHAR PortRead(ULONG_PTR address);
void PortWrite(ULONG_PTR address, UCHAR value);
void ResetPorts();
Port *AddPort(const SimPortConfig &config);
void PortCounts(ULONG index, SimPortCounts *out);
void LateGrants();

} // namespace sim

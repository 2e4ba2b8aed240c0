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

// A simulated thread. The header comes first: the thread is a waitable object, signalled
// once it has ended.
struct Thread {
    DISPATCHER_HEADER header;
    ULONG id = 0;
    void *fiber = nullptr;
    PKSTART_ROUTINE start = nullptr;
    PVOID context = nullptr;
    bool system = false; // created by PsCreateSystemThread
    bool started = false;
    bool ended = false;
    bool waiting = false;
    bool woken = false; // its wait ends with a failure (a deadlock elsewhere)
    std::function<bool()> ready;
    LONGLONG deadline = -1;
    KIRQL irql = PASSIVE_LEVEL;
    LONG refs = 0;
    LONG increment = 0;
    bool incrementSet = false;
    std::deque<std::function<void()>> apcs; // final completions of its requests
};

struct Io; // the I/O manager's record of a request it issued

struct State {
    LONGLONG now = 0; // ps
    ULONGLONG tickBase = 0;
    LONGLONG tickPs = 1000000000LL; // clock tick (1 ms unless set)
    LONGLONG systemTimeBase = 133000000000000000LL;
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

    std::vector<Thread *> threads; // in creation order; [0] is the test's thread
    Thread *current = nullptr;
    Thread *systemWorker = nullptr;
    std::map<HANDLE, Thread *> handles;
    ULONG nextHandle = 0x1000;
    bool failThreadCreate = false;
    bool failThreadReference = false;
    bool failMapping = false;
    ULONG failRequestAt = 0;
    ULONG failBuiltAt = 0;
    ULONG failPoolTag = 0;
    SIZE_T failPoolBytes = 0;
    ULONG failPoolNth = 0;
    Thread *cancelLockOwner = nullptr;
    bool inEvents = false;
    std::map<PIRP, Io *> issued;
    std::map<ULONG, Io *> ios;
    ULONG nextIo = 1;
    ULONG completionOrder = 0;
    std::map<PDEVICE_OBJECT, LONG> openFiles;
};

extern State *g;

void Violation(const char *what);
void Charge();
void UpdateTick();
void Advance(LONGLONG ps);
void RunEventsUntil(LONGLONG until);
void Schedule(LONGLONG at, std::function<void()> fn);
void CheckIrqlAtMost(KIRQL max, const char *what);
// Driver code at dispatch level or above must be resident.
void CheckResident(const char *what);
std::wstring Lower(const WCHAR *s);
std::wstring Lower(PCUNICODE_STRING s);

PIRP NewIrp(CCHAR stackSize);
bool LiveIrp(PIRP irp);
void RunOneWorkItem();
void CompleteIrp(PIRP irp);

// Threads: one runs at a time; switches happen only in waits.
Thread *Current();
bool IsThread(PVOID object);
// Lets other threads and time run until ready() holds or the deadline (ps, -1 none) passes;
// true when ready() held.
bool WaitUntil(std::function<bool()> ready, LONGLONG deadline);
Thread *NewThread(PKSTART_ROUTINE start, PVOID context, bool system);
[[noreturn]] void EndCurrentThread();
void ResetThreads();
void StartSystemWorker();
bool OthersCanRun(Thread *self);
bool ThreadsDue(Thread *self); // another thread waits with a deadline
// Runs fn as a kernel APC of t: at once when t is current below APC level, else when t next
// runs below it.
void DeliverApc(Thread *t, std::function<void()> fn);
void RunCurrentApcs(); // another thread waits with a deadline
// Final completion of a request the I/O manager issued.
void FinishIssued(PIRP irp);
// Runs the test's callback chosen for this request, inside its completion.
void CompletionHook(PIRP irp);
void CompletionBoost(PIRP irp, CCHAR boost);
// Numbers a final completion of a request the I/O manager issued.
void CompletionSeen(PIRP irp);

// parport/
UCHAR PortRead(ULONG_PTR address);
void PortWrite(ULONG_PTR address, UCHAR value);
void ResetPorts();
Port *AddPort(const SimPortConfig &config);
void PortCounts(ULONG index, SimPortCounts *out);
void LateGrants();

} // namespace sim

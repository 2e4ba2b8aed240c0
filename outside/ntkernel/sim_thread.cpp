// Simulated threads: cooperative, one at a time on fibers, switched only in waits and delays,
// in creation order; time jumps when every thread waits.
#define SIM_BUILDING 1
extern "C" {
#include <ntifs.h>
}
#include "sim.h"
#include "sim_fiber.h"
#include "sim_internal.h"

#include <cstdio>

namespace sim {

namespace {

constexpr UCHAR kThreadObjectType = 6;

bool Runnable(Thread *t) {
    if (t->ended)
        return false;
    if (!t->waiting)
        return true;
    if (t->woken)
        return true;
    if (!t->apcs.empty() && t->irql < APC_LEVEL)
        return true;
    if (t->deadline >= 0 && g->now >= t->deadline)
        return true;
    return t->ready && t->ready();
}

Thread *NextRunnable(Thread *from) {
    const size_t n = g->threads.size();
    size_t at = 0;
    for (size_t i = 0; i < n; ++i) {
        if (g->threads[i] == from)
            at = i;
    }
    for (size_t k = 1; k <= n; ++k) {
        Thread *t = g->threads[(at + k) % n];
        if (t != from && Runnable(t))
            return t;
    }
    return nullptr;
}

void Reap() {
    for (Thread *t : g->threads) {
        if (t->ended && t->fiber != nullptr && t != g->current) {
            FiberDelete(t->fiber);
            t->fiber = nullptr;
        }
    }
}

void RunApcs(Thread *t) {
    // Kernel APCs are held while the thread is at APC level or above.
    while (!t->apcs.empty() && g->irql < APC_LEVEL) {
        auto fn = t->apcs.front();
        t->apcs.pop_front();
        KIRQL entry = g->irql;
        g->irql = APC_LEVEL;
        fn();
        g->irql = entry;
    }
}

void SwitchTo(Thread *next) {
    Thread *self = g->current;
    if (g->irql > APC_LEVEL) {
        char buf[120];
        std::snprintf(buf, sizeof buf, "thread switch away from IRQL %d", g->irql);
        Violation(buf);
    }
    if (g->cancelLockHeld)
        Violation("thread switch while holding the cancel spin lock");
    self->irql = g->irql;
    g->current = next;
    g->irql = next->irql;
    if (next->fiber == nullptr) {
        Violation("switch to a thread without a fiber");
        return;
    }
    FiberSwitch(next->fiber);
    // Back in self.
    Reap();
    RunApcs(self);
}

void ThreadBody(void *p) {
    auto *t = static_cast<Thread *>(p);
    t->started = true;
    RunApcs(t);
    t->start(t->context);
    EndCurrentThread();
}

// Earliest time something is due: an event or a waiting thread's deadline.
LONGLONG NextDue() {
    LONGLONG due = -1;
    if (!g->events.empty())
        due = g->events.begin()->first;
    for (Thread *t : g->threads) {
        if (!t->ended && t->waiting && t->deadline >= 0 && (due < 0 || t->deadline < due))
            due = t->deadline;
    }
    return due;
}

// Runs timed events as a DPC would, at dispatch level in whichever thread is current.
void RunEventsAt(LONGLONG until) {
    KIRQL entry = g->irql;
    g->irql = DISPATCH_LEVEL;
    RunEventsUntil(until);
    g->irql = entry;
}

void NTAPI SystemWorkerBody(PVOID) {
    for (;;) {
        WaitUntil([] { return !g->work.empty() && !g->workHeld; }, -1);
        RunOneWorkItem();
    }
}

} // namespace

void DeliverApc(Thread *t, std::function<void()> fn) {
    if (t == nullptr || !IsThread(t) || t->ended) {
        fn(); // no thread to wait for it
        return;
    }
    t->apcs.push_back(std::move(fn));
    if (t == g->current)
        RunApcs(t);
}

void RunCurrentApcs() {
    RunApcs(g->current);
}

Thread *Current() {
    return g->current;
}

bool IsThread(PVOID object) {
    for (Thread *t : g->threads) {
        if (t == object)
            return true;
    }
    return false;
}

bool ThreadsDue(Thread *self) {
    for (Thread *t : g->threads) {
        if (t != self && !t->ended && t->waiting && t->deadline >= 0)
            return true;
    }
    return false;
}

bool OthersCanRun(Thread *self) {
    for (Thread *t : g->threads) {
        if (t != self && Runnable(t))
            return true;
    }
    return false;
}

bool WaitUntil(std::function<bool()> ready, LONGLONG deadline) {
    Thread *self = g->current;
    self->waiting = true;
    self->woken = false;
    self->ready = ready;
    self->deadline = deadline;
    bool result = false;
    for (int guard = 0;; ++guard) {
        RunApcs(self);
        if (ready()) {
            result = true;
            break;
        }
        if (self->woken || (deadline >= 0 && g->now >= deadline))
            break;
        if (guard > 10000000) {
            Violation("a wait that never settles");
            break;
        }
        Thread *next = NextRunnable(self);
        if (next != nullptr) {
            SwitchTo(next);
            continue;
        }
        LONGLONG due = NextDue();
        if (due < 0) {
            Violation("deadlock: a wait nothing can end");
            break;
        }
        RunEventsAt(due);
    }
    self->waiting = false;
    self->woken = false;
    self->ready = nullptr;
    self->deadline = -1;
    return result;
}

Thread *NewThread(PKSTART_ROUTINE start, PVOID context, bool system) {
    auto *t = new Thread();
    t->header.Type = kThreadObjectType;
    t->header.SignalState = 0;
    t->id = static_cast<ULONG>(g->threads.size());
    t->start = start;
    t->context = context;
    t->system = system;
    t->fiber = FiberCreate(ThreadBody, t);
    g->threads.push_back(t);
    return t;
}

void EndCurrentThread() {
    Thread *self = g->current;
    if (g->irql != PASSIVE_LEVEL)
        Violation("thread ended above passive level");
    if (g->cancelLockHeld)
        Violation("thread ended holding the cancel spin lock");
    self->ended = true;
    self->header.SignalState = 1;
    for (;;) {
        Thread *next = NextRunnable(self);
        if (next != nullptr) {
            SwitchTo(next);
            continue; // never comes back: the fiber is deleted
        }
        LONGLONG due = NextDue();
        if (due < 0) {
            // Everyone waits for ever: the test's thread sees its wait fail.
            Violation("deadlock: every thread waits");
            g->threads[0]->woken = true;
            continue;
        }
        RunEventsAt(due);
    }
}

void ResetThreads() {
    auto *main = new Thread();
    main->header.Type = kThreadObjectType;
    main->fiber = FiberOfCaller();
    main->started = true;
    g->threads.push_back(main);
    g->current = main;
}

void StartSystemWorker() {
    if (g->systemWorker == nullptr)
        g->systemWorker = NewThread(SystemWorkerBody, nullptr, false);
}

} // namespace sim

using namespace sim;

extern "C" {

static char g_threadTypeBody;
static POBJECT_TYPE g_threadType = reinterpret_cast<POBJECT_TYPE>(&g_threadTypeBody);
POBJECT_TYPE *PsThreadType = &g_threadType;

NTSTATUS NTAPI PsCreateSystemThread(PHANDLE handle, ULONG, POBJECT_ATTRIBUTES, HANDLE, PCLIENT_ID,
                                    PKSTART_ROUTINE start, PVOID context) {
    Charge();
    CheckIrqlAtMost(PASSIVE_LEVEL, "PsCreateSystemThread");
    if (g->failThreadCreate)
        return STATUS_INSUFFICIENT_RESOURCES;
    Thread *t = NewThread(start, context, true);
    t->refs = 1; // the handle
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(g->nextHandle));
    g->nextHandle += 4;
    g->handles[h] = t;
    *handle = h;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK, POBJECT_TYPE type,
                                         KPROCESSOR_MODE, PVOID *object,
                                         POBJECT_HANDLE_INFORMATION) {
    Charge();
    auto it = g->handles.find(handle);
    if (it == g->handles.end())
        return STATUS_INVALID_HANDLE;
    if (type != *PsThreadType)
        return STATUS_OBJECT_TYPE_MISMATCH;
    if (g->failThreadReference)
        return STATUS_INSUFFICIENT_RESOURCES;
    it->second->refs++;
    *object = it->second;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwClose(HANDLE handle) {
    Charge();
    auto it = g->handles.find(handle);
    if (it == g->handles.end()) {
        Violation("ZwClose of an unknown handle");
        return STATUS_INVALID_HANDLE;
    }
    it->second->refs--;
    g->handles.erase(it);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN, PLARGE_INTEGER timeout) {
    Charge();
    auto it = g->handles.find(handle);
    if (it == g->handles.end())
        return STATUS_INVALID_HANDLE;
    return KeWaitForSingleObject(it->second, Executive, KernelMode, FALSE, timeout);
}

NTSTATUS NTAPI PsTerminateSystemThread(NTSTATUS) {
    Charge();
    if (!Current()->system)
        Violation("PsTerminateSystemThread outside a system thread");
    EndCurrentThread();
}

PKTHREAD NTAPI KeGetCurrentThread(VOID) {
    return reinterpret_cast<PKTHREAD>(Current());
}

LONG NTAPI KeSetBasePriorityThread(PKTHREAD thread, LONG increment) {
    Charge();
    auto *t = reinterpret_cast<Thread *>(thread);
    if (!IsThread(t)) {
        Violation("KeSetBasePriorityThread of an unknown thread");
        return 0;
    }
    LONG old = t->increment;
    t->increment = increment;
    t->incrementSet = true;
    return old;
}

// ---- Controls of the tests ---------------------------------------------------------------------

SIMAPI void SimFailThreadCreation(BOOLEAN fail) {
    g->failThreadCreate = fail != 0;
}
SIMAPI void SimFailThreadReference(BOOLEAN fail) {
    g->failThreadReference = fail != 0;
}

SIMAPI ULONG SimLiveSystemThreads() {
    ULONG n = 0;
    for (Thread *t : g->threads)
        n += (t->system && !t->ended) ? 1 : 0;
    return n;
}

SIMAPI LONG SimThreadReferences() {
    LONG n = 0;
    for (Thread *t : g->threads)
        n += t->system ? t->refs : 0;
    return n;
}

SIMAPI BOOLEAN SimLastSystemThreadIncrement(LONG *increment) {
    for (auto it = g->threads.rbegin(); it != g->threads.rend(); ++it) {
        if ((*it)->system) {
            *increment = (*it)->increment;
            return (*it)->incrementSet;
        }
    }
    return FALSE;
}

SIMAPI void SimSpawn(PKSTART_ROUTINE body, PVOID context) {
    NewThread(body, context, false);
}

SIMAPI void SimSleepMs(LONG ms) {
    CheckIrqlAtMost(APC_LEVEL, "SimSleepMs");
    WaitUntil([] { return false; }, g->now + static_cast<LONGLONG>(ms) * 1000000000LL);
}

} // extern "C"

// Fibers of the simulated threads: the platform's own, kept apart from the kernel headers.
#include <windows.h>

#include "sim_fiber.h"

namespace sim {

namespace {

struct Start {
    void (*body)(void *);
    void *arg;
};

VOID WINAPI FiberMain(LPVOID p) {
    Start s = *static_cast<Start *>(p);
    delete static_cast<Start *>(p);
    s.body(s.arg);
    // The body never returns: a thread that ends switches away for good.
}

} // namespace

void *FiberOfCaller() {
    static void *main = nullptr;
    if (main == nullptr) {
        main = ConvertThreadToFiber(nullptr);
    }
    return main;
}

void *FiberCreate(void (*body)(void *), void *arg) {
    return CreateFiber(256 * 1024, FiberMain, new Start{body, arg});
}

void FiberSwitch(void *fiber) {
    SwitchToFiber(fiber);
}

void FiberDelete(void *fiber) {
    DeleteFiber(fiber);
}

} // namespace sim

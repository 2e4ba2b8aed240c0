// Fibers of the simulated threads.
#pragma once

namespace sim {

void *FiberOfCaller(); // the calling thread, made a fiber once
void *FiberCreate(void (*body)(void *), void *arg);
void FiberSwitch(void *fiber);
void FiberDelete(void *fiber);

} // namespace sim

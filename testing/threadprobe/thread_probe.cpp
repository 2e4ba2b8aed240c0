// ThreadProbeUse: the thread library on the calling thread (a timed wait on a condition
// variable, the thread's id); 42 when the wait timed out as it should.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

extern "C" int WINAPI ThreadProbeUse() {
    std::mutex lock;
    std::condition_variable never;
    std::unique_lock<std::mutex> hold(lock);
    const bool woken = never.wait_for(hold, std::chrono::milliseconds(1), [] { return false; });
    return !woken && std::this_thread::get_id() != std::thread::id() ? 42 : -1;
}

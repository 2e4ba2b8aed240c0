// Entry point of every suite_dll: the runtime's own entry, then, when the DLL is unloaded, the
// release of what the statically linked thread library took for the unloading thread.
//
// The thread library keeps, per DLL, a record for each thread that used it (a duplicated thread
// handle and an event) in a TLS index of its own. A thread's record goes when the thread ends,
// but nothing releases the records or the index when the DLL is unloaded: each load and unload
// would leave two handles and one TLS index behind, and the process runs out of TLS indexes
// after about a thousand loads. At unload the unloading thread leaves the DLL as if it ended
// (the library's thread-detach callback), and the indexes this DLL allocated are freed.
//
// The link wraps TlsAlloc and TlsFree (so the DLL's own indexes are known), makes
// suite_dll_entry the entry point and keeps this file's symbols out of the exports.
#include <windows.h>

#include <cstdint>

// The linker's names of the wrapped import slots (__imp_TlsAlloc; _imp__TlsAlloc@0 under the
// 32-bit leading underscore).
#ifdef _WIN64
#define SUITE_LINKED(prefix, name, arity) prefix "__imp_" #name
#else
#define SUITE_LINKED(prefix, name, arity) "_" prefix "_imp__" #name "@" #arity
#endif

extern "C" {

BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);

using TlsAllocFn = DWORD(WINAPI *)();
using TlsFreeFn = BOOL(WINAPI *)(DWORD);
extern TlsAllocFn suite_real_tls_alloc __asm__(SUITE_LINKED("__real_", TlsAlloc, 0));
extern TlsFreeFn suite_real_tls_free __asm__(SUITE_LINKED("__real_", TlsFree, 4));

} // extern "C"

namespace {

// The indexes this DLL holds; the thread library takes one, nothing in the suite more.
constexpr LONG kSlots = 8;
DWORD g_indexes[kSlots];
volatile LONG g_taken[kSlots];

DWORD WINAPI RecordingTlsAlloc() {
    const DWORD index = suite_real_tls_alloc();
    if (index == TLS_OUT_OF_INDEXES)
        return index;
    for (LONG i = 0; i < kSlots; ++i) {
        if (InterlockedCompareExchange(&g_taken[i], 1, 0) == 0) {
            g_indexes[i] = index;
            InterlockedExchange(&g_taken[i], 2);
            return index;
        }
    }
    return index; // more than the slots hold: this one stays allocated after unload
}

BOOL WINAPI RecordingTlsFree(DWORD index) {
    for (LONG i = 0; i < kSlots; ++i) {
        if (g_taken[i] == 2 && g_indexes[i] == index) {
            InterlockedExchange(&g_taken[i], 0);
            break;
        }
    }
    return suite_real_tls_free(index);
}

void NTAPI NoCallback(PVOID, DWORD, PVOID) {}

} // namespace

extern "C" {

TlsAllocFn suite_wrap_tls_alloc __asm__(SUITE_LINKED("__wrap_", TlsAlloc, 0)) = RecordingTlsAlloc;
TlsFreeFn suite_wrap_tls_free __asm__(SUITE_LINKED("__wrap_", TlsFree, 4)) = RecordingTlsFree;

// TLS callbacks run in the order of their sections' names; the thread library's sits in
// .CRT$XLF, between these two.
__attribute__((section(".CRT$XLE"), used)) static PIMAGE_TLS_CALLBACK suite_tls_before = NoCallback;
__attribute__((section(".CRT$XLG"), used)) static PIMAGE_TLS_CALLBACK suite_tls_after = NoCallback;

BOOL WINAPI suite_dll_entry(HANDLE module, DWORD reason, LPVOID reserved) {
    const BOOL result = DllMainCRTStartup(module, reason, reserved);
    // Unloaded by FreeLibrary (or a failed load), not process exit: the static destructors
    // and the runtime's own detach have run, so nothing of this DLL uses a record any more.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        const auto first =
            reinterpret_cast<uintptr_t>(&suite_tls_before) + sizeof(PIMAGE_TLS_CALLBACK);
        const auto end = reinterpret_cast<uintptr_t>(&suite_tls_after);
        for (uintptr_t at = first; at < end; at += sizeof(PIMAGE_TLS_CALLBACK)) {
            const PIMAGE_TLS_CALLBACK callback = *reinterpret_cast<const PIMAGE_TLS_CALLBACK *>(at);
            if (callback)
                callback(module, DLL_THREAD_DETACH, nullptr);
        }
        for (LONG i = 0; i < kSlots; ++i) {
            if (InterlockedCompareExchange(&g_taken[i], 0, 2) == 2)
                suite_real_tls_free(g_indexes[i]);
        }
    }
    return result;
}

} // extern "C"

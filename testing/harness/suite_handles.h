// What a process holds that a DLL's load may take: handles (by the system's handle table,
// since GetProcessHandleCount is not reliable under Wine) and TLS indexes.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace suite {

// Handles of this process by the system's handle table (NtQuerySystemInformation, class 16),
// or 0 when it cannot be read.
inline DWORD HandleCount() {
    struct Entry {
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    using Query = LONG(WINAPI *)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return 0;
    std::vector<uint8_t> buffer(1 << 16);
    for (int tries = 0; tries < 12; ++tries) {
        ULONG needed = 0;
        const LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) {
            const auto *table = reinterpret_cast<const Table *>(buffer.data());
            DWORD mine = 0;
            for (ULONG i = 0; i < table->count; ++i)
                if (table->entries[i].ownerPid == GetCurrentProcessId())
                    ++mine;
            return mine;
        }
        if (status != static_cast<LONG>(0xC0000004))
            return 0; // only "too small" is retried
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
    }
    return 0;
}

// TLS indexes still free in this process: all are taken, counted and given back.
inline size_t FreeTlsIndexes() {
    std::vector<DWORD> taken;
    taken.reserve(2048);
    for (int i = 0; i < 4096; ++i) {
        const DWORD index = TlsAlloc();
        if (index == TLS_OUT_OF_INDEXES)
            break;
        taken.push_back(index);
    }
    for (DWORD index : taken)
        TlsFree(index);
    return taken.size();
}

} // namespace suite

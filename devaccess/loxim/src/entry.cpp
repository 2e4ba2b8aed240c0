// The entry, the shared device table and the library's attach and detach.
#include <cstring>

#include "internal.h"

extern "C" {
// Shared by every process that loads the library; EntryNo lies directly behind the table.
__attribute__((section(".DEVACC$a"), shared, aligned(4))) loxim::core::DeviceTable DevManage = {};
__attribute__((section(".DEVACC$b"), shared, aligned(4))) volatile LONG EntryNo = 0;
}

namespace loxim {

HMODULE g_self = nullptr;
std::atomic<LONG> g_busy[core::kSlotCount];

TableLock::TableLock() : mutex_(CreateMutexA(nullptr, FALSE, "DEVACC.OBJECT")) {
    if (mutex_) WaitForSingleObject(mutex_, INFINITE);  // an abandoned mutex is ours as well
}

TableLock::~TableLock() {
    if (mutex_) {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
}

RecordMap::RecordMap(HANDLE mapping) {
    if (!mapping) return;
    void *view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (!view) return;
    MEMORY_BASIC_INFORMATION info{};
    if (!VirtualQuery(view, &info, sizeof info) ||
        !core::ReadRecord(static_cast<uint8_t *>(view), info.RegionSize, record_)) {
        UnmapViewOfFile(view);
        return;
    }
    base_ = static_cast<uint8_t *>(view);
}

RecordMap::~RecordMap() {
    if (base_) UnmapViewOfFile(base_);
}

int32_t RecordMap::Call(uint32_t op, uint32_t handle, void *block) const {
    using Entry = int32_t(__stdcall *)(uint32_t, uint32_t, void *);
    if (!record_.header.entry) return core::kErrParam;
    return Ptr<std::remove_pointer_t<Entry>>(record_.header.entry)(op, handle, block);
}

// Process attach clears the table for the first process; the count changes atomically.
BOOL DllEntryPoint(HINSTANCE instance, DWORD reason) {
    switch (reason) {
    case DLL_PROCESS_ATTACH: {
        g_self = instance;
        DisableThreadLibraryCalls(instance);
        TableLock lock;
        if (InterlockedCompareExchange(&EntryNo, 0, 0) == 0)
            std::memset(&DevManage, 0, sizeof DevManage);
        InterlockedIncrement(&EntryNo);
        return TRUE;
    }
    case DLL_PROCESS_DETACH:
        InterlockedDecrement(&EntryNo);
        return TRUE;
    default:
        return TRUE;
    }
}

}  // namespace loxim

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    return loxim::DllEntryPoint(instance, reason);
}

extern "C" int32_t __stdcall DeviceIO_IF(uint32_t code, uint32_t handle, void *block) {
    using namespace loxim;
    if (code == LOXIM_OPEN) return OpenDevice(handle, static_cast<OpenDeviceBlock *>(block));
    if (code == LOXIM_CLOSE) {
        // The close checks the handle again under the mutex.
        if (core::SlotOfHandle(DevManage, handle, GetCurrentProcessId()) < 0) return core::kErrHandle;
        return CloseDevice(handle - 1);
    }
    const int slot = core::SlotOfHandle(DevManage, handle, GetCurrentProcessId());
    if (slot < 0) return core::kErrHandle;
    if (code == LOXIM_DEVICE_INFO)
        return CopyDeviceInfo(static_cast<uint32_t>(slot), static_cast<DeviceInfoRequestBlock *>(block));
    return Operate(code, static_cast<uint32_t>(slot), block);
}

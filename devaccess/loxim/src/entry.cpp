// The entry, the shared device table and the library's attach and detach.
#include <cstring>
#include <new>

#include "internal.h"

extern "C" {
// Shared by every process that loads the library; EntryNo lies directly behind the table.
__attribute__((section(".DEVACC$a"), shared, aligned(4))) loxim::core::DeviceTable DevManage = {};
__attribute__((section(".DEVACC$b"), shared, aligned(4))) volatile LONG EntryNo = 0;
}

namespace loxim {

HMODULE g_self = nullptr;
std::atomic<LONG> g_busy[core::kSlotCount];
HANDLE g_tableMutex = nullptr;

namespace {

// The views kept by the slots of this process, under g_viewLock; a view leaves its slot only
// under the lock, and the holder that drops its last reference unmaps it.
CRITICAL_SECTION g_viewLock;
RecordMap::View *g_views[core::kSlotCount];

RecordMap::View *MapRecord(HANDLE mapping) {
    if (!mapping)
        return nullptr;
    void *base = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (!base)
        return nullptr;
    MEMORY_BASIC_INFORMATION info{};
    auto *view =
        new (std::nothrow) RecordMap::View{mapping, static_cast<uint8_t *>(base), 0, false, {}, 1};
    if (!view || !VirtualQuery(base, &info, sizeof info)) {
        delete view;
        UnmapViewOfFile(base);
        return nullptr;
    }
    view->size = info.RegionSize;
    view->readable = core::ReadRecord(view->base, view->size, view->record);
    return view;
}

void Release(RecordMap::View *view) {
    if (view && InterlockedDecrement(&view->refs) == 0) {
        UnmapViewOfFile(view->base);
        delete view;
    }
}

// Takes the slot's view away from it; the caller holds g_viewLock.
void Unkeep(uint32_t slot) {
    RecordMap::View *view = g_views[slot];
    g_views[slot] = nullptr;
    Release(view);
}

} // namespace

TableLock::TableLock() : mutex_(g_tableMutex) {
    if (!mutex_) {
        mutex_ = CreateMutexA(nullptr, FALSE, "DEVACC.OBJECT");
        own_.reset(mutex_);
    }
    if (mutex_)
        WaitForSingleObject(mutex_, INFINITE); // an abandoned mutex is ours as well
}

TableLock::~TableLock() {
    if (mutex_) {
        ReleaseMutex(mutex_);
        own_.reset();
    }
}

RecordMap::RecordMap(uint32_t slot) {
    const HANDLE mapping = SlotMapping(slot);
    win::SectionLock lock(g_viewLock);
    View *view = g_views[slot];
    // A view of another mapping than the slot's now is stale.
    if (view && view->mapping != mapping) {
        Unkeep(slot);
        view = nullptr;
    }
    if (!view) {
        // Opened before this load of the library: mapped once, kept until the close. A view
        // whose record cannot be read is not kept (a later call maps again).
        view = MapRecord(mapping);
        if (!view)
            return;
        if (!view->readable) {
            view_ = view;
            return;
        }
        g_views[slot] = view;
    }
    InterlockedIncrement(&view->refs);
    view_ = view;
}

RecordMap RecordMap::Map(HANDLE mapping) {
    return RecordMap(MapRecord(mapping));
}

RecordMap &RecordMap::operator=(RecordMap &&other) noexcept {
    if (this != &other) {
        Release(view_);
        view_ = other.view_;
        other.view_ = nullptr;
    }
    return *this;
}

RecordMap::~RecordMap() {
    Release(view_);
}

bool RecordMap::Reread() {
    if (!view_)
        return false;
    view_->readable = core::ReadRecord(view_->base, view_->size, view_->record);
    return view_->readable;
}

void RecordMap::KeepFor(uint32_t slot) {
    if (!view_)
        return;
    win::SectionLock lock(g_viewLock);
    Unkeep(slot);
    InterlockedIncrement(&view_->refs);
    g_views[slot] = view_;
}

void DropSlotView(uint32_t slot) {
    win::SectionLock lock(g_viewLock);
    Unkeep(slot);
}

void DropAllSlotViews() {
    win::SectionLock lock(g_viewLock);
    for (uint32_t slot = 0; slot < core::kSlotCount; ++slot)
        Unkeep(slot);
}

int32_t RecordMap::Call(uint32_t op, uint32_t handle, void *block) const {
    using Entry = int32_t(__stdcall *)(uint32_t, uint32_t, void *);
    const uint32_t entry = view_->record.header.entry;
    if (!entry)
        return core::kErrParam;
    return Ptr<std::remove_pointer_t<Entry>>(entry)(op, handle, block);
}

// Process attach clears the table for the first process; the count changes atomically. An
// unload lets the views of this process's slots go; slots stay open (a later load maps them
// again). At process exit nothing needs releasing.
BOOL DllEntryPoint(HINSTANCE instance, DWORD reason, bool processExit) {
    switch (reason) {
    case DLL_PROCESS_ATTACH: {
        g_self = instance;
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&g_viewLock);
        g_tableMutex = CreateMutexA(nullptr, FALSE, "DEVACC.OBJECT");
        TableLock lock;
        if (InterlockedCompareExchange(&EntryNo, 0, 0) == 0)
            std::memset(&DevManage, 0, sizeof DevManage);
        InterlockedIncrement(&EntryNo);
        return TRUE;
    }
    case DLL_PROCESS_DETACH:
        InterlockedDecrement(&EntryNo);
        if (!processExit) {
            DropAllSlotViews();
            if (g_tableMutex)
                CloseHandle(g_tableMutex);
            g_tableMutex = nullptr;
            DeleteCriticalSection(&g_viewLock);
        }
        return TRUE;
    default:
        return TRUE;
    }
}

} // namespace loxim

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return loxim::DllEntryPoint(instance, reason, reserved != nullptr);
}

extern "C" int32_t __stdcall DeviceIO_IF(uint32_t code, uint32_t handle, void *block) {
    using namespace loxim;
    if (code == LOXIM_OPEN)
        return OpenDevice(handle, static_cast<OpenDeviceBlock *>(block));
    if (code == LOXIM_CLOSE) {
        // The close checks the handle again under the mutex.
        if (core::SlotOfHandle(DevManage, handle, GetCurrentProcessId()) < 0)
            return core::kErrHandle;
        return CloseDevice(handle - 1);
    }
    const int slot = core::SlotOfHandle(DevManage, handle, GetCurrentProcessId());
    if (slot < 0)
        return core::kErrHandle;
    if (code == LOXIM_DEVICE_INFO)
        return CopyDeviceInfo(static_cast<uint32_t>(slot),
                              static_cast<DeviceInfoRequestBlock *>(block));
    return Operate(code, static_cast<uint32_t>(slot), block);
}

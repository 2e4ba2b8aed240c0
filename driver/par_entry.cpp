// tandrel: driver entry, device creation, names, registry parameters and unload.
#include "par_ext.h"
#include "tandrel_msg.h"

LONG OpenCloseReferenceCount = 1;
PFAST_MUTEX OpenCloseMutex = nullptr;

namespace {

constexpr ULONG kMutexBlockBytes = 32;
static_assert(sizeof(FAST_MUTEX) <= kMutexBlockBytes, "the mutex block holds a fast mutex");

// Buffer of a link base name: 256 characters and a terminating zero.
constexpr USHORT kLinkBaseBytes = (par::kMaxDosDeviceChars + 1) * sizeof(WCHAR);

// Unique values of the error-log entries written while devices are created.
enum : ULONG {
    kUniqueNames = 1,
    kUniqueCreateDevice = 2,
    kUniquePortObject = 3,
    kUniquePortInfo = 4,
    kUniqueLink = 5,
    kUniqueDeviceMap = 6,
    kUniqueParameterBuffer = 15,
};

const WCHAR kDeviceMapKey[] = L"PARALLEL PORTS";

PHYSICAL_ADDRESS NoDump() {
    PHYSICAL_ADDRESS none;
    none.QuadPart = 0;
    return none;
}

void FreeName(UNICODE_STRING &name) {
    if (name.Buffer != nullptr) {
        ExFreePoolWithTag(name.Buffer, kParPoolTag);
        name.Buffer = nullptr;
    }
    name.Length = 0;
    name.MaximumLength = 0;
}

// Makes an empty name with room for chars characters and a terminating zero.
bool AllocName(UNICODE_STRING &name, size_t chars) {
    size_t bytes = (chars + 1) * sizeof(WCHAR);
    name.Length = 0;
    name.MaximumLength = 0;
    name.Buffer = nullptr;
    if (bytes > 0xFFFE) {
        return false;
    }
    name.Buffer = static_cast<PWCH>(ExAllocatePoolWithTag(PagedPool, bytes, kParPoolTag));
    if (name.Buffer == nullptr) {
        return false;
    }
    name.MaximumLength = static_cast<USHORT>(bytes);
    RtlZeroMemory(name.Buffer, bytes);
    return true;
}

size_t Chars(const UNICODE_STRING &s) {
    return s.Length / sizeof(WCHAR);
}
size_t Capacity(const UNICODE_STRING &s) {
    return s.MaximumLength / sizeof(WCHAR) - 1;
}
uint16_t *Units(UNICODE_STRING &s) {
    return reinterpret_cast<uint16_t *>(s.Buffer);
}

bool Append(UNICODE_STRING &s, const char *ascii) {
    size_t len = Chars(s);
    if (!par::AppendAscii(Units(s), Capacity(s), &len, ascii)) {
        return false;
    }
    s.Length = static_cast<USHORT>(len * sizeof(WCHAR));
    return true;
}

bool Append(UNICODE_STRING &s, const UNICODE_STRING &tail) {
    size_t len = Chars(s);
    if (!par::AppendChars(Units(s), Capacity(s), &len,
                          reinterpret_cast<const uint16_t *>(tail.Buffer), Chars(tail))) {
        return false;
    }
    s.Length = static_cast<USHORT>(len * sizeof(WCHAR));
    return true;
}

bool Append(UNICODE_STRING &s, ULONG number) {
    size_t len = Chars(s);
    if (!par::AppendDecimal(Units(s), Capacity(s), &len, number)) {
        return false;
    }
    s.Length = static_cast<USHORT>(len * sizeof(WCHAR));
    return true;
}

// Names of one device: the port device below it, its own name, its DOS link (first without
// number) and the base name of the link.
struct ParNames {
    UNICODE_STRING port;
    UNICODE_STRING device;
    UNICODE_STRING link;
    UNICODE_STRING linkBase;
};

void FreeNames(ParNames &n) {
    FreeName(n.port);
    FreeName(n.device);
    FreeName(n.link);
    FreeName(n.linkBase);
}

} // namespace

bool ParMakeNames(ULONG index, ParNames &names) {
    RtlZeroMemory(&names, sizeof names);
    const size_t digits = par::DecimalChars(index);
    bool ok = AllocName(names.port, 20 + digits) && Append(names.port, "\\Device\\ParallelPort") &&
              Append(names.port, index) && AllocName(names.device, 14 + digits) &&
              Append(names.device, "\\Device\\pellin") && Append(names.device, index) &&
              AllocName(names.linkBase, par::kMaxDosDeviceChars) &&
              Append(names.linkBase, "pellin") &&
              AllocName(names.link, par::LinkNameChars(par::kMaxDosDeviceChars, 0)) &&
              Append(names.link, "\\DosDevices\\") && Append(names.link, names.linkBase);
    if (!ok) {
        FreeNames(names);
    }
    return ok;
}

// Rebuilds the link name as "\DosDevices\" + base + number, sized from the base.
bool ParMakeSymbolicNumber(ULONG number, UNICODE_STRING &link, const UNICODE_STRING &base) {
    UNICODE_STRING made;
    if (!AllocName(made, par::LinkNameChars(Chars(base), number))) {
        return false;
    }
    if (!Append(made, "\\DosDevices\\") || !Append(made, base) || !Append(made, number)) {
        FreeName(made);
        return false;
    }
    FreeName(link);
    link = made;
    return true;
}

namespace {

// Accepts a 4-byte REG_DWORD into the ULONG the entry names; anything else stops the read.
extern "C" NTSTATUS NTAPI ParQueryDword(PWSTR, ULONG type, PVOID data, ULONG length, PVOID,
                                        PVOID entryContext) {
    if (!par::DwordValueAcceptable(type, length) || data == nullptr) {
        return STATUS_OBJECT_TYPE_MISMATCH;
    }
    *static_cast<ULONG *>(entryContext) = *static_cast<const ULONG *>(data);
    return STATUS_SUCCESS;
}

// Accepts a REG_SZ of at most 256 characters into the counted string the entry names.
extern "C" NTSTATUS NTAPI ParQueryDosDevice(PWSTR, ULONG type, PVOID data, ULONG length, PVOID,
                                            PVOID entryContext) {
    const uint16_t *text = static_cast<const uint16_t *>(data);
    if (!par::DosDeviceValueAcceptable(type, text, length)) {
        return STATUS_OBJECT_TYPE_MISMATCH;
    }
    UNICODE_STRING *out = static_cast<UNICODE_STRING *>(entryContext);
    size_t chars = 0;
    while (chars < length / sizeof(WCHAR) && text[chars] != 0) {
        ++chars;
    }
    RtlCopyMemory(out->Buffer, text, chars * sizeof(WCHAR));
    out->Buffer[chars] = 0;
    out->Length = static_cast<USHORT>(chars * sizeof(WCHAR));
    return STATUS_SUCCESS;
}

void LoadParameters(const ParDeviceExtension *ext, par::Parameters &p) {
    p.threadPriority = ext->ThreadPriority;
    p.initializationTimeout = ext->InitializationTimeout;
    p.transferType = ext->RequestedMode;
    p.blockSize = ext->BlockSize;
    p.privMode = ext->PrivMode;
    p.strbBefore = ext->StrbBefore;
    p.strbAfter = ext->StrbAfter;
}

void StoreParameters(ParDeviceExtension *ext, const par::Parameters &p) {
    ext->ThreadPriority = p.threadPriority;
    ext->InitializationTimeout = p.initializationTimeout;
    ext->RequestedMode = p.transferType;
    ext->BlockSize = p.blockSize;
    ext->PrivMode = p.privMode;
    ext->StrbBefore = p.strbBefore;
    ext->StrbAfter = p.strbAfter;
}

// Applies the range rules to whatever the extension holds.
void FinishParameters(ParDeviceExtension *ext) {
    par::Parameters p;
    LoadParameters(ext, p);
    par::ApplyParameterRules(p);
    StoreParameters(ext, p);
}

} // namespace

// Reads the service key's Parameters into the extension; the link base takes a non-empty
// DosDevice.
void ParCheckParameters(PUNICODE_STRING registryPath, ParDeviceExtension *ext,
                        UNICODE_STRING &linkBase, PDRIVER_OBJECT driver) {
    UNICODE_STRING dosDevice;
    if (!AllocName(dosDevice, par::kMaxDosDeviceChars)) {
        ParLogError(driver, ext->DeviceObject, NoDump(), 0, 0, 0, kUniqueParameterBuffer,
                    STATUS_INSUFFICIENT_RESOURCES, PAR_INSUFFICIENT_RESOURCES);
        FinishParameters(ext);
        return;
    }
    UNICODE_STRING key;
    static const char kParameters[] = "\\Parameters";
    if (!AllocName(key, Chars(*registryPath) + sizeof kParameters - 1) ||
        !Append(key, *registryPath) || !Append(key, kParameters)) {
        FreeName(key);
        FreeName(dosDevice);
        FinishParameters(ext);
        return;
    }

    if (!NT_SUCCESS(RtlCheckRegistryKey(RTL_REGISTRY_ABSOLUTE, key.Buffer))) {
        // No Parameters key: every value at its default, DosDevice absent.
        StoreParameters(ext, par::DefaultParameters());
    } else {
        static const ULONG kZero = 0, kTwo = 2, kBlock = 512, kOne = 1;
        struct Entry {
            PRTL_QUERY_REGISTRY_ROUTINE routine;
            ULONG flags;
            const WCHAR *name;
            PVOID context;
            const ULONG *defaultValue;
        } const entries[] = {
            {ParQueryDword, 0, L"UseNT35Priority", &ext->ThreadPriority, &kZero},
            {ParQueryDword, 0, L"InitializationTimeout", &ext->InitializationTimeout, &kZero},
            {ParQueryDword, 0, L"TransferType", &ext->RequestedMode, &kTwo},
            {ParQueryDword, 0, L"BlockSize", &ext->BlockSize, &kBlock},
            {ParQueryDosDevice, RTL_QUERY_REGISTRY_REQUIRED, L"DosDevice", &dosDevice, nullptr},
            {ParQueryDword, 0, L"PRIV_MODE", &ext->PrivMode, &kOne},
            {ParQueryDword, 0, L"STRB_before", &ext->StrbBefore, &kZero},
            {ParQueryDword, 0, L"STRB_after", &ext->StrbAfter, &kZero},
        };
        constexpr size_t kCount = sizeof entries / sizeof entries[0];
        RTL_QUERY_REGISTRY_TABLE table[kCount + 1];
        RtlZeroMemory(table, sizeof table);
        for (size_t i = 0; i < kCount; ++i) {
            table[i].QueryRoutine = entries[i].routine;
            table[i].Flags = entries[i].flags;
            table[i].Name = const_cast<PWSTR>(entries[i].name);
            table[i].EntryContext = entries[i].context;
            if (entries[i].defaultValue != nullptr) {
                table[i].DefaultType = REG_DWORD;
                table[i].DefaultData = const_cast<ULONG *>(entries[i].defaultValue);
                table[i].DefaultLength = sizeof(ULONG);
            } else {
                table[i].DefaultType = REG_NONE;
            }
        }
        // The thread priority is used only when not 0; a stored 0 leaves the field as it is,
        // which is 0 at this point.
        RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, key.Buffer, table,
                               nullptr, nullptr);
        if (dosDevice.Length != 0) {
            linkBase.Length = 0;
            Append(linkBase, dosDevice); // both hold 256 characters
        }
    }
    FinishParameters(ext);
    FreeName(key);
    FreeName(dosDevice);
}

namespace {

void LogCreation(PDRIVER_OBJECT driver, PDEVICE_OBJECT device, PHYSICAL_ADDRESS dump, ULONG unique,
                 NTSTATUS status, NTSTATUS code) {
    ParLogError(driver, device, dump, 0, 0, 0, unique, status, code);
}

} // namespace

// Creates the device of one system parallel port; failures go to the event log only.
void ParInitializeClassDevice(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath, ULONG index) {
    ParNames names;
    if (!ParMakeNames(index, names)) {
        LogCreation(driver, nullptr, NoDump(), kUniqueNames, STATUS_INSUFFICIENT_RESOURCES,
                    PAR_INSUFFICIENT_RESOURCES);
        return;
    }

    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(ParDeviceExtension), &names.device,
                                     FILE_DEVICE_PARALLEL_PORT, 0, TRUE, &device);
    if (!NT_SUCCESS(status)) {
        LogCreation(driver, nullptr, NoDump(), kUniqueCreateDevice, status,
                    PAR_INSUFFICIENT_RESOURCES);
        FreeNames(names);
        return;
    }
    device->Flags |= DO_DIRECT_IO;

    auto *ext = static_cast<ParDeviceExtension *>(device->DeviceExtension);
    RtlZeroMemory(ext, sizeof *ext);
    ext->DeviceObject = device;
    status = IoGetDeviceObjectPointer(&names.port, FILE_READ_ATTRIBUTES, &ext->PortDeviceFileObject,
                                      &ext->PortDeviceObject);
    if (!NT_SUCCESS(status)) {
        LogCreation(driver, device, NoDump(), kUniquePortObject, status, PAR_CANT_FIND_PORT_DRIVER);
        IoDeleteDevice(device);
        FreeNames(names);
        return;
    }
    device->StackSize = static_cast<CCHAR>(ext->PortDeviceObject->StackSize + 1);

    InitializeListHead(&ext->WorkQueue);
    KeInitializeSemaphore(&ext->RequestSemaphore, 0, 0x7FFFFFFF);
    KeInitializeEvent(&ext->StartIoIdle, SynchronizationEvent, TRUE);
    ext->Timeout = 30;
    ext->Initialized = FALSE;
    ext->Initializing = FALSE;
    ext->DeferredWorkItem = nullptr;

    status = ParQueryPortInfo(ext);
    if (!NT_SUCCESS(status)) {
        LogCreation(driver, device, NoDump(), kUniquePortInfo, status, PAR_CANT_FIND_PORT_DRIVER);
        ObDereferenceObject(ext->PortDeviceFileObject);
        IoDeleteDevice(device);
        FreeNames(names);
        return;
    }
    // The probe and the calibrations touch the registers: hold the port while they run.
    const BOOLEAN granted = ParAllocPortBuilt(ext, 5);
    ParProbeEcp(ext);

    ext->OneSecond.QuadPart = par::kHundredNsPerSecond;
    ext->OneSecondDelay.QuadPart = -par::kHundredNsPerSecond;
    ext->PollDelay.QuadPart = -100000;
    ext->CurrentMode = kModeCompatibility;
    ext->InfoMarker = 1;
    ext->BlockSize = 512;
    ext->SavedStatus = 5;
    ParCheckParameters(registryPath, ext, names.linkBase, driver);

    ParGetLoopCount(ext);
    ParGetMceLoopCount(ext);
    if (granted) {
        ParFreePort(ext);
    }

    if (!ParMakeSymbolicNumber(index + 1, names.link, names.linkBase)) {
        LogCreation(driver, device, NoDump(), kUniqueNames, STATUS_INSUFFICIENT_RESOURCES,
                    PAR_INSUFFICIENT_RESOURCES);
        ParReleasePortInfoToPortDevice(ext);
        ObDereferenceObject(ext->PortDeviceFileObject);
        IoDeleteDevice(device);
        FreeNames(names);
        return;
    }

    // The deferred initialisation releases the port information taken above.
    ext->Initializing = TRUE;
    ParDeferDeviceInitialization(ext);

    status = IoCreateUnprotectedSymbolicLink(&names.link, &names.device);
    if (!NT_SUCCESS(status)) {
        ext->CreatedSymbolicLink = FALSE;
        LogCreation(driver, device, ext->OriginalController, kUniqueLink, status, PAR_NO_SYMLINK);
        LogCreation(driver, device, ext->OriginalController, kUniqueDeviceMap, status,
                    PAR_NO_DEVICE_MAP_CREATED);
        FreeName(names.link);
    } else {
        ext->CreatedSymbolicLink = TRUE;
        ext->SymbolicLinkName = names.link;
        names.link.Buffer = nullptr;
        status = RtlWriteRegistryValue(RTL_REGISTRY_DEVICEMAP, kDeviceMapKey, names.device.Buffer,
                                       REG_SZ, ext->SymbolicLinkName.Buffer,
                                       ext->SymbolicLinkName.Length + sizeof(WCHAR));
        if (!NT_SUCCESS(status)) {
            LogCreation(driver, device, ext->OriginalController, kUniqueDeviceMap, status,
                        PAR_NO_DEVICE_MAP_CREATED);
        }
    }
    // The extension keeps its own name for unload.
    ext->DeviceName = names.device;
    names.device.Buffer = nullptr;
    FreeNames(names);
}

extern "C" {

NTSTATUS NTAPI ParCreateOpen(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI ParClose(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI ParCleanup(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI ParReadWrite(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI ParDeviceControl(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI ParStartIo2(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI ParQueryInformationFile(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI ParSetInformationFile(PDEVICE_OBJECT device, PIRP irp);

VOID NTAPI ParUnload(PDRIVER_OBJECT driver) {
    // A queued or running deferred initialisation uses the extension and the mutex.
    ParWaitForDeferredInits();
    PDEVICE_OBJECT device = driver->DeviceObject;
    while (device != nullptr) {
        PDEVICE_OBJECT next = device->NextDevice;
        auto *ext = static_cast<ParDeviceExtension *>(device->DeviceExtension);
        if (ext->CreatedSymbolicLink) {
            IoDeleteSymbolicLink(&ext->SymbolicLinkName);
            RtlDeleteRegistryValue(RTL_REGISTRY_DEVICEMAP, kDeviceMapKey, ext->DeviceName.Buffer);
            FreeName(ext->SymbolicLinkName);
            ext->CreatedSymbolicLink = FALSE;
        }
        ObDereferenceObject(ext->PortDeviceFileObject);
        FreeName(ext->DeviceName);
        IoDeleteDevice(device);
        device = next;
    }
    ExFreePoolWithTag(OpenCloseMutex, kParPoolTag);
    OpenCloseMutex = nullptr;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    OpenCloseReferenceCount = 1;
    OpenCloseMutex = static_cast<PFAST_MUTEX>(
        ExAllocatePoolWithTag(NonPagedPool, kMutexBlockBytes, kParPoolTag));
    if (OpenCloseMutex == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ExInitializeFastMutex(OpenCloseMutex);
    ParInitDeferredTracking();

    for (ULONG i = 0; i < IoGetConfigurationInformation()->ParallelCount; ++i) {
        ParInitializeClassDevice(driver, registryPath, i);
    }
    if (driver->DeviceObject == nullptr) {
        ExFreePoolWithTag(OpenCloseMutex, kParPoolTag);
        OpenCloseMutex = nullptr;
        return STATUS_NO_SUCH_DEVICE;
    }

    driver->MajorFunction[IRP_MJ_CREATE] = ParCreateOpen;
    driver->MajorFunction[IRP_MJ_CLOSE] = ParClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = ParCleanup;
    driver->MajorFunction[IRP_MJ_READ] = ParReadWrite;
    driver->MajorFunction[IRP_MJ_WRITE] = ParReadWrite;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = ParDeviceControl;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = ParStartIo2;
    driver->MajorFunction[IRP_MJ_QUERY_INFORMATION] = ParQueryInformationFile;
    driver->MajorFunction[IRP_MJ_SET_INFORMATION] = ParSetInformationFile;
    driver->DriverUnload = ParUnload;

    ParLowerOpenCloseCount();
    return STATUS_SUCCESS;
}

} // extern "C"

void ParRaiseOpenCloseCount() {
    ExAcquireFastMutex(OpenCloseMutex);
    if (++OpenCloseReferenceCount == 1) {
        MmResetDriverPaging(reinterpret_cast<PVOID>(DriverEntry));
    }
    ExReleaseFastMutex(OpenCloseMutex);
}

void ParLowerOpenCloseCount() {
    ExAcquireFastMutex(OpenCloseMutex);
    if (--OpenCloseReferenceCount == 0) {
        MmPageEntireDriver(reinterpret_cast<PVOID>(DriverEntry));
    }
    ExReleaseFastMutex(OpenCloseMutex);
}

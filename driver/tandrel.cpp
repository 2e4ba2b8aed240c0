// tandrel: driver entry and unload.
#include <ntddk.h>

namespace {

void NTAPI DriverUnloadRoutine(PDRIVER_OBJECT) {}

} // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    driver->DriverUnload = DriverUnloadRoutine;
    DbgPrint("tandrel: loaded\n");
    return STATUS_SUCCESS;
}

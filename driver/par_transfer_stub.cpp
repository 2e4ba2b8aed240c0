// tandrel: the reverse transfers while they are not built: reads fail with
// STATUS_INVALID_DEVICE_REQUEST and no register is touched.
#include "par_transfer.h"

void ParReadIo(ParDeviceExtension *ext, PUCHAR, ULONG) {
    ParFinishRequest(ext, ext->CurrentIrp, STATUS_INVALID_DEVICE_REQUEST, 0, IO_NO_INCREMENT);
}

NTSTATUS ParQueryDeviceId(ParDeviceExtension *, PUCHAR, ULONG, ULONG *idLength) {
    *idLength = 0;
    return STATUS_INVALID_DEVICE_REQUEST;
}

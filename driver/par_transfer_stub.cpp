// tandrel: the modes and transfers while they are not built. Negotiation is refused, every
// transfer fails with STATUS_INVALID_DEVICE_REQUEST, and no register is touched.
#include "par_transfer.h"

BOOLEAN ParNegotiation(ParDeviceExtension *, ULONG) {
    return FALSE;
}

void ParTermination(ParDeviceExtension *ext) {
    ext->CurrentMode = kModeCompatibility;
}

void ParWriteOutData2(ParDeviceExtension *ext) {
    ParFinishRequest(ext, ext->CurrentIrp, STATUS_INVALID_DEVICE_REQUEST, 0, IO_NO_INCREMENT);
}

BOOLEAN ParWriteCompat(ParDeviceExtension *, ULONG, const UCHAR *) {
    return FALSE;
}

BOOLEAN ParWriteCompat2(ParDeviceExtension *, ULONG, const UCHAR *, ULONG *sent) {
    *sent = 0;
    return FALSE;
}

BOOLEAN ParWriteMceBurst(ParDeviceExtension *, ULONG, const UCHAR *) {
    return FALSE;
}

LONG ParWrite_ecp(ParDeviceExtension *, ULONG, const UCHAR *) {
    return 0;
}

void ParReadIo(ParDeviceExtension *ext, PUCHAR, ULONG) {
    ParFinishRequest(ext, ext->CurrentIrp, STATUS_INVALID_DEVICE_REQUEST, 0, IO_NO_INCREMENT);
}

NTSTATUS ParQueryDeviceId(ParDeviceExtension *, PUCHAR, ULONG, ULONG *idLength) {
    *idLength = 0;
    return STATUS_INVALID_DEVICE_REQUEST;
}

ULONG par_simu_tarn(ParDeviceExtension *ext) {
    ext->CurrentIrp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    return 0;
}

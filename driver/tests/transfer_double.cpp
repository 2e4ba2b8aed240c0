// The scriptable stand-in of the modes and transfers.
#include "transfer_double.h"

TransferScript g_transfer;

void ResetTransferScript() {
    g_transfer = TransferScript();
}

namespace {

void Record(const std::string &call, ParDeviceExtension *ext, bool needsPort = true) {
    g_transfer.calls.push_back(call);
    if (needsPort && !ext->PortAllocated) {
        g_transfer.callsWithoutPort++;
    }
}

void Send(ULONG count, const UCHAR *data) {
    g_transfer.sent.insert(g_transfer.sent.end(), data, data + count);
}

} // namespace

BOOLEAN ParNegotiation(ParDeviceExtension *ext, ULONG mode) {
    Record("negotiate " + std::to_string(mode), ext);
    if (g_transfer.negotiation) {
        ext->CurrentMode = mode;
        ext->NegotiationStatus = g_transfer.negotiationStatus;
    }
    return g_transfer.negotiation;
}

void ParTermination(ParDeviceExtension *ext) {
    Record("terminate", ext, false); // the last close terminates with a port of its own
    ext->CurrentMode = kModeCompatibility;
}

void ParWriteOutData2(ParDeviceExtension *ext) {
    PIRP irp = ext->CurrentIrp;
    const ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
    Record("write " + std::to_string(length), ext);
    auto *data = static_cast<const UCHAR *>(
        MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
    const ULONG block = g_transfer.writeBlock ? g_transfer.writeBlock : length;
    ULONG done = 0;
    while (done < length) {
        if (irp->Cancel) {
            ParFinishRequest(ext, irp, STATUS_CANCELLED, 0, IO_NO_INCREMENT);
            return;
        }
        const ULONG n = length - done < block ? length - done : block;
        Send(n, data + done);
        done += n;
        if (g_transfer.blockDelayMs > 0) {
            LARGE_INTEGER d;
            d.QuadPart = -10000LL * g_transfer.blockDelayMs;
            KeDelayExecutionThread(KernelMode, FALSE, &d);
        }
    }
    ParFinishRequest(ext, irp, STATUS_SUCCESS, length, IO_PARALLEL_INCREMENT);
}

BOOLEAN ParWriteCompat(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    Record("compat " + std::to_string(count), ext);
    if (g_transfer.compat)
        Send(count, data);
    return g_transfer.compat;
}

BOOLEAN ParWriteCompat2(ParDeviceExtension *ext, ULONG count, const UCHAR *data, ULONG *sent) {
    Record("compat2 " + std::to_string(count), ext);
    *sent = g_transfer.compat2Sent == ~0u ? count : g_transfer.compat2Sent;
    Send(*sent, data);
    return g_transfer.compat2;
}

BOOLEAN ParWriteMceBurst(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    Record("mce " + std::to_string(count), ext);
    Send(count, data);
    return g_transfer.mce;
}

LONG ParWrite_ecp(ParDeviceExtension *ext, ULONG count, const UCHAR *data) {
    Record("ecp " + std::to_string(count), ext);
    Send(count, data);
    return g_transfer.ecp;
}

void ParReadIo(ParDeviceExtension *ext, PUCHAR buffer, ULONG length) {
    Record("read " + std::to_string(length), ext);
    ULONG n = static_cast<ULONG>(g_transfer.readData.size());
    if (n > length)
        n = length;
    for (ULONG i = 0; i < n; ++i)
        buffer[i] = g_transfer.readData[i];
    ParFinishRequest(ext, ext->CurrentIrp, g_transfer.readStatus,
                     NT_SUCCESS(g_transfer.readStatus) ? n : 0, IO_NO_INCREMENT);
}

NTSTATUS ParQueryDeviceId(ParDeviceExtension *ext, PUCHAR buffer, ULONG size, ULONG *idLength) {
    Record("device id " + std::to_string(size), ext);
    *idLength = 0;
    if (!NT_SUCCESS(g_transfer.idStatus))
        return g_transfer.idStatus;
    const ULONG length = static_cast<ULONG>(g_transfer.deviceId.size());
    *idLength = length;
    if (size < length)
        return STATUS_BUFFER_TOO_SMALL;
    for (ULONG i = 0; i < length; ++i)
        buffer[i] = g_transfer.deviceId[i];
    return STATUS_SUCCESS;
}

ULONG par_simu_tarn(ParDeviceExtension *ext) {
    Record("probe", ext);
    ext->CurrentIrp->IoStatus.Status =
        g_transfer.rateOk ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_REQUEST;
    return g_transfer.rateOk ? g_transfer.rate : 0;
}

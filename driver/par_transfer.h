// tandrel: the IEEE 1284 modes and transfers the request routines call.
#pragma once

#include "par_ext.h"

// Puts the peripheral into mode; true when it accepted (current mode is then mode).
BOOLEAN ParNegotiation(ParDeviceExtension *ext, ULONG mode);
// Returns the peripheral to compatibility mode (current mode 2).
void ParTermination(ParDeviceExtension *ext);
// Executes the current write request and completes it (ParFinishRequest).
void ParWriteOutData2(ParDeviceExtension *ext);
// Forward writers: true when all bytes were sent.
BOOLEAN ParWriteCompat(ParDeviceExtension *ext, ULONG count, const UCHAR *data);
BOOLEAN ParWriteCompat2(ParDeviceExtension *ext, ULONG count, const UCHAR *data, ULONG *sent);
BOOLEAN ParWriteMceBurst(ParDeviceExtension *ext, ULONG count, const UCHAR *data);
// 1 on success, else minus the bytes placed in the FIFO.
LONG ParWrite_ecp(ParDeviceExtension *ext, ULONG count, const UCHAR *data);
// Reads into buffer and completes the current request (ParFinishRequest).
void ParReadIo(ParDeviceExtension *ext, PUCHAR buffer, ULONG length);
// Reads the IEEE 1284 device ID (without its length bytes); *idLength is its length.
NTSTATUS ParQueryDeviceId(ParDeviceExtension *ext, PUCHAR buffer, ULONG size, ULONG *idLength);
// Throughput probe of the current mode; sets the current request's status.
ULONG par_simu_tarn(ParDeviceExtension *ext);

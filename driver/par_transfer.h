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
void ParWriteBurst(ParDeviceExtension *ext, ULONG count, const UCHAR *data);
void ParWriteDB(ParDeviceExtension *ext, ULONG count, const UCHAR *data);
void ParWrite_PX_DB(ParDeviceExtension *ext, ULONG count, const UCHAR *data);
// 0 on success, 5 when the peripheral was not ready (nothing sent), else the status register
// after an end wait that failed.
ULONG ParWriteAB(ParDeviceExtension *ext, ULONG count, const UCHAR *data);
ULONG ParWriteAC(ParDeviceExtension *ext, ULONG count, const UCHAR *data);
// 1 on success, else minus the bytes placed in the FIFO.
LONG ParWrite_ecp(ParDeviceExtension *ext, ULONG count, const UCHAR *data);
// The Mce end-of-block handshake and turnarounds: true when the peripheral answered.
BOOLEAN ParEndOfBlock(ParDeviceExtension *ext);
BOOLEAN ParFwd2Rev(ParDeviceExtension *ext);
BOOLEAN ParRev2Fwd(ParDeviceExtension *ext);
// Reads into buffer and completes the current request (ParFinishRequest).
void ParReadIo(ParDeviceExtension *ext, PUCHAR buffer, ULONG length);
// Reads the IEEE 1284 device ID (without its length bytes); *idLength is its length.
NTSTATUS ParQueryDeviceId(ParDeviceExtension *ext, PUCHAR buffer, ULONG size, ULONG *idLength);
// Throughput probe of the current mode; sets the current request's status.
ULONG par_simu_tarn(ParDeviceExtension *ext);
// The probe's writers: the pattern of their real twins, every write to the data register.
void sumi_ParWriteCompat(ParDeviceExtension *ext, ULONG count, const UCHAR *data);
void sumi_ParWriteBurst(ParDeviceExtension *ext, ULONG count, const UCHAR *data);
void sumi_ParWriteAB(ParDeviceExtension *ext, ULONG count, const UCHAR *data);
void sumi_ParWriteAC(ParDeviceExtension *ext, ULONG count, const UCHAR *data);
void sumi_ParWriteecp(ParDeviceExtension *ext, ULONG count, const UCHAR *data);

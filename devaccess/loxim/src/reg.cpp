// Per-printer values under the spooler's printer keys.
#include <limits>
#include <string>

#include "internal.h"

namespace loxim {

namespace {

constexpr char kPrinters[] = "System\\CurrentControlSet\\Control\\Print\\Printers";

bool OpenPrinterKey(const char *printer, bool driverData, HKEY &key) {
    if (!printer)
        return false;
    std::string path = std::string(kPrinters) + "\\" + printer;
    if (driverData)
        path += "\\PrinterDriverData";
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
}

void ReadU32(const char *printer, const char *name, uint32_t &value) {
    uint32_t read = 0;
    if (ReadPrinterRegValue(printer, true, name, &read, sizeof read))
        value = read;
}

} // namespace

bool ReadPrinterRegValue(const char *printer, bool driverData, const char *name, void *buffer,
                         DWORD size) {
    HKEY key;
    if (!buffer || !OpenPrinterKey(printer, driverData, key))
        return false;
    DWORD length = size;
    const LONG status =
        RegQueryValueExA(key, name, nullptr, nullptr, static_cast<BYTE *>(buffer), &length);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool ReadPrinterRegText(const char *printer, bool driverData, const char *name, char *buffer,
                        DWORD size) {
    if (!buffer)
        return false;
    buffer[0] = 0;
    HKEY key;
    if (!OpenPrinterKey(printer, driverData, key))
        return false;
    // The query may fill its buffer without a terminator: the caller's buffer has one byte more.
    DWORD length = size;
    const LONG status =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buffer), &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        buffer[0] = 0;
        return false;
    }
    buffer[length < size ? length : size] = 0;
    return true;
}

void ReadPrinterSettings(const char *printer, PrinterSettings &s) {
    s = PrinterSettings{0x300, 180000, 45000, 30000, 2048, 300, 1, 150};
    if (!printer)
        return;
    ReadU32(printer, "TransferMode", s.transferMode);
    uint32_t flag = 0;
    ReadU32(printer, "TransferModeFlag", flag);
    s.transferMode |= flag;
    ReadU32(printer, "JobTimeOut", s.jobTimeOut);
    ReadU32(printer, "BusyTimeOut", s.busyTimeOut);
    ReadU32(printer, "BusyConeectChkTO", s.busyConnectCheckTimeOut);
    uint32_t blocks = 0;
    if (ReadPrinterRegValue(printer, true, "ReceiveBufBlkSize", &blocks, sizeof blocks)) {
        const uint64_t bytes = uint64_t{blocks} * 512;
        s.receiveBufferSize = bytes > std::numeric_limits<uint32_t>::max()
                                  ? std::numeric_limits<uint32_t>::max()
                                  : static_cast<uint32_t>(bytes);
    }
    ReadU32(printer, "UstatusTimeOut", s.ustatusTimeOut);
    ReadU32(printer, "GoWaitBlockSize", s.goWaitBlockSize);
    ReadU32(printer, "TransferRate", s.transferRate);
}

} // namespace loxim

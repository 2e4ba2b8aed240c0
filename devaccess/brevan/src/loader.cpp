// Loading and binding the transports, and the tables that translate their results.
#include "brevan.h"
#include "session.h"

namespace {

constexpr DWORD kModuleNameSize = 256;

struct ResultRow {
    int32_t from;
    int32_t to;
};

// dorvik's results; 0 to 4 (success, completions, connected, cancelled) give 0.
constexpr ResultRow kRawTable[] = {
    {QUV9100_E_EXISTS, IPACC_E_EXISTS},       {QUV9100_E_NO_SESSION, IPACC_E_SESSION},
    {QUV9100_E_ARGUMENT, IPACC_E_MEMORY},     {QUV9100_E_THREAD, IPACC_E_START},
    {QUV9100_E_BUSY, IPACC_E_BUSY},           {QUV9100_E_HOST, IPACC_E_HOST},
    {QUV9100_E_SEND, IPACC_E_SEND},           {QUV9100_E_RECEIVE, IPACC_E_RECEIVE},
    {QUV9100_E_FILE_OPEN, IPACC_E_FILE_OPEN}, {QUV9100_E_FILE_WRITE, IPACC_E_FILE_WRITE},
    {QUV9100_E_FILE_READ, IPACC_E_FILE_READ}, {QUV9100_E_CONNECT, IPACC_E_CONNECT},
};

// tessyn's results; 0, 1 (a closed port) and 3 give 0.
constexpr ResultRow kSnmpTable[] = {
    {TESSYN_E_THREAD, IPACC_E_SEND},   {TESSYN_E_HANDLE, IPACC_E_SESSION},
    {TESSYN_E_MEMORY, IPACC_E_MEMORY}, {TESSYN_E_SOCKET, IPACC_E_START},
    {TESSYN_E_OID, IPACC_E_OID},       {TESSYN_E_IPX, IPACC_E_IPX},
    {TESSYN_E_HOST, IPACC_E_HOST},     {TESSYN_E_VALUE, IPACC_E_RECEIVE},
};

constexpr int32_t kUntranslated = IPACC_E_OTHER;

template <size_t N> int32_t Translate(const ResultRow (&table)[N], int32_t result) {
    for (const ResultRow &row : table)
        if (row.from == result)
            return row.to;
    return kUntranslated;
}

// brevan's folder with its trailing backslash, or false when the module name is not available
// whole (a truncated name fills the buffer exactly).
bool ModuleFolder(std::string &folder) {
    char name[kModuleNameSize];
    DWORD length = GetModuleFileNameA(g_ipAcc.module, name, kModuleNameSize);
    if (length == 0 || length >= kModuleNameSize)
        return false;
    std::string whole(name, length);
    size_t cut = whole.find_last_of('\\');
    folder = cut == std::string::npos ? std::string() : whole.substr(0, cut + 1);
    return true;
}

// Folder plus file name, else the bare file name through the system's search order.
HMODULE LoadTransport(const std::string &folder, const char *file) {
    HMODULE module = LoadLibraryA((folder + file).c_str());
    return module ? module : LoadLibraryA(file);
}

template <typename T> bool Bind(HMODULE module, const char *name, T &entry) {
    entry = reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    return entry != nullptr;
}

} // namespace

int32_t IpAccRawResult(int32_t result) {
    if (result >= 0 && result <= 4)
        return 0;
    return Translate(kRawTable, result);
}

int32_t IpAccSnmpResult(int32_t result) {
    if (result == 0 || result == 1 || result == 3)
        return 0;
    return Translate(kSnmpTable, result);
}

void IpAccUnloadTransports(TcpIpAccSession &s) {
    if (s.tessyn) {
        if (s.snmpPort > 0 && s.closePort)
            s.closePort(s.snmpPort);
        s.tessyn.reset();
    }
    s.dorvik.reset();
    s.snmpPort = 0;
    s.destPort = 0;
    s.openPort = nullptr;
    s.postMessage = nullptr;
    s.closePort = nullptr;
    s.rawOpenFn = nullptr;
    s.rawClose = nullptr;
    s.rawWrite = nullptr;
    s.rawRead = nullptr;
    s.rawWriteFile = nullptr;
    s.rawReadFile = nullptr;
    s.rawProgress = nullptr;
    s.rawCancel = nullptr;
}

namespace {

int32_t LoadBoth(TcpIpAccSession &s, uint16_t localSnmpPort) {
    std::string folder;
    if (!ModuleFolder(folder))
        return IPACC_E_NO_TESSYN;
    s.tessyn.reset(LoadTransport(folder, "tessyn.dll"));
    if (!s.tessyn)
        return IPACC_E_NO_TESSYN;
    if (!Bind(s.tessyn.get(), "Tessyn_OpenPort", s.openPort) ||
        !Bind(s.tessyn.get(), "Tessyn_PostSnmpMessage", s.postMessage) ||
        !Bind(s.tessyn.get(), "Tessyn_ClosePort", s.closePort))
        return IPACC_E_EXPORT;
    int32_t port = s.openPort(TESSYN_KIND_UDP, localSnmpPort);
    if (port < 0)
        return IpAccSnmpResult(port);
    s.snmpPort = port;

    if (!ModuleFolder(folder))
        return IPACC_E_NO_DORVIK;
    s.dorvik.reset(LoadTransport(folder, "dorvik.dll"));
    if (!s.dorvik)
        return IPACC_E_NO_DORVIK;
    if (!Bind(s.dorvik.get(), "Quv9100_Open", s.rawOpenFn) ||
        !Bind(s.dorvik.get(), "Quv9100_Close", s.rawClose) ||
        !Bind(s.dorvik.get(), "Quv9100_Write", s.rawWrite) ||
        !Bind(s.dorvik.get(), "Quv9100_Read", s.rawRead) ||
        !Bind(s.dorvik.get(), "Quv9100_WriteFile", s.rawWriteFile) ||
        !Bind(s.dorvik.get(), "Quv9100_ReadFile", s.rawReadFile) ||
        !Bind(s.dorvik.get(), "Quv9100_Progress", s.rawProgress) ||
        !Bind(s.dorvik.get(), "Quv9100_Cancel", s.rawCancel))
        return IPACC_E_EXPORT;
    return 0;
}

} // namespace

int32_t IpAccLoadTransports(TcpIpAccSession &session, uint16_t localSnmpPort) {
    int32_t result = LoadBoth(session, localSnmpPort);
    if (result != 0)
        IpAccUnloadTransports(session);
    return result;
}

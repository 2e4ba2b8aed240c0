#include "parameter.h"

#include <cstring>

#include "library_folder.h"
#include "mail_error.h"
#include "windows_version.h"

namespace {

constexpr const char *kSettingsPath = "Software\\Dranvel\\Common\\SMTP";
constexpr const char *kPassPhrase = "tarnwex.dll";
constexpr int kPassPhraseLength = 11;
constexpr REGSAM kWriteAccess = KEY_READ | KEY_WRITE; // 0x2001F
constexpr int kScramble = 1;
constexpr int kUnscramble = 2;

// vantrel fills a table whose size it does not state; this one leaves room to spare.
constexpr int kAdapterTableEntries = 32;
using InitAdapterLibraryFn = int (*)(HMODULE module, void **table);
using AdapterRootChoiceFn = int (*)();

CParameter::OpenObserver g_openObserver = nullptr;

LONG OpenKey(HKEY parent, const char *path, REGSAM access, HKEY *out) {
    if (g_openObserver)
        g_openObserver(access);
    return RegOpenKeyExA(parent, path, 0, access, out);
}

LONG CreateKey(HKEY parent, const char *name, HKEY *out) {
    if (g_openObserver)
        g_openObserver(kWriteAccess);
    return RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, kWriteAccess, nullptr,
                           out, nullptr);
}

template <typename Fn> Fn ProcAs(HMODULE module, const char *name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

void FreeHeap(void *buffer) {
    if (buffer)
        HeapFree(GetProcessHeap(), 0, buffer);
}

} // namespace

void CParameter::SetOpenObserverForTesting(OpenObserver observer) {
    g_openObserver = observer;
}

CParameter::CParameter() {
    std::memset(m_server, 0, sizeof m_server);
    std::memset(m_user, 0, sizeof m_user);
    std::memset(m_password, 0, sizeof m_password);
    quenta::WindowsVersion version;
    if (!quenta::ReadWindowsVersion(version))
        return;
    if (!version.IsNt4OrWin95()) {
        m_marfel.reset(quenta::LoadCompanionLibrary(L"marfel.dll"));
        if (m_marfel) {
            auto init = ProcAs<InitCryptDataLibraryFn>(m_marfel.get(), "InitCryptDataLibrary");
            if (!init || init(m_marfel.get(), &m_crypt) != 0 || !m_crypt.CdCryptRC4Data) {
                m_marfel.reset();
                m_crypt = CryptDataLibraryTable{};
            }
        }
    }
    if (version.platformId == VER_PLATFORM_WIN32_NT && version.major > 5) {
        if (HMODULE vantrel = quenta::LoadCompanionLibrary(L"vantrel.dll")) {
            void *table[kAdapterTableEntries] = {};
            auto init = ProcAs<InitAdapterLibraryFn>(vantrel, "InitAdapterLibrary");
            if (init && init(vantrel, table) == 0 && table[2])
                m_rootChoice = reinterpret_cast<AdapterRootChoiceFn>(table[2])();
            FreeLibrary(vantrel);
        }
    }
}

CParameter::~CParameter() {
    CloseSettingsKey();
    m_marfel.reset();
}

HKEY CParameter::Root() const {
    return m_rootChoice == 3 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

bool CParameter::OpenSettingsKey(bool forWriting, bool *missing) {
    CloseSettingsKey();
    const REGSAM access = forWriting ? kWriteAccess : KEY_READ;
    const LONG status = OpenKey(Root(), kSettingsPath, access, m_key.put());
    if (missing)
        *missing = status == ERROR_FILE_NOT_FOUND;
    if (status == ERROR_SUCCESS)
        return true;
    m_key.release(); // no key was opened
    if (!forWriting)
        return false;
    HKEY parent = nullptr;
    if (OpenKey(Root(), "Software", kWriteAccess, &parent) != ERROR_SUCCESS)
        return false;
    for (const char *name : {"Dranvel", "Common", "SMTP"}) {
        HKEY child = nullptr;
        const LONG status = CreateKey(parent, name, &child);
        RegCloseKey(parent);
        if (status != ERROR_SUCCESS)
            return false;
        parent = child;
    }
    m_key.reset(parent);
    return true;
}

void CParameter::CloseSettingsKey() {
    m_key.reset();
}

char *CParameter::GetServer() {
    std::memset(m_server, 0, sizeof m_server);
    if (!OpenSettingsKey(false))
        return m_server;
    // 255 characters and a terminator at most; a full buffer without one is refused.
    DWORD type = 0, size = sizeof m_server;
    const LONG status = RegQueryValueExA(m_key.get(), "Server", nullptr, &type,
                                         reinterpret_cast<BYTE *>(m_server), &size);
    CloseSettingsKey();
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) ||
        (size == sizeof m_server && m_server[kMaxServer] != '\0'))
        std::memset(m_server, 0, sizeof m_server);
    m_server[kMaxServer] = '\0';
    return m_server;
}

void CParameter::SetServer(const char *text) {
    if (!text)
        text = "";
    const std::size_t length = std::strlen(text);
    if (length > kMaxServer)
        return;
    if (!OpenSettingsKey(true))
        return;
    RegSetValueExA(m_key.get(), "Server", 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                   static_cast<DWORD>(length + 1));
    CloseSettingsKey();
}

bool CParameter::ReadDword(const char *value, DWORD &out) {
    if (!OpenSettingsKey(false))
        return false;
    DWORD type = 0, data = 0, size = sizeof data;
    const LONG status = RegQueryValueExA(m_key.get(), value, nullptr, &type,
                                         reinterpret_cast<BYTE *>(&data), &size);
    CloseSettingsKey();
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data)
        return false;
    out = data;
    return true;
}

void CParameter::WriteDword(const char *value, DWORD data) {
    if (!OpenSettingsKey(true))
        return;
    RegSetValueExA(m_key.get(), value, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data),
                   sizeof data);
    CloseSettingsKey();
}

int CParameter::GetPort() {
    DWORD port = 25;
    return ReadDword("Port", port) ? static_cast<int>(port) : 25;
}

void CParameter::SetPort(int port) {
    WriteDword("Port", static_cast<DWORD>(port));
}

int CParameter::GetTimeout() {
    DWORD seconds = 60;
    return ReadDword("Timeout", seconds) ? static_cast<int>(seconds) : 60;
}

void CParameter::SetTimeout(int seconds) {
    WriteDword("Timeout", static_cast<DWORD>(seconds));
}

char *CParameter::GetUserName() {
    return GetCredential("UserName", m_user);
}
char *CParameter::GetPassword() {
    return GetCredential("Password", m_password);
}
void CParameter::SetUserName(const char *text) {
    SetCredential("UserName", text);
}
void CParameter::SetPassword(const char *text) {
    SetCredential("Password", text);
}

char *CParameter::GetCredential(const char *value, char *buffer) {
    if (!m_marfel)
        ThrowMailError(kMailDependentDll);
    std::memset(buffer, 0, 260);
    unsigned char stored[kMaxCredential] = {};
    // A missing key holds no credential; reading never creates it. A key that is there but
    // cannot be opened is a failure, not an empty credential.
    bool missing = false;
    if (!OpenSettingsKey(false, &missing)) {
        if (missing)
            return buffer;
        ThrowMailError(kMailRegistry);
    }
    DWORD type = 0, size = sizeof stored;
    const LONG status = RegQueryValueExA(m_key.get(), value, nullptr, &type, stored, &size);
    CloseSettingsKey();
    if (status == ERROR_FILE_NOT_FOUND)
        return buffer;
    if (status != ERROR_SUCCESS || type != REG_BINARY || size > kMaxCredential)
        ThrowMailError(kMailRegistry);
    if (size == 0)
        return buffer;
    unsigned length = size;
    void *plain =
        m_crypt.CdCryptRC4Data(kPassPhrase, kPassPhraseLength, stored, &length, kUnscramble);
    if (!plain)
        ThrowMailError(kMailDependentDll);
    std::memcpy(buffer, plain, length < kMaxCredential ? length : kMaxCredential);
    FreeHeap(plain);
    return buffer;
}

void CParameter::SetCredential(const char *value, const char *text) {
    if (!m_marfel)
        ThrowMailError(kMailDependentDll);
    if (!text)
        return;
    const std::size_t length = std::strlen(text);
    if (length > kMaxCredential)
        ThrowMailError(kMailRegistry);
    if (!OpenSettingsKey(true))
        ThrowMailError(kMailRegistry);
    LONG status = ERROR_SUCCESS;
    if (length == 0) {
        status = RegSetValueExA(m_key.get(), value, 0, REG_BINARY, nullptr, 0);
    } else {
        unsigned scrambledLength = static_cast<unsigned>(length);
        void *scrambled = m_crypt.CdCryptRC4Data(kPassPhrase, kPassPhraseLength, text,
                                                 &scrambledLength, kScramble);
        if (!scrambled) {
            CloseSettingsKey();
            ThrowMailError(kMailDependentDll);
        }
        status = RegSetValueExA(m_key.get(), value, 0, REG_BINARY,
                                static_cast<const BYTE *>(scrambled), scrambledLength);
        FreeHeap(scrambled);
    }
    CloseSettingsKey();
    if (status != ERROR_SUCCESS)
        ThrowMailError(kMailRegistry);
}

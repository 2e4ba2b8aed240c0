// SMTP settings kept in the registry under "Software\Dranvel\Common\SMTP": server, port and
// reply time-out, and the user name and password scrambled with marfel's RC4 routine.
// Failures of the credential accessors are thrown as a MailErrorCode.
#pragma once

#include <windows.h>

#include "win_owners.h"

#include "marfel.h"

#undef GetUserName

class CParameter {
  public:
    CParameter();
    virtual ~CParameter();
    CParameter(const CParameter &) = delete;
    CParameter &operator=(const CParameter &) = delete;

    char *GetServer();
    void SetServer(const char *text);
    int GetPort();
    void SetPort(int port);
    int GetTimeout();
    void SetTimeout(int seconds);
    char *GetUserName();
    void SetUserName(const char *text);
    char *GetPassword();
    void SetPassword(const char *text);

    // The root the settings live under: HKEY_LOCAL_MACHINE unless vantrel chose otherwise.
    HKEY Root() const;
    bool HasMarfel() const { return static_cast<bool>(m_marfel); }

    // Most bytes of a stored credential and characters of a stored server name.
    static constexpr DWORD kMaxCredential = 256;
    static constexpr DWORD kMaxServer = 255;

    // Tests see the access every open of the settings key asks for.
    using OpenObserver = void (*)(REGSAM access);
    static void SetOpenObserverForTesting(OpenObserver observer);

  protected:
    // Opens the settings key: for reading only, never creating, or for writing, creating the
    // chain where needed. A failed read open tells in `missing` whether the key is absent.
    bool OpenSettingsKey(bool forWriting, bool *missing = nullptr);
    void CloseSettingsKey();

  private:
    char *GetCredential(const char *value, char *buffer);
    void SetCredential(const char *value, const char *text);
    bool ReadDword(const char *value, DWORD &out);
    void WriteDword(const char *value, DWORD data);

    char m_server[256];
    char m_user[260];
    char m_password[260];
    win::RegKey m_key;
    win::Module m_marfel;
    CryptDataLibraryTable m_crypt{};
    int m_rootChoice = 3;
};

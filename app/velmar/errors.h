// Failure codes to message boxes.
#pragma once

#include <windows.h>

// Reports a failure code at once: codes with bit 0x20000000 through the table of string
// ids in "Kelvane Error Code %d(0x%x): %s", others with the system's text. 0 and 0x20000008
// (the user declined to retry) show nothing.
class CErrors {
  public:
    explicit CErrors(DWORD code);
    virtual ~CErrors() = default;
    static UINT GetMessageId(DWORD code);
};

// The application's own codes, beside those of the port API (corvane.h).
constexpr DWORD kErrPasswordFile = 0x20002710;
constexpr DWORD kErrNoPort = 0x20002712;
constexpr DWORD kErrNoFileSystem = 0x20002715;
constexpr DWORD kErrDeclined = 0x20000008;

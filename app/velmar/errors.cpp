#include "errors.h"

#include <cstdio>

#include "framework.h"
#include "resource_ids.h"

#include "helpers.h"

namespace {

constexpr UINT kBoxFlags = MB_OK | MB_SYSTEMMODAL | MB_SETFOREGROUND;

struct CodeText {
    DWORD code;
    UINT id;
};

constexpr CodeText kCodes[] = {
    {0x20000001, IDS_ERR_UNSUPPORTED_PORT},     {0x20000002, IDS_ERR_INVALID_PORT_HANDLE},
    {0x20000003, IDS_ERR_INVALID_PARAMETER},    {0x20000004, IDS_ERR_NOT_ENOUGH_MEMORY},
    {0x20000005, IDS_ERR_DLL_NOT_FOUND},        {0x20000006, IDS_ERR_INVALID_DLL},
    {0x20000007, IDS_ERR_INITIALISE_FUNCTION},  {0x20000009, IDS_ERR_ACCESS_DENIED},
    {0x20000100, IDS_ERR_JOB_PROCESSING},       {0x20000101, IDS_ERR_JOB_ALREADY_OPEN},
    {0x20000102, IDS_ERR_JOB_NOT_OPEN},         {0x20000103, IDS_ERR_JOB_CONNECTION},
    {0x20000200, IDS_ERR_PORT_WRITE},           {0x20000201, IDS_ERR_PORT_READ},
    {0x20000300, IDS_ERR_STATUS_NOT_FOUND},     {0x20000301, IDS_ERR_STATUS_NOT_STARTED},
    {0x20000302, IDS_ERR_STATUS_TIMEOUT},       {0x20000303, IDS_ERR_STATUS_INIT},
    {0x20002710, IDS_NO_PASSWORD_FILE},         {0x20002712, IDS_NO_PRINTER_ACCESS},
    {0x20002715, IDS_ERR_DISK_NOT_INITIALIZED},
};

constexpr UINT kUnrecognised = IDS_ERR_UNRECOGNISED;

// "Kelvane Error Code %d(0x%x): %s" with the code and the text of string id.
void ShowFramed(DWORD code, UINT id) {
    char format[260], text[260], message[800];
    LoadResString(IDS_ERROR_CODE_FORMAT, format);
    LoadResString(id, text);
    std::snprintf(message, sizeof message, format, static_cast<int>(code),
                  static_cast<unsigned>(code), text);
    AfxMessageBox(message, kBoxFlags);
}

} // namespace

UINT CErrors::GetMessageId(DWORD code) {
    for (const CodeText &c : kCodes)
        if (c.code == code)
            return c.id;
    return kUnrecognised;
}

CErrors::CErrors(DWORD code) {
    if (code == 0 || code == kErrDeclined)
        return;
    if (code & 0x20000000) {
        ShowFramed(code, GetMessageId(code));
        return;
    }
    char *text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                   reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (n == 0 || !text) {
        // The system has no text for the code: the frame with "Unrecognised Error".
        ShowFramed(code, kUnrecognised);
        return;
    }
    AfxMessageBox(text, kBoxFlags);
    LocalFree(text);
}

#include "errors.h"

#include <cstdio>

#include "framework.h"
#include "helpers.h"

namespace {

constexpr UINT kBoxFlags = MB_OK | MB_SYSTEMMODAL | MB_SETFOREGROUND;

struct CodeText {
    DWORD code;
    UINT id;
};

constexpr CodeText kCodes[] = {
    {0x20000001, 10006}, {0x20000002, 10013}, {0x20000003, 10007}, {0x20000004, 10008},
    {0x20000005, 10009}, {0x20000006, 10010}, {0x20000007, 10011}, {0x20000009, 10022},
    {0x20000100, 10014}, {0x20000101, 10015}, {0x20000102, 10016}, {0x20000103, 10098},
    {0x20000200, 10023}, {0x20000201, 10024}, {0x20000300, 10017}, {0x20000301, 10018},
    {0x20000302, 10019}, {0x20000303, 10020}, {0x20002710, 10065}, {0x20002712, 10073},
    {0x20002715, 10121},
};

constexpr UINT kUnrecognised = 10021;

// "Kelvane Error Code %d(0x%x): %s" with the code and the text of string id.
void ShowFramed(DWORD code, UINT id) {
    char format[260], text[260], message[800];
    LoadResString(10084, format);
    LoadResString(id, text);
    std::snprintf(message, sizeof message, format, static_cast<int>(code), static_cast<unsigned>(code), text);
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

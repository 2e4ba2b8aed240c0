#include "helpers.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "framework.h"
#include "resource_ids.h"
#include "text.h"

namespace {
constexpr char kMissing[] = "STOP - Missing Resource String";
}

char *LoadResString(UINT id, char *buffer) {
    if (LoadStringA(AfxGetResourceHandle(), id, buffer, 260) <= 0)
        CopyStringN(buffer, kMissing, 259);
    return buffer;
}

bool FileExists(const char *path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

bool ConfirmOverwrite(const char *path) {
    char format[260], caption[260];
    LoadResString(IDS_CONFIRM_OVERWRITE, format);
    LoadResString(IDS_PRODUCT_NAME, caption);
    std::vector<char> text(std::strlen(format) + std::strlen(path) + 1);
    std::snprintf(text.data(), text.size(), format, path);
    CWnd none;
    CWnd *owner = AfxGetMainWnd() ? AfxGetMainWnd() : &none;
    return owner->MessageBox(text.data(), caption, MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) ==
           IDYES;
}

bool IsPostScriptFile(const char *path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::uint8_t head[1024];
    DWORD got = 0;
    const BOOL ok = ReadFile(file, head, sizeof head, &got, nullptr);
    CloseHandle(file);
    return ok && HasPostScriptSignature(head, got);
}

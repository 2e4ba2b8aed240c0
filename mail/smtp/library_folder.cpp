#include "library_folder.h"

#include <vector>

namespace quenta {
namespace {

std::wstring &FolderOverride() {
    static std::wstring folder;
    return folder;
}

bool &FolderOverridden() {
    static bool overridden = false;
    return overridden;
}

} // namespace

std::wstring LibraryFolder() {
    if (FolderOverridden())
        return FolderOverride();
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&LibraryFolder), &self))
        return std::wstring();
    std::vector<wchar_t> path(MAX_PATH);
    for (int attempt = 0; attempt < 6; ++attempt) {
        const DWORD n = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return std::wstring();
        if (n < path.size()) {
            std::wstring full(path.data(), n);
            const std::size_t slash = full.find_last_of(L"\\/");
            return slash == std::wstring::npos ? std::wstring() : full.substr(0, slash + 1);
        }
        path.resize(path.size() * 2);
    }
    return std::wstring();
}

HMODULE LoadCompanionLibrary(const wchar_t *name) {
    const std::wstring folder = LibraryFolder();
    if (folder.empty())
        return nullptr;
    return LoadLibraryW((folder + name).c_str());
}

void SetLibraryFolderForTesting(const wchar_t *folder) {
    FolderOverridden() = folder != nullptr;
    FolderOverride() = folder ? folder : L"";
    if (folder && !FolderOverride().empty() && FolderOverride().back() != L'\\')
        FolderOverride() += L'\\';
}

} // namespace quenta

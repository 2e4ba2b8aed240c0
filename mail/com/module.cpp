#include "module.h"

#include <vector>

#include "quenta_i.h"

namespace quenta {
namespace {

HINSTANCE g_instance = nullptr;
LONG g_locks = 0;

} // namespace

void SetModuleInstance(HINSTANCE instance) {
    g_instance = instance;
}
HINSTANCE ModuleInstance() {
    return g_instance;
}

std::wstring ModulePath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (int attempt = 0; attempt < 6; ++attempt) {
        const DWORD n =
            GetModuleFileNameW(g_instance, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return std::wstring();
        if (n < path.size())
            return std::wstring(path.data(), n);
        path.resize(path.size() * 2);
    }
    return std::wstring();
}

void LockModule() {
    InterlockedIncrement(&g_locks);
}
void UnlockModule() {
    InterlockedDecrement(&g_locks);
}
LONG ModuleLockCount() {
    return InterlockedCompareExchange(&g_locks, 0, 0);
}

HRESULT LoadMailTypeInfo(ITypeInfo **info) {
    *info = nullptr;
    // Called from IDispatch members, which no exception may leave.
    std::wstring path;
    try {
        path = ModulePath();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    if (path.empty())
        return E_FAIL;
    ITypeLib *library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr))
        return hr;
    hr = library->GetTypeInfoOfGuid(IID_IMail, info);
    library->Release();
    return hr;
}

} // namespace quenta

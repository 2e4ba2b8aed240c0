// quenta.dll's entry point and the exports of an in-process COM server.
#include <winsock.h>

#include <windows.h>

#include <oleauto.h>

#include <new>
#include <string>

#include "class_factory.h"
#include "module.h"
#include "quenta_i.h"
#include "registrar.h"
#include "resource.h"

namespace {

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// The REGISTRY script, from its ASCII resource.
bool LoadScript(std::wstring &script) {
    const HINSTANCE instance = quenta::ModuleInstance();
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(IDR_MAIL), L"REGISTRY");
    if (!found)
        return false;
    HGLOBAL loaded = LoadResource(instance, found);
    const char *bytes = loaded ? static_cast<const char *>(LockResource(loaded)) : nullptr;
    const DWORD size = SizeofResource(instance, found);
    if (!bytes)
        return false;
    script.clear();
    if (size == 0)
        return true;
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(size), nullptr, 0);
    if (n <= 0)
        return false;
    script.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(size), script.data(), n);
    return true;
}

HRESULT RunScript(bool registering) {
    std::wstring script;
    if (!LoadScript(script))
        return E_UNEXPECTED;
    const std::wstring module = quenta::ModulePath();
    if (module.empty())
        return E_UNEXPECTED;
    const quenta::Replacements replacements = {
        {L"PROGID", L"Quenta"},
        {L"CLASS", L"Mail Class"},
        {L"CLSID", GuidText(CLSID_Mail)},
        {L"TYPELIB", GuidText(LIBID_QUENTALib)},
        {L"MODULE", module},
    };
    return quenta::RunRegistryScript(script, replacements, registering);
}

bool TypeLibraryRegistered() {
    const std::wstring path = L"TypeLib\\" + GuidText(LIBID_QUENTALib) + L"\\1.0";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

HRESULT Register() {
    HRESULT hr = RunScript(true);
    if (FAILED(hr))
        return hr;
    std::wstring module = quenta::ModulePath();
    ITypeLib *library = nullptr;
    hr = LoadTypeLibEx(module.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr))
        return hr;
    hr = RegisterTypeLib(library, module.data(), nullptr);
    library->Release();
    return hr;
}

HRESULT Unregister() {
    const HRESULT hr = RunScript(false);
    if (FAILED(hr))
        return hr;
    if (!TypeLibraryRegistered())
        return S_OK;
    return UnRegisterTypeLib(LIBID_QUENTALib, 1, 0, 0, SYS_WIN64);
}

// Set once the attach has started Windows Sockets. A failed attach is followed by a detach,
// which must not clean up what the attach did not start.
bool g_socketsStarted = false;

template <class Body> HRESULT Guarded(Body &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        WSADATA data{};
        if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
            return FALSE;
        if (data.wVersion != MAKEWORD(1, 1)) {
            WSACleanup();
            return FALSE;
        }
        g_socketsStarted = true;
        quenta::SetModuleInstance(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        // At process exit other libraries may be gone already; only FreeLibrary cleans up.
        if (g_socketsStarted && !reserved)
            WSACleanup();
        g_socketsStarted = false;
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return quenta::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_Mail))
        return CLASS_E_CLASSNOTAVAILABLE;
    return CMailClassFactory::Instance().QueryInterface(iid, object);
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    return Guarded(Register);
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    return Guarded(Unregister);
}

// The in-process server's module state: its instance, the lock count that decides
// DllCanUnloadNow, and its own type library.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>

namespace quenta {

void SetModuleInstance(HINSTANCE instance);
HINSTANCE ModuleInstance();
// The module's full path; empty when it cannot be found.
std::wstring ModulePath();

// Live objects, class factory references and LockServer calls each hold one lock.
void LockModule();
void UnlockModule();
LONG ModuleLockCount();

// The type information of IMail from the type library embedded in the module itself, so
// that IDispatch works whether or not the library is registered.
HRESULT LoadMailTypeInfo(ITypeInfo **info);

} // namespace quenta

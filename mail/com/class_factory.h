// The class factory of Mail. It lives as long as the module; its references and LockServer
// hold the module lock.
#pragma once

#include <windows.h>

#include <unknwn.h>

class CMailClassFactory : public IClassFactory {
  public:
    static CMailClassFactory &Instance();

    STDMETHODIMP QueryInterface(REFIID iid, void **object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID iid, void **object) override;
    STDMETHODIMP LockServer(BOOL lock) override;
};

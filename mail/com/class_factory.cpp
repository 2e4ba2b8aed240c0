#include "class_factory.h"

#include "mail_object.h"
#include "module.h"

CMailClassFactory &CMailClassFactory::Instance() {
    static CMailClassFactory factory;
    return factory;
}

STDMETHODIMP CMailClassFactory::QueryInterface(REFIID iid, void **object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
        return E_NOINTERFACE;
    *object = static_cast<IClassFactory *>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CMailClassFactory::AddRef() {
    quenta::LockModule();
    return 2;
}

STDMETHODIMP_(ULONG) CMailClassFactory::Release() {
    quenta::UnlockModule();
    return 1;
}

STDMETHODIMP CMailClassFactory::CreateInstance(IUnknown *outer, REFIID iid, void **object) {
    return CMail::CreateInstance(outer, iid, object);
}

STDMETHODIMP CMailClassFactory::LockServer(BOOL lock) {
    if (lock)
        quenta::LockModule();
    else
        quenta::UnlockModule();
    return S_OK;
}

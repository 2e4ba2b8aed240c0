#include "mail_object.h"

#include <new>

#include "module.h"
#include "text_convert.h"
#include "win_owners.h"

using quenta::NarrowText;

namespace {

constexpr int kAuthOptionMask = 0x37;
constexpr int kErrorTextLength = 256;

// A failure with nothing to report: the thread's error information is cleared.
HRESULT FailCleared() {
    SetErrorInfo(0, nullptr);
    return E_FAIL;
}

// A null out pointer from a vtable caller.
struct NullOut {};

template <class T> void CheckOut(T *out) {
    if (!out)
        throw NullOut{};
}

// A string result starts null, so a failure leaves the caller nothing to free.
void CheckOut(BSTR *out) {
    if (!out)
        throw NullOut{};
    *out = nullptr;
}

} // namespace

// ---- creation and lifetime ----

CMail::CMail(IUnknown *outer) : m_inner(this), m_outer(outer ? outer : &m_inner) {
    InitializeCriticalSection(&m_lock);
    quenta::LockModule();
}

CMail::~CMail() {
    m_message.reset();
    if (m_typeInfo)
        m_typeInfo->Release();
    if (m_marshaler)
        m_marshaler->Release();
    DeleteCriticalSection(&m_lock);
    quenta::UnlockModule();
}

HRESULT CMail::FinalConstruct() {
    return CoCreateFreeThreadedMarshaler(m_outer, &m_marshaler);
}

HRESULT CMail::CreateInstance(IUnknown *outer, REFIID iid, void **object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer && !IsEqualIID(iid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    CMail *mail = nullptr;
    try {
        mail = new CMail(outer);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
    // The object starts with one reference on its inner unknown, dropped after the query.
    HRESULT hr = mail->FinalConstruct();
    if (SUCCEEDED(hr))
        hr = mail->m_inner.QueryInterface(iid, object);
    mail->m_inner.Release();
    return hr;
}

STDMETHODIMP CMail::InnerUnknown::QueryInterface(REFIID iid, void **object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    CMail *owner = m_owner;
    if (IsEqualIID(iid, IID_IUnknown)) {
        *object = static_cast<IUnknown *>(this);
    } else if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IMail)) {
        *object = static_cast<IMail *>(owner);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
        *object = static_cast<ISupportErrorInfo *>(owner);
    } else if (IsEqualIID(iid, IID_IMarshal) && owner->m_marshaler) {
        return owner->m_marshaler->QueryInterface(iid, object);
    } else {
        return E_NOINTERFACE;
    }
    static_cast<IUnknown *>(*object)->AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CMail::InnerUnknown::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_owner->m_refs));
}

STDMETHODIMP_(ULONG) CMail::InnerUnknown::Release() {
    const LONG refs = InterlockedDecrement(&m_owner->m_refs);
    if (refs == 0) {
        // Guards against a release from the marshaler while the object is taken apart.
        m_owner->m_refs = 1;
        delete m_owner;
    }
    return static_cast<ULONG>(refs);
}

STDMETHODIMP CMail::QueryInterface(REFIID iid, void **object) {
    return m_outer->QueryInterface(iid, object);
}
STDMETHODIMP_(ULONG) CMail::AddRef() {
    return m_outer->AddRef();
}
STDMETHODIMP_(ULONG) CMail::Release() {
    return m_outer->Release();
}

// ---- IDispatch ----

HRESULT CMail::EnsureTypeInfo() {
    win::SectionLock lock(m_lock);
    if (m_typeInfo)
        return S_OK;
    return quenta::LoadMailTypeInfo(&m_typeInfo);
}

STDMETHODIMP CMail::GetTypeInfoCount(UINT *count) {
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP CMail::GetTypeInfo(UINT index, LCID, ITypeInfo **info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    const HRESULT hr = EnsureTypeInfo();
    if (FAILED(hr))
        return hr;
    m_typeInfo->AddRef();
    *info = m_typeInfo;
    return S_OK;
}

STDMETHODIMP CMail::GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID, DISPID *ids) {
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    const HRESULT hr = EnsureTypeInfo();
    if (FAILED(hr))
        return hr;
    return DispGetIDsOfNames(m_typeInfo, names, count, ids);
}

STDMETHODIMP CMail::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS *params,
                           VARIANT *result, EXCEPINFO *exception, UINT *argumentError) {
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    const HRESULT hr = EnsureTypeInfo();
    if (FAILED(hr))
        return hr;
    if (params && TooManyArguments(id, flags, params->cArgs))
        return DISP_E_BADPARAMCOUNT;
    return DispInvoke(static_cast<IMail *>(this), m_typeInfo, id, flags, params, result, exception,
                      argumentError);
}

// The dispatch layer lets surplus arguments through; a call with more arguments than every
// matching member takes must not run the member.
bool CMail::TooManyArguments(DISPID id, WORD flags, UINT count) {
    TYPEATTR *attr = nullptr;
    if (FAILED(m_typeInfo->GetTypeAttr(&attr)))
        return false;
    const WORD functions = attr->cFuncs;
    m_typeInfo->ReleaseTypeAttr(attr);
    bool matched = false;
    bool fits = false;
    for (WORD i = 0; i < functions && !fits; ++i) {
        FUNCDESC *f = nullptr;
        if (FAILED(m_typeInfo->GetFuncDesc(i, &f)))
            continue;
        if (f->memid == id && (f->invkind & flags)) {
            matched = true;
            UINT takes = 0;
            for (SHORT p = 0; p < f->cParams; ++p)
                if (!(f->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL))
                    ++takes;
            fits = count <= takes;
        }
        m_typeInfo->ReleaseFuncDesc(f);
    }
    return matched && !fits;
}

// ---- error reporting ----

STDMETHODIMP CMail::InterfaceSupportsErrorInfo(REFIID iid) {
    return IsEqualIID(iid, IID_IMail) ? S_OK : S_FALSE;
}

HRESULT CMail::ReportMailError(MailErrorCode code) {
    ICreateErrorInfo *create = nullptr;
    if (FAILED(CreateErrorInfo(&create)))
        return FailCleared();
    wchar_t text[kErrorTextLength] = {};
    LoadStringW(quenta::ModuleInstance(), static_cast<UINT>(code + 100), text, kErrorTextLength);
    create->SetDescription(text);
    create->SetHelpContext(static_cast<DWORD>(code));
    IErrorInfo *info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    } else {
        SetErrorInfo(0, nullptr);
    }
    create->Release();
    return E_FAIL;
}

template <class Body> HRESULT CMail::Run(Body &&body, OtherFailure other) noexcept {
    try {
        win::SectionLock lock(m_lock);
        body();
        return S_OK;
    } catch (MailErrorCode code) {
        return ReportMailError(code);
    } catch (const std::bad_alloc &) {
        if (other == OtherFailure::CannotAdd)
            return ReportMailError(kMailCannotAddItem);
        return FailCleared();
    } catch (...) {
        return FailCleared();
    }
}

// ---- settings ----

STDMETHODIMP CMail::get_MailServer(BSTR *pVal) {
    return Run([&] {
        CheckOut(pVal);
        BSTR text = quenta::AnsiToBstr(GetServer());
        if (!text)
            throw std::bad_alloc();
        *pVal = text;
    });
}

STDMETHODIMP CMail::put_MailServer(BSTR newVal) {
    return Run([&] {
        const NarrowText text = NarrowText::Ansi(newVal);
        SetServer(text.get() ? text.get() : "");
    });
}

STDMETHODIMP CMail::get_Timeout(LONG *pVal) {
    return Run([&] {
        CheckOut(pVal);
        *pVal = GetTimeout();
    });
}

STDMETHODIMP CMail::put_Timeout(LONG newVal) {
    return Run([&] { SetTimeout(newVal); });
}

STDMETHODIMP CMail::get_PortNumber(LONG *pVal) {
    return Run([&] {
        CheckOut(pVal);
        *pVal = GetPort();
    });
}

STDMETHODIMP CMail::put_PortNumber(LONG newVal) {
    return Run([&] { SetPort(newVal); });
}

STDMETHODIMP CMail::get_UserName(BSTR *Val) {
    return Run([&] {
        CheckOut(Val);
        BSTR text = quenta::AnsiToBstr(GetUserName());
        if (!text)
            throw std::bad_alloc();
        *Val = text;
    });
}

STDMETHODIMP CMail::put_UserName(BSTR newVal) {
    return Run([&] { SetUserName(NarrowText::Ansi(newVal).get()); });
}

STDMETHODIMP CMail::get_Password(BSTR *Val) {
    return Run([&] {
        CheckOut(Val);
        BSTR text = quenta::AnsiToBstr(GetPassword());
        if (!text)
            throw std::bad_alloc();
        *Val = text;
    });
}

STDMETHODIMP CMail::put_Password(BSTR newVal) {
    return Run([&] { SetPassword(NarrowText::Ansi(newVal).get()); });
}

// ---- the message ----

CMailMessage &CMail::Message(MailErrorCode missing) {
    if (!m_message)
        ThrowMailError(missing);
    return *m_message;
}

STDMETHODIMP CMail::Create(LONG nCharSet) {
    return Run([&] {
        const int kind = nCharSet == kCharsetJP || nCharSet == kCharsetEU
                             ? static_cast<int>(nCharSet)
                             : kCharsetUS;
        m_message.reset();
        m_message = std::make_unique<CMailMessage>(kind);
    });
}

HRESULT CMail::AddItem(BSTR address, BSTR name, HeaderItemKind kind) {
    return Run(
        [&] {
            CMailMessage &message = Message(kMailCannotAddItem);
            const NarrowText addressText = NarrowText::Ansi(address);
            const NarrowText nameText = NarrowText::ForCharset(name, message.Kind());
            message.AddItem(addressText.get(), nameText.get(), kind);
        },
        OtherFailure::CannotAdd);
}

STDMETHODIMP CMail::AddFrom(BSTR bstrAddr, BSTR bstrFriendly) {
    return AddItem(bstrAddr, bstrFriendly, kItemFrom);
}
STDMETHODIMP CMail::AddTo(BSTR bstrAddr, BSTR bstrFriendly) {
    return AddItem(bstrAddr, bstrFriendly, kItemTo);
}
STDMETHODIMP CMail::AddCarbonCopy(BSTR bstrAddr, BSTR bstrFriendly) {
    return AddItem(bstrAddr, bstrFriendly, kItemCC);
}
STDMETHODIMP CMail::AddReplyTo(BSTR bstrAddr, BSTR bstrFriendly) {
    return AddItem(bstrAddr, bstrFriendly, kItemReplyTo);
}
STDMETHODIMP CMail::AddSubject(BSTR bstrSubject) {
    return AddItem(nullptr, bstrSubject, kItemSubject);
}

STDMETHODIMP CMail::AddBody(BSTR bstrBody) {
    return Run(
        [&] {
            CMailMessage &message = Message(kMailCannotAddItem);
            message.AddBody(NarrowText::Ansi(bstrBody).get());
        },
        OtherFailure::CannotAdd);
}

STDMETHODIMP CMail::AddContent(BSTR bstrPath, BSTR bstrName) {
    return Run(
        [&] {
            CMailMessage &message = Message(kMailCannotAddItem);
            message.AddContent(NarrowText::Ansi(bstrPath).get(), NarrowText::Ansi(bstrName).get());
        },
        OtherFailure::CannotAdd);
}

STDMETHODIMP CMail::AddBodyString(BSTR bstrString, LONG nFlag) {
    return Run(
        [&] {
            CMailMessage &message = Message(kMailCannotAddItem);
            message.AddBodyString(NarrowText::ForCharset(bstrString, message.Kind()).get(), nFlag);
        },
        OtherFailure::CannotAdd);
}

// ---- sending ----

void CMail::SendMessage() {
    CMailMessage &message = Message(kMailIncomplete);
    try {
        m_smtp.ConnectServer();
        m_smtp.SendMailTransaction(&message);
        m_smtp.CloseServer();
    } catch (...) {
        m_smtp.CloseServer();
        throw;
    }
    m_message.reset();
}

STDMETHODIMP CMail::Send() {
    return Run([&] { SendMessage(); });
}

STDMETHODIMP CMail::SendAuth(LONG SslOpt) {
    return Run([&] {
        Message(kMailIncomplete);
        // A credential that cannot be read is passed as null: the session keeps its own copy.
        const char *user = nullptr;
        const char *password = nullptr;
        try {
            user = GetUserName();
        } catch (MailErrorCode) {
        }
        try {
            password = GetPassword();
        } catch (MailErrorCode) {
        }
        m_smtp.SetAuthOptions(static_cast<int>(SslOpt) & kAuthOptionMask, user, password);
        try {
            SendMessage();
        } catch (MailErrorCode code) {
            ThrowMailError(code == kMailAuthNotSupported ? kMailRejected : code);
        }
    });
}

STDMETHODIMP CMail::GetESNMPOption(LONG *Val) {
    return Run([&] {
        CheckOut(Val);
        *Val = m_smtp.ProbeServerOptions();
    });
}

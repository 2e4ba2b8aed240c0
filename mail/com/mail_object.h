// CMail, the creatable Mail class: the IMail members over the settings (its own CParameter),
// the SMTP session and the message under construction. Aggregatable; IMarshal comes from the
// free-threaded marshaler, so every apartment calls the object directly. Calls on one object
// are serialised by its own lock.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <memory>

#include "mail_error.h"
#include "mail_message.h"
#include "parameter.h"
#include "quenta_i.h"
#include "smtp.h"

class CMail : public CParameter, public IMail, public ISupportErrorInfo {
  public:
    // Creates an object and answers `iid` from it; aggregation asks for IID_IUnknown only.
    static HRESULT CreateInstance(IUnknown *outer, REFIID iid, void **object);

    // IUnknown, delegating to the controlling unknown.
    STDMETHODIMP QueryInterface(REFIID iid, void **object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch, from the module's own type library.
    STDMETHODIMP GetTypeInfoCount(UINT *count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo **info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID lcid,
                               DISPID *ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS *params,
                        VARIANT *result, EXCEPINFO *exception, UINT *argumentError) override;

    // IMail
    STDMETHODIMP get_MailServer(BSTR *pVal) override;
    STDMETHODIMP put_MailServer(BSTR newVal) override;
    STDMETHODIMP get_Timeout(LONG *pVal) override;
    STDMETHODIMP put_Timeout(LONG newVal) override;
    STDMETHODIMP get_PortNumber(LONG *pVal) override;
    STDMETHODIMP put_PortNumber(LONG newVal) override;
    STDMETHODIMP Create(LONG nCharSet) override;
    STDMETHODIMP AddFrom(BSTR bstrAddr, BSTR bstrFriendly) override;
    STDMETHODIMP AddTo(BSTR bstrAddr, BSTR bstrFriendly) override;
    STDMETHODIMP AddCarbonCopy(BSTR bstrAddr, BSTR bstrFriendly) override;
    STDMETHODIMP AddReplyTo(BSTR bstrAddr, BSTR bstrFriendly) override;
    STDMETHODIMP AddSubject(BSTR bstrSubject) override;
    STDMETHODIMP AddBody(BSTR bstrBody) override;
    STDMETHODIMP AddContent(BSTR bstrPath, BSTR bstrName) override;
    STDMETHODIMP Send() override;
    STDMETHODIMP AddBodyString(BSTR bstrString, LONG nFlag) override;
    STDMETHODIMP SendAuth(LONG SslOpt) override;
    STDMETHODIMP GetESNMPOption(LONG *Val) override;
    STDMETHODIMP get_UserName(BSTR *Val) override;
    STDMETHODIMP put_UserName(BSTR newVal) override;
    STDMETHODIMP get_Password(BSTR *Val) override;
    STDMETHODIMP put_Password(BSTR newVal) override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

    // Sets the thread's error information for `code`: the text of string code + 100 and the
    // code as help context. Returns E_FAIL.
    static HRESULT ReportMailError(MailErrorCode code);

  private:
    // The object's own IUnknown, which an aggregating outer object holds.
    class InnerUnknown : public IUnknown {
      public:
        explicit InnerUnknown(CMail *owner) : m_owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void **object) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

      private:
        CMail *m_owner;
    };

    // How a failure other than a MailErrorCode is reported.
    enum class OtherFailure { Cleared, CannotAdd };

    explicit CMail(IUnknown *outer);
    ~CMail() override;
    HRESULT FinalConstruct();

    // Runs one member under the object's lock and turns every failure into E_FAIL.
    template <class Body>
    HRESULT Run(Body &&body, OtherFailure other = OtherFailure::Cleared) noexcept;
    HRESULT AddItem(BSTR address, BSTR name, HeaderItemKind kind);
    CMailMessage &Message(MailErrorCode missing);
    void SendMessage();
    HRESULT EnsureTypeInfo();
    bool TooManyArguments(DISPID id, WORD flags, UINT count);

    InnerUnknown m_inner;
    IUnknown *m_outer;
    LONG m_refs = 1;
    CRITICAL_SECTION m_lock;
    IUnknown *m_marshaler = nullptr;
    CSMTP m_smtp;
    std::unique_ptr<CMailMessage> m_message;
    ITypeInfo *m_typeInfo = nullptr;
};

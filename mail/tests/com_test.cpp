// quenta.dll as a COM server: registration, the type library, IDispatch against the vtable,
// error information, aggregation, marshalling, unloading and the members against the scripted
// SMTP server.
#include <winsock.h>

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

#include "quenta_i.h"
#include "smtp_control.h"
#include "suite_paths.h"

namespace {

const wchar_t *const kSettingsKey = L"Software\\Dranvel\\Common\\SMTP";

std::wstring Wide(const std::string &text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

template <class T> class Ptr {
  public:
    Ptr() = default;
    ~Ptr() { reset(); }
    Ptr(const Ptr &) = delete;
    Ptr &operator=(const Ptr &) = delete;
    T *get() const { return m_p; }
    T *operator->() const { return m_p; }
    T **put() {
        reset();
        return &m_p;
    }
    void **put_void() { return reinterpret_cast<void **>(put()); }
    void reset() {
        if (m_p)
            m_p->Release();
        m_p = nullptr;
    }

  private:
    T *m_p = nullptr;
};

class Bstr {
  public:
    explicit Bstr(const wchar_t *text = nullptr) : m_b(text ? SysAllocString(text) : nullptr) {}
    ~Bstr() { SysFreeString(m_b); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    operator BSTR() const { return m_b; }
    BSTR *put() {
        SysFreeString(m_b);
        m_b = nullptr;
        return &m_b;
    }
    std::wstring str() const { return m_b ? std::wstring(m_b, SysStringLen(m_b)) : L"(null)"; }

  private:
    BSTR m_b;
};

struct ErrorText {
    bool present = false;
    std::wstring description;
    DWORD help = 0;
    std::wstring source;
};

ErrorText TakeError() {
    ErrorText out;
    Ptr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info.get())
        return out;
    out.present = true;
    Bstr description, source;
    info->GetDescription(description.put());
    info->GetSource(source.put());
    info->GetHelpContext(&out.help);
    out.description = description.str();
    out.source = source.str();
    return out;
}

// quenta.dll of the build, loaded once for the exports.
struct Server {
    HMODULE module = nullptr;
    std::wstring path;
    HRESULT(WINAPI *canUnloadNow)() = nullptr;
    HRESULT(WINAPI *getClassObject)(REFCLSID, REFIID, void **) = nullptr;
    HRESULT(WINAPI *registerServer)() = nullptr;
    HRESULT(WINAPI *unregisterServer)() = nullptr;

    bool Load(const std::wstring &file) {
        module = LoadLibraryW(file.c_str());
        if (!module)
            return false;
        wchar_t full[MAX_PATH] = {};
        GetModuleFileNameW(module, full, MAX_PATH);
        path = full;
        canUnloadNow = reinterpret_cast<decltype(canUnloadNow)>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
        getClassObject = reinterpret_cast<decltype(getClassObject)>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
        registerServer = reinterpret_cast<decltype(registerServer)>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "DllRegisterServer")));
        unregisterServer = reinterpret_cast<decltype(unregisterServer)>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "DllUnregisterServer")));
        return canUnloadNow && getClassObject && registerServer && unregisterServer;
    }
};

Server &Quenta() {
    static Server server;
    if (!server.module && !server.Load(Wide(suite::BinPath("quenta.dll"))))
        ADD_FAILURE() << "quenta.dll";
    return server;
}

bool KeyExists(const std::wstring &path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// A string value, or "(missing)".
std::wstring ReadSz(const std::wstring &path, const wchar_t *name = nullptr) {
    wchar_t data[1024] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) !=
        ERROR_SUCCESS)
        return L"(missing)";
    return data;
}

std::set<std::wstring> Subkeys(const std::wstring &path) {
    std::set<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.insert(name);
    }
    RegCloseKey(key);
    return names;
}

void CreateKey(const std::wstring &path) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    if (key)
        RegCloseKey(key);
}

std::wstring ClassKey() {
    return L"CLSID\\" + GuidText(CLSID_Mail);
}
std::wstring TypeLibKey() {
    return L"TypeLib\\" + GuidText(LIBID_QUENTALib);
}

class Com : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_NE(Quenta().module, nullptr);
        ASSERT_EQ(Quenta().registerServer(), S_OK);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettingsKey);
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettingsKey);
        CoUninitialize();
    }
    void Make(Ptr<IMail> &mail) {
        ASSERT_EQ(
            CoCreateInstance(CLSID_Mail, nullptr, CLSCTX_INPROC_SERVER, IID_IMail, mail.put_void()),
            S_OK);
    }
};

// ---- registration ----

TEST_F(Com, RegistrationWritesTheTableAndTheTypeLibrary) {
    ASSERT_EQ(Quenta().unregisterServer(), S_OK);
    ASSERT_EQ(Quenta().registerServer(), S_OK);
    const std::wstring clsid = GuidText(CLSID_Mail);
    EXPECT_EQ(ReadSz(L"Quenta.Mail.1"), L"Mail Class");
    EXPECT_EQ(ReadSz(L"Quenta.Mail.1\\CLSID"), clsid);
    EXPECT_EQ(Subkeys(L"Quenta.Mail.1"), (std::set<std::wstring>{L"CLSID"}));
    EXPECT_EQ(ReadSz(L"Quenta.Mail"), L"Mail Class");
    EXPECT_EQ(ReadSz(L"Quenta.Mail\\CLSID"), clsid);
    EXPECT_EQ(ReadSz(L"Quenta.Mail\\CurVer"), L"Quenta.Mail.1");
    EXPECT_EQ(Subkeys(L"Quenta.Mail"), (std::set<std::wstring>{L"CLSID", L"CurVer"}));
    const std::wstring key = ClassKey();
    EXPECT_EQ(ReadSz(key), L"Mail Class");
    EXPECT_EQ(ReadSz(key + L"\\ProgID"), L"Quenta.Mail.1");
    EXPECT_EQ(ReadSz(key + L"\\VersionIndependentProgID"), L"Quenta.Mail");
    EXPECT_EQ(ReadSz(key + L"\\InprocServer32"), Quenta().path);
    EXPECT_EQ(ReadSz(key + L"\\InprocServer32", L"ThreadingModel"), L"Both");
    EXPECT_EQ(ReadSz(key + L"\\TypeLib"), GuidText(LIBID_QUENTALib));
    EXPECT_EQ(Subkeys(key), (std::set<std::wstring>{L"InprocServer32", L"ProgID", L"Programmable",
                                                    L"TypeLib", L"VersionIndependentProgID"}));
    EXPECT_EQ(Lower(ReadSz(TypeLibKey() + L"\\1.0\\0\\win64")), Lower(Quenta().path));
    EXPECT_EQ(ReadSz(TypeLibKey() + L"\\1.0"), L"quenta 1.0 Type Library");
    Ptr<ITypeLib> library;
    EXPECT_EQ(LoadRegTypeLib(LIBID_QUENTALib, 1, 0, 0, library.put()), S_OK);
    CLSID fromProgId{};
    EXPECT_EQ(CLSIDFromProgID(L"Quenta.Mail", &fromProgId), S_OK);
    EXPECT_TRUE(IsEqualCLSID(fromProgId, CLSID_Mail));
}

TEST_F(Com, ReRegistrationDropsAStaleSubkeyAndTwiceIsOnce) {
    CreateKey(ClassKey() + L"\\Stale");
    CreateKey(ClassKey() + L"\\Programmable\\Stale");
    ASSERT_EQ(Quenta().registerServer(), S_OK);
    ASSERT_EQ(Quenta().registerServer(), S_OK);
    EXPECT_FALSE(KeyExists(ClassKey() + L"\\Stale"));
    EXPECT_TRUE(Subkeys(ClassKey() + L"\\Programmable").empty());
    EXPECT_EQ(ReadSz(ClassKey() + L"\\InprocServer32"), Quenta().path);
}

TEST_F(Com, UnregistrationKeepsClsidAndAForeignProgIdSubkey) {
    CreateKey(L"Quenta.Mail\\Foreign");
    ASSERT_EQ(Quenta().unregisterServer(), S_OK);
    ASSERT_EQ(Quenta().unregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(L"Quenta.Mail.1"));
    EXPECT_FALSE(KeyExists(ClassKey()));
    EXPECT_FALSE(KeyExists(TypeLibKey() + L"\\1.0"));
    EXPECT_TRUE(KeyExists(L"CLSID"));
    EXPECT_EQ(Subkeys(L"Quenta.Mail"), (std::set<std::wstring>{L"Foreign"}));
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Quenta.Mail");
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Quenta.Mail");
    // Without the foreign key nothing of the ProgID stays.
    ASSERT_EQ(Quenta().registerServer(), S_OK);
    ASSERT_EQ(Quenta().unregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(L"Quenta.Mail"));
    Ptr<ITypeLib> library;
    EXPECT_NE(LoadRegTypeLib(LIBID_QUENTALib, 1, 0, 0, library.put()), S_OK);
}

TEST_F(Com, ACopyInAFolderWithAnApostropheRegistersItsPath) {
    const std::wstring folder = Wide(suite::TestDataDir()) + L"\\it's quenta";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring copy = folder + L"\\quenta.dll";
    ASSERT_TRUE(CopyFileW(Quenta().path.c_str(), copy.c_str(), FALSE));
    Server other;
    ASSERT_TRUE(other.Load(copy));
    ASSERT_NE(other.module, Quenta().module);
    EXPECT_EQ(other.registerServer(), S_OK);
    EXPECT_EQ(ReadSz(ClassKey() + L"\\InprocServer32"), copy);
    EXPECT_EQ(other.unregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(ClassKey()));
    FreeLibrary(other.module);
}

// ---- the type library and IDispatch ----

struct Member {
    const wchar_t *name;
    DISPID id;
    const wchar_t *help;
};

const Member kMembers[] = {
    {L"MailServer", 1, L"Propaty MailServer"},
    {L"Timeout", 2, L"Propaty Timeout"},
    {L"PortNumber", 3, L"Propaty PortNumber"},
    {L"Create", 4, L"Method Create"},
    {L"AddFrom", 5, L"Method AddFrom"},
    {L"AddTo", 6, L"Method AddTo"},
    {L"AddCarbonCopy", 7, L"Method AddCarbonCopy"},
    {L"AddReplyTo", 8, L"Method AddReplyTo"},
    {L"AddSubject", 9, L"Method AddSubject"},
    {L"AddBody", 10, L"Method AddBody"},
    {L"AddContent", 11, L"Method AddContent"},
    {L"Send", 12, L"Method Send"},
    {L"AddBodyString", 13, L"Method AddBodyString"},
    {L"SendAuth", 14, L"Method SendAuth"},
    {L"GetESNMPOption", 15, L"Method GetESNMPOption"},
    {L"UserName", 16, L"Propaty UserName"},
    {L"Password", 17, L"Propaty Password"},
};

TEST_F(Com, TypeLibraryNamesIdsHelpStringsAndTypes) {
    Ptr<ITypeLib> library;
    ASSERT_EQ(LoadRegTypeLib(LIBID_QUENTALib, 1, 0, 0, library.put()), S_OK);
    Bstr name, help;
    ASSERT_EQ(library->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.str(), L"QUENTALib");
    EXPECT_EQ(help.str(), L"quenta 1.0 Type Library");
    Ptr<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_Mail, coclass.put()), S_OK);
    ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, name.put(), help.put(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(name.str(), L"Mail");
    EXPECT_EQ(help.str(), L"Mail Class");

    Ptr<IMail> mail;
    Make(mail);
    for (const Member &m : kMembers) {
        SCOPED_TRACE(testing::Message() << std::string(m.name, m.name + wcslen(m.name)));
        DISPID id = -1;
        LPOLESTR names[] = {const_cast<LPOLESTR>(m.name)};
        EXPECT_EQ(mail->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        EXPECT_EQ(id, m.id);
    }

    Ptr<ITypeInfo> info;
    ASSERT_EQ(mail->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
    TYPEATTR *attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    const WORD functions = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, nullptr, help.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(help.str(), L"IMail Interface");
    std::vector<DISPID> order;
    int longParameters = 0;
    for (WORD i = 0; i < functions; ++i) {
        FUNCDESC *f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
        order.push_back(f->memid);
        const Member *m = std::find_if(std::begin(kMembers), std::end(kMembers),
                                       [&](const Member &x) { return x.id == f->memid; });
        if (m != std::end(kMembers)) {
            EXPECT_EQ(info->GetDocumentation(f->memid, nullptr, help.put(), nullptr, nullptr),
                      S_OK);
            EXPECT_EQ(help.str(), m->help);
        }
        // Parameters, and the result where the dispatch view turned [out, retval] into one.
        for (SHORT p = -1; p < f->cParams; ++p) {
            TYPEDESC desc = p < 0 ? f->elemdescFunc.tdesc : f->lprgelemdescParam[p].tdesc;
            if (desc.vt == VT_PTR)
                desc = *desc.lptdesc;
            if (desc.vt != VT_USERDEFINED || f->memid < 1 || f->memid > 17)
                continue;
            // The LONG_PTR alias resolves to a 32-bit integer.
            Ptr<ITypeInfo> alias;
            ASSERT_EQ(info->GetRefTypeInfo(desc.hreftype, alias.put()), S_OK);
            TYPEATTR *a = nullptr;
            ASSERT_EQ(alias->GetTypeAttr(&a), S_OK);
            EXPECT_EQ(a->typekind, TKIND_ALIAS);
            EXPECT_EQ(a->tdescAlias.vt, VT_I4);
            alias->ReleaseTypeAttr(a);
            ++longParameters;
        }
        info->ReleaseFuncDesc(f);
    }
    // The dual interface lists IDispatch's members first; ours follow in vtable order.
    order.erase(order.begin(), order.end() - 22);
    EXPECT_EQ(order, (std::vector<DISPID>{1, 1,  2,  2,  3,  3,  4,  5,  6,  7,  8,
                                          9, 10, 11, 12, 13, 14, 15, 16, 16, 17, 17}));
    EXPECT_EQ(longParameters, 8);
}

HRESULT PutProperty(IDispatch *object, DISPID id, VARIANT value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                          nullptr, nullptr);
}

HRESULT GetProperty(IDispatch *object, DISPID id, VARIANT &result) {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    VariantInit(&result);
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &params, &result,
                          nullptr, nullptr);
}

// Each property written through IDispatch and read through the vtable, then the reverse: a
// slot out of order reads another property's value.
TEST_F(Com, DispatchAndVtableReachTheSameProperties) {
    Ptr<IMail> mail;
    Make(mail);
    for (int round = 0; round < 2; ++round) {
        const std::wstring tag = round ? L"b" : L"a";
        const LONG timeout = round ? 77 : 33;
        const LONG port = round ? 2525 : 587;
        if (round == 0) {
            VARIANT v;
            VariantInit(&v);
            v.vt = VT_BSTR;
            Bstr server((L"server-" + tag + L".test").c_str());
            v.bstrVal = server;
            ASSERT_EQ(PutProperty(mail.get(), 1, v), S_OK);
            Bstr user((L"user-" + tag).c_str()), password((L"pass-" + tag).c_str());
            v.bstrVal = user;
            ASSERT_EQ(PutProperty(mail.get(), 16, v), S_OK);
            v.bstrVal = password;
            ASSERT_EQ(PutProperty(mail.get(), 17, v), S_OK);
            v.vt = VT_I4;
            v.lVal = timeout;
            ASSERT_EQ(PutProperty(mail.get(), 2, v), S_OK);
            v.lVal = port;
            ASSERT_EQ(PutProperty(mail.get(), 3, v), S_OK);

            Bstr text;
            LONG number = 0;
            ASSERT_EQ(mail->get_MailServer(text.put()), S_OK);
            EXPECT_EQ(text.str(), L"server-a.test");
            ASSERT_EQ(mail->get_UserName(text.put()), S_OK);
            EXPECT_EQ(text.str(), L"user-a");
            ASSERT_EQ(mail->get_Password(text.put()), S_OK);
            EXPECT_EQ(text.str(), L"pass-a");
            ASSERT_EQ(mail->get_Timeout(&number), S_OK);
            EXPECT_EQ(number, timeout);
            ASSERT_EQ(mail->get_PortNumber(&number), S_OK);
            EXPECT_EQ(number, port);
        } else {
            ASSERT_EQ(mail->put_MailServer(Bstr(L"server-b.test")), S_OK);
            ASSERT_EQ(mail->put_UserName(Bstr(L"user-b")), S_OK);
            ASSERT_EQ(mail->put_Password(Bstr(L"pass-b")), S_OK);
            ASSERT_EQ(mail->put_Timeout(timeout), S_OK);
            ASSERT_EQ(mail->put_PortNumber(port), S_OK);
            struct Expect {
                DISPID id;
                const wchar_t *text;
                LONG number;
            };
            const Expect expected[] = {{1, L"server-b.test", 0},
                                       {2, nullptr, timeout},
                                       {3, nullptr, port},
                                       {16, L"user-b", 0},
                                       {17, L"pass-b", 0}};
            for (const Expect &e : expected) {
                SCOPED_TRACE(e.id);
                VARIANT v;
                ASSERT_EQ(GetProperty(mail.get(), e.id, v), S_OK);
                if (e.text) {
                    ASSERT_EQ(v.vt, VT_BSTR);
                    EXPECT_STREQ(v.bstrVal, e.text);
                } else {
                    ASSERT_EQ(v.vt, VT_I4);
                    EXPECT_EQ(v.lVal, e.number);
                }
                VariantClear(&v);
            }
        }
    }
}

TEST_F(Com, SettingsDefaultsNullAndLongValues) {
    Ptr<IMail> mail;
    Make(mail);
    Bstr text;
    LONG number = 0;
    ASSERT_EQ(mail->get_MailServer(text.put()), S_OK);
    EXPECT_EQ(text.str(), L"");
    ASSERT_EQ(mail->get_PortNumber(&number), S_OK);
    EXPECT_EQ(number, 25);
    ASSERT_EQ(mail->get_Timeout(&number), S_OK);
    EXPECT_EQ(number, 60);
    ASSERT_EQ(mail->get_UserName(text.put()), S_OK);
    EXPECT_EQ(text.str(), L"");

    // A null server name writes an empty one; a null credential changes nothing.
    ASSERT_EQ(mail->put_MailServer(Bstr(L"mail.test")), S_OK);
    ASSERT_EQ(mail->put_MailServer(nullptr), S_OK);
    ASSERT_EQ(mail->get_MailServer(text.put()), S_OK);
    EXPECT_EQ(text.str(), L"");
    ASSERT_EQ(mail->put_UserName(Bstr(L"kept")), S_OK);
    ASSERT_EQ(mail->put_UserName(nullptr), S_OK);
    ASSERT_EQ(mail->get_UserName(text.put()), S_OK);
    EXPECT_EQ(text.str(), L"kept");
    ASSERT_EQ(mail->put_Password(Bstr(L"")), S_OK);
    ASSERT_EQ(mail->get_Password(text.put()), S_OK);
    EXPECT_EQ(text.str(), L"");

    // Beyond the settings' limits: a server name is not stored; a credential is refused with
    // the registry code.
    ASSERT_EQ(mail->put_MailServer(Bstr(L"mail.test")), S_OK);
    ASSERT_EQ(mail->put_MailServer(Bstr(std::wstring(300, L's').c_str())), S_OK);
    ASSERT_EQ(mail->get_MailServer(text.put()), S_OK);
    EXPECT_EQ(text.str(), L"mail.test");
    EXPECT_EQ(mail->put_UserName(Bstr(std::wstring(300, L'u').c_str())), E_FAIL);
    EXPECT_EQ(TakeError().help, 105u);
    ASSERT_EQ(mail->get_UserName(text.put()), S_OK);
    EXPECT_EQ(text.str(), L"kept");
}

// ---- error information ----

TEST_F(Com, MembersWithoutAMessageReportTwoOrTwelve) {
    Ptr<IMail> mail;
    Make(mail);
    Bstr a(L"a@b.test"), n(L"name");
    const wchar_t *const add = L"Can not add the mail item.";
    const wchar_t *const incomplete = L"It is short of information to transmit mail.";
    struct Call {
        const char *member;
        HRESULT (*run)(IMail *, BSTR, BSTR);
        DWORD code;
        const wchar_t *text;
    };
    const Call calls[] = {
        {"AddFrom", [](IMail *m, BSTR x, BSTR y) { return m->AddFrom(x, y); }, 2, add},
        {"AddTo", [](IMail *m, BSTR x, BSTR y) { return m->AddTo(x, y); }, 2, add},
        {"AddCarbonCopy", [](IMail *m, BSTR x, BSTR y) { return m->AddCarbonCopy(x, y); }, 2, add},
        {"AddReplyTo", [](IMail *m, BSTR x, BSTR y) { return m->AddReplyTo(x, y); }, 2, add},
        {"AddSubject", [](IMail *m, BSTR, BSTR y) { return m->AddSubject(y); }, 2, add},
        {"AddBody", [](IMail *m, BSTR, BSTR y) { return m->AddBody(y); }, 2, add},
        {"AddContent", [](IMail *m, BSTR x, BSTR y) { return m->AddContent(x, y); }, 2, add},
        {"AddBodyString", [](IMail *m, BSTR, BSTR y) { return m->AddBodyString(y, 5); }, 2, add},
        {"Send", [](IMail *m, BSTR, BSTR) { return m->Send(); }, 12, incomplete},
        {"SendAuth", [](IMail *m, BSTR, BSTR) { return m->SendAuth(0x14); }, 12, incomplete},
    };
    for (const Call &call : calls) {
        SCOPED_TRACE(call.member);
        EXPECT_EQ(call.run(mail.get(), a, n), E_FAIL);
        const ErrorText error = TakeError();
        EXPECT_TRUE(error.present);
        EXPECT_EQ(error.help, call.code);
        EXPECT_EQ(error.description, call.text);
        EXPECT_TRUE(error.source == L"" || error.source == L"(null)") << error.source.size();
    }
    // GetESNMPOption needs no message: with no server it fails on the lookup.
    LONG options = -1;
    EXPECT_EQ(mail->GetESNMPOption(&options), E_FAIL);
    EXPECT_EQ(TakeError().help, 6u);
}

TEST_F(Com, ErrorInformationThroughIDispatch) {
    Ptr<IMail> mail;
    Make(mail);
    Bstr address(L"a@b.test");
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = address;
    args[1].vt = VT_BSTR;
    args[1].bstrVal = address;
    DISPPARAMS params{args, nullptr, 2, 0};
    EXCEPINFO exception{};
    UINT argumentError = 0;
    EXPECT_EQ(mail->Invoke(6, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                           &exception, &argumentError),
              DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_FAIL);
    EXPECT_EQ(exception.dwHelpContext, 2u);
    ASSERT_NE(exception.bstrDescription, nullptr);
    EXPECT_STREQ(exception.bstrDescription, L"Can not add the mail item.");
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);

    Ptr<ISupportErrorInfo> support;
    ASSERT_EQ(mail->QueryInterface(IID_ISupportErrorInfo, support.put_void()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IMail), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
}

TEST_F(Com, JapaneseTextsWhereResourcesResolveToJapanese) {
    const LCID saved = GetThreadLocale();
    ASSERT_TRUE(SetThreadLocale(MAKELCID(0x411, SORT_DEFAULT)));
    Ptr<IMail> mail;
    Make(mail);
    EXPECT_EQ(mail->AddTo(Bstr(L"a@b.test"), nullptr), E_FAIL);
    ErrorText error = TakeError();
    EXPECT_EQ(error.help, 2u);
    EXPECT_EQ(error.description,
              L"\u30e1\u30fc\u30eb\u30a2\u30a4\u30c6\u30e0\u3092\u8ffd\u52a0\u3067\u304d\u307e"
              L"\u305b\u3093\u3067\u3057\u305f\u3002");
    EXPECT_EQ(mail->Send(), E_FAIL);
    error = TakeError();
    EXPECT_EQ(error.help, 12u);
    EXPECT_EQ(error.description,
              L"\u30e1\u30fc\u30eb\u3092\u9001\u4fe1\u3059\u308b\u305f\u3081\u306e\u60c5\u5831"
              L"\u304c\u8db3\u308a\u307e\u305b\u3093\u3002");
    SetThreadLocale(saved);
}

TEST_F(Com, NullOutPointersFailWithTheErrorInformationCleared) {
    Ptr<IMail> mail;
    Make(mail);
    struct Call {
        const char *member;
        HRESULT (*run)(IMail *);
    };
    const Call calls[] = {
        {"get_MailServer", [](IMail *m) { return m->get_MailServer(nullptr); }},
        {"get_Timeout", [](IMail *m) { return m->get_Timeout(nullptr); }},
        {"get_PortNumber", [](IMail *m) { return m->get_PortNumber(nullptr); }},
        {"get_UserName", [](IMail *m) { return m->get_UserName(nullptr); }},
        {"get_Password", [](IMail *m) { return m->get_Password(nullptr); }},
        {"GetESNMPOption", [](IMail *m) { return m->GetESNMPOption(nullptr); }},
    };
    for (const Call &call : calls) {
        SCOPED_TRACE(call.member);
        ASSERT_EQ(mail->Send(), E_FAIL); // leaves error information behind
        EXPECT_EQ(call.run(mail.get()), E_FAIL);
        EXPECT_FALSE(TakeError().present);
    }
}

// A failing getter leaves no stale pointer in its out BSTR for the caller to free.
TEST_F(Com, FailedGettersSetTheirOutStringToNull) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    // Credentials stored as text instead of scrambled bytes cannot be read.
    const wchar_t text[] = L"plain";
    RegSetValueExW(key, L"UserName", 0, REG_SZ, reinterpret_cast<const BYTE *>(text), sizeof text);
    RegSetValueExW(key, L"Password", 0, REG_SZ, reinterpret_cast<const BYTE *>(text), sizeof text);
    RegCloseKey(key);
    Ptr<IMail> mail;
    Make(mail);
    struct Call {
        const char *member;
        HRESULT (*run)(IMail *, BSTR *);
    };
    const Call calls[] = {
        {"get_UserName", [](IMail *m, BSTR *out) { return m->get_UserName(out); }},
        {"get_Password", [](IMail *m, BSTR *out) { return m->get_Password(out); }},
    };
    for (const Call &call : calls) {
        SCOPED_TRACE(call.member);
        Bstr stale(L"stale");
        BSTR out = stale;
        EXPECT_EQ(call.run(mail.get(), &out), E_FAIL);
        EXPECT_EQ(TakeError().help, 105u);
        EXPECT_EQ(out, nullptr);
    }
}

TEST_F(Com, AddMembersWithNullOrBadArgumentsGiveACodeOrAResult) {
    Ptr<IMail> mail;
    Make(mail);
    ASSERT_EQ(mail->Create(0), S_OK);
    const std::wstring missing = Wide(suite::TestDataDir()) + L"\\no such file.csv";
    Bstr path(missing.c_str()), csv(L"data.csv"), txt(L"data.txt"),
        broken(L"a@b.test\r\nRCPT TO:<x@y>");
    struct Case {
        const char *what;
        HRESULT (*run)(IMail *, BSTR, BSTR, BSTR, BSTR);
        DWORD code; // 0: S_OK
    };
    const Case cases[] = {
        {"null address and name",
         [](IMail *m, BSTR, BSTR, BSTR, BSTR) { return m->AddTo(nullptr, nullptr); }, 0},
        {"null subject", [](IMail *m, BSTR, BSTR, BSTR, BSTR) { return m->AddSubject(nullptr); },
         0},
        {"null body string",
         [](IMail *m, BSTR, BSTR, BSTR, BSTR) { return m->AddBodyString(nullptr, 2); }, 0},
        {"line break in an address",
         [](IMail *m, BSTR, BSTR, BSTR, BSTR b) { return m->AddFrom(b, nullptr); }, 2},
        {"null body path", [](IMail *m, BSTR, BSTR, BSTR, BSTR) { return m->AddBody(nullptr); }, 3},
        {"missing body file", [](IMail *m, BSTR p, BSTR, BSTR, BSTR) { return m->AddBody(p); }, 3},
        {"null attachment path",
         [](IMail *m, BSTR, BSTR c, BSTR, BSTR) { return m->AddContent(nullptr, c); }, 3},
        {"missing attachment",
         [](IMail *m, BSTR p, BSTR c, BSTR, BSTR) { return m->AddContent(p, c); }, 3},
        {"attachment named .txt",
         [](IMail *m, BSTR p, BSTR, BSTR t, BSTR) { return m->AddContent(p, t); }, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const HRESULT hr = c.run(mail.get(), path, csv, txt, broken);
        if (c.code == 0) {
            EXPECT_EQ(hr, S_OK);
        } else {
            EXPECT_EQ(hr, E_FAIL);
            EXPECT_EQ(TakeError().help, c.code);
        }
    }
}

// ---- bad input through IDispatch ----

TEST_F(Com, DispatchRefusesBadCallsWithoutCallingTheMember) {
    Ptr<IMail> mail;
    Make(mail);
    DISPID id = 0;
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    EXPECT_EQ(mail->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id),
              DISP_E_UNKNOWNNAME);

    Bstr text(L"abc");
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = text;
    struct Case {
        const char *what;
        DISPID id;
        UINT count;
        HRESULT hr;
    };
    const Case cases[] = {
        {"unknown dispid", 99, 0, DISP_E_MEMBERNOTFOUND},
        {"Create without its argument", 4, 0, DISP_E_BADPARAMCOUNT},
        {"Create with a text", 4, 1, DISP_E_TYPEMISMATCH},
        {"Send with an argument", 12, 1, DISP_E_BADPARAMCOUNT},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        DISPPARAMS params{&arg, nullptr, c.count, 0};
        UINT argumentError = 0;
        EXCEPINFO exception{};
        EXPECT_EQ(mail->Invoke(c.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                               nullptr, &exception, &argumentError),
                  c.hr);
    }
    // Create never ran: there is still no message to add to.
    EXPECT_EQ(mail->AddTo(Bstr(L"a@b.test"), nullptr), E_FAIL);
    EXPECT_EQ(TakeError().help, 2u);
}

// ---- creation, aggregation, marshalling and unloading ----

// An outer object that counts what reaches it through the inner object's interfaces.
class Outer : public IUnknown {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void **object) override {
        ++queries;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown))
            return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
    LONG refs = 1;
    int queries = 0;
};

TEST_F(Com, AggregationOnlyThroughIUnknownAndItDelegates) {
    Outer outer;
    Ptr<IMail> direct;
    EXPECT_EQ(
        CoCreateInstance(CLSID_Mail, &outer, CLSCTX_INPROC_SERVER, IID_IMail, direct.put_void()),
        CLASS_E_NOAGGREGATION);
    EXPECT_EQ(direct.get(), nullptr);

    Ptr<IUnknown> inner;
    ASSERT_EQ(
        CoCreateInstance(CLSID_Mail, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, inner.put_void()),
        S_OK);
    IMail *mail = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IMail, reinterpret_cast<void **>(&mail)), S_OK);
    EXPECT_EQ(outer.refs, 2); // the reference of the interface went to the outer object
    IUnknown *back = nullptr;
    EXPECT_EQ(mail->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&back)), S_OK);
    EXPECT_EQ(back, &outer);
    EXPECT_GE(outer.queries, 1);
    back->Release();
    // IMarshal of the free-threaded marshaler answers for the object and counts on the outer.
    Ptr<IMarshal> marshal;
    EXPECT_EQ(inner->QueryInterface(IID_IMarshal, marshal.put_void()), S_OK);
    marshal.reset();
    LONG port = 0;
    EXPECT_EQ(mail->get_PortNumber(&port), S_OK);
    mail->Release();
    EXPECT_EQ(outer.refs, 1);
}

struct MarshalJob {
    IStream *stream = nullptr;
    IMail *unmarshalled = nullptr;
    HRESULT hr = E_FAIL;
    HRESULT call = E_FAIL;
};

DWORD WINAPI UnmarshalInMta(void *parameter) {
    auto *job = static_cast<MarshalJob *>(parameter);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    job->hr = CoGetInterfaceAndReleaseStream(job->stream, IID_IMail,
                                             reinterpret_cast<void **>(&job->unmarshalled));
    if (SUCCEEDED(job->hr)) {
        LONG port = 0;
        job->call = job->unmarshalled->get_PortNumber(&port);
        job->unmarshalled->Release();
    }
    CoUninitialize();
    return 0;
}

TEST_F(Com, AnotherApartmentGetsTheSamePointer) {
    Ptr<IMail> mail;
    Make(mail);
    MarshalJob job;
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IMail, mail.get(), &job.stream), S_OK);
    HANDLE thread = CreateThread(nullptr, 0, UnmarshalInMta, &job, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(job.hr, S_OK);
    EXPECT_EQ(job.unmarshalled, mail.get());
    EXPECT_EQ(job.call, S_OK);
}

TEST_F(Com, UnloadingFollowsObjectsAndLocks) {
    Server &server = Quenta();
    ASSERT_EQ(server.canUnloadNow(), S_OK);
    Ptr<IClassFactory> factory;
    EXPECT_EQ(server.getClassObject(IID_IMail, IID_IClassFactory, factory.put_void()),
              CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(server.getClassObject(CLSID_Mail, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);

    // An unknown interface leaves no object behind.
    Ptr<IUnknown> none;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, none.put_void()), E_NOINTERFACE);
    EXPECT_EQ(none.get(), nullptr);

    Ptr<IDispatch> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.put_void()), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);
    object.reset();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE); // the lock
    ASSERT_EQ(server.getClassObject(CLSID_Mail, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(Com, UnregisteredObjectDispatchesFromItsOwnTypeLibrary) {
    ASSERT_EQ(Quenta().unregisterServer(), S_OK);
    Ptr<IClassFactory> factory;
    ASSERT_EQ(Quenta().getClassObject(CLSID_Mail, IID_IClassFactory, factory.put_void()), S_OK);
    Ptr<IDispatch> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.put_void()), S_OK);
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"PortNumber")};
    ASSERT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = 2525;
    ASSERT_EQ(PutProperty(object.get(), id, v), S_OK);
    ASSERT_EQ(GetProperty(object.get(), id, v), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 2525);
}

// Two threads of the multithreaded apartment work on one object at once; its lock keeps the
// message whole.
struct SharedObject {
    IMail *mail = nullptr;
    LONG failures = 0;
};

DWORD WINAPI Hammer(void *parameter) {
    auto *shared = static_cast<SharedObject *>(parameter);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    BSTR address = SysAllocString(L"to@rcpt.test");
    BSTR body = SysAllocString(L"line\r\n");
    for (int i = 0; i < 3000; ++i) {
        if (FAILED(shared->mail->Create(i % 3)))
            InterlockedIncrement(&shared->failures);
        // Another thread's Create may come between these; each call still finds a message.
        if (FAILED(shared->mail->AddTo(address, nullptr)))
            InterlockedIncrement(&shared->failures);
        if (FAILED(shared->mail->AddBodyString(body, 5)))
            InterlockedIncrement(&shared->failures);
    }
    SysFreeString(address);
    SysFreeString(body);
    CoUninitialize();
    return 0;
}

TEST_F(Com, ConcurrentCallsOnOneObjectAreSerialised) {
    Ptr<IMail> mail;
    Make(mail);
    SharedObject shared{mail.get()};
    HANDLE threads[4];
    for (HANDLE &thread : threads) {
        thread = CreateThread(nullptr, 0, Hammer, &shared, 0, nullptr);
        ASSERT_NE(thread, nullptr);
    }
    EXPECT_EQ(WaitForMultipleObjects(4, threads, TRUE, 60000), WAIT_OBJECT_0);
    for (HANDLE thread : threads)
        CloseHandle(thread);
    EXPECT_EQ(shared.failures, 0);
}

// A C++ client in a multithreaded apartment, through the ProgID.
DWORD WINAPI CreateInMta(void *parameter) {
    auto *result = static_cast<HRESULT *>(parameter);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CLSID clsid{};
    *result = CLSIDFromProgID(L"Quenta.Mail", &clsid);
    IMail *mail = nullptr;
    if (SUCCEEDED(*result))
        *result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMail,
                                   reinterpret_cast<void **>(&mail));
    if (SUCCEEDED(*result)) {
        LONG timeout = 0;
        *result = mail->get_Timeout(&timeout);
        if (SUCCEEDED(*result) && timeout != 60)
            *result = E_UNEXPECTED;
        mail->Release();
    }
    CoUninitialize();
    return 0;
}

TEST_F(Com, ProgIdClientInAMultithreadedApartment) {
    HRESULT result = E_FAIL;
    HANDLE thread = CreateThread(nullptr, 0, CreateInMta, &result, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(result, S_OK);
}

// ---- sending through the scripted server ----

class Sending : public Com {
  protected:
    void SetUp() override {
        Com::SetUp();
        ASSERT_TRUE(control.ok()) << "no scripted SMTP server: " << control.why();
        Make(mail);
        ASSERT_EQ(mail->put_MailServer(Bstr(L"127.0.0.1")), S_OK);
        ASSERT_EQ(mail->put_Timeout(10), S_OK);
    }
    void TearDown() override {
        mail.reset();
        Com::TearDown();
    }
    void Script(const std::string &json) {
        const int port = control.SetCase(json);
        ASSERT_NE(port, 0);
        ASSERT_EQ(mail->put_PortNumber(port), S_OK);
    }
    void Compose(LONG kind, const wchar_t *to = L"to@rcpt.test") {
        ASSERT_EQ(mail->Create(kind), S_OK);
        ASSERT_EQ(mail->AddFrom(Bstr(L"from@sender.test"), Bstr(L"Sender")), S_OK);
        ASSERT_EQ(mail->AddTo(Bstr(to), nullptr), S_OK);
        ASSERT_EQ(mail->AddSubject(Bstr(L"Subject line")), S_OK);
        ASSERT_EQ(mail->AddBodyString(Bstr(L"body text\r\n"), 5), S_OK);
    }

    mailtest::SmtpControl control;
    Ptr<IMail> mail;
};

TEST_F(Sending, UnknownCharsetIsUsAndTheSentMessageIsGone) {
    Script("{}");
    Compose(5);
    ASSERT_EQ(mail->Send(), S_OK);
    const mailtest::SessionRecord r = control.Take();
    EXPECT_EQ(r.commands.rfind("HELO ", 0), 0u) << r.commands;
    EXPECT_NE(r.data.find("charset=us-ascii"), std::string::npos) << r.data;
    EXPECT_NE(r.data.find("body text\r\n"), std::string::npos);
    EXPECT_EQ(mail->Send(), E_FAIL);
    EXPECT_EQ(TakeError().help, 12u);
}

TEST_F(Sending, ASecondCreateDropsTheFirstMessage) {
    Script("{}");
    Compose(0, L"first@rcpt.test");
    ASSERT_EQ(mail->AddCarbonCopy(Bstr(L"cc@rcpt.test"), nullptr), S_OK);
    Compose(0, L"second@rcpt.test");
    ASSERT_EQ(mail->Send(), S_OK);
    const std::string commands = control.Take().commands;
    EXPECT_NE(commands.find("RCPT TO:<second@rcpt.test>"), std::string::npos) << commands;
    EXPECT_EQ(commands.find("first@"), std::string::npos) << commands;
    EXPECT_EQ(commands.find("cc@"), std::string::npos) << commands;
}

TEST_F(Sending, AFailedSendKeepsTheMessageForTheNextOne) {
    Compose(0);
    // A port where nothing listens.
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr *>(&address), &length);
    closesocket(s);
    ASSERT_EQ(mail->put_PortNumber(ntohs(address.sin_port)), S_OK);
    EXPECT_EQ(mail->Send(), E_FAIL);
    const ErrorText error = TakeError();
    EXPECT_EQ(error.help, 7u);
    EXPECT_EQ(error.description, L"Failed in the connection with the mail server.");

    Script(R"({"MAIL": "451 later"})");
    EXPECT_EQ(mail->Send(), E_FAIL);
    EXPECT_EQ(TakeError().help, 8u);

    Script("{}");
    ASSERT_EQ(mail->Send(), S_OK);
    EXPECT_NE(control.Take().commands.find("RCPT TO:<to@rcpt.test>"), std::string::npos);
}

TEST_F(Sending, SendAuthMasksItsOptionsAndReportsUnsupportedAsRejected) {
    // 0x48 keeps no option bit: a plain session with HELO.
    Script("{}");
    Compose(0);
    ASSERT_EQ(mail->SendAuth(0x48), S_OK);
    EXPECT_EQ(control.Take().commands.rfind("HELO ", 0), 0u);

    // STARTTLS asked of a server that does not offer it.
    Script("{}");
    Compose(0);
    EXPECT_EQ(mail->SendAuth(0x10), E_FAIL);
    const ErrorText error = TakeError();
    EXPECT_EQ(error.help, 8u);
    EXPECT_EQ(error.description, L"It was rejected from the mail server.");
    EXPECT_EQ(control.Take().commands.rfind("EHLO ", 0), 0u);

    // The message stayed; the option word stays with the session, so Send asks again.
    Script("{}");
    EXPECT_EQ(mail->Send(), E_FAIL);
    EXPECT_EQ(TakeError().help, 101u);
    Script("{}");
    ASSERT_EQ(mail->SendAuth(0), S_OK);
}

TEST_F(Sending, LoginWithTheStoredCredentials) {
    ASSERT_EQ(mail->put_UserName(Bstr(L"user")), S_OK);
    ASSERT_EQ(mail->put_Password(Bstr(L"secret")), S_OK);
    Script(R"({"EHLO": ["250-scripted.test", "250 AUTH LOGIN PLAIN"]})");
    Compose(0);
    ASSERT_EQ(mail->SendAuth(0x1), S_OK);
    const std::string commands = control.Take().commands;
    EXPECT_NE(commands.find("AUTH LOGIN"), std::string::npos) << commands;
}

TEST_F(Sending, JapaneseAndWesternTextsKeepTheirCharacters) {
    // Code page 932 for the JP message, whatever the process's ANSI code page.
    Script("{}");
    ASSERT_EQ(mail->Create(1), S_OK);
    ASSERT_EQ(mail->AddFrom(Bstr(L"from@sender.test"), Bstr(L"\u65e5\u672c")), S_OK);
    ASSERT_EQ(mail->AddTo(Bstr(L"to@rcpt.test"), nullptr), S_OK);
    ASSERT_EQ(mail->AddSubject(Bstr(L"\u8a9e")), S_OK);
    ASSERT_EQ(mail->AddBodyString(Bstr(L"\u65e5\u672c\u8a9e\r\n"), 5), S_OK);
    ASSERT_EQ(mail->Send(), S_OK);
    std::string data = control.Take().data;
    EXPECT_NE(data.find("\x1b$BF|K\\8l\x1b(B"), std::string::npos) << data;
    // "日本" and "語" in ISO-2022-JP, base64 in the encoded words.
    EXPECT_NE(data.find("=?iso-2022-jp?B?GyRCRnxLXBsoQg==?="), std::string::npos) << data;
    EXPECT_NE(data.find("=?iso-2022-jp?B?GyRCOGwbKEI=?="), std::string::npos) << data;

    // ISO-8859-1 bytes for the EU message; a character beyond it becomes '?'.
    Script("{}");
    ASSERT_EQ(mail->Create(2), S_OK);
    ASSERT_EQ(mail->AddFrom(Bstr(L"from@sender.test"), nullptr), S_OK);
    ASSERT_EQ(mail->AddTo(Bstr(L"to@rcpt.test"), nullptr), S_OK);
    ASSERT_EQ(mail->AddBodyString(Bstr(L"caf\u00e9 \u0100\r\n"), 5), S_OK);
    ASSERT_EQ(mail->Send(), S_OK);
    data = control.Take().data;
    EXPECT_NE(data.find("caf=E9 ?"), std::string::npos) << data;
}

} // namespace

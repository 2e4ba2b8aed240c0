// CWinApp, the framework's entry, the resource handle, message boxes, help and the profile.
#include "internal.h"

#include <htmlhelp.h>
#undef HtmlHelp // the member keeps its own name

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<CWinApp *> g_app{nullptr};
std::atomic<HINSTANCE> g_resources{nullptr};

char *Duplicate(const char *text) {
    size_t n = std::strlen(text) + 1;
    char *copy = static_cast<char *>(std::malloc(n));
    if (copy)
        std::memcpy(copy, text, n);
    return copy;
}

void FreeText(LPCSTR &text) {
    std::free(const_cast<char *>(text));
    text = nullptr;
}

// The exe's path without its extension ("C:\dir\velmar").
std::string ModuleStem(HINSTANCE instance) {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(instance, path, MAX_PATH);
    std::string s(path, n < MAX_PATH ? n : 0);
    size_t slash = s.find_last_of("\\/");
    size_t dot = s.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        s.erase(dot);
    return s;
}

// The profile section's key, opened or created; NULL without a registry key.
HKEY OpenSection(const CWinApp &app, LPCSTR section, bool create) {
    if (!app.m_pszRegistryKey || !app.m_pszProfileName || !section)
        return nullptr;
    std::string path = std::string("Software\\") + app.m_pszRegistryKey + "\\" +
                       app.m_pszProfileName + "\\" + section;
    HKEY key = nullptr;
    LONG rc = create ? RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                       KEY_READ | KEY_WRITE, nullptr, &key, nullptr)
                     : RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
    return rc == ERROR_SUCCESS ? key : nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Globals

CWinApp *AfxGetApp() {
    return g_app.load();
}

CWnd *AfxGetMainWnd() {
    CWinApp *app = AfxGetApp();
    return app ? app->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetInstanceHandle() {
    CWinApp *app = AfxGetApp();
    return app && app->m_hInstance ? app->m_hInstance : GetModuleHandleA(nullptr);
}

HINSTANCE AfxGetResourceHandle() {
    HINSTANCE h = g_resources.load();
    return h ? h : AfxGetInstanceHandle();
}

void AfxSetResourceHandle(HINSTANCE resource) {
    if (resource)
        g_resources.store(resource);
}

namespace afx {

const SeamHooks *g_seamHooks = nullptr;

HWND OwnerForThisThread() {
    CWnd *main = AfxGetMainWnd();
    HWND hwnd = main ? main->GetSafeHwnd() : nullptr;
    if (!hwnd || !IsWindow(hwnd) || GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId())
        return nullptr;
    HWND popup = GetLastActivePopup(hwnd);
    return popup ? popup : hwnd;
}

int NegativeAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OK:
        return IDOK;
    case MB_YESNO:
        return IDNO;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    default:
        return IDCANCEL; // MB_OKCANCEL, MB_YESNOCANCEL, MB_RETRYCANCEL, MB_CANCELTRYCONTINUE
    }
}

} // namespace afx

// A box through the seam or the system; a box that fails gives its negative answer.
static int ShowBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (!text)
        text = "";
    int answer = 0;
    if (afx::SeamBox(owner, text, caption, type, answer))
        return answer;
    answer = ::MessageBoxA(owner, text, caption, type);
    return answer > 0 ? answer : afx::NegativeAnswer(type);
}

int CWnd::MessageBox(LPCSTR text, LPCSTR caption, UINT type) {
    if (!caption) {
        CWinApp *app = AfxGetApp();
        caption = app && app->m_pszAppName ? app->m_pszAppName : "";
    }
    return ShowBox(GetSafeHwnd(), text, caption, type);
}

int AfxMessageBox(LPCSTR text, UINT type, UINT idHelp) {
    CWinApp *app = AfxGetApp();
    if (app)
        return app->DoMessageBox(text, type, idHelp);
    return ShowBox(afx::OwnerForThisThread(), text, "", type);
}

void AfxBeep(UINT type) {
    afx::SeamBeep(type);
    MessageBeep(type);
}

int AfxMessageBox(UINT idPrompt, UINT type, UINT idHelp) {
    CString text;
    text.LoadString(idPrompt);
    if (idHelp == static_cast<UINT>(-1))
        idHelp = idPrompt;
    return AfxMessageBox(text, type, idHelp);
}

// ---------------------------------------------------------------------------------------
// CWinApp

CWinApp::CWinApp(LPCSTR appName) {
    if (appName)
        m_pszAppName = Duplicate(appName);
    CWinApp *expected = nullptr;
    g_app.compare_exchange_strong(expected, this);
}

CWinApp::~CWinApp() {
    while (!templates_.IsEmpty())
        delete static_cast<CDocTemplate *>(templates_.RemoveHead());
    delete m_pRecentFileList;
    FreeText(m_pszAppName);
    FreeText(m_pszHelpFilePath);
    FreeText(m_pszRegistryKey);
    FreeText(m_pszProfileName);
    CWinApp *expected = this;
    g_app.compare_exchange_strong(expected, nullptr);
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}
int CWinApp::ExitInstance() {
    if (m_pRecentFileList)
        m_pRecentFileList->WriteList();
    return exitCode_;
}
BOOL CWinApp::OnIdle(LONG) {
    return FALSE;
}

BOOL CWinApp::PreTranslateMessage(MSG *msg) {
    HWND main = m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr;
    for (HWND h = msg->hwnd; h; h = ::GetParent(h)) {
        CWnd *wnd = CWnd::FromHandlePermanent(h);
        if (wnd && wnd->PreTranslateMessage(msg))
            return TRUE;
        if (h == main)
            return FALSE;
    }
    // A message of a window outside the main window's family still reaches the main window.
    if (main && msg->hwnd != main && m_pMainWnd->PreTranslateMessage(msg))
        return TRUE;
    return FALSE;
}

int CWinApp::Run() {
    MSG msg;
    LONG idle = 0;
    for (;;) {
        while (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!OnIdle(idle++))
                break;
        }
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            exitCode_ = static_cast<int>(msg.wParam);
            break;
        }
        if (got < 0) {
            exitCode_ = 1;
            break;
        }
        if (!PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        idle = 0;
    }
    return ExitInstance();
}

int CWinApp::DoMessageBox(LPCSTR prompt, UINT type, UINT) {
    if ((type & MB_ICONMASK) == 0) {
        switch (type & MB_TYPEMASK) {
        case MB_OK:
        case MB_OKCANCEL:
            type |= MB_ICONEXCLAMATION;
            break;
        case MB_YESNO:
        case MB_YESNOCANCEL:
            type |= MB_ICONQUESTION;
            break;
        default:
            break;
        }
    }
    return ShowBox(afx::OwnerForThisThread(), prompt, m_pszAppName ? m_pszAppName : "", type);
}

void CWinApp::HtmlHelp(DWORD_PTR dwData, UINT nCmd) {
    afx::SeamHelp(m_pszHelpFilePath, nCmd, dwData);
    HWND owner = m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr;
    ::HtmlHelpA(owner, m_pszHelpFilePath, nCmd, dwData);
}

void CWinApp::SetRegistryKey(LPCSTR key) {
    if (!key)
        return;
    FreeText(m_pszRegistryKey);
    m_pszRegistryKey = Duplicate(key);
    FreeText(m_pszProfileName);
    m_pszProfileName = Duplicate(m_pszAppName ? m_pszAppName : "");
}

CString CWinApp::GetProfileString(LPCSTR section, LPCSTR entry, LPCSTR defaultValue) {
    CString result(defaultValue);
    HKEY key = OpenSection(*this, section, false);
    if (!key)
        return result;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, entry, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        std::string value(size + 1, '\0');
        DWORD got = size;
        if (RegQueryValueExA(key, entry, nullptr, &type, reinterpret_cast<BYTE *>(value.data()),
                             &got) == ERROR_SUCCESS)
            result = value.c_str();
    }
    RegCloseKey(key);
    return result;
}

BOOL CWinApp::WriteProfileString(LPCSTR section, LPCSTR entry, LPCSTR value) {
    HKEY key = OpenSection(*this, section, true);
    if (!key)
        return FALSE;
    LONG rc;
    if (!entry)
        rc = ERROR_INVALID_PARAMETER;
    else if (!value)
        rc = RegDeleteValueA(key, entry);
    else
        rc = RegSetValueExA(key, entry, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                            static_cast<DWORD>(std::strlen(value) + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

UINT CWinApp::GetProfileInt(LPCSTR section, LPCSTR entry, int defaultValue) {
    UINT result = static_cast<UINT>(defaultValue);
    HKEY key = OpenSection(*this, section, false);
    if (!key)
        return result;
    DWORD type = 0, value = 0, size = sizeof value;
    if (RegQueryValueExA(key, entry, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof value)
        result = value;
    RegCloseKey(key);
    return result;
}

BOOL CWinApp::WriteProfileInt(LPCSTR section, LPCSTR entry, int value) {
    HKEY key = OpenSection(*this, section, true);
    if (!key)
        return FALSE;
    DWORD v = static_cast<DWORD>(value);
    LONG rc = entry ? RegSetValueExA(key, entry, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v),
                                     sizeof v)
                    : ERROR_INVALID_PARAMETER;
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------------------
// The framework's entry

int AfxWinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int cmdShow) {
    afx::SeamProgramStart();
    CWinApp *app = AfxGetApp();
    if (!app)
        return 1;
    app->m_hInstance = instance;
    app->m_lpCmdLine = cmdLine;
    app->m_nCmdShow = cmdShow;
    if (!g_resources.load())
        g_resources.store(instance);

    std::string stem = ModuleStem(instance);
    if (!app->m_pszAppName) {
        CString title;
        if (title.LoadString(AFX_IDS_APP_TITLE) && !title.IsEmpty()) {
            app->m_pszAppName = Duplicate(title);
        } else {
            size_t slash = stem.find_last_of("\\/");
            app->m_pszAppName =
                Duplicate(stem.substr(slash == std::string::npos ? 0 : slash + 1).c_str());
        }
    }
    if (!app->m_pszHelpFilePath)
        app->m_pszHelpFilePath = Duplicate((stem + (app->htmlHelp_ ? ".chm" : ".hlp")).c_str());
    if (!app->m_pszProfileName)
        app->m_pszProfileName = Duplicate(app->m_pszAppName);

    int code;
    try {
        if (!app->InitInstance()) {
            app->ExitInstance();
            code = 1;
        } else {
            code = app->Run();
        }
    } catch (...) {
        code = 1;
    }
    return code;
}

// CCmdTarget, CWnd: the handle map, the window procedure and message-map dispatch.
#include "internal.h"

#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

// One process-wide map of window handles to objects. Permanent entries are attached objects
// (subclassed windows); temporary ones are wrappers FromHandle made for windows nobody
// attached. The lock guards the maps only; no window call is made while it is held.
struct HandleMap {
    std::mutex lock;
    std::unordered_map<HWND, CWnd *> permanent;
    std::unordered_map<HWND, CWnd *> temporary;
    size_t sweepAt = 64;
};

HandleMap &Map() {
    static HandleMap *map = new HandleMap; // outlives every static destructor
    return *map;
}

// Frees temporary wrappers whose windows are gone.
void SweepTemporaries() {
    HandleMap &m = Map();
    std::vector<std::pair<HWND, CWnd *>> all;
    {
        std::lock_guard<std::mutex> guard(m.lock);
        all.assign(m.temporary.begin(), m.temporary.end());
    }
    std::vector<CWnd *> dead;
    for (auto &[hwnd, wnd] : all) {
        if (IsWindow(hwnd))
            continue;
        std::lock_guard<std::mutex> guard(m.lock);
        auto it = m.temporary.find(hwnd);
        if (it != m.temporary.end() && it->second == wnd) {
            m.temporary.erase(it);
            dead.push_back(wnd);
        }
    }
    {
        std::lock_guard<std::mutex> guard(m.lock);
        m.sweepAt = std::max<size_t>(64, m.temporary.size() * 2);
    }
    for (CWnd *wnd : dead) {
        wnd->m_hWnd = nullptr;
        delete wnd;
    }
}

thread_local CWnd *t_creating = nullptr;
thread_local const MSG *t_current = nullptr;

LRESULT CALLBACK CreationCbt(int code, WPARAM wParam, LPARAM lParam);

} // namespace

// Access to CWnd's private parts for the window procedure and the creation hook.
struct AfxWndInternals {
    static void Hook(CWnd *wnd, HWND hwnd) {
        wnd->Attach(hwnd);
        auto old = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
        wnd->m_pfnSuper = old == &AfxWndProc ? nullptr : old;
    }

    // The window's last message has been handled: give the window its old procedure back,
    // detach and let the object go.
    static void NcDestroyed(CWnd *wnd, HWND hwnd) {
        if (wnd->m_pfnSuper &&
            reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC)) == &AfxWndProc)
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(wnd->m_pfnSuper));
        wnd->m_pfnSuper = nullptr;
        wnd->Detach();
        CWnd *temp = nullptr;
        {
            HandleMap &m = Map();
            std::lock_guard<std::mutex> guard(m.lock);
            auto it = m.temporary.find(hwnd);
            if (it != m.temporary.end()) {
                temp = it->second;
                m.temporary.erase(it);
            }
        }
        if (temp) {
            temp->m_hWnd = nullptr;
            delete temp;
        }
        CWinApp *app = AfxGetApp();
        if (app && app->m_pMainWnd == wnd) {
            app->m_pMainWnd = nullptr;
            PostQuitMessage(0);
        }
        wnd->PostNcDestroy();
    }
};

namespace {

LRESULT CALLBACK CreationCbt(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && t_creating) {
        CWnd *wnd = t_creating;
        t_creating = nullptr;
        AfxWndInternals::Hook(wnd, reinterpret_cast<HWND>(wParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

namespace afx {

CreationHook::CreationHook(CWnd *wnd)
    : hook_(SetWindowsHookExA(WH_CBT, &CreationCbt, nullptr, GetCurrentThreadId())),
      previous_(t_creating) {
    t_creating = wnd;
}

CreationHook::~CreationHook() {
    t_creating = previous_;
    if (hook_)
        UnhookWindowsHookEx(hook_);
}

LPCSTR DefaultWindowClass() {
    static const char name[] = "AfxFrameworkWnd";
    static const bool registered = [] {
        WNDCLASSA wc = {};
        wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = &DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = name;
        return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    (void)registered;
    return name;
}

} // namespace afx

// ---------------------------------------------------------------------------------------
// Window procedure

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd *wnd = CWnd::FromHandlePermanent(hWnd);
    if (!wnd)
        return DefWindowProcA(hWnd, message, wParam, lParam);
    MSG msg = {hWnd, message, wParam, lParam, 0, {0, 0}};
    const MSG *previous = t_current;
    t_current = &msg;
    LRESULT result = 0;
    try {
        result = wnd->WindowProc(message, wParam, lParam);
    } catch (...) {
        result = 0; // no exception leaves a window procedure
    }
    t_current = previous;
    if (message == WM_NCDESTROY)
        AfxWndInternals::NcDestroyed(wnd, hWnd);
    return result;
}

// ---------------------------------------------------------------------------------------
// CCmdTarget

const AFX_MSGMAP *CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, AfxSig_end, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

const AFX_MSGMAP *CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP_ENTRY *CCmdTarget::FindEntry(UINT message, UINT code, UINT id) const {
    for (const AFX_MSGMAP *map = GetMessageMap(); map;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY *e = map->lpEntries; e->nSig != AfxSig_end; ++e) {
            if (e->nMessage != message)
                continue;
            if (message == WM_COMMAND || message == WM_NOTIFY) {
                if (e->nCode == code && id >= e->nID && id <= e->nLastID)
                    return e;
            } else if (message == WM_REFLECT_BASE + WM_NOTIFY) {
                if (e->nCode == code)
                    return e;
            } else {
                return e;
            }
        }
        if (map->pfnGetBaseMap == nullptr)
            break;
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void *pExtra, AFX_CMDHANDLERINFO *pHandlerInfo) {
    const AFX_MSGMAP_ENTRY *e = FindEntry(WM_COMMAND, static_cast<UINT>(nCode), nID);
    if (!e)
        return FALSE;
    if (pHandlerInfo) {
        pHandlerInfo->pTarget = this;
        pHandlerInfo->pmf = e->pfn;
        return TRUE;
    }
    switch (e->nSig) {
    case AfxSig_v_v:
        (this->*(e->pfn))();
        return TRUE;
    case AfxSig_v_u:
        (this->*(std::bit_cast<void (CCmdTarget::*)(UINT)>(e->pfn)))(nID);
        return TRUE;
    case AfxSig_cmdui:
    case AfxSig_cmdui_range: {
        auto *cmdUI = static_cast<CCmdUI *>(pExtra);
        if (!cmdUI)
            return FALSE;
        cmdUI->m_bContinueRouting = FALSE;
        (this->*(std::bit_cast<void (CCmdTarget::*)(CCmdUI *)>(e->pfn)))(cmdUI);
        // A handler that asks for it lets the next target on the route see the update.
        return !cmdUI->m_bContinueRouting;
    }
    default:
        return FALSE;
    }
}

// ---------------------------------------------------------------------------------------
// CWnd: handle map

CWnd::~CWnd() {
    if (m_hWnd) {
        HWND hwnd = m_hWnd;
        bool subclassed = m_pfnSuper != nullptr;
        if (subclassed && IsWindow(hwnd))
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
        m_pfnSuper = nullptr;
        Detach();
        // A window of ours outliving its object would reach a freed object: destroy it.
        if (subclassed && IsWindow(hwnd) &&
            GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId())
            ::DestroyWindow(hwnd);
    }
}

HWND CWnd::GetSafeHwnd() const {
    return afx::Opaque(this) ? m_hWnd : nullptr;
}

CWnd *CWnd::FromHandlePermanent(HWND hWnd) {
    if (!hWnd)
        return nullptr;
    HandleMap &m = Map();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = m.permanent.find(hWnd);
    return it == m.permanent.end() ? nullptr : it->second;
}

CWnd *CWnd::FromHandle(HWND hWnd) {
    if (!hWnd)
        return nullptr;
    HandleMap &m = Map();
    bool sweep = false;
    {
        std::lock_guard<std::mutex> guard(m.lock);
        auto it = m.permanent.find(hWnd);
        if (it != m.permanent.end())
            return it->second;
        it = m.temporary.find(hWnd);
        if (it != m.temporary.end())
            return it->second;
        sweep = m.temporary.size() >= m.sweepAt;
    }
    if (sweep)
        SweepTemporaries();
    CWnd *made = new CWnd;
    made->m_hWnd = hWnd;
    CWnd *result = made;
    {
        std::lock_guard<std::mutex> guard(m.lock);
        auto it = m.permanent.find(hWnd);
        if (it != m.permanent.end()) {
            result = it->second;
        } else {
            auto [pos, inserted] = m.temporary.emplace(hWnd, made);
            if (!inserted)
                result = pos->second;
        }
    }
    if (result != made) {
        made->m_hWnd = nullptr;
        delete made;
    }
    return result;
}

BOOL CWnd::Attach(HWND hWnd) {
    if (!hWnd || m_hWnd)
        return FALSE;
    HandleMap &m = Map();
    std::lock_guard<std::mutex> guard(m.lock);
    auto [it, inserted] = m.permanent.emplace(hWnd, this);
    if (!inserted)
        return FALSE;
    m_hWnd = hWnd;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hwnd = m_hWnd;
    if (hwnd) {
        HandleMap &m = Map();
        std::lock_guard<std::mutex> guard(m.lock);
        auto it = m.permanent.find(hwnd);
        if (it != m.permanent.end() && it->second == this)
            m.permanent.erase(it);
    }
    m_hWnd = nullptr;
    return hwnd;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (!hWnd || !IsWindow(hWnd) || !Attach(hWnd))
        return FALSE;
    auto old = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
    m_pfnSuper = old == &AfxWndProc ? nullptr : old;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd *pParent) {
    HWND control = pParent ? ::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID)) : nullptr;
    return control ? SubclassWindow(control) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
    if (!m_hWnd)
        return nullptr;
    if (m_pfnSuper)
        SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_pfnSuper = nullptr;
    return Detach();
}

// ---------------------------------------------------------------------------------------
// CWnd: creation and the life of the window

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                    int x, int y, int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu,
                    LPVOID lpParam) {
    if (m_hWnd)
        return FALSE;
    CREATESTRUCTA cs = {};
    cs.dwExStyle = dwExStyle;
    cs.lpszClass = lpszClassName ? lpszClassName : afx::DefaultWindowClass();
    cs.lpszName = lpszWindowName;
    cs.style = dwStyle;
    cs.x = x;
    cs.y = y;
    cs.cx = nWidth;
    cs.cy = nHeight;
    cs.hwndParent = hWndParent;
    cs.hMenu = nIDorHMenu;
    cs.hInstance = GetModuleHandleA(nullptr);
    cs.lpCreateParams = lpParam;
    if (!PreCreateWindow(cs)) {
        PostNcDestroy();
        return FALSE;
    }
    HWND hwnd;
    {
        afx::CreationHook hook(this);
        hwnd = CreateWindowExA(cs.dwExStyle, cs.lpszClass, cs.lpszName, cs.style, cs.x, cs.y, cs.cx,
                               cs.cy, cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
    }
    return hwnd != nullptr && m_hWnd == hwnd;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                    const RECT &rect, CWnd *pParentWnd, UINT nID, LPVOID lpParam) {
    return CreateEx(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top,
                    rect.right - rect.left, rect.bottom - rect.top, pParentWnd->GetSafeHwnd(),
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), lpParam);
}

BOOL CWnd::Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT &rect,
                  CWnd *pParentWnd, UINT nID) {
    return CreateEx(0, lpszClassName, lpszWindowName, dwStyle | WS_CHILD, rect, pParentWnd, nID);
}

BOOL CWnd::DestroyWindow() {
    HWND hwnd = GetSafeHwnd();
    if (!hwnd)
        return FALSE;
    return ::DestroyWindow(hwnd);
}

BOOL CWnd::PreCreateWindow(CREATESTRUCTA &) {
    return TRUE;
}

void CWnd::PostNcDestroy() {}

// ---------------------------------------------------------------------------------------
// CWnd: messages

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper)
        return CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
    const MSG *msg = t_current;
    if (!msg || msg->hwnd != m_hWnd)
        return 0;
    return DefWindowProc(msg->message, msg->wParam, msg->lParam);
}

BOOL CWnd::PreTranslateMessage(MSG *) {
    return FALSE;
}

namespace {

// Runs a notification handler found in a message map; FALSE when there is none.
BOOL RunNotifyEntry(CCmdTarget *target, const AFX_MSGMAP_ENTRY *e, NMHDR *hdr, LRESULT *pResult) {
    if (!e || e->nSig != AfxSig_v_nmhdr)
        return FALSE;
    LRESULT result = 0;
    auto fn = std::bit_cast<void (CCmdTarget::*)(NMHDR *, LRESULT *)>(e->pfn);
    (target->*fn)(hdr, &result);
    if (pResult)
        *pResult = result;
    return TRUE;
}

} // namespace

BOOL CWnd::OnChildNotify(UINT message, WPARAM, LPARAM lParam, LRESULT *pResult) {
    if (message != WM_NOTIFY)
        return FALSE;
    auto *hdr = reinterpret_cast<NMHDR *>(lParam);
    const AFX_MSGMAP_ENTRY *e = FindEntry(WM_REFLECT_BASE + WM_NOTIFY, hdr->code, 0);
    return RunNotifyEntry(this, e, hdr, pResult);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    UINT id = LOWORD(wParam);
    int code = HIWORD(wParam);
    HWND control = reinterpret_cast<HWND>(lParam);
    if (control) {
        CWnd *child = FromHandlePermanent(control);
        if (child && child != this && child->OnChildNotify(WM_COMMAND, wParam, lParam, nullptr))
            return TRUE;
    } else if (code == 1) {
        code = 0; // an accelerator is a command like a menu item
    }
    return OnCmdMsg(id, code, nullptr, nullptr);
}

BOOL CWnd::OnNotify(WPARAM, LPARAM lParam, LRESULT *pResult) {
    auto *hdr = reinterpret_cast<NMHDR *>(lParam);
    if (!hdr)
        return FALSE;
    CWnd *child = FromHandlePermanent(hdr->hwndFrom);
    if (child && child != this && child->OnChildNotify(WM_NOTIFY, 0, lParam, pResult))
        return TRUE;
    const AFX_MSGMAP_ENTRY *e = FindEntry(WM_NOTIFY, hdr->code, static_cast<UINT>(hdr->idFrom));
    return RunNotifyEntry(this, e, hdr, pResult);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT *pResult) {
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam))
            return FALSE;
        *pResult = 0;
        return TRUE;
    }
    if (message == WM_NOTIFY) {
        LRESULT result = 0;
        if (!OnNotify(wParam, lParam, &result))
            return FALSE;
        *pResult = result;
        return TRUE;
    }
    const AFX_MSGMAP_ENTRY *e = FindEntry(message, 0, 0);
    if (!e)
        return FALSE;
    LRESULT result = 0;
    switch (e->nSig) {
    case AfxSig_v_v:
        (this->*(std::bit_cast<void (CWnd::*)()>(e->pfn)))();
        break;
    case AfxSig_i_cs:
        result = (this->*(std::bit_cast<int (CWnd::*)(LPCREATESTRUCT)>(e->pfn)))(
            reinterpret_cast<LPCREATESTRUCT>(lParam));
        break;
    case AfxSig_v_uii:
        (this->*(std::bit_cast<void (CWnd::*)(UINT, int, int)>(e->pfn)))(
            static_cast<UINT>(wParam), static_cast<short>(LOWORD(lParam)),
            static_cast<short>(HIWORD(lParam)));
        break;
    case AfxSig_b_wuu:
        result = (this->*(std::bit_cast<BOOL (CWnd::*)(CWnd *, UINT, UINT)>(e->pfn)))(
            FromHandle(reinterpret_cast<HWND>(wParam)), LOWORD(lParam), HIWORD(lParam));
        break;
    case AfxSig_i_wuu:
        result = (this->*(std::bit_cast<int (CWnd::*)(CWnd *, UINT, UINT)>(e->pfn)))(
            FromHandle(reinterpret_cast<HWND>(wParam)), LOWORD(lParam), HIWORD(lParam));
        break;
    case AfxSig_v_up:
        (this->*(std::bit_cast<void (CWnd::*)(UINT, CPoint)>(e->pfn)))(static_cast<UINT>(wParam),
                                                                       CPoint(lParam));
        break;
    case AfxSig_v_hdrop:
        (this->*(std::bit_cast<void (CWnd::*)(HDROP)>(e->pfn)))(reinterpret_cast<HDROP>(wParam));
        break;
    case AfxSig_v_uuu:
        (this->*(std::bit_cast<void (CWnd::*)(UINT, UINT, UINT)>(e->pfn)))(
            static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
        break;
    case AfxSig_l_wl:
        result =
            (this->*(std::bit_cast<LRESULT (CWnd::*)(WPARAM, LPARAM)>(e->pfn)))(wParam, lParam);
        break;
    default:
        return FALSE;
    }
    *pResult = result;
    return TRUE;
}

// Default handlers: the message's default processing.
int CWnd::OnCreate(LPCREATESTRUCT) {
    return static_cast<int>(Default());
}
void CWnd::OnDestroy() {
    Default();
}
void CWnd::OnClose() {
    Default();
}
void CWnd::OnSize(UINT, int, int) {
    Default();
}
BOOL CWnd::OnSetCursor(CWnd *, UINT, UINT) {
    return static_cast<BOOL>(Default());
}
int CWnd::OnMouseActivate(CWnd *, UINT, UINT) {
    return static_cast<int>(Default());
}
void CWnd::OnLButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnLButtonUp(UINT, CPoint) {
    Default();
}
void CWnd::OnMouseMove(UINT, CPoint) {
    Default();
}
void CWnd::OnDropFiles(HDROP) {
    Default();
}
void CWnd::OnKeyUp(UINT, UINT, UINT) {
    Default();
}

// ---------------------------------------------------------------------------------------
// CWnd: window calls

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

CWnd *CWnd::GetDlgItem(int nID) const {
    return FromHandle(::GetDlgItem(m_hWnd, nID));
}
int CWnd::GetDlgCtrlID() const {
    return ::GetDlgCtrlID(m_hWnd);
}
void CWnd::SetWindowText(LPCSTR text) {
    ::SetWindowTextA(m_hWnd, text ? text : "");
}

int CWnd::GetWindowText(LPSTR buffer, int maxCount) const {
    if (!buffer || maxCount <= 0)
        return 0;
    buffer[0] = '\0';
    return ::GetWindowTextA(m_hWnd, buffer, maxCount);
}

void CWnd::GetWindowText(CString &text) const {
    int length = ::GetWindowTextLengthA(m_hWnd);
    char *buffer = text.GetBuffer(length);
    buffer[0] = '\0';
    ::GetWindowTextA(m_hWnd, buffer, length + 1);
    text.ReleaseBuffer();
}

int CWnd::GetWindowTextLength() const {
    return ::GetWindowTextLengthA(m_hWnd);
}
void CWnd::SetDlgItemText(int nID, LPCSTR text) {
    ::SetDlgItemTextA(m_hWnd, nID, text ? text : "");
}

int CWnd::GetDlgItemText(int nID, CString &text) const {
    text.Empty();
    HWND control = ::GetDlgItem(m_hWnd, nID);
    if (!control)
        return 0;
    FromHandle(control)->GetWindowText(text);
    return text.GetLength();
}

void CWnd::CheckDlgButton(int nID, UINT check) {
    ::CheckDlgButton(m_hWnd, nID, check);
}
UINT CWnd::IsDlgButtonChecked(int nID) const {
    return ::IsDlgButtonChecked(m_hWnd, nID);
}
BOOL CWnd::EnableWindow(BOOL enable) {
    return ::EnableWindow(m_hWnd, enable);
}
BOOL CWnd::IsWindowEnabled() const {
    return ::IsWindowEnabled(m_hWnd);
}
BOOL CWnd::ShowWindow(int nCmdShow) {
    return ::ShowWindow(m_hWnd, nCmdShow);
}
BOOL CWnd::IsWindowVisible() const {
    return ::IsWindowVisible(m_hWnd);
}
void CWnd::UpdateWindow() {
    ::UpdateWindow(m_hWnd);
}
void CWnd::Invalidate(BOOL erase) {
    ::InvalidateRect(m_hWnd, nullptr, erase);
}
void CWnd::SetRedraw(BOOL redraw) {
    SendMessage(WM_SETREDRAW, redraw);
}
CWnd *CWnd::SetFocus() {
    return FromHandle(::SetFocus(m_hWnd));
}
CWnd *CWnd::GetFocus() {
    return FromHandle(::GetFocus());
}
CWnd *CWnd::GetParent() const {
    return FromHandle(::GetParent(m_hWnd));
}
CWnd *CWnd::GetTopLevelParent() const {
    return FromHandle(::GetAncestor(m_hWnd, GA_ROOT));
}
void CWnd::GetClientRect(LPRECT rect) const {
    ::GetClientRect(m_hWnd, rect);
}
void CWnd::GetWindowRect(LPRECT rect) const {
    ::GetWindowRect(m_hWnd, rect);
}
void CWnd::ScreenToClient(LPPOINT point) const {
    ::ScreenToClient(m_hWnd, point);
}

void CWnd::ScreenToClient(LPRECT rect) const {
    ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(&rect->left));
    ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(&rect->right));
}

void CWnd::ClientToScreen(LPPOINT point) const {
    ::ClientToScreen(m_hWnd, point);
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
    ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

void CWnd::MoveWindow(LPCRECT rect, BOOL repaint) {
    ::MoveWindow(m_hWnd, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
                 repaint);
}

BOOL CWnd::SetWindowPos(const CWnd *insertAfter, int x, int y, int cx, int cy, UINT flags) {
    return ::SetWindowPos(m_hWnd, insertAfter->GetSafeHwnd(), x, y, cx, cy, flags);
}

DWORD CWnd::GetStyle() const {
    return static_cast<DWORD>(GetWindowLongPtrA(m_hWnd, GWL_STYLE));
}
DWORD CWnd::GetExStyle() const {
    return static_cast<DWORD>(GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE));
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT swpFlags) {
    DWORD style = GetStyle();
    DWORD changed = (style & ~remove) | add;
    if (changed == style)
        return FALSE;
    SetWindowLongPtrA(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(changed));
    if (swpFlags)
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | swpFlags);
    return TRUE;
}

void CWnd::DragAcceptFiles(BOOL accept) {
    ::DragAcceptFiles(m_hWnd, accept);
}
BOOL CWnd::SetForegroundWindow() {
    return ::SetForegroundWindow(m_hWnd);
}
CWnd *CWnd::SetCapture() {
    return FromHandle(::SetCapture(m_hWnd));
}
UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc) {
    return ::SetTimer(m_hWnd, id, elapse, proc);
}
BOOL CWnd::KillTimer(UINT_PTR id) {
    return ::KillTimer(m_hWnd, id);
}
void CWnd::SetFont(HFONT font, BOOL redraw) {
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
}
HFONT CWnd::GetFont() const {
    return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
}

void CWnd::CenterWindow(CWnd *alternateOwner) {
    HWND over = alternateOwner ? alternateOwner->m_hWnd : ::GetWindow(m_hWnd, GW_OWNER);
    RECT area;
    if (over)
        ::GetWindowRect(over, &area);
    else
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT own;
    ::GetWindowRect(m_hWnd, &own);
    int w = own.right - own.left, h = own.bottom - own.top;
    ::SetWindowPos(m_hWnd, nullptr, area.left + (area.right - area.left - w) / 2,
                   area.top + (area.bottom - area.top - h) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

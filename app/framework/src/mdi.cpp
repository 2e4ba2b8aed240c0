// CMDIFrameWnd and CMDIChildWnd: the MDI client, its children, the Window menu.
#include "internal.h"

IMPLEMENT_DYNAMIC(CMDIFrameWnd, CFrameWnd)
IMPLEMENT_DYNAMIC(CMDIChildWnd, CFrameWnd)

BEGIN_MESSAGE_MAP(CMDIFrameWnd, CFrameWnd)
ON_COMMAND_RANGE(ID_WINDOW_ARRANGE, ID_WINDOW_TILE_HORZ, OnWindowCommand)
ON_UPDATE_COMMAND_UI_RANGE(ID_WINDOW_ARRANGE, ID_WINDOW_TILE_HORZ, OnUpdateWindowCommand)
END_MESSAGE_MAP()

namespace {

// The popup of `menu` holding the arrange, cascade or tile command, looked for one level
// down.
HMENU WindowMenu(HMENU menu) {
    if (!menu)
        return nullptr;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        HMENU sub = GetSubMenu(menu, i);
        if (!sub)
            continue;
        for (int j = 0; j < GetMenuItemCount(sub); ++j) {
            UINT id = GetMenuItemID(sub, j);
            if (id >= ID_WINDOW_ARRANGE && id <= ID_WINDOW_TILE_HORZ)
                return sub;
        }
    }
    return nullptr;
}

// The first line of string `id`.
CString TitleOf(UINT id) {
    CString text;
    text.LoadString(id);
    std::string title = static_cast<const char *>(text);
    return title.substr(0, title.find('\n')).c_str();
}

} // namespace

// ---------------------------------------------------------------------------------------
// CMDIFrameWnd

BOOL CMDIFrameWnd::OnCreateClient(LPCREATESTRUCT, CCreateContext *) {
    CLIENTCREATESTRUCT ccs = {WindowMenu(::GetMenu(m_hWnd)), AFX_IDM_FIRST_MDICHILD};
    m_hWndMDIClient = CreateWindowExA(
        WS_EX_CLIENTEDGE, "MDICLIENT", nullptr,
        WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | WS_VSCROLL | WS_HSCROLL, 0, 0,
        0, 0, m_hWnd, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(AFX_IDW_PANE_FIRST)),
        GetModuleHandleA(nullptr), &ccs);
    return m_hWndMDIClient != nullptr;
}

CMDIChildWnd *CMDIFrameWnd::MDIGetActive(BOOL *maximized) const {
    if (maximized)
        *maximized = FALSE;
    if (!m_hWndMDIClient)
        return nullptr;
    BOOL max = FALSE;
    auto active = reinterpret_cast<HWND>(
        ::SendMessageA(m_hWndMDIClient, WM_MDIGETACTIVE, 0, reinterpret_cast<LPARAM>(&max)));
    CMDIChildWnd *child = DYNAMIC_DOWNCAST(CMDIChildWnd, CWnd::FromHandlePermanent(active));
    if (child && maximized)
        *maximized = max;
    return child;
}

CFrameWnd *CMDIFrameWnd::GetActiveFrame() {
    CMDIChildWnd *child = MDIGetActive();
    return child ? static_cast<CFrameWnd *>(child) : this;
}

void CMDIFrameWnd::MDIActivate(CWnd *child) {
    if (m_hWndMDIClient && child->GetSafeHwnd())
        ::SendMessageA(m_hWndMDIClient, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(child->m_hWnd), 0);
}

void CMDIFrameWnd::MDINext() {
    if (m_hWndMDIClient)
        ::SendMessageA(m_hWndMDIClient, WM_MDINEXT, 0, 0);
}

void CMDIFrameWnd::OnWindowCommand(UINT id) {
    switch (id) {
    case ID_WINDOW_ARRANGE:
        ::SendMessageA(m_hWndMDIClient, WM_MDIICONARRANGE, 0, 0);
        break;
    case ID_WINDOW_CASCADE:
        MDICascade();
        break;
    default:
        MDITile(MDITILE_HORIZONTAL);
        break;
    }
}

void CMDIFrameWnd::OnUpdateWindowCommand(CCmdUI *cmdUI) {
    cmdUI->Enable(MDIGetActive() != nullptr);
}

BOOL CMDIFrameWnd::OnCmdMsg(UINT nID, int nCode, void *pExtra, AFX_CMDHANDLERINFO *pHandlerInfo) {
    // The active child (its view, document, itself, the application), then this frame.
    CMDIChildWnd *child = MDIGetActive();
    if (child && child->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo))
        return TRUE;
    return CFrameWnd::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

BOOL CMDIFrameWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    // The Window menu's children are the MDI client's to activate.
    if (lParam == 0 && LOWORD(wParam) >= AFX_IDM_FIRST_MDICHILD)
        return FALSE;
    return CFrameWnd::OnCommand(wParam, lParam);
}

BOOL CMDIFrameWnd::PreTranslateMessage(MSG *pMsg) {
    if (pMsg->message >= WM_KEYFIRST && pMsg->message <= WM_KEYLAST && m_hWndMDIClient &&
        MDIGetActive() && TranslateMDISysAccel(m_hWndMDIClient, pMsg))
        return TRUE;
    return CFrameWnd::PreTranslateMessage(pMsg);
}

LRESULT CMDIFrameWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefFrameProcA(m_hWnd, m_hWndMDIClient, message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------
// CMDIChildWnd

BOOL CMDIChildWnd::LoadFrame(UINT nIDResource, DWORD style, CWnd *parentWnd,
                             CCreateContext *context) {
    if (m_hWnd)
        return FALSE;
    auto *main = DYNAMIC_DOWNCAST(CMDIFrameWnd, parentWnd ? parentWnd : AfxGetMainWnd());
    if (!main || !main->m_hWndMDIClient)
        return FALSE;
    HINSTANCE module = AfxGetResourceHandle();
    m_nIDHelp = nIDResource;
    m_strTitle = TitleOf(nIDResource);
    if (!m_hAccelTable)
        m_hAccelTable = LoadAcceleratorsA(module, MAKEINTRESOURCEA(nIDResource));
    frameStyle_ = style & FWS_ADDTOTITLE;

    CREATESTRUCTA cs = {};
    cs.lpszClass = afx::DefaultWindowClass();
    cs.lpszName = m_strTitle;
    // Hidden until InitialUpdateFrame shows and activates it.
    cs.style = style & ~static_cast<DWORD>(FWS_ADDTOTITLE | WS_VISIBLE);
    cs.x = cs.y = cs.cx = cs.cy = CW_USEDEFAULT;
    cs.hwndParent = main->m_hWndMDIClient;
    cs.hInstance = GetModuleHandleA(nullptr);
    if (!PreCreateWindow(cs)) {
        PostNcDestroy();
        return FALSE;
    }
    MDICREATESTRUCTA mcs = {cs.lpszClass,
                            cs.lpszName,
                            cs.hInstance,
                            cs.x,
                            cs.y,
                            cs.cx,
                            cs.cy,
                            static_cast<DWORD>(cs.style),
                            0};
    createContext_ = context;
    afx::ForgetSelfDeleted();
    HWND hwnd;
    {
        afx::CreationHook hook(this);
        hwnd = reinterpret_cast<HWND>(
            ::SendMessageA(main->m_hWndMDIClient, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&mcs)));
    }
    if (afx::WasSelfDeleted(this))
        return FALSE; // made and destroyed: the object is gone
    createContext_ = nullptr;
    if (!hwnd || hwnd != m_hWnd)
        return FALSE;
    if (HICON icon = LoadIconA(module, MAKEINTRESOURCEA(nIDResource))) {
        SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    OnUpdateFrameTitle(TRUE);
    return TRUE;
}

CMDIFrameWnd *CMDIChildWnd::GetMDIFrame() const {
    if (!GetSafeHwnd())
        return nullptr;
    HWND client = ::GetParent(m_hWnd);
    return DYNAMIC_DOWNCAST(CMDIFrameWnd,
                            CWnd::FromHandlePermanent(client ? ::GetParent(client) : nullptr));
}

BOOL CMDIChildWnd::DestroyWindow() {
    HWND hwnd = GetSafeHwnd();
    if (!hwnd)
        return FALSE;
    CMDIFrameWnd *main = GetMDIFrame();
    if (!main || !main->m_hWndMDIClient)
        return CFrameWnd::DestroyWindow();
    ::SendMessageA(main->m_hWndMDIClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(hwnd), 0);
    // `this` is gone; the main frame names the child now active, if any.
    main->OnUpdateFrameTitle(TRUE);
    return !IsWindow(hwnd);
}

void CMDIChildWnd::ActivateFrame(int nCmdShow) {
    ShowWindow(nCmdShow == -1 ? SW_SHOW : nCmdShow);
    CMDIFrameWnd *main = GetMDIFrame();
    if (main)
        main->MDIActivate(this);
    if (m_pViewActive)
        m_pViewActive->SetFocus();
    if (main)
        main->OnUpdateFrameTitle(TRUE);
}

void CMDIChildWnd::OnUpdateFrameTitle(BOOL addToTitle) {
    if (!(frameStyle_ & FWS_ADDTOTITLE) || !m_hWnd)
        return;
    CDocument *doc = addToTitle ? FrameDocument() : nullptr;
    CString text = doc ? doc->GetTitle() : m_strTitle;
    CString now;
    GetWindowText(now);
    if (!(now == text))
        SetWindowText(text);
}

BOOL CMDIChildWnd::PreTranslateMessage(MSG *) {
    return FALSE;
}

LRESULT CMDIChildWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = CFrameWnd::WindowProc(message, wParam, lParam);
    if (message == WM_MDIACTIVATE) {
        if (reinterpret_cast<HWND>(lParam) == m_hWnd && m_pViewActive && IsWindowVisible())
            m_pViewActive->SetFocus();
        if (CMDIFrameWnd *main = GetMDIFrame())
            main->OnUpdateFrameTitle(TRUE);
    } else if (message == WM_SETFOCUS && m_pViewActive && m_pViewActive->GetSafeHwnd()) {
        m_pViewActive->SetFocus();
    }
    return result;
}

LRESULT CMDIChildWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefMDIChildProcA(m_hWnd, message, wParam, lParam);
}

// CFrameWnd: loading from resources, views, layout of bars and panes, closing, command
// routing, the command gate and menu updates.
#include "internal.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CFrameWnd, CWnd)

BEGIN_MESSAGE_MAP(CFrameWnd, CWnd)
ON_WM_CREATE()
ON_WM_SIZE()
ON_WM_CLOSE()
END_MESSAGE_MAP()

namespace afx {

namespace {
thread_local const void *t_selfDeleted = nullptr;
}

void NoteSelfDeleted(const void *object) {
    t_selfDeleted = object;
}
bool WasSelfDeleted(const void *object) {
    return object && t_selfDeleted == object;
}
void ForgetSelfDeleted() {
    t_selfDeleted = nullptr;
}

} // namespace afx

CFrameWnd::~CFrameWnd() {
    if (m_hAccelTable)
        DestroyAcceleratorTable(m_hAccelTable);
}

BOOL CFrameWnd::LoadFrame(UINT nIDResource, DWORD style, CWnd *parentWnd, CCreateContext *context) {
    if (m_hWnd)
        return FALSE;
    HINSTANCE module = AfxGetResourceHandle();
    m_nIDHelp = nIDResource;
    HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(nIDResource));
    HWND parent = parentWnd->GetSafeHwnd();
    if (!menu && !parent)
        return FALSE;
    CString text;
    text.LoadString(nIDResource);
    std::string title = static_cast<const char *>(text);
    title = title.substr(0, title.find('\n'));
    m_strTitle = title.c_str();
    if (!m_hAccelTable)
        m_hAccelTable = LoadAcceleratorsA(module, MAKEINTRESOURCEA(nIDResource));
    // FWS_ADDTOTITLE is the framework's own bit: the window never sees it.
    frameStyle_ = style & FWS_ADDTOTITLE;
    DWORD windowStyle = style & ~static_cast<DWORD>(FWS_ADDTOTITLE);
    createContext_ = context;
    afx::ForgetSelfDeleted();
    BOOL made = CreateEx(0, nullptr, m_strTitle, windowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, parent, parent ? nullptr : menu);
    if (!made) {
        // A top-level window that was made took its menu with it.
        bool gone = afx::WasSelfDeleted(this);
        if (menu && (parent || !gone))
            DestroyMenu(menu);
        if (!gone)
            createContext_ = nullptr;
        return FALSE;
    }
    createContext_ = nullptr;
    if (parent && menu)
        DestroyMenu(menu); // a child frame keeps its main frame's menu
    m_hMenuDefault = parent ? nullptr : ::GetMenu(m_hWnd);
    if (HICON icon = LoadIconA(module, MAKEINTRESOURCEA(nIDResource))) {
        SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    OnUpdateFrameTitle(TRUE);
    return TRUE;
}

int CFrameWnd::OnCreate(LPCREATESTRUCT cs) {
    if (Default() == -1)
        return -1;
    if (!OnCreateClient(cs, createContext_))
        return -1;
    RecalcLayout();
    return 0;
}

BOOL CFrameWnd::OnCreateClient(LPCREATESTRUCT, CCreateContext *context) {
    if (context && context->m_pNewViewClass)
        return CreateView(context, AFX_IDW_PANE_FIRST) != nullptr;
    return TRUE;
}

CWnd *CFrameWnd::CreateView(CCreateContext *context, UINT nID) {
    if (!context || !context->m_pNewViewClass)
        return nullptr;
    CObject *object = context->m_pNewViewClass->CreateObject();
    if (!object)
        return nullptr;
    if (!object->IsKindOf(RUNTIME_CLASS(CWnd))) {
        delete object;
        return nullptr;
    }
    auto *wnd = static_cast<CWnd *>(object);
    CRect rect(0, 0, 0, 0);
    afx::ForgetSelfDeleted();
    BOOL made;
    if (CView *view = DYNAMIC_DOWNCAST(CView, wnd))
        made = view->Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, rect, this, nID, context);
    else
        made = wnd->Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, rect, this, nID);
    if (!made) {
        if (!afx::WasSelfDeleted(wnd))
            delete wnd;
        return nullptr;
    }
    return wnd;
}

void CFrameWnd::SetActiveView(CView *view, BOOL notify) {
    CView *old = m_pViewActive;
    if (old == view)
        return;
    m_pViewActive = view;
    if (notify) {
        if (old)
            old->OnActivateView(FALSE, view, old);
        if (view) {
            view->OnActivateView(TRUE, view, old);
            if (::GetFocus() != view->m_hWnd && IsWindowVisible())
                view->SetFocus();
        }
    }
}

CDocument *CFrameWnd::GetActiveDocument() {
    CFrameWnd *frame = GetActiveFrame();
    CView *view = frame ? frame->GetActiveView() : nullptr;
    return view ? view->GetDocument() : nullptr;
}

CDocument *CFrameWnd::FrameDocument() {
    if (m_pViewActive && m_pViewActive->GetDocument())
        return m_pViewActive->GetDocument();
    struct Search {
        static BOOL CALLBACK Each(HWND hwnd, LPARAM param) {
            auto *found = reinterpret_cast<CDocument **>(param);
            CView *view = DYNAMIC_DOWNCAST(CView, CWnd::FromHandlePermanent(hwnd));
            if (view && view->GetDocument()) {
                *found = view->GetDocument();
                return FALSE;
            }
            return TRUE;
        }
    };
    CDocument *doc = nullptr;
    if (m_hWnd)
        EnumChildWindows(m_hWnd, &Search::Each, reinterpret_cast<LPARAM>(&doc));
    return doc;
}

void CFrameWnd::InitialUpdateFrame(CDocument *, BOOL makeVisible) {
    if (!m_pViewActive) {
        // The first pane: child AFX_IDW_PANE_FIRST, looked for down through a splitter.
        HWND at = m_hWnd;
        for (int depth = 0; depth < 8 && at; ++depth) {
            HWND pane = ::GetDlgItem(at, AFX_IDW_PANE_FIRST);
            if (!pane)
                break;
            if (CView *view = DYNAMIC_DOWNCAST(CView, CWnd::FromHandlePermanent(pane))) {
                SetActiveView(view, FALSE);
                break;
            }
            at = pane;
        }
    }
    std::vector<HWND> children;
    EnumChildWindows(
        m_hWnd,
        [](HWND hwnd, LPARAM param) -> BOOL {
            reinterpret_cast<std::vector<HWND> *>(param)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    for (HWND hwnd : children) {
        CView *view = DYNAMIC_DOWNCAST(CView, CWnd::FromHandlePermanent(hwnd));
        if (view && !view->initialUpdated_ && IsWindow(hwnd)) {
            view->initialUpdated_ = true;
            view->OnInitialUpdate();
        }
    }
    if (makeVisible)
        ActivateFrame();
    OnUpdateFrameTitle(TRUE);
}

void CFrameWnd::ActivateFrame(int nCmdShow) {
    ShowWindow(nCmdShow == -1 ? SW_SHOW : nCmdShow);
    if (m_pViewActive)
        m_pViewActive->SetFocus();
}

void CFrameWnd::OnUpdateFrameTitle(BOOL addToTitle) {
    if (!(frameStyle_ & FWS_ADDTOTITLE) || !m_hWnd)
        return;
    CDocument *doc = addToTitle ? GetActiveDocument() : nullptr;
    CString text = m_strTitle;
    if (doc) {
        text += " - ";
        text += doc->GetTitle();
    }
    CString now;
    GetWindowText(now);
    if (!(now == text))
        SetWindowText(text);
}

// ---------------------------------------------------------------------------------------
// Layout

void CFrameWnd::DockControlBar(CControlBar *bar) {
    HWND hwnd = bar->GetSafeHwnd();
    if (!hwnd)
        return;
    std::erase(bars_, hwnd);
    bars_.push_back(hwnd);
    RecalcLayout();
}

void CFrameWnd::ShowControlBar(CControlBar *bar, BOOL show, BOOL) {
    if (!bar->GetSafeHwnd())
        return;
    bar->ShowWindow(show ? SW_SHOWNA : SW_HIDE);
    RecalcLayout();
}

CControlBar *CFrameWnd::GetControlBar(UINT nID) const {
    for (HWND hwnd : bars_)
        if (static_cast<UINT>(::GetDlgCtrlID(hwnd)) == nID)
            return DYNAMIC_DOWNCAST(CControlBar, CWnd::FromHandlePermanent(hwnd));
    return nullptr;
}

void CFrameWnd::RecalcLayout(BOOL) {
    if (!m_hWnd)
        return;
    CRect rest;
    ::GetClientRect(m_hWnd, &rest);
    std::erase_if(bars_, [](HWND hwnd) { return !IsWindow(hwnd); });
    // Status bars go along the very bottom, then dialog bars above them.
    std::vector<CControlBar *> top, bottom;
    for (HWND hwnd : bars_) {
        CControlBar *bar = DYNAMIC_DOWNCAST(CControlBar, CWnd::FromHandlePermanent(hwnd));
        if (!bar || !::IsWindowVisible(hwnd))
            continue;
        if (bar->m_dwStyle & CBRS_ALIGN_TOP)
            top.push_back(bar);
        else if (bar->IsKindOf(RUNTIME_CLASS(CStatusBar)))
            bottom.insert(bottom.begin(), bar);
        else
            bottom.push_back(bar);
    }
    for (CControlBar *bar : top) {
        int h = bar->CalcDynamicLayout(-1, LM_HORZ | LM_HORZDOCK).cy;
        h = std::clamp(h, 0, static_cast<int>(rest.Height()));
        bar->MoveWindow(rest.left, rest.top, rest.Width(), h);
        rest.top += h;
    }
    for (CControlBar *bar : bottom) {
        int h = bar->CalcDynamicLayout(-1, LM_HORZ | LM_HORZDOCK).cy;
        h = std::clamp(h, 0, static_cast<int>(rest.Height()));
        bar->MoveWindow(rest.left, rest.bottom - h, rest.Width(), h);
        rest.bottom -= h;
    }
    HWND client = nullptr;
    if (auto *mdi = DYNAMIC_DOWNCAST(CMDIFrameWnd, this))
        client = mdi->m_hWndMDIClient;
    else
        client = ::GetDlgItem(m_hWnd, AFX_IDW_PANE_FIRST);
    if (client)
        ::MoveWindow(client, rest.left, rest.top, rest.Width(), rest.Height(), TRUE);
}

void CFrameWnd::OnSize(UINT type, int, int) {
    if (IsKindOf(RUNTIME_CLASS(CMDIChildWnd)))
        Default(); // the MDI client keeps its maximised-child state
    // The layout follows the client rectangle, not the message's sizes: a WM_SIZE may be
    // posted with any lParam to make the layout follow.
    if (type != SIZE_MINIMIZED)
        RecalcLayout();
}

// ---------------------------------------------------------------------------------------
// Closing

void CFrameWnd::OnClose() {
    CWinApp *app = AfxGetApp();
    if (app && app->m_pMainWnd == this) {
        if (!app->SaveAllModified())
            return;
        app->CloseAllDocuments(FALSE);
        DestroyWindow();
        return;
    }
    CDocument *doc = FrameDocument();
    if (doc) {
        if (!doc->CanCloseFrame(this))
            return;
        // Is this the document's last frame?
        bool other = false;
        for (POSITION pos = doc->GetFirstViewPosition(); pos;) {
            CView *view = doc->GetNextView(pos);
            if (view && view->GetParentFrame() != this)
                other = true;
        }
        if (!other) {
            doc->OnCloseDocument();
            return;
        }
    }
    DestroyWindow();
}

// ---------------------------------------------------------------------------------------
// Commands

BOOL CFrameWnd::OnCmdMsg(UINT nID, int nCode, void *pExtra, AFX_CMDHANDLERINFO *pHandlerInfo) {
    if (m_pViewActive && m_pViewActive->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo))
        return TRUE;
    if (CWnd::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo))
        return TRUE;
    CWinApp *app = AfxGetApp();
    return app && app->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

BOOL CFrameWnd::IsCommandEnabled(UINT nID) {
    CCmdUI state;
    state.m_nID = nID;
    state.DoUpdate(this, m_bAutoMenuEnable);
    return state.m_bEnabled;
}

BOOL CFrameWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    HWND from = reinterpret_cast<HWND>(lParam);
    bool command = from == nullptr;
    if (!command) {
        // A tool bar button is a command like a menu item.
        CWnd *control = CWnd::FromHandlePermanent(from);
        command = control && control->IsKindOf(RUNTIME_CLASS(CToolBar));
    }
    // The system's commands (a maximised MDI child's buttons in the menu bar) are not ours.
    if (command && LOWORD(wParam) >= 0xF000)
        return FALSE;
    if (command) {
        // A menu item, accelerator or button, sent or posted: only when its update route
        // allows it.
        UINT id = LOWORD(wParam);
        if (!IsCommandEnabled(id))
            return TRUE;
        if (from)
            return OnCmdMsg(id, CN_COMMAND, nullptr, nullptr);
    }
    return CWnd::OnCommand(wParam, lParam);
}

BOOL CFrameWnd::PreTranslateMessage(MSG *pMsg) {
    if (m_hAccelTable && pMsg->message >= WM_KEYFIRST && pMsg->message <= WM_KEYLAST)
        return TranslateAcceleratorA(m_hWnd, m_hAccelTable, pMsg) != 0;
    return FALSE;
}

void CFrameWnd::OnInitMenuPopup(HMENU popup, UINT, BOOL sysMenu) {
    if (sysMenu || !popup)
        return;
    // The count is read again on every round: an update handler may add or remove items
    // (the recent-file list does).
    for (int i = 0; i < GetMenuItemCount(popup) && i < 1024; ++i) {
        CCmdUI ui;
        ui.m_hMenu = popup;
        ui.m_nIndex = static_cast<UINT>(i);
        UINT id = GetMenuItemID(popup, i);
        if (id == 0)
            continue; // separator
        if (id == static_cast<UINT>(-1)) {
            HMENU sub = GetSubMenu(popup, i);
            UINT first = sub && GetMenuItemCount(sub) > 0 ? GetMenuItemID(sub, 0) : 0;
            if (first == 0 || first == static_cast<UINT>(-1) || first >= 0xF000)
                continue;
            ui.m_nID = first;
            ui.m_hSubMenu = sub;
            ui.DoUpdate(this, m_bAutoMenuEnable);
            EnableMenuItem(popup, static_cast<UINT>(i),
                           MF_BYPOSITION |
                               (ui.m_bEnabled ? MF_ENABLED : (MF_DISABLED | MF_GRAYED)));
            continue;
        }
        if (id >= 0xF000)
            continue; // the system's: the MDI children's list, a maximised child's menu
        if (id > ID_FILE_MRU_FILE1 && id <= ID_FILE_MRU_FILE16)
            continue; // listed by the update of the first entry
        ui.m_nID = id;
        ui.DoUpdate(this, m_bAutoMenuEnable);
    }
}

LRESULT CFrameWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITMENUPOPUP) {
        OnInitMenuPopup(reinterpret_cast<HMENU>(wParam), LOWORD(lParam), HIWORD(lParam));
        if (HIWORD(lParam))
            return DefWindowProc(message, wParam, lParam);
        return 0;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

void CFrameWnd::PostNcDestroy() {
    afx::NoteSelfDeleted(this);
    delete this;
}

// CFrameWnd: loading from resources, command routing, the command gate and menu updates.
#include "internal.h"

IMPLEMENT_DYNAMIC(CFrameWnd, CWnd)

CFrameWnd::~CFrameWnd() {
    if (m_hAccelTable)
        DestroyAcceleratorTable(m_hAccelTable);
}

BOOL CFrameWnd::LoadFrame(UINT nIDResource, DWORD style, CWnd *parentWnd, CCreateContext *) {
    if (m_hWnd)
        return FALSE;
    HINSTANCE module = AfxGetResourceHandle();
    m_nIDHelp = nIDResource;
    HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(nIDResource));
    HWND parent = parentWnd->GetSafeHwnd();
    if (!menu && !parent)
        return FALSE;
    CString title;
    title.LoadString(nIDResource);
    if (!m_hAccelTable)
        m_hAccelTable = LoadAcceleratorsA(module, MAKEINTRESOURCEA(nIDResource));
    // FWS_ADDTOTITLE is the framework's own bit: the window never sees it.
    DWORD windowStyle = style & ~static_cast<DWORD>(FWS_ADDTOTITLE);
    if (!CreateEx(0, nullptr, title, windowStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                  CW_USEDEFAULT, parent, parent ? nullptr : menu)) {
        if (menu)
            DestroyMenu(menu);
        return FALSE;
    }
    m_hMenuDefault = parent ? menu : ::GetMenu(m_hWnd);
    if (HICON icon = LoadIconA(module, MAKEINTRESOURCEA(nIDResource))) {
        SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    return TRUE;
}

BOOL CFrameWnd::OnCmdMsg(UINT nID, int nCode, void *pExtra, AFX_CMDHANDLERINFO *pHandlerInfo) {
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
    if (lParam == 0) {
        // A menu item or accelerator, sent or posted: only when its update route allows it.
        UINT id = LOWORD(wParam);
        if (!IsCommandEnabled(id))
            return TRUE;
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
            continue;  // separator
        if (id == static_cast<UINT>(-1)) {
            HMENU sub = GetSubMenu(popup, i);
            UINT first = sub && GetMenuItemCount(sub) > 0 ? GetMenuItemID(sub, 0) : 0;
            if (first == 0 || first == static_cast<UINT>(-1))
                continue;
            ui.m_nID = first;
            ui.m_hSubMenu = sub;
            ui.DoUpdate(this, m_bAutoMenuEnable);
            EnableMenuItem(popup, static_cast<UINT>(i),
                           MF_BYPOSITION | (ui.m_bEnabled ? MF_ENABLED : (MF_DISABLED | MF_GRAYED)));
            continue;
        }
        if (id > ID_FILE_MRU_FILE1 && id <= ID_FILE_MRU_FILE16)
            continue;  // listed by the update of the first entry
        ui.m_nID = id;
        ui.DoUpdate(this, m_bAutoMenuEnable);
    }
}

LRESULT CFrameWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITMENUPOPUP) {
        OnInitMenuPopup(reinterpret_cast<HMENU>(wParam), LOWORD(lParam), HIWORD(lParam));
        return 0;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

void CFrameWnd::PostNcDestroy() { delete this; }

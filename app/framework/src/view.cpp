// CView and the control views: the document's views, activation in the frame, routing.
#include "internal.h"

IMPLEMENT_DYNAMIC(CView, CWnd)
IMPLEMENT_DYNAMIC(CCtrlView, CView)
IMPLEMENT_DYNAMIC(CListView, CCtrlView)
IMPLEMENT_DYNAMIC(CTreeView, CCtrlView)

CFrameWnd *CWnd::GetParentFrame() const {
    if (!GetSafeHwnd())
        return nullptr;
    for (HWND h = ::GetParent(m_hWnd); h; h = ::GetParent(h)) {
        if (auto *frame = DYNAMIC_DOWNCAST(CFrameWnd, CWnd::FromHandlePermanent(h)))
            return frame;
    }
    return nullptr;
}

CView::~CView() {
    if (m_pDocument)
        m_pDocument->RemoveView(this);
}

BOOL CView::Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT &rect, CWnd *parent,
                   UINT nID, CCreateContext *context) {
    createContext_ = context;
    afx::ForgetSelfDeleted();
    BOOL made = CreateEx(0, className, windowName, style | WS_CHILD, rect, parent, nID);
    // A view whose window was made and destroyed is gone by now.
    if (!made && afx::WasSelfDeleted(this))
        return FALSE;
    createContext_ = nullptr;
    return made;
}

void CView::OnInitialUpdate() {
    OnUpdate(nullptr, 0, nullptr);
}
void CView::OnUpdate(CView *, LPARAM, CObject *) {
    Invalidate(TRUE);
}
void CView::OnActivateView(BOOL, CView *, CView *) {}

BOOL CView::OnCmdMsg(UINT nID, int nCode, void *pExtra, AFX_CMDHANDLERINFO *pHandlerInfo) {
    if (CWnd::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo))
        return TRUE;
    return m_pDocument && m_pDocument->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

LRESULT CView::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        if (createContext_ && createContext_->m_pCurrentDoc)
            createContext_->m_pCurrentDoc->AddView(this);
        break;
    case WM_MOUSEACTIVATE: {
        LRESULT result = CWnd::WindowProc(message, wParam, lParam);
        if (result == MA_NOACTIVATE || result == MA_NOACTIVATEANDEAT)
            return result;
        if (CFrameWnd *frame = GetParentFrame())
            frame->SetActiveView(this);
        return result;
    }
    case WM_SETFOCUS: {
        LRESULT result = CWnd::WindowProc(message, wParam, lParam);
        if (CFrameWnd *frame = GetParentFrame())
            frame->SetActiveView(this);
        return result;
    }
    case WM_DESTROY: {
        LRESULT result = CWnd::WindowProc(message, wParam, lParam);
        if (CFrameWnd *frame = GetParentFrame())
            if (frame->m_pViewActive == this)
                frame->SetActiveView(nullptr, FALSE);
        return result;
    }
    default:
        break;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

void CView::PostNcDestroy() {
    afx::NoteSelfDeleted(this);
    delete this;
}

BOOL CCtrlView::PreCreateWindow(CREATESTRUCTA &cs) {
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&init);
    cs.lpszClass = className_;
    cs.style |= style_;
    return CView::PreCreateWindow(cs);
}

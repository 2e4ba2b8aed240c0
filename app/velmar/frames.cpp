// The project and printer windows.
#include "frames.h"

#include "mainfrm.h"
#include "resource_ids.h"
#include "zqapp.h"

IMPLEMENT_DYNCREATE(CPrDoc, CDocument)
IMPLEMENT_DYNCREATE(CChildFrame, CMDIChildWnd)
IMPLEMENT_DYNCREATE(CPrFrame, CMDIChildWnd)

namespace {

// Pane (0, 0) and (0, 1) of a window of two columns; a failed view takes the splitter
// with it.
BOOL MakePanes(CMDIChildWnd *frame, CQuvSplit &split, CCreateContext *context, CRuntimeClass *left,
               SIZE leftSize, CRuntimeClass *right, SIZE rightSize) {
    if (!split.CreateStatic(frame, 1, 2, WS_CHILD | WS_VISIBLE, AFX_IDW_PANE_FIRST))
        return FALSE;
    if (!split.CreateView(0, 0, left, leftSize, context) ||
        !split.CreateView(0, 1, right, rightSize, context)) {
        split.DestroyWindow();
        return FALSE;
    }
    return TRUE;
}

CMDIChildWnd *ActiveChild(LONG_PTR userData) {
    CMainFrame *main = ZqApp().MainFrame();
    CMDIChildWnd *child = main && main->GetSafeHwnd() ? main->MDIGetActive() : nullptr;
    if (!child || GetWindowLongPtrA(child->m_hWnd, GWLP_USERDATA) != userData)
        return nullptr;
    return child;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Splitter and documents

BEGIN_MESSAGE_MAP(CQuvSplit, CSplitterWnd)
ON_WM_LBUTTONUP()
ON_WM_MOUSEMOVE()
END_MESSAGE_MAP()

void CQuvSplit::OnLButtonUp(UINT flags, CPoint point) {
    if (CMainFrame *main = ZqApp().MainFrame())
        if (main->m_printerBar->GetSafeHwnd())
            main->m_printerBar->EndResize();
    CSplitterWnd::OnLButtonUp(flags, point);
}

void CQuvSplit::OnMouseMove(UINT flags, CPoint point) {
    CSplitterWnd::OnMouseMove(flags, point);
    CMainFrame *main = ZqApp().MainFrame();
    if ((flags & MK_LBUTTON) && main && main->m_printerBar->m_hSizeCursor)
        SetCursor(main->m_printerBar->m_hSizeCursor);
}

// ---------------------------------------------------------------------------------------
// CChildFrame

BEGIN_MESSAGE_MAP(CChildFrame, CMDIChildWnd)
ON_WM_DESTROY()
ON_UPDATE_COMMAND_UI_RANGE(ID_VIEW_SMALLICON, ID_VIEW_BYNAME, OnUpdateViewStyles)
ON_COMMAND(ID_VIEW_DETAILS, OnViewDetails)
END_MESSAGE_MAP()

BOOL CChildFrame::OnCreateClient(LPCREATESTRUCT, CCreateContext *context) {
    SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, kProjectWindowData);
    if (!MakePanes(this, m_wndSplitter, context, RUNTIME_CLASS(CLeftView), CSize(250, 100),
                   RUNTIME_CLASS(CZqView), CSize(400, 100)))
        return FALSE;
    ++ZqApp().m_projectCount;
    counted_ = true;
    return TRUE;
}

CLeftView *CChildFrame::GetLeftView() const {
    return DYNAMIC_DOWNCAST(CLeftView, m_wndSplitter.GetPane(0, 0));
}

CZqView *CChildFrame::GetRightPane() const {
    return DYNAMIC_DOWNCAST(CZqView, m_wndSplitter.GetPane(0, 1));
}

void CChildFrame::OnDestroy() {
    if (counted_) {
        --ZqApp().m_projectCount;
        counted_ = false;
    }
    CMDIChildWnd::OnDestroy();
}

void CChildFrame::OnUpdateViewStyles(CCmdUI *cmdUI) {
    const bool details = cmdUI->m_nID == ID_VIEW_DETAILS;
    cmdUI->Enable(details);
    if (details) {
        CZqView *right = GetRightPane();
        cmdUI->SetRadio(right && (right->GetStyle() & LVS_TYPEMASK) == LVS_REPORT);
    }
}

void CChildFrame::OnViewDetails() {
    if (CZqView *right = GetRightPane())
        right->ModifyStyle(LVS_TYPEMASK, LVS_REPORT);
}

// ---------------------------------------------------------------------------------------
// CPrFrame

BEGIN_MESSAGE_MAP(CPrFrame, CMDIChildWnd)
ON_WM_CLOSE()
ON_COMMAND_RANGE(ID_VIEW_SMALLICON, ID_VIEW_LINEUP, OnViewStyle)
ON_UPDATE_COMMAND_UI_RANGE(ID_VIEW_SMALLICON, ID_VIEW_LINEUP, OnUpdateViewStyles)
END_MESSAGE_MAP()

BOOL CPrFrame::OnCreateClient(LPCREATESTRUCT, CCreateContext *context) {
    SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, kPrinterWindowData);
    return MakePanes(this, m_wndSplitter, context, RUNTIME_CLASS(CPrLeftView), CSize(200, 100),
                     RUNTIME_CLASS(CPrView), CSize(200, 100));
}

CPrLeftView *CPrFrame::GetTreeView() const {
    return DYNAMIC_DOWNCAST(CPrLeftView, m_wndSplitter.GetPane(0, 0));
}
CPrView *CPrFrame::GetListView() const {
    return DYNAMIC_DOWNCAST(CPrView, m_wndSplitter.GetPane(0, 1));
}

void CPrFrame::OnClose() {
    if (CPrLeftView *tree = GetTreeView()) {
        // Kept set: the deleted nodes' selection changes must not query the printer.
        tree->m_closing = TRUE;
        tree->DeleteAllNodes();
    }
    --ZqApp().m_resourceCount;
    CMDIChildWnd::OnClose();
}

void CPrFrame::OnViewStyle(UINT id) {
    CPrView *view = GetListView();
    if (!view)
        return;
    CListCtrl &list = view->GetListCtrl();
    CZqApp &app = ZqApp();
    switch (id) {
    case ID_VIEW_SMALLICON:
        view->ModifyStyle(LVS_TYPEMASK, LVS_SMALLICON);
        list.SetImageList(&app.m_smallImages, LVSIL_SMALL);
        break;
    case ID_VIEW_LARGEICON:
        view->ModifyStyle(LVS_TYPEMASK, LVS_ICON);
        list.SetImageList(&app.m_largeImages, LVSIL_NORMAL);
        break;
    case ID_VIEW_LIST:
        view->ModifyStyle(LVS_TYPEMASK, LVS_LIST);
        list.SetImageList(&app.m_smallImages, LVSIL_SMALL);
        break;
    case ID_VIEW_DETAILS:
        view->ModifyStyle(LVS_TYPEMASK, LVS_REPORT);
        list.SetImageList(&app.m_smallImages, LVSIL_SMALL);
        break;
    default:
        list.Arrange(LVA_SNAPTOGRID);
        break;
    }
}

void CPrFrame::OnUpdateViewStyles(CCmdUI *cmdUI) {
    CPrView *view = GetListView();
    if (!view) {
        cmdUI->Enable(FALSE);
        return;
    }
    const DWORD style = view->GetStyle() & LVS_TYPEMASK;
    switch (cmdUI->m_nID) {
    case ID_VIEW_SMALLICON:
        cmdUI->Enable(TRUE);
        cmdUI->SetRadio(style == LVS_SMALLICON);
        break;
    case ID_VIEW_LARGEICON:
        cmdUI->Enable(TRUE);
        cmdUI->SetRadio(style == LVS_ICON);
        break;
    case ID_VIEW_LIST:
        cmdUI->Enable(TRUE);
        cmdUI->SetRadio(style == LVS_LIST);
        break;
    case ID_VIEW_DETAILS:
        cmdUI->Enable(TRUE);
        cmdUI->SetRadio(style == LVS_REPORT);
        break;
    default:
        cmdUI->Enable(style == LVS_ICON || style == LVS_SMALLICON);
        break;
    }
}

// ---------------------------------------------------------------------------------------
// The active window's panes

CLeftView *GetActiveProjectView() {
    auto *frame = DYNAMIC_DOWNCAST(CChildFrame, ActiveChild(kProjectWindowData));
    return frame ? frame->GetLeftView() : nullptr;
}

CPrLeftView *GetActiveStorageTreeView() {
    auto *frame = DYNAMIC_DOWNCAST(CPrFrame, ActiveChild(kPrinterWindowData));
    return frame ? frame->GetTreeView() : nullptr;
}

CPrView *GetActiveStorageListView() {
    auto *frame = DYNAMIC_DOWNCAST(CPrFrame, ActiveChild(kPrinterWindowData));
    return frame ? frame->GetListView() : nullptr;
}

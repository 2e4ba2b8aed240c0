// The main frame and the printer bar.
#include "mainfrm.h"

#include "framework_ids.h"
#include "resource_ids.h"
#include "zqapp.h"

namespace {

constexpr int kEdgeZone = 5;   // pixels above and below the bar's top edge
constexpr int kMinHeight = 20; // a drag below this ends at kFloorHeight
constexpr int kFloorHeight = 21;
constexpr LONG_PTR kBarUserData = 22;
constexpr DWORD kBarStyle = CBRS_ALIGN_BOTTOM | CBRS_BORDER_TOP; // 0x8200

// A left-button press, in a client area or on a window's border (a view's edge beside the
// bar's top edge).
bool IsLeftPress(UINT message) {
    return message == WM_LBUTTONDOWN || message == WM_NCLBUTTONDOWN;
}

// Where the frame shows the size cursor and takes a press: its client area and its
// children's borders, not its own caption, menu or sizing borders.
bool IsInsideFrame(UINT hitTest) {
    return hitTest == HTCLIENT || hitTest == HTBORDER;
}

} // namespace

// ---------------------------------------------------------------------------------------
// CPrinterBar

BEGIN_MESSAGE_MAP(CPrinterBar, CDialogBar)
ON_WM_SIZE()
ON_WM_SETCURSOR()
ON_WM_MOUSEACTIVATE()
ON_WM_LBUTTONUP()
ON_WM_MOUSEMOVE()
ON_MESSAGE(WM_CAPTURECHANGED, OnCaptureChanged)
ON_NOTIFY(NM_DBLCLK, IDC_PRINTER_BAR_LIST, OnDblClkPrinterList)
END_MESSAGE_MAP()

CListCtrl *CPrinterBar::GetList() const {
    return static_cast<CListCtrl *>(GetDlgItem(IDC_PRINTER_BAR_LIST));
}

void CPrinterBar::InitBar() {
    SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, kBarUserData);
    if (CListCtrl *list = GetList()) {
        list->SetImageList(&ZqApp().m_largeImages, LVSIL_NORMAL);
        list->DeleteAllItems();
    }
    m_hSizeCursor = LoadCursor(nullptr, IDC_SIZENS);
}

CSize CPrinterBar::CalcDynamicLayout(int length, DWORD mode) {
    CRect inner;
    if (auto *frame = ZqApp().MainFrame())
        frame->GetInnerClientRect(&inner);
    if (mode & LM_HORZDOCK)
        return CSize(inner.right - inner.left, m_sizeDefault.cy + 3);
    if (mode & LM_VERTDOCK)
        return CSize(m_sizeDefault.cx, inner.bottom - inner.top + 3);
    return CDialogBar::CalcDynamicLayout(length, mode);
}

void CPrinterBar::OnSize(UINT, int, int) {
    // From the client rectangle: a size message may be posted without sizes to nudge the layout.
    CRect client;
    GetClientRect(&client);
    if (CListCtrl *list = GetList())
        list->MoveWindow(0, 0, client.Width(), client.Height());
}

bool CPrinterBar::NearTopEdge(int screenY) const {
    CRect rect;
    GetWindowRect(&rect);
    return screenY > rect.top - kEdgeZone && screenY < rect.top + kEdgeZone;
}

BOOL CPrinterBar::OnSetCursor(CWnd *, UINT, UINT) {
    POINT pt;
    GetCursorPos(&pt);
    if (m_resizing || NearTopEdge(pt.y)) {
        SetCursor(m_hSizeCursor);
        return TRUE;
    }
    return static_cast<BOOL>(Default());
}

int CPrinterBar::OnMouseActivate(CWnd *, UINT, UINT message) {
    POINT pt;
    GetCursorPos(&pt);
    if (IsLeftPress(message) && NearTopEdge(pt.y)) {
        m_resizing = TRUE;
        SetCapture();
        // The press is the drag's: the list below must not see it (its drag detection
        // would take the capture and end the drag at once).
        return MA_NOACTIVATEANDEAT;
    }
    m_resizing = FALSE;
    return static_cast<int>(Default());
}

void CPrinterBar::EndResize() {
    const bool captured = ::GetCapture() == m_hWnd;
    m_resizing = FALSE;
    if (captured)
        ReleaseCapture();
}

LRESULT CPrinterBar::OnCaptureChanged(WPARAM, LPARAM) {
    m_resizing = FALSE;
    return 0;
}

void CPrinterBar::OnLButtonUp(UINT, CPoint) {
    EndResize();
}

void CPrinterBar::OnMouseMove(UINT, CPoint) {
    if (!m_resizing)
        return;
    POINT pt;
    GetCursorPos(&pt);
    TrackTo(pt.y);
}

void CPrinterBar::TrackTo(int screenY) {
    if (!m_resizing)
        return;
    CRect rect;
    GetWindowRect(&rect);
    int height = rect.bottom - screenY;
    if (height < kMinHeight) {
        height = kFloorHeight;
        EndResize();
    }
    m_sizeDefault.cy = height;
    if (auto *frame = ZqApp().MainFrame())
        frame->RecalcLayout();
}

void CPrinterBar::OnDblClkPrinterList(NMHDR *, LRESULT *result) {
    ZqApp().OnShowResources();
    *result = 0;
}

// ---------------------------------------------------------------------------------------
// CMainFrame

BEGIN_MESSAGE_MAP(CMainFrame, CMDIFrameWnd)
ON_WM_CREATE()
ON_WM_SETCURSOR()
ON_WM_MOUSEACTIVATE()
ON_WM_LBUTTONUP()
END_MESSAGE_MAP()

CMainFrame::CMainFrame() : m_printerBar(new CPrinterBar) {}

CMainFrame::~CMainFrame() {
    delete m_printerBar;
}

BOOL CMainFrame::PreCreateWindow(CREATESTRUCTA &cs) {
    cs.cx = 640;
    cs.cy = 480;
    return CMDIFrameWnd::PreCreateWindow(cs);
}

int CMainFrame::OnCreate(LPCREATESTRUCT cs) {
    if (CMDIFrameWnd::OnCreate(cs) == -1)
        return -1;
    if (!m_printerBar->Create(this, IDD_PRINTER_BAR, kBarStyle, IDR_MAINFRAME))
        return -1;
    m_printerBar->EnableDocking(CBRS_ALIGN_BOTTOM);
    EnableDocking(CBRS_ALIGN_BOTTOM);
    DockControlBar(m_printerBar);
    m_printerBar->InitBar();

    static const UINT indicators[] = {ID_SEPARATOR, ID_INDICATOR_CAPS, ID_INDICATOR_NUM,
                                      ID_INDICATOR_SCRL};
    if (!m_wndToolBar.CreateEx(this, TBSTYLE_FLAT, WS_CHILD | WS_VISIBLE | CBRS_TOP,
                               CRect(0, 0, 0, 0), AFX_IDW_TOOLBAR) ||
        !m_wndToolBar.LoadToolBar(IDR_MAINFRAME))
        return -1;
    if (!m_wndStatusBar.Create(this, WS_CHILD | WS_VISIBLE | CBRS_BOTTOM, AFX_IDW_STATUS_BAR) ||
        !m_wndStatusBar.SetIndicators(indicators, 4))
        return -1;
    ShowControlBar(&m_wndToolBar, FALSE, FALSE);
    ShowControlBar(&m_wndStatusBar, FALSE, FALSE);
    return 0;
}

void CMainFrame::GetInnerClientRect(LPRECT rect) const {
    GetClientRect(rect);
    CRect bar;
    if (m_wndToolBar.GetSafeHwnd() && m_wndToolBar.IsWindowVisible()) {
        m_wndToolBar.GetWindowRect(&bar);
        rect->top += bar.Height();
    }
    if (m_wndStatusBar.GetSafeHwnd() && m_wndStatusBar.IsWindowVisible()) {
        m_wndStatusBar.GetWindowRect(&bar);
        rect->bottom -= bar.Height();
    }
    if (rect->bottom < rect->top)
        rect->bottom = rect->top;
}

BOOL CMainFrame::OnSetCursor(CWnd *wnd, UINT hitTest, UINT message) {
    if (m_printerBar->IsResizing()) {
        SetCursor(m_printerBar->m_hSizeCursor);
        return TRUE;
    }
    POINT pt;
    GetCursorPos(&pt);
    CRect bar;
    m_printerBar->GetWindowRect(&bar);
    if (IsInsideFrame(hitTest) && pt.y > bar.top - kEdgeZone && pt.y < bar.top + kEdgeZone) {
        SetCursor(m_printerBar->m_hSizeCursor);
        return TRUE;
    }
    (void)wnd;
    (void)message;
    return static_cast<BOOL>(Default());
}

int CMainFrame::OnMouseActivate(CWnd *, UINT hitTest, UINT message) {
    POINT pt;
    GetCursorPos(&pt);
    CRect bar;
    m_printerBar->GetWindowRect(&bar);
    if (IsLeftPress(message) && IsInsideFrame(hitTest) && pt.y > bar.top - kEdgeZone &&
        pt.y < bar.top + kEdgeZone) {
        m_printerBar->m_resizing = TRUE;
        m_printerBar->SetCapture();
        // The press is the drag's: a view below must not see it (a list's own tracking would
        // take the capture and end the drag at once).
        return MA_NOACTIVATEANDEAT;
    } else if (!IsLeftPress(message)) {
        m_printerBar->EndResize();
    }
    return static_cast<int>(Default());
}

void CMainFrame::OnLButtonUp(UINT, CPoint) {
    m_printerBar->EndResize();
    Default();
}

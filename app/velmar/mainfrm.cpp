// The main frame and the printer bar.
#include "mainfrm.h"

#include "framework_ids.h"
#include "resource_ids.h"
#include "zqapp.h"

namespace {

constexpr int kEdgeZone = 5;     // pixels above and below the bar's top edge
constexpr int kMinHeight = 20;   // a drag below this ends at kFloorHeight
constexpr int kFloorHeight = 21;
constexpr LONG_PTR kBarUserData = 22;

INT_PTR CALLBACK BarDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

}  // namespace

// ---------------------------------------------------------------------------------------
// CPrinterBar

BEGIN_MESSAGE_MAP(CPrinterBar, CWnd)
ON_WM_SIZE()
ON_WM_SETCURSOR()
ON_WM_MOUSEACTIVATE()
ON_WM_LBUTTONUP()
ON_WM_MOUSEMOVE()
ON_MESSAGE(WM_CAPTURECHANGED, OnCaptureChanged)
ON_NOTIFY(NM_DBLCLK, IDC_PRINTER_BAR_LIST, OnDblClkPrinterList)
END_MESSAGE_MAP()

BOOL CPrinterBar::Create(CWnd *parent, UINT id) {
    HWND bar = CreateDialogParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDD_PRINTER_BAR),
                                  parent->GetSafeHwnd(), BarDialogProc, 0);
    if (!bar)
        return FALSE;
    SetWindowLongPtrA(bar, GWLP_ID, static_cast<LONG_PTR>(id));
    if (!SubclassWindow(bar)) {
        ::DestroyWindow(bar);
        return FALSE;
    }
    CRect rect;
    GetWindowRect(&rect);
    m_sizeDefault = CSize(rect.right - rect.left, rect.bottom - rect.top);
    ModifyStyle(0, WS_VISIBLE | WS_CLIPCHILDREN);
    return TRUE;
}

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

CSize CPrinterBar::CalcDynamicLayout(int, DWORD) {
    CRect inner;
    if (auto *frame = ZqApp().MainFrame())
        frame->GetInnerClientRect(&inner);
    return CSize(inner.right - inner.left, m_sizeDefault.cy + 3);
}

void CPrinterBar::OnSize(UINT, int cx, int cy) {
    if (CListCtrl *list = GetList())
        list->MoveWindow(0, 0, cx, cy);
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
    if (message == WM_LBUTTONDOWN && NearTopEdge(pt.y)) {
        m_resizing = TRUE;
        SetCapture();
        return MA_NOACTIVATE;
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

void CPrinterBar::OnLButtonUp(UINT, CPoint) { EndResize(); }

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

BEGIN_MESSAGE_MAP(CMainFrame, CFrameWnd)
ON_WM_CREATE()
ON_WM_SIZE()
ON_WM_SETCURSOR()
ON_WM_MOUSEACTIVATE()
ON_WM_LBUTTONUP()
END_MESSAGE_MAP()

CMainFrame::CMainFrame() : m_printerBar(new CPrinterBar) {}

CMainFrame::~CMainFrame() { delete m_printerBar; }

BOOL CMainFrame::PreCreateWindow(CREATESTRUCTA &cs) {
    cs.cx = 640;
    cs.cy = 480;
    return CFrameWnd::PreCreateWindow(cs);
}

int CMainFrame::OnCreate(LPCREATESTRUCT) {
    if (Default() == -1)
        return -1;
    if (!m_printerBar->Create(this, IDR_MAINFRAME))
        return -1;
    m_printerBar->InitBar();
    RecalcLayout();
    return 0;
}

void CMainFrame::GetInnerClientRect(LPRECT rect) const {
    // The tool and status bars are hidden from the start, so nothing is taken off.
    GetClientRect(rect);
}

void CMainFrame::RecalcLayout() {
    if (!m_printerBar->GetSafeHwnd())
        return;
    CRect inner;
    GetInnerClientRect(&inner);
    const CSize size = m_printerBar->CalcDynamicLayout(-1, 0);
    int top = inner.bottom - size.cy;
    if (top < inner.top)
        top = inner.top;
    m_printerBar->MoveWindow(inner.left, top, size.cx, inner.bottom - top);
}

void CMainFrame::OnSize(UINT, int, int) { RecalcLayout(); }

BOOL CMainFrame::OnSetCursor(CWnd *wnd, UINT hitTest, UINT message) {
    if (m_printerBar->IsResizing()) {
        SetCursor(m_printerBar->m_hSizeCursor);
        return TRUE;
    }
    POINT pt;
    GetCursorPos(&pt);
    CRect bar;
    m_printerBar->GetWindowRect(&bar);
    if (hitTest == HTCLIENT && pt.y > bar.top - kEdgeZone && pt.y < bar.top + kEdgeZone) {
        SetCursor(m_printerBar->m_hSizeCursor);
        return TRUE;
    }
    (void)wnd;
    (void)message;
    return static_cast<BOOL>(Default());
}

int CMainFrame::OnMouseActivate(CWnd *, UINT, UINT message) {
    POINT pt;
    GetCursorPos(&pt);
    CRect bar;
    m_printerBar->GetWindowRect(&bar);
    if (message == WM_LBUTTONDOWN && pt.y > bar.top - kEdgeZone && pt.y < bar.top + kEdgeZone) {
        m_printerBar->m_resizing = TRUE;
        m_printerBar->SetCapture();
    } else if (message != WM_LBUTTONDOWN) {
        m_printerBar->EndResize();
    }
    return static_cast<int>(Default());
}

void CMainFrame::OnLButtonUp(UINT, CPoint) {
    m_printerBar->EndResize();
    Default();
}

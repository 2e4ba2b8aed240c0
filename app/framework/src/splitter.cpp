// CSplitterWnd: a static grid of panes with draggable dividers.
#include "internal.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CSplitterWnd, CWnd)

BEGIN_MESSAGE_MAP(CSplitterWnd, CWnd)
ON_WM_LBUTTONDOWN()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONUP()
ON_WM_SETCURSOR()
ON_WM_SIZE()
ON_MESSAGE(WM_CAPTURECHANGED, OnCaptureChanged)
END_MESSAGE_MAP()

BOOL CSplitterWnd::CreateStatic(CWnd *parent, int rows, int cols, DWORD style, UINT nID) {
    if (m_hWnd || !parent->GetSafeHwnd() || rows < 1 || cols < 1 || rows > 16 || cols > 16)
        return FALSE;
    rows_ = rows;
    cols_ = cols;
    widths_.assign(static_cast<size_t>(cols), 0);
    heights_.assign(static_cast<size_t>(rows), 0);
    CRect rect;
    parent->GetClientRect(&rect);
    return CreateEx(0, nullptr, nullptr, style | WS_CHILD | WS_CLIPCHILDREN, rect, parent, nID);
}

BOOL CSplitterWnd::CreateView(int row, int col, CRuntimeClass *viewClass, SIZE size,
                              CCreateContext *context) {
    if (!m_hWnd || row < 0 || row >= rows_ || col < 0 || col >= cols_ || !viewClass ||
        GetPane(row, col))
        return FALSE;
    CObject *object = viewClass->CreateObject();
    if (!object)
        return FALSE;
    if (!object->IsKindOf(RUNTIME_CLASS(CWnd))) {
        delete object;
        return FALSE;
    }
    widths_[static_cast<size_t>(col)] = std::max<int>(0, size.cx);
    heights_[static_cast<size_t>(row)] = std::max<int>(0, size.cy);
    auto *wnd = static_cast<CWnd *>(object);
    CRect rect(0, 0, size.cx, size.cy);
    UINT id = static_cast<UINT>(IdFromRowCol(row, col));
    afx::ForgetSelfDeleted();
    BOOL made;
    if (CView *view = DYNAMIC_DOWNCAST(CView, wnd))
        made = view->Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, rect, this, id, context);
    else
        made = wnd->Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, rect, this, id);
    if (!made) {
        if (!afx::WasSelfDeleted(wnd))
            delete wnd;
        return FALSE;
    }
    RecalcLayout();
    return TRUE;
}

CWnd *CSplitterWnd::GetPane(int row, int col) const {
    if (!m_hWnd || row < 0 || row >= rows_ || col < 0 || col >= cols_)
        return nullptr;
    return CWnd::FromHandlePermanent(::GetDlgItem(m_hWnd, IdFromRowCol(row, col)));
}

void CSplitterWnd::SetColumnInfo(int col, int ideal, int) {
    if (col >= 0 && col < cols_)
        widths_[static_cast<size_t>(col)] = std::max(0, ideal);
}

void CSplitterWnd::GetColumnInfo(int col, int &current, int &min) const {
    current = 0;
    min = 0;
    if (col < 0 || col >= cols_ || !m_hWnd)
        return;
    if (CWnd *pane = GetPane(0, col)) {
        CRect r;
        pane->GetWindowRect(&r);
        current = r.Width();
    } else {
        current = widths_[static_cast<size_t>(col)];
    }
}

// Positions of the cells along one axis: each but the last as wide as asked (clipped to
// the room left), the last taking the rest.
static std::vector<std::pair<int, int>> Cells(const std::vector<int> &sizes, int total, int gap) {
    std::vector<std::pair<int, int>> cells;
    int at = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
        int size = i + 1 == sizes.size() ? total - at : std::min(sizes[i], std::max(0, total - at));
        size = std::max(0, size);
        cells.emplace_back(at, size);
        at += size + gap;
        at = std::min(at, total);
    }
    return cells;
}

void CSplitterWnd::RecalcLayout() {
    if (!m_hWnd)
        return;
    CRect client;
    GetClientRect(&client);
    auto cols = Cells(widths_, client.Width(), kSplitterGap);
    auto rows = Cells(heights_, client.Height(), kSplitterGap);
    for (int r = 0; r < rows_; ++r)
        for (int c = 0; c < cols_; ++c)
            if (HWND pane = ::GetDlgItem(m_hWnd, IdFromRowCol(r, c)))
                ::MoveWindow(
                    pane, cols[static_cast<size_t>(c)].first, rows[static_cast<size_t>(r)].first,
                    cols[static_cast<size_t>(c)].second, rows[static_cast<size_t>(r)].second, TRUE);
}

int CSplitterWnd::DividerAt(CPoint point, bool &vertical) const {
    CRect client;
    GetClientRect(&client);
    auto cols = Cells(widths_, client.Width(), kSplitterGap);
    for (int c = 0; c + 1 < cols_; ++c) {
        int start = cols[static_cast<size_t>(c)].first + cols[static_cast<size_t>(c)].second;
        if (point.x >= start && point.x < start + kSplitterGap) {
            vertical = true;
            return c;
        }
    }
    auto rows = Cells(heights_, client.Height(), kSplitterGap);
    for (int r = 0; r + 1 < rows_; ++r) {
        int start = rows[static_cast<size_t>(r)].first + rows[static_cast<size_t>(r)].second;
        if (point.y >= start && point.y < start + kSplitterGap) {
            vertical = false;
            return r;
        }
    }
    return -1;
}

void CSplitterWnd::OnLButtonDown(UINT, CPoint point) {
    bool vertical = false;
    int at = DividerAt(point, vertical);
    if (at < 0)
        return;
    (vertical ? trackCol_ : trackRow_) = at;
    SetCapture();
}

void CSplitterWnd::OnMouseMove(UINT, CPoint point) {
    if (trackCol_ < 0 && trackRow_ < 0)
        return;
    CRect client;
    GetClientRect(&client);
    if (trackCol_ >= 0) {
        auto cols = Cells(widths_, client.Width(), kSplitterGap);
        int width = point.x - cols[static_cast<size_t>(trackCol_)].first;
        widths_[static_cast<size_t>(trackCol_)] = std::clamp(width, 0, std::max(0, client.Width()));
    } else {
        auto rows = Cells(heights_, client.Height(), kSplitterGap);
        int height = point.y - rows[static_cast<size_t>(trackRow_)].first;
        heights_[static_cast<size_t>(trackRow_)] =
            std::clamp(height, 0, std::max(0, client.Height()));
    }
    RecalcLayout();
}

void CSplitterWnd::OnLButtonUp(UINT flags, CPoint point) {
    if (trackCol_ < 0 && trackRow_ < 0)
        return;
    OnMouseMove(flags, point);
    trackCol_ = trackRow_ = -1;
    if (::GetCapture() == m_hWnd)
        ReleaseCapture();
}

LRESULT CSplitterWnd::OnCaptureChanged(WPARAM, LPARAM lParam) {
    // The capture was let go or taken by another window: a drag under way is over.
    if (reinterpret_cast<HWND>(lParam) != m_hWnd)
        trackCol_ = trackRow_ = -1;
    return 0;
}

BOOL CSplitterWnd::OnSetCursor(CWnd *wnd, UINT hitTest, UINT message) {
    POINT pt;
    GetCursorPos(&pt);
    ScreenToClient(&pt);
    bool vertical = false;
    if (hitTest == HTCLIENT && wnd == this &&
        (trackCol_ >= 0 || trackRow_ >= 0 || DividerAt(CPoint(pt), vertical) >= 0)) {
        if (trackCol_ >= 0)
            vertical = true;
        SetCursor(LoadCursor(nullptr, vertical ? IDC_SIZEWE : IDC_SIZENS));
        return TRUE;
    }
    (void)message;
    return static_cast<BOOL>(Default());
}

void CSplitterWnd::OnSize(UINT, int, int) {
    RecalcLayout();
}

BOOL CSplitterWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (CWnd::OnCommand(wParam, lParam))
        return TRUE;
    HWND parent = ::GetParent(m_hWnd);
    if (parent)
        ::SendMessageA(parent, WM_COMMAND, wParam, lParam);
    return parent != nullptr;
}

BOOL CSplitterWnd::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT *pResult) {
    if (CWnd::OnNotify(wParam, lParam, pResult))
        return TRUE;
    HWND parent = ::GetParent(m_hWnd);
    if (!parent)
        return FALSE;
    LRESULT result = ::SendMessageA(parent, WM_NOTIFY, wParam, lParam);
    if (pResult)
        *pResult = result;
    return TRUE;
}

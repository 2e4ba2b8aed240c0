// CDC and CClientDC.
#include "internal.h"

HDC CDC::GetSafeHdc() const {
    return afx::Opaque(this) ? m_hDC : nullptr;
}

BOOL CDC::TextOut(int x, int y, LPCSTR text, int length) {
    return ::TextOutA(m_hDC, x, y, text ? text : "", text ? length : 0);
}

int CDC::DrawText(LPCSTR text, int length, LPRECT rect, UINT format) {
    return ::DrawTextA(m_hDC, text ? text : "", text ? length : 0, rect, format);
}

CSize CDC::GetTextExtent(LPCSTR text, int length) const {
    SIZE size = {0, 0};
    if (text)
        ::GetTextExtentPoint32A(m_hDC, text, length, &size);
    return CSize(size);
}

BOOL CDC::GetTextMetrics(LPTEXTMETRICA metrics) const {
    return ::GetTextMetricsA(m_hDC, metrics);
}

void CDC::FillSolidRect(LPCRECT rect, COLORREF color) {
    COLORREF old = ::SetBkColor(m_hDC, color);
    ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, rect, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, old);
}

CClientDC::CClientDC(CWnd *wnd) : hwnd_(wnd->GetSafeHwnd()) {
    m_hDC = ::GetDC(hwnd_);
}

CClientDC::~CClientDC() {
    if (m_hDC)
        ::ReleaseDC(hwnd_, m_hDC);
}

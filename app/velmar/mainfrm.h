// The main frame and the printer bar docked along its bottom edge.
#pragma once

#include "framework.h"

class CPrinterBar : public CWnd {
public:
    CPrinterBar() = default;

    // Creates the bar from dialog template 130 as a child of `parent`.
    BOOL Create(CWnd *parent, UINT id);
    // User data 22, the large image list on list 1004 (emptied), the size cursor.
    virtual void InitBar();
    // Docked along the bottom: the inner client width of the frame, the bar height + 3.
    CSize CalcDynamicLayout(int length, DWORD mode);

    CListCtrl *GetList() const;
    // True while the bar's top edge is being dragged.
    BOOL IsResizing() const { return m_resizing; }
    // Ends a drag under way (release of the button or loss of the capture).
    void EndResize();
    // Follows the cursor at screen height `screenY` while a drag is under way.
    void TrackTo(int screenY);

    HCURSOR m_hSizeCursor = nullptr;
    BOOL m_resizing = FALSE;
    CSize m_sizeDefault;

protected:
    void OnSize(UINT type, int cx, int cy);
    BOOL OnSetCursor(CWnd *wnd, UINT hitTest, UINT message);
    int OnMouseActivate(CWnd *desktop, UINT hitTest, UINT message);
    void OnLButtonUp(UINT flags, CPoint point);
    void OnMouseMove(UINT flags, CPoint point);
    LRESULT OnCaptureChanged(WPARAM wParam, LPARAM lParam);
    void OnDblClkPrinterList(NMHDR *header, LRESULT *result);
    bool NearTopEdge(int screenY) const;
    DECLARE_MESSAGE_MAP()
};

class CMainFrame : public CFrameWnd {
public:
    CMainFrame();
    ~CMainFrame() override;

    BOOL PreCreateWindow(CREATESTRUCTA &cs) override;
    // The client rectangle less the visible tool and status bars.
    void GetInnerClientRect(LPRECT rect) const;
    // Places the printer bar along the bottom of the inner client area.
    void RecalcLayout();

    CPrinterBar *m_printerBar;

protected:
    int OnCreate(LPCREATESTRUCT cs);
    void OnSize(UINT type, int cx, int cy);
    BOOL OnSetCursor(CWnd *wnd, UINT hitTest, UINT message);
    int OnMouseActivate(CWnd *desktop, UINT hitTest, UINT message);
    void OnLButtonUp(UINT flags, CPoint point);
    DECLARE_MESSAGE_MAP()
};

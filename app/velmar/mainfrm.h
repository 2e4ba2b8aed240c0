// The main frame and the printer bar docked along its bottom edge.
#pragma once

#include "framework.h"

class CPrinterBar : public CDialogBar {
  public:
    CPrinterBar() = default;

    // User data 22, the large image list on list 1004 (emptied), the size cursor.
    virtual void InitBar();
    // Docked horizontally: the inner client width of the frame, the bar height + 3; docked
    // vertically: the bar width, the inner client height + 3.
    CSize CalcDynamicLayout(int length, DWORD mode) override;

    CListCtrl *GetList() const;
    // True while the bar's top edge is being dragged.
    BOOL IsResizing() const { return m_resizing; }
    // Ends a drag under way (release of the button or loss of the capture).
    void EndResize();
    // Follows the cursor at screen height `screenY` while a drag is under way.
    void TrackTo(int screenY);

    HCURSOR m_hSizeCursor = nullptr;
    BOOL m_resizing = FALSE;

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

class CMainFrame : public CMDIFrameWnd {
  public:
    CMainFrame();
    ~CMainFrame() override;

    BOOL PreCreateWindow(CREATESTRUCTA &cs) override;
    // The client rectangle less the visible tool and status bars.
    void GetInnerClientRect(LPRECT rect) const;

    CStatusBar m_wndStatusBar;
    CToolBar m_wndToolBar;
    CPrinterBar *m_printerBar;

  protected:
    // The printer bar docked at the bottom, the tool bar and status bar made and hidden.
    int OnCreate(LPCREATESTRUCT cs);
    BOOL OnSetCursor(CWnd *wnd, UINT hitTest, UINT message);
    int OnMouseActivate(CWnd *desktop, UINT hitTest, UINT message);
    void OnLButtonUp(UINT flags, CPoint point);
    DECLARE_MESSAGE_MAP()
};

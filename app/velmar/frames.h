// The project and printer windows: their documents, placeholder views, splitters and
// list-style commands, and the look-up of the active window's panes.
#pragma once

#include "framework.h"

// The splitter of both window kinds: a release ends a drag of the printer bar as well.
class CQuvSplit : public CSplitterWnd {
  public:
  protected:
    void OnLButtonUp(UINT flags, CPoint point);
    void OnMouseMove(UINT flags, CPoint point);
    DECLARE_MESSAGE_MAP()
};

// The project document. Until the project file is built it reads any existing file as an
// empty project and never writes one.
class CZqDoc : public CDocument {
    DECLARE_DYNCREATE(CZqDoc)
  public:
    BOOL OnSaveDocument(LPCSTR path) override;
};

// The printer window's document.
class CPrDoc : public CDocument {
    DECLARE_DYNCREATE(CPrDoc)
};

// Placeholder views of the panes.
class CLeftView : public CListView {
    DECLARE_DYNCREATE(CLeftView)
  public:
    void OnDraw(CDC *) override {}
};

class CZqView : public CListView {
    DECLARE_DYNCREATE(CZqView)
  public:
    void OnDraw(CDC *) override {}
};

class CPrLeftView : public CTreeView {
    DECLARE_DYNCREATE(CPrLeftView)
  public:
    void OnDraw(CDC *) override {}
    BOOL m_closing = FALSE; // the window is closing: selections are not followed
};

class CPrView : public CListView {
    DECLARE_DYNCREATE(CPrView)
  public:
    void OnDraw(CDC *) override {}
};

// The project window (user data 23): the file tree beside the file list. It counts itself
// in m_projectCount while it exists.
class CChildFrame : public CMDIChildWnd {
    DECLARE_DYNCREATE(CChildFrame)
  public:
    BOOL OnCreateClient(LPCREATESTRUCT cs, CCreateContext *context) override;
    CLeftView *GetLeftView() const;
    CZqView *GetRightPane() const;

    CQuvSplit m_wndSplitter;

  protected:
    void OnDestroy();
    void OnUpdateViewStyles(CCmdUI *cmdUI);
    void OnViewDetails();
    DECLARE_MESSAGE_MAP()

  private:
    bool counted_ = false;
};

// The printer window (user data 21): the storage tree beside the file list.
class CPrFrame : public CMDIChildWnd {
    DECLARE_DYNCREATE(CPrFrame)
  public:
    BOOL OnCreateClient(LPCREATESTRUCT cs, CCreateContext *context) override;
    CPrLeftView *GetTreeView() const;
    CPrView *GetListView() const;

    CQuvSplit m_wndSplitter;

  protected:
    void OnClose();
    void OnViewStyle(UINT id);
    void OnUpdateViewStyles(CCmdUI *cmdUI);
    DECLARE_MESSAGE_MAP()
};

// Panes of the main frame's active MDI child, or null when the active child is of the
// other kind (or there is none).
CLeftView *GetActiveProjectView();
CPrLeftView *GetActiveStorageTreeView();
CPrView *GetActiveStorageListView();

constexpr LONG_PTR kPrinterWindowData = 21;
constexpr LONG_PTR kProjectWindowData = 23;

// The project and printer windows: their documents and frames, the project window's
// placeholder views, splitters and list-style commands, and the look-up of the active
// window's panes. The printer window's views are in prviews.h.
#pragma once

#include "framework.h"
#include "prviews.h"

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
    // Fills this document's file list from the project file `path`; true when a row was
    // added.
    bool ReadProject(const char *path);
};

// The printer window's document.
class CPrDoc : public CDocument {
    DECLARE_DYNCREATE(CPrDoc)
};

// The project window's file list.
class CLeftView : public CListView {
    DECLARE_DYNCREATE(CLeftView)
  public:
    void OnDraw(CDC *) override {}
    // Adds a row for the file `path` (MAX_PATH characters; it receives the path used): the
    // new row's index, or -1 when none was added.
    int AddProjectFile(char *path);
    // Edits the name, ID, volume and folder of `row`; nonzero when the row was changed.
    int EditRow(int row);
    // Deletes every selected row and marks the document modified.
    void RemoveSelectedRows();
    // Builds the project's download stream and sends it (`send` 1) or saves it (0); true
    // only when it was sent.
    BOOL SendProject(int send);
};

class CZqView : public CListView {
    DECLARE_DYNCREATE(CZqView)
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
    // Set when the printer answered the window's device query; a window whose printer did
    // not answer is closed again by the command that opened it.
    BOOL m_answered = FALSE;

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

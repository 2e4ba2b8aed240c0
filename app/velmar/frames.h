// The project and printer windows: their documents and frames, the project window's
// placeholder views, splitters and list-style commands, and the look-up of the active
// window's panes. The printer window's views are in prviews.h.
#pragma once

#include "framework.h"
#include "prviews.h"

#include <string>
#include <vector>

// The splitter of both window kinds: a release ends a drag of the printer bar as well.
class CQuvSplit : public CSplitterWnd {
  public:
  protected:
    void OnLButtonUp(UINT flags, CPoint point);
    void OnMouseMove(UINT flags, CPoint point);
    DECLARE_MESSAGE_MAP()
};

class CLeftView;

// The project document: its rows live in its own window's file list, and are stored as a
// project file (.OPJ) by the framework's Save and Save As.
class CZqDoc : public CDocument {
    DECLARE_DYNCREATE(CZqDoc)
  public:
    BOOL OnNewDocument() override;
    // Storing: WriteProject; loading: nothing (projects open through ReadProject).
    void Serialize(CArchive &ar) override;
    // The project text of this document's file list, in one write; clears the modified flag.
    void WriteProject(CArchive &ar);
    // Fills this document's file list from the project file `path`; true when a row was
    // added.
    bool ReadProject(const char *path);
    // Without copy: the position just after `key` where it starts a line of `text`, or
    // null. With copy: the value there up to CR or LF (at most 259 characters) in a shared
    // buffer, "" without the key.
    static const char *FindValue(const char *text, const char *key, bool copy);
    // The file list among this document's views, or null.
    CLeftView *GetLeftView() const;

  protected:
    DECLARE_MESSAGE_MAP()
};

// The printer window's document.
class CPrDoc : public CDocument {
    DECLARE_DYNCREATE(CPrDoc)
};

class CBuffer;
class CZqView;

// The project window's file list: one row per file to download (columns name, ID, volume,
// folder; the kind as image; the source path, a heap copy, as item data).
class CLeftView : public CListView {
    DECLARE_DYNCREATE(CLeftView)
  public:
    ~CLeftView() override;
    BOOL PreCreateWindow(CREATESTRUCTA &cs) override;
    void OnInitialUpdate() override;
    void OnDraw(CDC *) override {}

    // Adds a row for the file `path` (MAX_PATH characters; it receives the path used): the
    // new row's index, or -1 when none was added.
    int AddProjectFile(char *path);
    // Edits the name, ID, volume and folder of `row`; nonzero when the row was changed.
    int EditRow(int row);
    // Deletes every selected row and marks the document modified.
    void RemoveSelectedRows();
    // 1 when no two rows of one ID family share an ID; else 0 after the message, with the
    // two rows selected.
    int CheckDuplicateIds();
    // One download stream per row at the head of `jobs`; `total` gets their lengths.
    void CollectJobItems(CPtrList &jobs, ULONGLONG &total);
    // Builds the project's download stream and sends it (`send` 1) or saves it (0); true
    // only when it was sent.
    BOOL SendProject(int send);
    // The font metrics package of the bitmapped fonts just built (their source paths).
    void BuildPcmPackage(const std::vector<std::string> &fonts);

    static std::string JoinWithUnderscore(const std::string &name, const std::string &id);
    static std::string SanitiseName(const std::string &name);

    // The row's kind (its image), or -1; its source path, or "".
    int RowKind(int row) const;
    const char *RowSource(int row) const;

    // The download item of a kind, made from its source path: one maker per kind 8 to 13
    // (CBMFont, CTTFont here; a kind without one has no item). A kind outside 8 to 13
    // takes the maker of 10. SetItemMaker returns the maker it replaced.
    using ItemMaker = CBuffer *(*)(const char *path);
    static ItemMaker SetItemMaker(int kind, ItemMaker maker);
    static CBuffer *MakeItem(int kind, const char *path);

    CFrameWnd *m_parentFrame = nullptr;

  protected:
    void OnItemChanged(NMHDR *nm, LRESULT *result);
    void OnDblClk(NMHDR *nm, LRESULT *result);
    void OnDeleteItem(NMHDR *nm, LRESULT *result);
    void OnDeleteAllItems(NMHDR *nm, LRESULT *result);
    void OnBeginDrag(NMHDR *nm, LRESULT *result);
    void OnDropFiles(HDROP drop);
    void OnMouseMove(UINT flags, CPoint point);
    void OnLButtonUp(UINT flags, CPoint point);
    void OnDestroy();
    LRESULT OnCaptureChanged(WPARAM wParam, LPARAM lParam);
    LRESULT OnKeyDown(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

  private:
    void EndRowDrag(bool drop);
    std::string RowText(int row, int column, std::size_t max) const;
};

// The property list of the project window: the rows of the file list's selected file.
class CZqView : public CListView {
    DECLARE_DYNCREATE(CZqView)
  public:
    void OnInitialUpdate() override;
    // Refills the property rows from the first selected row of m_fileList.
    void OnDraw(CDC *dc) override;
    CLeftView *m_fileList = nullptr;
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

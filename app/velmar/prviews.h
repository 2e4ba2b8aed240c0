// The printer window's views: the storage tree and the file list beside it.
#pragma once

#include "framework.h"

#include <string>

#include "printer.h"

class CResItem;

// The tree: the printer at the root (its data the borrowed CAPrinter, never freed), then
// one storage item per node below it, freed only when its node is deleted.
class CPrLeftView : public CTreeView {
    DECLARE_DYNCREATE(CPrLeftView)
  public:
    BOOL PreCreateWindow(CREATESTRUCTA &cs) override;
    void OnInitialUpdate() override;
    void OnDraw(CDC *) override {}

    // The item of `kind` (2 to 7) for a reply line; a directory's path joins parentPath.
    CResItem *CreateStorageItem(int kind, const char *line, const char *parentPath);
    static int ClassifyListingLine(const char *line);
    // The device nodes under the root; sets the frame's answered flag.
    void FillDeviceNodes(CAPrinter *printer);
    // Queries the node's children unless it has them, then redraws the list.
    void ExpandNode(HTREEITEM node);
    void DeleteChildNodes(HTREEITEM node);
    void DeleteAllNodes();
    // Redraws the list of the frame from the tree's selection.
    void RedrawList();

    CAPrinter *GetPrinter() const;
    // A query of this window is running: follow-ups arriving meanwhile are dropped.
    bool IsBusy() const { return m_busy; }
    void SetBusy(bool busy) { m_busy = busy; }

    HTREEITEM m_root = nullptr;
    BOOL m_refreshing = FALSE; // a refresh deletes nodes: selections are not followed
    BOOL m_closing = FALSE;    // the window is closing: selections are not followed

    // Posted by the list: select the child of the selected node whose data is wParam.
    static constexpr UINT kFollowRow = WM_APP + 0x124;

  protected:
    void OnSelChanged(NMHDR *header, LRESULT *result);
    void OnDeleteItem(NMHDR *header, LRESULT *result);
    void OnKeyUp(UINT nChar, UINT repeat, UINT flags);
    LRESULT OnFollowRow(WPARAM data, LPARAM);
    DECLARE_MESSAGE_MAP()

  private:
    HTREEITEM AppendNode(HTREEITEM parent, CResItem *item, int kind);
    bool m_busy = false;
};

// The list: the columns and rows of the tree's selected node.
class CPrView : public CListView {
    DECLARE_DYNCREATE(CPrView)
  public:
    void OnInitialUpdate() override;
    // Rebuilds the columns and rows; an empty list without a selected node.
    void OnDraw(CDC *dc) override;
    void SetSourceControl(CTreeCtrl *tree) { m_source = tree; }
    CTreeCtrl *m_source = nullptr;

  protected:
    void OnItemChanged(NMHDR *header, LRESULT *result);
    void OnKeyUp(UINT nChar, UINT repeat, UINT flags);
    // Deletes the selected file rows on the window's own printer, after confirmation.
    void DeleteSelectedFiles();
    CPrLeftView *TreeView() const;
    DECLARE_MESSAGE_MAP()
};

// The project window's file list until its download rows exist: a row holds its source
// path, and nothing is edited, built or sent.
#include "frames.h"

#include "helpers.h"

int CLeftView::AddProjectFile(char *path) {
    CListCtrl &list = GetListCtrl();
    const int row = list.InsertItem(list.GetItemCount(), path);
    if (row >= 0 && GetDocument())
        GetDocument()->SetModifiedFlag(TRUE);
    return row;
}

int CLeftView::EditRow(int) { return 0; }

void CLeftView::RemoveSelectedRows() {
    CListCtrl &list = GetListCtrl();
    bool removed = false;
    for (int row = list.GetNextItem(-1, LVNI_SELECTED); row >= 0;
         row = list.GetNextItem(-1, LVNI_SELECTED)) {
        if (!list.DeleteItem(row))
            break;
        removed = true;
    }
    if (removed && GetDocument())
        GetDocument()->SetModifiedFlag(TRUE);
}

BOOL CLeftView::SendProject(int) { return FALSE; }

bool CZqDoc::ReadProject(const char *path) { return path && FileExists(path); }

// The printer window's tree and list.
#include "prviews.h"

#include <cstring>
#include <vector>

#include "admin.h"
#include "frames.h"
#include "helpers.h"
#include "resitems.h"
#include "resource_ids.h"
#include "zqapp.h"

IMPLEMENT_DYNCREATE(CPrLeftView, CTreeView)
IMPLEMENT_DYNCREATE(CPrView, CListView)

namespace {

CPrFrame *FrameOf(const CWnd *view) {
    return DYNAMIC_DOWNCAST(CPrFrame, view->GetParentFrame());
}

// Both character sets of a tree's notifications.
const NMTREEVIEWA *TreeNotice(NMHDR *header) {
    return reinterpret_cast<const NMTREEVIEWA *>(header);
}

constexpr LPARAM kKeyUpFlags = static_cast<LPARAM>(0xC0000001u);

} // namespace

// ---------------------------------------------------------------------------------------
// CPrLeftView

BEGIN_MESSAGE_MAP(CPrLeftView, CTreeView)
ON_NOTIFY_REFLECT(TVN_SELCHANGEDA, OnSelChanged)
ON_NOTIFY_REFLECT(TVN_SELCHANGEDW, OnSelChanged)
ON_NOTIFY_REFLECT(TVN_DELETEITEMA, OnDeleteItem)
ON_NOTIFY_REFLECT(TVN_DELETEITEMW, OnDeleteItem)
ON_WM_KEYUP()
ON_MESSAGE(CPrLeftView::kFollowRow, OnFollowRow)
END_MESSAGE_MAP()

BOOL CPrLeftView::PreCreateWindow(CREATESTRUCTA &cs) {
    cs.style |= TVS_SHOWSELALWAYS;
    return CTreeView::PreCreateWindow(cs);
}

void CPrLeftView::OnInitialUpdate() {
    CTreeView::OnInitialUpdate();
    CTreeCtrl &tree = GetTreeCtrl();
    tree.SetImageList(&ZqApp().m_smallImages, TVSIL_NORMAL);
    ModifyStyle(0, TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_NOTOOLTIPS);
    CAPrinter *printer = ZqApp().GetCurrentPrinter();
    if (!printer) {
        if (CPrFrame *frame = FrameOf(this))
            frame->m_answered = FALSE;
        return;
    }
    m_root = tree.InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM,
                             printer->m_displayName, kNodePrinter, kNodePrinter, 0, 0,
                             reinterpret_cast<LPARAM>(printer), TVI_ROOT, TVI_LAST);
    FillDeviceNodes(printer);
    if (CDocument *doc = GetDocument())
        doc->SetTitle(
            (std::string(printer->m_displayName) + " - " + printer->m_displayAddress).c_str());
}

CAPrinter *CPrLeftView::GetPrinter() const {
    return m_root ? reinterpret_cast<CAPrinter *>(GetTreeCtrl().GetItemData(m_root)) : nullptr;
}

int CPrLeftView::ClassifyListingLine(const char *line) {
    return ::ClassifyListingLine(line ? line : "");
}

CResItem *CPrLeftView::CreateStorageItem(int kind, const char *line, const char *parentPath) {
    CResItem *item = nullptr;
    switch (kind) {
    case kNodeDisk:
        item = new CRISDDisk(line);
        break;
    case kNodeFlash:
        item = new CRISDFlash(line);
        break;
    case kNodePjlVolume:
    case kNodeCommonVolume:
        item = new CRIPDos(line);
        break;
    case kNodePostScriptVolume:
        item = new CRIPUnix(line);
        break;
    case kNodeDirectory:
        item = new CRIDir(line);
        item->SetPath(parentPath);
        break;
    default:
        return nullptr;
    }
    item->SetTree(&GetTreeCtrl());
    return item;
}

HTREEITEM CPrLeftView::AppendNode(HTREEITEM parent, CResItem *item, int kind) {
    const HTREEITEM node = GetTreeCtrl().InsertItem(
        TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM, item->m_name.c_str(), kind, kind,
        0, 0, reinterpret_cast<LPARAM>(item), parent, TVI_LAST);
    if (!node)
        delete item; // no node took it
    return node;
}

void CPrLeftView::FillDeviceNodes(CAPrinter *printer) {
    CPrFrame *frame = FrameOf(this);
    bool answered = false;
    if (printer && m_root) {
        m_busy = true;
        CTextList devices;
        if ((printer->m_attrState != 0 || printer->QueryAttributes() == 0) &&
            printer->CollectLockStatus(devices) == 0) {
            answered = true;
            for (const std::string &line : devices.Texts()) {
                const std::string name = DeviceNodeName(line);
                const int kind = DeviceNodeKind(name);
                if (CResItem *item = CreateStorageItem(kind, name.c_str(), ""))
                    AppendNode(m_root, item, kind);
            }
        }
        m_busy = false;
    }
    if (frame)
        frame->m_answered = answered ? TRUE : FALSE;
}

void CPrLeftView::OnSelChanged(NMHDR *header, LRESULT *result) {
    *result = 0;
    ExpandNode(TreeNotice(header)->itemNew.hItem);
}

void CPrLeftView::ExpandNode(HTREEITEM node) {
    if (m_refreshing || m_closing || m_busy)
        return;
    CTreeCtrl &tree = GetTreeCtrl();
    if (node && node != m_root) {
        auto *item = reinterpret_cast<CResItem *>(tree.GetItemData(node));
        TVITEMA record = {};
        record.mask = TVIF_HANDLE;
        record.hItem = node;
        if (item && !item->HasChildren(tree, record)) {
            CTextList fresh;
            m_busy = true;
            item->ListChildren(fresh);
            m_busy = false;
            if (m_closing || !::IsWindow(m_hWnd))
                return;
            CPtrList &lines = fresh.List();
            while (!lines.IsEmpty()) {
                char *line = static_cast<char *>(lines.RemoveHead());
                const int kind = ClassifyListingLine(line);
                if (kind > kNodeDirectory) {
                    item->m_childLines.AddTail(line);
                    continue;
                }
                if (CResItem *child = CreateStorageItem(kind, line, item->m_path.c_str()))
                    AppendNode(node, child, kind);
                DeleteListText(line);
            }
        }
    }
    CPrFrame *frame = FrameOf(this);
    if (frame && frame->m_answered)
        RedrawList();
}

void CPrLeftView::RedrawList() {
    CPrFrame *frame = FrameOf(this);
    CPrView *list = frame ? frame->GetListView() : nullptr;
    if (!list)
        return;
    list->SetSourceControl(&GetTreeCtrl());
    CClientDC dc(this);
    list->OnDraw(&dc);
}

void CPrLeftView::OnDeleteItem(NMHDR *header, LRESULT *result) {
    *result = 0;
    const NMTREEVIEWA *notice = TreeNotice(header);
    if (notice->itemOld.hItem == m_root) {
        m_root = nullptr; // the printer is borrowed
        return;
    }
    delete reinterpret_cast<CResItem *>(notice->itemOld.lParam);
}

void CPrLeftView::DeleteChildNodes(HTREEITEM node) {
    CTreeCtrl &tree = GetTreeCtrl();
    for (HTREEITEM child = tree.GetChildItem(node); child; child = tree.GetChildItem(node))
        if (!tree.DeleteItem(child))
            break;
}

void CPrLeftView::DeleteAllNodes() {
    if (m_root)
        DeleteChildNodes(m_root);
}

void CPrLeftView::OnKeyUp(UINT nChar, UINT repeat, UINT flags) {
    CTreeCtrl &tree = GetTreeCtrl();
    const HTREEITEM node =
        nChar == VK_F5 && !m_busy && !m_closing ? tree.GetSelectedItem() : nullptr;
    if (node) {
        m_refreshing = TRUE;
        DeleteChildNodes(node);
        m_refreshing = FALSE;
        if (node == m_root) {
            FillDeviceNodes(GetPrinter());
        } else {
            int image = 0;
            int selectedImage = 0;
            tree.GetItemImage(node, image, selectedImage);
            if (image >= kNodePjlVolume && image <= kNodeDirectory)
                if (auto *item = reinterpret_cast<CResItem *>(tree.GetItemData(node)))
                    item->FreeChildLines();
            ExpandNode(node);
        }
        // No row may keep an item the refresh freed.
        if (::IsWindow(m_hWnd) && !m_closing)
            RedrawList();
    }
    CTreeView::OnKeyUp(nChar, repeat, flags);
}

LRESULT CPrLeftView::OnFollowRow(WPARAM data, LPARAM) {
    if (m_busy || m_closing || m_refreshing)
        return 0;
    CTreeCtrl &tree = GetTreeCtrl();
    const HTREEITEM selected = tree.GetSelectedItem();
    if (!selected)
        return 0;
    tree.Expand(selected, TVE_EXPAND);
    for (HTREEITEM child = tree.GetChildItem(selected); child;
         child = tree.GetNextSiblingItem(child)) {
        if (tree.GetItemData(child) == static_cast<DWORD_PTR>(data)) {
            tree.SelectItem(child);
            SetFocus();
            break;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// CPrView

BEGIN_MESSAGE_MAP(CPrView, CListView)
ON_NOTIFY_REFLECT(LVN_ITEMCHANGED, OnItemChanged)
ON_WM_KEYUP()
END_MESSAGE_MAP()

void CPrView::OnInitialUpdate() {
    CListView::OnInitialUpdate();
    GetListCtrl().SetImageList(&ZqApp().m_largeImages, LVSIL_NORMAL);
}

void CPrView::OnDraw(CDC *) {
    CListCtrl &list = GetListCtrl();
    list.DeleteAllItems();
    while (list.DeleteColumn(0)) {
    }
    CTreeCtrl *tree = m_source;
    const HTREEITEM selected = tree && tree->GetSafeHwnd() ? tree->GetSelectedItem() : nullptr;
    if (!selected)
        return;
    if (tree->GetParentItem(selected)) {
        if (auto *item = reinterpret_cast<CResItem *>(tree->GetItemData(selected))) {
            item->InsertColumns(list);
            item->FillListView(list, *tree);
        }
        return;
    }
    char heading[260];
    list.InsertColumn(0, LoadResString(IDS_COL_NAME, heading), LVCFMT_LEFT, 300, 0);
    for (HTREEITEM child = tree->GetChildItem(selected); child;
         child = tree->GetNextSiblingItem(child)) {
        int image = 0;
        int selectedImage = 0;
        tree->GetItemImage(child, image, selectedImage);
        list.InsertItem(LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM, list.GetItemCount(),
                        tree->GetItemText(child), 0, 0, image,
                        static_cast<LPARAM>(tree->GetItemData(child)));
    }
}

CPrLeftView *CPrView::TreeView() const {
    CPrFrame *frame = FrameOf(this);
    return frame ? frame->GetTreeView() : nullptr;
}

void CPrView::OnItemChanged(NMHDR *header, LRESULT *result) {
    *result = 0;
    const auto *notice = reinterpret_cast<const NMLISTVIEW *>(header);
    // Only a row that becomes selected is followed.
    if (!(notice->uChanged & LVIF_STATE) || !(notice->uNewState & LVIS_SELECTED) ||
        (notice->uOldState & LVIS_SELECTED))
        return;
    CListCtrl &list = GetListCtrl();
    for (int row = list.GetNextItem(-1, LVNI_SELECTED); row >= 0;
         row = list.GetNextItem(row, LVNI_SELECTED)) {
        LVITEMA it = {};
        it.mask = LVIF_IMAGE | LVIF_PARAM;
        it.iItem = row;
        if (!list.GetItem(&it) || it.iImage == kNodeFile)
            continue;
        // Posted: selecting the node rebuilds this list, which is inside its own notice.
        if (CPrLeftView *tree = TreeView())
            tree->PostMessage(CPrLeftView::kFollowRow, static_cast<WPARAM>(it.lParam), 0);
        return;
    }
}

void CPrView::OnKeyUp(UINT nChar, UINT repeat, UINT flags) {
    if (nChar == VK_DELETE)
        DeleteSelectedFiles();
    CListView::OnKeyUp(nChar, repeat, flags);
}

void CPrView::DeleteSelectedFiles() {
    CPrLeftView *treeView = TreeView();
    CTreeCtrl *tree = m_source;
    if (!treeView || treeView->IsBusy() || !tree || !tree->GetSafeHwnd())
        return;
    const HTREEITEM selected = tree->GetSelectedItem();
    if (!selected || !tree->GetParentItem(selected))
        return; // nothing, or only the printer, selected
    auto *item = reinterpret_cast<CResItem *>(tree->GetItemData(selected));
    CListCtrl &list = GetListCtrl();
    if (!item || list.GetSelectedCount() == 0 || !RequireAdminPassword())
        return;
    // No follow-up of this window runs while its boxes and deletes do.
    struct Busy {
        CPrLeftView *view;
        explicit Busy(CPrLeftView *v) : view(v) { view->SetBusy(true); }
        ~Busy() { view->SetBusy(false); }
    } busy(treeView);

    struct Pending {
        void *line; // the child line, still in the item
        std::string name;
    };
    std::vector<Pending> pending;
    char prompt[260];
    LoadResString(IDS_CONFIRM_DELETE_FILE, prompt);
    for (int row = list.GetNextItem(-1, LVNI_SELECTED); row >= 0;
         row = list.GetNextItem(row, LVNI_SELECTED)) {
        LVITEMA it = {};
        it.mask = LVIF_IMAGE;
        it.iItem = row;
        if (!list.GetItem(&it) || it.iImage <= kNodeDirectory)
            continue;
        const std::string text = static_cast<const char *>(list.GetItemText(row, 0));
        // Joined, never a format: names may hold '%'.
        if (AfxMessageBox((std::string(prompt) + text).c_str(), MB_YESNO | MB_ICONQUESTION) !=
            IDYES)
            continue;
        for (POSITION pos = item->m_childLines.GetHeadPosition(); pos;) {
            void *line = item->m_childLines.GetNext(pos);
            if (EntryName(static_cast<const char *>(line)) == text) {
                pending.push_back({line, JoinStoragePath(item->m_path, text)});
                break;
            }
        }
    }
    if (pending.empty())
        return;
    // The rows are the window's printer's: the delete goes there, whatever the bar selects.
    CAPrinter *printer = item->GetPrinter();
    if (!printer)
        return;
    bool sent = false;
    {
        CDelFile dialog;
        for (const Pending &p : pending) {
            if (!dialog.DeleteFileOnPrinter(printer, p.name.c_str(), FALSE))
                continue;
            sent = true;
            if (POSITION at = item->m_childLines.Find(p.line)) {
                item->m_childLines.RemoveAt(at);
                DeleteListText(p.line);
            }
        }
    }
    if (sent)
        treeView->PostMessage(WM_KEYUP, VK_F5, kKeyUpFlags);
}

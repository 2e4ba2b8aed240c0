// The storage items.
#include "resitems.h"

#include <cstring>

#include "helpers.h"
#include "resource_ids.h"

namespace {

std::string Text(UINT id) {
    char text[260];
    return LoadResString(id, text);
}

void AddColumn(CListCtrl &list, int col, UINT id, int width, int format) {
    const std::string heading = Text(id);
    list.InsertColumn(col, heading.c_str(), format, width, col);
}

void AppendLines(CPtrList &list, const std::vector<std::string> &lines) {
    for (const std::string &line : lines)
        list.AddTail(NewListText(line.c_str(), line.size()));
}

} // namespace

// ---------------------------------------------------------------------------------------
// CResItem

CResItem::CResItem(const char *line) : m_name(NodeNameOf(line ? line : "")) {
    ++s_live;
}

CResItem::~CResItem() {
    FreeChildLines();
    --s_live;
}

void CResItem::FreeChildLines() {
    while (!m_childLines.IsEmpty())
        DeleteListText(m_childLines.RemoveHead());
}

void CResItem::SetPath(const char *parentPath) {
    m_path = JoinStoragePath(parentPath ? parentPath : "", m_name);
}

CAPrinter *CResItem::GetPrinter() const {
    if (!m_tree || !m_tree->GetSafeHwnd())
        return nullptr;
    const HTREEITEM root = m_tree->GetRootItem();
    return root ? reinterpret_cast<CAPrinter *>(m_tree->GetItemData(root)) : nullptr;
}

BOOL CResItem::HasChildren(CTreeCtrl &tree, TVITEMA &item) {
    return item.hItem && tree.GetChildItem(item.hItem) != nullptr;
}

void CResItem::InsertNodeRows(CListCtrl &list, CTreeCtrl &tree) {
    const HTREEITEM selected = tree.GetSelectedItem();
    if (!selected)
        return;
    for (HTREEITEM child = tree.GetChildItem(selected); child;
         child = tree.GetNextSiblingItem(child)) {
        const CString text = tree.GetItemText(child);
        int image = 0;
        int selectedImage = 0;
        tree.GetItemImage(child, image, selectedImage);
        list.InsertItem(LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM, list.GetItemCount(), text, 0, 0, image,
                        static_cast<LPARAM>(tree.GetItemData(child)));
    }
}

void CResItem::InsertLineRows(CListCtrl &list) {
    const std::string unknown = Text(IDS_UNKNOWN);
    for (POSITION pos = m_childLines.GetHeadPosition(); pos;) {
        const char *line = static_cast<const char *>(m_childLines.GetNext(pos));
        const std::string name = EntryName(line);
        const int row = list.InsertItem(LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM, list.GetItemCount(),
                                        name.c_str(), 0, 0, kNodeFile, 0);
        if (const std::optional<std::string> size = EntrySize(line, unknown))
            list.SetItemText(row, 1, size->c_str());
    }
}

// ---------------------------------------------------------------------------------------
// Devices

void CRIStoreDev::InsertColumns(CListCtrl &list) {
    AddColumn(list, 0, IDS_COL_NAME, 100, LVCFMT_LEFT);
    AddColumn(list, 1, IDS_COL_SIZE, 100, LVCFMT_RIGHT);
    AddColumn(list, 2, IDS_COL_FREE_SPACE, 100, LVCFMT_RIGHT);
    AddColumn(list, 3, IDS_COL_LOCATION, 100, LVCFMT_LEFT);
    AddColumn(list, 4, IDS_COL_LABEL, 100, LVCFMT_LEFT);
    AddColumn(list, 5, IDS_COL_STATUS, 100, LVCFMT_LEFT);
}

void CRIStoreDev::FillListView(CListCtrl &list, CTreeCtrl &tree) {
    const HTREEITEM selected = tree.GetSelectedItem();
    if (!selected)
        return;
    for (HTREEITEM child = tree.GetChildItem(selected); child;
         child = tree.GetNextSiblingItem(child)) {
        auto *item = reinterpret_cast<CResItem *>(tree.GetItemData(child));
        const CString text = tree.GetItemText(child);
        int image = 0;
        int selectedImage = 0;
        tree.GetItemImage(child, image, selectedImage);
        const int row = list.InsertItem(LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM, list.GetItemCount(),
                                        text, 0, 0, image, reinterpret_cast<LPARAM>(item));
        // Only volumes have size fields.
        auto *volume = dynamic_cast<CRIPartition *>(item);
        if (!volume || row < 0)
            continue;
        list.SetItemText(row, 1, NormaliseNumber(volume->m_size.c_str()).c_str());
        list.SetItemText(row, 2, NormaliseNumber(volume->m_freeSpace.c_str()).c_str());
        list.SetItemText(row, 3, volume->m_location.c_str());
        list.SetItemText(row, 4, volume->m_label.c_str());
        list.SetItemText(row, 5, volume->m_status.c_str());
    }
}

int CRISDDisk::ListChildren(CPtrList &list) {
    CAPrinter *printer = GetPrinter();
    if (!printer)
        return 0;
    CTextList volumes;
    if (printer->QueryFileSystems(volumes) != 0)
        return 1;
    AppendLines(list, DiskVolumeLines(volumes.Texts(), printer->m_attr[kAttrPsMenu]));
    return 1;
}

CRISDFlash::CRISDFlash(const char *line)
    : CRIStoreDev(line), m_deviceNumber(FlashDeviceNumber(line ? line : "")) {}

int CRISDFlash::ListChildren(CPtrList &list) {
    CAPrinter *printer = GetPrinter();
    if (!printer)
        return 0;
    CTextList volumes;
    if (printer->QueryFileSystems(volumes) != 0)
        return 1;
    AppendLines(list, FlashVolumeLines(volumes.Texts(), m_name, m_deviceNumber));
    return 1;
}

// ---------------------------------------------------------------------------------------
// Volumes

CRIPartition::CRIPartition(const char *line) : CResItem(line) {
    VolumeFields fields = ParseVolumeLine(line ? line : "");
    m_path = fields.volume;
    m_name = Text(IDS_VOLUME_PREFIX) + fields.volume;
    m_size = std::move(fields.size);
    m_freeSpace = std::move(fields.freeSpace);
    m_location = std::move(fields.location);
    m_label = std::move(fields.label);
    m_status = std::move(fields.status);
}

void CRIPartition::InsertColumns(CListCtrl &list) {
    AddColumn(list, 0, IDS_COL_NAME, 200, LVCFMT_LEFT);
    AddColumn(list, 1, IDS_COL_SIZE, 200, LVCFMT_RIGHT);
}

void CRIPartition::FillListView(CListCtrl &list, CTreeCtrl &tree) {
    InsertNodeRows(list, tree);
    InsertLineRows(list);
}

BOOL CRIPartition::HasChildren(CTreeCtrl &tree, TVITEMA &item) {
    return CResItem::HasChildren(tree, item) || !m_childLines.IsEmpty();
}

int CRIPDos::ListChildren(CPtrList &list) {
    CAPrinter *printer = GetPrinter();
    if (!printer)
        return 0;
    return printer->ListDirectory((m_path + "\\").c_str(), list);
}

int CRIPUnix::ListChildren(CPtrList &list) {
    CAPrinter *printer = GetPrinter();
    if (!printer || !printer->SupportsPostScript())
        return 0;
    return printer->ListPostScriptFiles(PostScriptListPrefix(m_path).c_str(), list);
}

// ---------------------------------------------------------------------------------------
// Directories

int CRIDir::ListChildren(CPtrList &list) {
    CAPrinter *printer = GetPrinter();
    if (!printer)
        return 0;
    if (!IsPostScriptPath(m_path))
        return printer->ListDirectory(m_path.c_str(), list);
    return printer->ListPostScriptFiles(PostScriptListPrefix(m_path).c_str(), list);
}

void CRIDir::InsertColumns(CListCtrl &list) {
    AddColumn(list, 0, IDS_COL_NAME, 240, LVCFMT_LEFT);
    AddColumn(list, 1, IDS_COL_SIZE, 120, LVCFMT_RIGHT);
}

void CRIDir::FillListView(CListCtrl &list, CTreeCtrl &tree) {
    InsertNodeRows(list, tree);
    InsertLineRows(list);
}

BOOL CRIDir::HasChildren(CTreeCtrl &tree, TVITEMA &item) {
    return CResItem::HasChildren(tree, item) || !m_childLines.IsEmpty();
}

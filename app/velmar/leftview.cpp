// The project window's file list and property list: adding, editing and removing rows,
// drops from the shell, row drags between project windows, and the project's download
// stream built, sent or saved.
#include "frames.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "buffer.h"
#include "dialogs.h"
#include "fontfiles.h"
#include "helpers.h"
#include "macrofile.h"
#include "mainfrm.h"
#include "pcmfile.h"
#include "project.h"
#include "psfiles.h"
#include "resource_ids.h"
#include "text.h"
#include "truetype.h"
#include "zqapp.h"

IMPLEMENT_DYNCREATE(CLeftView, CListView)
IMPLEMENT_DYNCREATE(CZqView, CListView)

namespace {

std::string StringOf(UINT id) {
    char text[260];
    return LoadResString(id, text);
}

// String `id` as a format with one text argument.
std::string Formatted(UINT id, const std::string &arg) {
    const std::string format = StringOf(id);
    std::vector<char> text(format.size() + arg.size() + 1);
    std::snprintf(text.data(), text.size(), format.c_str(), arg.c_str());
    return text.data();
}

void ShowFailed() {
    AfxMessageBox(StringOf(IDS_OPERATION_FAILED).c_str(), MB_OK | MB_ICONSTOP);
}

CBuffer *MakeBitmapFont(const char *path) {
    return new CBMFont(path);
}
CBuffer *MakeTrueTypeFont(const char *path) {
    return new CTTFont(path);
}

CBuffer *MakeMacro(const char *path) {
    return new CMacro(path);
}
CBuffer *MakePostScriptFont(const char *path) {
    return new CPSFont(path);
}
CBuffer *MakePostScriptForm(const char *path) {
    return new CPSForm(path);
}
CBuffer *MakeColourProfile(const char *path) {
    return new CICMFile(path);
}

CLeftView::ItemMaker g_makers[6] = {MakeBitmapFont,     MakeTrueTypeFont,   MakeMacro,
                                    MakePostScriptFont, MakePostScriptForm, MakeColourProfile};

int MakerIndex(int kind) {
    return kind >= kItemBitmapFont && kind <= kItemColourProfile ? kind - kItemBitmapFont
                                                                 : kItemMacro - kItemBitmapFont;
}

// A PCL print file cut into macro pieces by the print-file filter, the first written to
// `bin`; false when the pieces were not written.
bool SplitPrintFile(const char *prn, const std::string &bin) {
    CMacroFile filter(prn);
    return filter.SplitMacroFile(bin.c_str()) != 0 && filter.FirstPieceWritten();
}

// The one row drag of the application: copies of the dragged rows' source paths.
struct RowDrag {
    CLeftView *source = nullptr; // set while a drag is under way
    std::vector<std::string> paths;
    std::unique_ptr<CImageList> image;
};
RowDrag g_drag;

// The drag image's position: window coordinates of the main frame.
CPoint DragPoint(CWnd *lock) {
    POINT cursor;
    GetCursorPos(&cursor);
    RECT window;
    ::GetWindowRect(lock->m_hWnd, &window);
    return CPoint(cursor.x - window.left, cursor.y - window.top);
}

CWnd *DragLock() {
    return AfxGetMainWnd() && AfxGetMainWnd()->GetSafeHwnd() ? AfxGetMainWnd() : nullptr;
}

// The project list at a screen point: the window there or one of its parents.
CLeftView *ProjectListAt(POINT point) {
    for (HWND h = WindowFromPoint(point); h; h = GetParent(h))
        if (auto *view = DYNAMIC_DOWNCAST(CLeftView, CWnd::FromHandlePermanent(h)))
            return view;
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------
// The file list

BEGIN_MESSAGE_MAP(CLeftView, CListView)
ON_NOTIFY_REFLECT(LVN_ITEMCHANGED, OnItemChanged)
ON_NOTIFY_REFLECT(NM_DBLCLK, OnDblClk)
ON_NOTIFY_REFLECT(LVN_DELETEITEM, OnDeleteItem)
ON_NOTIFY_REFLECT(LVN_DELETEALLITEMS, OnDeleteAllItems)
ON_NOTIFY_REFLECT(LVN_BEGINDRAG, OnBeginDrag)
ON_WM_DROPFILES()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONUP()
ON_WM_DESTROY()
ON_MESSAGE(WM_CAPTURECHANGED, OnCaptureChanged)
ON_MESSAGE(WM_KEYDOWN, OnKeyDown)
END_MESSAGE_MAP()

CLeftView::~CLeftView() {
    if (g_drag.source == this)
        g_drag = RowDrag{};
}

BOOL CLeftView::PreCreateWindow(CREATESTRUCTA &cs) {
    cs.style |= LVS_SHOWSELALWAYS;
    return CListView::PreCreateWindow(cs);
}

void CLeftView::OnInitialUpdate() {
    CListView::OnInitialUpdate();
    CListCtrl &list = GetListCtrl();
    list.SetImageList(&ZqApp().m_smallImages, LVSIL_SMALL);
    ModifyStyle(LVS_TYPEMASK | LVS_ALIGNMASK, LVS_REPORT | LVS_ALIGNLEFT);
    const struct {
        UINT heading;
        int width;
    } columns[] = {{IDS_COL_COMPONENT, 190},
                   {IDS_COL_ID, 60},
                   {IDS_COL_TARGET_VOLUME, 30},
                   {IDS_COL_TARGET_PATH, 300}};
    for (int i = 0; i < 4; ++i)
        list.InsertColumn(i, StringOf(columns[i].heading).c_str(), LVCFMT_LEFT, columns[i].width);
    DragAcceptFiles(TRUE);
    m_parentFrame = GetParentFrame();
}

std::string CLeftView::JoinWithUnderscore(const std::string &name, const std::string &id) {
    return ::JoinWithUnderscore(name, id);
}

std::string CLeftView::SanitiseName(const std::string &name) {
    return ::SanitiseName(name);
}

CLeftView::ItemMaker CLeftView::SetItemMaker(int kind, ItemMaker maker) {
    ItemMaker &slot = g_makers[MakerIndex(kind)];
    const ItemMaker old = slot;
    slot = maker;
    return old;
}

CBuffer *CLeftView::MakeItem(int kind, const char *path) {
    const ItemMaker maker = g_makers[MakerIndex(kind)];
    return maker ? maker(path) : nullptr;
}

int CLeftView::RowKind(int row) const {
    LVITEMA item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    return GetListCtrl().GetItem(&item) ? item.iImage : -1;
}

const char *CLeftView::RowSource(int row) const {
    const auto *path = reinterpret_cast<const char *>(GetListCtrl().GetItemData(row));
    return path ? path : "";
}

std::string CLeftView::RowText(int row, int column, std::size_t max) const {
    std::vector<char> text(max + 1);
    GetListCtrl().GetItemText(row, column, text.data(), static_cast<int>(text.size()));
    return text.data();
}

int CLeftView::AddProjectFile(char *path) {
    if (!path)
        return -1;
    CListCtrl &list = GetListCtrl();
    const std::string given = path;
    if (given.size() > kMaxRowText) {
        // No row could keep it: a project file would read it as another path.
        AfxMessageBox((StringOf(IDS_CANNOT_OPEN_FILE) + given).c_str(), MB_OK | MB_SETFOREGROUND);
        return -1;
    }
    const bool postScript = IsPostScriptFile(path);
    const std::string ext = ExtensionOf(given);
    const std::string used = ConvertedProjectPath(given, postScript);

    for (int row = 0; row < list.GetItemCount(); ++row)
        if (_stricmp(RowSource(row), used.c_str()) == 0) {
            AfxMessageBox(Formatted(IDS_DUPLICATE_FILE, used).c_str(), MB_OK);
            return -1;
        }

    if (ext == "PRN") {
        // The print file becomes a form (.HST) or macro pieces (.BIN) beside it; a row is
        // added only for a file that is there afterwards.
        const bool exists = FileExists(used.c_str());
        const bool write = !exists || ConfirmOverwrite(used.c_str());
        if (postScript && write) {
            CBuffer prn(path);
            if (prn.IsEmpty() || !WriteWholeFile(used.c_str(), prn.m_data, prn.m_length)) {
                ShowFailed();
                return -1;
            }
            MessageBox((StringOf(IDS_FILTER_FILE_CREATED) + used).c_str(),
                       StringOf(IDS_INFORMATION).c_str(), MB_OK | MB_ICONINFORMATION);
        } else if (write && !SplitPrintFile(path, used)) {
            ShowFailed();
            return -1;
        }
        if (!FileExists(used.c_str())) {
            ShowFailed();
            return -1;
        }
    }
    CopyStringN(path, used.c_str(), MAX_PATH - 1);

    CBuffer file(used.c_str()); // a missing file shows its message; the row is still added
    std::string name = GetPathLeaf(used);
    std::string profileText;
    const ProjectTarget target = TargetForExtension(ExtensionOf(used));
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(file.m_data);
    const std::size_t size = file.IsEmpty() ? 0 : file.m_length;
    auto usable = [](const std::string &n) {
        return n.find_first_not_of(' ') != std::string::npos;
    };
    switch (target.kind) {
    case kItemBitmapFont: {
        char fontName[17];
        if (CBMFont::GetFontName(file, fontName) && usable(fontName))
            name = fontName;
        break;
    }
    case kItemTrueTypeFont: {
        const std::string full = GetTrueTypeName(FindTrueTypeTable("name", bytes, size), 4);
        if (usable(full))
            name = full;
        break;
    }
    case kItemPostScriptFont: {
        const std::string font = PostScriptFontName(bytes, size);
        if (!font.empty())
            name = font;
        break;
    }
    case kItemColourProfile: {
        const std::string companion = used.substr(0, used.size() - 4) + ".op2";
        DWORD count = 0;
        const std::vector<char> op2 = ReadWholeFile(companion.c_str(), &count);
        profileText = count ? ColourProfileText(std::string(op2.data(), count)) : std::string();
        name = profileText.empty() ? StringOf(IDS_MISSING_FILE_NAME) : profileText;
        break;
    }
    default:
        break;
    }
    const NameAndId row =
        RowNameAndId(target.kind, ::SanitiseName(name), list.GetItemCount(), profileText);

    auto *source = new char[used.size() + 1];
    std::memcpy(source, used.c_str(), used.size() + 1);
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = list.GetItemCount();
    item.pszText = const_cast<char *>(row.name.c_str());
    item.iImage = target.kind;
    item.lParam = reinterpret_cast<LPARAM>(source);
    const int index = list.InsertItem(&item);
    if (index < 0) {
        delete[] source;
        return -1;
    }
    list.SetItemText(index, 1, row.id.c_str());
    list.SetItemText(index, 2, target.volume);
    list.SetItemText(index, 3, target.folder);
    if (GetDocument())
        GetDocument()->SetModifiedFlag(TRUE);
    return index;
}

int CLeftView::EditRow(int row) {
    CListCtrl &list = GetListCtrl();
    if (row < 0 || row >= list.GetItemCount())
        return 0;
    const int kind = RowKind(row);
    CEditNameAndId dialog(this);
    dialog.m_nameLocked = kind == kItemBitmapFont || kind == kItemTrueTypeFont ||
                          kind == kItemPostScriptFont || kind == kItemColourProfile;
    dialog.m_idLocked =
        kind == kItemPostScriptFont || kind == kItemPostScriptForm || kind == kItemColourProfile;
    dialog.m_name = RowText(row, 0, kMaxRowText).c_str();
    dialog.m_id = RowText(row, 1, kMaxIdText).c_str();
    dialog.m_volume = RowText(row, 2, kMaxRowText).c_str();
    dialog.m_path = RowText(row, 3, kMaxRowText).c_str();
    if (dialog.DoModal() != IDOK)
        return 0;
    std::string name = static_cast<const char *>(dialog.m_name);
    std::string volume = static_cast<const char *>(dialog.m_volume);
    std::string folder = static_cast<const char *>(dialog.m_path);
    const std::string id = static_cast<const char *>(dialog.m_id);
    if (ApplyEditRules(name, volume, folder))
        AfxMessageBox(Formatted(IDS_DEMO_NAME_CHANGED, name).c_str(), MB_OK | MB_ICONINFORMATION);
    list.SetItemText(row, 0, name.c_str());
    list.SetItemText(row, 1, id.c_str());
    list.SetItemText(row, 2, volume.c_str());
    list.SetItemText(row, 3, folder.c_str());
    if (GetDocument())
        GetDocument()->SetModifiedFlag(TRUE);
    return 1;
}

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

int CLeftView::CheckDuplicateIds() {
    CListCtrl &list = GetListCtrl();
    std::vector<IdRow> rows;
    for (int row = 0; row < list.GetItemCount(); ++row)
        rows.push_back({RowKind(row), RowText(row, 1, kMaxIdText)});
    const auto pair = FindDuplicateId(rows);
    if (!pair)
        return 1;
    AfxMessageBox(Formatted(IDS_DUPLICATE_FILE, rows[pair->second].id).c_str(),
                  MB_OK | MB_ICONSTOP);
    list.SetItemState(pair->second, LVIS_SELECTED, LVIS_SELECTED);
    list.SetItemState(pair->first, LVIS_SELECTED, LVIS_SELECTED);
    return 0;
}

void CLeftView::CollectJobItems(CPtrList &jobs, ULONGLONG &total) {
    total = 0;
    std::vector<std::string> fonts;
    CListCtrl &list = GetListCtrl();
    for (int row = 0; row < list.GetItemCount(); ++row) {
        const std::string name = RowText(row, 0, kMaxRowText);
        const int kind = RowKind(row);
        const std::string source = RowSource(row);
        const std::string id = RowText(row, 1, kMaxIdText);
        const std::string volume = RowText(row, 2, kMaxRowText);
        const std::string folder = RowText(row, 3, kMaxRowText);
        const std::string download = DownloadName(kind, name, id, folder);
        // Each text goes inside a quoted PJL line.
        if (!IsPjlSafeText(volume) || !IsPjlSafeText(folder) || !IsPjlSafeText(download) ||
            !IsPjlSafeText(id)) {
            ShowFailed();
            continue;
        }
        std::unique_ptr<CBuffer> item(MakeItem(kind, source.c_str()));
        const DWORD length = item && !item->IsEmpty()
                                 ? item->BuildDownload(jobs, volume.c_str(), folder.c_str(),
                                                       download.c_str(), id.c_str())
                                 : 0;
        if (length == 0) {
            ShowFailed();
            continue;
        }
        total += length;
        if (kind == kItemBitmapFont)
            fonts.push_back(source);
    }
    BuildPcmPackage(fonts);
}

void CLeftView::BuildPcmPackage(const std::vector<std::string> &fonts) {
    WritePcmPackage(fonts);
}

BOOL CLeftView::SendProject(int send) {
    CAPrinter *printer = nullptr;
    if (send && !(printer = ZqApp().GetCurrentPrinter()))
        return FALSE;
    if (!CheckDuplicateIds())
        return FALSE;
    CPtrList jobs;
    ULONGLONG total = 0;
    CollectJobItems(jobs, total);

    // Every stream is freed whatever happens; the joined one is whole or nothing goes.
    std::unique_ptr<CBuffer> joined;
    if (total > 0 && total <= 0xFFFFFFF0u) {
        try {
            joined = std::make_unique<CBuffer>(static_cast<DWORD>(total));
        } catch (const std::bad_alloc &) {
            joined.reset();
        }
    }
    bool whole = joined && !joined->IsEmpty();
    while (!jobs.IsEmpty()) {
        std::unique_ptr<CBuffer> stream(static_cast<CBuffer *>(jobs.RemoveHead()));
        if (whole && !joined->Append(stream->m_data, stream->GetLength()))
            whole = false;
    }
    if (total == 0)
        return FALSE;
    if (!whole) {
        ShowFailed();
        return FALSE;
    }
    const auto length = static_cast<DWORD>(joined->m_cursor - joined->m_data);
    if (send)
        return printer->SendStream(joined->m_data, length) ? TRUE : FALSE;

    const std::string filter = StringOf(IDS_PJL_FILE_FILTER);
    CFileDialog dialog(FALSE, "pjl", "last.pjl", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                       filter.c_str(), this);
    if (dialog.DoModal() == IDOK)
        joined->WriteToFile(dialog.GetPathName());
    return FALSE;
}

// ---- notifications ----

// A row's selection changed: the pane shows the list's first selected row.
void CLeftView::OnItemChanged(NMHDR *nm, LRESULT *result) {
    *result = 0;
    const auto *change = reinterpret_cast<NMLISTVIEW *>(nm);
    if (!(change->uChanged & LVIF_STATE) ||
        !((change->uNewState ^ change->uOldState) & LVIS_SELECTED))
        return;
    auto *frame = DYNAMIC_DOWNCAST(CChildFrame, GetParentFrame());
    if (!frame)
        return;
    if (CMDIFrameWnd *main = frame->GetMDIFrame())
        if (main->MDIGetActive() != frame)
            main->MDIActivate(frame);
    if (CZqView *pane = frame->GetRightPane()) {
        pane->m_fileList = this;
        pane->OnDraw(nullptr);
    }
}

void CLeftView::OnDblClk(NMHDR *nm, LRESULT *result) {
    *result = 0;
    const auto *activate = reinterpret_cast<NMITEMACTIVATE *>(nm);
    const int row = GetListCtrl().HitTest(CPoint(activate->ptAction));
    if (row >= 0)
        EditRow(row);
}

void CLeftView::OnDeleteItem(NMHDR *nm, LRESULT *result) {
    *result = 0;
    delete[] reinterpret_cast<char *>(reinterpret_cast<NMLISTVIEW *>(nm)->lParam);
}

// 0: the list sends a deletion notice for each row, which frees its path.
void CLeftView::OnDeleteAllItems(NMHDR *, LRESULT *result) {
    *result = 0;
}

void CLeftView::OnDropFiles(HDROP drop) {
    if (auto *frame = DYNAMIC_DOWNCAST(CMDIChildWnd, GetParentFrame()))
        if (CMDIFrameWnd *main = frame->GetMDIFrame())
            main->MDIActivate(frame);
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileA(drop, i, nullptr, 0);
        std::vector<char> path(std::max<std::size_t>(length + 1, MAX_PATH), '\0');
        if (!DragQueryFileA(drop, i, path.data(), length + 1))
            continue;
        const DWORD attributes = GetFileAttributesA(path.data());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            AddProjectFile(path.data());
    }
    DragFinish(drop);
}

// ---- row drag ----

void CLeftView::OnBeginDrag(NMHDR *nm, LRESULT *result) {
    *result = 0;
    if (g_drag.source)
        return;
    CListCtrl &list = GetListCtrl();
    std::vector<std::string> paths;
    for (int row = list.GetNextItem(-1, LVNI_SELECTED); row >= 0;
         row = list.GetNextItem(row, LVNI_SELECTED))
        paths.emplace_back(RowSource(row));
    if (paths.empty())
        return;
    g_drag.source = this;
    g_drag.paths = std::move(paths);
    POINT upLeft = {};
    const int row = reinterpret_cast<NMLISTVIEW *>(nm)->iItem;
    g_drag.image.reset(list.CreateDragImage(row >= 0 ? row : 0, &upLeft));
    if (CWnd *lock = DragLock(); lock && g_drag.image) {
        g_drag.image->BeginDrag(0, CPoint(0, 0));
        CImageList::DragEnter(lock, DragPoint(lock));
    }
    SetCapture();
}

void CLeftView::OnMouseMove(UINT flags, CPoint point) {
    if (g_drag.source == this && g_drag.image)
        if (CWnd *lock = DragLock())
            CImageList::DragMove(DragPoint(lock));
    CListView::OnMouseMove(flags, point);
}

void CLeftView::OnLButtonUp(UINT flags, CPoint point) {
    if (g_drag.source == this) {
        EndRowDrag(true);
        return;
    }
    CListView::OnLButtonUp(flags, point);
}

LRESULT CLeftView::OnCaptureChanged(WPARAM, LPARAM lParam) {
    if (g_drag.source == this && reinterpret_cast<HWND>(lParam) != m_hWnd)
        EndRowDrag(false);
    return Default();
}

LRESULT CLeftView::OnKeyDown(WPARAM wParam, LPARAM) {
    if (g_drag.source == this && wParam == VK_ESCAPE) {
        EndRowDrag(false);
        return 0;
    }
    return Default();
}

void CLeftView::OnDestroy() {
    if (g_drag.source == this)
        EndRowDrag(false);
    CListView::OnDestroy();
}

// Ends the drag: on a drop the project list under the cursor takes the rows (their names,
// IDs, volumes and folders derived anew); anything else takes nothing.
void CLeftView::EndRowDrag(bool drop) {
    POINT cursor;
    GetCursorPos(&cursor);
    CLeftView *target = drop ? ProjectListAt(cursor) : nullptr;
    RowDrag ended = std::move(g_drag);
    g_drag = RowDrag{};
    if (ended.image) {
        CImageList::DragLeave(DragLock());
        CImageList::EndDrag();
    }
    if (GetCapture() == m_hWnd)
        ReleaseCapture();
    if (!target)
        return;
    for (const std::string &path : ended.paths) {
        char buffer[MAX_PATH];
        CopyStringN(buffer, path.c_str(), MAX_PATH - 1);
        target->AddProjectFile(buffer);
    }
}

// ---------------------------------------------------------------------------------------
// The property list

void CZqView::OnInitialUpdate() {
    CListView::OnInitialUpdate();
    ModifyStyle(LVS_TYPEMASK, LVS_REPORT);
    CListCtrl &list = GetListCtrl();
    list.InsertColumn(0, StringOf(IDS_COL_PROPERTY).c_str(), LVCFMT_LEFT, 120);
    list.InsertColumn(1, StringOf(IDS_COL_VALUE).c_str(), LVCFMT_LEFT, 360);
}

void CZqView::OnDraw(CDC *) {
    CListCtrl &list = GetListCtrl();
    list.DeleteAllItems();
    if (!m_fileList || !m_fileList->GetSafeHwnd())
        return;
    const int row = m_fileList->GetListCtrl().GetNextItem(-1, LVNI_SELECTED);
    if (row < 0)
        return;
    const int kind = m_fileList->RowKind(row);
    const char *source = m_fileList->RowSource(row);
    std::unique_ptr<CBuffer> item(CLeftView::MakeItem(kind, source));
    if (!item)
        item = std::make_unique<CBuffer>(source);
    if (auto *profile = dynamic_cast<CICMFile *>(item.get()))
        profile->SetRowName(m_fileList->GetListCtrl().GetItemText(row, 0));
    item->ShowProperties(list);
}

// Control wrappers and image lists.
#include "internal.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

// Non-owning CImageList objects for lists the framework did not create, one per handle.
struct ImageListMap {
    std::mutex lock;
    std::unordered_map<HIMAGELIST, CImageList *> created; // objects that own their list
    std::unordered_map<HIMAGELIST, CImageList *> wrappers;
};

ImageListMap &Lists() {
    static ImageListMap *map = new ImageListMap;
    return *map;
}

BOOL CreateControl(CWnd &wnd, LPCSTR cls, LPCSTR text, DWORD style, const RECT &rect, CWnd *parent,
                   UINT id) {
    return wnd.CreateEx(0, cls, text, style | WS_CHILD, rect, parent, id);
}

} // namespace

// ---------------------------------------------------------------------------------------
// CImageList

CImageList::~CImageList() {
    DeleteImageList();
}

HIMAGELIST CImageList::GetSafeHandle() const {
    return afx::Opaque(this) ? m_hImageList : nullptr;
}

BOOL CImageList::Create(int cx, int cy, UINT flags, int initial, int grow) {
    DeleteImageList();
    m_hImageList = ImageList_Create(cx, cy, flags, initial, grow);
    if (!m_hImageList)
        return FALSE;
    Own(m_hImageList);
    return TRUE;
}

BOOL CImageList::DeleteImageList() {
    if (!m_hImageList)
        return FALSE;
    bool owned = owned_;
    HIMAGELIST list = Detach();
    return owned ? ImageList_Destroy(list) : TRUE; // a wrapped list is only let go
}

void CImageList::Own(HIMAGELIST list) {
    m_hImageList = list;
    owned_ = true;
    ImageListMap &m = Lists();
    std::lock_guard<std::mutex> guard(m.lock);
    m.created[list] = this;
}

BOOL CImageList::Attach(HIMAGELIST list) {
    if (m_hImageList || !list)
        return FALSE;
    m_hImageList = list;
    owned_ = false;
    return TRUE;
}

HIMAGELIST CImageList::Detach() {
    HIMAGELIST list = m_hImageList;
    if (list && owned_) {
        ImageListMap &m = Lists();
        std::lock_guard<std::mutex> guard(m.lock);
        auto it = m.created.find(list);
        if (it != m.created.end() && it->second == this)
            m.created.erase(it);
    }
    m_hImageList = nullptr;
    owned_ = false;
    return list;
}

CImageList *CImageList::FromHandle(HIMAGELIST list) {
    if (!list)
        return nullptr;
    ImageListMap &m = Lists();
    std::lock_guard<std::mutex> guard(m.lock);
    auto it = m.created.find(list);
    if (it != m.created.end())
        return it->second;
    CImageList *&wrapper = m.wrappers[list];
    if (!wrapper) {
        wrapper = new CImageList;
        wrapper->m_hImageList = list; // never owned
    }
    return wrapper;
}

int CImageList::Add(HICON icon) {
    return ImageList_AddIcon(m_hImageList, icon);
}
int CImageList::GetImageCount() const {
    return ImageList_GetImageCount(m_hImageList);
}
HICON CImageList::ExtractIcon(int image) {
    return ImageList_GetIcon(m_hImageList, image, ILD_NORMAL);
}

BOOL CImageList::BeginDrag(int image, CPoint hotSpot) {
    return ImageList_BeginDrag(m_hImageList, image, hotSpot.x, hotSpot.y);
}
BOOL CImageList::DragEnter(CWnd *lock, CPoint point) {
    return ImageList_DragEnter(lock->GetSafeHwnd(), point.x, point.y);
}
BOOL CImageList::DragMove(CPoint point) {
    return ImageList_DragMove(point.x, point.y);
}
BOOL CImageList::DragLeave(CWnd *lock) {
    return ImageList_DragLeave(lock->GetSafeHwnd());
}
void CImageList::EndDrag() {
    ImageList_EndDrag();
}
BOOL CImageList::DragShowNolock(BOOL show) {
    return ImageList_DragShowNolock(show);
}

// ---------------------------------------------------------------------------------------
// Buttons, edits, list boxes

BOOL CButton::Create(LPCSTR caption, DWORD style, const RECT &rect, CWnd *parent, UINT id) {
    return CreateControl(*this, "BUTTON", caption, style, rect, parent, id);
}

BOOL CEdit::Create(DWORD style, const RECT &rect, CWnd *parent, UINT id) {
    return CreateControl(*this, "EDIT", "", style, rect, parent, id);
}

void CEdit::SetSel(int start, int end, BOOL noScroll) {
    SendMessage(EM_SETSEL, static_cast<WPARAM>(start), end);
    if (!noScroll)
        SendMessage(EM_SCROLLCARET);
}

void CEdit::GetSel(int &start, int &end) const {
    DWORD s = 0, e = 0;
    SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
    start = static_cast<int>(s);
    end = static_cast<int>(e);
}

void CEdit::ReplaceSel(LPCSTR text, BOOL canUndo) {
    SendMessage(EM_REPLACESEL, canUndo, reinterpret_cast<LPARAM>(text ? text : ""));
}

BOOL CListBox::Create(DWORD style, const RECT &rect, CWnd *parent, UINT id) {
    return CreateControl(*this, "LISTBOX", "", style, rect, parent, id);
}

int CListBox::InsertString(int index, LPCSTR text) {
    return static_cast<int>(
        SendMessage(LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
}

int CListBox::GetSelItems(int maxItems, LPINT items) const {
    return static_cast<int>(SendMessage(LB_GETSELITEMS, static_cast<WPARAM>(maxItems),
                                        reinterpret_cast<LPARAM>(items)));
}

int CListBox::GetText(int index, LPSTR buffer) const {
    return static_cast<int>(
        SendMessage(LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer)));
}

void CListBox::GetText(int index, CString &text) const {
    text.Empty();
    int length = GetTextLen(index);
    if (length < 0)
        return;
    char *buffer = text.GetBuffer(length);
    buffer[0] = '\0';
    int got = GetText(index, buffer);
    text.ReleaseBuffer(got < 0 ? 0 : got);
}

int CListBox::FindStringExact(int startAfter, LPCSTR text) const {
    return static_cast<int>(SendMessage(LB_FINDSTRINGEXACT, static_cast<WPARAM>(startAfter),
                                        reinterpret_cast<LPARAM>(text)));
}

int CListBox::FindString(int startAfter, LPCSTR text) const {
    return static_cast<int>(SendMessage(LB_FINDSTRING, static_cast<WPARAM>(startAfter),
                                        reinterpret_cast<LPARAM>(text)));
}

// ---------------------------------------------------------------------------------------
// IP address and spin controls

BOOL CIPAddressCtrl::Create(DWORD style, const RECT &rect, CWnd *parent, UINT id) {
    return CreateControl(*this, WC_IPADDRESSA, "", style, rect, parent, id);
}

int CIPAddressCtrl::GetAddress(BYTE &f0, BYTE &f1, BYTE &f2, BYTE &f3) const {
    DWORD address = 0;
    int fields = GetAddress(address);
    f0 = static_cast<BYTE>(FIRST_IPADDRESS(address));
    f1 = static_cast<BYTE>(SECOND_IPADDRESS(address));
    f2 = static_cast<BYTE>(THIRD_IPADDRESS(address));
    f3 = static_cast<BYTE>(FOURTH_IPADDRESS(address));
    return fields;
}

int CIPAddressCtrl::GetAddress(DWORD &address) const {
    address = 0;
    return static_cast<int>(SendMessage(IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address)));
}

void CIPAddressCtrl::SetAddress(BYTE f0, BYTE f1, BYTE f2, BYTE f3) {
    SetAddress(static_cast<DWORD>(MAKEIPADDRESS(f0, f1, f2, f3)));
}

void CIPAddressCtrl::SetFieldRange(int field, BYTE low, BYTE high) {
    SendMessage(IPM_SETRANGE, static_cast<WPARAM>(field), MAKEIPRANGE(low, high));
}

BOOL CSpinButtonCtrl::Create(DWORD style, const RECT &rect, CWnd *parent, UINT id) {
    return CreateControl(*this, UPDOWN_CLASSA, "", style, rect, parent, id);
}

void CSpinButtonCtrl::GetRange(int &lower, int &upper) const {
    int lo = 0, hi = 0;
    SendMessage(UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lo), reinterpret_cast<LPARAM>(&hi));
    lower = lo;
    upper = hi;
}

int CSpinButtonCtrl::SetPos(int pos) {
    int lower = 0, upper = 0;
    GetRange(lower, upper);
    int low = lower < upper ? lower : upper, high = lower < upper ? upper : lower;
    if (pos < low)
        pos = low;
    if (pos > high)
        pos = high;
    return static_cast<int>(SendMessage(UDM_SETPOS32, 0, pos));
}

int CSpinButtonCtrl::GetPos() const {
    return static_cast<int>(SendMessage(UDM_GETPOS32, 0, 0));
}

CWnd *CSpinButtonCtrl::SetBuddy(CWnd *buddy) {
    return FromHandle(reinterpret_cast<HWND>(
        SendMessage(UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy->GetSafeHwnd()))));
}

CWnd *CSpinButtonCtrl::GetBuddy() const {
    return FromHandle(reinterpret_cast<HWND>(SendMessage(UDM_GETBUDDY)));
}

// ---------------------------------------------------------------------------------------
// CListCtrl

BOOL CListCtrl::Create(DWORD style, const RECT &rect, CWnd *parent, UINT id) {
    return CreateControl(*this, WC_LISTVIEWA, "", style, rect, parent, id);
}

int CListCtrl::InsertColumn(int col, LPCSTR heading, int format, int width, int subItem) {
    LVCOLUMNA c = {};
    c.mask = LVCF_FMT | LVCF_TEXT;
    c.fmt = format;
    c.pszText = const_cast<LPSTR>(heading ? heading : "");
    if (width != -1) {
        c.mask |= LVCF_WIDTH;
        c.cx = width;
    }
    if (subItem != -1) {
        c.mask |= LVCF_SUBITEM;
        c.iSubItem = subItem;
    }
    return static_cast<int>(
        SendMessage(LVM_INSERTCOLUMNA, static_cast<WPARAM>(col), reinterpret_cast<LPARAM>(&c)));
}

int CListCtrl::InsertItem(const LVITEMA *item) {
    return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(item)));
}

int CListCtrl::InsertItem(int index, LPCSTR text) {
    return InsertItem(LVIF_TEXT, index, text, 0, 0, 0, 0);
}

int CListCtrl::InsertItem(int index, LPCSTR text, int image) {
    return InsertItem(LVIF_TEXT | LVIF_IMAGE, index, text, 0, 0, image, 0);
}

int CListCtrl::InsertItem(UINT mask, int index, LPCSTR text, UINT state, UINT stateMask, int image,
                          LPARAM lParam) {
    LVITEMA it = {};
    it.mask = mask;
    it.iItem = index;
    it.pszText = const_cast<LPSTR>(text ? text : "");
    it.state = state;
    it.stateMask = stateMask;
    it.iImage = image;
    it.lParam = lParam;
    return InsertItem(&it);
}

BOOL CListCtrl::GetItem(LVITEMA *item) const {
    return static_cast<BOOL>(SendMessage(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(item)));
}

BOOL CListCtrl::SetItem(const LVITEMA *item) {
    return static_cast<BOOL>(SendMessage(LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(item)));
}

BOOL CListCtrl::SetItemText(int index, int subItem, LPCSTR text) {
    LVITEMA it = {};
    it.iSubItem = subItem;
    it.pszText = const_cast<LPSTR>(text ? text : "");
    return static_cast<BOOL>(
        SendMessage(LVM_SETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&it)));
}

int CListCtrl::GetItemText(int index, int subItem, LPSTR buffer, int length) const {
    if (!buffer || length <= 0)
        return 0;
    buffer[0] = '\0';
    LVITEMA it = {};
    it.iSubItem = subItem;
    it.pszText = buffer;
    it.cchTextMax = length;
    int got = static_cast<int>(
        SendMessage(LVM_GETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&it)));
    buffer[length - 1] = '\0';
    if (got < 0)
        got = 0;
    if (got > length - 1)
        got = length - 1;
    return got;
}

CString CListCtrl::GetItemText(int index, int subItem) const {
    // Grows the buffer until the text fits.
    for (int size = 256; size <= (1 << 20); size *= 4) {
        std::string buffer(static_cast<size_t>(size), '\0');
        int got = GetItemText(index, subItem, buffer.data(), size);
        if (got < size - 1)
            return CString(buffer.c_str());
    }
    return CString();
}

DWORD_PTR CListCtrl::GetItemData(int index) const {
    LVITEMA it = {};
    it.mask = LVIF_PARAM;
    it.iItem = index;
    return GetItem(&it) ? static_cast<DWORD_PTR>(it.lParam) : 0;
}

BOOL CListCtrl::SetItemData(int index, DWORD_PTR data) {
    LVITEMA it = {};
    it.mask = LVIF_PARAM;
    it.iItem = index;
    it.lParam = static_cast<LPARAM>(data);
    return SetItem(&it);
}

UINT CListCtrl::GetItemState(int index, UINT mask) const {
    return static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(index), mask));
}

BOOL CListCtrl::SetItemState(int index, UINT state, UINT mask) {
    LVITEMA it = {};
    it.state = state;
    it.stateMask = mask;
    return static_cast<BOOL>(
        SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&it)));
}

int CListCtrl::GetNextItem(int start, int flags) const {
    return static_cast<int>(
        SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
}

// The position is the selected row plus one, so that row 0 is not NULL.
POSITION CListCtrl::GetFirstSelectedItemPosition() const {
    int row = GetNextItem(-1, LVNI_SELECTED);
    return reinterpret_cast<POSITION>(static_cast<INT_PTR>(row + 1));
}

int CListCtrl::GetNextSelectedItem(POSITION &pos) const {
    int row = static_cast<int>(reinterpret_cast<INT_PTR>(pos)) - 1;
    int next = GetNextItem(row, LVNI_SELECTED);
    pos = reinterpret_cast<POSITION>(static_cast<INT_PTR>(next + 1));
    return row;
}

int CListCtrl::FindItem(LVFINDINFOA *find, int start) const {
    return static_cast<int>(
        SendMessage(LVM_FINDITEMA, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(find)));
}

int CListCtrl::HitTest(CPoint point, UINT *flags) const {
    LVHITTESTINFO info = {};
    info.pt = point;
    int row = static_cast<int>(SendMessage(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&info)));
    if (flags)
        *flags = info.flags;
    return row;
}

BOOL CListCtrl::SortItems(PFNLVCOMPARE compare, DWORD_PTR data) {
    return static_cast<BOOL>(
        SendMessage(LVM_SORTITEMS, static_cast<WPARAM>(data), reinterpret_cast<LPARAM>(compare)));
}

BOOL CListCtrl::GetItemRect(int index, LPRECT rect, UINT code) const {
    rect->left = static_cast<LONG>(code);
    return static_cast<BOOL>(
        SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(rect)));
}

BOOL CListCtrl::GetItemPosition(int index, LPPOINT point) const {
    return static_cast<BOOL>(SendMessage(LVM_GETITEMPOSITION, static_cast<WPARAM>(index),
                                         reinterpret_cast<LPARAM>(point)));
}

CImageList *CListCtrl::SetImageList(CImageList *list, int kind) {
    // Without LVS_SHAREIMAGELISTS the control destroys its lists with itself, taking the
    // application's shared lists along.
    if (!(GetStyle() & LVS_SHAREIMAGELISTS))
        ModifyStyle(0, LVS_SHAREIMAGELISTS);
    return CImageList::FromHandle(
        reinterpret_cast<HIMAGELIST>(SendMessage(LVM_SETIMAGELIST, static_cast<WPARAM>(kind),
                                                 reinterpret_cast<LPARAM>(list->GetSafeHandle()))));
}

CImageList *CListCtrl::GetImageList(int kind) const {
    return CImageList::FromHandle(
        reinterpret_cast<HIMAGELIST>(SendMessage(LVM_GETIMAGELIST, static_cast<WPARAM>(kind))));
}

CImageList *CListCtrl::CreateDragImage(int index, LPPOINT upLeft) {
    POINT where = {0, 0};
    auto list = reinterpret_cast<HIMAGELIST>(SendMessage(
        LVM_CREATEDRAGIMAGE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&where)));
    if (!list)
        return nullptr;
    if (upLeft)
        *upLeft = where;
    // The caller owns this object, and the object the list.
    auto *image = new CImageList;
    image->Own(list);
    return image;
}

// ---------------------------------------------------------------------------------------
// CTreeCtrl

BOOL CTreeCtrl::Create(DWORD style, const RECT &rect, CWnd *parent, UINT id) {
    return CreateControl(*this, WC_TREEVIEWA, "", style, rect, parent, id);
}

HTREEITEM CTreeCtrl::InsertItem(const TVINSERTSTRUCTA *insert) {
    return reinterpret_cast<HTREEITEM>(
        SendMessage(TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(insert)));
}

HTREEITEM CTreeCtrl::InsertItem(UINT mask, LPCSTR text, int image, int selectedImage, UINT state,
                                UINT stateMask, LPARAM lParam, HTREEITEM parent, HTREEITEM after) {
    TVINSERTSTRUCTA ins = {};
    ins.hParent = parent;
    ins.hInsertAfter = after;
    ins.item.mask = mask;
    ins.item.pszText = const_cast<LPSTR>(text ? text : "");
    ins.item.iImage = image;
    ins.item.iSelectedImage = selectedImage;
    ins.item.state = state;
    ins.item.stateMask = stateMask;
    ins.item.lParam = lParam;
    return InsertItem(&ins);
}

HTREEITEM CTreeCtrl::InsertItem(LPCSTR text, HTREEITEM parent, HTREEITEM after) {
    return InsertItem(TVIF_TEXT, text, 0, 0, 0, 0, 0, parent, after);
}

HTREEITEM CTreeCtrl::InsertItem(LPCSTR text, int image, int selectedImage, HTREEITEM parent,
                                HTREEITEM after) {
    return InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE, text, image, selectedImage, 0, 0,
                      0, parent, after);
}

BOOL CTreeCtrl::DeleteItem(HTREEITEM item) {
    return static_cast<BOOL>(SendMessage(TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item)));
}

HTREEITEM CTreeCtrl::GetNextItem(HTREEITEM item, UINT code) const {
    return reinterpret_cast<HTREEITEM>(
        SendMessage(TVM_GETNEXTITEM, code, reinterpret_cast<LPARAM>(item)));
}

BOOL CTreeCtrl::SelectItem(HTREEITEM item) {
    return static_cast<BOOL>(
        SendMessage(TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)));
}

BOOL CTreeCtrl::SelectDropTarget(HTREEITEM item) {
    return static_cast<BOOL>(
        SendMessage(TVM_SELECTITEM, TVGN_DROPHILITE, reinterpret_cast<LPARAM>(item)));
}

BOOL CTreeCtrl::Expand(HTREEITEM item, UINT code) {
    return static_cast<BOOL>(SendMessage(TVM_EXPAND, code, reinterpret_cast<LPARAM>(item)));
}

BOOL CTreeCtrl::EnsureVisible(HTREEITEM item) {
    return static_cast<BOOL>(SendMessage(TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item)));
}

BOOL CTreeCtrl::ItemHasChildren(HTREEITEM item) const {
    TVITEMA it = {};
    it.mask = TVIF_CHILDREN | TVIF_HANDLE;
    it.hItem = item;
    return GetItem(&it) && it.cChildren != 0;
}

BOOL CTreeCtrl::GetItem(TVITEMA *item) const {
    return static_cast<BOOL>(SendMessage(TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(item)));
}

BOOL CTreeCtrl::SetItem(TVITEMA *item) {
    return static_cast<BOOL>(SendMessage(TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(item)));
}

CString CTreeCtrl::GetItemText(HTREEITEM item) const {
    for (int size = 256; size <= (1 << 20); size *= 4) {
        std::string buffer(static_cast<size_t>(size), '\0');
        TVITEMA it = {};
        it.mask = TVIF_TEXT | TVIF_HANDLE;
        it.hItem = item;
        it.pszText = buffer.data();
        it.cchTextMax = size;
        if (!GetItem(&it))
            return CString();
        buffer[static_cast<size_t>(size) - 1] = '\0';
        if (it.pszText != buffer.data())
            return CString(it.pszText);
        if (std::strlen(buffer.c_str()) < static_cast<size_t>(size) - 1)
            return CString(buffer.c_str());
    }
    return CString();
}

BOOL CTreeCtrl::SetItemText(HTREEITEM item, LPCSTR text) {
    TVITEMA it = {};
    it.mask = TVIF_TEXT | TVIF_HANDLE;
    it.hItem = item;
    it.pszText = const_cast<LPSTR>(text ? text : "");
    return SetItem(&it);
}

DWORD_PTR CTreeCtrl::GetItemData(HTREEITEM item) const {
    TVITEMA it = {};
    it.mask = TVIF_PARAM | TVIF_HANDLE;
    it.hItem = item;
    return GetItem(&it) ? static_cast<DWORD_PTR>(it.lParam) : 0;
}

BOOL CTreeCtrl::SetItemData(HTREEITEM item, DWORD_PTR data) {
    TVITEMA it = {};
    it.mask = TVIF_PARAM | TVIF_HANDLE;
    it.hItem = item;
    it.lParam = static_cast<LPARAM>(data);
    return SetItem(&it);
}

BOOL CTreeCtrl::GetItemImage(HTREEITEM item, int &image, int &selectedImage) const {
    TVITEMA it = {};
    it.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_HANDLE;
    it.hItem = item;
    if (!GetItem(&it))
        return FALSE;
    image = it.iImage;
    selectedImage = it.iSelectedImage;
    return TRUE;
}

BOOL CTreeCtrl::SetItemImage(HTREEITEM item, int image, int selectedImage) {
    TVITEMA it = {};
    it.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_HANDLE;
    it.hItem = item;
    it.iImage = image;
    it.iSelectedImage = selectedImage;
    return SetItem(&it);
}

UINT CTreeCtrl::GetItemState(HTREEITEM item, UINT mask) const {
    return static_cast<UINT>(SendMessage(TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), mask));
}

BOOL CTreeCtrl::SetItemState(HTREEITEM item, UINT state, UINT mask) {
    TVITEMA it = {};
    it.mask = TVIF_STATE | TVIF_HANDLE;
    it.hItem = item;
    it.state = state;
    it.stateMask = mask;
    return SetItem(&it);
}

BOOL CTreeCtrl::GetItemRect(HTREEITEM item, LPRECT rect, BOOL textOnly) const {
    *reinterpret_cast<HTREEITEM *>(rect) = item;
    return static_cast<BOOL>(
        SendMessage(TVM_GETITEMRECT, textOnly, reinterpret_cast<LPARAM>(rect)));
}

HTREEITEM CTreeCtrl::HitTest(CPoint point, UINT *flags) const {
    TVHITTESTINFO info = {};
    info.pt = point;
    auto item =
        reinterpret_cast<HTREEITEM>(SendMessage(TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&info)));
    if (flags)
        *flags = info.flags;
    return item;
}

BOOL CTreeCtrl::SortChildren(HTREEITEM item) {
    return static_cast<BOOL>(SendMessage(TVM_SORTCHILDREN, 0, reinterpret_cast<LPARAM>(item)));
}

CImageList *CTreeCtrl::SetImageList(CImageList *list, int kind) {
    return CImageList::FromHandle(
        reinterpret_cast<HIMAGELIST>(SendMessage(TVM_SETIMAGELIST, static_cast<WPARAM>(kind),
                                                 reinterpret_cast<LPARAM>(list->GetSafeHandle()))));
}

CImageList *CTreeCtrl::GetImageList(int kind) const {
    return CImageList::FromHandle(
        reinterpret_cast<HIMAGELIST>(SendMessage(TVM_GETIMAGELIST, static_cast<WPARAM>(kind))));
}

// Control wrappers and image lists, each call checked through the control's own messages,
// and the notifications Wine's controls send.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

constexpr UINT kList = 100, kTree = 101, kListBox = 102, kEdit = 103, kButton = 104, kAddress = 105,
               kSpin = 106;

HICON MakeIcon(int size, BYTE shade) {
    std::vector<BYTE> andMask(static_cast<size_t>(size * size / 8), 0x00);
    std::vector<BYTE> xorMask(static_cast<size_t>(size * size / 8), shade);
    return CreateIcon(GetModuleHandleA(nullptr), size, size, 1, 1, andMask.data(), xorMask.data());
}

// A parent that logs the notifications of its list and tree.
class Parent : public CWnd {
  public:
    std::vector<std::string> log;
    bool inDelete = false;
    void OnTreeSel(NMHDR *, LRESULT *) { log.push_back("tree:selchanged"); }
    void OnTreeDelete(NMHDR *, LRESULT *) { log.push_back("tree:deleteitem"); }
    void OnListChanged(NMHDR *hdr, LRESULT *) {
        auto *nm = reinterpret_cast<NMLISTVIEW *>(hdr);
        log.push_back(std::string("list:itemchanged") + (inDelete ? ":inside-delete" : "") + ":" +
                      std::to_string(nm->iItem));
    }
    void OnListDelete(NMHDR *, LRESULT *) { log.push_back("list:deleteitem"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Parent, CWnd)
ON_NOTIFY(TVN_SELCHANGEDA, kTree, OnTreeSel)
ON_NOTIFY(TVN_DELETEITEMA, kTree, OnTreeDelete)
ON_NOTIFY(LVN_ITEMCHANGED, kList, OnListChanged)
ON_NOTIFY(LVN_DELETEITEM, kList, OnListDelete)
END_MESSAGE_MAP()

class Controls : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(parent.CreateEx(0, nullptr, "controls", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                    600, 400, nullptr, nullptr));
        ASSERT_TRUE(list.Create(LVS_REPORT | WS_VISIBLE, CRect(0, 0, 200, 100), &parent, kList));
        ASSERT_TRUE(
            tree.Create(TVS_HASLINES | WS_VISIBLE, CRect(210, 0, 400, 100), &parent, kTree));
        ASSERT_TRUE(
            box.Create(LBS_EXTENDEDSEL | WS_VISIBLE, CRect(0, 110, 200, 200), &parent, kListBox));
        ASSERT_TRUE(edit.Create(WS_VISIBLE, CRect(210, 110, 400, 130), &parent, kEdit));
        ASSERT_TRUE(button.Create("check", BS_AUTOCHECKBOX | WS_VISIBLE, CRect(210, 140, 400, 160),
                                  &parent, kButton));
        ASSERT_TRUE(address.Create(WS_VISIBLE, CRect(0, 210, 200, 230), &parent, kAddress));
        ASSERT_TRUE(spin.Create(WS_VISIBLE, CRect(210, 210, 230, 230), &parent, kSpin));
    }
    void TearDown() override { parent.DestroyWindow(); }

    Parent parent;
    CListCtrl list;
    CTreeCtrl tree;
    CListBox box;
    CEdit edit;
    CButton button;
    CIPAddressCtrl address;
    CSpinButtonCtrl spin;
};

} // namespace

TEST_F(Controls, ListCtrlRowsTextsDataAndSelection) {
    EXPECT_EQ(list.InsertColumn(0, "Name", LVCFMT_LEFT, 80), 0);
    EXPECT_EQ(list.InsertColumn(1, "Size", LVCFMT_RIGHT, 60, 1), 1);
    EXPECT_EQ(list.InsertItem(0, "alpha"), 0);
    EXPECT_EQ(list.InsertItem(1, "beta", 3), 1);
    EXPECT_EQ(list.InsertItem(LVIF_TEXT | LVIF_PARAM, 2, "gamma", 0, 0, 0, 0x55), 2);
    EXPECT_TRUE(list.SetItemText(1, 1, "1234567"));
    EXPECT_EQ(list.SendMessage(LVM_GETITEMCOUNT), 3);
    EXPECT_EQ(list.GetItemCount(), 3);

    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(list.GetItemText(1, 1, small, 4), 3);
    EXPECT_STREQ(small, "123"); // always terminated
    EXPECT_STREQ(list.GetItemText(1, 1), "1234567");
    EXPECT_STREQ(list.GetItemText(0, 0), "alpha");
    EXPECT_EQ(list.GetItemText(0, 0, small, 0), 0);

    EXPECT_EQ(list.GetItemData(2), 0x55u);
    EXPECT_TRUE(list.SetItemData(0, 0x1234));
    EXPECT_EQ(list.GetItemData(0), 0x1234u);
    LVITEMA item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = 1;
    ASSERT_TRUE(list.GetItem(&item));
    EXPECT_EQ(item.iImage, 3);

    list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    list.SetItemState(2, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(list.SendMessage(LVM_GETITEMSTATE, 2, LVIS_SELECTED), LVIS_SELECTED);
    EXPECT_EQ(list.GetSelectedCount(), 2u);
    std::vector<int> rows;
    for (POSITION pos = list.GetFirstSelectedItemPosition(); pos;)
        rows.push_back(list.GetNextSelectedItem(pos));
    EXPECT_EQ(rows, (std::vector<int>{0, 2}));
    EXPECT_EQ(list.GetNextItem(0, LVNI_SELECTED), 2);

    LVFINDINFOA find = {};
    find.flags = LVFI_STRING;
    find.psz = "GAMMA";
    EXPECT_EQ(list.FindItem(&find), 2); // Wine compares without regard to case

    // Deleting a selected row: LVN_ITEMCHANGED arrives inside LVM_DELETEITEM.
    parent.log.clear();
    parent.inDelete = true;
    EXPECT_TRUE(list.DeleteItem(0));
    parent.inDelete = false;
    bool changedInside = false;
    for (auto &e : parent.log)
        changedInside |= e.rfind("list:itemchanged:inside-delete", 0) == 0;
    EXPECT_TRUE(changedInside);
    EXPECT_EQ(list.GetItemCount(), 2);
    EXPECT_TRUE(list.DeleteAllItems());
    EXPECT_EQ(list.GetItemCount(), 0);
}

TEST_F(Controls, TreeOrderTextsAndWineNotifications) {
    HTREEITEM root = tree.InsertItem("root", 1, 1);
    ASSERT_NE(root, nullptr);
    for (const char *name : {"delta", "alpha", "charlie", "bravo"})
        tree.InsertItem(name, 2, 3, root, TVI_SORT);
    std::vector<std::string> order;
    for (HTREEITEM h = tree.GetChildItem(root); h; h = tree.GetNextSiblingItem(h)) {
        order.push_back(std::string(tree.GetItemText(h)));
        EXPECT_EQ(tree.GetParentItem(h), root);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"alpha", "bravo", "charlie", "delta"}));
    EXPECT_EQ(tree.GetCount(), 5u);
    EXPECT_EQ(tree.GetRootItem(), root);

    HTREEITEM first = tree.GetChildItem(root);
    EXPECT_TRUE(tree.SetItemData(first, 99));
    EXPECT_EQ(tree.GetItemData(first), 99u);
    EXPECT_TRUE(tree.SetItemText(first, "renamed"));
    EXPECT_STREQ(tree.GetItemText(first), "renamed");
    int image = -1, selected = -1;
    ASSERT_TRUE(tree.GetItemImage(first, image, selected));
    EXPECT_EQ(image, 2);
    EXPECT_EQ(selected, 3);

    // Wine 8: deleting the selected item tells the parent of the new selection.
    ASSERT_TRUE(tree.SelectItem(first));
    EXPECT_EQ(tree.GetSelectedItem(), first);
    parent.log.clear();
    EXPECT_TRUE(tree.DeleteItem(first));
    EXPECT_NE(std::find(parent.log.begin(), parent.log.end(), "tree:selchanged"), parent.log.end());

    // Deleting all sends only TVN_DELETEITEM.
    tree.SelectItem(tree.GetChildItem(root));
    parent.log.clear();
    EXPECT_TRUE(tree.DeleteAllItems());
    EXPECT_EQ(tree.GetCount(), 0u);
    ASSERT_FALSE(parent.log.empty());
    for (auto &e : parent.log)
        EXPECT_EQ(e, "tree:deleteitem");
}

TEST_F(Controls, ListBoxEditButtonAddressSpin) {
    EXPECT_EQ(box.AddString("one"), 0);
    EXPECT_EQ(box.AddString("Two"), 1);
    EXPECT_EQ(box.InsertString(0, "zero"), 0);
    EXPECT_EQ(box.SendMessage(LB_GETCOUNT), 3);
    EXPECT_EQ(box.GetCount(), 3);
    CString text;
    box.GetText(2, text);
    EXPECT_STREQ(text, "Two");
    EXPECT_EQ(box.FindStringExact(-1, "two"), 2); // Wine ignores case here
    EXPECT_EQ(box.FindStringExact(-1, "three"), LB_ERR);
    box.SetSel(0);
    box.SetSel(2);
    EXPECT_EQ(box.GetSelCount(), 2);
    int items[4] = {};
    EXPECT_EQ(box.GetSelItems(4, items), 2);
    EXPECT_EQ(items[0], 0);
    EXPECT_EQ(items[1], 2);
    EXPECT_EQ(box.DeleteString(0), 2);
    box.ResetContent();
    EXPECT_EQ(box.GetCount(), 0);
    box.GetText(5, text); // no such item: empty
    EXPECT_TRUE(text.IsEmpty());

    edit.SetLimitText(8);
    EXPECT_EQ(edit.SendMessage(EM_GETLIMITTEXT), 8);
    edit.SetWindowText("abcdef");
    edit.SetSel(1, 3);
    int s = 0, e = 0;
    edit.GetSel(s, e);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(e, 3);
    edit.ReplaceSel("XY");
    edit.GetWindowText(text);
    EXPECT_STREQ(text, "aXYdef");

    EXPECT_EQ(button.GetCheck(), BST_UNCHECKED);
    button.SetCheck(BST_CHECKED);
    EXPECT_EQ(button.SendMessage(BM_GETCHECK), BST_CHECKED);
    EXPECT_EQ(parent.IsDlgButtonChecked(kButton), BST_CHECKED);

    // A blank address field.
    EXPECT_TRUE(address.IsBlank());
    BYTE f[4] = {9, 9, 9, 9};
    EXPECT_EQ(address.GetAddress(f[0], f[1], f[2], f[3]), 0);
    EXPECT_EQ(f[0] + f[1] + f[2] + f[3], 0);
    address.GetWindowText(text);
    EXPECT_STREQ(text, "0.0.0.0");
    address.SetAddress(127, 0, 0, 1);
    EXPECT_FALSE(address.IsBlank());
    DWORD value = 0;
    EXPECT_EQ(address.GetAddress(value), 4);
    EXPECT_EQ(value, 0x7F000001u);
    address.ClearAddress();
    EXPECT_TRUE(address.IsBlank());

    spin.SetRange(0, 10);
    int lo = -1, hi = -1;
    spin.GetRange(lo, hi);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 10);
    spin.SetPos(50);
    EXPECT_EQ(spin.GetPos(), 10);
    EXPECT_EQ(static_cast<int>(spin.SendMessage(UDM_GETPOS32)), 10);
    spin.SetPos(-5);
    EXPECT_EQ(spin.GetPos(), 0);
    spin.SetBuddy(&edit);
    EXPECT_EQ(spin.GetBuddy()->GetSafeHwnd(), edit.m_hWnd);
}

TEST_F(Controls, SharedImageListsOutliveTheirControls) {
    CImageList small;
    ASSERT_TRUE(small.Create(16, 16, ILC_COLOR8 | ILC_MASK, 15, 1));
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(small.Add(MakeIcon(16, static_cast<BYTE>(i * 16))), i);
    ASSERT_EQ(small.GetImageCount(), 15);

    // Two lists and a tree share the list; closing one list must leave it intact.
    CListCtrl second;
    ASSERT_TRUE(second.Create(LVS_ICON, CRect(0, 0, 50, 50), &parent, 200));
    list.SetImageList(&small, LVSIL_SMALL);
    second.SetImageList(&small, LVSIL_NORMAL);
    tree.SetImageList(&small, TVSIL_NORMAL);
    EXPECT_TRUE(list.GetStyle() & LVS_SHAREIMAGELISTS);
    EXPECT_EQ(list.GetImageList(LVSIL_SMALL), &small);
    EXPECT_EQ(tree.GetImageList(TVSIL_NORMAL), &small);
    second.DestroyWindow();
    list.DestroyWindow();
    tree.DestroyWindow();
    EXPECT_EQ(ImageList_GetImageCount(small.m_hImageList), 15);

    // A wrapper of a list it did not create lets go without destroying.
    HIMAGELIST raw = ImageList_Create(8, 8, ILC_COLOR8, 1, 1);
    {
        CImageList wrap;
        ASSERT_TRUE(wrap.Attach(raw));
        EXPECT_TRUE(wrap.DeleteImageList());
    }
    EXPECT_EQ(ImageList_GetImageCount(raw), 0);
    EXPECT_EQ(ImageList_Add(raw, CreateBitmap(8, 8, 1, 32, nullptr), nullptr), 0); // still alive
    ImageList_Destroy(raw);

    EXPECT_TRUE(small.DeleteImageList());
    EXPECT_EQ(small.m_hImageList, nullptr);
    EXPECT_FALSE(small.DeleteImageList());
}

TEST_F(Controls, DragImageIsAHeapListTheCallerOwns) {
    CImageList icons;
    ASSERT_TRUE(icons.Create(16, 16, ILC_COLOR8 | ILC_MASK, 1, 1));
    icons.Add(MakeIcon(16, 0x33));
    CListCtrl icon;
    ASSERT_TRUE(icon.Create(LVS_ICON | WS_VISIBLE, CRect(0, 0, 200, 100), &parent, 202));
    icon.SetImageList(&icons, LVSIL_NORMAL);
    icon.InsertItem(0, "file", 0);
    POINT at = {-1, -1};
    CImageList *drag = icon.CreateDragImage(0, &at);
    ASSERT_NE(drag, nullptr);
    EXPECT_GE(drag->GetImageCount(), 1);
    EXPECT_TRUE(drag->BeginDrag(0, CPoint(0, 0)));
    EXPECT_TRUE(CImageList::DragEnter(&icon, CPoint(5, 5)));
    EXPECT_TRUE(CImageList::DragMove(CPoint(8, 8)));
    EXPECT_TRUE(CImageList::DragLeave(&icon));
    CImageList::EndDrag();
    delete drag;
    EXPECT_EQ(icons.GetImageCount(), 1);
}

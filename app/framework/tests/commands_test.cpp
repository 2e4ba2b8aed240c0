// Runtime classes, command update state, command ranges, recent files and the command line.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

class Base : public CCmdTarget {
    DECLARE_DYNCREATE(Base)
  public:
    std::vector<std::string> log;
    void OnRange(UINT id) { log.push_back("range:" + std::to_string(id)); }
    void OnUpdateOne(CCmdUI *ui) { ui->Enable(FALSE); }
    void OnUpdateRange(CCmdUI *ui) {
        ui->SetRadio(ui->m_nID == 4102);
        ui->SetCheck(ui->m_nID == 4101 ? 1 : ui->m_nCheck);
    }
    void OnUpdatePass(CCmdUI *ui) { ui->ContinueRouting(); }
    void OnHandled() { log.push_back("handled"); }
    DECLARE_MESSAGE_MAP()
};

class Derived : public Base {
    DECLARE_DYNCREATE(Derived)
};

IMPLEMENT_DYNCREATE(Base, CCmdTarget)
IMPLEMENT_DYNCREATE(Derived, Base)

BEGIN_MESSAGE_MAP(Base, CCmdTarget)
ON_COMMAND_RANGE(4100, 4103, OnRange)
ON_UPDATE_COMMAND_UI(4000, OnUpdateOne)
ON_UPDATE_COMMAND_UI_RANGE(4100, 4103, OnUpdateRange)
ON_UPDATE_COMMAND_UI(4200, OnUpdatePass)
ON_COMMAND(4300, OnHandled)
END_MESSAGE_MAP()

UINT ItemState(HMENU menu, UINT pos, UINT *type = nullptr) {
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE | MIIM_FTYPE;
    GetMenuItemInfoA(menu, pos, TRUE, &info);
    if (type)
        *type = info.fType;
    return info.fState;
}

std::string ItemString(HMENU menu, UINT pos) {
    char text[400] = {};
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = text;
    info.cch = sizeof text;
    GetMenuItemInfoA(menu, pos, TRUE, &info);
    return text;
}

} // namespace

TEST(RuntimeClass, KindsCreationAndDowncasts) {
    CObject *made = RUNTIME_CLASS(Derived)->CreateObject();
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(Derived)));
    EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(Base)));
    EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(CCmdTarget)));
    EXPECT_FALSE(made->IsKindOf(RUNTIME_CLASS(CWnd)));
    EXPECT_STREQ(made->GetRuntimeClass()->m_lpszClassName, "Derived");
    EXPECT_EQ(DYNAMIC_DOWNCAST(Base, made), made);
    EXPECT_EQ(DYNAMIC_DOWNCAST(CWnd, made), nullptr);
    EXPECT_EQ(DYNAMIC_DOWNCAST(Base, static_cast<CObject *>(nullptr)), nullptr);
    EXPECT_EQ(RUNTIME_CLASS(CWnd)->CreateObject(), nullptr); // not DYNCREATE
    delete made;

    CListCtrl list;
    EXPECT_TRUE(list.IsKindOf(RUNTIME_CLASS(CWnd)));
    EXPECT_EQ(DYNAMIC_DOWNCAST(CTreeCtrl, &list), nullptr);
    EXPECT_EQ(DYNAMIC_DOWNCAST(CListCtrl, &list), &list);
}

TEST(CommandUi, UpdateHandlersSetTheMenuAndRangesRun) {
    Derived target;
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 4000, "one");
    AppendMenuA(menu, MF_STRING, 4101, "check");
    AppendMenuA(menu, MF_STRING, 4102, "radio");
    AppendMenuA(menu, MF_STRING, 4300, "handled, no update");
    AppendMenuA(menu, MF_STRING, 4400, "no handler at all");
    AppendMenuA(menu, MF_STRING, 4200, "passes on");

    struct Case {
        UINT pos;
        BOOL autoDisable;
        BOOL handled;
        UINT state; // MFS_GRAYED | MFS_CHECKED bits expected
    } cases[] = {
        {0, TRUE, TRUE, MFS_GRAYED},  {1, TRUE, TRUE, MFS_CHECKED},
        {2, TRUE, TRUE, MFS_CHECKED}, {3, TRUE, FALSE, 0}, // has a command handler: stays enabled
        {4, TRUE, FALSE, MFS_GRAYED},                      // no handler: greyed when auto-disabling
        {4, FALSE, FALSE, 0},                              // ... and left enabled otherwise
        {5, TRUE, FALSE, MFS_GRAYED},                      // the handler passed the update on
    };
    for (auto &c : cases) {
        EnableMenuItem(menu, c.pos, MF_BYPOSITION | MF_ENABLED);
        CCmdUI ui;
        ui.m_hMenu = menu;
        ui.m_nIndex = c.pos;
        ui.m_nID = GetMenuItemID(menu, static_cast<int>(c.pos));
        EXPECT_EQ(ui.DoUpdate(&target, c.autoDisable), c.handled) << c.pos;
        EXPECT_EQ(ItemState(menu, c.pos) & (MFS_GRAYED | MFS_CHECKED), c.state) << c.pos;
    }
    UINT type = 0;
    ItemState(menu, 2, &type);
    EXPECT_TRUE(type & MFT_RADIOCHECK);
    DestroyMenu(menu);

    // No menu: the state is only recorded (the command gate reads it).
    CCmdUI bare;
    bare.m_nID = 4000;
    bare.DoUpdate(&target, TRUE);
    EXPECT_FALSE(bare.m_bEnabled);

    EXPECT_TRUE(target.OnCmdMsg(4102, CN_COMMAND, nullptr, nullptr));
    EXPECT_TRUE(target.OnCmdMsg(4300, CN_COMMAND, nullptr, nullptr));
    EXPECT_FALSE(target.OnCmdMsg(4104, CN_COMMAND, nullptr, nullptr));
    EXPECT_EQ(target.log, (std::vector<std::string>{"range:4102", "handled"}));
}

TEST(RecentFiles, OrderDuplicatesCapMenuAndProfile) {
    fwtest::TestApp &app = fwtest::App();
    app.SetRegistryKey("FrameworkUnitTest");
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\FrameworkUnitTest");
    app.LoadStdProfileSettings(6);
    ASSERT_NE(app.m_pRecentFileList, nullptr);
    CRecentFileList &list = *app.m_pRecentFileList;
    EXPECT_EQ(list.GetSize(), 0);

    // The empty list: one greyed placeholder that opens nothing.
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, ID_FILE_MRU_FILE1, "Recent File");
    AppendMenuA(menu, MF_STRING, ID_APP_EXIT, "Exit");
    CCmdUI ui;
    ui.m_hMenu = menu;
    ui.m_nIndex = 0;
    ui.m_nID = ID_FILE_MRU_FILE1;
    EXPECT_TRUE(ui.DoUpdate(&app, TRUE));
    EXPECT_EQ(GetMenuItemCount(menu), 2);
    EXPECT_TRUE(ItemState(menu, 0) & MFS_GRAYED);
    app.opened.clear();
    app.OnCmdMsg(ID_FILE_MRU_FILE1, CN_COMMAND, nullptr, nullptr);
    EXPECT_TRUE(app.opened.empty());

    std::string longPath = "C:\\" + std::string(300, 'x') + ".opj";
    for (const char *p : {"C:\\a.opj", "C:\\b.opj", "C:\\A.OPJ", "C:\\R&D\\c.opj", "", "C:\\d.opj",
                          "C:\\e.opj", "C:\\f.opj", "C:\\g.opj"})
        list.Add(p);
    list.Add(longPath.c_str());
    std::vector<std::string> now;
    for (int i = 0; i < list.GetSize(); ++i)
        now.push_back(std::string(list[i]));
    EXPECT_EQ(now, (std::vector<std::string>{"C:\\g.opj", "C:\\f.opj", "C:\\e.opj", "C:\\d.opj",
                                             "C:\\R&D\\c.opj", "C:\\A.OPJ"}));

    ui.DoUpdate(&app, TRUE);
    EXPECT_EQ(GetMenuItemCount(menu), 7);
    EXPECT_EQ(ItemString(menu, 0), "&1 C:\\g.opj");
    EXPECT_EQ(ItemString(menu, 4), "&5 C:\\R&&D\\c.opj");
    EXPECT_EQ(GetMenuItemID(menu, 5), static_cast<UINT>(ID_FILE_MRU_FILE1 + 5));
    EXPECT_EQ(GetMenuItemID(menu, 6), static_cast<UINT>(ID_APP_EXIT));
    DestroyMenu(menu);

    // The command gives the exact path, '&' and all.
    app.opened.clear();
    EXPECT_TRUE(app.OnCmdMsg(ID_FILE_MRU_FILE1 + 4, CN_COMMAND, nullptr, nullptr));
    EXPECT_EQ(app.opened, (std::vector<std::string>{"C:\\R&D\\c.opj"}));

    // Written on exit: exactly File1..File<k>; entries read back in order.
    list.Remove(5);
    list.Remove(4);
    app.WriteProfileString("Recent File List", "File6", "C:\\stale.opj");
    app.ExitInstance();
    EXPECT_STREQ(app.GetProfileString("Recent File List", "File4", ""), "C:\\d.opj");
    EXPECT_STREQ(app.GetProfileString("Recent File List", "File5", "none"), "none");
    EXPECT_STREQ(app.GetProfileString("Recent File List", "File6", "none"), "none");
    app.WriteProfileString("Recent File List", "File2", longPath.c_str());
    app.LoadStdProfileSettings(6);
    ASSERT_EQ(app.m_pRecentFileList->GetSize(), 3); // the over-long entry is skipped
    EXPECT_STREQ((*app.m_pRecentFileList)[1], "C:\\e.opj");

    app.LoadStdProfileSettings(0);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\FrameworkUnitTest");
}

TEST(CommandLine, ArgumentsAndShellCommands) {
    struct Case {
        std::vector<std::pair<const char *, bool>> args; // text, flag
        int command;
        const char *file;
    } cases[] = {
        {{}, CCommandLineInfo::FileNew, ""},
        {{{"x.opj", false}}, CCommandLineInfo::FileOpen, "x.opj"},
        {{{"C:\\my dir\\a b.opj", false}}, CCommandLineInfo::FileOpen, "C:\\my dir\\a b.opj"},
        {{{"flag", true}, {"x.OPJ", false}}, CCommandLineInfo::FileOpen, "x.OPJ"},
        {{{"first.opj", false}, {"second.opj", false}}, CCommandLineInfo::FileOpen, "first.opj"},
    };
    for (auto &c : cases) {
        CCommandLineInfo info;
        for (size_t i = 0; i < c.args.size(); ++i)
            info.ParseParam(c.args[i].first, c.args[i].second, i + 1 == c.args.size());
        EXPECT_EQ(static_cast<int>(info.m_nShellCommand), c.command);
        EXPECT_STREQ(info.m_strFileName, c.file);
    }

    fwtest::TestApp &app = fwtest::App();
    CCommandLineInfo open;
    open.ParseParam("C:\\x.opj", FALSE, TRUE);
    app.opened.clear();
    EXPECT_TRUE(app.ProcessShellCommand(open));
    CCommandLineInfo other;
    other.ParseParam("notes.txt", FALSE, TRUE);
    EXPECT_FALSE(app.ProcessShellCommand(other)); // the override gives NULL
    EXPECT_EQ(app.opened, (std::vector<std::string>{"C:\\x.opj", "notes.txt"}));
    CCommandLineInfo nothing;
    nothing.m_nShellCommand = CCommandLineInfo::FileNothing;
    EXPECT_TRUE(app.ProcessShellCommand(nothing));
}

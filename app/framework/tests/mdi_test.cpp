// The MDI frame with its templates: routing and the gate by window state, views and their
// notifications, titles, closing with the save question, layout of bars, MDI client and
// splitter panes, tool bar resources, opening by extension.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "suite_files.h"
#include "suite_paths.h"
#include "test_ids.h"
#include "test_support.h"

namespace {

std::vector<std::string> g_log;
int g_draws = 0;

// ---------------------------------------------------------------------------------------
// Documents

class ProjDoc : public CDocument {
    DECLARE_DYNCREATE(ProjDoc)
  public:
    static inline bool failNew = false;
    static inline int alive = 0;
    std::string content = "project bytes";
    ProjDoc() { ++alive; }
    ~ProjDoc() override { --alive; }
    BOOL OnNewDocument() override { return failNew ? FALSE : CDocument::OnNewDocument(); }
    void Serialize(CArchive &ar) override { fwtest::SerializeBytes(ar, content); }
    void OnDoc() { g_log.push_back("doc"); }
    void OnAll() { g_log.push_back("doc"); }
    void OnUpdateGated(CCmdUI *ui) { ui->Enable(FALSE); }
    DECLARE_MESSAGE_MAP()
};
IMPLEMENT_DYNCREATE(ProjDoc, CDocument)
BEGIN_MESSAGE_MAP(ProjDoc, CDocument)
ON_COMMAND(ID_R_DOC, OnDoc)
ON_COMMAND(ID_R_ALL, OnAll)
ON_UPDATE_COMMAND_UI(ID_R_GATED, OnUpdateGated)
END_MESSAGE_MAP()

class ResDoc : public CDocument {
    DECLARE_DYNCREATE(ResDoc)
  public:
    void OnDoc() { g_log.push_back("resdoc"); }
    DECLARE_MESSAGE_MAP()
};
IMPLEMENT_DYNCREATE(ResDoc, CDocument)
BEGIN_MESSAGE_MAP(ResDoc, CDocument)
ON_COMMAND(ID_R_DOC, OnDoc)
END_MESSAGE_MAP()

// ---------------------------------------------------------------------------------------
// Views

class LeftView : public CListView {
    DECLARE_DYNCREATE(LeftView)
  public:
    int initialUpdates = 0;
    int changed = 0;
    int doubleClicks = 0;
    std::string dropped;
    void OnInitialUpdate() override {
        ++initialUpdates;
        CListView::OnInitialUpdate();
    }
    void OnDraw(CDC *) override { ++g_draws; }
    void OnView() { g_log.push_back("view"); }
    void OnAll() { g_log.push_back("view"); }
    void OnItemChanged(NMHDR *, LRESULT *) { ++changed; }
    void OnDblClk(NMHDR *, LRESULT *) { ++doubleClicks; }
    void OnDropFiles(HDROP drop) {
        char name[MAX_PATH] = {};
        DragQueryFileA(drop, 0, name, MAX_PATH);
        dropped = name;
    }
    DECLARE_MESSAGE_MAP()
};
IMPLEMENT_DYNCREATE(LeftView, CListView)
BEGIN_MESSAGE_MAP(LeftView, CListView)
ON_COMMAND(ID_R_VIEW, OnView)
ON_COMMAND(ID_R_ALL, OnAll)
ON_NOTIFY_REFLECT(LVN_ITEMCHANGED, OnItemChanged)
ON_NOTIFY_REFLECT(NM_DBLCLK, OnDblClk)
ON_WM_DROPFILES()
END_MESSAGE_MAP()

class TreePane : public CTreeView {
    DECLARE_DYNCREATE(TreePane)
  public:
    int initialUpdates = 0;
    int selChanged = 0;
    void OnInitialUpdate() override {
        ++initialUpdates;
        CTreeView::OnInitialUpdate();
    }
    void OnDraw(CDC *) override { ++g_draws; }
    void OnSelChanged(NMHDR *, LRESULT *) { ++selChanged; }
    DECLARE_MESSAGE_MAP()
};
IMPLEMENT_DYNCREATE(TreePane, CTreeView)
BEGIN_MESSAGE_MAP(TreePane, CTreeView)
ON_NOTIFY_REFLECT(TVN_SELCHANGED, OnSelChanged)
END_MESSAGE_MAP()

// A view whose window cannot be made.
class FailView : public CListView {
    DECLARE_DYNCREATE(FailView)
  public:
    BOOL PreCreateWindow(CREATESTRUCTA &) override { return FALSE; }
};
IMPLEMENT_DYNCREATE(FailView, CListView)

// ---------------------------------------------------------------------------------------
// Splitter and frames

class LoggingSplit : public CSplitterWnd {
  public:
    void OnLButtonUp(UINT flags, CPoint point) {
        g_log.push_back("split up");
        CSplitterWnd::OnLButtonUp(flags, point);
    }
    void OnMouseMove(UINT flags, CPoint point) {
        g_log.push_back("split move");
        CSplitterWnd::OnMouseMove(flags, point);
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(LoggingSplit, CSplitterWnd)
ON_WM_LBUTTONUP()
ON_WM_MOUSEMOVE()
END_MESSAGE_MAP()

// Two panes: `left` 250 wide, `right` the rest.
BOOL MakePanes(CFrameWnd *frame, LoggingSplit &split, CCreateContext *ctx, CRuntimeClass *left,
               CRuntimeClass *right) {
    if (!split.CreateStatic(frame, 1, 2, WS_CHILD | WS_VISIBLE, AFX_IDW_PANE_FIRST))
        return FALSE;
    if (!split.CreateView(0, 0, left, CSize(250, 100), ctx) ||
        !split.CreateView(0, 1, right, CSize(400, 100), ctx)) {
        split.DestroyWindow();
        return FALSE;
    }
    return TRUE;
}

class ProjChild : public CMDIChildWnd {
    DECLARE_DYNCREATE(ProjChild)
  public:
    LoggingSplit split;
    BOOL OnCreateClient(LPCREATESTRUCT, CCreateContext *ctx) override {
        return MakePanes(this, split, ctx, RUNTIME_CLASS(LeftView), RUNTIME_CLASS(TreePane));
    }
    void OnChild() { g_log.push_back("child"); }
    void OnUpdateDetails(CCmdUI *ui) {
        ui->Enable(TRUE);
        ui->SetRadio(TRUE);
    }
    void OnUpdateOthers(CCmdUI *ui) { ui->Enable(FALSE); }
    void OnDetails() { g_log.push_back("details"); }
    void OnClose() {
        g_log.push_back("close");
        CMDIChildWnd::OnClose();
    }
    void OnDestroy() {
        g_log.push_back("destroy");
        // The views are still there.
        if (!split.GetPane(0, 0) || !IsWindow(split.GetPane(0, 0)->m_hWnd))
            g_log.push_back("views gone");
        CMDIChildWnd::OnDestroy();
    }
    DECLARE_MESSAGE_MAP()
};
IMPLEMENT_DYNCREATE(ProjChild, CMDIChildWnd)
BEGIN_MESSAGE_MAP(ProjChild, CMDIChildWnd)
ON_COMMAND(ID_R_CHILD, OnChild)
ON_COMMAND(ID_VIEW_DETAILS, OnDetails)
ON_UPDATE_COMMAND_UI(ID_VIEW_DETAILS, OnUpdateDetails)
ON_UPDATE_COMMAND_UI_RANGE(ID_VIEW_SMALLICON, ID_VIEW_LIST, OnUpdateOthers)
ON_WM_CLOSE()
ON_WM_DESTROY()
END_MESSAGE_MAP()

class ResChild : public CMDIChildWnd {
    DECLARE_DYNCREATE(ResChild)
  public:
    LoggingSplit split;
    BOOL OnCreateClient(LPCREATESTRUCT, CCreateContext *ctx) override {
        return MakePanes(this, split, ctx, RUNTIME_CLASS(TreePane), RUNTIME_CLASS(LeftView));
    }
    void OnChild() { g_log.push_back("reschild"); }
    DECLARE_MESSAGE_MAP()
};
IMPLEMENT_DYNCREATE(ResChild, CMDIChildWnd)
BEGIN_MESSAGE_MAP(ResChild, CMDIChildWnd)
ON_COMMAND(ID_R_CHILD, OnChild)
ON_COMMAND(ID_R_ALL, OnChild)
END_MESSAGE_MAP()

class BadChild : public CMDIChildWnd {
    DECLARE_DYNCREATE(BadChild)
  public:
    LoggingSplit split;
    BOOL OnCreateClient(LPCREATESTRUCT, CCreateContext *ctx) override {
        return MakePanes(this, split, ctx, RUNTIME_CLASS(LeftView), RUNTIME_CLASS(FailView));
    }
};
IMPLEMENT_DYNCREATE(BadChild, CMDIChildWnd)

class TestBar : public CDialogBar {
  public:
    CSize CalcDynamicLayout(int, DWORD mode) override {
        g_log.push_back(mode == (LM_HORZ | LM_HORZDOCK) ? "bar layout" : "bar layout?");
        return CSize(10, 57);
    }
    void OnOwn() { g_log.push_back("bar button"); }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(TestBar, CDialogBar)
ON_BN_CLICKED(IDC_BAR_OWN, OnOwn)
END_MESSAGE_MAP()

class MainFrame : public CMDIFrameWnd {
  public:
    static inline UINT toolbarId = IDR_MAIN;
    TestBar bar;
    CToolBar toolBar;
    CStatusBar statusBar;
    int OnCreate(LPCREATESTRUCT cs) {
        if (CMDIFrameWnd::OnCreate(cs) == -1)
            return -1;
        if (!bar.Create(this, IDD_BAR, CBRS_ALIGN_BOTTOM | CBRS_BORDER_TOP, IDR_MAIN))
            return -1;
        bar.EnableDocking(CBRS_ALIGN_BOTTOM);
        EnableDocking(CBRS_ALIGN_BOTTOM);
        DockControlBar(&bar);
        if (!toolBar.CreateEx(this, TBSTYLE_FLAT, WS_CHILD | WS_VISIBLE | CBRS_TOP,
                              CRect(0, 0, 0, 0), AFX_IDW_TOOLBAR) ||
            !toolBar.LoadToolBar(toolbarId))
            return -1;
        static const UINT indicators[] = {ID_SEPARATOR, ID_INDICATOR_CAPS, ID_INDICATOR_NUM,
                                          ID_INDICATOR_SCRL};
        if (!statusBar.Create(this) || !statusBar.SetIndicators(indicators, 4))
            return -1;
        ShowControlBar(&toolBar, FALSE, FALSE);
        ShowControlBar(&statusBar, FALSE, FALSE);
        return 0;
    }
    void OnMain() { g_log.push_back("main"); }
    void OnOwner() { g_log.push_back("owner button"); }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(MainFrame, CMDIFrameWnd)
ON_WM_CREATE()
ON_COMMAND(ID_R_MAIN, OnMain)
ON_COMMAND(ID_R_ALL, OnMain)
ON_COMMAND(ID_R_GATED, OnMain)
ON_BN_CLICKED(IDC_BAR_OWNER, OnOwner)
END_MESSAGE_MAP()

// ---------------------------------------------------------------------------------------
// Helpers

std::string Text(HWND hwnd) {
    char text[256] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

CRect ClientRectIn(HWND hwnd, HWND parent) {
    CRect r;
    GetWindowRect(hwnd, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&r), 2);
    return r;
}

std::string DataPath(const char *leaf) {
    return suite::TestDataDir() + "\\" + leaf;
}

CDocTemplate *g_project = nullptr;
CDocTemplate *g_resource = nullptr;

class Mdi : public ::testing::Test {
  protected:
    MainFrame *main = nullptr;
    HWND mainHwnd = nullptr;

    void SetUp() override {
        AfxSetResourceHandle(GetModuleHandleA(nullptr));
        AfxTestSeam::Begin();
        fwtest::TestApp &app = fwtest::App();
        if (!g_project) {
            g_project = new CMultiDocTemplate(IDR_PROJECT, RUNTIME_CLASS(ProjDoc),
                                              RUNTIME_CLASS(ProjChild), RUNTIME_CLASS(LeftView));
            g_resource = new CMultiDocTemplate(IDR_RESOURCE, RUNTIME_CLASS(ResDoc),
                                               RUNTIME_CLASS(ResChild), RUNTIME_CLASS(TreePane));
            app.AddDocTemplate(g_project);
            app.AddDocTemplate(g_resource);
        }
        g_log.clear();
        g_draws = 0;
        ProjDoc::failNew = false;
        MainFrame::toolbarId = IDR_MAIN;
        main = new MainFrame;
        ASSERT_TRUE(main->LoadFrame(IDR_MAIN));
        mainHwnd = main->m_hWnd;
        main->MoveWindow(0, 0, 800, 600);
        main->ShowWindow(SW_SHOW);
        app.m_pMainWnd = main;
        g_log.clear();
    }

    void TearDown() override {
        fwtest::TestApp &app = fwtest::App();
        app.CloseAllDocuments(FALSE);
        app.m_pMainWnd = nullptr; // no quit message for the test's queue
        if (IsWindow(mainHwnd))
            DestroyWindow(mainHwnd);
        fwtest::RunQueue();
        AfxTestSeam::End();
    }

    CDocument *NewProject() { return g_project->OpenDocumentFile(nullptr); }
    CDocument *NewResource() { return g_resource->OpenDocumentFile(nullptr); }

    static CView *FirstView(CDocument *doc) {
        POSITION pos = doc->GetFirstViewPosition();
        return pos ? doc->GetNextView(pos) : nullptr;
    }
    static CFrameWnd *FrameOf(CDocument *doc) { return FirstView(doc)->GetParentFrame(); }
    int Children() const {
        int n = 0;
        for (HWND h = GetWindow(main->m_hWndMDIClient, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
            if (CWnd::FromHandlePermanent(h))
                ++n;
        return n;
    }
};

} // namespace

// ---------------------------------------------------------------------------------------

TEST_F(Mdi, RoutingAndGateByWindowState) {
    fwtest::TestApp &app = fwtest::App();
    struct Case {
        const char *state; // "none", "project", "resource"
        UINT id;
        const char *ran; // "" for nothing
    } cases[] = {
        {"none", ID_R_VIEW, ""},
        {"none", ID_R_DOC, ""},
        {"none", ID_R_CHILD, ""},
        {"none", ID_R_MAIN, "main"},
        {"none", ID_R_ALL, "main"},
        {"none", ID_APP_CMD, "app"},
        {"none", ID_R_GATED, "main"},
        {"project", ID_R_VIEW, "view"},
        {"project", ID_R_DOC, "doc"},
        {"project", ID_R_CHILD, "child"},
        {"project", ID_R_MAIN, "main"},
        {"project", ID_R_ALL, "view"},
        {"project", ID_APP_CMD, "app"},
        {"project", ID_R_GATED, ""},
        {"resource", ID_R_VIEW, ""},
        {"resource", ID_R_DOC, "resdoc"},
        {"resource", ID_R_CHILD, "reschild"},
        {"resource", ID_R_ALL, "reschild"},
        {"resource", ID_R_GATED, "main"},
    };
    CDocument *project = nullptr;
    CDocument *resource = nullptr;
    for (const Case &c : cases) {
        std::string state = c.state;
        if (state == "project" && !project) {
            project = NewProject();
            ASSERT_NE(project, nullptr);
        } else if (state == "resource" && !resource) {
            resource = NewResource();
            ASSERT_NE(resource, nullptr);
        }
        if (state == "project")
            main->MDIActivate(FrameOf(project));
        if (state == "resource")
            main->MDIActivate(FrameOf(resource));
        ASSERT_EQ(main->MDIGetActive() != nullptr, state != "none") << state;
        // A menu command and an accelerator command, posted.
        for (WORD code : {0, 1}) {
            g_log.clear();
            app.commands.clear();
            PostMessageA(mainHwnd, WM_COMMAND, MAKEWPARAM(c.id, code), 0);
            fwtest::RunQueue();
            std::vector<std::string> ran = g_log;
            for (auto &a : app.commands)
                ran.push_back(a);
            std::vector<std::string> want;
            if (*c.ran)
                want.push_back(c.ran);
            EXPECT_EQ(ran, want) << state << " " << c.id << " code " << code;
        }
    }

    // The accelerator key of the gated command runs nothing under the project window.
    main->MDIActivate(FrameOf(project));
    g_log.clear();
    PostMessageA(mainHwnd, WM_KEYDOWN, VK_F6, 0x00400001);
    PostMessageA(mainHwnd, WM_KEYDOWN, VK_F5, 0x003F0001);
    fwtest::RunQueue();
    EXPECT_EQ(g_log, std::vector<std::string>{"view"});

    // A control notification with the gated id passes.
    g_log.clear();
    HWND button = CreateWindowExA(0, "BUTTON", "b", WS_CHILD, 0, 0, 10, 10, mainHwnd,
                                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(ID_R_GATED)),
                                  nullptr, nullptr);
    SendMessageA(mainHwnd, WM_COMMAND, MAKEWPARAM(ID_R_GATED, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    EXPECT_EQ(g_log, std::vector<std::string>{"main"});
    DestroyWindow(button);

    // The Window menu lists the children from 0xFF00; that command activates one.
    HMENU window = GetSubMenu(GetMenu(mainHwnd), 3);
    std::vector<UINT> ids;
    for (int i = 0; i < GetMenuItemCount(window); ++i)
        ids.push_back(GetMenuItemID(window, i));
    EXPECT_NE(std::find(ids.begin(), ids.end(), AFX_IDM_FIRST_MDICHILD), ids.end());
    EXPECT_NE(std::find(ids.begin(), ids.end(), AFX_IDM_FIRST_MDICHILD + 1), ids.end());
    for (UINT id : {AFX_IDM_FIRST_MDICHILD, AFX_IDM_FIRST_MDICHILD + 1}) {
        PostMessageA(mainHwnd, WM_COMMAND, id, 0);
        fwtest::RunQueue();
        CMDIChildWnd *active = main->MDIGetActive();
        ASSERT_NE(active, nullptr);
        char name[64] = {};
        GetMenuStringA(window, id, name, sizeof name, MF_BYCOMMAND);
        EXPECT_NE(std::string(name).find(Text(active->m_hWnd)), std::string::npos) << name;
    }
}

TEST_F(Mdi, MenuUpdatesFollowTheActiveChild) {
    auto state = [](HMENU menu, int pos) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STATE | MIIM_FTYPE;
        GetMenuItemInfoA(menu, static_cast<UINT>(pos), TRUE, &info);
        return std::make_pair(static_cast<UINT>(info.fState & (MFS_GRAYED | MFS_CHECKED)),
                              static_cast<UINT>(info.fType & MFT_RADIOCHECK));
    };
    HMENU view = GetSubMenu(GetMenu(mainHwnd), 2);
    HMENU window = GetSubMenu(GetMenu(mainHwnd), 3);
    const auto grey = std::make_pair(static_cast<UINT>(MFS_GRAYED), 0u);
    const auto plain = std::make_pair(0u, 0u);

    SendMessageA(mainHwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(view), MAKELPARAM(2, FALSE));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(state(view, i), grey) << i; // no child: no handler
    SendMessageA(mainHwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(window),
                 MAKELPARAM(3, FALSE));
    EXPECT_EQ(state(window, 1), grey); // cascade needs a child

    ASSERT_NE(NewProject(), nullptr);
    SendMessageA(mainHwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(view), MAKELPARAM(2, FALSE));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(state(view, i), grey) << i;
    EXPECT_EQ(state(view, 3),
              std::make_pair(static_cast<UINT>(MFS_CHECKED), static_cast<UINT>(MFT_RADIOCHECK)));
    SendMessageA(mainHwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(window),
                 MAKELPARAM(3, FALSE));
    EXPECT_EQ(state(window, 1), plain);
    // The children's entries are left to the MDI client.
    for (int i = 0; i < GetMenuItemCount(window); ++i) {
        if (GetMenuItemID(window, i) >= AFX_IDM_FIRST_MDICHILD) {
            EXPECT_EQ(state(window, i).first & MFS_GRAYED, 0u);
        }
    }

    // Handler-less items stay enabled with m_bAutoMenuEnable FALSE.
    main->m_bAutoMenuEnable = FALSE;
    HMENU route = GetSubMenu(GetMenu(mainHwnd), 1);
    EnableMenuItem(route, 0, MF_BYPOSITION | MF_ENABLED);
    CDocument *res = NewResource();
    ASSERT_NE(res, nullptr);
    SendMessageA(mainHwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(route), MAKELPARAM(1, FALSE));
    EXPECT_EQ(state(route, 0), plain); // ID_R_VIEW: no handler under the resource window
    main->m_bAutoMenuEnable = TRUE;
    SendMessageA(mainHwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(route), MAKELPARAM(1, FALSE));
    EXPECT_EQ(state(route, 0), grey);
}

TEST_F(Mdi, AMaximisedChildsMenuBarButtonsReachIt) {
    // The buttons a maximised child puts in the menu bar send the system's commands to the
    // main frame; no update handler knows them, and they are not the gate's to drop.
    ASSERT_TRUE(main->m_bAutoMenuEnable);
    CDocument *doc = NewProject();
    ASSERT_NE(doc, nullptr);
    HWND child = FrameOf(doc)->m_hWnd;
    SendMessageA(main->m_hWndMDIClient, WM_MDIMAXIMIZE, reinterpret_cast<WPARAM>(child), 0);
    BOOL maximized = FALSE;
    main->MDIGetActive(&maximized);
    ASSERT_TRUE(maximized);
    PostMessageA(mainHwnd, WM_COMMAND, SC_RESTORE, 0);
    fwtest::RunQueue();
    main->MDIGetActive(&maximized);
    EXPECT_FALSE(maximized);
    SendMessageA(main->m_hWndMDIClient, WM_MDIMAXIMIZE, reinterpret_cast<WPARAM>(child), 0);
    PostMessageA(mainHwnd, WM_COMMAND, SC_CLOSE, 0);
    fwtest::RunQueue();
    EXPECT_FALSE(IsWindow(child));
}

TEST_F(Mdi, TitlesInitialUpdatesAndFailedCreation) {
    // A template of its own: the count of new documents starts at 1.
    CMultiDocTemplate proj(IDR_PROJECT, RUNTIME_CLASS(ProjDoc), RUNTIME_CLASS(ProjChild),
                           RUNTIME_CLASS(LeftView));
    CDocument *one = proj.OpenDocumentFile(nullptr);
    CDocument *two = proj.OpenDocumentFile(nullptr);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    EXPECT_STREQ(one->GetTitle(), "Project1");
    EXPECT_STREQ(two->GetTitle(), "Project2");
    EXPECT_EQ(Text(FrameOf(one)->m_hWnd), "Project1");
    EXPECT_EQ(Text(mainHwnd), "Kelvane - Project2");
    two->SetTitle("Renamed & co");
    EXPECT_EQ(Text(FrameOf(two)->m_hWnd), "Renamed & co");
    EXPECT_EQ(Text(mainHwnd), "Kelvane - Renamed & co");
    main->MDINext();
    EXPECT_EQ(main->MDIGetActive(), FrameOf(one));
    EXPECT_EQ(Text(mainHwnd), "Kelvane - Project1");
    main->MDIActivate(FrameOf(two));

    // Each view had one initial update; the first pane is the active view.
    auto *frame = static_cast<ProjChild *>(FrameOf(one));
    auto *left = static_cast<LeftView *>(frame->split.GetPane(0, 0));
    auto *right = static_cast<TreePane *>(frame->split.GetPane(0, 1));
    EXPECT_EQ(left->initialUpdates, 1);
    EXPECT_EQ(right->initialUpdates, 1);
    EXPECT_EQ(frame->GetActiveView(), left);
    EXPECT_EQ(left->GetDocument(), one);
    EXPECT_EQ(right->GetDocument(), one);
    EXPECT_EQ(left->GetParentFrame(), frame);
    // A click on the other pane makes it active.
    SendMessageA(right->m_hWnd, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(mainHwnd),
                 MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
    EXPECT_EQ(frame->GetActiveView(), right);

    // A failing OnNewDocument, and a failing pane, leave no window and no document.
    int children = Children();
    int alive = ProjDoc::alive;
    ProjDoc::failNew = true;
    EXPECT_EQ(proj.OpenDocumentFile(nullptr), nullptr);
    ProjDoc::failNew = false;
    EXPECT_EQ(Children(), children);
    EXPECT_EQ(ProjDoc::alive, alive);
    CMultiDocTemplate bad(IDR_BAD_PANE, RUNTIME_CLASS(ProjDoc), RUNTIME_CLASS(BadChild),
                          RUNTIME_CLASS(LeftView));
    EXPECT_EQ(bad.OpenDocumentFile(nullptr), nullptr);
    EXPECT_EQ(Children(), children);
    EXPECT_EQ(ProjDoc::alive, alive);
    EXPECT_EQ(bad.GetFirstDocPosition(), nullptr);
    EXPECT_STREQ(two->GetTitle(), "Renamed & co"); // the count moved on only for made documents
    CDocument *three = proj.OpenDocumentFile(nullptr);
    ASSERT_NE(three, nullptr);
    EXPECT_STREQ(three->GetTitle(), "Project3");
    proj.CloseAllDocuments(FALSE);

    // Missing template fields read as empty; a template without strings names "Untitled".
    CString field;
    EXPECT_FALSE(g_resource->GetDocString(field, CDocTemplate::filterExt));
    EXPECT_STREQ(field, "");
    EXPECT_TRUE(g_project->GetDocString(field, CDocTemplate::filterExt));
    EXPECT_STREQ(field, ".opj");
    CMultiDocTemplate bare(IDR_NO_STRINGS, RUNTIME_CLASS(ResDoc), RUNTIME_CLASS(ResChild),
                           RUNTIME_CLASS(TreePane));
    CDocument *untitled = bare.OpenDocumentFile(nullptr);
    ASSERT_NE(untitled, nullptr);
    EXPECT_STREQ(untitled->GetTitle(), "Untitled");
    bare.CloseAllDocuments(FALSE);
}

TEST_F(Mdi, ViewsPaintAsControlsAndTakeReflectedNotifications) {
    CDocument *doc = NewProject();
    ASSERT_NE(doc, nullptr);
    auto *frame = static_cast<ProjChild *>(FrameOf(doc));
    auto *left = static_cast<LeftView *>(frame->split.GetPane(0, 0));
    auto *tree = static_cast<TreePane *>(frame->split.GetPane(0, 1));
    RedrawWindow(left->m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
    RedrawWindow(tree->m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
    fwtest::RunQueue();
    EXPECT_EQ(g_draws, 0);

    CListCtrl &list = left->GetListCtrl();
    ASSERT_EQ(list.InsertItem(0, "row"), 0);
    left->changed = 0;
    list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_GT(left->changed, 0);
    NMHDR hdr = {left->m_hWnd, static_cast<UINT_PTR>(left->GetDlgCtrlID()),
                 static_cast<UINT>(NM_DBLCLK)};
    SendMessageA(frame->split.m_hWnd, WM_NOTIFY, hdr.idFrom, reinterpret_cast<LPARAM>(&hdr));
    EXPECT_EQ(left->doubleClicks, 1);

    CTreeCtrl &tc = tree->GetTreeCtrl();
    HTREEITEM a = tc.InsertItem("a");
    HTREEITEM b = tc.InsertItem("b");
    tc.SelectItem(a);
    int before = tree->selChanged;
    tc.SelectItem(b);
    EXPECT_GT(tree->selChanged, before);

    // A built drop of one file.
    const char file[] = "C:\\drop\\x.prn";
    SIZE_T size = sizeof(DROPFILES) + sizeof file + 1;
    HGLOBAL mem = GlobalAlloc(GHND, size);
    auto *drop = static_cast<DROPFILES *>(GlobalLock(mem));
    drop->pFiles = sizeof(DROPFILES);
    memcpy(reinterpret_cast<char *>(drop) + sizeof(DROPFILES), file, sizeof file);
    GlobalUnlock(mem);
    SendMessageA(left->m_hWnd, WM_DROPFILES, reinterpret_cast<WPARAM>(mem), 0);
    GlobalFree(mem);
    EXPECT_EQ(left->dropped, file);
}

TEST_F(Mdi, ClosingAsksToSaveAndDestroyingSkipsClose) {
    std::string path = DataPath("mdi_close.opj");
    DeleteFileA(path.c_str());
    CDocument *doc = NewProject();
    ASSERT_NE(doc, nullptr);
    HWND child = FrameOf(doc)->m_hWnd;
    doc->SetModifiedFlag();
    AfxTestSeam::TakeLog();

    // Cancel keeps the window; No closes it without saving.
    AfxTestSeam::PushAnswer("IDCANCEL");
    SendMessageA(child, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(child));
    auto log = AfxTestSeam::TakeLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].flags & MB_TYPEMASK, static_cast<UINT>(MB_YESNOCANCEL));
    EXPECT_NE(log[0].text.find(static_cast<const char *>(doc->GetTitle())), std::string::npos);
    int alive = ProjDoc::alive;
    AfxTestSeam::PushAnswer("IDNO");
    SendMessageA(child, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(ProjDoc::alive, alive - 1);
    EXPECT_EQ(AfxTestSeam::TakeLog().size(), 1u);

    // Yes with no path prompts with the template's filter and saves to the answer.
    doc = NewProject();
    child = FrameOf(doc)->m_hWnd;
    doc->SetModifiedFlag();
    AfxTestSeam::PushAnswer("IDYES");
    AfxTestSeam::PushAnswer("file:" + path);
    SendMessageA(child, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(suite::ReadAll(path), "project bytes");
    log = AfxTestSeam::TakeLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].kind, "save");
    EXPECT_EQ(log[1].filter, "Project Files (*.opj)|*.opj|All Files (*.*)|*.*|");
    EXPECT_EQ(log[1].ext, "opj");
    EXPECT_NE(log[1].flags & OFN_OVERWRITEPROMPT, 0u);

    // Destroying the active child runs OnDestroy (views still there), not OnClose, deletes
    // its document and activates the other.
    CDocument *first = NewProject();
    CDocument *second = NewProject();
    first->SetModifiedFlag();
    second->SetModifiedFlag();
    alive = ProjDoc::alive;
    g_log.clear();
    CFrameWnd *active = main->MDIGetActive();
    ASSERT_EQ(active, FrameOf(second));
    active->DestroyWindow();
    EXPECT_EQ(g_log, std::vector<std::string>{"destroy"});
    EXPECT_EQ(ProjDoc::alive, alive - 1);
    EXPECT_EQ(main->MDIGetActive(), FrameOf(first));
    EXPECT_EQ(Text(mainHwnd), "Kelvane - " + std::string(first->GetTitle()));
    EXPECT_TRUE(AfxTestSeam::TakeLog().empty()); // no question on destroy
}

TEST_F(Mdi, SaveCommandsAndExitSaveOneThenStay) {
    std::string pathA = DataPath("mdi_a.opj"), pathB = DataPath("mdi_b.opj");
    suite::WriteAll(pathA, "old a");
    suite::WriteAll(pathB, "old b");
    auto *a = static_cast<ProjDoc *>(NewProject());
    auto *b = static_cast<ProjDoc *>(NewProject());
    a->SetPathName(pathA.c_str(), FALSE);
    b->SetPathName(pathB.c_str(), FALSE);
    // Same titles: each document still reaches its own views.
    a->SetTitle("Same");
    b->SetTitle("Same");
    for (ProjDoc *doc : {a, b}) {
        for (POSITION pos = doc->GetFirstViewPosition(); pos;) {
            CView *view = doc->GetNextView(pos);
            EXPECT_EQ(view->GetDocument(), doc);
            EXPECT_EQ(view->GetParentFrame(), FrameOf(doc));
        }
    }
    EXPECT_NE(FrameOf(a), FrameOf(b));

    // Save through the menu command reaches the active child's document.
    main->MDIActivate(FrameOf(a));
    a->content = "saved a";
    a->SetModifiedFlag();
    PostMessageA(mainHwnd, WM_COMMAND, ID_FILE_SAVE, 0);
    fwtest::RunQueue();
    EXPECT_EQ(suite::ReadAll(pathA), "saved a");
    EXPECT_FALSE(a->IsModified());

    // Exit: Yes for the first, Cancel for the second; one saved, the main window stays.
    a->content = "exit a";
    b->content = "exit b";
    a->SetModifiedFlag();
    b->SetModifiedFlag();
    AfxTestSeam::TakeLog();
    AfxTestSeam::PushAnswer("IDYES");
    AfxTestSeam::PushAnswer("IDCANCEL");
    SendMessageA(mainHwnd, WM_COMMAND, ID_APP_EXIT, 0);
    EXPECT_TRUE(IsWindow(mainHwnd));
    EXPECT_EQ(AfxTestSeam::TakeLog().size(), 2u);
    EXPECT_EQ(suite::ReadAll(pathA), "exit a");
    EXPECT_EQ(suite::ReadAll(pathB), "old b");
    EXPECT_TRUE(b->IsModified());
    EXPECT_EQ(Children(), 2);

    // Closing the main window with No for the rest closes all.
    AfxTestSeam::PushAnswer("IDNO");
    int alive = ProjDoc::alive;
    SendMessageA(mainHwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(mainHwnd));
    EXPECT_EQ(ProjDoc::alive, alive - 2);
    EXPECT_EQ(suite::ReadAll(pathB), "old b");
    fwtest::RunQueue();
    MSG quit;
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

TEST_F(Mdi, LayoutOfBarsClientAndPanes) {
    CRect client;
    main->GetClientRect(&client);
    HWND mdiClient = main->m_hWndMDIClient;

    // A posted WM_SIZE with lParam 0: the layout follows the client rectangle.
    g_log.clear();
    PostMessageA(mainHwnd, WM_SIZE, SIZE_RESTORED, 0);
    fwtest::RunQueue();
    EXPECT_NE(std::find(g_log.begin(), g_log.end(), "bar layout"), g_log.end());
    EXPECT_EQ(std::find(g_log.begin(), g_log.end(), "bar layout?"), g_log.end());
    CRect bar = ClientRectIn(main->bar.m_hWnd, mainHwnd);
    EXPECT_EQ(bar.Height(), 57);
    EXPECT_EQ(bar.bottom, client.bottom);
    EXPECT_EQ(bar.Width(), client.Width());
    CRect mdi = ClientRectIn(mdiClient, mainHwnd);
    EXPECT_EQ(mdi.top, 0);
    EXPECT_EQ(mdi.bottom, client.bottom - 57);

    // Showing the tool bar (button 57600) and the status bar shrinks the MDI client.
    ASSERT_EQ(main->toolBar.GetCount(), 1);
    EXPECT_EQ(main->toolBar.GetItemID(0), static_cast<UINT>(ID_FILE_NEW));
    main->ShowControlBar(&main->toolBar, TRUE, FALSE);
    CRect tool = ClientRectIn(main->toolBar.m_hWnd, mainHwnd);
    EXPECT_GT(tool.Height(), 15);
    mdi = ClientRectIn(mdiClient, mainHwnd);
    EXPECT_EQ(mdi.top, tool.Height());
    main->ShowControlBar(&main->statusBar, TRUE, FALSE);
    CRect status = ClientRectIn(main->statusBar.m_hWnd, mainHwnd);
    EXPECT_EQ(status.bottom, client.bottom);
    EXPECT_EQ(ClientRectIn(main->bar.m_hWnd, mainHwnd).bottom, status.top);
    mdi = ClientRectIn(mdiClient, mainHwnd);
    EXPECT_EQ(mdi.bottom, status.top - 57);
    main->ShowControlBar(&main->toolBar, FALSE, FALSE);
    main->ShowControlBar(&main->statusBar, FALSE, FALSE);
    EXPECT_EQ(ClientRectIn(mdiClient, mainHwnd).top, 0);

    // The bar's controls: its own handler first, else its owner's.
    g_log.clear();
    SendMessageA(main->bar.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BAR_OWN, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(main->bar.m_hWnd, IDC_BAR_OWN)));
    SendMessageA(main->bar.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BAR_OWNER, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(main->bar.m_hWnd, IDC_BAR_OWNER)));
    EXPECT_EQ(g_log, (std::vector<std::string>{"bar button", "owner button"}));

    // Splitter: 250 and the rest; a drag of the divider through the derived handlers.
    CDocument *doc = NewProject();
    ASSERT_NE(doc, nullptr);
    auto *frame = static_cast<ProjChild *>(FrameOf(doc));
    frame->MoveWindow(0, 0, 700, 400);
    CRect split;
    frame->split.GetClientRect(&split);
    CRect left = ClientRectIn(frame->split.GetPane(0, 0)->m_hWnd, frame->split.m_hWnd);
    CRect right = ClientRectIn(frame->split.GetPane(0, 1)->m_hWnd, frame->split.m_hWnd);
    EXPECT_EQ(frame->split.GetPane(0, 1)->GetDlgCtrlID(), AFX_IDW_PANE_FIRST + 1);
    EXPECT_EQ(left.left, 0);
    EXPECT_EQ(left.Width(), 250);
    EXPECT_EQ(right.left, 250 + CSplitterWnd::kSplitterGap);
    EXPECT_EQ(right.right, split.right);
    EXPECT_EQ(left.Height(), split.Height());
    g_log.clear();
    HWND s = frame->split.m_hWnd;
    PostMessageA(s, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(252, 50));
    PostMessageA(s, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(280, 50));
    PostMessageA(s, WM_LBUTTONUP, 0, MAKELPARAM(300, 50));
    fwtest::RunQueue();
    EXPECT_EQ(g_log, (std::vector<std::string>{"split move", "split up"}));
    EXPECT_EQ(ClientRectIn(frame->split.GetPane(0, 0)->m_hWnd, s).Width(), 300);
    EXPECT_EQ(ClientRectIn(frame->split.GetPane(0, 1)->m_hWnd, s).left,
              300 + CSplitterWnd::kSplitterGap);
    // A move without a press moves nothing.
    PostMessageA(s, WM_MOUSEMOVE, 0, MAKELPARAM(100, 50));
    fwtest::RunQueue();
    EXPECT_EQ(ClientRectIn(frame->split.GetPane(0, 0)->m_hWnd, s).Width(), 300);
    // A drag whose capture went elsewhere is over: later moves leave the divider.
    SendMessageA(s, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(302, 50));
    EXPECT_EQ(GetCapture(), s);
    SetCapture(mainHwnd);
    ReleaseCapture();
    SendMessageA(s, WM_MOUSEMOVE, 0, MAKELPARAM(200, 50));
    EXPECT_EQ(ClientRectIn(frame->split.GetPane(0, 0)->m_hWnd, s).Width(), 300);
}

TEST_F(Mdi, ToolBarResourcesOfAnotherKindFailCreation) {
    for (UINT id : {UINT{IDR_BAD_TOOLBAR}, UINT{IDR_SHORT_TOOLBAR}, UINT{499}}) {
        MainFrame::toolbarId = id;
        auto *frame = new MainFrame;
        EXPECT_FALSE(frame->LoadFrame(IDR_MAIN)) << id; // OnCreate gave -1; the frame went
    }
    CToolBar bar;
    ASSERT_TRUE(bar.CreateEx(main));
    EXPECT_FALSE(bar.LoadToolBar(IDR_SHORT_TOOLBAR));
    EXPECT_TRUE(bar.LoadToolBar(IDR_MAIN));
    bar.DestroyWindow();
}

TEST_F(Mdi, OpeningByExtension) {
    fwtest::TestApp &app = fwtest::App();
    std::string upper = DataPath("mdi_open.OPJ");
    suite::WriteAll(upper, "on disk");
    std::string other = DataPath("mdi_open.txt");
    suite::WriteAll(other, "text");
    struct Case {
        std::string path;
        bool opens;
    } cases[] = {
        {upper, true},
        {other, false},                       // no template for .txt
        {DataPath("mdi_missing.opj"), false}, // missing file
        {"", false},
    };
    for (const Case &c : cases) {
        AfxTestSeam::TakeLog();
        CDocument *doc = app.CWinApp::OpenDocumentFile(c.path.c_str());
        EXPECT_EQ(doc != nullptr, c.opens) << c.path;
        if (doc) {
            EXPECT_EQ(static_cast<ProjDoc *>(doc)->content, "on disk");
            EXPECT_STREQ(doc->GetTitle(), "mdi_open.OPJ");
            EXPECT_EQ(Text(FrameOf(doc)->m_hWnd), "mdi_open.OPJ");
            EXPECT_FALSE(doc->IsModified());
        }
    }
    EXPECT_EQ(Children(), 1); // the failures left no window
}

TEST_F(Mdi, PromptForAFileNameWithTemplateFilters) {
    fwtest::TestApp &app = fwtest::App();
    struct Case {
        CDocTemplate *tmpl;
        BOOL open;
        const char *filter;
        const char *ext;
    } cases[] = {
        {g_project, TRUE, "Project Files (*.opj)|*.opj|All Files (*.*)|*.*|", "opj"},
        {g_resource, FALSE, "All Files (*.*)|*.*|", ""}, // no filter fields of its own
        {nullptr, TRUE, "Project Files (*.opj)|*.opj|All Files (*.*)|*.*|",
         "opj"}, // every template
    };
    std::string answer = DataPath("prompted.opj");
    for (const Case &c : cases) {
        AfxTestSeam::TakeLog();
        AfxTestSeam::PushAnswer("file:" + answer);
        CString name = "start.opj";
        ASSERT_TRUE(app.DoPromptFileName(name, AFX_IDS_OPENFILE,
                                         OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, c.open, c.tmpl));
        EXPECT_STREQ(name, answer.c_str());
        auto log = AfxTestSeam::TakeLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].kind, c.open ? "open" : "save");
        EXPECT_EQ(log[0].filter, c.filter);
        EXPECT_EQ(log[0].ext, c.ext);
        EXPECT_EQ(log[0].text, "start.opj");
        EXPECT_NE(log[0].flags & OFN_FILEMUSTEXIST, 0u);
    }
    // A cancel leaves the name and gives FALSE.
    AfxTestSeam::PushAnswer("IDCANCEL");
    CString name = "kept";
    EXPECT_FALSE(app.DoPromptFileName(name, AFX_IDS_OPENFILE, 0, TRUE, g_project));
    EXPECT_STREQ(name, "kept");
}

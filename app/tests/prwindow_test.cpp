// The printer window in-process: its own CZqApp with the real resource module, printers on
// the fake printer behind corvane.dll, boxes through the seam, the views driven by their
// own messages.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app_setup.h"

#include "admin.h"
#include "framework_seam.h"

#include "frames.h"
#include "mainfrm.h"
#include "prtprop.h"
#include "prviews.h"
#include "resitems.h"
#include "resource_ids.h"
#include "server.h"
#include "suite_paths.h"
#include "zqapp.h"

CZqApp AppObject;

namespace {

const std::string kUel = "\x1b%-12345X";
constexpr LPARAM kKeyUp = static_cast<LPARAM>(0xC0000001u);

class PortEnvironment : public testing::Environment {
  public:
    void SetUp() override { _putenv("CORVANE_TIMEOUT_SCALE=0.01"); }
};
const auto *const kEnvironment = testing::AddGlobalTestEnvironment(new PortEnvironment);

void Pump() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::vector<AfxTestSeam::Event> Boxes() {
    std::vector<AfxTestSeam::Event> boxes;
    for (auto &e : AfxTestSeam::TakeLog())
        if (e.kind == "box")
            boxes.push_back(e);
    return boxes;
}

// A fake printer of several devices, volumes, folders and files.
fakeprinter::Setup RichSetup() {
    fakeprinter::Setup s = fakeprinter::Setup::Default();
    s.devices = {"HDD0", "HDD2", "FLASH0", "FLASH1", "NIC0"};
    s.volumes = {"0:\t40000000\t39000000\tHDD0\tPCL", "1:\t5000000000\t39000000\tHDD0\tCOMMON",
                 "%disk0%\t40000000\t39000000\tHDD0\tPOSTSCRIPT",
                 "%flash1%\t4000\t100\tFLASH1\tMIX"};
    s.files = {{"0:\\pcl\\x.sfp", "12345"}, {"0:\\pcl\\y.sfp", "1"}, {"0:\\fonts\\f.sfp", "ab"},
               {"0:\\a b\\in.txt", "1"},    {"%disk0%x.ps", "xyz"},  {"%disk0%a)b", "q"},
               {"%disk0%fonts/A.pfa", "aa"}};
    return s;
}

class PrinterWindow : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        static bool ready = false;
        if (ready)
            return;
        ready = true;
        PrepareTestApp(AppObject);
        AddProjectTemplate(AppObject);
        AppObject.m_resourceTemplate =
            new CMultiDocTemplate(IDR_RESOURCE_TYPE, RUNTIME_CLASS(CPrDoc), RUNTIME_CLASS(CPrFrame),
                                  RUNTIME_CLASS(CPrLeftView));
        AppObject.AddDocTemplate(AppObject.m_resourceTemplate);
    }
    void SetUp() override {
        ASSERT_NE(AppObject.m_hResources, nullptr) << "nimbrel.dll did not load";
        AfxTestSeam::Begin();
        if (!AppObject.m_printers)
            AppObject.m_printers = new CPtrList(10);
        frame_ = new CMainFrame;
        AppObject.m_pMainWnd = frame_;
        ASSERT_TRUE(frame_->LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE));
        frame_->ShowWindow(SW_SHOW);
        Pump();
        AppObject.m_resourceCount = 0;
        AppObject.m_adminLoggedIn = FALSE;
    }
    void TearDown() override {
        AppObject.CloseAllDocuments(FALSE);
        if (frame_ && IsWindow(frame_->m_hWnd))
            frame_->DestroyWindow();
        AppObject.m_pMainWnd = nullptr;
        Pump();
        while (AppObject.m_printers && !AppObject.m_printers->IsEmpty())
            delete static_cast<CAPrinter *>(AppObject.m_printers->RemoveHead());
        servers_.clear();
        EXPECT_EQ(CResItem::LiveCount(), 0) << "items outlived their windows";
        AfxTestSeam::End();
    }

    // A started fake printer with a row in the bar.
    fakeprinter::Server &AddPrinter(const fakeprinter::Setup &setup, const char *name = "Fake") {
        servers_.push_back(std::make_unique<fakeprinter::Server>(setup));
        fakeprinter::Server &server = *servers_.back();
        EXPECT_TRUE(server.Start()) << server.error();
        const std::string port = "127.0.0.1:" + std::to_string(server.Port());
        auto *printer = new CAPrinter(DiscoveredPrinter{port.c_str(), name});
        AppObject.m_printers->AddTail(printer);
        CListCtrl *bar = AppObject.GetPrinterListCtrl();
        bar->InsertItem(LVIF_TEXT | LVIF_PARAM, bar->GetItemCount(), name, 0, 0, 0,
                        reinterpret_cast<LPARAM>(printer));
        return server;
    }
    CAPrinter *PrinterOfRow(int row) {
        return reinterpret_cast<CAPrinter *>(AppObject.GetPrinterListCtrl()->GetItemData(row));
    }
    void SelectBarRow(int row) {
        CListCtrl *bar = AppObject.GetPrinterListCtrl();
        for (int i = 0; i < bar->GetItemCount(); ++i)
            bar->SetItemState(i, i == row ? LVIS_SELECTED : 0, LVIS_SELECTED);
    }

    std::vector<CPrFrame *> PrinterFrames() const {
        std::vector<CPrFrame *> frames;
        for (HWND h = GetWindow(frame_->m_hWndMDIClient, GW_CHILD); h;
             h = GetWindow(h, GW_HWNDNEXT))
            if (GetWindowLongPtrA(h, GWLP_USERDATA) == 21)
                frames.push_back(DYNAMIC_DOWNCAST(CPrFrame, CWnd::FromHandlePermanent(h)));
        return frames;
    }
    // Opens the current printer's window; null when none stayed.
    CPrFrame *Open() {
        AppObject.OnShowResources();
        Pump();
        const auto frames = PrinterFrames();
        return frames.empty() ? nullptr : frames.back();
    }

    static CTreeCtrl &Tree(CPrFrame *f) { return f->GetTreeView()->GetTreeCtrl(); }
    static CListCtrl &List(CPrFrame *f) { return f->GetListView()->GetListCtrl(); }
    static HTREEITEM Child(CTreeCtrl &tree, HTREEITEM parent, const std::string &text) {
        for (HTREEITEM c = tree.GetChildItem(parent); c; c = tree.GetNextSiblingItem(c))
            if (std::string(tree.GetItemText(c)) == text)
                return c;
        return nullptr;
    }
    static std::vector<std::string> Children(CTreeCtrl &tree, HTREEITEM parent) {
        std::vector<std::string> texts;
        for (HTREEITEM c = tree.GetChildItem(parent); c; c = tree.GetNextSiblingItem(c)) {
            int image = 0, selected = 0;
            tree.GetItemImage(c, image, selected);
            texts.push_back(std::string(tree.GetItemText(c)) + ":" + std::to_string(image));
        }
        return texts;
    }
    static int CountBelow(CTreeCtrl &tree, HTREEITEM node) {
        int n = 0;
        for (HTREEITEM c = tree.GetChildItem(node); c; c = tree.GetNextSiblingItem(c))
            n += 1 + CountBelow(tree, c);
        return n;
    }
    // Selects through the tree's own message, as a click does.
    static void Select(CTreeCtrl &tree, HTREEITEM node) {
        tree.SendMessage(TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node));
        Pump();
    }
    // Walks a path of node texts from the root and selects each on the way.
    static HTREEITEM SelectPath(CTreeCtrl &tree, const std::vector<std::string> &path) {
        HTREEITEM node = tree.GetRootItem();
        for (const std::string &text : path) {
            node = Child(tree, node, text);
            if (!node)
                return nullptr;
            Select(tree, node);
        }
        return node;
    }
    static std::vector<std::string> Rows(CListCtrl &list, int column = 0) {
        std::vector<std::string> rows;
        for (int i = 0; i < list.GetItemCount(); ++i)
            rows.push_back(std::string(list.GetItemText(i, column)));
        return rows;
    }
    static int RowOf(CListCtrl &list, const std::string &text) {
        for (int i = 0; i < list.GetItemCount(); ++i)
            if (std::string(list.GetItemText(i, 0)) == text)
                return i;
        return -1;
    }
    static void SelectRows(CListCtrl &list, const std::vector<std::string> &texts) {
        for (int i = 0; i < list.GetItemCount(); ++i)
            list.SetItemState(i, 0, LVIS_SELECTED);
        for (const std::string &t : texts) {
            LVITEMA state = {};
            state.stateMask = LVIS_SELECTED;
            state.state = LVIS_SELECTED;
            list.SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(RowOf(list, t)),
                             reinterpret_cast<LPARAM>(&state));
        }
    }
    static void KeyUp(CWnd *view, UINT key) {
        view->SendMessage(WM_KEYUP, key, kKeyUp);
        Pump();
    }
    // The commands of the jobs after the first `from`, without the echo.
    static std::vector<std::string> CommandsSince(fakeprinter::Server &server, std::size_t from) {
        std::vector<std::string> commands;
        const auto jobs = server.Jobs();
        for (std::size_t i = from; i < jobs.size(); ++i)
            for (const std::string &c : jobs[i].commands)
                if (c != "@PJL ECHO TEST")
                    commands.push_back(c);
        return commands;
    }

    CMainFrame *frame_ = nullptr;
    std::vector<std::unique_ptr<fakeprinter::Server>> servers_;
};

} // namespace

TEST_F(PrinterWindow, OpensOnTheCurrentPrinterWithItsDevices) {
    fakeprinter::Server &server = AddPrinter(RichSetup());
    CPrFrame *f = Open();
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->m_answered);
    EXPECT_TRUE(f->IsWindowVisible());
    EXPECT_EQ(AppObject.m_resourceCount, 1);
    CTreeCtrl &tree = Tree(f);
    const HTREEITEM root = tree.GetRootItem();
    EXPECT_EQ(std::string(tree.GetItemText(root)), "Fake");
    int image = 0, selected = 0;
    tree.GetItemImage(root, image, selected);
    EXPECT_EQ(image, 1);
    EXPECT_EQ(tree.GetItemData(root), reinterpret_cast<DWORD_PTR>(PrinterOfRow(0)));
    EXPECT_EQ(Children(tree, root),
              (std::vector<std::string>{"DISK0:2", "HDD2:2", "FLASH0:3", "FLASH1:3", "NIC0:3"}));
    char title[260] = {};
    GetWindowTextA(f->m_hWnd, title, sizeof title);
    EXPECT_EQ(std::string(title), "Fake - 127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_EQ(CResItem::LiveCount(), 5);
    const DWORD styles =
        TVS_SHOWSELALWAYS | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_NOTOOLTIPS;
    EXPECT_EQ(f->GetTreeView()->GetStyle() & styles, styles);
    EXPECT_EQ(tree.GetImageList(TVSIL_NORMAL)->GetSafeHandle(),
              AppObject.m_smallImages.GetSafeHandle());
    EXPECT_EQ(List(f).GetImageList(LVSIL_NORMAL)->GetSafeHandle(),
              AppObject.m_largeImages.GetSafeHandle());
    // The root's list: one row per device.
    Select(tree, root);
    EXPECT_EQ(Rows(List(f)),
              (std::vector<std::string>{"DISK0", "HDD2", "FLASH0", "FLASH1", "NIC0"}));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PrinterWindow, ExpansionAsksEachNodeOnceWithItsOwnPath) {
    fakeprinter::Server &server = AddPrinter(RichSetup());
    CPrFrame *f = Open();
    ASSERT_NE(f, nullptr);
    CTreeCtrl &tree = Tree(f);
    CListCtrl &list = List(f);

    const HTREEITEM disk = SelectPath(tree, {"DISK0"});
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(Children(tree, disk),
              (std::vector<std::string>{"Volume 0::4", "Volume 1::5", "Volume %disk0%:6"}));
    // Device columns: sizes normalised, also past 32 bits.
    EXPECT_EQ(Rows(list), (std::vector<std::string>{"Volume 0:", "Volume 1:", "Volume %disk0%"}));
    EXPECT_EQ(Rows(list, 1), (std::vector<std::string>{"40000000", "5000000000", "40000000"}));
    EXPECT_EQ(Rows(list, 3), (std::vector<std::string>{"HDD0", "HDD0", "HDD0"}));

    struct Step {
        std::vector<std::string> path;
        std::string asked; // the listing command or PostScript operand
        std::vector<std::string> rows;
    };
    const Step steps[] = {
        {{"DISK0", "Volume 0:"},
         "@PJL FSDIRLIST NAME = \"0:\\\" ENTRY=1 COUNT=40 ",
         {"a b", "fonts", "pcl"}},
        {{"DISK0", "Volume 0:", "pcl"},
         "@PJL FSDIRLIST NAME = \"0:\\pcl\" ENTRY=1 COUNT=40 ",
         {"x.sfp", "y.sfp"}},
        {{"DISK0", "Volume 0:", "a b"},
         "@PJL FSDIRLIST NAME = \"0:\\a b\" ENTRY=1 COUNT=40 ",
         {"in.txt"}},
        {{"DISK0", "Volume %disk0%"}, "(%disk0%*)", {"fonts", "a)b", "x.ps"}},
        {{"DISK0", "Volume %disk0%", "fonts"}, "(%disk0%fonts/*)", {"A.pfa"}},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.asked);
        const std::size_t before = server.Jobs().size();
        ASSERT_NE(SelectPath(tree, step.path), nullptr);
        std::string asked;
        for (const std::string &c : CommandsSince(server, before))
            asked += c + "|";
        if (step.asked[0] == '@') {
            EXPECT_NE(asked.find(step.asked), std::string::npos) << asked;
        } else {
            bool found = false;
            for (const auto &job : server.Jobs())
                found = found || job.received.find(step.asked + " {==} =string filenameforall") !=
                                     std::string::npos;
            EXPECT_TRUE(found) << step.asked;
        }
        auto rows = Rows(list);
        EXPECT_EQ(rows, step.rows);
    }
    // File sizes in the Size column.
    SelectPath(tree, {"DISK0", "Volume 0:", "pcl"});
    EXPECT_EQ(Rows(list, 1), (std::vector<std::string>{"5", "1"}));

    // FLASH1 takes its own PostScript line, its MIX shown as "PS ".
    const HTREEITEM flash = SelectPath(tree, {"FLASH1"});
    EXPECT_EQ(Children(tree, flash), (std::vector<std::string>{"Volume %flash1%:6"}));
    EXPECT_EQ(Rows(list, 4), (std::vector<std::string>{"PS "}));
    EXPECT_TRUE(Children(tree, SelectPath(tree, {"FLASH0"})).empty());
    EXPECT_EQ(CResItem::LiveCount(), CountBelow(tree, tree.GetRootItem()));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PrinterWindow, PostScriptVolumesGoWithAPsMenuOfDisable) {
    fakeprinter::Setup setup = RichSetup();
    for (std::string &a : setup.attributes)
        if (a.rfind("PSMENU=", 0) == 0)
            a = "PSMENU=disable";
    AddPrinter(setup);
    CPrFrame *f = Open();
    ASSERT_NE(f, nullptr);
    CTreeCtrl &tree = Tree(f);
    EXPECT_EQ(Children(tree, SelectPath(tree, {"DISK0"})),
              (std::vector<std::string>{"Volume 0::4", "Volume 1::5"}));
}

TEST_F(PrinterWindow, ReselectingAsksNothingAndF5AsksAgain) {
    fakeprinter::Server &server = AddPrinter(RichSetup());
    CPrFrame *f = Open();
    ASSERT_NE(f, nullptr);
    CTreeCtrl &tree = Tree(f);
    CPrLeftView *view = f->GetTreeView();
    const HTREEITEM pcl = SelectPath(tree, {"DISK0", "Volume 0:", "pcl"});
    ASSERT_NE(pcl, nullptr);

    std::size_t jobs = server.Jobs().size();
    SelectPath(tree, {"DISK0"});
    SelectPath(tree, {"DISK0", "Volume 0:", "pcl"});
    EXPECT_EQ(server.Jobs().size(), jobs) << "a node with children was asked again";

    KeyUp(view, VK_F5);
    EXPECT_EQ(server.Jobs().size(), jobs + 1);
    EXPECT_EQ(Rows(List(f)), (std::vector<std::string>{"x.sfp", "y.sfp"}));

    // F5 on a volume forgets its folders and asks again.
    const HTREEITEM volume = SelectPath(tree, {"DISK0", "Volume 0:"});
    jobs = server.Jobs().size();
    KeyUp(view, VK_F5);
    EXPECT_EQ(server.Jobs().size(), jobs + 1);
    EXPECT_EQ(Children(tree, volume).size(), 3u);
    EXPECT_EQ(CResItem::LiveCount(), CountBelow(tree, tree.GetRootItem()));

    // F5 on the root asks INFO CONFIG again.
    Select(tree, tree.GetRootItem());
    jobs = server.Jobs().size();
    KeyUp(view, VK_F5);
    EXPECT_EQ(CommandsSince(server, jobs), (std::vector<std::string>{"@PJL INFO CONFIG"}));
    EXPECT_EQ(Children(tree, tree.GetRootItem()).size(), 5u);
    EXPECT_EQ(CResItem::LiveCount(), 5);
    EXPECT_EQ(List(f).GetItemCount(), 5);

    // With nothing selected F5 sends nothing.
    Select(tree, nullptr);
    jobs = server.Jobs().size();
    KeyUp(view, VK_F5);
    EXPECT_EQ(server.Jobs().size(), jobs);
    EXPECT_EQ(List(f).GetItemCount(), 0);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PrinterWindow, AVolumeRowSelectedInTheListSelectsItsNode) {
    AddPrinter(RichSetup());
    CPrFrame *f = Open();
    ASSERT_NE(f, nullptr);
    CTreeCtrl &tree = Tree(f);
    CListCtrl &list = List(f);
    const HTREEITEM disk = SelectPath(tree, {"DISK0"});
    ASSERT_NE(disk, nullptr);
    SelectRows(list, {"Volume 0:"});
    Pump();
    EXPECT_EQ(tree.GetSelectedItem(), Child(tree, disk, "Volume 0:"));
    EXPECT_EQ(Rows(list), (std::vector<std::string>{"a b", "fonts", "pcl"}));
    // A file row is not followed.
    const HTREEITEM pcl = SelectPath(tree, {"DISK0", "Volume 0:", "pcl"});
    SelectRows(list, {"x.sfp"});
    Pump();
    EXPECT_EQ(tree.GetSelectedItem(), pcl);
}

TEST_F(PrinterWindow, DeleteSendsExactlyTheFilesNameToTheWindowsOwnPrinter) {
    struct Case {
        std::vector<std::string> path;
        std::string row;
        std::string file;   // in the fake's storage
        std::string stream; // what the delete job carries after its echo
    };
    const std::string ps = kUel + "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!Adobe-PS\r\n(";
    const Case cases[] = {
        {{"DISK0", "Volume 0:", "pcl"},
         "x.sfp",
         "0:\\pcl\\x.sfp",
         "@PJL FSDELETE NAME = \"0:\\pcl\\x.sfp\" \r\n" + kUel},
        {{"DISK0", "Volume %disk0%"},
         "x.ps",
         "%disk0%x.ps",
         ps + "%disk0%x.ps) deletefile\r\n" + kUel},
        {{"DISK0", "Volume %disk0%", "fonts"},
         "A.pfa",
         "%disk0%fonts/A.pfa",
         ps + "%disk0%fonts/A.pfa) deletefile\r\n" + kUel},
        {{"DISK0", "Volume %disk0%"},
         "a)b",
         "%disk0%a)b",
         ps + "%disk0%a\\)b) deletefile\r\n" + kUel},
    };
    fakeprinter::Server &a = AddPrinter(RichSetup(), "A");
    fakeprinter::Server &b = AddPrinter(RichSetup(), "B");
    SelectBarRow(0);
    CPrFrame *f = Open();
    ASSERT_NE(f, nullptr);
    // B is the current printer from here on: the rows are still A's.
    SelectBarRow(1);
    AppObject.m_adminLoggedIn = TRUE;
    const std::size_t bJobs = b.Jobs().size();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        CTreeCtrl &tree = Tree(f);
        CListCtrl &list = List(f);
        ASSERT_NE(SelectPath(tree, c.path), nullptr);
        ASSERT_GE(RowOf(list, c.row), 0);
        SelectRows(list, {c.row});
        Boxes();
        const std::size_t before = a.Jobs().size();
        AfxTestSeam::PushAnswer("IDYES");
        KeyUp(f->GetListView(), VK_DELETE);
        const auto boxes = Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Confirm Delete File: " + c.row);
        const auto jobs = a.Jobs();
        ASSERT_GE(jobs.size(), before + 1);
        EXPECT_EQ(jobs[before].received, kUel + "@PJL ECHO TEST\r\n" + c.stream + kUel);
        a.With([&](fakeprinter::Engine &e) { EXPECT_EQ(e.Files().Find(c.file), nullptr); });
        // The posted F5 listed the node again: the row is gone.
        EXPECT_GE(jobs.size(), before + 2);
        EXPECT_EQ(RowOf(list, c.row), -1);
    }
    EXPECT_EQ(b.Jobs().size(), bJobs);
}

TEST_F(PrinterWindow, DeleteNeedsTheFlagAYesAndASentCommand) {
    fakeprinter::Server &server = AddPrinter(RichSetup());
    CPrFrame *f = Open();
    ASSERT_NE(f, nullptr);
    CTreeCtrl &tree = Tree(f);
    CListCtrl &list = List(f);
    ASSERT_NE(SelectPath(tree, {"DISK0", "Volume 0:", "pcl"}), nullptr);
    SelectRows(list, {"x.sfp", "y.sfp"});
    Boxes();

    // A clear administrator flag and no password file: the password dialog ends at once
    // after its two reports, and nothing is sent.
    std::size_t jobs = server.Jobs().size();
    KeyUp(f->GetListView(), VK_DELETE);
    const auto refused = Boxes();
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_NE(refused[0].text.find("Cannot open file"), std::string::npos) << refused[0].text;
    EXPECT_NE(refused[1].text.find("password file cannot be found"), std::string::npos)
        << refused[1].text;
    EXPECT_FALSE(AppObject.m_adminLoggedIn);
    EXPECT_EQ(server.Jobs().size(), jobs);

    // Declining every box sends nothing and lists nothing again.
    AppObject.m_adminLoggedIn = TRUE;
    AfxTestSeam::PushAnswer("IDNO");
    AfxTestSeam::PushAnswer("IDNO");
    KeyUp(f->GetListView(), VK_DELETE);
    EXPECT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(server.Jobs().size(), jobs);
    EXPECT_EQ(Rows(list), (std::vector<std::string>{"x.sfp", "y.sfp"}));

    // A send that fails keeps its line: no refresh, and F5 shows the file still there.
    server.With([](fakeprinter::Engine &e) { e.defaults.silent = true; });
    SelectRows(list, {"y.sfp"});
    AfxTestSeam::PushAnswer("IDYES");
    AfxTestSeam::PushAnswer("IDNO"); // no retry
    KeyUp(f->GetListView(), VK_DELETE);
    auto *item = reinterpret_cast<CResItem *>(tree.GetItemData(tree.GetSelectedItem()));
    EXPECT_EQ(item->m_childLines.GetCount(), 2);
    EXPECT_EQ(Rows(list), (std::vector<std::string>{"x.sfp", "y.sfp"}));
    server.With(
        [](fakeprinter::Engine &e) { EXPECT_NE(e.Files().Find("0:\\pcl\\y.sfp"), nullptr); });

    // A row whose line has gone meanwhile is skipped: confirmed, nothing sent.
    server.With([](fakeprinter::Engine &e) { e.defaults.silent = false; });
    item->FreeChildLines();
    SelectRows(list, {"x.sfp"});
    Boxes();
    jobs = server.Jobs().size();
    AfxTestSeam::PushAnswer("IDYES");
    KeyUp(f->GetListView(), VK_DELETE);
    EXPECT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(server.Jobs().size(), jobs);

    // The root or nothing selected: nothing.
    Boxes();
    for (HTREEITEM node : {tree.GetRootItem(), static_cast<HTREEITEM>(nullptr)}) {
        Select(tree, node);
        jobs = server.Jobs().size();
        KeyUp(f->GetListView(), VK_DELETE);
        EXPECT_EQ(server.Jobs().size(), jobs);
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PrinterWindow, ClosingSendsNothingAndFreesEveryItem) {
    fakeprinter::Server &server = AddPrinter(RichSetup());
    CPrFrame *f = Open();
    ASSERT_NE(f, nullptr);
    ASSERT_NE(SelectPath(Tree(f), {"DISK0", "Volume 0:", "pcl"}), nullptr);
    EXPECT_GT(CResItem::LiveCount(), 5);
    const std::size_t jobs = server.Jobs().size();
    f->SendMessage(WM_CLOSE);
    Pump();
    EXPECT_TRUE(PrinterFrames().empty());
    EXPECT_EQ(server.Jobs().size(), jobs);
    EXPECT_EQ(AppObject.m_resourceCount, 0);
    EXPECT_EQ(CResItem::LiveCount(), 0);

    // Destroyed without a close, the tree frees its items too.
    f = Open();
    ASSERT_NE(f, nullptr);
    ASSERT_NE(SelectPath(Tree(f), {"DISK0", "Volume %disk0%", "fonts"}), nullptr);
    f->DestroyWindow();
    Pump();
    EXPECT_EQ(CResItem::LiveCount(), 0);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PrinterWindow, AnUnansweredOpenLeavesNoWindowAndNoItem) {
    fakeprinter::Setup setup = RichSetup();
    fakeprinter::Server &server = AddPrinter(setup);
    server.With([](fakeprinter::Engine &e) { e.defaults.silent = true; });
    AfxTestSeam::PushAnswer("IDNO");
    EXPECT_EQ(Open(), nullptr);
    EXPECT_EQ(AppObject.m_resourceCount, 0);
    EXPECT_EQ(CResItem::LiveCount(), 0);
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].answer, "IDNO");
}

TEST_F(PrinterWindow, NoPrinterNoWindow) {
    EXPECT_EQ(Open(), nullptr);
    EXPECT_EQ(AppObject.m_resourceCount, 0);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PrinterWindow, AQueryThatFailsAddsNothingAndTheWindowStays) {
    fakeprinter::Server &server = AddPrinter(RichSetup());
    CPrFrame *f = Open();
    ASSERT_NE(f, nullptr);
    server.With([](fakeprinter::Engine &e) { e.defaults.silent = true; });
    AfxTestSeam::PushAnswer("IDNO");
    const HTREEITEM disk = SelectPath(Tree(f), {"DISK0"});
    ASSERT_NE(disk, nullptr);
    EXPECT_TRUE(Children(Tree(f), disk).empty());
    EXPECT_EQ(Boxes().size(), 1u); // the retry prompt only
    EXPECT_EQ(PrinterFrames().size(), 1u);
}

namespace {

// The dialog as the command runs it, ended from its own set-up with the tree read.
class PeekedProperties : public CPrtProp {
  public:
    std::vector<std::string> top;
    BOOL OnInitDialog() override {
        CPrtProp::OnInitDialog();
        auto *tree = static_cast<CTreeCtrl *>(GetDlgItem(IDC_PROPERTIES_TREE));
        if (tree) {
            const HTREEITEM root = tree->GetRootItem();
            top.push_back(std::string(tree->GetItemText(root)));
            for (HTREEITEM c = tree->GetChildItem(root); c; c = tree->GetNextSiblingItem(c))
                top.push_back(std::string(tree->GetItemText(c)));
        }
        EndDialog(IDOK);
        return TRUE;
    }
};

} // namespace

TEST_F(PrinterWindow, PropertiesTreeHoldsThePrinterStatusAndConfiguration) {
    AddPrinter(RichSetup());
    PeekedProperties dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.top, (std::vector<std::string>{"Fake", "Status", "Configuration"}));
}

TEST_F(PrinterWindow, DeleteFileOnPrinterSendsOnlyWhatCannotEndItsCommand) {
    fakeprinter::Setup pclOnly = RichSetup();
    pclOnly.languages = {"PCL"};
    fakeprinter::Server &both = AddPrinter(RichSetup(), "Both");
    fakeprinter::Server &pcl = AddPrinter(pclOnly, "PCL");
    CAPrinter *bothPrinter = PrinterOfRow(0);
    CAPrinter *pclPrinter = PrinterOfRow(1);
    pclPrinter->EnsureLanguages(); // as the window's device query does
    const std::size_t pclJobs = pcl.Jobs().size();
    CDelFile dialog;
    struct Case {
        CAPrinter *printer;
        const char *name;
        BOOL confirm;
        bool sent;
        const char *box; // "" for none
    };
    const Case cases[] = {
        {bothPrinter, "0:\\pcl\\x.sfp", TRUE, true, "Command Issued."},
        {bothPrinter, "0:\\pcl\\y.sfp", FALSE, true, ""},
        {bothPrinter, "0:\\pcl\\a\"b", TRUE, false, "Operation Failed"},
        {bothPrinter, "0:\\pcl\\a\r\nb", FALSE, false, "Operation Failed"},
        {pclPrinter, "%disk0%x.ps", TRUE, false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Boxes();
        const std::size_t before = both.Jobs().size();
        EXPECT_EQ(dialog.DeleteFileOnPrinter(c.printer, c.name, c.confirm) != FALSE, c.sent);
        EXPECT_EQ(both.Jobs().size(), before + (c.sent ? 1 : 0));
        const auto boxes = Boxes();
        if (*c.box) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, c.box);
        } else {
            EXPECT_TRUE(boxes.empty());
        }
    }
    EXPECT_EQ(pcl.Jobs().size(), pclJobs);
    both.With([](fakeprinter::Engine &e) {
        EXPECT_EQ(e.Files().Find("0:\\pcl\\x.sfp"), nullptr);
        EXPECT_EQ(e.Files().Find("0:\\pcl\\y.sfp"), nullptr);
    });
}

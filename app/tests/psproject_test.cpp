// Projects of macros, PostScript fonts and forms and colour profiles in-process, with the real
// resource module, the fixture script's files, profiles of icc-profiles-free and the fake
// printer through corvane.dll: one job in reverse row order, the property pane of each kind,
// and bad files or hand-made targets beside good rows.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app_setup.h"
#include "frames.h"
#include "framework_seam.h"
#include "mainfrm.h"
#include "printer.h"
#include "project.h"
#include "psdownload.h"
#include "resource_ids.h"
#include "server.h"
#include "suite_files.h"
#include "suite_paths.h"
#include "zqapp.h"

CZqApp AppObject;

using namespace std::string_literals;

namespace {

const std::string kFixtures = SUITE_PS_FIXTURES;
const std::string kIcc = "Z:\\usr\\share\\color\\icc\\";
const std::string kNimbus = "Z:\\usr\\share\\fonts\\X11\\Type1\\NimbusSans-Regular.pfb";
const std::string kColor = "1:\\common\\smaps_env\\color\\";

void Pump() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::string Text(CListCtrl &list, int row, int column) {
    char text[1024] = {};
    list.GetItemText(row, column, text, sizeof text);
    return text;
}

std::vector<std::string> RowOf(CListCtrl &list, int row) {
    return {Text(list, row, 0), Text(list, row, 1), Text(list, row, 2), Text(list, row, 3)};
}

// The value of the property row with this label; "(none)" when there is none.
std::string Property(CListCtrl &list, const std::string &label) {
    for (int i = 0; i < list.GetItemCount(); ++i)
        if (Text(list, i, 0) == label)
            return Text(list, i, 1);
    return "(none)";
}

void SelectOnly(CListCtrl &list, const std::vector<int> &rows) {
    list.SetItemState(-1, 0, LVIS_SELECTED);
    for (int r : rows)
        list.SetItemState(r, LVIS_SELECTED, LVIS_SELECTED);
}

std::size_t Occurrences(const std::string &text, const std::string &what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

const std::uint8_t *U(const std::string &s) {
    return reinterpret_cast<const std::uint8_t *>(s.data());
}

PostScriptPieces BinPieces() {
    PostScriptPieces pieces;
    for (std::size_t i = 0; i < pieces.size(); ++i)
        pieces[i] = suite::ReadAll(suite::BinPath("PSFORMF" + std::to_string(i + 1) + ".DAT"));
    return pieces;
}

// The core's streams for the rows' targets, with the program folder's pieces.
std::string FontStream(const std::string &file, const std::string &volume,
                       const std::string &name) {
    const PostScriptPieces p = BinPieces();
    return BuildPostScriptFontStream(U(file), file.size(), volume, name, p[0], p[2])
        .value_or("(none)");
}
std::string FormStream(const std::string &file, const std::string &name) {
    return BuildPostScriptFormStream(U(file), file.size(), "%disk0%", name, BinPieces())
        .value_or("(none)");
}
std::string MacroStream(const std::string &file, const std::string &folder, const std::string &name,
                        const std::string &id) {
    return BuildMacroStream(U(file), file.size(), "0:", folder, name, id).value_or("(none)");
}
std::string ProfileStream(const std::string &file, const std::string &name, const std::string &id) {
    return BuildProfileStream(U(file), file.size(), "1:", "\\common\\smaps_env\\color", name, id)
        .value_or("(none)");
}

// One [fileN] section of a project file; `keys` are the stored values (a missing key keeps
// the value the row derives).
std::string Section(int n, const std::string &source, const std::string &keys) {
    return "[file" + std::to_string(n) + "]\r\nFileSourcePath=" + source + "\r\n" + keys + "\r\n";
}

class PsProject : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static bool ready = false;
        if (ready)
            return;
        ready = true;
        PrepareTestApp(AppObject);
        if (AppObject.m_hResources) {
            AddProjectTemplate(AppObject);
        }
    }
    void SetUp() override {
        ASSERT_NE(AppObject.m_hResources, nullptr) << "nimbrel.dll did not load";
        ASSERT_FALSE(suite::ReadAll(kFixtures + "\\cases.txt").empty())
            << "the fixture script's files are missing in " << kFixtures << " (make_psfixtures.py)";
        ASSERT_FALSE(BinPieces()[6].empty()) << "PSFORMF7.DAT is not beside the program";
        AfxTestSeam::Begin();
        folder_ = suite::TestDataDir() + "\\psproject-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name();
        EnsureFolder(folder_.c_str());
        lstrcpynA(DataFolder, folder_.c_str(), MAX_PATH);
        lstrcpynA(ProgramFolder, suite::BinDir().c_str(), MAX_PATH);
        if (!AppObject.m_printers)
            AppObject.m_printers = new CPtrList(10);
        frame_ = new CMainFrame;
        AppObject.m_pMainWnd = frame_;
        ASSERT_TRUE(frame_->LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE));
        frame_->ShowWindow(SW_SHOW);
        Pump();
        AppObject.m_projectCount = 0;
    }
    void TearDown() override {
        AppObject.CloseAllDocuments(FALSE);
        if (frame_ && IsWindow(frame_->m_hWnd))
            frame_->DestroyWindow();
        AppObject.m_pMainWnd = nullptr;
        Pump();
        AfxTestSeam::End();
    }

    CLeftView *NewProject() {
        CDocument *doc = AppObject.m_projectTemplate->OpenDocumentFile(nullptr);
        auto *child = doc ? DYNAMIC_DOWNCAST(CChildFrame, frame_->MDIGetActive()) : nullptr;
        return child ? child->GetLeftView() : nullptr;
    }
    std::string Make(const std::string &name, const std::string &bytes) const {
        const std::string path = folder_ + "\\" + name;
        suite::WriteAll(path, bytes);
        return path;
    }
    std::string CopyIn(const std::string &from, const std::string &name) const {
        const std::string bytes = suite::ReadAll(from);
        EXPECT_FALSE(bytes.empty()) << from;
        return Make(name, bytes);
    }
    // What the converter leaves for a profile picked as <name><ext>: the profile itself and
    // the fixture's .OP1 and .op2 beside it; the path the user picks.
    std::string Profile(const std::string &source, const std::string &name,
                        const std::string &ext) const {
        CopyIn(kFixtures + "\\" + name + ".OP1", name + ".OP1");
        CopyIn(kFixtures + "\\" + name + ".op2", name + ".op2");
        return CopyIn(kIcc + source, name + ext);
    }
    static int Add(CLeftView *view, const std::string &path) {
        char buffer[MAX_PATH];
        lstrcpynA(buffer, path.c_str(), MAX_PATH);
        return view->AddProjectFile(buffer);
    }
    static std::vector<std::string> BoxTexts() {
        std::vector<std::string> texts;
        for (auto &e : AfxTestSeam::TakeLog())
            if (e.kind == "box")
                texts.push_back(e.text);
        return texts;
    }

    std::string folder_;
    CMainFrame *frame_ = nullptr;
};

} // namespace

TEST_F(PsProject, OneJobStoresTheMacroAndProfileAndCarriesTheCoresPrograms) {
    fakeprinter::Server server;
    server.With([](fakeprinter::Engine &e) {
        for (const char *name : {"0:\\pcl\\macros\\12::old", "0:\\pcl\\macros\\120::keep"})
            e.Files().Store(name, "old");
        for (const char *name :
             {"ink1001bst600ppr", "ink1001cxyz", "ink1002bst1200ppr", "ink1001a"})
            e.Files().Store(kColor + name, "old");
    });
    ASSERT_TRUE(server.Start()) << server.error();
    AppObject.AddPrinterRow(
        DiscoveredPrinter{("127.0.0.1:" + std::to_string(server.Port())).c_str(), "Fake"});

    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    CListCtrl &list = view->GetListCtrl();
    const std::string macro = "\x1b&f12y0X\x1b*p0x0Y\0macro\x1b&f1X"s;
    ASSERT_EQ(Add(view, Make("m.bin", macro)), 0);
    list.SetItemText(0, 0, "12");
    list.SetItemText(0, 1, "12");
    ASSERT_EQ(Add(view, Profile("Gray.icc", "ink1001bst1200ppr", ".icc")), 1);
    ASSERT_EQ(Add(view, CopyIn(kNimbus, "nimbus.pfb")), 2);
    ASSERT_EQ(Add(view, CopyIn(kFixtures + "\\box.eps", "box.hst")), 3);
    EXPECT_EQ(RowOf(list, 1), (std::vector<std::string>{"ink1001bst1200ppr", "1001",
                                                        "1:", "\\common\\smaps_env\\color"}));
    EXPECT_STREQ(view->RowSource(1), (folder_ + "\\ink1001bst1200ppr.OP1").c_str());
    EXPECT_EQ(RowOf(list, 2),
              (std::vector<std::string>{"NimbusSans-Regular", "2", "%disk0%", "/fonts"}));
    EXPECT_EQ(RowOf(list, 3), (std::vector<std::string>{"box", "", "%disk0%", "/Resource/Form"}));

    EXPECT_EQ(view->SendProject(1), TRUE);
    EXPECT_TRUE(BoxTexts().empty());
    ASSERT_TRUE(server.WaitForJobs(1, 10000));
    const auto jobs = server.Jobs();
    ASSERT_EQ(jobs.size(), 1u);
    const std::string &got = jobs[0].received;

    const std::string op1 = suite::ReadAll(kFixtures + "\\ink1001bst1200ppr.OP1");
    const std::string gray = suite::ReadAll(kIcc + "Gray.icc");
    ASSERT_FALSE(gray.empty()) << "icc-profiles-free is not installed";
    EXPECT_TRUE(op1 == "Gray"s + std::string(28, '\0') + gray) << "the converter's .OP1";
    const std::string form = FormStream(suite::ReadAll(kFixtures + "\\box.eps"), "box");
    const std::string font = FontStream(suite::ReadAll(kNimbus), "%disk0%", "NimbusSans-Regular");
    EXPECT_NE(form.find("/BBox [ 100 100 300 200] def"), std::string::npos);
    const std::string expected = form + font + ProfileStream(op1, "ink1001bst1200ppr", "1001") +
                                 MacroStream(macro, "\\pcl\\macros", "12", "12");
    EXPECT_NE(got.find(expected), std::string::npos)
        << "the last row first, each stream the core's";
    EXPECT_EQ(Occurrences(got, "@PJL ENTER LANGUAGE=POSTSCRIPT"), 2u);
    EXPECT_EQ(std::count(jobs[0].commands.begin(), jobs[0].commands.end(), "POSTSCRIPT"), 2);

    server.With([&](fakeprinter::Engine &e) {
        const std::string *stored = e.Files().Find("0:\\pcl\\macros\\12");
        ASSERT_NE(stored, nullptr);
        EXPECT_TRUE(*stored == macro);
        stored = e.Files().Find(kColor + "ink1001bst1200ppr");
        ASSERT_NE(stored, nullptr);
        EXPECT_TRUE(*stored == op1);
        for (const char *gone : {"ink1001bst600ppr", "ink1001cxyz"})
            EXPECT_EQ(e.Files().Find(kColor + gone), nullptr) << gone;
        for (const char *kept : {"ink1002bst1200ppr", "ink1001a"})
            EXPECT_NE(e.Files().Find(kColor + kept), nullptr) << kept;
        EXPECT_EQ(e.Files().Find("0:\\pcl\\macros\\12::old"), nullptr);
        EXPECT_NE(e.Files().Find("0:\\pcl\\macros\\120::keep"), nullptr);
    });
}

TEST_F(PsProject, ThePaneShowsTheRowsOfEachKindAndDecodesTheFirstSelectedProfile) {
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    CListCtrl &list = view->GetListCtrl();
    CZqView *pane = static_cast<CChildFrame *>(view->GetParentFrame())->GetRightPane();
    ASSERT_NE(pane, nullptr);
    CListCtrl &props = pane->GetListCtrl();

    const std::string macro = Make("m.bin", "\x1b&f1Y");
    const std::string font = CopyIn(kFixtures + "\\NimbusSans-Regular.fnt", "nimbus.fnt");
    const std::string form = CopyIn(kFixtures + "\\atend.eps", "atend.hst");
    ASSERT_EQ(Add(view, macro), 0);
    ASSERT_EQ(Add(view, font), 1);
    ASSERT_EQ(Add(view, form), 2);
    ASSERT_EQ(Add(view, Profile("Gray.icc", "ink1001bst1200ppr", ".icc")), 3);
    ASSERT_EQ(Add(view, Profile("sRGB.icc", "ink1002clstv1200tra", ".icc")), 4);
    ASSERT_EQ(Add(view, Profile("LCMSLABI.ICM", "ink999bstxxxppr", ".ICM")), 5);
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_EQ(Text(list, 1, 0), "NimbusSans-Regular");
    EXPECT_EQ(RowOf(list, 5), (std::vector<std::string>{"ink999bstxxxppr", "999",
                                                        "1:", "\\common\\smaps_env\\color"}));
    EXPECT_STREQ(view->RowSource(5), (folder_ + "\\ink999bstxxxppr.OP1").c_str());

    struct Case {
        std::vector<int> selected;
        std::string kind, path;
        std::vector<std::string> profile; // name, description, screen, resolution, media
    };
    const Case cases[] = {
        {{0}, "Macro File", macro, {}},
        {{1}, "PostScript Font", font, {}},
        {{2}, "PostScript Form", form, {}},
        {{3},
         "Color Simulation Profile",
         folder_ + "\\ink1001bst1200ppr.OP1",
         {"User Profile 1", "Gray", "Device Best screen", "1200 x 1200 dpi", "Plain paper"}},
        {{4},
         "Color Simulation Profile",
         folder_ + "\\ink1002clstv1200tra.OP1",
         {"User Profile 2", "sRGB", "Cluster screen", "600 x 1200 dpi", "Transparency"}},
        {{5},
         "Color Simulation Profile",
         folder_ + "\\ink999bstxxxppr.OP1",
         {"User Profile 0", "little cms Relative L*a*b* ident", "Device Best screen",
          "600 x 600 dpi", "Plain paper"}},
        {{5, 4},
         "Color Simulation Profile",
         folder_ + "\\ink1002clstv1200tra.OP1",
         {"User Profile 2", "sRGB", "Cluster screen", "600 x 1200 dpi", "Transparency"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.selected[0]);
        SelectOnly(list, c.selected);
        ASSERT_EQ(props.GetItemCount(), c.profile.empty() ? 4 : 9);
        EXPECT_EQ(Text(props, 0, 1), c.kind);
        EXPECT_EQ(Text(props, 1, 1), c.path);
        if (c.profile.empty())
            continue;
        EXPECT_EQ(
            (std::vector<std::string>{Property(props, "Profile Name:"),
                                      Property(props, "Descripton:"), Property(props, "Screen:"),
                                      Property(props, "Resolution:"), Property(props, "Media:")}),
            c.profile);
    }

    // Another project window, active with a profile row of its own, leaves this pane's row.
    CLeftView *other = NewProject();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(Add(other, folder_ + "\\ink1001bst1200ppr.OP1"), 0);
    SelectOnly(other->GetListCtrl(), {0});
    pane->OnDraw(nullptr);
    EXPECT_EQ(Property(props, "Profile Name:"), "User Profile 2");
    SelectOnly(list, {});
    EXPECT_EQ(props.GetItemCount(), 0);
    EXPECT_TRUE(BoxTexts().empty());
}

// Each bad row goes between a good macro and a good form: it gets Operation Failed and adds
// nothing, or goes out as the core builds it; the good rows always go, and no delete reaches
// beyond its own ID.
TEST_F(PsProject, BadFilesAndHandMadeTargetsBesideGoodRows) {
    fakeprinter::Server server;
    const std::vector<std::string> kept = {"0:\\pcl\\macros\\1::keep", "0:\\pcl\\macros\\12::keep",
                                           kColor + "ink1003bst1200ppr", kColor + "ink0bkeep",
                                           kColor + "ink1b"};
    server.With([&](fakeprinter::Engine &e) {
        for (const std::string &name : kept)
            e.Files().Store(name, "keep");
    });
    ASSERT_TRUE(server.Start()) << server.error();
    AppObject.AddPrinterRow(
        DiscoveredPrinter{("127.0.0.1:" + std::to_string(server.Port())).c_str(), "Fake"});

    const std::string macro = "\x1b&f40Y\x1b&f0X"s;
    const std::string box = suite::ReadAll(kFixtures + "\\box.eps");
    const std::string good = MacroStream(macro, "\\pcl\\macros", "40", "40");
    const std::string goodForm = FormStream(box, "box");
    const std::string nimbus = suite::ReadAll(kNimbus);
    const std::string truncated = suite::ReadAll(kFixtures + "\\truncated.pfb");
    const std::string noComments = suite::ReadAll(kFixtures + "\\nocomments.eps");
    const std::string nuls = suite::ReadAll(kFixtures + "\\nuls.eps");
    const std::string gray = suite::ReadAll(kFixtures + "\\ink1001bst1200ppr.OP1");
    const std::string op2 = suite::ReadAll(kFixtures + "\\ink1001bst1200ppr.op2");
    const std::string longName(300, 'n');
    const std::string noComment = "\x80\x01\x08\0\0\0/x 1 def\x80\x03"s;
    ASSERT_FALSE(truncated.empty() || noComments.empty() || gray.empty());
    EXPECT_NE(FormStream(noComments, "n").find("/BBox [ 0 0 940 3402] def"), std::string::npos);

    struct Case {
        const char *what;
        std::string file, bytes;
        std::string op2;  // the .OP1's companion, none when empty
        std::string keys; // stored values of the bad row
        std::string sent; // its stream when it goes out
    };
    const Case cases[] = {
        {"PFB without %!PS-Adobe", "bad.pfb", noComment, "", "", ""},
        {"garbage PFB", "garbage.pfb", suite::ReadAll(kFixtures + "\\garbage.pfb"), "", "", ""},
        {"PFB of a short header", "short.pfb", "\x80\x01\x10\0\0"s, "", "", ""},
        {"empty PFB", "empty.pfb", "", "", "", ""},
        {"truncated PFB", "cut.pfb", truncated, "", "",
         FontStream(truncated, "%disk0%", "NimbusSans-Regular")},
        {"volume with ')'", "vol.pfb", nimbus, "", "FileTargetVolume=a)b\r\n",
         FontStream(nimbus, "a)b", "NimbusSans-Regular")},
        {"EPS without comments", "plain.hst", noComments, "", "", FormStream(noComments, "plain")},
        {"EPS with NULs", "nuls.hst", nuls, "", "", FormStream(nuls, "nuls")},
        {"empty form", "empty.hst", "", "", "", ""},
        {"form name with ')'", "paren.hst", box, "", "FileName=a)b\r\n", ""},
        {"form name of 300 characters", "long.hst", box, "", "FileName=" + longName + "\r\n", ""},
        {"form volume with '\"'", "quote.hst", box, "", "FileTargetVolume=%disk\"0%\r\n", ""},
        {"zero-length .OP1", "ink1003bst1200ppr.OP1", "", "C:\\p\\ink1003bst1200ppr\r\n", "", ""},
        {"missing .op2", "lonely.OP1", gray, "", "", ""},
        {"profile ID *", "star.OP1", gray, op2, "FileID=*\r\n", ""},
        {"profile ID 1*", "wild.OP1", gray, op2, "FileID=1*\r\n", ""},
        {"macro ID 1*", "wild.bin", macro, "", "FileID=1*\r\n", ""},
        {"macro ID 12a", "letters.bin", macro, "", "FileID=12a\r\n", ""},
        {"macro folder with '*'", "star.bin", macro, "", "FileID=12\r\nFileTargetPath=\\pcl\\*\r\n",
         ""},
        {"macro name of 300 characters", "long.bin", macro, "",
         "FileName=" + longName + "\r\nFileTargetPath=\\other\r\n",
         MacroStream(macro, "\\other", longName.substr(0, kMaxRowText), "1")},
    };
    std::size_t sends = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bad = Make(c.file, c.bytes);
        const std::string companion = bad.substr(0, bad.size() - 4) + ".op2";
        DeleteFileA(companion.c_str());
        if (!c.op2.empty())
            suite::WriteAll(companion, c.op2);
        const std::string opj =
            Make("hand.OPJ", "[FILES]\r\nCount=3\r\n\r\n" +
                                 Section(0, Make("m.bin", macro), "FileName=40\r\nFileID=40\r\n") +
                                 Section(1, bad, c.keys) + Section(2, Make("box.hst", box), ""));
        CLeftView *view = NewProject();
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(static_cast<CZqDoc *>(view->GetDocument())->ReadProject(opj.c_str()));
        ASSERT_EQ(view->GetListCtrl().GetItemCount(), 3);
        EXPECT_EQ(view->SendProject(1), TRUE);
        EXPECT_EQ(BoxTexts(), c.sent.empty() ? std::vector<std::string>{"Operation Failed"}
                                             : std::vector<std::string>{});
        ASSERT_TRUE(server.WaitForJobs(++sends, 10000));
        const std::string got = server.Jobs()[sends - 1].received;
        const std::string expected = goodForm + c.sent + good;
        EXPECT_NE(got.find(expected), std::string::npos);
        for (const char *line :
             {"QUVWILDFSDELETE", "FSDOWNLOAD", "ENTER LANGUAGE=POSTSCRIPT", "WriteTarget"})
            EXPECT_EQ(Occurrences(got, line), Occurrences(expected, line)) << line;
        server.With([&](fakeprinter::Engine &e) {
            for (const std::string &name : kept)
                EXPECT_NE(e.Files().Find(name), nullptr) << name;
            const std::string *stored = e.Files().Find("0:\\pcl\\macros\\40");
            EXPECT_TRUE(stored && *stored == macro);
        });
        AppObject.CloseAllDocuments(FALSE);
        Pump();
    }
}

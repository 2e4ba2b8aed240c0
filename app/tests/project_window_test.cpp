// The project window in-process with the real resource module: rows added by kind, the
// project file saved and read back, removal and closing, shell drops, row drags between
// project windows, duplicate IDs, the download names and the joined stream sent to the
// fake printer or saved.
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app_setup.h"
#include "buffer.h"
#include "framework_seam.h"

#include "frames.h"
#include "mainfrm.h"
#include "pcmfile.h"
#include "printer.h"
#include "project.h"
#include "resource_ids.h"
#include "server.h"
#include "suite_dialogs.h"
#include "suite_files.h"
#include "suite_paths.h"
#include "zqapp.h"

CZqApp AppObject;

// Every array delete is counted while tracking is on: the rows' source paths are freed
// through it, so each must appear exactly once after its row goes.
namespace tracking {
std::atomic<bool> on{false};
constexpr int kMax = 4096;
void *freed[kMax];
std::atomic<int> count{0};
int TimesFreed(const void *p) {
    int n = 0;
    for (int i = 0; i < count && i < kMax; ++i)
        n += freed[i] == p;
    return n;
}
} // namespace tracking

void operator delete[](void *p) noexcept {
    if (p && tracking::on) {
        const int i = tracking::count++;
        if (i < tracking::kMax)
            tracking::freed[i] = p;
    }
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    operator delete[](p);
}

using namespace std::string_literals;

namespace {

const std::string kSoftFonts = SUITE_SOFTFONT_DIR;
const std::string kSans = "Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf";
const std::string kUel = "\x1b%-12345X";

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

int Image(CListCtrl &list, int row) {
    LVITEMA item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    list.GetItem(&item);
    return item.iImage;
}

// Name, ID, volume, folder of each row.
std::vector<std::vector<std::string>> Rows(CListCtrl &list) {
    std::vector<std::vector<std::string>> rows;
    for (int r = 0; r < list.GetItemCount(); ++r)
        rows.push_back({Text(list, r, 0), Text(list, r, 1), Text(list, r, 2), Text(list, r, 3)});
    return rows;
}

std::vector<int> Selected(CListCtrl &list) {
    std::vector<int> rows;
    for (int r = list.GetNextItem(-1, LVNI_SELECTED); r >= 0;
         r = list.GetNextItem(r, LVNI_SELECTED))
        rows.push_back(r);
    return rows;
}

void SelectOnly(CListCtrl &list, std::vector<int> rows) {
    list.SetItemState(-1, 0, LVIS_SELECTED);
    for (int r : rows)
        list.SetItemState(r, LVIS_SELECTED, LVIS_SELECTED);
}

// A download item that records what it was asked to build; its stream is "<name>|", or
// nothing for a file named "zero.*".
struct Recorded {
    std::string volume, folder, name, id;
};
std::vector<Recorded> g_recorded;
class RecordingItem : public CBuffer {
  public:
    explicit RecordingItem(const char *path) : CBuffer(path) {}
    DWORD BuildDownload(CPtrList &jobs, const char *volume, const char *folder, const char *name,
                        const char *id) override {
        g_recorded.push_back({volume, folder, name, id});
        if (std::strstr(m_fileName, "zero."))
            return 0;
        auto *stream = new CMBuffer;
        stream->AppendString((std::string(name) + "|").c_str());
        jobs.AddHead(stream);
        return stream->GetLength();
    }
};
CBuffer *MakeRecording(const char *path) {
    return new RecordingItem(path);
}

class ProjectWindow : public ::testing::Test {
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
        AfxTestSeam::Begin();
        folder_ = suite::TestDataDir() + "\\project-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name();
        EnsureFolder(folder_.c_str());
        lstrcpynA(DataFolder, folder_.c_str(), MAX_PATH);
        lstrcpynA(ProgramFolder, suite::BinDir().c_str(), MAX_PATH);
        if (!AppObject.m_printers)
            AppObject.m_printers = new CPtrList(10);
        AppObject.m_typeFace = 3000;
        frame_ = new CMainFrame;
        AppObject.m_pMainWnd = frame_;
        ASSERT_TRUE(frame_->LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE));
        frame_->ShowWindow(SW_SHOW);
        Pump();
        AppObject.m_projectCount = 0;
        g_recorded.clear();
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
    static CZqDoc *Doc(CLeftView *view) { return static_cast<CZqDoc *>(view->GetDocument()); }
    // A file of the test's folder with these bytes; its full path.
    std::string Make(const std::string &name, const std::string &bytes) const {
        const std::string path = folder_ + "\\" + name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        suite::WriteAll(path, bytes);
        return path;
    }
    std::string CopyIn(const std::string &from, const std::string &name) const {
        return Make(name, suite::ReadAll(from));
    }
    static int Add(CLeftView *view, const std::string &path) {
        char buffer[MAX_PATH];
        lstrcpynA(buffer, path.c_str(), MAX_PATH);
        return view->AddProjectFile(buffer);
    }
    static std::vector<AfxTestSeam::Event> Boxes() {
        std::vector<AfxTestSeam::Event> boxes;
        for (auto &e : AfxTestSeam::TakeLog())
            if (e.kind == "box")
                boxes.push_back(e);
        return boxes;
    }
    static std::vector<std::string> BoxTexts() {
        std::vector<std::string> texts;
        for (auto &e : Boxes())
            texts.push_back(e.text);
        return texts;
    }

    std::string folder_;
    CMainFrame *frame_ = nullptr;
};

} // namespace

TEST_F(ProjectWindow, ColumnsRowsByKindAndThePropertyPane) {
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    CListCtrl &list = view->GetListCtrl();
    EXPECT_EQ(view->GetStyle() & LVS_TYPEMASK, static_cast<DWORD>(LVS_REPORT));
    EXPECT_TRUE(view->GetStyle() & LVS_SHOWSELALWAYS);
    EXPECT_TRUE(view->GetExStyle() & WS_EX_ACCEPTFILES);
    EXPECT_EQ(list.GetImageList(LVSIL_SMALL)->GetSafeHandle(),
              AppObject.m_smallImages.GetSafeHandle());
    const char *headings[] = {" Component", " ID", " Target Volume", " Target Path"};
    const int widths[] = {190, 60, 30, 300};
    for (int c = 0; c < 4; ++c) {
        char text[64] = {};
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT;
        column.pszText = text;
        column.cchTextMax = sizeof text;
        ASSERT_TRUE(list.SendMessage(LVM_GETCOLUMNA, c, reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(text, headings[c]);
        EXPECT_EQ(list.GetColumnWidth(c), widths[c]);
    }
    CZqView *pane = static_cast<CChildFrame *>(view->GetParentFrame())->GetRightPane();
    CListCtrl &props = pane->GetListCtrl();
    EXPECT_EQ(props.GetColumnWidth(0), 120);
    EXPECT_EQ(props.GetColumnWidth(1), 360);

    const std::string sfp = CopyIn(kSoftFonts + "/d64.sfp", "d64.sfp");
    const std::string ttf = CopyIn(kSans, "sans.ttf");
    const std::string pfb =
        Make("nimbus.PFB",
             "\x80\x01\x20\x00\x00\x00%!PS-AdobeFont-1.0: N\r\n/FontName /Nimbus(Sans) def\r\n"s);
    const std::string type3 = Make("t3.fnt", "%!\n/Fancy\"Font 10 dict definefont pop\n");
    const std::string macro = Make("m.bin", "\x1b&f1Y");
    const std::string demo = Make("page.dmo", "\x1b&f2Y");
    const std::string form = Make("form.v1.hst", "%!PS form");
    const std::string profile = Make("prof.OP1", "op1 bytes");
    Make("prof.op2", "C:\\maps\\ink1001bst1200ppr.icm\r\n");
    const std::string lonely = Make("lonely.op1", "op1 bytes");
    const std::string shortFont = Make("short.sfp", "\x1b)s10W\0\0\0\0"s);
    struct Case {
        std::string path;
        std::vector<std::string> row;
        int kind;
    };
    const Case cases[] = {
        {sfp, {"Courier", "0", "0:", "\\fonts"}, 8},
        {ttf, {"DejaVu-Sans", "1", "0:", "\\fonts"}, 9},
        {pfb, {"Nimbus-Sans-", "2", "%disk0%", "/fonts"}, 11},
        {type3, {"Fancy-Font", "3", "%disk0%", "/fonts"}, 11},
        {macro, {"4", "4", "0:", "\\pcl\\macros"}, 10},
        {demo, {"5", "5", "1:", "\\common\\demo"}, 10},
        {form, {"form", "", "%disk0%", "/Resource/Form"}, 12},
        {profile, {"ink1001bst1200ppr", "1001", "1:", "\\common\\smaps_env\\color"}, 13},
        {lonely, {"Missing-File-Name---Reconvert", "0", "1:", "\\common\\smaps_env\\color"}, 13},
        {shortFont, {"short.sfp", "9", "0:", "\\fonts"}, 8},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_EQ(Add(view, c.path), n);
        EXPECT_EQ(Rows(list)[n], c.row);
        EXPECT_EQ(Image(list, n), c.kind);
        EXPECT_STREQ(view->RowSource(n), c.path.c_str());
        ++n;
    }
    EXPECT_TRUE(Doc(view)->IsModified());
    EXPECT_TRUE(Boxes().empty());

    // The same file in other case is the same file.
    std::string upper = sfp;
    CharUpperA(upper.data());
    EXPECT_EQ(Add(view, upper), -1);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Duplicate file  " + upper});
    EXPECT_EQ(list.GetItemCount(), n);

    // Selecting a row shows its file's properties.
    SelectOnly(list, {0});
    EXPECT_EQ(pane->m_fileList, view);
    ASSERT_GT(props.GetItemCount(), 4);
    EXPECT_EQ(Text(props, 0, 1), "Bitmapped Font");
    EXPECT_EQ(Text(props, 1, 1), sfp);
    SelectOnly(list, {1});
    EXPECT_EQ(Text(props, 0, 1), "True Type Font");
    SelectOnly(list, {4}); // a kind without its own item shows the file's rows
    EXPECT_EQ(props.GetItemCount(), 4);
    EXPECT_EQ(Text(props, 1, 1), macro);
    SelectOnly(list, {});
    EXPECT_EQ(props.GetItemCount(), 0);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ProjectWindow, PrintFilesBecomeFormsOrMacrosOnlyWhenWritten) {
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    CListCtrl &list = view->GetListCtrl();
    const std::string prn = Make("job.prn", "%!PS-Adobe-3.0\nshowpage\n");
    const std::string hst = folder_ + "\\job.HST";
    DeleteFileA(hst.c_str());
    char buffer[MAX_PATH];
    lstrcpynA(buffer, prn.c_str(), MAX_PATH);
    ASSERT_EQ(view->AddProjectFile(buffer), 0);
    EXPECT_STREQ(buffer, hst.c_str()) << "the caller gets the path used";
    EXPECT_EQ(suite::ReadAll(hst), suite::ReadAll(prn));
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Filter File Created: " + hst);
    EXPECT_EQ(boxes[0].caption, "Information");
    EXPECT_EQ(Rows(list)[0], (std::vector<std::string>{"job", "", "%disk0%", "/Resource/Form"}));
    // The same print file again meets its converted path.
    EXPECT_EQ(Add(view, prn), -1);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Duplicate file  " + hst});

    // Another window: declining the overwrite keeps the existing form and adds it.
    CLeftView *other = NewProject();
    ASSERT_NE(other, nullptr);
    suite::WriteAll(hst, "older form");
    AfxTestSeam::PushAnswer("IDNO");
    EXPECT_EQ(Add(other, prn), 0);
    EXPECT_EQ(suite::ReadAll(hst), "older form");
    boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "File " + hst + " exists. Overwrite YES/NO ?");

    // A form that cannot be written (a folder holds its name) gives no row and no
    // "created" message.
    CLeftView *third = NewProject();
    ASSERT_NE(third, nullptr);
    const std::string blocked = Make("blocked.prn", "%!PS\nshowpage\n");
    const std::string folder = folder_ + "\\blocked.HST";
    CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_EQ(Add(third, blocked), -1);
    RemoveDirectoryA(folder.c_str());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Operation Failed"});
    EXPECT_EQ(third->GetListCtrl().GetItemCount(), 0);

    // A PCL print file adds its .BIN only when one is there afterwards: a kept older one
    // (the overwrite declined) is added as a macro.
    const std::string pcl = Make("job2.prn", "\x1b"
                                             "E\x1b&f1Y\x1b&f0X");
    const std::string bin = folder_ + "\\job2.BIN";
    DeleteFileA(bin.c_str());
    EXPECT_EQ(Add(third, pcl), -1); // no flag file: every flag set, and the first piece is empty
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Operation Failed"});
    EXPECT_EQ(GetFileAttributesA(bin.c_str()), INVALID_FILE_ATTRIBUTES);
    suite::WriteAll(bin, "older macro");
    AfxTestSeam::PushAnswer("IDNO");
    EXPECT_EQ(Add(third, pcl), 0);
    EXPECT_STREQ(third->RowSource(0), bin.c_str());
    EXPECT_EQ(Rows(third->GetListCtrl())[0],
              (std::vector<std::string>{"0", "0", "0:", "\\pcl\\macros"}));
    EXPECT_EQ(suite::ReadAll(bin), "older macro");
    EXPECT_EQ(Boxes().size(), 1u) << "the overwrite question only";
}

TEST_F(ProjectWindow, APclPrintFileBecomesAMacroRowOfItsFirstPiece) {
    // Flags: reset dropped, pieces split and bracketed with cursor push/pop.
    std::string flags(112, '\0');
    for (int k : {1, 26, 27})
        flags[static_cast<std::size_t>(4 * k)] = 1;
    Make("PFilters.dat", flags);
    const std::string program = folder_ + "\\program";
    EnsureFolder(program.c_str());
    lstrcpynA(ProgramFolder, program.c_str(), MAX_PATH);
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    const std::string pcl = Make("page.prn", "\x1b"
                                             "Eheader\x1b&f7Y\x1b&f0Xbody\x1b&f1Xtail");
    const std::string bin = folder_ + "\\page.BIN";
    DeleteFileA(bin.c_str());
    EXPECT_EQ(Add(view, pcl), 0);
    EXPECT_STREQ(view->RowSource(0), bin.c_str());
    const std::string push = "\033&f0S\033&p0S\033*p0P", pop = "\033&p0S\033*p1P\033&f1S";
    EXPECT_EQ(suite::ReadAll(bin), push + "header" + pop);
    EXPECT_EQ(suite::ReadAll(program + "\\M7.bin"), push + "body" + pop);
    EXPECT_EQ(suite::ReadAll(program + "\\F0.bin"), push + "tail" + pop);
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{"Filter File Created: " + bin,
                                        "Filter File Created: " + program + "\\M7.bin",
                                        "Filter File Created: " + program + "\\F0.bin"}));
}

TEST_F(ProjectWindow, BitmappedFontsOfABuildWriteTheMetricsPackage) {
    const std::string program = folder_ + "\\program";
    EnsureFolder(program.c_str());
    ASSERT_TRUE(
        CopyFileA(suite::BinPath("gorwin.dll").c_str(), (program + "\\gorwin.DLL").c_str(), FALSE));
    lstrcpynA(ProgramFolder, program.c_str(), MAX_PATH);
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    const std::string a = CopyIn(kSoftFonts + "/d68.sfp", "a.sfp");
    const std::string b = CopyIn(kSoftFonts + "/d64.sfp", "b.sfp");
    ASSERT_EQ(Add(view, a), 0);
    ASSERT_EQ(Add(view, b), 1);
    CPtrList jobs;
    ULONGLONG total = 0;
    view->CollectJobItems(jobs, total);
    while (!jobs.IsEmpty())
        delete static_cast<CBuffer *>(jobs.RemoveHead());
    EXPECT_TRUE(BoxTexts().empty());
    // The images of the rows, in row order, after the 20-byte header.
    auto image = [](const std::string &font) {
        CPFMFile pfm(font.c_str());
        std::string bytes(pfm.GetPfmSize(), '\0');
        pfm.SerialisePfm(reinterpret_cast<std::uint8_t *>(bytes.data()));
        return bytes;
    };
    const std::string pcm = suite::ReadAll(program + "\\Wyr.PCM");
    const std::string ia = image(a), ib = image(b);
    ASSERT_FALSE(ia.empty());
    ASSERT_FALSE(ib.empty());
    ASSERT_EQ(pcm.size(), 20 + ia.size() + ib.size());
    EXPECT_EQ(pcm.substr(0, 4), "\xac\x0c\x10\x03");
    EXPECT_EQ(pcm.substr(20, ia.size()), ia);
    EXPECT_EQ(pcm.substr(20 + ia.size()), ib);
    suite::WriteAll(std::string(SUITE_PCM_CHECK_DIR) + "\\project-send.pcm", pcm);
}

TEST_F(ProjectWindow, SavedProjectsReopenWithTheirRows) {
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    CListCtrl &list = view->GetListCtrl();
    const std::string sfp = CopyIn(kSoftFonts + "/d64.sfp", "d64.sfp");
    const std::string ttf = CopyIn(kSans, "sans.ttf");
    const std::string macro = Make("m.bin", "\x1b&f1Y");
    ASSERT_EQ(Add(view, sfp), 0);
    ASSERT_EQ(Add(view, ttf), 1);
    ASSERT_EQ(Add(view, macro), 2);
    list.SetItemText(1, 0, "My Sans");
    list.SetItemText(1, 1, "123456789012");
    list.SetItemText(2, 2, "%disk1%");
    const std::string opj = folder_ + "\\saved.OPJ";
    ASSERT_TRUE(Doc(view)->OnSaveDocument(opj.c_str()));
    EXPECT_FALSE(Doc(view)->IsModified());
    const std::string expected = WriteProjectText({{sfp, "Courier", "0", "0:", "\\fonts"},
                                                   {ttf, "My Sans", "123456789", "0:", "\\fonts"},
                                                   {macro, "2", "2", "%disk1%", "\\pcl\\macros"}});
    EXPECT_EQ(suite::ReadAll(opj), expected);

    CLeftView *again = NewProject();
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(Doc(again)->ReadProject(opj.c_str()));
    EXPECT_FALSE(Doc(again)->IsModified());
    auto rows = Rows(list);
    rows[1][1] = "123456789";
    EXPECT_EQ(Rows(again->GetListCtrl()), rows);
    for (int r = 0; r < 3; ++r)
        EXPECT_STREQ(again->RowSource(r), view->RowSource(r));
    EXPECT_TRUE(Boxes().empty());

    // A source deleted since: its message, and the other rows keep their values.
    DeleteFileA(ttf.c_str());
    CLeftView *third = NewProject();
    ASSERT_NE(third, nullptr);
    ASSERT_TRUE(Doc(third)->ReadProject(opj.c_str()));
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot open file " + ttf +
                                 ". It has been temporarily removed. You must add it to the "
                                 "project again to correct the problem.");
    EXPECT_EQ(boxes[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_EQ(Rows(third->GetListCtrl()),
              (std::vector<std::vector<std::string>>{rows[0], rows[2]}));
}

TEST_F(ProjectWindow, ProjectFilesThatReadAsNothingAndRowsThatAreNotAdded) {
    const std::string a = Make("a.bin", "A");
    const std::string b = Make("b.bin", "B");
    auto section = [](int n, const std::string &source, const std::string &name) {
        return "[file" + std::to_string(n) + "]\r\nFileSourcePath=" + source +
               "\r\nFileName=" + name + "\r\nFileID=" + std::to_string(n) +
               "\r\nFileTargetVolume=0:\r\nFileTargetPath=\\pcl\\macros\r\n\r\n";
    };
    struct Case {
        const char *what;
        std::string text;
        std::vector<std::string> boxes;
    };
    const std::string missing = folder_ + "\\gone.bin";
    const Case cases[] = {
        {"empty", "", {}},
        {"binary", std::string("\x00\xFF\x10\x80[FILES]", 11) + std::string(5000, '\xEE'), {}},
        {"LF-only", "[FILES]\nCount=1\n\n[file0]\nFileSourcePath=" + a + "\n", {}},
        {"keyless", "[FILES]\r\n", {}},
        {"negative Count", "[FILES]\r\nCount=-1\r\n\r\n" + section(0, a, "x"), {}},
        {"Count=0", "[FILES]\r\nCount=0\r\n\r\n" + section(0, a, "x"), {}},
        {"a huge Count, no sections", "[FILES]\r\nCount=2000000000\r\n\r\n", {}},
        {"NUL before the sections", "[FILES]\r\nCount=1\r\n\0"s + section(0, a, "x"), {}},
        {"a missing source",
         "[FILES]\r\nCount=1\r\n\r\n" + section(0, missing, "x"),
         {"Cannot open file " + missing +
          ". It has been temporarily removed. You must add it to the project again to correct the "
          "problem."}},
        {"a source over 259 characters",
         "[FILES]\r\nCount=1\r\n\r\n" +
             section(0, a.substr(0, a.size() - 5) + std::string(260, 'x') + ".bin", "x"),
         {"Cannot open file " + a.substr(0, a.size() - 5) + std::string(260, 'x') +
          ".bin. It has been temporarily removed. You must add it to the project again to correct "
          "the problem."}},
        {"no source key",
         "[FILES]\r\nCount=1\r\n\r\n[file0]\r\nFileName=x\r\n",
         {"Cannot open file . It has been temporarily removed. You must add it to the project "
          "again to correct the problem."}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string opj = Make("bad.OPJ", c.text);
        CLeftView *view = NewProject();
        ASSERT_NE(view, nullptr);
        EXPECT_FALSE(Doc(view)->ReadProject(opj.c_str()));
        EXPECT_EQ(view->GetListCtrl().GetItemCount(), 0);
        EXPECT_EQ(BoxTexts(), c.boxes);
    }
    CLeftView *view = NewProject();
    EXPECT_FALSE(Doc(view)->ReadProject((folder_ + "\\none.OPJ").c_str()));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Cannot open file " + folder_ + "\\none.OPJ"});

    // A source listed twice adds one row; the values go to the rows they belong to.
    const std::string twice =
        Make("twice.OPJ", "[FILES]\r\nCount=3\r\n\r\n" + section(0, a, "first") +
                              section(1, a, "again") + section(2, b, "third"));
    CLeftView *reader = NewProject();
    ASSERT_TRUE(Doc(reader)->ReadProject(twice.c_str()));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Duplicate file  " + a});
    EXPECT_EQ(Rows(reader->GetListCtrl()),
              (std::vector<std::vector<std::string>>{{"first", "0", "0:", "\\pcl\\macros"},
                                                     {"third", "2", "0:", "\\pcl\\macros"}}));
    // A section without some keys keeps the derived values of those.
    const std::string partial =
        Make("partial.OPJ", "[FILES]\r\nCount=2\r\n\r\n[file0]\r\nFileSourcePath=" + a +
                                "\r\nFileName=only\r\n\r\n" + section(1, b, "bee"));
    CLeftView *third = NewProject();
    ASSERT_TRUE(Doc(third)->ReadProject(partial.c_str()));
    EXPECT_EQ(Rows(third->GetListCtrl()),
              (std::vector<std::vector<std::string>>{{"only", "0", "0:", "\\pcl\\macros"},
                                                     {"bee", "1", "0:", "\\pcl\\macros"}}));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ProjectWindow, RemovingAndClosingFreeEachPathOnce) {
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    CListCtrl &list = view->GetListCtrl();
    for (const char *name : {"a.bin", "b.bin", "c.bin", "d.bin"})
        ASSERT_GE(Add(view, Make(name, name)), 0);
    std::vector<const void *> paths;
    for (int r = 0; r < 4; ++r)
        paths.push_back(view->RowSource(r));
    Doc(view)->SetModifiedFlag(FALSE);
    SelectOnly(list, {0, 2});
    tracking::count = 0;
    tracking::on = true;
    view->RemoveSelectedRows();
    tracking::on = false;
    EXPECT_TRUE(Doc(view)->IsModified());
    ASSERT_EQ(list.GetItemCount(), 2);
    EXPECT_EQ(std::string(view->RowSource(0)), folder_ + "\\b.bin");
    EXPECT_EQ(std::string(view->RowSource(1)), folder_ + "\\d.bin");
    const int removedOnce[] = {1, 0, 1, 0};
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(tracking::TimesFreed(paths[r]), removedOnce[r]) << r;

    tracking::count = 0;
    tracking::on = true;
    Doc(view)->OnCloseDocument();
    Pump();
    tracking::on = false;
    const int closedOnce[] = {0, 1, 0, 1};
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(tracking::TimesFreed(paths[r]), closedOnce[r]) << r;
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ProjectWindow, ShellDropsAddFilesButNotFolders) {
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    const std::string sub = folder_ + "\\a folder.bin";
    CreateDirectoryA(sub.c_str(), nullptr);
    // A path past 259 characters whose first 259 name a file: it is not taken for that file.
    const std::string prefix =
        folder_ + "\\" + std::string(259 - folder_.size() - 1 - 4, 'p') + ".bin";
    ASSERT_EQ(prefix.size(), 259u);
    Make(prefix.substr(folder_.size() + 1), "prefix");
    const std::vector<std::string> dropped = {Make("one.bin", "1"), sub, Make("two.dmo", "2"),
                                              folder_ + "\\gone.bin",
                                              prefix + std::string(40, 'x')};
    std::size_t size = sizeof(DROPFILES) + 1;
    for (const auto &f : dropped)
        size += f.size() + 1;
    HGLOBAL drop = GlobalAlloc(GHND, size);
    ASSERT_NE(drop, nullptr);
    auto *files = static_cast<DROPFILES *>(GlobalLock(drop));
    files->pFiles = sizeof(DROPFILES);
    char *at = reinterpret_cast<char *>(files + 1);
    for (const auto &f : dropped) {
        std::memcpy(at, f.c_str(), f.size() + 1);
        at += f.size() + 1;
    }
    GlobalUnlock(drop);
    view->SendMessage(WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    CListCtrl &list = view->GetListCtrl();
    ASSERT_EQ(list.GetItemCount(), 2);
    EXPECT_EQ(std::string(view->RowSource(0)), dropped[0]);
    EXPECT_EQ(std::string(view->RowSource(1)), dropped[2]);
    EXPECT_TRUE(Boxes().empty());
    RemoveDirectoryA(sub.c_str());
}

namespace {

void BeginDrag(CLeftView *view, int row) {
    NMLISTVIEW nm = {};
    nm.hdr.hwndFrom = view->m_hWnd;
    nm.hdr.idFrom = static_cast<UINT_PTR>(view->GetDlgCtrlID());
    nm.hdr.code = LVN_BEGINDRAG;
    nm.iItem = row;
    SendMessageA(GetParent(view->m_hWnd), WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
}

void CursorOver(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

} // namespace

TEST_F(ProjectWindow, RowsDragBetweenProjectListsAndAReleaseElsewhereCancels) {
    CLeftView *a = NewProject();
    CLeftView *b = NewProject();
    CLeftView *c = NewProject();
    ASSERT_TRUE(a && b && c);
    const std::string one = Make("one.bin", "1"), two = Make("two.bin", "2"),
                      three = Make("three.bin", "3");
    for (const auto &p : {one, two, three})
        ASSERT_GE(Add(a, p), 0);
    frame_->MDITile(MDITILE_VERTICAL);
    // Other test programs share the display: this frame stays on top while the cursor
    // picks the drop target.
    SetWindowPos(frame_->m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    Pump();
    SelectOnly(a->GetListCtrl(), {0, 2});

    BeginDrag(a, 0);
    ASSERT_EQ(GetCapture(), a->m_hWnd) << "the drag holds the mouse";
    CursorOver(b->m_hWnd);
    SendMessageA(GetCapture(), WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(GetCapture(), nullptr);
    ASSERT_EQ(b->GetListCtrl().GetItemCount(), 2);
    EXPECT_EQ(std::string(b->RowSource(0)), one);
    EXPECT_EQ(std::string(b->RowSource(1)), three);
    EXPECT_EQ(Rows(b->GetListCtrl())[1],
              (std::vector<std::string>{"1", "1", "0:", "\\pcl\\macros"}));

    // Released over the main frame's caption: nothing moves, and no drag is left.
    BeginDrag(a, 0);
    ASSERT_EQ(GetCapture(), a->m_hWnd);
    RECT main;
    GetWindowRect(frame_->m_hWnd, &main);
    SetCursorPos(main.left + 40, main.top + 8);
    SendMessageA(GetCapture(), WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(b->GetListCtrl().GetItemCount(), 2);
    EXPECT_EQ(c->GetListCtrl().GetItemCount(), 0);

    // Esc and a lost capture cancel too; each next drag works.
    BeginDrag(a, 0);
    ASSERT_EQ(GetCapture(), a->m_hWnd);
    a->SendMessage(WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(GetCapture(), nullptr);
    BeginDrag(a, 0);
    ASSERT_EQ(GetCapture(), a->m_hWnd);
    SetCapture(frame_->m_hWnd);
    ReleaseCapture();
    BeginDrag(a, 0);
    ASSERT_EQ(GetCapture(), a->m_hWnd);
    CursorOver(c->m_hWnd);
    SendMessageA(GetCapture(), WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(c->GetListCtrl().GetItemCount(), 2);
    EXPECT_EQ(a->GetListCtrl().GetItemCount(), 3) << "the source keeps its rows";
    EXPECT_TRUE(Boxes().empty());

    // Closing the source window while dragging leaves no drag behind.
    BeginDrag(a, 0);
    ASSERT_EQ(GetCapture(), a->m_hWnd);
    Doc(a)->OnCloseDocument();
    Pump();
    EXPECT_EQ(GetCapture(), nullptr);
    SelectOnly(c->GetListCtrl(), {0});
    BeginDrag(c, 0);
    EXPECT_EQ(GetCapture(), c->m_hWnd);
    c->SendMessage(WM_KEYDOWN, VK_ESCAPE, 0);
}

TEST_F(ProjectWindow, DuplicateIdsStopTheBuildWithBothRowsSelected) {
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    CListCtrl &list = view->GetListCtrl();
    ASSERT_EQ(Add(view, CopyIn(kSoftFonts + "/d64.sfp", "d64.sfp")), 0);
    ASSERT_EQ(Add(view, Make("m.bin", "m")), 1);
    ASSERT_EQ(Add(view, CopyIn(kSans, "sans.ttf")), 2);
    list.SetItemText(0, 1, "5");
    list.SetItemText(1, 1, "5");
    list.SetItemText(2, 1, "05");
    SelectOnly(list, {1});
    EXPECT_EQ(view->SendProject(0), FALSE);
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u) << "no stream is built or saved";
    EXPECT_EQ(boxes[0].text, "Duplicate file  05");
    EXPECT_EQ(boxes[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_EQ(Selected(list), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(AppObject.m_typeFace, 3000);
    list.SetItemText(2, 1, "x");
    EXPECT_EQ(view->CheckDuplicateIds(), 1);
}

TEST_F(ProjectWindow, DownloadNamesAndRowsThatCannotBeBuilt) {
    const auto oldMacro = CLeftView::SetItemMaker(kItemMacro, MakeRecording);
    const auto oldForm = CLeftView::SetItemMaker(kItemPostScriptForm, MakeRecording);
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    CListCtrl &list = view->GetListCtrl();
    struct Case {
        const char *file;
        const char *name, *id, *volume, *folder;
    };
    const Case cases[] = {
        {"m.bin", "x", "12", "0:", "\\pcl\\macros"},
        {"d.dmo", "3", "3", "1:", "\\common\\demo"},
        {"e.dmo", "start.dmo", "4", "1:", "\\common\\demo"},
        {"o.bin", "keep", "5", "0:", "\\other"},
        {"q.bin", "q", "6", "0:", "\\p\"cl"},
        {"r.bin", "r", "7", "0:\r\n@PJL FSINIT", "\\pcl"},
        {"s.bin", "s\x01", "8", "0:", "\\other"},
        {"zero.bin", "z", "9", "0:", "\\pcl\\macros"},
        {"f.hst", "form", "", "%disk0%", "/Resource/Form"},
    };
    for (const Case &c : cases) {
        const int row = Add(view, Make(c.file, c.file));
        ASSERT_GE(row, 0);
        list.SetItemText(row, 0, c.name);
        list.SetItemText(row, 1, c.id);
        list.SetItemText(row, 2, c.volume);
        list.SetItemText(row, 3, c.folder);
    }
    const int font = Add(view, CopyIn(kSoftFonts + "/d64.sfp", "d64.sfp"));
    list.SetItemText(font, 1, "*");
    CPtrList jobs;
    ULONGLONG total = 0;
    view->CollectJobItems(jobs, total);
    std::vector<std::string> names;
    for (const auto &r : g_recorded)
        names.push_back(r.name);
    EXPECT_EQ(names, (std::vector<std::string>{"12", "3.DMO", "START.DMO", "keep", "9", "form"}));
    EXPECT_EQ(g_recorded[1].folder, "\\common\\demo");
    EXPECT_EQ(g_recorded[5].volume, "%disk0%");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>(5, "Operation Failed"))
        << "three unsafe rows, the empty stream and the font with ID *";
    std::string joined;
    while (!jobs.IsEmpty()) {
        auto *stream = static_cast<CBuffer *>(jobs.RemoveHead());
        joined.append(stream->m_data, stream->GetLength());
        delete stream;
    }
    EXPECT_EQ(joined, "form|keep|START.DMO|3.DMO|12|");
    EXPECT_EQ(total, joined.size());
    CLeftView::SetItemMaker(kItemMacro, oldMacro);
    CLeftView::SetItemMaker(kItemPostScriptForm, oldForm);

    // Without a maker a kind cannot be built.
    const auto macroMaker = CLeftView::SetItemMaker(kItemMacro, nullptr);
    CLeftView *plain = NewProject();
    ASSERT_EQ(Add(plain, Make("p.bin", "p")), 0);
    CPtrList none;
    plain->CollectJobItems(none, total);
    CLeftView::SetItemMaker(kItemMacro, macroMaker);
    EXPECT_EQ(total, 0u);
    EXPECT_TRUE(none.IsEmpty());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Operation Failed"});
}

TEST_F(ProjectWindow, PostScriptFontsAndMacrosBuildWithTheProgramFoldersPieces) {
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    CListCtrl &list = view->GetListCtrl();
    const std::string good = std::string("\x80\x01\x0c\0\0\0%!PS-Adobe\r\n\x80\x03", 20);
    const std::string bad = std::string("\x80\x01\x08\0\0\0/x 1 def\x80\x03", 16);
    const int macro = Add(view, Make("m.bin", "macro"));
    const int badFont = Add(view, Make("bad.pfb", bad));
    const int goodFont = Add(view, Make("good.pfb", good));
    ASSERT_GE(macro, 0);
    ASSERT_GE(badFont, 0);
    ASSERT_GE(goodFont, 0);
    list.SetItemText(macro, 0, "12");
    list.SetItemText(macro, 1, "12");
    CPtrList jobs;
    ULONGLONG total = 0;
    view->CollectJobItems(jobs, total);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Operation Failed"})
        << "the file without %!PS-Adobe";
    ASSERT_EQ(jobs.GetCount(), 2);
    std::string joined;
    while (!jobs.IsEmpty()) {
        auto *stream = static_cast<CBuffer *>(jobs.RemoveHead());
        joined.append(stream->m_data, stream->GetLength());
        delete stream;
    }
    EXPECT_EQ(total, joined.size());
    const std::string f1 = suite::ReadAll(suite::BinPath("PSFORMF1.DAT"));
    ASSERT_FALSE(f1.empty()) << "PSFORMF1.DAT is not beside the program";
    EXPECT_NE(joined.find("@PJL ENTER LANGUAGE=POSTSCRIPT\r\n" + f1 + "/WriteTarget ("),
              std::string::npos)
        << "PSFORMF1.DAT from the program folder";
    EXPECT_NE(joined.find("%!PS-Adobe\r\n%VelmarStoredDataEndsHere%\n\x04"), std::string::npos);
    EXPECT_NE(joined.find("QUVWILDFSDELETE NAME=\"" + Text(list, macro, 2) + Text(list, macro, 3) +
                          "\\12::*\""),
              std::string::npos);
}

TEST_F(ProjectWindow, SendDeliversOneJobInReverseRowOrderAndSaveWritesTheSameStream) {
    fakeprinter::Server server;
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = "127.0.0.1:" + std::to_string(server.Port());
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    // No printer in the bar: nothing is built.
    ASSERT_EQ(Add(view, CopyIn(kSans, "sans.ttf")), 0);
    EXPECT_EQ(view->SendProject(1), FALSE);
    EXPECT_EQ(AppObject.m_typeFace, 3000);
    EXPECT_TRUE(Boxes().empty());

    AppObject.AddPrinterRow(DiscoveredPrinter{port.c_str(), "Fake"});
    const std::string sfp = CopyIn(kSoftFonts + "/d64.sfp", "d64.sfp");
    ASSERT_EQ(Add(view, sfp), 1);
    const std::string gone = CopyIn(kSoftFonts + "/d64.sfp", "gone.sfp");
    ASSERT_EQ(Add(view, gone), 2);
    DeleteFileA(gone.c_str());
    EXPECT_EQ(view->SendProject(1), TRUE);
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{"Cannot open file " + gone, "Operation Failed"}));
    ASSERT_TRUE(server.WaitForJobs(1, 10000));
    const auto jobs = server.Jobs();
    ASSERT_EQ(jobs.size(), 1u);
    const std::string &got = jobs[0].received;
    const std::size_t soft = got.find("NAME=\"0:\\fonts\\Courier_1\"");
    const std::size_t sans = got.find("NAME=\"0:\\fonts\\DejaVu-Sans_0\"");
    ASSERT_NE(soft, std::string::npos);
    ASSERT_NE(sans, std::string::npos);
    EXPECT_LT(soft, sans) << "the last row's stream comes first";
    EXPECT_EQ(AppObject.m_typeFace, 3001);
    server.With([&](fakeprinter::Engine &e) {
        EXPECT_NE(e.Files().Find("0:\\fonts\\Courier_1"), nullptr);
        const std::string *tt = e.Files().Find("0:\\fonts\\DejaVu-Sans_0");
        ASSERT_NE(tt, nullptr);
        EXPECT_TRUE(tt->substr(112) == suite::ReadAll(kSans));
    });

    // Saving writes the stream the send would: here one bitmapped font.
    CLeftView *single = NewProject();
    ASSERT_EQ(Add(single, sfp), 0);
    const std::string pjl = folder_ + "\\last.pjl";
    DeleteFileA(pjl.c_str());
    AfxTestSeam::PushAnswer("file:" + pjl);
    EXPECT_EQ(single->SendProject(0), FALSE);
    const auto log = AfxTestSeam::TakeLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].kind, "save");
    EXPECT_EQ(log[0].text, "last.pjl");
    EXPECT_EQ(log[0].ext, "pjl");
    EXPECT_EQ(log[0].filter, "PJL Command files (*.pjl)|*.pjl|All Files (*.*)|*.*|");
    EXPECT_TRUE(log[0].flags & OFN_OVERWRITEPROMPT);
    EXPECT_TRUE(log[0].flags & OFN_HIDEREADONLY);
    ASSERT_TRUE(single->SendProject(1));
    ASSERT_TRUE(server.WaitForJobs(2, 10000));
    const std::string sent = server.Jobs()[1].received;
    const std::string saved = suite::ReadAll(pjl);
    ASSERT_FALSE(saved.empty());
    EXPECT_NE(sent.find(saved), std::string::npos) << "the job holds the saved stream";
    EXPECT_EQ(saved.rfind(kUel, 0), 0u);

    // An empty project sends nothing.
    CLeftView *empty = NewProject();
    EXPECT_EQ(empty->SendProject(1), FALSE);
    EXPECT_EQ(server.Jobs().size(), 2u);
    EXPECT_TRUE(Boxes().empty());
}

namespace {

// The details dialog of one EditRow, run by a second thread: what it found enabled, then
// the texts typed and OK or Exit.
struct EditRun {
    bool found = false, nameEnabled = false, idEnabled = false;
    std::string name, id, volume, folder; // as the dialog showed them
    int result = -1;
};

// The details dialog of the thread that runs it (other test programs on the display show
// theirs), found without sending that thread a message: it may be waiting for the helper.
HWND FindDetailsDialog(DWORD thread) {
    for (HWND h = FindWindowExA(nullptr, nullptr, "#32770", "Edit Component Name and ID"); h;
         h = FindWindowExA(nullptr, h, "#32770", "Edit Component Name and ID"))
        if (GetWindowThreadProcessId(h, nullptr) == thread && IsWindowVisible(h))
            return h;
    return nullptr;
}

EditRun RunDetailsDialog(const std::function<int()> &open,
                         const std::vector<std::pair<int, std::string>> &typed, bool ok) {
    EditRun run;
    const DWORD uiThread = GetCurrentThreadId();
    {
        suite::DialogDriver driver(
            [&](HWND dialog) {
                if (!dialog)
                    return;
                run.found = true;
                run.nameEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_DETAIL_NAME));
                run.idEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_DETAIL_ID));
                auto text = [&](int id) {
                    char buffer[300] = {};
                    SendMessageA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof buffer,
                                 reinterpret_cast<LPARAM>(buffer));
                    return std::string(buffer);
                };
                run.name = text(IDC_DETAIL_NAME);
                run.id = text(IDC_DETAIL_ID);
                run.volume = text(IDC_DETAIL_VOLUME);
                run.folder = text(IDC_DETAIL_PATH);
                for (const auto &[id, value] : typed)
                    SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0,
                                 reinterpret_cast<LPARAM>(value.c_str()));
                PostMessageA(dialog, WM_COMMAND, ok ? IDOK : IDCANCEL, 0);
            },
            [uiThread] { return FindDetailsDialog(uiThread); });
        run.result = open();
    }
    return run;
}

EditRun EditThroughDialog(CLeftView *view, int row,
                          const std::vector<std::pair<int, std::string>> &typed, bool ok) {
    return RunDetailsDialog([=] { return view->EditRow(row); }, typed, ok);
}

} // namespace

TEST_F(ProjectWindow, EditRowLocksByKindAndMakesTheValuesWhole) {
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    CListCtrl &list = view->GetListCtrl();
    ASSERT_EQ(Add(view, CopyIn(kSoftFonts + "/d64.sfp", "d64.sfp")), 0);
    ASSERT_EQ(Add(view, Make("m.bin", "m")), 1);
    ASSERT_EQ(Add(view, Make("f.hst", "%!PS")), 2);
    ASSERT_EQ(Add(view, Make("page.dmo", "d")), 3);
    ASSERT_EQ(Add(view, Make("n.pfb", "%!PS-AdobeFont\n/FontName /N def")), 4);
    struct Case {
        int row;
        bool nameEnabled, idEnabled;
        std::vector<std::pair<int, std::string>> typed;
        std::vector<std::string> after;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {0,
         false,
         true,
         {{IDC_DETAIL_ID, "17"}, {IDC_DETAIL_VOLUME, "0"}},
         {"Courier", "17", "0:", "\\fonts"},
         {}},
        {1,
         true,
         true,
         {{IDC_DETAIL_NAME, "my [macro]"}, {IDC_DETAIL_ID, "40000"}},
         {"my--macro-", "32767", "0:", "\\pcl\\macros"},
         {}},
        {2,
         true,
         false,
         {{IDC_DETAIL_NAME, "form two"}},
         {"form-two", "", "%disk0%", "/Resource/Form"},
         {}},
        {3,
         true,
         false,
         {{IDC_DETAIL_NAME, "start"}},
         {"START.DMO", "3", "1:", "\\common\\demo"},
         {"Invalid Demo Page name changed to START.DMO"}},
        {1,
         true,
         true,
         {{IDC_DETAIL_NAME, "next.dmo"}},
         {"NEXT.DMO", "32767", "1:", "\\common\\demo"},
         {}},
        {4, false, false, {{IDC_DETAIL_VOLUME, "%disk1%"}}, {"N", "4", "%disk1%", "/fonts"}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.row);
        const std::vector<std::string> before = Rows(list)[c.row];
        Doc(view)->SetModifiedFlag(FALSE);
        const EditRun run = EditThroughDialog(view, c.row, c.typed, true);
        ASSERT_TRUE(run.found) << "dialog 125 did not show";
        EXPECT_EQ((std::vector<std::string>{run.name, run.id, run.volume, run.folder}), before);
        EXPECT_EQ(run.nameEnabled, c.nameEnabled);
        EXPECT_EQ(run.idEnabled, c.idEnabled);
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(Rows(list)[c.row], c.after);
        EXPECT_TRUE(Doc(view)->IsModified());
        EXPECT_EQ(BoxTexts(), c.boxes);
    }
    // Exit leaves the row as it was.
    const auto before = Rows(list)[1];
    Doc(view)->SetModifiedFlag(FALSE);
    const EditRun cancelled = EditThroughDialog(view, 1, {{IDC_DETAIL_NAME, "other"}}, false);
    ASSERT_TRUE(cancelled.found);
    EXPECT_EQ(cancelled.result, 0);
    EXPECT_EQ(Rows(list)[1], before);
    EXPECT_FALSE(Doc(view)->IsModified());
    EXPECT_EQ(view->EditRow(99), 0);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ProjectWindow, ARefusingPrinterIsReportedOnceAndTheSendFails) {
    fakeprinter::Server server;
    server.With([](fakeprinter::Engine &e) { e.defaults.refuseConnections = true; });
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = "127.0.0.1:" + std::to_string(server.Port());
    AppObject.AddPrinterRow(DiscoveredPrinter{port.c_str(), "Refusing"});
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(Add(view, CopyIn(kSoftFonts + "/d64.sfp", "d64.sfp")), 0);
    EXPECT_EQ(view->SendProject(1), FALSE);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                              "Kelvane Error Code 536871171(0x20000103): Job Connection Error"});
    EXPECT_TRUE(server.Jobs().empty());
}

TEST_F(ProjectWindow, ADoubleClickEditsTheRowHitAndNothingElsewhere) {
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    CListCtrl &list = view->GetListCtrl();
    ASSERT_EQ(Add(view, Make("m.bin", "m")), 0);
    RECT item;
    ASSERT_TRUE(list.GetItemRect(0, &item, LVIR_LABEL));
    auto doubleClick = [&](POINT at) {
        NMITEMACTIVATE nm = {};
        nm.hdr.hwndFrom = view->m_hWnd;
        nm.hdr.idFrom = static_cast<UINT_PTR>(view->GetDlgCtrlID());
        nm.hdr.code = NM_DBLCLK;
        nm.iItem = -1;
        nm.ptAction = at;
        return static_cast<int>(SendMessageA(GetParent(view->m_hWnd), WM_NOTIFY, nm.hdr.idFrom,
                                             reinterpret_cast<LPARAM>(&nm)));
    };
    const EditRun hit = RunDetailsDialog(
        [&] {
            return doubleClick({item.left + 2, (item.top + item.bottom) / 2});
        },
        {{IDC_DETAIL_NAME, "clicked"}}, true);
    EXPECT_TRUE(hit.found);
    EXPECT_EQ(Text(list, 0, 0), "clicked");
    const EditRun miss = RunDetailsDialog(
        [&] {
            return doubleClick({item.left + 2, item.bottom + 100});
        },
        {}, false);
    EXPECT_FALSE(miss.found) << "no row, no dialog";
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ProjectWindow, EmptyAndLockedSourcesAreReportedAndTheRestIsBuilt) {
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(frame_->IsCommandEnabled(ID_SEND_PROJECT_FILES)) << "no printer in the bar";
    const std::string good = CopyIn(kSoftFonts + "/d64.sfp", "good.sfp");
    const std::string empty = Make("empty.sfp", "");
    const std::string locked = CopyIn(kSoftFonts + "/d64.sfp", "locked.sfp");
    for (const auto &p : {good, empty, locked})
        ASSERT_GE(Add(view, p), 0);
    view->GetListCtrl().SetItemText(2, 1, "7");
    EXPECT_TRUE(frame_->IsCommandEnabled(ID_CREATE_DOWNLOAD_FILE));
    HANDLE hold = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    const std::string pjl = folder_ + "\\last.pjl";
    for (const char *box : {"IDOK", "IDOK", "IDOK"}) // the three messages come first
        AfxTestSeam::PushAnswer(box);
    AfxTestSeam::PushAnswer("file:" + pjl);
    EXPECT_EQ(view->SendProject(0), FALSE);
    CloseHandle(hold);
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{"Operation Failed", "Cannot open file " + locked,
                                        "Operation Failed"}));
    const std::string saved = suite::ReadAll(pjl);
    EXPECT_NE(saved.find("NAME=\"0:\\fonts\\Courier_0\""), std::string::npos);
    EXPECT_EQ(saved.find("_1\""), std::string::npos);
    EXPECT_EQ(saved.find("_7\""), std::string::npos);
}

// Hand-made project files cannot smuggle a wider delete or a PJL line into the job.
TEST_F(ProjectWindow, HandMadeTargetsSendNothingForTheirRows) {
    fakeprinter::Server server;
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = "127.0.0.1:" + std::to_string(server.Port());
    AppObject.AddPrinterRow(DiscoveredPrinter{port.c_str(), "Fake"});
    const std::string a = CopyIn(kSoftFonts + "/d64.sfp", "a.sfp");
    const std::string b = CopyIn(kSans, "b.ttf");
    const std::string c = CopyIn(kSoftFonts + "/d64.sfp", "c.sfp");
    const std::string d = CopyIn(kSans, "d.ttf");
    auto section = [](int n, const std::string &source, const std::string &id,
                      const std::string &folder) {
        return "[file" + std::to_string(n) + "]\r\nFileSourcePath=" + source +
               "\r\nFileName=F\r\nFileID=" + id +
               "\r\nFileTargetVolume=0:\r\nFileTargetPath=" + folder + "\r\n\r\n";
    };
    const std::string opj =
        Make("hand.OPJ", "[FILES]\r\nCount=4\r\n\r\n" + section(0, a, "*", "\\fonts") +
                             section(1, b, "4", "\\fo\"nts") + section(2, c, "3", "\\fonts") +
                             section(3, d, "5", "\\fonts*"));
    CLeftView *view = NewProject();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(Doc(view)->ReadProject(opj.c_str()));
    EXPECT_TRUE(Boxes().empty());
    ASSERT_EQ(view->GetListCtrl().GetItemCount(), 4);
    for (const char *box : {"IDOK", "IDOK", "IDOK"})
        AfxTestSeam::PushAnswer(box);
    EXPECT_EQ(view->SendProject(1), TRUE);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>(3, "Operation Failed"));
    ASSERT_TRUE(server.WaitForJobs(1, 10000));
    const std::string job = server.Jobs()[0].received;
    std::vector<std::string> deletes;
    for (std::size_t at = job.find("QUVWILDFSDELETE"); at != std::string::npos;
         at = job.find("QUVWILDFSDELETE", at + 1))
        deletes.push_back(job.substr(at, job.find("\r\n", at) - at));
    EXPECT_EQ(deletes, std::vector<std::string>{"QUVWILDFSDELETE NAME=\"0:\\fonts\\*_3\""});
    EXPECT_EQ(job.find("fo\"nts"), std::string::npos);
}

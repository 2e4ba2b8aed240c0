// The PostScript font and form, macro and colour-profile kinds in-process: their streams
// against the core's, missing program-folder pieces, property rows, and a download through
// corvane.dll to the fake printer that applies the wild deletes.
#include "psfiles.h"

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework.h"
#include "framework_seam.h"
#include "printer.h"
#include "psdownload.h"
#include "server.h"
#include "suite_files.h"
#include "suite_paths.h"
#include "zqapp.h"

CZqApp AppObject;

namespace {

const std::string kUel = "\x1b%-12345X";

std::string TakeStream(CPtrList &jobs) {
    if (jobs.IsEmpty())
        return {};
    auto *stream = static_cast<CBuffer *>(jobs.RemoveHead());
    std::string bytes(stream->m_data, stream->GetLength());
    delete stream;
    return bytes;
}

std::string Row(CListCtrl &list, int row, int column) {
    char text[1024] = {};
    list.GetItemText(row, column, text, sizeof text);
    return text;
}

void Write(const std::string &path, const std::string &bytes) {
    ASSERT_TRUE(WriteWholeFile(path.c_str(), bytes.data(), static_cast<DWORD>(bytes.size())))
        << path;
}

const std::uint8_t *U(const std::string &s) {
    return reinterpret_cast<const std::uint8_t *>(s.data());
}

std::string Segment(int type, const std::string &bytes) {
    const auto n = static_cast<std::uint32_t>(bytes.size());
    return std::string{'\x80',
                       static_cast<char>(type),
                       static_cast<char>(n & 0xFF),
                       static_cast<char>(n >> 8 & 0xFF),
                       static_cast<char>(n >> 16 & 0xFF),
                       static_cast<char>(n >> 24)} +
           bytes;
}

class PsFiles : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        static bool ready = false;
        if (ready)
            return;
        ready = true;
        INITCOMMONCONTROLSEX controls = {sizeof controls, 0x1FFF};
        InitCommonControlsEx(&controls);
        AppObject.m_hResources = LoadLibraryA(suite::BinPath("nimbrel.dll").c_str());
        AfxSetResourceHandle(AppObject.m_hResources);
    }
    void SetUp() override {
        ASSERT_NE(AppObject.m_hResources, nullptr) << "nimbrel.dll did not load";
        AfxTestSeam::Begin();
        folder_ = suite::TestDataDir() + "\\psfiles-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name();
        EnsureFolder(folder_.c_str());
        lstrcpynA(DataFolder, folder_.c_str(), MAX_PATH);
        lstrcpynA(ProgramFolder, folder_.c_str(), MAX_PATH);
        for (std::size_t i = 0; i < pieces_.size(); ++i) {
            pieces_[i] = "%piece " + std::to_string(i + 1) + "\r\n";
            Write(Piece(static_cast<int>(i) + 1), pieces_[i]);
        }
        Write(File("tiny.pfb"), pfb_);
        Write(File("form.eps"), eps_);
    }
    void TearDown() override { AfxTestSeam::End(); }
    std::string File(const std::string &name) const { return folder_ + "\\" + name; }
    std::string Piece(int n) const { return File("PSFORMF" + std::to_string(n) + ".DAT"); }
    static std::vector<AfxTestSeam::Event> Boxes() {
        std::vector<AfxTestSeam::Event> boxes;
        for (auto &e : AfxTestSeam::TakeLog())
            if (e.kind == "box")
                boxes.push_back(e);
        return boxes;
    }
    std::string folder_;
    PostScriptPieces pieces_;
    const std::string pfb_ = Segment(1, "%!PS-AdobeFont-1.0: Tiny\r") +
                             Segment(2, std::string(50, '\x9c')) + std::string("\x80\x03", 2);
    const std::string eps_ =
        "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 100 100 300 200\n0 0 moveto\n";
};

class PropertyList {
  public:
    PropertyList() {
        parent_.CreateEx(0, nullptr, "rows", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr);
        list.Create(LVS_REPORT, CRect(0, 0, 380, 280), &parent_, 100);
        list.InsertColumn(0, "Property", LVCFMT_LEFT, 150);
        list.InsertColumn(1, "Value", LVCFMT_LEFT, 200);
    }
    ~PropertyList() { parent_.DestroyWindow(); }
    std::string Value(const std::string &label) {
        for (int i = 0; i < list.GetItemCount(); ++i)
            if (Row(list, i, 0) == label)
                return Row(list, i, 1);
        return "(none)";
    }
    CListCtrl list;

  private:
    CWnd parent_;
};

} // namespace

TEST_F(PsFiles, StreamsAreTheCoresWithTheProgramFoldersPieces) {
    CPtrList jobs;
    CPSFont font(File("tiny.pfb").c_str());
    ASSERT_NE(font.BuildDownload(jobs, "%disk0%", "\\fonts", "Tiny", "1"), 0u);
    EXPECT_EQ(TakeStream(jobs), *BuildPostScriptFontStream(U(pfb_), pfb_.size(), "%disk0%", "Tiny",
                                                           pieces_[0], pieces_[2]));
    CPSForm form(File("form.eps").c_str());
    ASSERT_NE(form.BuildDownload(jobs, "%disk0%", "\\forms", "Box", "2"), 0u);
    EXPECT_EQ(TakeStream(jobs),
              *BuildPostScriptFormStream(U(eps_), eps_.size(), "%disk0%", "Box", pieces_));
    ASSERT_NE(form.BuildDownload(jobs, "1:", "\\common\\demo", "Box", "2"), 0u);
    EXPECT_EQ(TakeStream(jobs),
              kUel + "@PJL FSDOWNLOAD FORMAT:BINARY SIZE=" + std::to_string(eps_.size()) +
                  " NAME=\"1:\\common\\demo\\Box\"\r\n" + eps_ + kUel);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PsFiles, AMissingOrEmptyPieceBuildsNoStream) {
    struct Case {
        const char *file;
        int piece;
        bool font;
        bool empty;
    } cases[] = {{"tiny.pfb", 3, true, false},
                 {"tiny.pfb", 1, true, true},
                 {"form.eps", 6, false, false},
                 {"form.eps", 7, false, true}};
    for (const Case &c : cases) {
        SetUp();
        if (c.empty)
            Write(Piece(c.piece), "");
        else
            DeleteFileA(Piece(c.piece).c_str());
        AfxTestSeam::TakeLog();
        CPtrList jobs;
        std::unique_ptr<CBuffer> item(
            c.font ? static_cast<CBuffer *>(new CPSFont(File(c.file).c_str()))
                   : new CPSForm(File(c.file).c_str()));
        EXPECT_EQ(item->BuildDownload(jobs, "0:", "\\f", "N", "1"), 0u) << c.piece;
        EXPECT_TRUE(jobs.IsEmpty());
        const auto boxes = Boxes();
        if (c.empty) {
            EXPECT_TRUE(boxes.empty()) << c.piece;
        } else {
            ASSERT_EQ(boxes.size(), 1u) << c.piece;
            EXPECT_EQ(boxes[0].text, "Cannot open file " + Piece(c.piece));
        }
        TearDown();
    }
    // A .FNT needs no PSFORMF3.DAT; a file that is no PostScript font reads no piece at all.
    DeleteFileA(Piece(3).c_str());
    Write(File("plain.fnt"), "%!PS-AdobeFont-1.0: P\n/x 1 def\n");
    Write(File("none.pfb"), Segment(1, "/x 1 def"));
    CPtrList jobs;
    CPSFont fnt(File("plain.fnt").c_str());
    EXPECT_NE(fnt.BuildDownload(jobs, "0:", "\\f", "P", "1"), 0u);
    EXPECT_EQ(TakeStream(jobs).back(), '\x04');
    DeleteFileA(Piece(1).c_str());
    CPSFont none(File("none.pfb").c_str());
    EXPECT_EQ(none.BuildDownload(jobs, "0:", "\\f", "P", "1"), 0u);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PsFiles, PropertyRowsOfEachKind) {
    Write(File("m.bin"), "macro");
    Write(File("p.OP1"), std::string("Gray profile\0\0", 14) + std::string(18, '\0') + "data");
    struct Case {
        CBuffer *item;
        const char *kind;
        int rows;
    } cases[] = {{new CPSFont(File("tiny.pfb").c_str()), "PostScript Font", 4},
                 {new CPSForm(File("form.eps").c_str()), "PostScript Form", 4},
                 {new CMacro(File("m.bin").c_str()), "Macro File", 4},
                 {new CICMFile(File("p.OP1").c_str()), "Color Simulation Profile", 9}};
    for (const Case &c : cases) {
        std::unique_ptr<CBuffer> item(c.item);
        if (auto *profile = dynamic_cast<CICMFile *>(item.get()))
            profile->SetRowName("ink1002clstv1200tra");
        PropertyList rows;
        EXPECT_EQ(item->ShowProperties(rows.list), c.rows) << c.kind;
        EXPECT_EQ(Row(rows.list, 0, 1), c.kind);
        if (c.rows == 9) {
            EXPECT_EQ(rows.Value("Profile Name:"), "User Profile 2");
            EXPECT_EQ(rows.Value("Descripton:"), "Gray profile");
            EXPECT_EQ(rows.Value("Screen:"), "Cluster screen");
            EXPECT_EQ(rows.Value("Resolution:"), "600 x 1200 dpi");
            EXPECT_EQ(rows.Value("Media:"), "Transparency");
        }
    }
    CICMFile profile(File("p.OP1").c_str());
    profile.SetRowName("ink1001bst1200ppr");
    PropertyList rows;
    profile.ShowProperties(rows.list);
    EXPECT_EQ(rows.Value("Profile Name:"), "User Profile 1");
    EXPECT_EQ(rows.Value("Screen:"), "Device Best screen");
    EXPECT_EQ(rows.Value("Resolution:"), "1200 x 1200 dpi");
    EXPECT_EQ(rows.Value("Media:"), "Plain paper");
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PsFiles, MacroAndProfileReplaceOlderFilesOfTheirIdOnThePrinter) {
    fakeprinter::Server server;
    server.With([](fakeprinter::Engine &e) {
        for (const char *name : {"0:\\pcl\\macros\\12::old", "0:\\pcl\\macros\\120::keep",
                                 "1:\\common\\smaps_env\\color\\ink1001bst600ppr",
                                 "1:\\common\\smaps_env\\color\\ink1001cxyz",
                                 "1:\\common\\smaps_env\\color\\ink1002bst1200ppr"})
            e.Files().Store(name, "old");
    });
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = "127.0.0.1:" + std::to_string(server.Port());
    CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});

    const std::string macro("\x1b&f12y0X\x1b*p0x0Y\0macro", 20);
    const std::string op1 = std::string("Gray", 4) + std::string(28, '\0') + "\x00\x01profile";
    Write(File("12.bin"), macro);
    Write(File("ink1001bst1200ppr.OP1"), op1);
    CMacro m(File("12.bin").c_str());
    CICMFile p(File("ink1001bst1200ppr.OP1").c_str());
    CPtrList jobs;
    ASSERT_NE(m.BuildDownload(jobs, "0:", "\\pcl\\macros", "12", "12"), 0u);
    ASSERT_NE(
        p.BuildDownload(jobs, "1:", "\\common\\smaps_env\\color", "ink1001bst1200ppr", "1001"), 0u);
    EXPECT_EQ(m.BuildDownload(jobs, "0:", "\\pcl\\macros", "12", "1*"), 0u);
    EXPECT_EQ(p.BuildDownload(jobs, "1:", "\\c", "ink1", "*"), 0u);
    std::string joined;
    while (!jobs.IsEmpty())
        joined += TakeStream(jobs);
    ASSERT_TRUE(printer.SendStream(joined.data(), static_cast<DWORD>(joined.size())));
    ASSERT_TRUE(server.WaitForJobs(1, 5000));
    server.With([&](fakeprinter::Engine &e) {
        std::vector<std::string> files;
        for (const std::string &path : e.Files().Files())
            if (path.find("\\pcl\\") != std::string::npos ||
                path.find("\\smaps_env\\") != std::string::npos)
                files.push_back(path);
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files,
                  (std::vector<std::string>{"0:\\pcl\\macros\\12", "0:\\pcl\\macros\\120::keep",
                                            "1:\\common\\smaps_env\\color\\ink1001bst1200ppr",
                                            "1:\\common\\smaps_env\\color\\ink1002bst1200ppr"}));
        const std::string *stored = e.Files().Find("0:\\pcl\\macros\\12");
        ASSERT_NE(stored, nullptr);
        EXPECT_TRUE(*stored == macro);
        stored = e.Files().Find("1:\\common\\smaps_env\\color\\ink1001bst1200ppr");
        ASSERT_NE(stored, nullptr);
        EXPECT_TRUE(*stored == op1);
    });
    EXPECT_TRUE(Boxes().empty());
}

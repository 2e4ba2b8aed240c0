// The font file kinds in-process with their own CZqApp: soft-font and TrueType streams
// against the fixtures' own computation, the typeface counter and its settings file, the
// property rows with the real resource and typeface modules, and downloads through
// corvane.dll to the fake printer.
#include "fontfiles.h"

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework.h"
#include "framework_seam.h"
#include "printer.h"
#include "server.h"
#include "suite_files.h"
#include "suite_paths.h"
#include "zqapp.h"

CZqApp AppObject;

namespace {

const std::string kUel = "\x1b%-12345X";
const std::string kSoftFonts = SUITE_SOFTFONT_DIR; // written by gen_softfonts.py
const std::string kTrueTypes = SUITE_TRUETYPE_DIR; // written by make_ttfonts.py
const std::string kStreams = SUITE_STREAM_DIR;     // read by check_storedfont.py

std::vector<std::string> Lines(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string &line) {
    std::vector<std::string> out;
    std::stringstream s(line);
    for (std::string field; std::getline(s, field, '\t');)
        out.push_back(field);
    return out;
}

bool Exists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The head stream of the job list, removed; "" when the list is empty.
std::string TakeStream(CPtrList &jobs) {
    if (jobs.IsEmpty())
        return {};
    auto *stream = static_cast<CBuffer *>(jobs.RemoveHead());
    std::string bytes(stream->m_data, stream->GetLength());
    delete stream;
    return bytes;
}

std::string DeleteFirst(const std::string &id, const std::string &name, std::size_t size) {
    return kUel + "@PJL QUVWILDFSDELETE NAME=\"0:\\fonts\\*_" + id +
           "\"\r\n@PJL FSDOWNLOAD FORMAT:BINARY SIZE=" + std::to_string(size) +
           " NAME=\"0:\\fonts\\" + name + "\"\r\n";
}

std::string TrueTypePath(const std::string &field) {
    if (field.empty() || field[0] != '/')
        return kTrueTypes + "/" + field;
    std::string path = "Z:" + field;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

unsigned Get16(const std::string &s, std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(s[at]) << 8 |
                                 static_cast<unsigned char>(s[at + 1]));
}

std::string Row(CListCtrl &list, int row, int column) {
    char text[1024] = {};
    list.GetItemText(row, column, text, sizeof text);
    return text;
}

class FontFiles : public testing::Test {
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
        folder_ = suite::TestDataDir() + "\\fonts-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name();
        EnsureFolder(folder_.c_str());
        lstrcpynA(DataFolder, folder_.c_str(), MAX_PATH);
        lstrcpynA(ProgramFolder, suite::BinDir().c_str(), MAX_PATH);
        DeleteFileA(Settings().c_str());
        if (!AppObject.m_printers)
            AppObject.m_printers = new CPtrList(10);
        AppObject.m_typeFace = 3000;
    }
    void TearDown() override {
        DeleteFileA(Settings().c_str());
        AfxTestSeam::End();
    }
    std::string Settings() const { return folder_ + "\\ZqConfig.dat"; }
    static std::vector<AfxTestSeam::Event> Boxes() {
        std::vector<AfxTestSeam::Event> boxes;
        for (auto &e : AfxTestSeam::TakeLog())
            if (e.kind == "box")
                boxes.push_back(e);
        return boxes;
    }
    std::string TypeFaceLine() const {
        const std::string text = suite::ReadAll(Settings());
        const std::size_t at = text.find("TypeFace=");
        return at == std::string::npos ? "" : text.substr(at, text.find("\r\n", at) - at);
    }
    std::string folder_;
};

// A list control in a hidden window, for property rows.
class PropertyList {
  public:
    PropertyList() {
        parent_.CreateEx(0, nullptr, "rows", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr);
        list.Create(LVS_REPORT, CRect(0, 0, 380, 280), &parent_, 100);
        list.InsertColumn(0, "Property", LVCFMT_LEFT, 150);
        list.InsertColumn(1, "Value", LVCFMT_LEFT, 200);
    }
    ~PropertyList() { parent_.DestroyWindow(); }
    // The value of the row whose label is `label`; "(none)" without such a row.
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

TEST_F(FontFiles, SoftFontStreamsAreTheGeneratorsStoredFonts) {
    const std::vector<std::string> cases = Lines(kSoftFonts + "/cases.txt");
    ASSERT_FALSE(cases.empty()) << "gen_softfonts.py wrote no cases in " << kSoftFonts;
    EnsureFolder(kStreams.c_str());
    for (const std::string &c : cases) {
        const std::string stream = kStreams + "/" + c + ".stream";
        DeleteFileA(stream.c_str());
        CBMFont font((kSoftFonts + "/" + c + ".sfp").c_str());
        ASSERT_FALSE(font.IsEmpty()) << c;
        CPtrList jobs;
        const DWORD length = font.BuildDownload(jobs, "0:", "\\fonts", "Courier_7", "7");
        const std::string expected = kSoftFonts + "/" + c + ".stored";
        if (!Exists(expected)) {
            EXPECT_EQ(length, 0u) << c << " is refused";
            EXPECT_TRUE(jobs.IsEmpty()) << c;
            continue;
        }
        const std::string stored = suite::ReadAll(expected);
        ASSERT_EQ(jobs.GetCount(), 1) << c;
        const std::string bytes = TakeStream(jobs);
        EXPECT_EQ(length, bytes.size()) << c;
        EXPECT_EQ(bytes, DeleteFirst("7", "Courier_7", stored.size()) + stored + kUel) << c;
        suite::WriteAll(stream, bytes);
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(FontFiles, TargetsTheWildDeleteCouldEscapeAreRefused) {
    CBMFont font((kSoftFonts + "/d64.sfp").c_str());
    ASSERT_FALSE(font.IsEmpty());
    const struct {
        const char *folder, *id;
    } cases[] = {{"\\fonts", ""},    {"\\fonts", "*"}, {"\\fonts", "1a"},
                 {"\\fo\"nts", "7"}, {"\\fo*", "7"},   {"\\fonts\r\n@PJL FSINIT", "7"}};
    for (const auto &c : cases) {
        CPtrList jobs;
        const std::string name = std::string("Courier_") + c.id;
        EXPECT_EQ(font.BuildDownload(jobs, "0:", c.folder, name.c_str(), c.id), 0u)
            << c.folder << " " << c.id;
        EXPECT_TRUE(jobs.IsEmpty());
    }
    CTTFont tt((kTrueTypes + "/unbound.ttf").c_str());
    CPtrList jobs;
    EXPECT_EQ(tt.BuildDownload(jobs, "0:", "\\fonts", "Tiny_*", "*"), 0u);
    EXPECT_TRUE(jobs.IsEmpty());
    EXPECT_EQ(AppObject.m_typeFace, 3000) << "a refused target takes no number";
}

TEST_F(FontFiles, TrueTypeStreamsCarryTheComputedHeaderAndTheFile) {
    const std::vector<std::string> cases = Lines(kTrueTypes + "/cases.txt");
    ASSERT_FALSE(cases.empty()) << "make_ttfonts.py wrote no cases in " << kTrueTypes;
    for (const std::string &line : cases) {
        const std::vector<std::string> f = Fields(line);
        ASSERT_EQ(f.size(), 4u) << line;
        const std::string &name = f[0];
        const std::string path = TrueTypePath(f[1]);
        CTTFont font(path.c_str());
        ASSERT_FALSE(font.IsEmpty()) << path;
        AppObject.m_typeFace = 3000;
        CPtrList jobs;
        const DWORD length = font.BuildDownload(jobs, "0:", "\\fonts", "Tiny_9", "9");
        if (f[2] == "1") {
            EXPECT_EQ(length, 0u) << name << " is refused";
            EXPECT_TRUE(jobs.IsEmpty()) << name;
            EXPECT_EQ(AppObject.m_typeFace, 3000) << name << ": a refused font takes no number";
        } else {
            const std::string header = suite::ReadAll(kTrueTypes + "/" + name + ".hdr");
            ASSERT_EQ(header.size(), 112u) << name;
            const std::string file(font.m_data, font.m_length);
            const std::string bytes = TakeStream(jobs);
            EXPECT_EQ(length, bytes.size()) << name;
            EXPECT_TRUE(bytes ==
                        DeleteFirst("9", "Tiny_9", 112 + file.size()) + header + file + kUel)
                << name;
        }
        PropertyList rows;
        ASSERT_NE(rows.list.m_hWnd, nullptr) << "no list control (no display?)";
        font.ShowProperties(rows.list);
        EXPECT_EQ(rows.Value("Symbol Set"), f[3]) << name;
        EXPECT_EQ(Row(rows.list, 0, 1), "True Type Font") << name;
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(FontFiles, TrueTypeRowsShowTheNames) {
    PropertyList rows;
    ASSERT_NE(rows.list.m_hWnd, nullptr) << "no list control (no display?)";
    CTTFont font((kTrueTypes + "/unbound.ttf").c_str());
    const int used = font.ShowProperties(rows.list);
    EXPECT_EQ(used, 10);
    EXPECT_EQ(rows.Value("Font Family Name:"), "Tiny");
    EXPECT_EQ(rows.Value("TrueType Font Name:"), "Tiny Regular");
    EXPECT_EQ(rows.Value("Font Style:"), "Regular");
    EXPECT_EQ(rows.Value("PostScript Name:"), "Tiny-Regular");
    PropertyList longRows;
    CTTFont copyright((kTrueTypes + "/copyright_700.ttf").c_str());
    copyright.ShowProperties(longRows.list);
    EXPECT_EQ(longRows.Value("Copyright:"), std::string(259, 'c'));
    EXPECT_EQ(longRows.Value("TrueType Font Name:"), "");
}

TEST_F(FontFiles, TheTypefaceCounterMovesOnAndIsSaved) {
    CTTFont plain((kTrueTypes + "/unbound.ttf").c_str());
    CTTFont withPclt((kTrueTypes + "/pclt_277.ttf").c_str());
    CTTFont refused((kTrueTypes + "/refused_no_post.ttf").c_str());
    auto typefaceOf = [](CTTFont &font) -> int {
        CPtrList jobs;
        if (!font.BuildDownload(jobs, "0:", "\\fonts", "Tiny_9", "9"))
            return -1;
        const std::string bytes = TakeStream(jobs);
        const std::size_t header = bytes.size() - kUel.size() - 112 - font.m_length;
        return static_cast<int>(Get16(bytes, header + 36));
    };
    struct Case {
        const char *what;
        std::string stored; // TypeFace= of the settings file loaded first; "" loads none
        int start;
        std::vector<int> used;
        const char *saved;
    };
    const Case cases[] = {
        {"two builds", "", 3017, {3017, 3018}, "TypeFace=3019"},
        {"4095 is followed by 3000", "", 4095, {4095, 3000}, "TypeFace=3001"},
        {"a stored 99999", "99999", 0, {3000, 3001}, "TypeFace=3002"},
    };
    for (const Case &c : cases) {
        DeleteFileA(Settings().c_str());
        if (!c.stored.empty()) {
            suite::WriteAll(Settings(), "[SEARCH_FILTERS]\r\nTypeFace=" + c.stored + "\r\n");
            AppObject.LoadSettingsFrom(folder_.c_str());
            EXPECT_EQ(AppObject.m_typeFace, std::stoi(c.stored)) << c.what;
        } else {
            AppObject.m_typeFace = c.start;
        }
        for (int expected : c.used)
            EXPECT_EQ(typefaceOf(plain), expected) << c.what;
        EXPECT_EQ(TypeFaceLine(), c.saved) << c.what;
    }
    const int before = AppObject.m_typeFace;
    DeleteFileA(Settings().c_str());
    EXPECT_EQ(typefaceOf(withPclt), 0x1004);
    EXPECT_EQ(typefaceOf(refused), -1);
    EXPECT_EQ(AppObject.m_typeFace, before) << "a PCLT font and a refused font leave the counter";
    EXPECT_FALSE(Exists(Settings())) << "nor save it";
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(FontFiles, SoftFontRowsWithTheTypefaceModule) {
    struct Case {
        const char *file;
        bool gorwin;
        std::string pitch, height, typeface, selection;
    } cases[] = {
        {"d64", true, "10", "12", "3  Courier", "<ESC>(8U<ESC>(s1p10h12v258s-3b3T"},
        {"d64", false, "10", "12", "3  ", "<ESC>(8U<ESC>(s1p10h12v258s-3b3T"},
        {"pitch0", true, "0", "12", "3  Courier", "<ESC>(8U<ESC>(s1p0h12v258s-3b3T"},
    };
    for (const Case &c : cases) {
        lstrcpynA(ProgramFolder, c.gorwin ? suite::BinDir().c_str() : folder_.c_str(), MAX_PATH);
        CBMFont font((kSoftFonts + "/" + c.file + ".sfp").c_str());
        PropertyList rows;
        ASSERT_NE(rows.list.m_hWnd, nullptr) << "no list control (no display?)";
        const int used = font.ShowProperties(rows.list);
        EXPECT_EQ(used, rows.list.GetItemCount()) << c.file;
        EXPECT_EQ(Row(rows.list, 0, 1), "Bitmapped Font");
        EXPECT_EQ(rows.Value("Bitmap Font Name:"), "Courier");
        EXPECT_EQ(rows.Value("Format:"), "0");
        EXPECT_EQ(rows.Value("XResolution:"), "(none)");
        EXPECT_EQ(rows.Value("Symbol Set:"), "277");
        EXPECT_EQ(rows.Value("Proportionality:"), "1  Proportional");
        EXPECT_EQ(rows.Value("Pitch (width):"), c.pitch);
        EXPECT_EQ(rows.Value("Height:"), c.height);
        EXPECT_EQ(rows.Value("Style:"), "258");
        EXPECT_EQ(rows.Value("Stroke Weight:"), "-3");
        EXPECT_EQ(rows.Value("TypeFace:"), c.typeface);
        EXPECT_EQ(rows.Value("Escape Sequence:"), c.selection);
    }
    lstrcpynA(ProgramFolder, suite::BinDir().c_str(), MAX_PATH);
    CBMFont resolution((kSoftFonts + "/d68_format20.sfp").c_str());
    PropertyList rows;
    resolution.ShowProperties(rows.list);
    EXPECT_EQ(rows.Value("XResolution:"), "1200");
    EXPECT_EQ(rows.Value("YResolution:"), "600");
    EXPECT_EQ(rows.Value("Format:"), "20");
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(FontFiles, DownloadsReplaceOlderFontsOfTheIdOnThePrinter) {
    fakeprinter::Server server;
    server.With([](fakeprinter::Engine &e) {
        for (const char *name : {"0:\\fonts\\Old_7", "0:\\fonts\\Keep_17", "0:\\fonts\\Keep_8"})
            e.Files().Store(name, "old");
    });
    ASSERT_TRUE(server.Start()) << server.error();
    const std::string port = "127.0.0.1:" + std::to_string(server.Port());
    CAPrinter printer(DiscoveredPrinter{port.c_str(), "Fake"});

    CBMFont soft((kSoftFonts + "/order_65_33.sfp").c_str());
    CTTFont sans("Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf");
    ASSERT_FALSE(sans.IsEmpty());
    CPtrList jobs;
    ASSERT_NE(soft.BuildDownload(jobs, "0:", "\\fonts", "Courier_7", "7"), 0u);
    ASSERT_NE(sans.BuildDownload(jobs, "0:", "\\fonts", "Sans_12", "12"), 0u);
    std::string joined;
    while (!jobs.IsEmpty())
        joined += TakeStream(jobs);
    ASSERT_TRUE(printer.SendStream(joined.data(), static_cast<DWORD>(joined.size())));
    ASSERT_TRUE(server.WaitForJobs(1, 5000));
    const std::string stored = suite::ReadAll(kSoftFonts + "/order_65_33.stored");
    const std::string file(sans.m_data, sans.m_length);
    server.With([&](fakeprinter::Engine &e) {
        std::vector<std::string> fonts;
        for (const std::string &path : e.Files().Files())
            if (path.rfind("0:\\fonts\\", 0) == 0)
                fonts.push_back(path);
        std::sort(fonts.begin(), fonts.end());
        EXPECT_EQ(fonts, (std::vector<std::string>{"0:\\fonts\\Courier_7", "0:\\fonts\\Keep_17",
                                                   "0:\\fonts\\Keep_8", "0:\\fonts\\Sans_12"}));
        ASSERT_NE(e.Files().Find("0:\\fonts\\Courier_7"), nullptr);
        EXPECT_TRUE(*e.Files().Find("0:\\fonts\\Courier_7") == stored);
        const std::string *tt = e.Files().Find("0:\\fonts\\Sans_12");
        ASSERT_NE(tt, nullptr);
        EXPECT_EQ(tt->size(), 112 + file.size());
        EXPECT_TRUE(tt->substr(112) == file) << "the file behind its header, unchanged";
        EXPECT_EQ(tt->substr(0, 4), std::string("\0\0\0\xF3", 4));
    });
    EXPECT_TRUE(Boxes().empty());
}

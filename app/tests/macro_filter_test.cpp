// The print-file filter and the metrics package in-process: pieces written and announced,
// the flag file's sizes, and Wyr.PCM from soft fonts with the real typeface module.
#include "macrofile.h"
#include "pcmfile.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "buffer.h"
#include "font_fixtures.h"
#include "framework.h"
#include "seam_test.h"
#include "suite_paths.h"

namespace {

CWinApp g_app("Kelvane");

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string FlagFile(std::initializer_list<int> set) {
    std::string bytes(112, '\0');
    for (int k : set)
        bytes[static_cast<std::size_t>(4 * k)] = 1;
    return bytes;
}

const std::string kPush = "\033&p0S\033*p0P", kPop = "\033&p0S\033*p1P";

class FilterTest : public SeamTest {
  protected:
    void SetUp() override {
        SeamTest::SetUp();
        folder_ = suite::TestDataDir() + "\\macro-filter";
        Clear();
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        lstrcpynA(ProgramFolder, folder_.c_str(), MAX_PATH);
        lstrcpynA(DataFolder, folder_.c_str(), MAX_PATH);
        ASSERT_TRUE(
            CopyFileA(suite::BinPath("gorwin.dll").c_str(), Path("gorwin.DLL").c_str(), FALSE))
            << "gorwin.dll not found in " << suite::BinDir();
    }
    void TearDown() override {
        Clear();
        SeamTest::TearDown();
    }
    void Clear() {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((folder_ + "\\*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName;
                if (name == "." || name == "..")
                    continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveDirectoryA(Path(name).c_str());
                else
                    DeleteFileA(Path(name).c_str());
            } while (FindNextFileA(find, &found));
            FindClose(find);
        }
        RemoveDirectoryA(folder_.c_str());
    }
    std::string Path(const std::string &name) const { return folder_ + "\\" + name; }
    std::string folder_;
};

TEST_F(FilterTest, SplitPiecesAreWrittenAndAnnounced) {
    WriteAll(Path("PFilters.dat"), FlagFile({27}));
    WriteAll(Path("job.prn"), "\x1b&f5Y\x1b&f0X\x1b&l1O"
                              "BODY\x1b&f1XREST");
    CMacroFile filter(Path("job.prn").c_str());
    EXPECT_EQ(filter.SplitMacroFile(Path("job.bin").c_str()), 1);
    EXPECT_EQ(ReadAll(Path("M5.bin")), kPush + "\x1b&l1OBODY" + kPop);
    EXPECT_EQ(ReadAll(Path("F0.bin")), kPush + "REST" + kPop);
    EXPECT_EQ(GetFileAttributesA(Path("job.bin").c_str()),
              INVALID_FILE_ATTRIBUTES); // empty first piece
    EXPECT_FALSE(filter.FirstPieceWritten());
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Filter File Created: " + Path("M5.bin"));
    EXPECT_EQ(boxes[1].text, "Filter File Created: " + Path("F0.bin"));
    for (const auto &box : boxes) {
        EXPECT_EQ(box.caption, "Information");
        EXPECT_EQ(box.flags & MB_ICONMASK, static_cast<UINT>(MB_ICONINFORMATION));
        EXPECT_TRUE(box.flags & MB_SETFOREGROUND);
    }

    // A piece blocked by a folder of its name: 10142 for it, the others still written.
    DeleteFileA(Path("M5.bin").c_str());
    DeleteFileA(Path("F0.bin").c_str());
    ASSERT_TRUE(CreateDirectoryA(Path("M5.bin").c_str(), nullptr));
    CMacroFile again(Path("job.prn").c_str());
    EXPECT_EQ(again.SplitMacroFile(Path("job.bin").c_str()), 1);
    EXPECT_EQ(ReadAll(Path("F0.bin")), kPush + "REST" + kPop);
    boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Cannot open file " + Path("M5.bin"));
    EXPECT_EQ(boxes[1].text, "Filter File Created: " + Path("F0.bin"));
}

TEST_F(FilterTest, UnreadableAndEmptyPrintFiles) {
    WriteAll(Path("PFilters.dat"), FlagFile({}));
    CMacroFile missing(Path("none.prn").c_str());
    EXPECT_EQ(missing.SplitMacroFile(Path("none.bin").c_str()), 0);
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot open file " + Path("none.prn"));
    EXPECT_EQ(GetFileAttributesA(Path("none.bin").c_str()), INVALID_FILE_ATTRIBUTES);

    WriteAll(Path("empty.prn"), "");
    CMacroFile empty(Path("empty.prn").c_str());
    EXPECT_EQ(empty.SplitMacroFile(Path("empty.bin").c_str()), 1);
    EXPECT_EQ(ReadAll(Path("empty.bin")), kPush + kPop);
    EXPECT_TRUE(empty.FirstPieceWritten());
}

TEST_F(FilterTest, FlagFileOfAnyOtherSizeGivesEveryFlag) {
    MacroFlags all;
    all.fill(1);
    for (std::size_t size : {0u, 50u, 113u}) {
        WriteAll(Path("PFilters.dat"), std::string(size, '\0'));
        EXPECT_EQ(CMacroFile::ReadFlags(), all) << size;
    }
    DeleteFileA(Path("PFilters.dat").c_str());
    EXPECT_EQ(CMacroFile::ReadFlags(), all);
    std::string bytes = FlagFile({2, 27});
    bytes[4 * 5 + 3] = '\x80'; // any nonzero value is set
    WriteAll(Path("PFilters.dat"), bytes);
    MacroFlags some{};
    some[2] = some[5] = some[27] = 1;
    EXPECT_EQ(CMacroFile::ReadFlags(), some);
}

unsigned W(const std::string &p, std::size_t at) {
    return static_cast<unsigned char>(p.at(at)) | static_cast<unsigned char>(p.at(at + 1)) << 8;
}
std::uint32_t D(const std::string &p, std::size_t at) {
    return W(p, at) | W(p, at + 2) << 16;
}

TEST_F(FilterTest, MetricsPackageOfTheReadableFonts) {
    using namespace fixtures;
    Descriptor courier; // typeface 3, 8U
    Descriptor math;
    math.typeface = 4;
    math.symbolSet = 269; // 8M
    math.spacing = 0;
    Character a, b;
    b.code = 66;
    WriteAll(Path("one.sfp"), SoftFont(courier, {a, b},
                                       "\x1b"
                                       "E\x1b*c5D"));
    WriteAll(Path("two.sfp"), SoftFont(math, {a}));
    WriteAll(Path("bare.sfp"), "\x1b*c65E\x1b(s16W" + std::string(16, '\0'));
    // A file ending on a lower-case terminator read before: the font keeps its descriptor.
    WriteAll(Path("open.prn"), "\x1b&l1o");
    { CMacroFile open(Path("open.prn").c_str()); }

    CPFMFile probe(Path("bare.sfp").c_str());
    EXPECT_FALSE(probe.HasImage());
    WritePcmPackage({Path("one.sfp"), Path("missing.sfp"), Path("bare.sfp"), Path("two.sfp")});
    const std::string pcm = ReadAll(Path("Wyr.PCM"));
    ASSERT_GT(pcm.size(), 20u);
    EXPECT_EQ(W(pcm, 0), 0x0CACu);
    EXPECT_EQ(D(pcm, 4), pcm.size());
    const std::uint32_t first = D(pcm, 20 + 2);
    ASSERT_LT(20 + first, pcm.size());
    const std::uint32_t second = D(pcm, 20 + first + 2);
    EXPECT_EQ(20u + first + second, pcm.size()); // two images: the unreadable fonts have none
    const std::string one = pcm.substr(20, first), two = pcm.substr(20 + first);
    EXPECT_EQ(std::string(one.c_str() + D(one, 105)), "Courier");
    EXPECT_EQ(std::string(two.c_str() + D(two, 105)), "Helv (Math8)");
    EXPECT_EQ(static_cast<unsigned char>(two[85]), 180u);
    EXPECT_TRUE(Boxes().empty()); // reading fonts shows nothing

    // For the checker, beside the core's packages.
    WriteAll(std::string(SUITE_PCM_CHECK_DIR) + "\\project.pcm", pcm);
    WriteAll(std::string(SUITE_PCM_CHECK_DIR) + "\\project.expect", "Courier|Helv (Math8)\n");

    // No font with an image: nothing written, an older package stays.
    WritePcmPackage({Path("bare.sfp")});
    EXPECT_EQ(ReadAll(Path("Wyr.PCM")), pcm);
}

} // namespace

// The PostScript programs of the printer queries run by Ghostscript, and the fake printer
// answering the same programs over the same files.
#include "queries.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine.h"
#include "storage.h"

namespace {

const std::string kUel = "\x1b%-12345X";

// Files and a form in Ghostscript's %ram% device, which takes folder paths in SAFER mode.
const char kPrelude[] =
    "/mk { exch (w) file dup 3 -1 roll writestring closefile } def\n"
    "(%ram%fonts/A) (hello) mk\n"
    "(%ram%fonts/a\\)b) (xy) mk\n"
    "(%ram%fonts/sub/B) (b) mk\n"
    "(%ram%fonts/sub/C) (c) mk\n"
    "/MyForm << /FormType 1 /BBox [0 0 1 1] /Matrix [1 0 0 1 0 0] /PaintProc { pop } >> "
    "/Form defineresource pop\n";

// The same files in the fake printer, on its disk volume.
fakeprinter::Setup FakeSetup() {
    fakeprinter::Setup s = fakeprinter::Setup::Default();
    s.files = {{"%disk0%fonts/A", "hello"},
               {"%disk0%fonts/a)b", "xy"},
               {"%disk0%fonts/sub/B", "b"},
               {"%disk0%fonts/sub/C", "c"}};
    s.forms = {"MyForm"};
    return s;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The program a printer's interpreter reads: the bytes between the ENTER LANGUAGE line and
// the closing UEL (Ghostscript would read that UEL glued to "flush" as a name).
std::string ProgramOf(const std::string &stream) {
    const std::string enter = "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n";
    const std::size_t at = stream.find(enter);
    std::size_t end = stream.rfind(kUel);
    if (end == std::string::npos || end < at)
        end = stream.size();
    return stream.substr(at + enter.size(), end - at - enter.size());
}

class Ghostscript : public testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/velmar-gs-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr) << "no temporary folder";
        dir_ = dir;
        std::ofstream(dir_ + "/prelude.ps") << kPrelude;
        ASSERT_EQ(std::system("gs --version >/dev/null 2>&1"), 0)
            << "Ghostscript (gs) is not installed";
    }
    void TearDown() override {
        if (!dir_.empty())
            std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    // Output of gs on the prelude, the program and an optional check behind it.
    std::string Run(const std::string &program, const std::string &after = "", bool text = false) {
        std::ofstream(dir_ + "/program.ps", std::ios::binary) << program << "\n" << after;
        const std::string device = text ? " -sDEVICE=txtwrite -sOutputFile=-" : " -dNODISPLAY";
        const std::string command = "timeout 60 gs -q" + device + " -dBATCH -dNOPAUSE '" + dir_ +
                                    "/prelude.ps' '" + dir_ + "/program.ps' >'" + dir_ +
                                    "/out' 2>&1";
        std::system(command.c_str());
        return ReadFile(dir_ + "/out");
    }

    std::string dir_;
};

std::vector<std::string> LinesOf(const std::string &reply, bool *ended) {
    std::vector<std::string> lines;
    bool end = false;
    TakeReplyLines(reply.data(), reply.size(), lines, end);
    if (ended)
        *ended = end;
    return lines;
}

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

std::string FakeReply(fakeprinter::Engine &engine, const std::string &stream) {
    std::string out = engine.BeginJob();
    for (const fakeprinter::Exchange &ex : engine.Feed(stream))
        out += ex.reply;
    engine.EndJob();
    return out;
}

std::set<std::string> SetOf(const std::string &reply) {
    std::set<std::string> lines;
    std::istringstream in(reply);
    for (std::string line; std::getline(in, line);)
        lines.insert(line);
    return lines;
}

} // namespace

TEST_F(Ghostscript, FormsAndTheListingEndWithTheirEot) {
    bool ended = false;
    EXPECT_EQ(Run(ProgramOf(FormsProgram())), "(MyForm)\n\x04\n");
    const std::string listing = Run(ProgramOf(FilesProgram("%ram%fonts/")));
    std::set<std::string> files, folders;
    for (const std::string &line : LinesOf(listing, &ended)) {
        const auto path = DecodePostScriptString(line);
        ASSERT_TRUE(path) << line;
        const auto name = SortListedName("%ram%fonts/", *path);
        ASSERT_TRUE(name) << *path;
        (name->folder ? folders : files).insert(name->name);
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(files, (std::set<std::string>{"A", "a)b"}));
    EXPECT_EQ(folders, (std::set<std::string>{"sub"}));
    EXPECT_NE(listing.find("(%ram%fonts/a\\)b)"), std::string::npos);
    EXPECT_EQ(Run(ProgramOf(FilesProgram("%ram%nothing/"))), "\x04\n");
}

TEST_F(Ghostscript, SizesAndMissingFilesEndWithTheirEotWhereThePrintFormDoesNot) {
    const std::string size = Run(ProgramOf(SizeProgram("%ram%fonts/A")));
    EXPECT_EQ(size, "5\n\x04\n");
    EXPECT_EQ(ParseSizeReply(size.data(), static_cast<std::uint32_t>(size.size())), 5);
    EXPECT_EQ(Run(ProgramOf(SizeProgram("%ram%fonts/a)b"))), "2\n\x04\n");
    const std::string missing = Run(ProgramOf(SizeProgram("%ram%fonts/none")));
    EXPECT_EQ(missing, "No File\n\x04\n");
    EXPECT_EQ(ParseSizeReply(missing.data(), static_cast<std::uint32_t>(missing.size())), -1);

    // print leaves nothing for =: the interpreter stops with an error and never sends the EOT.
    const std::string printForm =
        Replace(ProgramOf(SizeProgram("%ram%fonts/none")), "(No File) =", "(No File) print =");
    const std::string stopped = Run(printForm);
    EXPECT_EQ(stopped.find('\x04'), std::string::npos) << stopped;
    EXPECT_NE(stopped.find("stackunderflow"), std::string::npos) << stopped;
}

TEST_F(Ghostscript, AnEscapedNameCannotRunCode) {
    const std::string check =
        "(%ram%fonts/A) status { pop pop pop pop (kept) } { (gone) } ifelse =\n";
    const std::string name = "%ram%fonts/A) deletefile (%ram%fonts/B";
    EXPECT_EQ(Run(ProgramOf(SizeProgram(name)), check), "No File\n\x04\nkept\n");
    // Pasted raw, the same name deletes the file.
    const std::string raw = "(" + name + ") status {pop pop == pop} { (No File) = } ifelse \r\n";
    EXPECT_NE(Run(raw, check).find("gone"), std::string::npos);
}

TEST_F(Ghostscript, TheFontSampleShowsTheNameAndItsLines) {
    const std::string sample = ProgramOf(FontSampleHead("Courier")) + ReadFile(FONTTEST_DAT);
    ASSERT_GT(sample.size(), 100u) << "fonttest.dat is missing or empty: " << FONTTEST_DAT;
    const std::string page = Run(sample, "", true);
    EXPECT_NE(page.find("Courier"), std::string::npos) << page;
    EXPECT_NE(page.find("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << page;
    EXPECT_NE(page.find("abcdefghijklmnopqrstuvwxyz"), std::string::npos) << page;
    EXPECT_EQ(page.find("Error"), std::string::npos) << page;
}

TEST_F(Ghostscript, TheFakePrinterAnswersAsTheInterpreterDoes) {
    const std::string printForm =
        Replace(SizeProgram("%ram%fonts/none"), "(No File) =", "(No File) print =");
    const std::string streams[] = {FormsProgram(),
                                   FilesProgram("%ram%fonts/"),
                                   FilesProgram("%ram%nothing/"),
                                   SizeProgram("%ram%fonts/A"),
                                   SizeProgram("%ram%fonts/a)b"),
                                   SizeProgram("%ram%fonts/none")};
    for (const std::string &stream : streams) {
        fakeprinter::Engine fake(FakeSetup());
        const std::string interpreter = Replace(Run(ProgramOf(stream)), "%ram%", "%disk0%");
        EXPECT_EQ(SetOf(FakeReply(fake, Replace(stream, "%ram%", "%disk0%"))), SetOf(interpreter))
            << stream;
    }
    fakeprinter::Engine fake(FakeSetup());
    const std::string reply = FakeReply(fake, Replace(printForm, "%ram%", "%disk0%"));
    EXPECT_EQ(reply, "No File");
    EXPECT_EQ(Run(ProgramOf(printForm)).rfind("No File", 0), 0u);
}

TEST_F(Ghostscript, DeleteProgramsRemoveExactlyTheirFile) {
    const std::string list = "(%ram%fonts/*) {==} =string filenameforall\n";
    const std::set<std::string> all = {"(%ram%fonts/A)", "(%ram%fonts/a\\)b)", "(%ram%fonts/sub/B)",
                                       "(%ram%fonts/sub/C)"};
    ASSERT_EQ(SetOf(Run("", list)), all);
    struct Case {
        const char *name;
        const char *gone;
    };
    const Case cases[] = {{"%ram%fonts/sub/B", "(%ram%fonts/sub/B)"},
                          {"%ram%fonts/a)b", "(%ram%fonts/a\\)b)"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::set<std::string> left = all;
        left.erase(c.gone);
        EXPECT_EQ(SetOf(Run(ProgramOf(PostScriptDeleteProgram(c.name)), list)), left);
    }
}

#include "engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using fakeprinter::Engine;
using fakeprinter::Exchange;

namespace {

const std::string kUel = "\x1b%-12345X";

// All replies of one job fed as a whole.
std::string RepliesOf(Engine &e, const std::string &stream) {
    std::string out = e.BeginJob();
    for (const Exchange &ex : e.Feed(stream))
        out += ex.reply;
    e.EndJob();
    return out;
}

} // namespace

TEST(FakePrinterEngine, AnswersTheQueriesOfASession) {
    struct Case {
        const char *command;
        const char *expected;
    } cases[] = {
        {"@PJL ECHO TEST", "@PJL ECHO TEST\r\n\f"},
        {"@PJL INFO QUVFILESYS",
         "@PJL INFO QUVFILESYS\r\nVOLUME\tTOTAL SIZE\tFREE SPACE\tLOCATION\tLABEL\r\n"
         "0:\t40000000\t39000000\tHDD0\tPCL\r\n1:\t40000000\t39000000\tHDD0\tCOMMON\r\n"
         "%disk0%\t40000000\t39000000\tHDD0\tPOSTSCRIPT\r\n\f"},
        {"@PJL FSDIRLIST NAME = \"1:\\common\" ENTRY=1 COUNT=40 ",
         "@PJL FSDIRLIST NAME = \"1:\\common\" ENTRY=1 COUNT=40\r\n. TYPE=DIR\r\n.. TYPE=DIR\r\n"
         "demo TYPE=DIR\r\n\f"},
        {"@PJL FSDIRLIST NAME = \"1:\\common\\demo\" ENTRY=3 COUNT=40",
         "@PJL FSDIRLIST NAME = \"1:\\common\\demo\" ENTRY=3 COUNT=40\r\nDEMO2.DMO TYPE=FILE "
         "SIZE=512\r\n\f"},
        {"@PJL FSDIRLIST NAME=\"0:\\nowhere\" ENTRY=1 COUNT=40",
         "@PJL FSDIRLIST NAME=\"0:\\nowhere\" ENTRY=1 COUNT=40\r\nFILEERROR=3\r\n\f"},
        {"@PJL INFO QUVWYRATTRIBUTE",
         "@PJL INFO QUVWYRATTRIBUTE\r\nSPOOLJOBTYPE=ALL\r\nNUMPRINT=ENABLE\r\nDEMOPAGE=ENABLE\r\n"
         "HDDASSIGN=ENABLE\r\nFLASHASSIGN=ENABLE\r\nPATHLENGTH=255\r\nPASSWORDRANGE=8\r\n"
         "PSMENU=ENABLE\r\nINITIALIZE=ENABLE\r\nREBOOT=ENABLE\r\n\f"},
        {"@PJL INFO STATUS",
         "@PJL INFO STATUS\r\nCODE=10001\r\nDISPLAY=\"READY\"\r\nONLINE=TRUE\r\n\f"},
        {"@PJL FSINIT VOLUME=\"0:\"", ""},
        {"@PJL NOSUCHTHING", ""},
    };
    for (const Case &c : cases) {
        Engine e;
        EXPECT_EQ(RepliesOf(e, kUel + c.command + "\r\n" + kUel), c.expected) << c.command;
    }
}

TEST(FakePrinterEngine, ConfigListsLanguagesCountedAndDevices) {
    fakeprinter::Setup s = fakeprinter::Setup::Default();
    s.languages = {"PCLXL", "PCL"};
    s.devices = {"HDD0", "FLASH0"};
    Engine e(s);
    std::string r = RepliesOf(e, kUel + "@PJL INFO CONFIG\n");
    std::size_t at = r.find("LANGUAGES");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(r.substr(at + 11, 1), "2"); // the count stands 11 characters after the word
    EXPECT_NE(r.find("\tPCLXL\r\n\tPCL\r\n"), std::string::npos);
    EXPECT_NE(r.find("HDD0 LOCK STATUS"), std::string::npos);
    EXPECT_NE(r.find("FLASH0 LOCK STATUS"), std::string::npos);
    EXPECT_EQ(r.substr(r.size() - 3), "\r\n\f");
}

TEST(FakePrinterEngine, DownloadStoresExactBytesAndDeleteRemovesThem) {
    std::string data;
    for (int i = 0; i < 1000; ++i)
        data += static_cast<char>(i * 7);
    data.replace(10, kUel.size(), kUel); // a UEL inside the data is data
    data[100] = '\f';
    data[200] = '\n';
    Engine e;
    const std::string name = "0:\\pcl\\macros\\m1";
    RepliesOf(e, kUel + "@PJL FSDOWNLOAD FORMAT:BINARY SIZE=1000 NAME=\"" + name + "\"\r\n" + data +
                     kUel + "@PJL ECHO AFTER\r\n" + kUel);
    ASSERT_NE(e.Files().Find(name), nullptr);
    EXPECT_EQ(*e.Files().Find(name), data);
    EXPECT_TRUE(e.Files().FolderExists("0:\\PCL\\MACROS"));
    EXPECT_EQ(e.Jobs().back().commands.back(), "@PJL ECHO AFTER");

    RepliesOf(e, kUel + "@PJL FSDELETE NAME=\"" + name + "\"\r\n" + kUel);
    EXPECT_EQ(e.Files().Find(name), nullptr);
}

TEST(FakePrinterEngine, WildDeleteRemovesTheMatchingFilesOfOneFolder) {
    const std::vector<std::string> files = {
        "0:\\fonts\\Old_7", "0:\\fonts\\OLD2_7",      "0:\\fonts\\Keep_17", "0:\\fonts\\Keep_8",
        "0:\\fonts\\_7",    "0:\\fonts\\sub\\Deep_7", "1:\\fonts\\Other_7", "0:\\Root_7"};
    struct Case {
        const char *name;
        std::vector<std::string> left;
    } cases[] = {
        {"0:\\fonts\\*_7",
         {"0:\\fonts\\Keep_17", "0:\\fonts\\Keep_8", "0:\\fonts\\sub\\Deep_7", "1:\\fonts\\Other_7",
          "0:\\Root_7"}},
        {"0:\\FONTS\\o*_7",
         {"0:\\fonts\\Keep_17", "0:\\fonts\\Keep_8", "0:\\fonts\\_7", "0:\\fonts\\sub\\Deep_7",
          "1:\\fonts\\Other_7", "0:\\Root_7"}},
        {"0:\\fonts\\*", {"0:\\fonts\\sub\\Deep_7", "1:\\fonts\\Other_7", "0:\\Root_7"}},
        {"0:\\fonts\\k*p*",
         {"0:\\fonts\\Old_7", "0:\\fonts\\OLD2_7", "0:\\fonts\\_7", "0:\\fonts\\sub\\Deep_7",
          "1:\\fonts\\Other_7", "0:\\Root_7"}},
        {"0:\\*_7",
         {"0:\\fonts\\Old_7", "0:\\fonts\\OLD2_7", "0:\\fonts\\Keep_17", "0:\\fonts\\Keep_8",
          "0:\\fonts\\_7", "0:\\fonts\\sub\\Deep_7", "1:\\fonts\\Other_7"}},
        {"0:\\nowhere\\*", files},
        {"0:\\fonts\\Keep_1", files},
    };
    for (const Case &c : cases) {
        fakeprinter::Setup s = fakeprinter::Setup::Default();
        s.files.clear();
        for (const std::string &f : files)
            s.files.push_back({f, "x"});
        Engine e(s);
        EXPECT_EQ(RepliesOf(e, kUel + "@PJL QUVWILDFSDELETE NAME=\"" + c.name + "\"\r\n" + kUel),
                  "")
            << c.name;
        std::vector<std::string> left = c.left;
        std::vector<std::string> got = e.Files().Files();
        std::sort(left.begin(), left.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, left) << c.name;
    }
}

TEST(FakePrinterEngine, FsInitEmptiesOneVolume) {
    fakeprinter::Setup s = fakeprinter::Setup::Default();
    s.files = {{"0:\\pcl\\a", "1"},
               {"0:\\b", "2"},
               {"10:\\c", "3"},
               {"%disk0%d", "4"},
               {"%disk0%e/f", "5"}};
    Engine e(s);
    RepliesOf(e, kUel + "@PJL FSINIT VOLUME=\"10:\"\r\n" + kUel);
    EXPECT_EQ(e.Files().Find("10:\\c"), nullptr);
    EXPECT_NE(e.Files().Find("0:\\b"), nullptr);
    RepliesOf(e, kUel + "@PJL FSINIT VOLUME=\"%DISK0%\"\r\n" + kUel);
    std::vector<std::string> left = e.Files().Files();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"0:\\b", "0:\\pcl\\a"}));
    EXPECT_FALSE(e.Files().FolderExists("%disk0%e"));
    EXPECT_EQ(e.Jobs().back().commands.back(), "@PJL FSINIT VOLUME=\"%DISK0%\"");
}

TEST(FakePrinterEngine, AnyWayOfSplittingTheStreamGivesTheSameResult) {
    const std::string stream =
        kUel + "@PJL ECHO TEST\r\n@PJL FSDOWNLOAD SIZE=5 NAME=\"0:\\a\"\r\nAB" + kUel + "\r\n" +
        kUel + "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n(0:\\a) status " + "(\\004) cvx cvn == flush" +
        kUel + "@PJL INFO STATUS\n";
    Engine whole;
    const std::string expected = RepliesOf(whole, stream);
    const std::string stored = *whole.Files().Find("0:\\a");
    EXPECT_EQ(stored, "AB" + kUel.substr(0, 3));
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        Engine e;
        std::string got = e.BeginJob();
        for (const Exchange &ex : e.Feed(stream.substr(0, cut)))
            got += ex.reply;
        for (const Exchange &ex : e.Feed(stream.substr(cut)))
            got += ex.reply;
        ASSERT_EQ(got, expected) << "cut at " << cut;
        ASSERT_EQ(*e.Files().Find("0:\\a"), stored);
        ASSERT_EQ(e.Jobs().back().received, stream);
    }
}

TEST(FakePrinterEngine, PostScriptListingsPrintWhatAnInterpreterWould) {
    fakeprinter::Setup s = fakeprinter::Setup::Default();
    s.forms = {"Letterhead", "Invoice"};
    s.files.push_back({"%disk0%fonts/Alpha", std::string(12345, 'a')});
    s.files.push_back({"%disk0%fonts/sub/Beta", "1"});
    Engine e(s);
    const std::string forms = kUel +
                              "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%%!Adobe-PS\r\n(*) {==} =string "
                              "/Form resourceforall \r\n flush (\\004) cvx cvn == flush" +
                              kUel;
    EXPECT_EQ(RepliesOf(e, forms), "(Letterhead)\n(Invoice)\n\x04\n");
    const std::string files = kUel +
                              "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%%!Adobe-PS\r\n(%disk0%fonts/*) "
                              "{==} =string filenameforall\r\n flush (\\004) cvx cvn == flush" +
                              kUel;
    EXPECT_EQ(RepliesOf(e, files), "(%disk0%fonts/Alpha)\n(%disk0%fonts/sub/Beta)\n\x04\n");
    auto size = [&](const std::string &path, const std::string &missing) {
        return RepliesOf(e, kUel + "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%%!Adobe-PS\r\n(" + path +
                                ") status {pop pop == pop} " + missing +
                                " ifelse \r\n flush "
                                "(\\004) cvx cvn == flush" +
                                kUel);
    };
    EXPECT_EQ(size("%disk0%fonts/Alpha", "{ (No File) = }"), "12345\n\x04\n");
    EXPECT_EQ(size("%disk0%fonts/Gamma", "{ (No File) = }"), "No File\n\x04\n");
    // print leaves = an empty stack: the interpreter stops before the EOT.
    EXPECT_EQ(size("%disk0%fonts/Gamma", "{ (No File) print = }"), "No File");
}

TEST(FakePrinterEngine, PostScriptNamesAreReadAndPrintedWithTheirEscapes) {
    fakeprinter::Setup s = fakeprinter::Setup::Default();
    s.files.push_back({"%disk0%fonts/a)b", "xyz"});
    s.files.push_back({"%disk0%fonts/caf\xe9\t", "1"});
    s.forms = {"My(Form)"};
    Engine e(s);
    auto program = [&](const std::string &body) {
        return RepliesOf(e, kUel + "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!Adobe-PS\r\n" + body +
                                "\r\n flush (\\004) cvx cvn == flush" + kUel);
    };
    EXPECT_EQ(program("(%disk0%fonts/*) {==} =string filenameforall"),
              "(%disk0%fonts/a\\)b)\n(%disk0%fonts/caf\\351\\t)\n\x04\n");
    EXPECT_EQ(program("(%disk0%fonts/a\\)b) status {pop pop == pop} { (No File) = } ifelse "),
              "3\n\x04\n");
    EXPECT_EQ(
        program("(%disk0%fonts/caf\\351\\011) status {pop pop == pop} { (No File) = } ifelse "),
        "1\n\x04\n");
    EXPECT_EQ(program("(*) {==} =string /Form resourceforall "), "(My\\(Form\\))\n\x04\n");
}

TEST(FakePrinterEngine, HeldJobsAreListedByPinAndReleased) {
    fakeprinter::Setup s = fakeprinter::Setup::Default();
    std::string error;
    ASSERT_TRUE(fakeprinter::ParseSetup("job 12 1234 Report SECURE 1\njob 13 1234 Plan PROOF 2 ON\n"
                                        "job 14 9999 Other SECURE 3\nconfig DUPLEX=ON\n",
                                        s, error))
        << error;
    Engine e(s);
    const std::string heading = "\tJOBID\tNAME\tTYPE\tCOPIES\r\n";
    EXPECT_EQ(RepliesOf(e, kUel + "@PJL QUVSPOOLJOBINFO PASSWORD=1234\r\n" + kUel),
              "@PJL QUVSPOOLJOBINFO PASSWORD=1234\r\n" + heading +
                  "\t12\tReport\tSECURE\t1\r\n"
                  "\t13\tPlan\tPROOF\t2\tON\r\n\f");
    EXPECT_NE(RepliesOf(e, kUel + "@PJL INFO CONFIG\r\n" + kUel).find("\r\nDUPLEX=ON\r\n"),
              std::string::npos);
    RepliesOf(e, kUel + "@PJL QUVSPOOLJOBPRINT PASSWORD=1234 JOBID=13\r\n" + kUel); // stored: stays
    RepliesOf(e, kUel + "@PJL QUVSPOOLJOBCANCEL PASSWORD=9999 JOBID=12\r\n" + kUel); // not its PIN
    RepliesOf(e, kUel + "@PJL QUVSPOOLJOBCOMPELPRINT JOBID=14 QTY=2\r\n" + kUel);
    EXPECT_EQ(RepliesOf(e, kUel + "@PJL QUVSPOOLJOBCOMPELINFO\r\n" + kUel),
              "@PJL QUVSPOOLJOBCOMPELINFO\r\n" + heading +
                  "\t12\tReport\tSECURE\t1\r\n"
                  "\t13\tPlan\tPROOF\t2\tON\r\n\f");
    RepliesOf(e, kUel + "@PJL QUVSPOOLJOBCANCEL PASSWORD=1234 JOBID=12\r\n" + kUel);
    RepliesOf(e, kUel + "@PJL QUVSPOOLJOBCOMPELCANCEL JOBID=13\r\n" + kUel);
    EXPECT_TRUE(e.HeldJobs().empty());
    EXPECT_FALSE(fakeprinter::ParseSetup("job 12 1234 Report\n", s, error));
}

TEST(FakePrinterEngine, AFaultFillsEveryDirectoryPage) {
    Engine e;
    fakeprinter::Faults full;
    full.fullDirPages = true;
    e.byCommand.push_back({"@PJL FSDIRLIST", full});
    const std::string reply =
        RepliesOf(e, kUel + "@PJL FSDIRLIST NAME=\"0:\\none\" ENTRY=81 COUNT=40\r\n" + kUel);
    EXPECT_NE(reply.find("\r\nF81 TYPE=FILE SIZE=1\r\n"), std::string::npos);
    EXPECT_NE(reply.find("\r\nF120 TYPE=FILE SIZE=1\r\n\f"), std::string::npos);
}

TEST(FakePrinterEngine, FaultsShapeTheReplies) {
    const std::string echo = kUel + "@PJL ECHO TEST\r\n";
    struct Case {
        const char *name;
        fakeprinter::Faults faults;
        std::string expected;
    };
    fakeprinter::Faults ustatus, silent, uel, cut, noHeader, atConnect;
    ustatus.ustatusBeforeReply = true;
    silent.silent = true;
    uel.trailingUel = true;
    cut.cutTo = 6;
    noHeader.noHeader = true;
    atConnect.ustatusAtConnect = true;
    const std::string status = "@PJL USTATUS DEVICE\r\nCODE=10023\r\nDISPLAY=\"PROCESSING\"\r\n\f";
    const Case cases[] = {
        {"ustatus", ustatus, status + "@PJL ECHO TEST\r\n\f"},
        {"silent", silent, ""},
        {"uel", uel, "@PJL ECHO TEST\r\n\f" + kUel},
        {"cut", cut, "@PJL E"},
        {"no header", noHeader, "\f"},
        {"at connect", atConnect, status + "@PJL ECHO TEST\r\n\f"},
    };
    for (const Case &c : cases) {
        Engine e;
        e.defaults = c.faults;
        EXPECT_EQ(RepliesOf(e, echo), c.expected) << c.name;
    }

    Engine e; // per command and per job
    e.byCommand.push_back({"@PJL INFO", silent});
    e.byJob[2] = cut;
    EXPECT_EQ(RepliesOf(e, kUel + "@PJL INFO STATUS\r\n@PJL ECHO X\r\n"), "@PJL ECHO X\r\n\f");
    EXPECT_EQ(RepliesOf(e, echo), "@PJL E");
    EXPECT_EQ(RepliesOf(e, echo), "@PJL ECHO TEST\r\n\f");
}

TEST(FakePrinterEngine, MalformedCommandsAreRecordedAndTheJobGoesOn) {
    Engine e;
    const std::string stream = kUel + "@PJL FSDOWNLOAD SIZE=abc NAME=\"0:\\x\"\r\n" +
                               "@PJL FSDOWNLOAD SIZE=-4 NAME=\"0:\\y\"\r\n" +
                               "@PJL FSDOWNLOAD NAME=\"0:\\z\"\r\n" +
                               "@PJL FSDOWNLOAD SIZE=3\r\nxyz" + "@PJL FSDELETE\r\n" +
                               std::string(70000, 'q') + "\n" + "garbage\r\n@PJL ECHO OK\r\n";
    EXPECT_EQ(RepliesOf(e, stream), "@PJL ECHO OK\r\n\f");
    EXPECT_EQ(e.Files().Files().size(), 1u); // only the demo file
    EXPECT_EQ(e.Jobs().back().commands.size(), 6u);

    Engine cutShort; // a download whose bytes never all arrive stores nothing
    RepliesOf(cutShort, kUel + "@PJL FSDOWNLOAD SIZE=100 NAME=\"0:\\part\"\r\nonly this");
    EXPECT_EQ(cutShort.Files().Find("0:\\part"), nullptr);
}

TEST(FakePrinterEngine, DirectoryListingPagesByEntryAndCount) {
    fakeprinter::Setup s = fakeprinter::Setup::Default();
    for (int i = 0; i < 40; ++i)
        s.files.push_back({"0:\\big\\f" + std::string(i < 10 ? "0" : "") + std::to_string(i), "x"});
    Engine e(s);
    auto page = [&](int entry) {
        std::string r =
            RepliesOf(e, kUel + "@PJL FSDIRLIST NAME = \"0:\\big\" ENTRY=" + std::to_string(entry) +
                             " COUNT=40 \r\n");
        int lines = 0;
        for (std::size_t at = r.find("\r\n") + 2; (at = r.find("\r\n", at)) != std::string::npos;
             at += 2)
            ++lines;
        return lines;
    };
    EXPECT_EQ(page(1), 40); // . and .. and 38 files
    EXPECT_EQ(page(41), 2); // the last two
    EXPECT_EQ(page(43), 0); // past the end
}

TEST(FakePrinterEngine, SetupFileParsesAndRejectsBadLines) {
    fakeprinter::Setup s;
    std::string error;
    ASSERT_TRUE(fakeprinter::ParseSetup(
        "# printer\nlanguage PCL\ndevice HDD0\nvolume 0:\\t1\\t2\\tHDD0\\tPCL\n"
        "file 0:\\pcl\\a 10\nattributes quoted\nform F1\n",
        s, error))
        << error;
    EXPECT_EQ(s.languages, std::vector<std::string>{"PCL"});
    EXPECT_EQ(s.volumes, std::vector<std::string>{"0:\t1\t2\tHDD0\tPCL"});
    EXPECT_TRUE(s.attributesQuoted);
    ASSERT_EQ(s.files.size(), 1u);
    EXPECT_EQ(s.files[0].second.size(), 10u);
    for (const char *bad :
         {"colour red\n", "file 0:\\a\n", "file 0:\\a big\n", "language\n", "attributes loud\n"})
        EXPECT_FALSE(fakeprinter::ParseSetup(bad, s, error)) << bad;
}

TEST(FakePrinterEngine, PostScriptDeletefileRemovesExactlyItsFile) {
    fakeprinter::Setup s = fakeprinter::Setup::Default();
    s.files = {{"%disk0%fonts/a)b", "1"}, {"%disk0%fonts/a", "2"}, {"%disk0%fonts/sub/B", "3"}};
    Engine e(s);
    auto run = [&](const std::string &name) {
        RepliesOf(e, kUel + "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!Adobe-PS\r\n(" + name +
                         ") deletefile\r\n" + kUel);
    };
    run("%disk0%fonts/a\\)b");
    EXPECT_EQ(e.Files().Find("%disk0%fonts/a)b"), nullptr);
    EXPECT_NE(e.Files().Find("%disk0%fonts/a"), nullptr);
    run("%disk0%fonts/missing");
    run("%disk0%fonts/sub/B");
    EXPECT_EQ(e.Files().Files(), std::vector<std::string>{"%disk0%fonts/a"});
}

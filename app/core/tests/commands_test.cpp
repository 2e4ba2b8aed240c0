#include "commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kUel = "\x1b%-12345X";

std::vector<int> TakeAll(std::string ids) {
    std::vector<int> out;
    for (int i = 0; i < 1000; ++i) {
        const int id = TakeNextMacroId(ids);
        out.push_back(id);
        if (id < 0)
            break;
    }
    return out;
}

} // namespace

TEST(MacroIds, ItemsUpToTheFirstItemWithoutADigitOrTooLarge) {
    struct Case {
        const char *ids;
        std::vector<int> taken;
    } cases[] = {
        {"01, 32124, 9", {1, 32124, 9, -1}},
        {"1,,2", {1, -1}},
        {"a,1", {-1}},
        {"32767", {32767, -1}},
        {"32768,1", {-1}},
        {"12345678901234567890,1", {-1}},
        {"x1y2, 3", {12, 3, -1}},
        {"", {-1}},
        {",,,", {-1}},
        {"7,", {7, -1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ids);
        EXPECT_EQ(TakeAll(c.ids), c.taken);
    }
}

TEST(MacroIds, TestMacroJobBytes) {
    const std::string head = kUel +
                             "@PJL QUVJOBACCOUNTJOB JOBACCOUNTID=1879048192 USERID=\"Kelvane\" "
                             "JOBNAME=\"Test Macro\"\r\n@PJL ENTER LANGUAGE=PCL\n";
    std::string ids = "5, 32124";
    EXPECT_EQ(BuildTestMacroJob(ids, true), head + "\x1b&f5Y\x1b&f2X\f\x1b&f32124Y\x1b&f2X\f");
    ids = "5,,6";
    EXPECT_EQ(BuildTestMacroJob(ids, false), head + "\x1b&f5Y\x1b&f2X\f");
    ids = "letters";
    EXPECT_EQ(BuildTestMacroJob(ids, false), head + "\f");

    // Two hundred identifiers all go into one job.
    std::string many, expected = head;
    for (int i = 0; i < 200; ++i) {
        many += std::to_string(i * 100) + ",";
        expected += "\x1b&f" + std::to_string(i * 100) + "Y\x1b&f2X";
    }
    EXPECT_EQ(BuildTestMacroJob(many, false), expected + "\f");
}

TEST(TestForm, NamesGoInAsOneNameToken) {
    const std::string head =
        kUel + "@PJL QUVJOBACCOUNTJOB JOBACCOUNTID=1879048192 USERID=\"Kelvane\" "
               "JOBNAME=\"Test Form\"\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!PS-Adobe\r\n";
    const std::string tail = " /Form findresource execform\n showpage\n\x04" + kUel;
    struct Case {
        const char *name;
        const char *token;
    } cases[] = {
        {"A", "/A"},          {"My Form", "(My Form) cvn"},
        {"a%b", "(a%b) cvn"}, {"a)b", "(a\\)b) cvn"},
        {"a\\b", "/a\\b"},    {"", "() cvn"},
        {"x/y", "(x/y) cvn"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BuildTestFormJob(c.name), head + c.token + tail);
    }
}

TEST(FilterFlags, OnlyAWholeFileIsRead) {
    std::string file(112, '\0');
    file[0] = 1;
    file[4 * 5] = 7;      // nonzero reads as set
    file[4 * 27 + 3] = 1; // the high byte too
    FilterFlags flags = ParseFilterFlags(file.data(), file.size());
    EXPECT_EQ(flags[0], 1);
    EXPECT_EQ(flags[1], 0);
    EXPECT_EQ(flags[5], 1);
    EXPECT_EQ(flags[27], 1);
    std::string written = WriteFilterFlags(flags);
    ASSERT_EQ(written.size(), 112u);
    EXPECT_EQ(written[20], 1);
    EXPECT_EQ(written[4 * 27 + 3], 0);
    EXPECT_EQ(ParseFilterFlags(written.data(), written.size()), flags);

    for (std::size_t size : {0, 50, 111, 113}) {
        SCOPED_TRACE(size);
        const std::string bytes(size, '\0');
        for (int flag : ParseFilterFlags(bytes.data(), bytes.size()))
            EXPECT_EQ(flag, 1);
    }
    for (int flag : ParseFilterFlags(nullptr, 112))
        EXPECT_EQ(flag, 1);
}

TEST(FilterFlags, OutputNameComesFromTheLastComponent) {
    struct Case {
        const char *input;
        const char *output;
    } cases[] = {
        {"C:\\a.b\\x.prn", "C:\\a.b\\x.bin"}, {"C:\\d\\x.tar.prn", "C:\\d\\x.bin"},
        {"C:\\d\\x", "C:\\d\\x.bin"},         {"x.pcl", "x.bin"},
        {"C:\\d\\.prn", "C:\\d\\.bin"},       {"C:x.prn", "C:x.bin"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(MacroOutputName(c.input), c.output) << c.input;
    EXPECT_TRUE(SamePathNoCase(MacroOutputName("C:\\D\\X.BIN"), "C:\\D\\X.BIN"));
    EXPECT_TRUE(SamePathNoCase("c:\\d\\x.bin", "C:\\D\\X.BIN"));
    EXPECT_FALSE(SamePathNoCase("c:\\d\\x.bin", "C:\\D\\X.BIN2"));
}

TEST(CommandRules, PsMenuAndNames) {
    EXPECT_TRUE(IsPsMenuDisabled("DISABLE"));
    EXPECT_TRUE(IsPsMenuDisabled("disable"));
    EXPECT_FALSE(IsPsMenuDisabled("DISABLED"));
    EXPECT_FALSE(IsPsMenuDisabled("DISABLEFLASH"));
    EXPECT_FALSE(IsPsMenuDisabled(""));

    EXPECT_TRUE(IsStorablePrinterName("Laser 5"));
    EXPECT_TRUE(IsStorablePrinterName(std::string(200, '%')));
    EXPECT_FALSE(IsStorablePrinterName(""));
    EXPECT_FALSE(IsStorablePrinterName("a,Port=LPT1"));
    EXPECT_FALSE(IsStorablePrinterName("a\rb"));
    EXPECT_FALSE(IsStorablePrinterName("a\nb"));

    EXPECT_TRUE(IsDemoPageName("x.dmo"));
    EXPECT_TRUE(IsDemoPageName(".DMO"));
    EXPECT_FALSE(IsDemoPageName("DMO"));
    EXPECT_FALSE(IsDemoPageName("x.dmo2"));
}

TEST(CommandRules, IdentifierTextIsComparedAsText) {
    struct Case {
        std::string text;
        const char *shown;
    } cases[] = {
        {"32767", "32767"},
        {"32768", "32767"},
        {"40000", "32767"},
        {"99999999999", "32767"},
        {"000032767", "000032767"},
        {"0000032768", "32767"},
        {"123456", "32767"},
        {"9999", "9999"},
        {"", ""},
        {"12a", "12a"},
        {"0", "0"},
        {std::string(300, '9'), "32767"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ClampIdentifierText(c.text), c.shown) << c.text;
}

TEST(CommandRules, ChooserRowsByMode) {
    bool once = true;
    EXPECT_EQ(ChooserRows(1, {"(A)", "x", "", "(My Form)"}, once),
              (std::vector<std::string>{"A", "My Form"}));
    EXPECT_FALSE(once);
    EXPECT_EQ(ChooserRows(2, {"Font1", "F"}, once), (std::vector<std::string>{"Font1", "F"}));
    EXPECT_TRUE(ChooserRows(1, {}, once).empty());
    EXPECT_FALSE(once);

    EXPECT_EQ(ChooserRows(3, {}, once), (std::vector<std::string>{"DEMO1"}));
    EXPECT_TRUE(once);
    EXPECT_EQ(ChooserRows(3, {"DEMO1.DMO"}, once), (std::vector<std::string>{"DEMO1"}));
    EXPECT_TRUE(once);
    EXPECT_EQ(ChooserRows(3, {"demo3.dmo", "README", "DEMO2.DMO", "DEMO2.DMO", "DEMO1.DMO"}, once),
              (std::vector<std::string>{"DEMO1", "demo3", "DEMO2", "DEMO2"}));
    EXPECT_FALSE(once);
    EXPECT_EQ(ChooserRows(3, {"README"}, once), (std::vector<std::string>{"DEMO1"}));
    EXPECT_TRUE(once);
}

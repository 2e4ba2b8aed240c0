#include "spooljobs.h"

#include <gtest/gtest.h>

#include <string>

TEST(SpoolJobs, JobLinesSplitAtEveryTab) {
    const std::string longId(40, '7'), longName(200, 'n');
    struct Case {
        std::string line;
        SpoolJob job;
    } cases[] = {
        {"001\tInvoice\tPROOF\t2\tON", {"001", "Invoice", "PROOF", "2", "ON"}},
        {"\t\t002\tMemo\tSECURE\t1", {"002", "Memo", "SECURE", "1", ""}},
        {"003\t\tPROOF\t1\t", {"003", "", "PROOF", "1", ""}},
        {longId + "\t" + longName + "\tPROOF\t1", {longId, longName, "PROOF", "1", ""}},
        {"junk", {"junk", "", "", "", ""}},
        {"005\tX\tPROOF\t1\tOFF\textra", {"005", "X", "PROOF", "1", "OFF"}},
        {"\t\t\t", {"", "", "", "", ""}},
        {"", {"", "", "", "", ""}},
        {std::string("a\0b\tc", 5), {std::string("a\0b", 3), "c", "", "", ""}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const SpoolJob job = ParseSpoolJobLine(c.line);
        EXPECT_EQ(job.id, c.job.id);
        EXPECT_EQ(job.name, c.job.name);
        EXPECT_EQ(job.type, c.job.type);
        EXPECT_EQ(job.copies, c.job.copies);
        EXPECT_EQ(job.stored, c.job.stored);
    }
}

TEST(SpoolJobs, RowsShownByTypeAndFilters) {
    struct Case {
        const char *type;
        bool proof, secure, shown;
    } cases[] = {
        {"PROOF", true, true, true},   {"PROOF", true, false, true},
        {"PROOF", false, true, false}, {"PROOF", false, false, false},
        {"SECURE", true, true, true},  {"SECURE", true, false, false},
        {"SECURE", false, true, true}, {"SECURE", false, false, false},
        {"proof", true, true, false},  {"Secure", true, true, false},
        {"", true, true, false},       {"PROOF ", true, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.type) + (c.proof ? " proof" : "") + (c.secure ? " secure" : ""));
        EXPECT_EQ(IsSpoolJobShown(c.type, c.proof, c.secure), c.shown);
    }
}

TEST(SpoolJobs, PinPasses) {
    struct Case {
        const char *text;
        char limit;
        const char *result;
        int beeps;
    } cases[] = {
        {"128", '7', "12", 1},   {"12a4", '7', "124", 1},  {"12395", '7', "1239", 1},
        {"1239", '7', "123", 1}, {"1289", '9', "1289", 0}, {"", '7', "", 0},
        {"/:9", '9', "9", 2},    {"0000", '7', "0000", 0}, {"1234567890", '9', "1234", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const PinPass pass = FilterPinText(c.text, c.limit);
        EXPECT_EQ(pass.text, c.result);
        EXPECT_EQ(pass.beeps, c.beeps);
    }
    // A clean text stays as it is: the edit is not put back and no further pass runs.
    const PinPass again = FilterPinText("1234", '7');
    EXPECT_EQ(again.text, "1234");
    EXPECT_EQ(again.beeps, 0);
}

TEST(SpoolJobs, CopiesOnlyFromPlainNumbers) {
    struct Case {
        const char *text;
        int copies;
    } cases[] = {
        {"1", 1},          {" 7 ", 7}, {"0", 0},   {"abc", 0},         {"2x", 0},
        {"-1", 0},         {"-5", 0},  {"+3", 0},  {"99999999999", 0}, {"2147483647", 2147483647},
        {"2147483648", 0}, {"", 0},    {"   ", 0}, {"1 2", 0},         {"0012", 12},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseCopies(c.text), c.copies);
    }
}

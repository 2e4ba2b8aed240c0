#include "text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(TextHelpers, CompareAndCopy) {
    EXPECT_EQ(CompareFirstChars("LPT1", "LPT", 3), 0);
    EXPECT_EQ(CompareFirstChars("LPT1", "LPT", 4), 1);
    EXPECT_EQ(CompareFirstChars("lpt1", "LPT", 3), 1);
    EXPECT_EQ(CompareFirstCharsNoCase("lpt1", "LPT", 3), 0);
    EXPECT_EQ(CompareFirstCharsNoCase("", "", 0), 0);

    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    CopyStringN(buf, "MIXED", 3);
    EXPECT_EQ(std::string(buf, 4), std::string("MIX\0", 4));
    std::memset(buf, 'x', sizeof buf);
    CopyStringN(buf, "AB", 5);
    EXPECT_STREQ(buf, "AB");

    const char *text = "abc\r\ndef";
    EXPECT_EQ(FindLineEnd(text), text + 3);
    const char *hello = "hello";
    EXPECT_EQ(FindSubstring(hello, "ll"), hello + 2);
    const char *ff = "x\fy";
    EXPECT_EQ(FindLineEnd(ff), ff + 1);
    EXPECT_EQ(FindSubstring("ab", "abc"), nullptr);
}

TEST(TextHelpers, PathLeafAndTrimmedFloat) {
    EXPECT_EQ(GetPathLeaf("C:\\fonts\\A.SFP"), "A.SFP");
    EXPECT_EQ(GetPathLeaf("1:MACRO"), "MACRO");
    EXPECT_EQ(GetPathLeaf("NAME"), "NAME");
    EXPECT_EQ(GetPathLeaf("dir\\"), "");

    struct {
        double value;
        const char *text;
    } cases[] = {{1.5, "1.5"},   {12, "12"},           {0, "0"},
                 {0.25, "0.25"}, {6.125, "6.12"},      {100, "100"},
                 {-2.5, "-2.5"}, {1e300 * 1e300, "0"}, {0.001, "0"}};
    for (const auto &c : cases)
        EXPECT_EQ(FormatTrimmedFloat(c.value), c.text) << c.value;
}

TEST(TextHelpers, PostScriptSignatureWithinTheFirstKilobyte) {
    for (std::size_t at : {0u, 1u, 1020u, 1021u}) {
        std::vector<std::uint8_t> bytes(2048, 0); // NULs before the signature do not stop it
        std::memcpy(bytes.data() + at, "%!PS", 4);
        EXPECT_EQ(HasPostScriptSignature(bytes.data(), bytes.size()), at <= 1020) << at;
    }
    const std::uint8_t shortFile[] = {'%', '!', 'P'};
    EXPECT_FALSE(HasPostScriptSignature(shortFile, sizeof shortFile));
    EXPECT_FALSE(HasPostScriptSignature(nullptr, 0));
}

TEST(TextHelpers, TypefaceEntries) {
    EXPECT_EQ(TypefaceFamilyCode('W'), 0x20);
    EXPECT_EQ(TypefaceFamilyCode('d'), 0x50);
    EXPECT_EQ(TypefaceFamilyCode('M'), 0x30);
    EXPECT_EQ(TypefaceFamilyCode('r'), 0x10);
    EXPECT_EQ(TypefaceFamilyCode('S'), 0x40);
    EXPECT_EQ(TypefaceFamilyCode('X'), 0);
    EXPECT_EQ(TypefaceNameOf("W,Arial"), "Arial");
    EXPECT_EQ(TypefaceNameOf("X"), "");
    EXPECT_EQ(TypefaceNameOf("W,"), "");
}

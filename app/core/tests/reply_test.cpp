#include "reply.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string kStatus = "@PJL USTATUS DEVICE\r\nCODE=10023\r\n\f";

// A reply buffer of 20800 bytes holding text.
struct Reply {
    std::vector<char> buf = std::vector<char>(20800, 0);
    std::uint32_t received = 0;
    explicit Reply(const std::string &text) {
        std::memcpy(buf.data(), text.data(), text.size());
        received = static_cast<std::uint32_t>(text.size());
    }
    std::string Text() const { return std::string(buf.data(), received); }
};

} // namespace

TEST(ReplyParsing, UnsolicitedStatusBlocksAreRemoved) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {kStatus + "@PJL INFO STATUS\r\nCODE=10001\r\n\f", "@PJL INFO STATUS\r\nCODE=10001\r\n\f"},
        {kStatus + kStatus + "@PJL ECHO TEST\r\n\f", "@PJL ECHO TEST\r\n\f"},
        {"@PJL ECHO TEST\r\n\f" + kStatus, "@PJL ECHO TEST\r\n\f"},
        {"@PJL ECHO A\r\n\f" + kStatus + "@PJL ECHO B\r\n\f", "@PJL ECHO A\r\n\f@PJL ECHO B\r\n\f"},
        {kStatus.substr(0, 20), kStatus.substr(0, 20)}, // no CR LF FF yet: stays
        {"@PJL USTATUS", "@PJL USTATUS"},               // 12 bytes, no end
        {"short", "short"},                             // under 12 bytes
        {std::string("@PJL\0USTATUS\r\n\f", 15), std::string("@PJL\0USTATUS\r\n\f", 15)},
    };
    for (const Case &c : cases) {
        Reply r(c.in);
        RemoveUStatus(r.buf.data(), r.received);
        EXPECT_EQ(r.Text(), c.out);
        for (std::size_t i = r.received; i < c.in.size(); ++i)
            ASSERT_EQ(r.buf[i], 0) << "freed tail is zeroed";
    }
}

TEST(ReplyParsing, EndOfReplyAndTrailingUel) {
    struct Case {
        std::string in;
        bool incomplete;
    } cases[] = {
        {"", true},    {"@PJL\f", false},   {"@PJL\f\r\n", false}, {"@PJL\f\r\n\r", true},
        {"\f", false}, {"@PJL ECHO", true}, {"x\f1", false},
    };
    for (const Case &c : cases) {
        Reply r(c.in);
        EXPECT_EQ(IsReplyIncomplete(r.buf.data(), r.received, '\f'), c.incomplete) << c.in.size();
    }
    Reply eot("(a)\n\x04\n");
    EXPECT_FALSE(IsReplyIncomplete(eot.buf.data(), eot.received, '\x04'));
    EXPECT_TRUE(IsReplyIncomplete(eot.buf.data(), eot.received, '\f'));

    Reply withUel("@PJL ECHO TEST\r\n\f" + std::string(kUel));
    EXPECT_TRUE(CutTrailingUel(withUel.buf.data(), withUel.received));
    EXPECT_EQ(withUel.Text(), "@PJL ECHO TEST\r\n\f");
    EXPECT_EQ(withUel.buf[withUel.received], 0);
    Reply justUel(kUel); // 9 bytes: more than 8, cut
    EXPECT_TRUE(CutTrailingUel(justUel.buf.data(), justUel.received));
    EXPECT_EQ(justUel.received, 0u);
    Reply partUel(std::string(kUel).substr(1));
    EXPECT_FALSE(CutTrailingUel(partUel.buf.data(), partUel.received));
}

TEST(ReplyParsing, LanguageFlagsFromTheConfigReply) {
    const std::string head = "@PJL INFO CONFIG\r\nIN TRAYS [1 ENUMERATED]\r\n\tINTRAY1\r\n";
    struct Case {
        std::string languages;
        std::uint8_t flags;
    } cases[] = {
        {"LANGUAGES [2 ENUMERATED]\r\n\tPCLXL\r\n\tPCL\r\n", 0x21},
        {"LANGUAGES [1 ENUMERATED]\r\n\tPOSTSCRIPT\r\n", 0x02},
        {"LANGUAGES [2 ENUMERATED]\r\n\tKLINGON\r\n\tELVISH\r\n", 0},
        {"LANGUAGES [8 ENUMERATED]\r\n\tPCL\r\n", 0x01},            // count past the reply
        {"LANGUAGES [999999999999 ENUMERATED]\r\n\tSDL\r\n", 0x08}, // huge count
        {"LANGUAGES [x ENUMERATED]\r\n\tPCL\r\n", 0},               // no count
        {"LANG", 0},                                                // no list
        {"LANGUAGES", 0},                                           // cut at the word
        {"LANGUAGES [3 ENUMERATED]\r\n\tESCP\r\n\tIBMPPR\r\n\tEPSONFX", 0xD0},
        {"LANGUAGES [1 ENUMERATED]\r\n\tTOLVAC\r\n", 0x04},
    };
    for (const Case &c : cases) {
        Reply r(head + c.languages);
        EXPECT_EQ(ParseLanguageFlags(r.buf.data(), r.received, 0), c.flags) << c.languages;
    }
    // The walk never looks past what was received, even with bytes behind it in the buffer.
    Reply cut(head + "LANGUAGES [2 ENUMERATED]\r\n\tPCL\r\n\tPOSTSCRIPT\r\n");
    cut.received -= 12;
    EXPECT_EQ(ParseLanguageFlags(cut.buf.data(), cut.received, 0), 0x01);
    EXPECT_EQ(ParseLanguageFlags(cut.buf.data(), cut.received, 100000), 0);
}

TEST(ReplyParsing, ValuesAndPositionsStayInsideTheReply) {
    Reply r("@PJL INFO QUVWYRATTRIBUTE\r\nSPOOLJOBTYPE=ALL\r\nNUMPRINT=ENABLE\fPATHLENGTH=" +
            std::string(400, '7'));
    EXPECT_EQ(GetReplyValueIn(r.buf.data(), r.received, 0, "SPOOLJOBTYPE="), "ALL");
    EXPECT_EQ(GetReplyValueIn(r.buf.data(), r.received, 0, "NUMPRINT="), "ENABLE");
    EXPECT_EQ(GetReplyValueIn(r.buf.data(), r.received, 0, "PATHLENGTH=").size(), 259u);
    EXPECT_EQ(GetReplyValueIn(r.buf.data(), r.received, 0, "REBOOT="), "");
    EXPECT_EQ(GetReplyValueIn(r.buf.data(), r.received, r.received + 5, "NUMPRINT="), "");

    Reply lines("ab\r\n\r\ncd  \x01\x90x");
    EXPECT_EQ(FindLineEndIn(lines.buf.data(), lines.received, 0), 2u);
    EXPECT_EQ(SkipToNextLineIn(lines.buf.data(), lines.received, 0), 6u);
    EXPECT_EQ(SkipBlanksIn(lines.buf.data(), lines.received, 8), 12u);
    EXPECT_EQ(FindLineEndIn(lines.buf.data(), lines.received, 12), lines.received);
    EXPECT_EQ(SkipBlanksIn(lines.buf.data(), lines.received, 500), lines.received);
}

TEST(ReplyParsing, PostScriptEntryIsFoundOnlyInsideTheStream) {
    const std::string enter = "\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\r\n";
    EXPECT_TRUE(StreamEntersPostScript(enter.data(), enter.size()));
    const std::string pieces = std::string("abc\0", 4) + enter;
    EXPECT_TRUE(StreamEntersPostScript(pieces.data(), pieces.size()));
    // The word past the stream's length (a growing buffer's tail) is not looked at.
    const std::string tail = "@PJL ECHO\r\n" + enter;
    EXPECT_FALSE(StreamEntersPostScript(tail.data(), 11));
    EXPECT_FALSE(StreamEntersPostScript(enter.data(), enter.size() - 20));
    EXPECT_FALSE(StreamEntersPostScript("", 0));
}

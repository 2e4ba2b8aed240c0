// The session's platform-neutral pieces: replies read whole at any split, the lines after
// DATA, Date lines, the EHLO walk and the mechanism choice.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smtp_protocol.h"

using Status = CSmtpReplyReader::Status;

TEST(ReplyReader, CompleteAtEverySplitPoint) {
    struct Case {
        std::string bytes;
        int code;
        std::size_t replyLength;
    };
    const std::string ehlo =
        "250-mx.test Hello\r\n250-SIZE 1000\r\n250-AUTH PLAIN LOGIN\r\n250 HELP\r\n";
    const std::vector<Case> cases = {
        {"220 mx.test ready\r\n", 220, 19},
        {"250\r\n", 250, 5},
        {"250 \r\n", 250, 6},
        {ehlo, 250, ehlo.size()},
        {ehlo + "221 bye\r\n", 250, ehlo.size()}, // a later reply stays for the next read
        {"354-go\n354 ahead\n", 354, 17},         // bare line feeds end lines too
    };
    for (const Case &c : cases)
        for (std::size_t split = 0; split <= c.bytes.size(); ++split) {
            CSmtpReplyReader reader;
            const Status first = reader.Feed(c.bytes.data(), split);
            if (split < c.replyLength) {
                ASSERT_EQ(first, Status::kNeedMore) << c.bytes << " split " << split;
            }
            ASSERT_EQ(reader.Feed(c.bytes.data() + split, c.bytes.size() - split),
                      Status::kComplete)
                << c.bytes;
            EXPECT_EQ(reader.Code(), c.code);
            EXPECT_EQ(reader.Text(), c.bytes.substr(0, c.replyLength));
        }
}

TEST(ReplyReader, OneByteAtATimeThenTheNextReply) {
    const std::string bytes = "250-a\r\n250 b\r\n221 bye\r\n";
    CSmtpReplyReader reader;
    std::size_t i = 0;
    for (; i < bytes.size(); ++i)
        if (reader.Feed(&bytes[i], 1) == Status::kComplete)
            break;
    EXPECT_EQ(i, 13u);
    EXPECT_EQ(reader.Text(), "250-a\r\n250 b\r\n");
    reader.TakeReply();
    EXPECT_EQ(reader.Feed(bytes.data() + i + 1, bytes.size() - i - 1), Status::kComplete);
    EXPECT_EQ(reader.Code(), 221);
    reader.TakeReply();
    EXPECT_TRUE(reader.Empty());
    EXPECT_EQ(reader.Poll(), Status::kNeedMore);
}

TEST(ReplyReader, JunkAndBoundsAreMalformed) {
    const std::vector<std::string> junk = {
        "hello\r\n",   "2x0 ok\r\n",        "25\r\n",     "\r\n",
        "250x ok\r\n", "250-ok\r\nxyz\r\n", "250\rX\r\n", "-250 ok\r\n",
    };
    for (const std::string &bytes : junk) {
        CSmtpReplyReader reader;
        EXPECT_EQ(reader.Feed(bytes.data(), bytes.size()), Status::kMalformed) << bytes;
        // A malformed reader takes nothing more.
        EXPECT_EQ(reader.Feed("250 ok\r\n", 8), Status::kMalformed);
    }
    // Endless continuation lines and a line without end stop at the size bound.
    CSmtpReplyReader endless;
    Status status = Status::kNeedMore;
    for (int i = 0; i < 10000 && status == Status::kNeedMore; ++i)
        status = endless.Feed("250-more\r\n", 10);
    EXPECT_EQ(status, Status::kMalformed);
    CSmtpReplyReader noEnd;
    const std::string line = "250 " + std::string(CSmtpReplyReader::kMaxReplyBytes, 'a');
    EXPECT_EQ(noEnd.Feed(line.data(), line.size()), Status::kMalformed);
    // Just inside the bound is still a reply.
    CSmtpReplyReader inside;
    const std::string fits =
        "250 " + std::string(CSmtpReplyReader::kMaxReplyBytes - 6, 'a') + "\r\n";
    EXPECT_EQ(inside.Feed(fits.data(), fits.size()), Status::kComplete);
}

TEST(ReplyCode, Match) {
    EXPECT_EQ(MatchReplyCode(nullptr, "250"), 1);
    EXPECT_EQ(MatchReplyCode("250 ok", nullptr), 1);
    EXPECT_EQ(MatchReplyCode("25", "250"), 2);
    EXPECT_EQ(MatchReplyCode("251 ok", "250"), 3);
    EXPECT_EQ(MatchReplyCode("250 ok", "250"), 0);
}

TEST(DataLines, SplitAndStuff) {
    const auto lines = SplitCrlfLines("a\r\n.\r\n..b\r\n\r\ntail");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "a\r\n");
    EXPECT_EQ(lines[3], "\r\n");
    EXPECT_TRUE(SplitCrlfLines("no end").empty());
    EXPECT_EQ(SplitCrlfLines("a\rb\nc\r\n").size(), 1u);

    struct Case {
        const char *line;
        const char *sent;
    };
    const Case cases[] = {
        {".\r\n", "..\r\n"},  {"..b\r\n", "...b\r\n"}, {"a.b\r\n", "a.b\r\n"},
        {" .\r\n", " .\r\n"}, {"\r\n", "\r\n"},        {".=\r\n", "..=\r\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(StuffDataLine(c.line), c.sent) << c.line;
}

// The DATA stream in batches: the same bytes as one write per stuffed line, in whole lines.
TEST(DataLines, BatchesCarryTheStuffedLinesAndTheEndMark) {
    auto lineSent = [](std::size_t bytes, char c = 'x') {
        return std::string(bytes - 2, c) + "\r\n";
    };
    std::string full; // 65 lines of 998 bytes: 65,000 bytes with their CR LF
    for (int i = 0; i < 65; ++i)
        full += lineSent(1000, static_cast<char>('a' + i % 26));
    struct Case {
        const char *name;
        std::string text;
        std::size_t batch;
        std::size_t pieces;
    };
    const Case cases[] = {
        // The first batch ends at 65,536 bytes exactly; the "." line opens the second.
        {"dot after the boundary", full + lineSent(536) + ".\r\n" + "tail", 65536, 2},
        // The stuffed "." line crosses 65,536 and ends the first batch.
        {"dot across the boundary", full + lineSent(535) + ".\r\n" + lineSent(10), 65536, 2},
        {"one line a write", "a\r\n.\r\n..b\r\n\r\nc", 1, 5},
        {"no line", "no end", 65536, 1},
        {"empty", "", 65536, 1},
    };
    for (const Case &c : cases) {
        std::string oneWriteALine;
        for (std::string_view line : SplitCrlfLines(c.text))
            oneWriteALine += StuffDataLine(line);
        oneWriteALine += "\r\n.\r\n";
        std::vector<std::string> pieces;
        SendDataBatches(c.text, c.batch,
                        [&](std::string_view piece) { pieces.emplace_back(piece); });
        std::string joined;
        for (const std::string &piece : pieces)
            joined += piece;
        EXPECT_TRUE(joined == oneWriteALine) << c.name;
        ASSERT_EQ(pieces.size(), c.pieces) << c.name;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_GE(pieces[i].size(), i + 1 < pieces.size() ? c.batch : 5u)
                << c.name << " piece " << i;
            EXPECT_EQ(pieces[i].substr(pieces[i].size() - 2), "\r\n") << c.name << " piece " << i;
        }
    }
    std::vector<std::string> pieces;
    SendDataBatches(cases[0].text, 65536,
                    [&](std::string_view piece) { pieces.emplace_back(piece); });
    EXPECT_EQ(pieces[0].size(), 65536u);
    EXPECT_EQ(pieces[1], "..\r\n\r\n.\r\n");
}

// A message text arrives in pieces (headers, frame, parts): lines, CR LF pairs and leading dots
// that straddle two pieces go out as from the joined text.
TEST(DataLines, PiecesCutAnywhereGiveTheBytesOfTheJoinedText) {
    const std::string text = ".a\r\n\r\r\n.\r\n\n.b\r\r\n..\r\nx\ry\r\n.tail";
    auto oneWriteALine = [](const std::string &t) {
        std::string out;
        for (std::string_view line : SplitCrlfLines(t))
            out += StuffDataLine(line);
        return out + "\r\n.\r\n";
    };
    const std::string want = oneWriteALine(text);
    for (std::size_t batch : {std::size_t{1}, std::size_t{7}, std::size_t{65536}}) {
        for (std::size_t a = 0; a <= text.size(); ++a) {
            for (std::size_t b = a; b <= text.size(); ++b) {
                std::string joined;
                CDataBatcher batcher(batch, [&](std::string_view piece) { joined += piece; });
                batcher.Put(std::string_view(text).substr(0, a));
                batcher.Put(std::string_view(text).substr(a, b - a));
                batcher.Put(std::string_view(text).substr(b));
                batcher.Finish();
                ASSERT_EQ(joined, want) << "batch " << batch << " cut at " << a << " and " << b;
            }
        }
    }
}

namespace {

std::tm Tm(int year, int mon, int mday, int hour, int min, int sec, int wday, int yday) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = mon;
    t.tm_mday = mday;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    t.tm_wday = wday;
    t.tm_yday = yday;
    return t;
}

} // namespace

TEST(DateLine, ZonesDaysAndYearEnds) {
    struct Case {
        std::tm local;
        std::tm utc;
        const char *line;
    };
    const Case cases[] = {
        // 2025-01-02 00:05:01 UTC seen from several zones.
        {Tm(2025, 0, 2, 9, 5, 1, 4, 1), Tm(2025, 0, 2, 0, 5, 1, 4, 1),
         "Date: Thu,  2 Jan 25 09:05:01 +0900"},
        {Tm(2025, 0, 1, 19, 5, 1, 3, 0), Tm(2025, 0, 2, 0, 5, 1, 4, 1),
         "Date: Wed,  1 Jan 25 19:05:01 -0500"},
        {Tm(2025, 0, 2, 5, 35, 1, 4, 1), Tm(2025, 0, 2, 0, 5, 1, 4, 1),
         "Date: Thu,  2 Jan 25 05:35:01 +0530"},
        {Tm(2025, 0, 2, 5, 50, 1, 4, 1), Tm(2025, 0, 2, 0, 5, 1, 4, 1),
         "Date: Thu,  2 Jan 25 05:50:01 +0545"},
        {Tm(2025, 0, 2, 13, 5, 1, 4, 1), Tm(2025, 0, 2, 0, 5, 1, 4, 1),
         "Date: Thu,  2 Jan 25 13:05:01 +1300"},
        {Tm(2025, 0, 2, 14, 5, 1, 4, 1), Tm(2025, 0, 2, 0, 5, 1, 4, 1),
         "Date: Thu,  2 Jan 25 14:05:01 +1400"},
        {Tm(2025, 0, 1, 12, 5, 1, 3, 0), Tm(2025, 0, 2, 0, 5, 1, 4, 1),
         "Date: Wed,  1 Jan 25 12:05:01 -1200"},
        {Tm(2025, 0, 2, 0, 5, 1, 4, 1), Tm(2025, 0, 2, 0, 5, 1, 4, 1),
         "Date: Thu,  2 Jan 25 00:05:01 +0000"},
        // Across a year's end both ways, and a two-digit day.
        {Tm(2024, 11, 31, 20, 0, 0, 2, 365), Tm(2025, 0, 1, 1, 0, 0, 3, 0),
         "Date: Tue, 31 Dec 24 20:00:00 -0500"},
        {Tm(2000, 0, 1, 8, 0, 0, 6, 0), Tm(1999, 11, 31, 23, 0, 0, 5, 364),
         "Date: Sat,  1 Jan 00 08:00:00 +0900"},
        {Tm(2009, 2, 15, 9, 30, 0, 0, 73), Tm(2009, 2, 15, 0, 0, 0, 0, 73),
         "Date: Sun, 15 Mar 09 09:30:00 +0930"},
    };
    for (const Case &c : cases) {
        std::string line;
        ASSERT_TRUE(FormatDateLine(c.local, UtcOffsetMinutes(c.local, c.utc), line)) << c.line;
        EXPECT_EQ(line, c.line);
    }
    std::string line = "kept";
    EXPECT_FALSE(FormatDateLine(Tm(2025, 12, 1, 0, 0, 0, 0, 0), 0, line));
    EXPECT_FALSE(FormatDateLine(Tm(2025, 0, 1, 0, 0, 0, 7, 0), 0, line));
    EXPECT_FALSE(FormatDateLine(Tm(2025, 0, 0, 0, 0, 0, 0, 0), 0, line));
    EXPECT_FALSE(FormatDateLine(Tm(2025, 0, 1, 0, 0, 0, 0, 0), 15 * 60, line));
    EXPECT_EQ(line, "kept");
}

TEST(EhloWalk, Keywords) {
    const std::string longLine = "250-AUTH " + std::string(129 - 9 - 1, 'x') + "\r";
    ASSERT_EQ(longLine.size(), 129u);
    const std::string exact = "250-AUTH LOGIN " + std::string(128 - 15 - 1, 'x') + "\r";
    ASSERT_EQ(exact.size(), 128u);
    struct Case {
        std::string reply;
        int bits;
    };
    const std::vector<Case> cases = {
        {"250-mx.test\r\n250-SIZE 52428800\r\n250 AUTH PLAIN LOGIN\r\n", 0x3009},
        // exim's own reply to EHLO.
        {"250-mx.test Hello localhost [127.0.0.1]\r\n250-SIZE 52428800\r\n250-8BITMIME\r\n"
         "250-PIPELINING\r\n250-AUTH PLAIN LOGIN CRAM-MD5\r\n250-CHUNKING\r\n250-STARTTLS\r\n"
         "250-PRDR\r\n250 HELP\r\n",
         0x1 | 0x2 | 0x4 | 0x8 | 0x1000 | 0x2000 | 0x4000},
        {"250-x\r\n250-auth digest-md5\r\n250-ETRN\r\n250-EXPN\r\n250-ATRN\r\n250 DSN\r\n",
         0x8 | 0x8000 | 0xF0},
        // The first keyword found ends a line's search; mechanisms count on AUTH lines only.
        {"250-SIZE AUTH LOGIN\r\n250 PLAIN\r\n", 0x1},
        {"250 x\r\n" + longLine + "\n", 0},
        {"250-x\r\n" + exact + "\n250 DSN\r\n", 0x8 | 0x1000 | 0x80},
        {"250-x\r\n250-\r\n250\r\n", 0},
        {"220 SIZE greeting\r\n", 0x1},
        {"250 STARTTLS", 0x4},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ParseServerOptions(c.reply), c.bits) << c.reply;
}

TEST(AuthChoice, Mechanisms) {
    struct Case {
        int options;
        const char *reply;
        bool ok;
        AuthMechanism mechanism;
    };
    const Case cases[] = {
        {0x5, "250-x\r\n250 AUTH LOGIN\r\n", true, AuthMechanism::kLogin},
        {0x5, "250-x\r\n250 AUTH LOGIN CRAM-MD5\r\n", true, AuthMechanism::kCramMd5},
        {0x3, "250-x\r\n250 AUTH PLAIN\r\n", false, AuthMechanism::kLogin},
        {0x2, "250-x\r\n250-AUTH PLAIN\r\n250 HELP\r\n", true, AuthMechanism::kPlain},
        {0x4, "250-x\r\n250 AUTH LOGIN PLAIN\r\n", false, AuthMechanism::kLogin},
        {0x1, "250-x\r\n250 HELP LOGIN\r\n", false, AuthMechanism::kLogin},
        {0x4, "250-x\r\n250-AUTH=CRAM-MD5\r\n250 OK\r\n", true, AuthMechanism::kCramMd5},
    };
    for (const Case &c : cases) {
        AuthMechanism mechanism = AuthMechanism::kPlain;
        EXPECT_EQ(ChooseAuthMechanism(c.options, c.reply, mechanism), c.ok) << c.reply;
        if (c.ok) {
            EXPECT_EQ(mechanism, c.mechanism) << c.reply;
        }
    }
    EXPECT_TRUE(OffersStartTls("250-x\r\n250-STARTTLS\r\n250 HELP\r\n"));
    EXPECT_TRUE(OffersStartTls("250 STARTTLS\r\n"));
    EXPECT_FALSE(OffersStartTls("250-x\r\n250 HELP STARTTLS\r\n"));
}

TEST(AuthChoice, CramChallenge) {
    EXPECT_EQ(CramChallenge("334 PDEyMzQ+\r\n"), "PDEyMzQ+");
    EXPECT_EQ(CramChallenge("334\r\n"), "");
    EXPECT_EQ(CramChallenge("334 "), "");
    EXPECT_EQ(CramChallenge("334 abc\r\n\r\n"), "abc\r\n");
    const std::string hundred(100, 'Q');
    EXPECT_EQ(CramChallenge("334 " + hundred + "\r\n"), hundred);
}

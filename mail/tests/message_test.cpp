// Header items, parts and the message: what each add produces and what it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "mail_error.h"
#include "mail_message.h"
#include "message_text.h"
#include "test_util.h"

using namespace std::string_literals;

namespace {

const std::string kIn = "\x1b$B";
const std::string kOut = "\x1b(B";

std::string HeaderText(CMailMessage &m, int kind) {
    std::string out;
    CHeaderItem *item = kind == kItemFrom      ? m.From()
                        : kind == kItemSubject ? m.Subject()
                        : kind == kItemReplyTo ? m.ReplyTo()
                        : kind == kItemTo      ? m.ToList().back().get()
                                               : m.CcList().back().get();
    item->GetHeaderText(out);
    return out;
}

std::string BodyOf(const CMIMEContent &part) {
    const std::string &text = part.GetContentText();
    return text.substr(text.find("\r\n\r\n") + 4);
}

// The encoded words of a header text, as (charset and encoding, text) pairs.
std::vector<std::string> Words(const std::string &header) {
    std::vector<std::string> words;
    for (std::size_t at = header.find("=?"); at != std::string::npos; at = header.find("=?", at)) {
        const std::size_t q1 = header.find('?', at + 2), q2 = header.find('?', q1 + 1);
        const std::size_t end = header.find("?=", q2 + 1);
        words.push_back(header.substr(q2 + 1, end - q2 - 1));
        at = end + 2;
    }
    return words;
}

} // namespace

TEST(HeaderItems, HeaderTextAndEnvelope) {
    struct Case {
        int charset;
        const char *address;
        const char *name;
        std::string header;
    };
    const std::vector<Case> cases = {
        {kCharsetUS, "a@x.test", "Ann Lee", "Ann Lee <a@x.test>"},
        {kCharsetUS, "a@x.test", nullptr, "<a@x.test>"},
        {kCharsetUS, nullptr, "Ann", "Ann "},
        {kCharsetEU, "a@x.test", "Ren\xE9", "=?iso-8859-1?Q?Ren=E9?= <a@x.test>"},
        {kCharsetEU, "a@x.test", "", "<a@x.test>"},
        {kCharsetEU, "", "Jos\xE9 M", "=?iso-8859-1?Q?Jos=E9_M?= "},
        {kCharsetJP, "a@x.test", "\x82\xA0", "=?iso-2022-jp?B?GyRCJCIbKEI=?= <a@x.test>"},
        {kCharsetJP, "a@x.test", "", "<a@x.test>"},
        {kCharsetJP, nullptr, "abc", "=?iso-2022-jp?B?YWJj?= "},
    };
    for (const Case &c : cases) {
        for (int kind : {kItemTo, kItemCC, kItemFrom, kItemReplyTo}) {
            CMailMessage m(c.charset);
            m.AddItem(c.address, c.name, kind);
            EXPECT_EQ(HeaderText(m, kind), c.header) << c.charset << ' ' << kind;
        }
    }
    CMailMessage m(kCharsetUS);
    m.AddItem("to@x.test", "T", kItemTo);
    m.AddItem("cc@x.test", "C", kItemCC);
    m.AddItem("from@x.test", "F", kItemFrom);
    m.AddItem("r@x.test", "R", kItemReplyTo);
    std::string command = "unchanged";
    m.ToList()[0]->GetEnvelopeCommand(command);
    EXPECT_EQ(command, "RCPT TO:<to@x.test>");
    m.CcList()[0]->GetEnvelopeCommand(command);
    EXPECT_EQ(command, "RCPT TO:<cc@x.test>");
    m.From()->GetEnvelopeCommand(command);
    EXPECT_EQ(command, "MAIL FROM:<from@x.test>");
    m.ReplyTo()->GetEnvelopeCommand(command);
    EXPECT_EQ(command, "MAIL FROM:<from@x.test>");
}

TEST(HeaderItems, EmptySubjects) {
    for (int charset : {kCharsetUS, kCharsetJP, kCharsetEU}) {
        CMailMessage m(charset);
        m.AddItem(nullptr, "", kItemSubject);
        EXPECT_EQ(HeaderText(m, kItemSubject), "") << charset;
    }
}

// A long Japanese subject: every word holds whole characters in at most 37 JIS bytes, starts
// in ASCII and ends in ASCII mode; together the words give the converted text.
TEST(HeaderItems, JapaneseWordsHoldWholeCharacters) {
    std::string subject;
    for (int i = 0; i < 30; ++i)
        subject += "\x82\xA0\x88\x9F";
    subject.insert(8, "abc"); // an ASCII run shifts the later characters against the word ends
    subject += "x";
    CMailMessage m(kCharsetJP);
    m.AddItem(nullptr, subject.c_str(), kItemSubject);
    const std::string header = HeaderText(m, kItemSubject);
    const auto words = Words(header);
    ASSERT_GT(words.size(), 3u);
    EXPECT_EQ(header.find("?=\r\n\t=?"), header.find("?="));
    EXPECT_EQ(header.substr(header.size() - 2), "?=");
    std::string joined;
    for (const std::string &word : words) {
        const std::string jis = mailtest::Base64Decode(word);
        ASSERT_LE(jis.size(), 37u);
        bool twoByte = false;
        std::size_t run = 0;
        for (std::size_t i = 0; i < jis.size(); ++i) {
            if (jis.compare(i, 3, kIn) == 0) {
                twoByte = true;
                run = 0;
                i += 2;
                continue;
            }
            if (jis.compare(i, 3, kOut) == 0) {
                ASSERT_EQ(run % 2, 0u);
                twoByte = false;
                i += 2;
                continue;
            }
            if (twoByte)
                ++run;
            else
                ASSERT_LT(std::uint8_t(jis[i]), 0x80);
            joined += jis[i];
        }
        EXPECT_FALSE(twoByte) << word;
    }
    CSJIStoJIS jis;
    std::string whole = mailtest::Feed(jis, {subject});
    std::string plain;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (whole[i] == '\x1b') {
            i += 2;
            continue;
        }
        plain += whole[i];
    }
    EXPECT_EQ(joined, plain);
}

TEST(HeaderItems, ShortJapaneseTextStaysOneWord) {
    // 36 bytes of JIS: ESC $ B, 15 characters, ESC ( B.
    std::string subject;
    for (int i = 0; i < 15; ++i)
        subject += "\x82\xA0";
    CMailMessage m(kCharsetJP);
    m.AddItem(nullptr, subject.c_str(), kItemSubject);
    const auto words = Words(HeaderText(m, kItemSubject));
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(mailtest::Base64Decode(words[0]).size(), 36u);
}

TEST(HeaderItems, EuropeanWordsHoldNoBlankOrBareSpecial) {
    std::string subject;
    for (int i = 0; i < 40; ++i)
        subject += "R\xE9sum\xE9 d'\xE9t\xE9 ?_\t";
    CMailMessage m(kCharsetEU);
    m.AddItem(nullptr, subject.c_str(), kItemSubject);
    const std::string header = HeaderText(m, kItemSubject);
    const auto words = Words(header);
    ASSERT_GT(words.size(), 3u);
    std::string decoded;
    for (const std::string &word : words) {
        EXPECT_EQ(word.find_first_of(" \t?"), std::string::npos) << word;
        EXPECT_LE(word.size(), 53u);
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (word[i] == '_')
                decoded += ' ';
            else if (word[i] == '=') {
                decoded += char(std::stoi(word.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else
                decoded += word[i];
        }
    }
    EXPECT_EQ(decoded, subject);
}

TEST(Message, AddBodyStringFlags) {
    CMailMessage m(kCharsetUS);
    m.AddBodyString("one ", 2);
    m.AddBodyString("two ", 2);
    m.AddBodyString("three", 4);
    ASSERT_EQ(m.Parts().size(), 1u);
    EXPECT_EQ(BodyOf(*m.Parts()[0]), "one two three\r\n");

    CMailMessage twice(kCharsetUS);
    twice.AddBodyString("first", 4);
    twice.AddBodyString("second", 4);
    ASSERT_EQ(twice.Parts().size(), 2u);
    EXPECT_EQ(BodyOf(*twice.Parts()[0]), "first\r\n");
    EXPECT_EQ(BodyOf(*twice.Parts()[1]), "firstsecond\r\n");

    struct Case {
        int flags;
        std::size_t parts;
        const char *buffer;
    };
    for (const Case &c : {Case{1, 0, "new"}, Case{5, 1, "new"}, Case{0, 0, "old"},
                          Case{3, 0, "oldnew"}, Case{6, 0, "oldnew"}, Case{4, 1, "oldnew"}}) {
        CMailMessage r(kCharsetEU);
        r.AddBodyString("old", 2);
        r.AddBodyString("new", c.flags);
        EXPECT_EQ(r.Parts().size(), c.parts) << c.flags;
        EXPECT_EQ(r.BodyString(), c.buffer) << c.flags;
        if (c.parts) {
            EXPECT_EQ(BodyOf(*r.Parts()[0]), std::string(c.buffer) + "\r\n") << c.flags;
        }
    }
    CMailMessage null(kCharsetJP);
    null.AddBodyString(nullptr, 4);
    ASSERT_EQ(null.Parts().size(), 1u);
    EXPECT_EQ(BodyOf(*null.Parts()[0]), "\r\n");
}

TEST(Message, AddContentNames) {
    const std::string path = mailtest::WriteFile("quenta_attach.bin", "abc");
    struct Case {
        const char *name;
        MailErrorCode code;
    };
    for (const Case &c :
         {Case{"report.CSV", kMailOk}, Case{"tool.exe", kMailOk}, Case{"exe", kMailOk},
          Case{"a.b.Exe", kMailOk}, Case{"notes.txt", kMailCannotAddItem},
          Case{"csv.", kMailCannotAddItem}, Case{"", kMailCannotAddItem},
          Case{nullptr, kMailCannotAddItem}, Case{"a\r\n.exe", kMailCannotAddItem},
          Case{"a\n.csv", kMailCannotAddItem}, Case{"a\".exe", kMailCannotAddItem}}) {
        CMailMessage m(kCharsetUS);
        EXPECT_EQ(CatchMailError([&] { m.AddContent(path.c_str(), c.name); }), c.code)
            << (c.name ? c.name : "null");
        EXPECT_EQ(m.Parts().size(), c.code == kMailOk ? 1u : 0u);
    }
    CMailMessage m(kCharsetUS);
    EXPECT_EQ(CatchMailError([&] { m.AddContent(nullptr, "a.exe"); }), kMailFileNotFound);
}

TEST(Message, AttachmentText) {
    const std::string path = mailtest::WriteFile("quenta_empty.bin", "");
    CMailMessage m(kCharsetJP);
    m.AddContent(path.c_str(), "empty.exe");
    EXPECT_EQ(m.Parts()[0]->GetContentText(),
              "Content-Type:application/octet-stream;name=\"empty.exe\";type=exe\r\n"
              "Content-Transfer-Encoding:base64\r\n"
              "Content-Disposition:attachment;filename=\"empty.exe\"\r\n"
              "\r\n"
              "\r\n");
    for (std::size_t size : {1u, 2u, 3u, 57u, 284u, 285u, 286u, 570u, 1000u}) {
        std::string data;
        for (std::size_t i = 0; i < size; ++i)
            data += char(i * 7 + 3);
        const std::string file = mailtest::WriteFile("quenta_sized.bin", data);
        CMailMessage a(kCharsetUS);
        a.AddContent(file.c_str(), "d.csv");
        const std::string body = BodyOf(*a.Parts()[0]);
        EXPECT_EQ(mailtest::Base64Decode(body), data) << size;
        EXPECT_EQ(body.substr(body.size() - 2), "\r\n");
    }
}

// A CR or LF in any item is refused with 2 and leaves the message as it was.
TEST(Message, LineBreaksInItemsRefused) {
    for (int charset : {kCharsetUS, kCharsetJP, kCharsetEU}) {
        for (int kind : {kItemTo, kItemCC, kItemFrom, kItemSubject, kItemReplyTo}) {
            for (const char *bad : {"a@x\r\nRCPT TO:<b@y>", "a\rb", "a\nb", "\r\n.\r\n"}) {
                CMailMessage m(charset);
                m.AddItem("old@x.test", "Old", kind);
                const std::string before = RenderHeaderLines(m, "Date: x");
                EXPECT_EQ(CatchMailError([&] { m.AddItem(bad, "Name", kind); }),
                          kMailCannotAddItem);
                EXPECT_EQ(CatchMailError([&] { m.AddItem("n@x.test", bad, kind); }),
                          kMailCannotAddItem);
                EXPECT_EQ(RenderHeaderLines(m, "Date: x"), before) << charset << ' ' << kind;
                EXPECT_EQ(m.ToList().size(), kind == kItemTo ? 1u : 0u);
                EXPECT_EQ(m.CcList().size(), kind == kItemCC ? 1u : 0u);
            }
        }
    }
}

TEST(Message, MissingFilesKeepEarlierItemsAndParts) {
    const std::string missing = mailtest::ScratchPath("quenta_no_such_file.txt");
    const std::string folder = suite::TestDataDir();
    for (int charset : {kCharsetUS, kCharsetJP, kCharsetEU}) {
        CMailMessage m(charset);
        m.AddItem("a@x.test", "A", kItemTo);
        m.AddBodyString("kept", 4);
        EXPECT_EQ(CatchMailError([&] { m.AddBody(missing.c_str()); }), kMailFileNotFound);
        EXPECT_EQ(CatchMailError([&] { m.AddBody(folder.c_str()); }), kMailFileNotFound);
        EXPECT_EQ(CatchMailError([&] { m.AddBody(nullptr); }), kMailFileNotFound);
        EXPECT_EQ(CatchMailError([&] { m.AddContent(missing.c_str(), "a.exe"); }),
                  kMailFileNotFound);
        EXPECT_EQ(CatchMailError([&] { m.AddContent(folder.c_str(), "a.exe"); }),
                  kMailFileNotFound);
        ASSERT_EQ(m.Parts().size(), 1u);
        EXPECT_EQ(m.ToList().size(), 1u);
    }
}

// Lines beginning with a dot are content: nothing adds a dot, in any charset, from a file or
// a string, also at byte 1000 of a long line.
TEST(Message, NoDotAdded) {
    std::string longLine(2000, 'a');
    longLine[999] = '.';
    const std::string body = ".\n.x\n" + longLine + "\n..\n";
    const std::string path = mailtest::WriteFile("quenta_dots.txt", body);
    for (int charset : {kCharsetUS, kCharsetJP, kCharsetEU}) {
        CMailMessage m(charset);
        m.AddBody(path.c_str());
        m.AddBodyString(body.c_str(), 4);
        for (const auto &part : m.Parts()) {
            const std::string text = BodyOf(*part);
            if (charset == kCharsetEU) {
                EXPECT_EQ(std::count(text.begin(), text.end(), '.'), 5);
                EXPECT_EQ(text.find("=2E"), std::string::npos);
            } else {
                EXPECT_EQ(text, ".\r\n.x\r\n" + longLine + "\r\n..\r\n\r\n") << charset;
            }
        }
    }
}

// Body files are read whole: CR LF becomes LF, and 0x1A and NUL pass.
TEST(Message, BodyFileBytes) {
    const std::string source = "one\r\ntwo\nthree\x1a"
                               "after\x00zero\r\r\nend"s;
    const std::string path = mailtest::WriteFile("quenta_bytes.txt", source);
    struct Case {
        int charset;
        std::string body;
    };
    const std::vector<Case> cases = {
        {kCharsetUS, "one\r\ntwo\r\nthree\x1a"
                     "after\x00zero\r\nend\r\n"s},
        {kCharsetJP, "one\r\ntwo\r\nthree\x1a"
                     "after\x00zero\r\nend\r\n"s},
        {kCharsetEU, "one=0Atwo=0Athree=1Aafter=00zero=0D=0Aend\r\n"},
    };
    for (const Case &c : cases) {
        CMailMessage m(c.charset);
        m.AddBody(path.c_str());
        EXPECT_EQ(BodyOf(*m.Parts()[0]), c.body) << c.charset;
    }
}

TEST(Message, TextPartHeaders) {
    struct Case {
        int charset;
        const char *header;
    };
    for (const Case &c :
         {Case{
              kCharsetUS,
              "Content-Type:text/plain;charset=us-ascii\r\nContent-Transfer-Encoding:7bit\r\n\r\n"},
          Case{kCharsetJP, "Content-Type:text/"
                           "plain;charset=iso-2022-jp\r\nContent-Transfer-Encoding:7bit\r\n\r\n"},
          Case{kCharsetEU,
               "Content-Type:text/"
               "plain;charset=iso-8859-1\r\nContent-Transfer-Encoding:quoted-printable\r\n\r\n"}}) {
        CMailMessage m(c.charset);
        m.AddBodyString("x", 4);
        EXPECT_EQ(m.Parts()[0]->GetContentText(), std::string(c.header) + "x\r\n");
    }
}

// A Japanese character split across two pieces of a long line arrives whole, and the body
// ends in ASCII mode.
TEST(Message, JapaneseCharacterAcrossPieces) {
    std::string body(998, 'a');
    body += "\x82\xA0\x82"; // the pair straddles byte 999; the text ends on a lone lead byte
    const std::string path = mailtest::WriteFile("quenta_split.txt", body);
    CMailMessage m(kCharsetJP);
    m.AddBody(path.c_str());
    m.AddBodyString(body.c_str(), 4);
    for (const auto &part : m.Parts())
        EXPECT_EQ(BodyOf(*part), std::string(998, 'a') + kIn + "\x24\x22" + kOut + "\r\n");
}

TEST(Render, HeadersAndFrames) {
    CMailMessage m(kCharsetUS);
    m.AddItem("f@x.test", "From Me", kItemFrom);
    m.AddItem("r@x.test", nullptr, kItemReplyTo);
    m.AddItem("a@x.test", "A", kItemTo);
    m.AddItem("b@x.test", nullptr, kItemTo);
    m.AddItem(nullptr, "C", kItemTo);
    m.AddItem("c@x.test", "Cc", kItemCC);
    m.AddItem(nullptr, "Hello", kItemSubject);
    const std::string date = "Date: Thu, 10 Dec 26 10:00:00 +0000";
    EXPECT_EQ(RenderMessageText(m, date), "From: From Me <f@x.test>\r\n"
                                          "Reply-To: <r@x.test>\r\n"
                                          "To: A <a@x.test>,\r\n\t<b@x.test>,\r\n\tC \r\n"
                                          "CC: Cc <c@x.test>\r\n"
                                          "Subject: Hello\r\n" +
                                              date + "\r\n");
    m.AddBodyString("body", 4);
    const std::string one = RenderBody(m);
    EXPECT_EQ(one, m.Parts()[0]->GetContentText());
    m.AddBodyString("--DRANVEL_SMTP_MAIL_SYSTEM_19690212\n", 1);
    m.AddBodyString("--DRANVEL_SMTP_MAIL_SYSTEM_19690212_1--", 6);
    m.AddBodyString("x", 4);
    ASSERT_EQ(m.Parts().size(), 2u);
    const std::string boundary = "DRANVEL_SMTP_MAIL_SYSTEM_19690212_2";
    EXPECT_EQ(ChooseBoundary(m.Parts()), boundary);
    EXPECT_EQ(RenderBody(m),
              "MIME-Version:1.0\r\nContent-Type:multipart/mixed;boundary=" + boundary +
                  "\r\n\r\n"
                  "This is a multi-part message in MIME format.\r\n\r\n"
                  "--" +
                  boundary + "\r\n" + m.Parts()[0]->GetContentText() + "--" + boundary + "\r\n" +
                  m.Parts()[1]->GetContentText() + "--" + boundary + "--\r\n");
    CMailMessage plain(kCharsetUS);
    plain.AddBodyString("a", 4);
    plain.AddBodyString("b", 1 | 4);
    EXPECT_EQ(ChooseBoundary(plain.Parts()), "DRANVEL_SMTP_MAIL_SYSTEM_19690212");
}

// Random items and bodies in every charset: no access outside the strings, and every built
// text line ends in CR LF.
TEST(Render, RandomInput) {
    std::mt19937 random(4242);
    for (int round = 0; round < 100; ++round) {
        for (int charset : {kCharsetUS, kCharsetJP, kCharsetEU}) {
            std::string text(std::size_t(random() % 200), '\0');
            for (char &c : text)
                c = char(random() % 255 + 1);
            CMailMessage m(charset);
            const std::string name = text.substr(0, text.find_first_of("\r\n"));
            m.AddItem("a@x.test", name.c_str(), kItemTo);
            m.AddItem(nullptr, name.c_str(), kItemSubject);
            m.AddBodyString(text.c_str(), 4);
            const std::string all = RenderMessageText(m, "Date: x");
            if (charset != kCharsetUS) {
                for (std::size_t i = 0; i < all.size(); ++i)
                    if (all[i] == '\n') {
                        ASSERT_EQ(all[i - 1], '\r');
                    }
            }
        }
    }
}

#ifndef _WIN32
// A file that opens but cannot be read (this process's memory, from address 0): 4, with
// nothing appended.
TEST(Message, ReadErrorGives4) {
    const char *unreadable = "/proc/self/mem";
    for (int charset : {kCharsetUS, kCharsetJP, kCharsetEU}) {
        CMailMessage m(charset);
        EXPECT_EQ(CatchMailError([&] { m.AddBody(unreadable); }), kMailFileRead);
        EXPECT_EQ(CatchMailError([&] { m.AddContent(unreadable, "mem.exe"); }), kMailFileRead);
        EXPECT_TRUE(m.Parts().empty());
    }
}
#endif

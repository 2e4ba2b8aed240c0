// The stream encoders: Base64, quoted-printable and the Shift_JIS to ISO-2022-JP converter.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "test_util.h"
#include "translater.h"

using mailtest::Feed;

namespace {

enum class Kind { Base64, Base64NoBreaks, QpBody, QpWord, Jis };

std::unique_ptr<CTranslater> Make(Kind kind) {
    switch (kind) {
    case Kind::Base64:
        return std::make_unique<CBase64>();
    case Kind::Base64NoBreaks: {
        auto b = std::make_unique<CBase64>();
        b->SetLineBreaks(false);
        return b;
    }
    case Kind::QpBody:
        return std::make_unique<CQuotedPrintable>();
    case Kind::QpWord: {
        auto q = std::make_unique<CQuotedPrintable>();
        q->SetSoftBreaks(false);
        q->SetEncodedWord(true);
        return q;
    }
    case Kind::Jis:
        return std::make_unique<CSJIStoJIS>();
    }
    return nullptr;
}

struct Case {
    const char *what;
    Kind kind;
    std::vector<std::string> segments; // the last byte of each is flagged last
    std::string expected;
};

const std::string kIn = "\x1b$B";
const std::string kOut = "\x1b(B";

std::string Repeat(const std::string &s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

} // namespace

TEST(Encoders, Table) {
    const std::vector<Case> cases = {
        {"base64 three bytes", Kind::Base64, {"abc"}, "YWJj"},
        {"base64 two bytes", Kind::Base64, {"ab"}, "YWI="},
        {"base64 one byte", Kind::Base64, {"a"}, "YQ=="},
        {"base64 57 bytes make one line",
         Kind::Base64,
         {std::string(57, 'x')},
         Repeat("eHh4", 19) + "\r\n"},
        {"base64 58 bytes", Kind::Base64, {std::string(58, 'x')}, Repeat("eHh4", 19) + "\r\neA=="},
        {"base64 without breaks", Kind::Base64NoBreaks, {std::string(60, 'x')}, Repeat("eHh4", 20)},
        {"base64 high bytes", Kind::Base64, {std::string("\xff\xfe\x00", 3)}, "//4A"},
        {"qp equals sign", Kind::QpBody, {"="}, "=3D"},
        {"qp latin small e acute", Kind::QpBody, {"\xE9"}, "=E9"},
        {"qp tab and blank inside", Kind::QpBody, {"a\tb c"}, "a\tb c"},
        {"qp line feed", Kind::QpBody, {"\n"}, "=0A"},
        {"qp carriage return", Kind::QpBody, {"ligne\r\n"}, "ligne=0D=0A"},
        {"qp blank flagged last", Kind::QpBody, {"a "}, "a=20"},
        {"qp tab flagged last", Kind::QpBody, {"a\t"}, "a=09"},
        {"qp controls and delete", Kind::QpBody, {std::string("\x00\x1f\x7f", 3)}, "=00=1F=7F"},
        {"qp soft break at 72",
         Kind::QpBody,
         {std::string(73, 'a')},
         std::string(72, 'a') + "=\r\na"},
        {"qp soft break after a hex triple",
         Kind::QpBody,
         {std::string(70, 'a') + "=b"},
         std::string(70, 'a') + "=3D=\r\nb"},
        {"qp word blank and specials", Kind::QpWord, {"a b\t?_="}, "a_b=09=3F=5F=3D"},
        {"qp word phrase specials",
         Kind::QpWord,
         {"\"(),.:;<>@[\\]"},
         "=22=28=29=2C=2E=3A=3B=3C=3E=40=5B=5C=5D"},
        {"qp word no soft break", Kind::QpWord, {std::string(80, 'a')}, std::string(80, 'a')},
        {"jis ascii line", Kind::Jis, {"abc\n"}, "abc\r\n"},
        {"jis ascii line with CR LF", Kind::Jis, {"abc\r\n"}, "abc\r\n"},
        {"jis two-byte line",
         Kind::Jis,
         {"\x82\xA0\x88\x9F\n"},
         kIn + "\x24\x22\x30\x21" + kOut + "\r\n"},
        {"jis two-byte CR LF", Kind::Jis, {"\x82\xA0\r\n"}, kIn + "\x24\x22" + kOut + "\r\n"},
        {"jis last flag closes and reopens",
         Kind::Jis,
         {"\x82\xA0", "\x88\x9F"},
         kIn + "\x24\x22" + kOut + kIn + "\x30\x21" + kOut},
        {"jis mixed",
         Kind::Jis,
         {"a\x82\xA0"
          "b"},
         "a" + kIn + "\x24\x22" + kOut + "b"},
        {"jis half-width katakana", Kind::Jis, {"\xB1\xB2\xDF"}, "\xB1\xB2\xDF"},
        {"jis lone lead byte flagged last", Kind::Jis, {"\x82"}, ""},
        {"jis lone lead byte closes two-byte mode",
         Kind::Jis,
         {"\x82\xA0\x82"},
         kIn + "\x24\x22" + kOut},
        {"jis bad trail 0x29 is a fresh byte", Kind::Jis, {"\x82\x29"}, ")"},
        {"jis bad trail 0x2C", Kind::Jis, {"\x82\x2C"}, ","},
        {"jis bad trail LF keeps the line end",
         Kind::Jis,
         {"\x82\xA0\x82\n"},
         kIn + "\x24\x22" + kOut + "\r\n"},
        {"jis bad trail CR LF", Kind::Jis, {"\x82\r\n"}, "\r\n"},
        {"jis bad trail 0x7F and 0xFD", Kind::Jis, {"\x82\x7F\x82\xFD"}, "\x7F\xFD"},
    };
    for (const Case &c : cases) {
        auto encoder = Make(c.kind);
        EXPECT_EQ(Feed(*encoder, c.segments), c.expected) << c.what;
    }
}

TEST(Encoders, ConvertPairExamples) {
    struct Pair {
        std::uint8_t lead, trail, first, second;
    };
    for (const Pair &p : {Pair{0x82, 0xA0, 0x24, 0x22}, Pair{0x88, 0x9F, 0x30, 0x21},
                          Pair{0x81, 0x40, 0x21, 0x21}, Pair{0xEA, 0xA4, 0x74, 0x26}}) {
        std::uint8_t a = p.lead, b = p.trail;
        CSJIStoJIS::ConvertPair(a, b);
        EXPECT_EQ(a, p.first) << std::hex << int(p.lead) << ' ' << int(p.trail);
        EXPECT_EQ(b, p.second) << std::hex << int(p.lead) << ' ' << int(p.trail);
    }
}

// Base64 decodes back to its input at every length around a group and a line.
TEST(Encoders, Base64RoundTrip) {
    std::mt19937 random(12345);
    for (std::size_t length = 1; length < 240; ++length) {
        std::string data(length, '\0');
        for (char &c : data)
            c = char(random());
        CBase64 encoder;
        const std::string encoded = Feed(encoder, {data});
        ASSERT_EQ(mailtest::Base64Decode(encoded), data) << length;
        std::size_t column = 0;
        for (std::size_t i = 0; i < encoded.size(); ++i) {
            if (encoded[i] == '\r') {
                ASSERT_EQ(column, 76u);
                ASSERT_EQ(encoded[++i], '\n');
                column = 0;
            } else {
                ++column;
            }
        }
        EXPECT_EQ(encoded.size() - 2 * (encoded.size() / 78), (length + 2) / 3 * 4) << length;
    }
}

// A run of bytes gives the text of as many single Translate calls, from every position in a
// group and a line, with line breaks on and off, and the encoder goes on from the same state.
TEST(Encoders, Base64RunsMatchByteAtATime) {
    std::mt19937 random(4242);
    std::string data(400, '\0');
    for (char &c : data)
        c = char(random());
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(data.data());
    for (bool breaks : {true, false}) {
        for (std::size_t before = 0; before < 80; ++before) {
            for (std::size_t run :
                 {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{58},
                  std::size_t{59}, std::size_t{60}, std::size_t{228}, std::size_t{229}}) {
                CBase64 single, bulk;
                single.SetLineBreaks(breaks);
                bulk.SetLineBreaks(breaks);
                std::string want, got;
                for (std::size_t i = 0; i < before; ++i) {
                    want += single.Translate(bytes[i], false);
                    got += bulk.Translate(bytes[i], false);
                }
                for (std::size_t i = before; i < before + run; ++i)
                    want += single.Translate(bytes[i], false);
                bulk.TranslateRun(bytes + before, run, got);
                // The next byte, flagged last, closes the group the same way.
                want += single.Translate(bytes[before + run], true);
                got += bulk.Translate(bytes[before + run], true);
                ASSERT_EQ(got, want)
                    << "breaks " << breaks << " before " << before << " run " << run;
            }
        }
    }
}

// Random bytes through every encoder: pieces stay inside their 16 bytes and the JIS output
// holds no bare CR or LF.
TEST(Encoders, RandomBytes) {
    std::mt19937 random(777);
    for (int round = 0; round < 200; ++round) {
        std::string data(std::size_t(random() % 300), '\0');
        for (char &c : data)
            c = char(random());
        for (Kind kind :
             {Kind::Base64, Kind::Base64NoBreaks, Kind::QpBody, Kind::QpWord, Kind::Jis}) {
            auto encoder = Make(kind);
            for (std::size_t i = 0; i < data.size(); ++i) {
                encoder->Translate(std::uint8_t(data[i]), random() % 8 == 0);
                ASSERT_LE(encoder->OutputLength(), 15);
                ASSERT_EQ(encoder->Output()[encoder->OutputLength()], '\0');
            }
        }
        CSJIStoJIS jis;
        const std::string out = Feed(jis, {data});
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (out[i] == '\n') {
                ASSERT_TRUE(i > 0 && out[i - 1] == '\r');
            }
        }
        EXPECT_FALSE(jis.InTwoByteMode());
    }
}

#include "settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>

namespace {

const std::string kWritten =
    "[PRINTERS]\r\nName=Office,Port=10.1.2.3\r\nName=Office,Port=LPT1:\r\n[SEARCH_FILTERS]\r\n"
    "DiscoverLPT=TRUE\r\nDiscoverUSB=FALSE\r\nDiscoverIP=TRUE\r\nSubNet=10.1.2.0/10.1.3.0\r\n"
    "TypeFace=3007\r\n[User_PIN]\r\n1234\r\n[SPOOL_QUEUES]\r\nShowProof=FALSE\r\nShowSecure="
    "TRUE\r\n";

SettingsRecord Parse(const std::string &text) {
    return ParseSettings(text.data(), text.size());
}

using Printers = std::vector<std::pair<std::string, std::string>>;

} // namespace

TEST(SettingsFile, WrittenFormRoundTripsByteForByte) {
    SettingsRecord r = Parse(kWritten);
    EXPECT_EQ(r.printers, (Printers{{"Office", "10.1.2.3"}, {"Office", "LPT1:"}}));
    EXPECT_TRUE(r.discoverLpt);
    EXPECT_FALSE(r.discoverUsb);
    EXPECT_EQ(r.subNets, "10.1.2.0/10.1.3.0");
    EXPECT_EQ(r.typeFace, 3007);
    EXPECT_EQ(r.pin, "1234");
    EXPECT_FALSE(r.showProof);
    EXPECT_EQ(WriteSettings(r), kWritten);
    EXPECT_EQ(WriteSettings(Parse(WriteSettings(SettingsRecord{}))),
              WriteSettings(SettingsRecord{}));
}

TEST(SettingsFile, WhatParsesIsKeptAndTheRestKeepsItsDefault) {
    struct Case {
        const char *name;
        std::string text;
        Printers printers;
        bool usb;
        int typeFace;
        std::string pin;
    } cases[] = {
        {"only the printers section", "[PRINTERS]\r\n", {}, true, 3000, ""},
        {"lower-case true is false",
         "[SEARCH_FILTERS]\r\nDiscoverUSB=true\r\n",
         {},
         false,
         3000,
         ""},
        {"empty PIN", "[User_PIN]\r\n\r\n[SPOOL_QUEUES]\r\n", {}, true, 3000, ""},
        {"five-character PIN keeps four", "[User_PIN]\r\n12345\r\n", {}, true, 3000, "1234"},
        {"last line without CR LF",
         "[PRINTERS]\r\nName=A,Port=1.2.3.4\r\nName=B,Port=5.6.7.8",
         {{"A", "1.2.3.4"}, {"B", "5.6.7.8"}},
         true,
         3000,
         ""},
        {"LF-only line ends",
         "[PRINTERS]\nName=A,Port=1.2.3.4\nName=B,Port=5.6.7.8\n[SEARCH_FILTERS]\nDiscoverUSB="
         "FALSE\nTypeFace=42\n"
         "[User_PIN]\n99\n",
         {{"A", "1.2.3.4"}, {"B", "5.6.7.8"}},
         false,
         42,
         "99"},
        {"no printers section", "Name=A,Port=p\r\n", {{"A", "p"}}, true, 3000, ""},
        {"a line without ,Port= ends the printers",
         "Name=A,Port=p\r\nName=B\r\nName=C,Port=q\r\n[SEARCH_FILTERS]\r\nSubNet=x,Port=y\r\n",
         {{"A", "p"}},
         true,
         3000,
         ""},
        {"NULs end texts, not the file",
         std::string("Name=A\0B,Port=p\r\n[SEARCH_FILTERS]\r\nSubNet=ab\0cd\r\nTypeFace=7\r\n", 62),
         {},
         true,
         7,
         ""},
        {"non-numeric TypeFace", "[SEARCH_FILTERS]\r\nTypeFace=abc\r\n", {}, true, 3000, ""},
        {"out-of-range TypeFace",
         "[SEARCH_FILTERS]\r\nTypeFace=99999999999\r\n",
         {},
         true,
         3000,
         ""},
        {"empty file", "", {}, true, 3000, ""},
        {"cut in a key", "[SEARCH_FILTERS]\r\nDiscoverUSB=", {}, false, 3000, ""},
        {"cut after the PIN section", "[User_PIN]\r\n", {}, true, 3000, ""},
    };
    for (const Case &c : cases) {
        SettingsRecord r = Parse(c.text);
        EXPECT_EQ(r.printers, c.printers) << c.name;
        EXPECT_EQ(r.discoverUsb, c.usb) << c.name;
        EXPECT_EQ(r.typeFace, c.typeFace) << c.name;
        EXPECT_EQ(r.pin, c.pin) << c.name;
        EXPECT_TRUE(r.discoverLpt && r.discoverIp && r.showSecure) << c.name;
    }
    const std::string huge = "Name=" + std::string(100000, 'n') + ",Port=" + std::string(300, 'p');
    EXPECT_EQ(Parse(huge).printers.size(), 1u);
    std::string binary(4096, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>(i * 37);
    for (std::size_t n = 0; n <= kWritten.size();
         ++n) // every truncation, and junk, without over-read
        Parse(kWritten.substr(0, n));
    Parse(binary);
}

TEST(SettingsFile, TextsAreWrittenUpToAnyNul) {
    SettingsRecord r;
    r.subNets = std::string("10.0.0.0\0junk", 13);
    r.pin = "12345";
    const std::string text = WriteSettings(r);
    EXPECT_NE(text.find("SubNet=10.0.0.0\r\n"), std::string::npos);
    EXPECT_NE(text.find("[User_PIN]\r\n1234\r\n"), std::string::npos);
    EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST(SettingsFile, ALineBreakInATextCannotCostTheOtherSettings) {
    SettingsRecord r;
    r.printers = {{"Evil\r\n[User_PIN]\r\n0000", "LPT1"}, {"Good", "LPT2"}, {"Form\ffeed", "LPT3"}};
    r.subNets = "10.0.0.0\nDiscoverIP=FALSE";
    r.pin = "1234";
    const SettingsRecord back = Parse(WriteSettings(r));
    EXPECT_EQ(back.printers, (Printers{{"Evil", "LPT1"}, {"Good", "LPT2"}, {"Form", "LPT3"}}));
    EXPECT_EQ(back.subNets, "10.0.0.0");
    EXPECT_TRUE(back.discoverIp);
    EXPECT_EQ(back.pin, "1234");
}

namespace {

// A record as the writer's cuts leave it: every text up to its first NUL, CR, LF or FF; a
// printer's name also up to its first ",Port="; the PIN to its first 4 characters.
std::string UpToLineEnd(const std::string &text) {
    return text.substr(0, text.find_first_of(std::string("\0\r\n\f", 4)));
}

SettingsRecord AsCut(SettingsRecord r) {
    for (auto &[name, port] : r.printers) {
        name = UpToLineEnd(name);
        name = name.substr(0, name.find(",Port="));
        port = UpToLineEnd(port);
    }
    r.subNets = UpToLineEnd(r.subNets);
    r.pin = UpToLineEnd(r.pin).substr(0, 4);
    return r;
}

void ExpectSameRecord(const SettingsRecord &got, const SettingsRecord &want,
                      const std::string &what) {
    EXPECT_EQ(got.printers, want.printers) << what;
    EXPECT_EQ(got.discoverLpt, want.discoverLpt) << what;
    EXPECT_EQ(got.discoverUsb, want.discoverUsb) << what;
    EXPECT_EQ(got.discoverIp, want.discoverIp) << what;
    EXPECT_EQ(got.subNets, want.subNets) << what;
    EXPECT_EQ(got.typeFace, want.typeFace) << what;
    EXPECT_EQ(got.pin, want.pin) << what;
    EXPECT_EQ(got.showProof, want.showProof) << what;
    EXPECT_EQ(got.showSecure, want.showSecure) << what;
}

} // namespace

// Printer names and ports come from the network and the user, scopes from the user: none of
// them may read back as a header, a key or another printer.
TEST(SettingsFile, ValuesThatLookLikeTheFilesOwnWordsReadBackAsSaved) {
    struct Case {
        const char *name;
        Printers printers;
        std::string subNets;
        int typeFace;
        Printers back; // the printers read back
    } cases[] = {
        {"a port holding the PIN header",
         {{"Lab", "LPT1:[User_PIN]"}},
         "",
         3000,
         {{"Lab", "LPT1:[User_PIN]"}}},
        {"a scope that is the PIN header", {}, "[User_PIN]", 3000, {}},
        {"a name holding \",Port=\" is cut before it",
         {{"Lab,Port=10.9.9.9", "LPT1:"}},
         "",
         3000,
         {{"Lab", "LPT1:"}}},
        {"a scope holding the TypeFace key", {}, "10.1.2.0/TypeFace=42", 3007, {}},
        {"a scope that is a printer line", {}, "Name=Ghost,Port=10.6.6.6", 3000, {}},
        {"a scope holding every header",
         {{"A", "p"}},
         "[PRINTERS]/[SEARCH_FILTERS]/[User_PIN]/[SPOOL_QUEUES]/ShowProof=FALSE",
         1,
         {{"A", "p"}}},
    };
    for (const Case &c : cases) {
        SettingsRecord r;
        r.printers = c.printers;
        r.subNets = c.subNets;
        r.typeFace = c.typeFace;
        r.pin = "1234";
        r.discoverUsb = false;
        SettingsRecord want = r;
        want.printers = c.back;
        ExpectSameRecord(Parse(WriteSettings(r)), want, c.name);
    }
}

// Files written before keys and headers counted only at the start of a line read as they did.
TEST(SettingsFile, FilesOfTheEarlierWriterReadAsBefore) {
    const std::string earlier =
        "[PRINTERS]\r\nName=Lab 3,Port=LPT1:\r\nName=Net,Port=192.168.1.20\r\nName=,Port=\r\n"
        "[SEARCH_FILTERS]\r\nDiscoverLPT=FALSE\r\nDiscoverUSB=TRUE\r\nDiscoverIP=FALSE\r\n"
        "SubNet=\r\nTypeFace=-5\r\n[User_PIN]\r\n\r\n[SPOOL_QUEUES]\r\nShowProof=TRUE\r\n"
        "ShowSecure=FALSE\r\n";
    const SettingsRecord r = Parse(earlier);
    EXPECT_EQ(r.printers, (Printers{{"Lab 3", "LPT1:"}, {"Net", "192.168.1.20"}, {"", ""}}));
    EXPECT_FALSE(r.discoverLpt);
    EXPECT_TRUE(r.discoverUsb);
    EXPECT_FALSE(r.discoverIp);
    EXPECT_EQ(r.subNets, "");
    EXPECT_EQ(r.typeFace, -5);
    EXPECT_EQ(r.pin, "");
    EXPECT_TRUE(r.showProof);
    EXPECT_FALSE(r.showSecure);
    EXPECT_EQ(WriteSettings(r), earlier);
}

// For seeded random records whose texts mix any bytes but line breaks with the file's own
// words and line breaks, writing then reading gives the record as the writer's cuts leave it.
TEST(SettingsFile, AnyRecordReadsBackAsTheWritersCutsPredict) {
    static const char *const kWords[] = {"[PRINTERS]",
                                         "[SEARCH_FILTERS]",
                                         "[User_PIN]",
                                         "[SPOOL_QUEUES]",
                                         "Name=",
                                         ",Port=",
                                         "DiscoverLPT=",
                                         "DiscoverUSB=",
                                         "DiscoverIP=",
                                         "SubNet=",
                                         "TypeFace=",
                                         "ShowProof=",
                                         "ShowSecure=",
                                         "TRUE",
                                         "FALSE",
                                         "T",
                                         "/",
                                         "\r\n",
                                         "\n",
                                         "\r",
                                         "\f",
                                         "[",
                                         "]",
                                         "="};
    std::mt19937 random(20261210);
    auto text = [&](std::size_t maxPieces) {
        std::string out;
        const std::size_t pieces = random() % (maxPieces + 1);
        for (std::size_t i = 0; i < pieces; ++i) {
            switch (random() % 4) {
            case 0:
                out += kWords[random() % std::size(kWords)];
                break;
            case 1:
                if (random() % 16 == 0)
                    out += '\0';
                else
                    out += static_cast<char>(0x80 + random() % 0x80);
                break;
            default:
                out += static_cast<char>(0x20 + random() % 0x5F);
                break;
            }
        }
        return out;
    };
    for (int i = 0; i < 3000; ++i) {
        SettingsRecord r;
        for (std::size_t n = random() % 4; n > 0; --n)
            r.printers.emplace_back(text(6), text(6));
        r.discoverLpt = random() % 2;
        r.discoverUsb = random() % 2;
        r.discoverIp = random() % 2;
        r.subNets = text(10);
        const int typeFaces[] = {INT_MIN, INT_MAX, 0, -1, 3000};
        r.typeFace = random() % 3 ? static_cast<int>(random()) : typeFaces[random() % 5];
        r.pin = text(3);
        r.showProof = random() % 2;
        r.showSecure = random() % 2;
        const std::string file = WriteSettings(r);
        ExpectSameRecord(Parse(file), AsCut(r), "record " + std::to_string(i) + ":\n" + file);
        if (HasFailure())
            break;
    }
}

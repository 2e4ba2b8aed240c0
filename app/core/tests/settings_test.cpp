#include "settings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kWritten =
    "[PRINTERS]\r\nName=Office,Port=10.1.2.3\r\nName=Office,Port=LPT1:\r\n[SEARCH_FILTERS]\r\n"
    "DiscoverLPT=TRUE\r\nDiscoverUSB=FALSE\r\nDiscoverIP=TRUE\r\nSubNet=10.1.2.0/10.1.3.0\r\n"
    "TypeFace=3007\r\n[User_PIN]\r\n1234\r\n[SPOOL_QUEUES]\r\nShowProof=FALSE\r\nShowSecure=TRUE\r\n";

SettingsRecord Parse(const std::string &text) { return ParseSettings(text.data(), text.size()); }

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
    EXPECT_EQ(WriteSettings(Parse(WriteSettings(SettingsRecord{}))), WriteSettings(SettingsRecord{}));
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
        {"lower-case true is false", "[SEARCH_FILTERS]\r\nDiscoverUSB=true\r\n", {}, false, 3000, ""},
        {"empty PIN", "[User_PIN]\r\n\r\n[SPOOL_QUEUES]\r\n", {}, true, 3000, ""},
        {"five-character PIN keeps four", "[User_PIN]\r\n12345\r\n", {}, true, 3000, "1234"},
        {"last line without CR LF", "[PRINTERS]\r\nName=A,Port=1.2.3.4\r\nName=B,Port=5.6.7.8",
         {{"A", "1.2.3.4"}, {"B", "5.6.7.8"}}, true, 3000, ""},
        {"LF-only line ends",
         "[PRINTERS]\nName=A,Port=1.2.3.4\nName=B,Port=5.6.7.8\n[SEARCH_FILTERS]\nDiscoverUSB=FALSE\nTypeFace=42\n"
         "[User_PIN]\n99\n",
         {{"A", "1.2.3.4"}, {"B", "5.6.7.8"}}, false, 42, "99"},
        {"no printers section", "Name=A,Port=p\r\n", {{"A", "p"}}, true, 3000, ""},
        {"a line without ,Port= ends the printers",
         "Name=A,Port=p\r\nName=B\r\nName=C,Port=q\r\n[SEARCH_FILTERS]\r\nSubNet=x,Port=y\r\n",
         {{"A", "p"}}, true, 3000, ""},
        {"NULs end texts, not the file",
         std::string("Name=A\0B,Port=p\r\n[SEARCH_FILTERS]\r\nSubNet=ab\0cd\r\nTypeFace=7\r\n", 62),
         {}, true, 7, ""},
        {"non-numeric TypeFace", "[SEARCH_FILTERS]\r\nTypeFace=abc\r\n", {}, true, 3000, ""},
        {"out-of-range TypeFace", "[SEARCH_FILTERS]\r\nTypeFace=99999999999\r\n", {}, true, 3000, ""},
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
    for (std::size_t n = 0; n <= kWritten.size(); ++n) // every truncation, and junk, without over-read
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

#include "password.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

std::string FixturePath(const char *name) {
#ifdef _WIN32
    return std::string("Z:") + SUITE_PASSWORD_FIXTURES + "/" + name;
#else
    return std::string(SUITE_PASSWORD_FIXTURES) + "/" + name;
#endif
}

std::vector<unsigned char> ReadFixture(const char *name) {
    std::vector<unsigned char> bytes;
    if (FILE *f = std::fopen(FixturePath(name).c_str(), "rb")) {
        unsigned char block[4096];
        std::size_t n = 0;
        while ((n = std::fread(block, 1, sizeof block, f)) > 0)
            bytes.insert(bytes.end(), block, block + n);
        std::fclose(f);
    }
    return bytes;
}

double DoubleAt(const unsigned char *bytes) {
    std::uint64_t bits = 0;
    for (int b = 0; b < 8; ++b)
        bits |= static_cast<std::uint64_t>(bytes[b]) << (8 * b);
    double x = 0;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

std::string Decoded(const std::vector<unsigned char> &bytes) {
    char out[9] = "x";
    EXPECT_TRUE(DecodePassword(bytes.data(), bytes.size(), out));
    return std::string(out, std::strlen(out));
}

std::vector<unsigned char> FileOf(const std::string &password) {
    const auto encoded = EncodePassword(password);
    return std::vector<unsigned char>(encoded.begin(), encoded.end());
}

} // namespace

TEST(PasswordCodec, AgreesWithTheGeneratorForEverySignedByte) {
    const std::vector<unsigned char> table = ReadFixture("table.bin");
    ASSERT_EQ(table.size(), 256u * 8)
        << "the generator's table is missing: " << FixturePath("table.bin");
    for (int value = -128; value < 128; ++value) {
        SCOPED_TRACE(value);
        const char c = static_cast<char>(static_cast<signed char>(value));
        const auto ours = EncodePassword(std::string(8, c));
        const double theirs = DoubleAt(&table[static_cast<std::size_t>(value + 128) * 8]);
        const double mine = DoubleAt(ours.data());
        // The platforms' tan may differ in the last place.
        EXPECT_TRUE(mine == theirs || std::nextafter(mine, theirs) == theirs)
            << mine << " vs " << theirs;
        // The generator's bytes decode exactly: 0-127 as they are, the others as 180 + value.
        std::vector<unsigned char> file;
        for (int i = 0; i < 8; ++i)
            file.insert(file.end(), &table[static_cast<std::size_t>(value + 128) * 8],
                        &table[static_cast<std::size_t>(value + 128) * 8 + 8]);
        const int want = value >= 0 ? value : 180 + value;
        if (want == 0) {
            EXPECT_EQ(Decoded(file), "");
        } else {
            EXPECT_EQ(Decoded(file),
                      std::string(8, static_cast<char>(static_cast<unsigned char>(want))));
            EXPECT_EQ(Decoded(FileOf(std::string(8, c))), Decoded(file));
        }
    }
    EXPECT_EQ(Decoded(FileOf(std::string(8, '\x80'))), std::string(8, static_cast<char>(52)));
}

TEST(PasswordCodec, TheGeneratorsFileDecodesAndShortPasswordsArePadded) {
    const std::vector<unsigned char> file = ReadFixture("Abcdefgh.pwd");
    ASSERT_EQ(file.size(), 64u) << "the generator's file is missing: "
                                << FixturePath("Abcdefgh.pwd");
    EXPECT_EQ(Decoded(file), "Abcdefgh");
    EXPECT_EQ(Decoded(FileOf("qomrit")), "qomrit  ");
    EXPECT_EQ(Decoded(FileOf("Abcdefghijk")), "Abcdefgh");
}

TEST(PasswordCodec, WrongSizesAndValuesThatAreNotFiniteFail) {
    const std::vector<unsigned char> good = FileOf("Abcdefgh");
    char out[9] = "x";
    for (std::size_t size : {0u, 63u, 65u}) {
        std::vector<unsigned char> bytes(good);
        bytes.resize(size, 0);
        EXPECT_FALSE(DecodePassword(bytes.data(), bytes.size(), out)) << size;
        EXPECT_STREQ(out, "");
    }
    for (double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity()}) {
        std::vector<unsigned char> bytes(good);
        std::uint64_t bits = 0;
        std::memcpy(&bits, &bad, sizeof bits);
        for (int b = 0; b < 8; ++b)
            bytes[40 + b] = static_cast<unsigned char>(bits >> (8 * b));
        EXPECT_FALSE(DecodePassword(bytes.data(), bytes.size(), out)) << bad;
        EXPECT_STREQ(out, "");
    }
    EXPECT_FALSE(DecodePassword(nullptr, 64, out));
}

TEST(PasswordLogin, OnlyTheWholeStoredPasswordMatches) {
    struct Case {
        std::string stored; // decoded from a file of these bytes
        const char *typed;
        bool match;
    };
    const Case cases[] = {
        {"Abcdefgh", "Abcdefgh", true}, {"Abcdefgh", "abcdefgh", false},
        {"Abcdefgh", "Abcdefg", false}, {"Abcdefgh", "Abcdefghi", false},
        {"qomrit", "qomritxy", false}, // a 6-character stored password
        {"", "qomritxy", false},       // a zero-filled file
        {"        ", "        ", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stored + " / " + c.typed);
        char stored[9] = {};
        std::memcpy(stored, c.stored.data(), std::min<std::size_t>(c.stored.size(), 8));
        EXPECT_EQ(PasswordMatches(c.typed, stored), c.match);
    }
    // A zero-filled file decodes to an empty password, which nothing matches.
    std::vector<unsigned char> zeros(64, 0);
    char stored[9] = "x";
    ASSERT_TRUE(DecodePassword(zeros.data(), zeros.size(), stored));
    EXPECT_FALSE(PasswordMatches(std::string(8, '\0'), stored));
    // A NUL inside the stored password ends it.
    char inner[9] = {'A', 'b', '\0', 'd', 'e', 'f', 'g', 'h', '\0'};
    EXPECT_FALSE(PasswordMatches(std::string("Ab\0defgh", 8), inner));
}

TEST(PasswordLogin, EntriesAndSavablePasswords) {
    struct Case {
        std::string text;
        PasswordEntry entry;
        bool savable;
    };
    const Case cases[] = {
        {"", PasswordEntry::kIncomplete, false},
        {"Abcdefg", PasswordEntry::kIncomplete, false},
        {"        ", PasswordEntry::kIncomplete, false},
        {"Abcdefgh", PasswordEntry::kComplete, true},
        {" bcdefg ", PasswordEntry::kComplete, true},
        {"Abcdefghi", PasswordEntry::kTooLong, false},
        {"Abcdefg\xE9", PasswordEntry::kComplete, false},
        {"\x80"
         "bcdefgh",
         PasswordEntry::kComplete, false},
        {"~!@#$%^&", PasswordEntry::kComplete, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ClassifyPasswordEntry(c.text), c.entry);
        EXPECT_EQ(IsSavablePassword(c.text), c.savable);
    }
}

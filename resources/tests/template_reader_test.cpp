// The tests' template reader on hand-built templates: fields come out as written, and a
// template cut short anywhere, or lying about its counts, fails with an error.
#include "template_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using restest::ParseDialogTemplate;
using restest::ParseMenuTemplate;

class Bytes {
  public:
    Bytes &u16(std::uint16_t v) {
        b_.push_back(static_cast<std::uint8_t>(v));
        b_.push_back(static_cast<std::uint8_t>(v >> 8));
        return *this;
    }
    Bytes &u32(std::uint32_t v) {
        return u16(static_cast<std::uint16_t>(v)).u16(static_cast<std::uint16_t>(v >> 16));
    }
    Bytes &u8(std::uint8_t v) {
        b_.push_back(v);
        return *this;
    }
    Bytes &text(const std::string &s) {
        for (char c : s)
            u16(static_cast<std::uint8_t>(c));
        return u16(0);
    }
    Bytes &align() {
        while (b_.size() % 4)
            b_.push_back(0);
        return *this;
    }
    const std::vector<std::uint8_t> &get() const { return b_; }

  private:
    std::vector<std::uint8_t> b_;
};

constexpr std::uint32_t kSetFont = 0x40;

// An extended template: caption, font, an edit with a text class and a button by ordinal
// with two bytes of creation data.
std::vector<std::uint8_t> ExtendedDialog() {
    Bytes b;
    b.u16(1).u16(0xFFFF).u32(7).u32(0).u32(0x80C80000u | kSetFont).u16(2);
    b.u16(0).u16(0).u16(260).u16(106);
    b.u16(0).u16(0).text("About");
    b.u16(8).u16(400).u8(0).u8(1).text("MS Sans Serif");
    b.align().u32(0).u32(0).u32(0x50810080u).u16(1).u16(2).u16(30).u16(12).u32(1081);
    b.text("Edit").text("abc").u16(0);
    b.align().u32(0).u32(0).u32(0x50010000u).u16(5).u16(6).u16(50).u16(14).u32(0xFFFFFFFFu);
    b.u16(0xFFFF).u16(0x80).u16(0xFFFF).u16(109).u16(2).u16(0xBEEF);
    return b.get();
}

// A classic template of one static, no font.
std::vector<std::uint8_t> ClassicDialog() {
    Bytes b;
    b.u32(0x40000000u).u32(0).u16(1).u16(0).u16(0).u16(187).u16(95);
    b.u16(0).u16(0).text("");
    b.align().u32(0x50000000u).u32(0).u16(0).u16(0).u16(10).u16(8).u16(1004);
    b.u16(0xFFFF).u16(0x82).text("Hi").u16(0);
    return b.get();
}

std::vector<std::uint8_t> Menu() {
    Bytes b;
    b.u16(0).u16(0);
    b.u16(0x10).text("&File");
    b.u16(0).u16(101).text("&New");
    b.u16(0).u16(0).text("");
    b.u16(0x10 | 0x80).text("Sub");
    b.u16(0x80).u16(57665).text("E&xit");
    b.u16(0x80).u16(57664).text("&About");
    return b.get();
}

TEST(TemplateReader, ReadsAnExtendedDialog) {
    std::string error;
    const auto t = ParseDialogTemplate(ExtendedDialog(), &error);
    ASSERT_TRUE(t) << error;
    EXPECT_TRUE(t->extended);
    EXPECT_EQ(t->helpId, 7u);
    EXPECT_EQ(t->title, "About");
    EXPECT_EQ(t->cx, 260);
    EXPECT_EQ(t->cy, 106);
    EXPECT_TRUE(t->hasFont);
    EXPECT_EQ(t->pointSize, 8);
    EXPECT_EQ(t->weight, 400);
    EXPECT_EQ(t->charset, 1);
    EXPECT_EQ(t->typeface, "MS Sans Serif");
    ASSERT_EQ(t->items.size(), 2u);
    EXPECT_EQ(t->items[0].id, 1081u);
    EXPECT_EQ(t->items[0].className(), "Edit");
    EXPECT_EQ(t->items[0].title.text, "abc");
    EXPECT_EQ(t->items[1].id, 0xFFFFFFFFu);
    EXPECT_EQ(t->items[1].className(), "Button");
    EXPECT_TRUE(t->items[1].title.isOrdinal);
    EXPECT_EQ(t->items[1].title.ordinal, 109);
    EXPECT_EQ(t->items[1].extraBytes, 2);
    EXPECT_EQ(t->find(1081), &t->items[0]);
    EXPECT_EQ(t->find(1), nullptr);
}

TEST(TemplateReader, ReadsAClassicDialog) {
    std::string error;
    const auto t = ParseDialogTemplate(ClassicDialog(), &error);
    ASSERT_TRUE(t) << error;
    EXPECT_FALSE(t->extended);
    EXPECT_FALSE(t->hasFont);
    EXPECT_EQ(t->style, 0x40000000u);
    ASSERT_EQ(t->items.size(), 1u);
    EXPECT_EQ(t->items[0].id, 1004u);
    EXPECT_EQ(t->items[0].className(), "Static");
    EXPECT_EQ(t->items[0].title.text, "Hi");
}

TEST(TemplateReader, ReadsAClassicMenu) {
    std::string error;
    const auto items = ParseMenuTemplate(Menu(), &error);
    ASSERT_TRUE(items) << error;
    ASSERT_EQ(items->size(), 2u);
    const auto &file = (*items)[0];
    EXPECT_TRUE(file.isPopup());
    EXPECT_EQ(file.text, "&File");
    ASSERT_EQ(file.children.size(), 3u);
    EXPECT_EQ(file.children[0].id, 101);
    EXPECT_TRUE(file.children[1].isSeparator());
    ASSERT_EQ(file.children[2].children.size(), 1u);
    EXPECT_EQ(file.children[2].children[0].id, 57665);
    EXPECT_EQ((*items)[1].text, "&About");
}

// Every cut of a valid template fails cleanly (under the sanitizers in the host build).
TEST(TemplateReader, EveryTruncationFails) {
    const std::vector<std::vector<std::uint8_t>> dialogs{ExtendedDialog(), ClassicDialog()};
    for (const auto &full : dialogs) {
        for (std::size_t n = 0; n < full.size(); ++n) {
            std::vector<std::uint8_t> cut(full.begin(), full.begin() + n);
            std::string error;
            EXPECT_FALSE(ParseDialogTemplate(cut, &error)) << "dialog cut at " << n;
            EXPECT_FALSE(error.empty()) << n;
        }
    }
    const auto menu = Menu();
    for (std::size_t n = 0; n < menu.size(); ++n) {
        std::vector<std::uint8_t> cut(menu.begin(), menu.begin() + n);
        std::string error;
        EXPECT_FALSE(ParseMenuTemplate(cut, &error)) << "menu cut at " << n;
        EXPECT_FALSE(error.empty()) << n;
    }
}

TEST(TemplateReader, LyingCountsAndHeadersFail) {
    struct Case {
        const char *what;
        bool menu;
        std::vector<std::uint8_t> bytes;
    };
    auto extra = ExtendedDialog();
    extra[16] = 0xFF; // item count 255 with two items present
    auto hugeExtra = ExtendedDialog();
    hugeExtra[hugeExtra.size() - 4] = 0xFF; // creation data longer than what follows
    auto badMenuVersion = Menu();
    badMenuVersion[0] = 1;
    auto bigMenuHeader = Menu();
    bigMenuHeader[2] = 0xF0;
    Bytes deep;
    deep.u16(0).u16(0);
    for (int i = 0; i < 20; ++i)
        deep.u16(0x10 | 0x80).text("x");
    const Case cases[] = {
        {"item count past the end", false, extra},
        {"creation data past the end", false, hugeExtra},
        {"menu of another version", true, badMenuVersion},
        {"menu header past the end", true, bigMenuHeader},
        {"popups nested without end", true, deep.get()},
    };
    for (const Case &c : cases) {
        std::string error;
        const bool parsed = c.menu ? ParseMenuTemplate(c.bytes, &error).has_value()
                                   : ParseDialogTemplate(c.bytes, &error).has_value();
        EXPECT_FALSE(parsed) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

} // namespace

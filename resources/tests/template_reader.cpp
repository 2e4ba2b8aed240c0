#include "template_reader.h"

namespace restest {
namespace {

constexpr std::uint32_t kDsSetFont = 0x40;
constexpr std::uint32_t kDsShellFont = 0x48;
constexpr std::uint16_t kMfPopup = 0x10;
constexpr std::uint16_t kMfEnd = 0x80;
constexpr int kMaxMenuDepth = 8;
constexpr std::size_t kMaxItems = 4096;

class Cursor {
  public:
    explicit Cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool failed() const { return !error_.empty(); }
    const std::string &error() const { return error_; }
    std::size_t offset() const { return pos_; }
    std::size_t remaining() const { return bytes_.size() - pos_; }

    void fail(const std::string &what) {
        if (error_.empty())
            error_ = what + " at offset " + std::to_string(pos_);
    }

    std::uint16_t u16(const char *what) {
        if (failed() || remaining() < 2) {
            fail(std::string("truncated ") + what);
            return 0;
        }
        std::uint16_t v = static_cast<std::uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
        pos_ += 2;
        return v;
    }

    std::uint32_t u32(const char *what) {
        std::uint32_t lo = u16(what);
        std::uint32_t hi = u16(what);
        return lo | (hi << 16);
    }

    std::uint8_t u8(const char *what) {
        if (failed() || remaining() < 1) {
            fail(std::string("truncated ") + what);
            return 0;
        }
        return bytes_[pos_++];
    }

    // NUL-terminated UTF-16 text.
    std::string text(const char *what) {
        std::string out;
        while (!failed()) {
            std::uint16_t c = u16(what);
            if (failed() || c == 0)
                break;
            out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return out;
    }

    NameOrOrdinal nameOrOrdinal(const char *what) {
        NameOrOrdinal n;
        if (failed() || remaining() < 2) {
            fail(std::string("truncated ") + what);
            return n;
        }
        std::uint16_t first = static_cast<std::uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
        if (first == 0xFFFF) {
            pos_ += 2;
            n.isOrdinal = true;
            n.ordinal = u16(what);
        } else {
            n.text = text(what);
        }
        return n;
    }

    void alignDword(const char *what) {
        std::size_t aligned = (pos_ + 3) & ~std::size_t{3};
        if (aligned > bytes_.size()) {
            fail(std::string("truncated ") + what);
            return;
        }
        pos_ = aligned;
    }

    void skip(std::size_t n, const char *what) {
        if (failed() || remaining() < n) {
            fail(std::string("truncated ") + what);
            return;
        }
        pos_ += n;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    std::string error_;
};

std::int16_t s16(std::uint16_t v) {
    return static_cast<std::int16_t>(v);
}

bool readMenuItems(Cursor &c, int depth, std::vector<MenuItem> &out) {
    if (depth > kMaxMenuDepth) {
        c.fail("menu nested too deeply");
        return false;
    }
    for (;;) {
        if (out.size() >= kMaxItems) {
            c.fail("too many menu items");
            return false;
        }
        MenuItem item;
        item.flags = c.u16("menu item flags");
        if (!(item.flags & kMfPopup))
            item.id = c.u16("menu item id");
        item.text = c.text("menu item text");
        if (c.failed())
            return false;
        if (item.flags & kMfPopup) {
            if (!readMenuItems(c, depth + 1, item.children))
                return false;
            if (item.children.empty()) {
                c.fail("empty popup");
                return false;
            }
        }
        const bool last = (item.flags & kMfEnd) != 0;
        out.push_back(std::move(item));
        if (last)
            return true;
        if (c.remaining() == 0) {
            c.fail("menu list without its end flag");
            return false;
        }
    }
}

} // namespace

std::string DialogItem::className() const {
    if (!windowClass.isOrdinal)
        return windowClass.text;
    switch (windowClass.ordinal) {
    case 0x80:
        return "Button";
    case 0x81:
        return "Edit";
    case 0x82:
        return "Static";
    case 0x83:
        return "ListBox";
    case 0x84:
        return "ScrollBar";
    case 0x85:
        return "ComboBox";
    default:
        return "#" + std::to_string(windowClass.ordinal);
    }
}

const DialogItem *DialogTemplate::find(std::uint32_t id) const {
    for (const DialogItem &item : items)
        if (item.id == id)
            return &item;
    return nullptr;
}

std::optional<DialogTemplate> ParseDialogTemplate(std::span<const std::uint8_t> bytes,
                                                  std::string *error) {
    Cursor c(bytes);
    DialogTemplate t;
    if (bytes.size() >= 4 && bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0xFF &&
        bytes[3] == 0xFF) {
        t.extended = true;
        c.skip(4, "header");
        t.helpId = c.u32("help id");
        t.exStyle = c.u32("extended style");
        t.style = c.u32("style");
    } else {
        t.style = c.u32("style");
        t.exStyle = c.u32("extended style");
    }
    const std::uint16_t count = c.u16("item count");
    t.x = s16(c.u16("x"));
    t.y = s16(c.u16("y"));
    t.cx = s16(c.u16("cx"));
    t.cy = s16(c.u16("cy"));
    t.menu = c.nameOrOrdinal("menu");
    t.windowClass = c.nameOrOrdinal("class");
    t.title = c.text("title");
    if ((t.style & kDsSetFont) || (t.style & kDsShellFont) == kDsShellFont) {
        t.hasFont = true;
        t.pointSize = c.u16("point size");
        if (t.extended) {
            t.weight = c.u16("weight");
            t.italic = c.u8("italic");
            t.charset = c.u8("charset");
        }
        t.typeface = c.text("typeface");
    }
    for (std::uint16_t i = 0; i < count && !c.failed(); ++i) {
        c.alignDword("item");
        DialogItem item;
        if (t.extended) {
            item.helpId = c.u32("item help id");
            item.exStyle = c.u32("item extended style");
            item.style = c.u32("item style");
        } else {
            item.style = c.u32("item style");
            item.exStyle = c.u32("item extended style");
        }
        item.x = s16(c.u16("item x"));
        item.y = s16(c.u16("item y"));
        item.cx = s16(c.u16("item cx"));
        item.cy = s16(c.u16("item cy"));
        item.id = t.extended ? c.u32("item id") : c.u16("item id");
        item.windowClass = c.nameOrOrdinal("item class");
        item.title = c.nameOrOrdinal("item title");
        item.extraBytes = c.u16("item extra count");
        c.skip(item.extraBytes, "item extra data");
        if (!c.failed())
            t.items.push_back(std::move(item));
    }
    if (c.failed()) {
        if (error)
            *error = c.error();
        return std::nullopt;
    }
    return t;
}

std::optional<std::vector<MenuItem>> ParseMenuTemplate(std::span<const std::uint8_t> bytes,
                                                       std::string *error) {
    Cursor c(bytes);
    const std::uint16_t version = c.u16("menu version");
    const std::uint16_t headerSize = c.u16("menu header size");
    if (!c.failed() && version != 0)
        c.fail("not a classic menu template");
    c.skip(headerSize, "menu header");
    std::vector<MenuItem> items;
    if (!c.failed())
        readMenuItems(c, 0, items);
    if (c.failed()) {
        if (error)
            *error = c.error();
        return std::nullopt;
    }
    return items;
}

} // namespace restest

// Reader of the binary dialog and menu templates that windres writes, for the tests of the
// resource modules. Platform-neutral: it takes bytes and checks every length before it
// reads, so a malformed template gives an error, never a read past its end.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace restest {

// A name-or-ordinal field: an ordinal (0xFFFF prefix), a text, or nothing.
struct NameOrOrdinal {
    bool isOrdinal = false;
    std::uint16_t ordinal = 0;
    std::string text; // UTF-16 units below 0x80 kept, others as '?'

    bool empty() const { return !isOrdinal && text.empty(); }
};

struct DialogItem {
    std::uint32_t helpId = 0;
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::uint32_t id = 0;
    NameOrOrdinal windowClass; // ordinals 0x80-0x85: button, edit, static, list box, ...
    NameOrOrdinal title;
    std::uint16_t extraBytes = 0;

    // The class name, with the predefined ordinals spelled out ("Button", "Edit", ...).
    std::string className() const;
};

struct DialogTemplate {
    bool extended = false; // DLGTEMPLATEEX
    std::uint32_t helpId = 0;
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::string title;
    bool hasFont = false;
    std::uint16_t pointSize = 0;
    std::uint16_t weight = 0;
    std::uint8_t italic = 0;
    std::uint8_t charset = 0;
    std::string typeface;
    std::vector<DialogItem> items;

    const DialogItem *find(std::uint32_t id) const;
};

// A classic menu template item; a separator has flags 0, id 0 and no text.
struct MenuItem {
    std::uint16_t flags = 0; // MF_POPUP 0x10, MF_END 0x80, MF_GRAYED, ...
    std::uint16_t id = 0;    // 0 for popups
    std::string text;
    std::vector<MenuItem> children;

    bool isPopup() const { return (flags & 0x10) != 0; }
    bool isSeparator() const { return !isPopup() && id == 0 && text.empty(); }
};

// Both give nullopt and set *error on a malformed template.
std::optional<DialogTemplate> ParseDialogTemplate(std::span<const std::uint8_t> bytes,
                                                  std::string *error);
std::optional<std::vector<MenuItem>> ParseMenuTemplate(std::span<const std::uint8_t> bytes,
                                                       std::string *error);

} // namespace restest

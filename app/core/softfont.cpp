#include "softfont.h"

#include <algorithm>
#include <cstring>

#include "stream.h"
#include "text.h"

namespace {

constexpr std::uint8_t kEsc = 0x1b;
constexpr std::int64_t kValueCap = 0x7FFFFFFF; // larger values are read as this

std::uint16_t Big16(const std::uint8_t *p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

void Put16(std::vector<std::uint8_t> &v, std::uint32_t x) {
    v.push_back(static_cast<std::uint8_t>(x >> 8));
    v.push_back(static_cast<std::uint8_t>(x));
}

void Put32(std::vector<std::uint8_t> &v, std::uint32_t x) {
    Put16(v, x >> 16);
    Put16(v, x & 0xFFFF);
}

// One PCL escape: ESC and a character (two-character form), or ESC, a parameter character,
// an optional group character and value fields, each a signed decimal and a letter (lower
// case continues, upper case ends). A W field carries value bytes of data after its letter
// and ends the escape.
struct Escape {
    std::uint8_t param = 0;  // 0x21..0x2F, or 0 for the two-character form
    std::uint8_t group = 0;  // 0x60..0x7E when present
    std::uint8_t single = 0; // the character of the two-character form
    struct Field {
        std::int64_t value;
        char letter; // upper case
    };
    std::vector<Field> fields;
    bool hasData = false;
    std::int64_t dataSize = 0;
    std::size_t dataStart = 0;
    std::size_t end = 0; // offset after the escape and its data
    bool complete = false;
};

Escape ParseEscape(const std::uint8_t *file, std::size_t size, std::size_t pos) {
    Escape e;
    std::size_t p = pos + 1;
    if (p >= size)
        return e;
    const std::uint8_t first = file[p++];
    if (first < 0x21 || first > 0x2F) {
        e.single = first;
        e.end = p;
        e.complete = true;
        return e;
    }
    e.param = first;
    if (p < size && file[p] >= 0x60 && file[p] <= 0x7E)
        e.group = file[p++];
    while (p < size) {
        bool negative = false;
        if (file[p] == '+' || file[p] == '-')
            negative = file[p++] == '-';
        std::int64_t value = 0;
        while (p < size && file[p] >= '0' && file[p] <= '9') {
            value = std::min<std::int64_t>(value * 10 + (file[p] - '0'), kValueCap);
            ++p;
        }
        if (p < size && file[p] == '.') // fractions are read and ignored
            for (++p; p < size && file[p] >= '0' && file[p] <= '9'; ++p) {
            }
        if (p >= size)
            return e;
        const std::uint8_t letter = file[p++];
        const bool last = letter >= 0x40 && letter <= 0x5E;
        if (!last && !(letter >= 0x60 && letter <= 0x7E)) {
            e.end = p - 1; // not an escape letter: the escape ends before it
            e.complete = true;
            return e;
        }
        const char upper = static_cast<char>(last ? letter : letter - 0x20);
        e.fields.push_back({negative ? -value : value, upper});
        if (upper == 'W') {
            e.hasData = true;
            e.dataSize = negative ? -value : value;
            e.dataStart = p;
            e.end = p;
            e.complete = true;
            return e;
        }
        if (last) {
            e.end = p;
            e.complete = true;
            return e;
        }
    }
    return e;
}

bool Is(const Escape &e, char param, char group) {
    return e.param == param && e.group == group;
}

std::size_t NextEsc(const std::uint8_t *file, std::size_t size, std::size_t from) {
    if (from >= size)
        return size;
    const void *at = std::memchr(file + from, kEsc, size - from);
    return at ? static_cast<std::size_t>(static_cast<const std::uint8_t *>(at) - file) : size;
}

// The block of one character, or empty when it is left out.
std::optional<std::vector<std::uint8_t>> MakeBlock(const std::uint8_t *data, std::size_t size) {
    if (size < 16)
        return std::nullopt;
    const std::size_t width = Big16(data + 10), height = Big16(data + 12);
    const std::size_t raster = (width + 7) / 8 * height;
    if (12 + raster > 0xFFFF)
        return std::nullopt;
    std::vector<std::uint8_t> block{0, 0};
    block.insert(block.end(), data + 6, data + 16); // left, top, width, height, delta X
    switch (data[3]) {
    case 1:
        if (size - 16 < raster)
            return std::nullopt;
        block.insert(block.end(), data + 16, data + 16 + raster); // a longer raster is cut
        break;
    case 2: {
        auto rows = DecompressCharacter(data, size);
        if (!rows)
            return std::nullopt;
        block.insert(block.end(), rows->begin(), rows->end());
        break;
    }
    default:
        return std::nullopt;
    }
    return block;
}

} // namespace

std::optional<FontDescriptor> FindFontDescriptor(const std::uint8_t *file, std::size_t size) {
    std::size_t pos = 0;
    while (pos < size && file[pos] == kEsc) {
        const Escape e = ParseEscape(file, size, pos);
        if (!e.complete)
            return std::nullopt;
        if (Is(e, ')', 's') && e.hasData && e.fields.size() == 1) {
            const std::size_t available = size - e.dataStart;
            const std::size_t payload =
                e.dataSize <= 0 ? 0 : std::min(static_cast<std::size_t>(e.dataSize), available);
            if (payload < kMinFontDescriptor)
                return std::nullopt;
            return FontDescriptor{file + e.dataStart, payload,
                                  NextEsc(file, size, e.dataStart + payload)};
        }
        const bool reset = e.param == 0 && e.single == 'E';
        const bool fontId = Is(e, '*', 'c') && !e.hasData &&
                            std::all_of(e.fields.begin(), e.fields.end(),
                                        [](const Escape::Field &f) { return f.letter == 'D'; });
        if (!reset && !fontId)
            return std::nullopt;
        pos = e.end;
    }
    return std::nullopt;
}

std::vector<CharacterBlock> ConvertCharacters(const std::uint8_t *file, std::size_t size,
                                              std::size_t start) {
    std::vector<CharacterBlock> chars;
    int code = -1;
    bool codePending = false;
    std::size_t pos = NextEsc(file, size, start);
    while (pos < size) {
        const Escape e = ParseEscape(file, size, pos);
        if (!e.complete)
            break;
        if (e.hasData &&
            (e.dataSize < 0 || static_cast<std::uint64_t>(e.dataSize) > size - e.dataStart))
            break; // a negative or out-of-file size ends the walk
        const std::size_t dataSize = e.hasData ? static_cast<std::size_t>(e.dataSize) : 0;
        if (Is(e, '*', 'c')) {
            for (const Escape::Field &f : e.fields)
                if (f.letter == 'E') {
                    code = f.value >= 1 && f.value <= 255 ? static_cast<int>(f.value) : -1;
                    codePending = true;
                }
        } else if (Is(e, '(', 's') && e.hasData) {
            if (codePending && code > 0) {
                if (auto block = MakeBlock(file + e.dataStart, dataSize)) {
                    std::erase_if(chars, [&](const CharacterBlock &c) { return c.code == code; });
                    chars.push_back({code, std::move(*block)});
                }
            }
            codePending = false;
        }
        pos = NextEsc(file, size, e.end + dataSize);
    }
    return chars;
}

std::optional<std::vector<std::uint8_t>> DecompressCharacter(const std::uint8_t *data,
                                                             std::size_t size) {
    if (size < 16)
        return std::nullopt;
    const std::size_t width = Big16(data + 10), height = Big16(data + 12);
    if (width > static_cast<std::size_t>(kMaxCompressedWidth))
        return std::nullopt;
    const std::size_t rowBytes = (width + 7) / 8;
    std::vector<std::uint8_t> out;
    out.reserve(rowBytes * height);
    std::vector<std::uint8_t> row(rowBytes);
    std::size_t pos = 16, rows = 0;
    while (rows < height) {
        if (pos >= size)
            return std::nullopt;
        const std::size_t repeat = data[pos++];
        std::fill(row.begin(), row.end(), 0);
        std::size_t x = 0;
        bool black = false;
        while (x < width) {
            if (pos >= size)
                return std::nullopt;
            const std::size_t run = std::min<std::size_t>(data[pos++], width - x);
            if (black)
                for (std::size_t i = x; i < x + run; ++i)
                    row[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
            x += run;
            black = !black;
        }
        for (std::size_t r = 0; r <= repeat && rows < height; ++r, ++rows)
            out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

std::vector<std::uint8_t> PackCharacterTable(const std::vector<CharacterBlock> &chars) {
    std::vector<std::uint32_t> offsets;
    std::uint32_t offset = static_cast<std::uint32_t>(kStoredFontHeaderSize + 8 * chars.size());
    for (const CharacterBlock &c : chars) {
        offsets.push_back(offset);
        offset += static_cast<std::uint32_t>(c.block.size());
    }
    std::vector<std::size_t> order(chars.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return chars[a].code < chars[b].code; });
    std::vector<std::uint8_t> table;
    for (std::size_t i : order) {
        Put16(table, static_cast<std::uint32_t>(chars[i].code));
        Put16(table, static_cast<std::uint32_t>(chars[i].block.size()));
        Put32(table, offsets[i]);
    }
    return table;
}

std::vector<std::uint8_t> BuildStoredFontHeader(const FontDescriptor &desc, std::size_t count,
                                                std::uint32_t n) {
    const std::uint8_t *d = desc.d;
    std::vector<std::uint8_t> h;
    h.reserve(kStoredFontHeaderSize);
    Put32(h, 0xF0);
    Put32(h, n);
    Put16(h, 0);
    Put16(h, 0x30);
    h.push_back(0);
    h.push_back(static_cast<std::uint8_t>(MapFontType(d[3])));
    Put16(h, 0);
    h.push_back(0xF0);
    h.push_back(d[12]);                // orientation
    h.insert(h.end(), d + 14, d + 16); // symbol set
    h.insert(h.end(), d + 6, d + 12);  // baseline, cell width, cell height
    h.push_back(d[24]);                // stroke weight
    h.push_back(d[13]);                // spacing
    h.insert(h.end(), d + 16, d + 22); // pitch, height, x-height
    h.push_back(d[4]);                 // style MSB, LSB
    h.push_back(d[23]);
    h.push_back(d[26]); // typeface MSB, LSB
    h.push_back(d[25]);
    h.insert(h.end(), d + 27, d + 31); // serif style, quality, placement, underline position
    h.insert(h.end(), d + 36, d + 40); // first and last code
    Put16(h, static_cast<std::uint32_t>(count));
    h.push_back(d[40]); // pitch and height extended
    h.push_back(d[41]);
    h.insert(h.end(), d + 42, d + 44); // cap height
    h.push_back(d[31]);                // underline thickness
    h.push_back(0);
    const bool ownResolution =
        desc.size >= kResolutionDescriptor && Big16(d) == kResolutionDescriptor;
    Put16(h, ownResolution ? Big16(d + 64) : 300);
    Put16(h, ownResolution ? Big16(d + 66) : 300);
    Put16(h, 0x10);
    const std::uint8_t *name = d + 48;
    const std::size_t nameLength = std::find(name, name + 16, 0) - name;
    h.insert(h.end(), name, name + nameLength);
    h.resize(kStoredFontHeaderSize, ' ');
    return h;
}

std::optional<std::vector<std::uint8_t>> ConvertSoftFont(const std::uint8_t *file,
                                                         std::size_t size) {
    const auto desc = FindFontDescriptor(file, size);
    if (!desc)
        return std::nullopt;
    const std::vector<CharacterBlock> chars = ConvertCharacters(file, size, desc->next);
    const std::vector<std::uint8_t> table = PackCharacterTable(chars);
    std::size_t n = kStoredFontHeaderSize + table.size();
    for (const CharacterBlock &c : chars)
        n += c.block.size();
    std::vector<std::uint8_t> out =
        BuildStoredFontHeader(*desc, chars.size(), static_cast<std::uint32_t>(n));
    out.reserve(n);
    out.insert(out.end(), table.begin(), table.end());
    for (const CharacterBlock &c : chars)
        out.insert(out.end(), c.block.begin(), c.block.end());
    return out;
}

std::string GetFontName(const FontDescriptor &desc) {
    std::string name(reinterpret_cast<const char *>(desc.d + 48), 16);
    name.resize(std::strlen(name.c_str()));
    if (name.size() == 16 && name.back() == ' ')
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
    return name;
}

SoftFontRows GetSoftFontRows(const FontDescriptor &desc) {
    const std::uint8_t *d = desc.d;
    SoftFontRows r;
    r.name = GetFontName(desc);
    r.format = d[2];
    r.showResolution =
        desc.size >= kResolutionDescriptor && (d[2] == 20 || Big16(d) == kResolutionDescriptor);
    if (r.showResolution) {
        r.xResolution = Big16(d + 64);
        r.yResolution = Big16(d + 66);
    }
    r.fontType = d[3];
    r.symbolSet = Big16(d + 14);
    r.spacing = d[13];
    const double pitch = Big16(d + 16) + d[40] / 256.0;
    r.pitch = pitch == 0 ? "0" : FormatTrimmedFloat(1200 / pitch);
    r.height = FormatTrimmedFloat((Big16(d + 18) + d[41] / 256.0) * 3 / 50);
    r.style = ((d[4] * 256) & 0x3FF) | d[23];
    r.strokeWeight = static_cast<std::int8_t>(d[24]);
    r.typeface = d[26] * 256 + d[25];
    return r;
}

std::string BuildFontSelection(const FontDescriptor &desc) {
    const SoftFontRows r = GetSoftFontRows(desc);
    std::string s = "\x1b(";
    s += std::to_string(r.symbolSet / 32);
    s += static_cast<char>((r.symbolSet & 31) + 64);
    s += "\x1b(s" + std::to_string(r.spacing) + "p" + r.pitch + "h" + r.height + "v" +
         std::to_string(r.style) + "s" + std::to_string(r.strokeWeight) + "b" +
         std::to_string(r.typeface) + "T";
    return s;
}

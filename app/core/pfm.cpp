#include "pfm.h"

#include "softfont.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr char kCopyright[] = "Font metrics built by velmar from a PCL soft font";
constexpr std::size_t kMaxText = 259;

std::int64_t U16(const std::uint8_t *d, std::size_t at) {
    return d[at] << 8 | d[at + 1];
}
std::int64_t S16(const std::uint8_t *d, std::size_t at) {
    return static_cast<std::int16_t>(U16(d, at));
}

// Little-endian fields; a value too large for its field is clamped (negative values keep
// their two's complement form).
void PutW(std::vector<std::uint8_t> &img, std::size_t at, std::int64_t v) {
    const auto x = static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, INT16_MIN, UINT16_MAX));
    img[at] = static_cast<std::uint8_t>(x);
    img[at + 1] = static_cast<std::uint8_t>(x >> 8);
}
void PutD(std::vector<std::uint8_t> &img, std::size_t at, std::int64_t v) {
    const auto x = static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, INT32_MIN, UINT32_MAX));
    for (int i = 0; i < 4; ++i)
        img[at + i] = static_cast<std::uint8_t>(x >> (8 * i));
}
void PutB(std::vector<std::uint8_t> &img, std::size_t at, std::int64_t v) {
    img[at] = static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, INT8_MIN, UINT8_MAX));
}
void PutText(std::vector<std::uint8_t> &img, std::size_t at, const std::string &text) {
    std::memcpy(img.data() + at, text.data(), text.size());
    img[at + text.size()] = 0;
}

// Top offset and height of a character (left offset and width when it is rotated).
struct CharMetric {
    std::int64_t offset = 0, extent = 0;
};

} // namespace

SymbolSetMap MapSymbolSet(int symbolSet, int fontType) {
    switch (symbolSet) {
    case 277:
        return {1, 0, 0};
    case 369:
        return {18, 0, 0};
    case 501:
        return {17, 181, 302};
    case 529:
        return {19, 186, 0};
    case 2:
        return {16, 182, 303};
    case 269:
        return {17, 180, 301};
    case 14:
        return {18, 0, 0};
    case 21:
        return {4, 0, 0};
    case 53:
        return {16, 185, 305};
    case 145:
        return {16, 183, 304};
    default:
        return {fontType != 0 ? 17 : 16, 0, 0};
    }
}

int TranslationResourceId(int tableNumber) {
    switch (tableNumber) {
    case 1:
        return 2;
    case 2:
    case 3:
    case 17:
        return 4;
    case 4:
        return 1;
    case 18:
        return 5;
    case 19:
        return 6;
    default:
        return 3;
    }
}

int MapStrokeWeight(int w) {
    static const int weights[15] = {100, 100, 200, 200, 300, 300, 400, 400,
                                    500, 600, 700, 700, 800, 800, 900};
    return w >= -7 && w <= 7 ? weights[w + 7] : 0;
}

const CMacroLine *FindDescriptorLine(const std::vector<CMacroLine> &lines) {
    for (const CMacroLine &line : lines)
        if (line.Is("\x1b)s", 'W') && line.payload.size() >= kMinFontDescriptor)
            return &line;
    return nullptr;
}

std::optional<std::vector<std::uint8_t>> BuildPfmImage(const std::vector<CMacroLine> &lines,
                                                       TypefaceSource &source) {
    const CMacroLine *descriptor = FindDescriptorLine(lines);
    if (!descriptor)
        return std::nullopt;
    const std::uint8_t *d = descriptor->payload.data();
    FontDescriptor desc{d, descriptor->payload.size(), 0};
    const std::string escape = BuildFontSelection(desc);

    const std::int64_t baseline = U16(d, 6), cellHeight = U16(d, 10), pitch = U16(d, 16),
                       height = U16(d, 18);
    const bool proportional = d[13] != 0;
    const SymbolSetMap set = MapSymbolSet(static_cast<int>(U16(d, 14)), d[3]);
    const std::uint8_t *table = source.TranslationTable(TranslationResourceId(set.translation));

    // Widths and the characters' metrics.
    std::vector<std::int64_t> widths(257, 0);
    if (proportional)
        widths[32] = pitch / 4;
    std::int64_t sum = pitch / 4, count = 1, maxWidth = 0;
    int first = 32, last = 32;
    auto widen = [&](int c) {
        first = std::min(first, c);
        last = std::max(last, c);
    };
    CharMetric dash, underscore, lowerD, lowerP, lowerX;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].Is("\x1b*c", 'E'))
            continue;
        if (i + 1 >= lines.size() || !lines[i + 1].Is("\x1b(s", 'W') ||
            lines[i + 1].payload.size() < 16)
            continue;
        const std::int64_t code = lines[i].SignedCount();
        const std::uint8_t *c = lines[i + 1].payload.data();
        const std::int64_t width = S16(c, 14) / 4;
        if (code >= 0 && code < 128) {
            if (proportional)
                widths[static_cast<std::size_t>(code)] = width;
            widen(static_cast<int>(code));
        }
        if (table && code >= 0 && code < 256) {
            for (int pos = 0; pos < 256; ++pos) {
                if (table[pos] != code)
                    continue;
                const int entry = pos / 2 + 128;
                if (proportional && !(pos % 2 == 1 && widths[entry] != 0))
                    widths[entry] = width;
                widen(entry);
            }
        }
        maxWidth = std::max(maxWidth, width);
        sum += width;
        ++count;
        const CharMetric m = c[4] != 0
                                 ? CharMetric{S16(c, 6), static_cast<std::int64_t>(U16(c, 10))}
                                 : CharMetric{S16(c, 8), static_cast<std::int64_t>(U16(c, 12))};
        switch (code) {
        case '-':
            dash = m;
            break;
        case '_':
            underscore = m;
            break;
        case 'd':
            lowerD = m;
            break;
        case 'p':
            lowerP = m;
            break;
        case 'x':
            lowerX = m;
            break;
        default:
            break;
        }
    }
    const std::int64_t average = (sum + count - 1) / count;
    const std::int64_t memory = ((sum + 7) / 8) * cellHeight + 63;

    // Face name: typeface, symbol-set name, weight name, italic text.
    const int italic = d[23] & 1;
    const int strokeWeight = static_cast<std::int8_t>(d[24]);
    int family = 0;
    std::string face = source.TypefaceName(d[26] * 256 + d[25], family);
    auto add = [&](int id) {
        if (id)
            if (std::optional<std::string> s = source.String(id))
                face += *s;
    };
    add(set.nameId);
    add(strokeWeight >= -7 && strokeWeight <= -2 ? 10107
        : strokeWeight >= 2 && strokeWeight <= 7 ? 10108
                                                 : 0);
    add(italic ? 10106 : 0);
    face = face.substr(0, kMaxText);
    face.resize(std::strlen(face.c_str())); // a NUL ends the name

    // Layout.
    const std::size_t widthTable =
        proportional ? static_cast<std::size_t>(last - first + 2) * 2 : 0;
    const std::size_t extension = kPfmHeaderSize + widthTable;
    const std::size_t device = extension + kPfmExtensionSize;
    const std::size_t faceAt = device + sizeof kPfmDeviceName;
    const std::size_t driverInfo = faceAt + face.size() + 1;
    const std::size_t etm = driverInfo + kPfmDriverInfoSize;
    const std::size_t escapeAt = etm + kPfmExtTextMetricSize;
    std::vector<std::uint8_t> img(escapeAt + escape.size() + 1, 0);

    PutW(img, 0, 0x0100);
    PutD(img, 2, static_cast<std::int64_t>(img.size()));
    std::memcpy(img.data() + 6, kCopyright, std::min<std::size_t>(sizeof kCopyright - 1, 60));
    PutW(img, 66, 128);
    PutW(img, 68, height * 72 / 1200);
    PutW(img, 70, 300);
    PutW(img, 72, 300);
    PutW(img, 74, baseline);
    PutW(img, 76, cellHeight - (height + 2) / 4);
    PutW(img, 78, height / 4 - baseline);
    PutB(img, 80, italic);
    PutW(img, 83, MapStrokeWeight(strokeWeight));
    PutB(img, 85, set.charSet);
    PutW(img, 86, proportional ? 0 : pitch / 4);
    PutW(img, 88, cellHeight);
    PutB(img, 90, family | d[13]);
    PutW(img, 91, average);
    PutW(img, 93, maxWidth);
    img[95] = static_cast<std::uint8_t>(first);
    img[96] = static_cast<std::uint8_t>(last);
    img[97] = static_cast<std::uint8_t>(127 - first);
    img[98] = static_cast<std::uint8_t>(32 - first);
    PutD(img, 101, static_cast<std::int64_t>(device));
    PutD(img, 105, static_cast<std::int64_t>(faceAt));

    if (proportional)
        for (int c = first; c <= last + 1; ++c)
            PutW(img, kPfmHeaderSize + 2 * static_cast<std::size_t>(c - first),
                 widths[static_cast<std::size_t>(c)]);

    PutW(img, extension, kPfmExtensionSize);
    PutD(img, extension + 2, static_cast<std::int64_t>(etm));
    PutD(img, extension + 22, static_cast<std::int64_t>(driverInfo));

    PutText(img, device, kPfmDeviceName);
    PutText(img, faceAt, face);

    PutW(img, driverInfo, kPfmDriverInfoSize);
    PutW(img, driverInfo + 2, 1);
    PutD(img, driverInfo + 4, memory);
    PutD(img, driverInfo + 8, static_cast<std::int64_t>(escapeAt));
    PutW(img, driverInfo + 12, set.translation);

    const std::int64_t capHeight = (height + 2) / 4 + baseline - cellHeight;
    const std::int64_t descent = lowerP.extent - lowerP.offset;
    const std::int64_t fields[26] = {static_cast<std::int64_t>(kPfmExtTextMetricSize),
                                     cellHeight * 1440 / 300,
                                     d[12] != 0 ? 2 : 1,
                                     cellHeight,
                                     cellHeight,
                                     cellHeight,
                                     cellHeight,
                                     capHeight,
                                     lowerX.offset,
                                     lowerD.offset,
                                     descent,
                                     0,
                                     capHeight - lowerX.offset,
                                     -descent,
                                     cellHeight,
                                     cellHeight,
                                     underscore.offset,
                                     underscore.extent,
                                     2 * underscore.extent + underscore.offset,
                                     underscore.offset,
                                     underscore.extent,
                                     underscore.extent,
                                     dash.offset - dash.extent,
                                     dash.extent,
                                     0,
                                     0};
    for (std::size_t i = 0; i < 26; ++i)
        PutW(img, etm + 2 * i, fields[i]);

    PutText(img, escapeAt, escape);
    return img;
}

std::vector<std::uint8_t> PackPcm(const std::vector<std::vector<std::uint8_t>> &images) {
    if (images.empty())
        return {};
    std::size_t total = 20;
    for (const auto &image : images)
        total += image.size();
    std::vector<std::uint8_t> pcm(total, 0);
    PutW(pcm, 0, 0x0CAC);
    PutW(pcm, 2, 0x0310);
    PutD(pcm, 4, static_cast<std::int64_t>(std::min<std::size_t>(total, UINT32_MAX)));
    PutD(pcm, 8, 16);
    PutD(pcm, 12, 20);
    std::memcpy(pcm.data() + 16, "Wyr", 4);
    std::size_t at = 20;
    for (const auto &image : images) {
        std::copy(image.begin(), image.end(), pcm.begin() + static_cast<std::ptrdiff_t>(at));
        at += image.size();
    }
    return pcm;
}

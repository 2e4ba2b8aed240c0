#include "pclfilter.h"

#include "text.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t kEsc = 0x1b;
constexpr std::uint8_t kFormFeed = 0x0c;
constexpr std::uint32_t kIntegerCap = 999999999; // no conversion of a capped value overflows
constexpr int kFractionDigits = 6;

// The prefixes at which collecting stops.
const char *const kCompletePrefixes[] = {"\x1b(s",
                                         "\x1b)s",
                                         "\x1b*s",
                                         "\x1b&t",
                                         "\x1b&u",
                                         "\x1b*t",
                                         "\x1b*p",
                                         "\x1b&r",
                                         "\x1b*r",
                                         "\x1b&s",
                                         "\x1b&l",
                                         "\x1b*l",
                                         "\x1b*m",
                                         "\x1b&p",
                                         "\x1b*o",
                                         "\x1b&k",
                                         "\x1b&f",
                                         "\x1b(f",
                                         "\x1b)i",
                                         "\x1b*i",
                                         "\x1b&b",
                                         "\x1b*b",
                                         "\x1b&c",
                                         "\x1b&d",
                                         "\x1b*c",
                                         "\x1b&a",
                                         "\x1b*v",
                                         "\x1b*I",
                                         "\x1b%",
                                         "\x1b=",
                                         "\x1b"
                                         "E",
                                         "\x1bY",
                                         "\x1bZ",
                                         "\x1b)&1",
                                         "\x1b&d@",
                                         "\x1b*rC"};

// Commands that read nothing after their sign.
const char *const kNoValuePrefixes[] = {"\x1b=",
                                        "\x1b"
                                        "E",
                                        "\x1bY",
                                        "\x1bZ",
                                        "\x1b&d@",
                                        "\x1b*rC"};

// Commands whose W terminator carries value bytes of data.
const char *const kDataPrefixes[] = {"\x1b*I", "\x1b&b", "\x1b*b", "\x1b&c", "\x1b)i",
                                     "\x1b*i", "\x1b*l", "\x1b*m", "\x1b&n", "\x1b*o",
                                     "\x1b(s", "\x1b)s", "\x1b*v"};

const char kUel[] = "\x1b%-12345X";
constexpr std::size_t kUelSize = sizeof kUel - 1;

template <std::size_t N> bool InList(const std::string &prefix, const char *const (&list)[N]) {
    return std::any_of(std::begin(list), std::end(list),
                       [&](const char *p) { return prefix == p; });
}

bool IsDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}
bool IsBlank(std::uint8_t c) {
    return c == ' ' || c == '\t';
}
std::uint8_t Upper(std::uint8_t c) {
    return c >= 'a' && c <= 'z' ? static_cast<std::uint8_t>(c - 32) : c;
}

// Position of `word` (upper case) in [at, end), compared case-blind; end when absent.
const std::uint8_t *FindNoCase(const std::uint8_t *at, const std::uint8_t *end, const char *word) {
    const std::size_t n = std::strlen(word);
    for (; static_cast<std::size_t>(end - at) >= n; ++at) {
        std::size_t i = 0;
        while (i < n && Upper(at[i]) == static_cast<std::uint8_t>(word[i]))
            ++i;
        if (i == n)
            return at;
    }
    return end;
}

// Case-blind word match at `at`; moves past it.
bool TakeWord(const std::uint8_t *&at, const std::uint8_t *end, const char *word) {
    const std::size_t n = std::strlen(word);
    if (static_cast<std::size_t>(end - at) < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (Upper(at[i]) != static_cast<std::uint8_t>(word[i]))
            return false;
    at += n;
    return true;
}

void SkipBlanks(const std::uint8_t *&at, const std::uint8_t *end) {
    while (at < end && IsBlank(*at))
        ++at;
}

// "@PJL ENTER LANGUAGE=PCL", blanks allowed around the words and '=', the value exactly PCL.
bool IsEnterPcl(const std::uint8_t *at, const std::uint8_t *end) {
    if (!TakeWord(at, end, "@PJL"))
        return false;
    SkipBlanks(at, end);
    if (!TakeWord(at, end, "ENTER"))
        return false;
    SkipBlanks(at, end);
    if (!TakeWord(at, end, "LANGUAGE"))
        return false;
    SkipBlanks(at, end);
    if (at == end || *at != '=')
        return false;
    ++at;
    SkipBlanks(at, end);
    if (!TakeWord(at, end, "PCL"))
        return false;
    SkipBlanks(at, end);
    return at == end || *at == '\r' || *at == '\n';
}

// A number after `key` within [at, end): decimal or hexadecimal digits, capped.
std::uint64_t NumberAfter(const std::uint8_t *at, const std::uint8_t *end, const char *key,
                          bool hex) {
    const std::uint8_t *p = FindNoCase(at, end, key);
    if (p == end)
        return 0;
    p += std::strlen(key);
    std::uint64_t n = 0;
    for (; p < end; ++p) {
        int digit;
        const std::uint8_t c = Upper(*p);
        if (IsDigit(c))
            digit = c - '0';
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        if (n < (std::uint64_t{1} << 40))
            n = n * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    }
    return n;
}

std::size_t Remaining(const std::uint8_t *at, const std::uint8_t *end) {
    return end > at ? static_cast<std::size_t>(end - at) : 0;
}

// Digits, an optional '.' and digits; no exponent. Returns the bytes read.
std::size_t ParseNumber(const std::uint8_t *at, const std::uint8_t *end, CMacroLine &line) {
    const std::uint8_t *p = at;
    std::uint32_t whole = 0;
    while (p < end && IsDigit(*p)) {
        const auto digit = static_cast<std::uint32_t>(*p - '0');
        whole = whole > (kIntegerCap - digit) / 10 ? kIntegerCap : whole * 10 + digit;
        ++p;
    }
    std::uint32_t fraction = 0, scale = 1;
    if (p < end && *p == '.') {
        ++p;
        for (int digits = 0; p < end && IsDigit(*p); ++p, ++digits) {
            if (digits < kFractionDigits) {
                fraction = fraction * 10 + static_cast<std::uint32_t>(*p - '0');
                scale *= 10;
            }
        }
    }
    line.count = whole;
    line.value = static_cast<double>(whole) + static_cast<double>(fraction) / scale;
    line.noValue = 0;
    return static_cast<std::size_t>(p - at);
}

bool StartsNumber(const std::uint8_t *at, const std::uint8_t *end) {
    if (at >= end)
        return false;
    return IsDigit(*at) || (*at == '.' && at + 1 < end && IsDigit(at[1]));
}

bool CarriesData(const CMacroLine &line) {
    if (line.prefix == "\x1b(f")
        return true;
    if (line.Is("\x1b&p", 'X') || line.Is("\x1b*b", 'V'))
        return true;
    return line.terminator == 'W' && InList(line.prefix, kDataPrefixes);
}

} // namespace

std::size_t ParseCommandPrefix(const std::uint8_t *at, const std::uint8_t *end,
                               std::string &prefix) {
    prefix.assign(1, static_cast<char>(kEsc));
    const std::uint8_t *p = at + 1;
    while (prefix.size() < 4 && p < end) {
        const std::uint8_t c = *p;
        if (IsDigit(c) || c == kEsc || c == '+' || c == '-' || c == '@' || c <= ' ' || c >= 0x7f)
            break;
        if (prefix == "\x1b(" && c != '&' && c != 'f' && c != 's')
            break;
        if (prefix == "\x1b)" && c != '&' && c != 'i' && c != 's')
            break;
        prefix += static_cast<char>(c);
        ++p;
        if (InList(prefix, kCompletePrefixes))
            break;
    }
    return prefix.size();
}

std::size_t ParseEscape(CMacroLine &line, const std::uint8_t *at, const std::uint8_t *end,
                        MacroParserState &state) {
    const std::uint8_t *p = at;
    if (p < end && (*p == '+' || *p == '-')) {
        line.sign = *p == '-' ? 1 : 0;
        ++p;
    }
    state.moreFollow = false;
    if (InList(line.prefix, kNoValuePrefixes))
        return static_cast<std::size_t>(p - at);
    if (StartsNumber(p, end))
        p += ParseNumber(p, end, line);
    if (line.prefix.size() > 1 && p < end && *p >= '@' && *p <= '~') {
        if (*p >= 'a' && *p <= 'z') {
            state.moreFollow = true;
            state.prefix = line.prefix;
        }
        line.terminator = Upper(*p);
        ++p;
    }
    if (line.prefix == "\x1b%" && line.terminator == 'B') {
        const std::uint8_t *q = p;
        while (q < end && *q != kEsc)
            ++q;
        line.payload.assign(p, q);
        p = q;
    } else if (CarriesData(line)) {
        std::size_t n = line.sign == 1 || line.noValue ? 0 : line.count;
        n = std::min(n, Remaining(p, end));
        line.payload.assign(p, p + n);
        p += n;
    }
    return static_cast<std::size_t>(p - at);
}

CMacroLine CutMacroLine(const std::uint8_t *at, const std::uint8_t *end, MacroParserState &state) {
    CMacroLine line;
    const std::size_t size = Remaining(at, end);
    if (size == 0)
        return line;

    // A command whose last terminator was lower case goes on with this line, unless what
    // follows cannot continue it.
    if (state.moreFollow) {
        const std::uint8_t c = *at;
        if (c == '+' || c == '-' || StartsNumber(at, end) || (c >= '@' && c <= '~')) {
            line.kind = MacroLineKind::Command;
            line.prefix = state.prefix;
            line.length = static_cast<std::uint32_t>(ParseEscape(line, at, end, state));
            if (line.length > 0)
                return line;
        }
        state.moreFollow = false;
        line = CMacroLine();
    }

    if (state.pjl && size >= 4 && std::memcmp(at, "@PJL", 4) == 0) {
        const std::uint8_t *lf = static_cast<const std::uint8_t *>(std::memchr(at, '\n', size));
        const std::uint8_t *stop = lf ? lf + 1 : end;
        if (stop < end && *stop == '\r')
            ++stop;
        if (IsEnterPcl(at, stop))
            state.pjl = false;
        std::uint64_t skip = 0;
        if (FindNoCase(at, stop, "QUVRESOURCEWRITE") != stop)
            skip = NumberAfter(at, stop, "SIZE=", false);
        else if (FindNoCase(at, stop, "QUVWRITE") != stop)
            skip = NumberAfter(at, stop, "DATA=H", true);
        skip = std::min<std::uint64_t>(skip, Remaining(stop, end));
        line.kind = MacroLineKind::Pjl;
        line.prefix = "@PJL";
        line.payload.assign(at, stop + skip);
        line.length = static_cast<std::uint32_t>(line.payload.size());
        return line;
    }

    if (size >= kUelSize && std::memcmp(at, kUel, kUelSize) == 0) {
        state.pjl = true;
        line.kind = MacroLineKind::Uel;
        line.prefix = "\x1b%";
        line.payload.assign(at, at + kUelSize);
        line.length = kUelSize;
        return line;
    }

    if (*at == kEsc) {
        line.kind = MacroLineKind::Command;
        const std::size_t n = ParseCommandPrefix(at, end, line.prefix);
        line.length = static_cast<std::uint32_t>(n + ParseEscape(line, at + n, end, state));
        return line;
    }

    // Text: a lone form feed, or the bytes up to the next ESC or form feed (in PJL mode
    // also up to a line's end, so that the next PJL line is seen).
    const std::uint8_t *q = at + 1;
    if (*at != kFormFeed)
        while (q < end && *q != kEsc && *q != kFormFeed && !(state.pjl && q[-1] == '\n'))
            ++q;
    line.kind = MacroLineKind::Text;
    line.payload.assign(at, q);
    line.length = static_cast<std::uint32_t>(q - at);
    return line;
}

bool KeepLine(const CMacroLine &line, const MacroFlags &flags) {
    switch (line.kind) {
    case MacroLineKind::Pjl:
    case MacroLineKind::Uel:
        return false;
    case MacroLineKind::Text:
        return !(flags[0] && !line.payload.empty() && line.payload[0] == kFormFeed);
    case MacroLineKind::Command:
        break;
    }
    if (line.Is("\x1b/l", 'O') || line.prefix == "\x1b/lO" || line.Is("\x1b&n", 'W') ||
        line.prefix == "\x1b&nW")
        return false;
    struct Match {
        const char *prefix;
        char terminator;
    };
    static const Match table[25] = {{"\x1b"
                                     "E",
                                     0},
                                    {"\x1b&l", 'A'},
                                    {"\x1b&l", 'C'},
                                    {"\x1b&l", 'D'},
                                    {"\x1b&l", 'E'},
                                    {"\x1b&l", 'F'},
                                    {"\x1b&l", 'G'},
                                    {"\x1b&l", 'H'},
                                    {"\x1b&l", 'L'},
                                    {"\x1b&l", 'O'},
                                    {"\x1b&l", 'S'},
                                    {"\x1b&l", 'T'},
                                    {"\x1b&l", 'U'},
                                    {"\x1b&l", 'X'},
                                    {"\x1b&l", 'Z'},
                                    {"\x1b&a", 'G'},
                                    {"\x1b&a", 'P'},
                                    {"\x1b&l", 'P'},
                                    {"\x1b*v", 'W'},
                                    {"\x1b*i", 'W'},
                                    {"\x1b*o", 'W'},
                                    {"\x1b*t", 'J'},
                                    {"\x1b&p", 'I'},
                                    {"\x1b&p", 'C'},
                                    {"\x1b&b", 0}};
    for (std::size_t k = 1; k <= 25; ++k) {
        const Match &m = table[k - 1];
        if (!flags[k] || line.prefix != m.prefix)
            continue;
        if (k == 25 || k == 1 || line.terminator == static_cast<std::uint8_t>(m.terminator))
            return false;
    }
    return true;
}

std::string WriteEscape(const CMacroLine &line) {
    const std::string data(line.payload.begin(), line.payload.end());
    if (line.kind != MacroLineKind::Command)
        return data;
    std::string out = line.prefix;
    if (!line.noValue) {
        if (line.sign == 0)
            out += '+';
        else if (line.sign == 1)
            out += '-';
        out += FormatTrimmedFloat(line.value);
    }
    if (line.terminator)
        out += static_cast<char>(line.terminator);
    return out + data;
}

MacroReader ReadMacroLines(const std::uint8_t *data, std::size_t size, const MacroFlags &flags) {
    MacroReader reader;
    reader.flags = flags;
    MacroParserState state;
    const std::uint8_t *end = data ? data + size : data;
    for (const std::uint8_t *at = data; at && at < end;) {
        CMacroLine line = CutMacroLine(at, end, state);
        if (line.length == 0) // cannot happen: every line takes a byte
            line.length = 1;
        at += std::min<std::size_t>(line.length, Remaining(at, end));
        if (line.kind == MacroLineKind::Command) {
            if (line.Is("\x1b&p", 'S'))
                reader.paletteId =
                    std::clamp<std::int64_t>(line.SignedCount(), INT32_MIN, INT32_MAX);
            const bool configure = line.Is("\x1b*v", 'W') && line.payload.size() >= 3;
            if (configure || line.Is("\x1b&p", 'I')) {
                PaletteRecord r;
                r.line = reader.lines.size();
                r.kind = configure ? 1 : 0;
                if (configure) {
                    r.rgb = line.payload[0] == 0 ? 1 : 0;
                    r.encoding = line.payload[1];
                    r.bits = line.payload[2];
                }
                r.paletteId = reader.paletteId;
                r.already =
                    std::any_of(reader.palettes.begin(), reader.palettes.end(),
                                [&](const PaletteRecord &o) { return o.paletteId == r.paletteId; });
                reader.palettes.push_back(r);
            }
        }
        line.keep = KeepLine(line, flags) ? 1 : 0;
        if (line.keep) {
            reader.total += line.length;
            reader.lines.push_back(std::move(line));
        }
    }
    return reader;
}

std::string PaletteSetupString(int rgb, int bits) {
    if (bits == 1)
        return "\33*v255a255b255c0i0a0b0c1I";
    if (bits == 2)
        return rgb ? "\33*v255a255b255c0i0a255b255c1i255a0b255c2i0a0b0c3I"
                   : "\33*v0a0b0c0i255a0b0c1i0a255b0c2i255a255b255c3I";
    return rgb ? "\33*"
                 "v255a255b255c0i0a255b255c1i255a0b255c2i0a0b255c3i255a255b0c4i0a255b0c5i255a0b0c6i"
                 "0a0b0c7I"
               : "\33*"
                 "v0a0b0c0i255a0b0c1i0a255b0c2i255a255b0c3i0a0b255c4i255a0b255c5i0a255b255c6i255a25"
                 "5b255c7I";
}

std::string PushPrologue(const MacroReader &reader) {
    std::string out = reader.flags[kFlagPushPop] ? "\033&f0S" : "";
    for (const PaletteRecord &r : reader.palettes)
        if (r.paletteId != 0 && !r.already)
            out += "\033&p" + std::to_string(r.paletteId) + "S\033*p0P";
    return out + "\033&p0S\033*p0P";
}

std::string PopEpilogue(const MacroReader &reader) {
    std::string out = "\033&p0S\033*p1P";
    for (auto r = reader.palettes.rbegin(); r != reader.palettes.rend(); ++r)
        if (r->paletteId != 0 && !r->already)
            out += "\033&p" + std::to_string(r->paletteId) + "S\033*p1P";
    if (reader.flags[kFlagPushPop])
        out += "\033&f1S";
    return out;
}

std::vector<MacroPiece> SplitMacroLines(MacroReader &reader, const std::string &firstName) {
    const bool split = reader.flags[kFlagSplit] != 0;
    const bool setUp = reader.flags[kFlagConfigureImage] != 0;
    std::vector<MacroPiece> pieces;
    MacroPiece piece{firstName, {}};
    bool due = split;
    if (!split)
        piece.bytes = PushPrologue(reader);
    bool inside = false;
    std::int64_t outerId = 0, innerId = 0, defined = 0;

    auto writeDue = [&] {
        if (due) {
            piece.bytes += PushPrologue(reader);
            due = false;
        }
    };
    auto close = [&] {
        piece.bytes += PopEpilogue(reader);
        pieces.push_back(std::move(piece));
        piece = MacroPiece();
    };
    auto setUpFor = [&](const PaletteRecord &r) {
        if (r.kind != 1 || !setUp || r.encoding >= 2)
            return;
        writeDue();
        const int bits = std::min(r.bits, 8);
        piece.bytes += PaletteSetupString(r.rgb, bits);
        for (int i = 8; i <= (1 << bits) - 1; ++i)
            piece.bytes += "\033*v0a0b0c" + std::to_string(i) + "I";
    };

    auto record = reader.palettes.begin();
    for (std::size_t i = 0; i < reader.lines.size(); ++i) {
        for (; record != reader.palettes.end() && record->line <= i; ++record)
            setUpFor(*record);
        CMacroLine line = std::move(reader.lines[i]);
        if (!split) {
            piece.bytes += WriteEscape(line);
            continue;
        }
        if (line.prefix == "\x1b&f" && line.terminator == 'Y') {
            (inside ? innerId : outerId) =
                std::clamp<std::int64_t>(line.SignedCount(), INT32_MIN, INT32_MAX);
            continue;
        }
        if (line.prefix == "\x1b&f" && line.terminator == 'X') {
            const std::int64_t v = line.SignedCount();
            if (v == 0 || v == 1) {
                if (!piece.bytes.empty())
                    close();
                else
                    piece = MacroPiece();
                piece.name = v == 0 ? "M" + std::to_string(outerId) + ".bin"
                                    : "F" + std::to_string(defined++) + ".bin";
                due = true;
                inside = v == 0;
                continue;
            }
            if (v == 2 || v == 3 || v == 4 || v == 8) {
                writeDue();
                piece.bytes += "\033&f" + std::to_string(inside ? innerId : outerId) + "Y";
                piece.bytes += WriteEscape(line);
                continue;
            }
            if (v == 9 || v == 10)
                continue;
        }
        writeDue();
        piece.bytes += WriteEscape(line);
    }
    if (!split || !piece.bytes.empty()) {
        for (; record != reader.palettes.end(); ++record)
            setUpFor(*record);
        close();
    }
    reader.lines.clear();
    reader.palettes.clear();
    return pieces;
}

#include "fontfiles.h"

#include <cstdio>
#include <string>

#include "framework.h"
#include "helpers.h"
#include "reply.h"
#include "resource_ids.h"
#include "softfont.h"
#include "stream.h"
#include "text.h"
#include "ttfont.h"
#include "zqapp.h"

namespace {

const std::uint8_t *Bytes(const CBuffer &buffer) {
    return reinterpret_cast<const std::uint8_t *>(buffer.m_data);
}

// A row with its label and value at the end of the list; returns the next row.
int AddRow(CBuffer &buffer, CListCtrl &list, int row, UINT label, const std::string &value) {
    buffer.AddPropertyRow(list, row, label);
    list.SetItemText(row, 1, value.c_str());
    return row + 1;
}

std::string StringOf(UINT id) {
    char text[260];
    return LoadResString(id, text);
}

// The typeface module's name of a typeface number, or "" when the module is missing.
std::string TypefaceName(int typeface) {
    char path[MAX_PATH * 2];
    std::snprintf(path, sizeof path, "%s\\gorwin.DLL", ProgramFolder);
    // A data file: the module is 32-bit, the program 64-bit.
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return {};
    char name[260] = {};
    LoadTypefaceName(module, typeface, name, sizeof name);
    FreeLibrary(module);
    return name;
}

std::string EscapesShown(const std::string &text) {
    std::string out;
    for (char c : text)
        out += c == '\x1b' ? std::string("<ESC>") : std::string(1, c);
    return out;
}

// The stream: the delete-first header, the bytes, the UEL, at the head of the job list.
DWORD AddStream(CPtrList &jobs, const std::string &header, const void *first, std::size_t firstSize,
                const void *second, std::size_t secondSize) {
    auto *stream = new CMBuffer;
    const bool ok = stream->Append(header.data(), static_cast<DWORD>(header.size())) &&
                    stream->Append(first, static_cast<DWORD>(firstSize)) &&
                    stream->Append(second, static_cast<DWORD>(secondSize)) &&
                    stream->Append(kUel, static_cast<DWORD>(kUelLength));
    if (!ok) {
        delete stream;
        return 0;
    }
    jobs.AddHead(stream);
    return stream->GetLength();
}

constexpr std::uint64_t kMaxStream = 0xFFFF0000u; // room for the PJL lines below 32 bits

} // namespace

// ---- CBMFont ----

bool CBMFont::GetFontName(const CBuffer &font, char *out) {
    out[0] = '\0';
    if (font.IsEmpty())
        return false;
    const auto desc = FindFontDescriptor(Bytes(font), font.m_length);
    if (!desc)
        return false;
    CopyStringN(out, ::GetFontName(*desc).c_str(), 16);
    return true;
}

DWORD CBMFont::BuildDownload(CPtrList &jobs, const char *volume, const char *folder,
                             const char *name, const char *id) {
    if (IsEmpty() || !IsSafeFontTarget(volume, folder, name, id))
        return 0;
    const auto stored = ConvertSoftFont(Bytes(*this), m_length);
    if (!stored)
        return 0;
    const std::string header = BuildDeleteFirstHeader(volume, folder, std::string("*_") + id, name,
                                                      static_cast<std::uint32_t>(stored->size()));
    return AddStream(jobs, header, stored->data(), stored->size(), nullptr, 0);
}

int CBMFont::ShowProperties(CListCtrl &list) {
    int row = CBuffer::ShowProperties(list);
    list.SetItemText(0, 1, StringOf(IDS_KIND_BITMAPPED_FONT).c_str());
    if (IsEmpty())
        return row;
    const auto desc = FindFontDescriptor(Bytes(*this), m_length);
    if (!desc)
        return row;
    const SoftFontRows r = GetSoftFontRows(*desc);
    row = AddRow(*this, list, row, IDS_PROP_BITMAP_FONT_NAME, r.name);
    row = AddRow(*this, list, row, IDS_PROP_FORMAT, std::to_string(r.format));
    if (r.showResolution) {
        row = AddRow(*this, list, row, IDS_PROP_X_RESOLUTION, std::to_string(r.xResolution));
        row = AddRow(*this, list, row, IDS_PROP_Y_RESOLUTION, std::to_string(r.yResolution));
    }
    row = AddRow(*this, list, row, IDS_PROP_FONT_TYPE, std::to_string(r.fontType));
    row = AddRow(*this, list, row, IDS_PROP_SYMBOL_SET, std::to_string(r.symbolSet));
    row = AddRow(*this, list, row, IDS_PROP_PROPORTIONALITY,
                 std::to_string(r.spacing) + "  " +
                     StringOf(r.spacing == 0 ? IDS_PROP_FIXED : IDS_PROP_PROPORTIONAL));
    row = AddRow(*this, list, row, IDS_PROP_PITCH, r.pitch);
    row = AddRow(*this, list, row, IDS_PROP_HEIGHT, r.height);
    row = AddRow(*this, list, row, IDS_PROP_STYLE, std::to_string(r.style));
    row = AddRow(*this, list, row, IDS_PROP_STROKE_WEIGHT, std::to_string(r.strokeWeight));
    row = AddRow(*this, list, row, IDS_PROP_TYPEFACE,
                 std::to_string(r.typeface) + "  " + TypefaceName(r.typeface));
    row =
        AddRow(*this, list, row, IDS_PROP_ESCAPE_SEQUENCE, EscapesShown(BuildFontSelection(*desc)));
    return row;
}

// ---- CTTFont ----

CTTFont::CTTFont(const char *path) : CBuffer(path) {
    ScanCharacterMap();
}

void CTTFont::ScanCharacterMap() {
    const CharacterMapScan scan = ::ScanCharacterMap(
        FindUnicodeCmap(FindTrueTypeTable("cmap", Bytes(*this), m_data ? m_length : 0)));
    m_glyphSpace = scan.space;
    m_glyphX = scan.x;
    m_glyphH = scan.h;
    m_charCount = scan.count;
}

DWORD CTTFont::BuildDownload(CPtrList &jobs, const char *volume, const char *folder,
                             const char *name, const char *id) {
    if (IsEmpty() || !IsSafeFontTarget(volume, folder, name, id) ||
        kTrueTypeHeaderSize + static_cast<std::uint64_t>(m_length) > kMaxStream)
        return 0;
    const auto facts = ReadTrueTypeFacts(Bytes(*this), m_length);
    if (!facts)
        return 0;
    const int typeface = facts->hasPclt ? 0 : ZqApp().TakeTypeFace();
    const auto fontHeader = BuildTrueTypeHeader(*facts, typeface);
    const std::string header =
        BuildDeleteFirstHeader(volume, folder, std::string("*_") + id, name,
                               static_cast<std::uint32_t>(kTrueTypeHeaderSize + m_length));
    return AddStream(jobs, header, fontHeader.data(), fontHeader.size(), m_data, m_length);
}

int CTTFont::ShowProperties(CListCtrl &list) {
    int row = CBuffer::ShowProperties(list);
    list.SetItemText(0, 1, StringOf(IDS_KIND_TRUETYPE_FONT).c_str());
    const std::uint8_t *font = Bytes(*this);
    const std::size_t length = m_data ? m_length : 0;
    const TrueTypeTable names = FindTrueTypeTable("name", font, length);
    const struct {
        UINT label;
        std::uint16_t id;
    } rows[] = {{IDS_PROP_FAMILY_NAME, 1},
                {IDS_PROP_TRUETYPE_NAME, 4},
                {IDS_PROP_FONT_STYLE, 2},
                {IDS_PROP_COPYRIGHT, 0},
                {IDS_PROP_POSTSCRIPT_NAME, 6}};
    for (const auto &r : rows)
        row = AddRow(*this, list, row, r.label, GetTrueTypeName(names, r.id));
    const bool bound = IsBoundFont(FindTrueTypeTable("cmap", font, length));
    const TrueTypeTable pclt = FindTrueTypeTable("PCLT", font, length);
    std::string symbolSet;
    if (bound && pclt.data && pclt.length >= kPcltSize) {
        const int value = ReadBig16(pclt.data + 18);
        if (value != 0) {
            char text[64];
            std::snprintf(text, sizeof text, "%d (%d%c)", value, value / 32, (value & 31) + 64);
            symbolSet = text;
        }
    }
    row = AddRow(*this, list, row, IDS_PROP_SYMBOL_SET_BOUND,
                 symbolSet + " " + StringOf(bound ? IDS_BOUND : IDS_UNBOUND));
    return row;
}

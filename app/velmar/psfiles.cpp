#include "psfiles.h"

#include <cstdio>
#include <optional>
#include <string>

#include "framework.h"
#include "helpers.h"
#include "psdownload.h"
#include "resource_ids.h"

namespace {

const std::uint8_t *Bytes(const CBuffer &buffer) {
    return reinterpret_cast<const std::uint8_t *>(buffer.m_data);
}

std::size_t Size(const CBuffer &buffer) {
    return buffer.m_data ? buffer.m_length : 0;
}

std::string StringOf(UINT id) {
    char text[260];
    return LoadResString(id, text);
}

int AddRow(CBuffer &buffer, CListCtrl &list, int row, UINT label, const std::string &value) {
    buffer.AddPropertyRow(list, row, label);
    list.SetItemText(row, 1, value.c_str());
    return row + 1;
}

// PSFORMF<n>.DAT of the program folder; empty when missing (10142 shown) or empty.
std::string ReadPiece(int n) {
    char path[MAX_PATH * 2];
    std::snprintf(path, sizeof path, "%s\\PSFORMF%d.DAT", ProgramFolder, n);
    CBuffer piece(path);
    return piece.IsEmpty() ? std::string() : std::string(piece.m_data, piece.m_length);
}

DWORD AddStream(CPtrList &jobs, const std::optional<std::string> &bytes) {
    if (!bytes || bytes->empty())
        return 0;
    auto *stream = new CMBuffer;
    if (!stream->Append(bytes->data(), static_cast<DWORD>(bytes->size()))) {
        delete stream;
        return 0;
    }
    jobs.AddHead(stream);
    return stream->GetLength();
}

} // namespace

// ---- CPSFont ----

int CPSFont::ShowProperties(CListCtrl &list) {
    const int rows = CBuffer::ShowProperties(list);
    list.SetItemText(0, 1, StringOf(IDS_KIND_POSTSCRIPT_FONT).c_str());
    return rows;
}

DWORD CPSFont::BuildDownload(CPtrList &jobs, const char *volume, const char *, const char *name,
                             const char *) {
    if (IsEmpty())
        return 0;
    // Only a PostScript font needs the pieces; a .FNT has no PSFORMF3.DAT.
    const bool pfb = IsPfbFile(Bytes(*this), Size(*this));
    if (!BuildPostScriptFontStream(Bytes(*this), Size(*this), volume, name, "-", "-"))
        return 0;
    const std::string f1 = ReadPiece(1);
    const std::string f3 = pfb ? ReadPiece(3) : std::string();
    if (f1.empty() || (pfb && f3.empty()))
        return 0;
    return AddStream(jobs,
                     BuildPostScriptFontStream(Bytes(*this), Size(*this), volume, name, f1, f3));
}

// ---- CPSForm ----

int CPSForm::ShowProperties(CListCtrl &list) {
    const int rows = CBuffer::ShowProperties(list);
    list.SetItemText(0, 1, StringOf(IDS_KIND_POSTSCRIPT_FORM).c_str());
    return rows;
}

DWORD CPSForm::BuildDownload(CPtrList &jobs, const char *volume, const char *folder,
                             const char *name, const char *id) {
    if (IsDemoFolder(folder))
        return CBuffer::BuildDownload(jobs, volume, folder, name, id);
    if (IsEmpty() || !IsPostScriptNameSafe(name) ||
        !IsSafePostScriptData(Bytes(*this), Size(*this)))
        return 0;
    PostScriptPieces pieces;
    bool complete = true;
    for (int i = 0; i < 7; ++i) {
        pieces[static_cast<std::size_t>(i)] = ReadPiece(i + 1);
        complete = complete && !pieces[static_cast<std::size_t>(i)].empty();
    }
    if (!complete)
        return 0;
    return AddStream(jobs,
                     BuildPostScriptFormStream(Bytes(*this), Size(*this), volume, name, pieces));
}

// ---- CMacro ----

int CMacro::ShowProperties(CListCtrl &list) {
    const int rows = CBuffer::ShowProperties(list);
    list.SetItemText(0, 1, StringOf(IDS_KIND_MACRO_FILE).c_str());
    return rows;
}

DWORD CMacro::BuildDownload(CPtrList &jobs, const char *volume, const char *folder,
                            const char *name, const char *id) {
    if (IsEmpty())
        return 0;
    return AddStream(jobs, BuildMacroStream(Bytes(*this), Size(*this), volume, folder, name, id));
}

// ---- CICMFile ----

int CICMFile::ShowProperties(CListCtrl &list) {
    int row = CBuffer::ShowProperties(list);
    list.SetItemText(0, 1, StringOf(IDS_KIND_COLOUR_PROFILE).c_str());
    const ProfileRows codes = DecodeProfileName(m_rowName);
    char profile[300];
    std::snprintf(profile, sizeof profile, StringOf(IDS_USER_PROFILE).c_str(), codes.userProfile);
    row = AddRow(*this, list, row, IDS_PROP_PROFILE_NAME, profile);
    row = AddRow(*this, list, row, IDS_PROP_DESCRIPTION,
                 ProfileDescription(Bytes(*this), Size(*this)));
    row = AddRow(*this, list, row, IDS_PROP_SCREEN, StringOf(static_cast<UINT>(codes.screen)));
    row = AddRow(*this, list, row, IDS_PROP_RESOLUTION,
                 StringOf(static_cast<UINT>(codes.resolution)));
    row = AddRow(*this, list, row, IDS_PROP_MEDIA, StringOf(static_cast<UINT>(codes.media)));
    return row;
}

DWORD CICMFile::BuildDownload(CPtrList &jobs, const char *volume, const char *folder,
                              const char *name, const char *id) {
    if (IsEmpty())
        return 0;
    return AddStream(jobs, BuildProfileStream(Bytes(*this), Size(*this), volume, folder, name, id));
}

#include "macrofile.h"

#include <cstring>

#include "buffer.h"
#include "framework.h"
#include "helpers.h"
#include "resource_ids.h"

namespace {

constexpr std::size_t kFlagFileSize = 112;

// A box of the main window, which takes the focus first.
void ShowMainWindowBox(const std::string &text, UINT flags, UINT captionId) {
    char caption[260];
    LoadResString(captionId, caption);
    CWnd none;
    CWnd *owner = AfxGetMainWnd() ? AfxGetMainWnd() : &none;
    if (owner != &none && owner->GetSafeHwnd())
        owner->SetFocus();
    owner->MessageBox(text.c_str(), caption, flags);
}

std::string StringOf(UINT id) {
    char text[260];
    return LoadResString(id, text);
}

} // namespace

MacroFlags CMacroFile::ReadFlags() {
    MacroFlags flags;
    flags.fill(1);
    DWORD count = 0;
    const std::vector<char> bytes =
        ReadWholeFile((std::string(DataFolder) + "\\PFilters.dat").c_str(), &count);
    if (count != kFlagFileSize)
        return flags;
    for (std::size_t k = 0; k < flags.size(); ++k) {
        const auto *p = reinterpret_cast<const unsigned char *>(bytes.data() + 4 * k);
        flags[k] = (p[0] | p[1] | p[2] | p[3]) != 0 ? 1 : 0;
    }
    return flags;
}

CMacroFile::CMacroFile(const char *path) : m_path(path ? path : "") {
    const MacroFlags flags = ReadFlags();
    DWORD count = 0;
    const std::vector<char> file = path ? ReadWholeFile(path, &count) : std::vector<char>();
    m_read = !file.empty(); // an empty file gives its NUL alone
    m_reader = ReadMacroLines(reinterpret_cast<const std::uint8_t *>(file.data()), count, flags);
}

CMacroFile::~CMacroFile() = default;

int CMacroFile::SaveFilterFile(const char *path, CMBuffer &piece) {
    if (!piece.WriteToFile(path)) {
        AfxMessageBox((StringOf(IDS_CANNOT_OPEN_FILE) + path).c_str(), MB_OK | MB_SETFOREGROUND);
        return 0;
    }
    ShowMainWindowBox(StringOf(IDS_FILTER_FILE_CREATED) + path,
                      MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND, IDS_INFORMATION);
    return 1;
}

int CMacroFile::SplitMacroFile(const char *output) {
    m_firstWritten = false;
    if (!m_read) {
        AfxMessageBox((StringOf(IDS_CANNOT_OPEN_FILE) + m_path).c_str(), MB_OK | MB_SETFOREGROUND);
        return 0;
    }
    const std::string first = output ? output : "";
    const std::vector<MacroPiece> pieces = SplitMacroLines(m_reader, first);
    int written = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        // The first piece keeps its given name; the others go to the program folder.
        const bool named = i == 0 && pieces[i].name == first;
        const std::string path = named ? first : std::string(ProgramFolder) + "\\" + pieces[i].name;
        CMBuffer piece;
        piece.Append(pieces[i].bytes.data(), static_cast<DWORD>(pieces[i].bytes.size()));
        written = SaveFilterFile(path.c_str(), piece);
        if (named)
            m_firstWritten = written != 0;
    }
    return written;
}

// CMacroFile: a PCL print file read with the filter flags of PFilters.dat and cut into
// lines, written as macro piece files; the same reader gives soft fonts' lines.
#pragma once

#include <string>
#include <vector>

#include "pclfilter.h"

class CMBuffer;

class CMacroFile {
  public:
    // Reads "%s\PFilters.dat" of the data folder and the print file; a file that cannot be
    // read leaves no lines.
    explicit CMacroFile(const char *path);
    virtual ~CMacroFile();
    CMacroFile(const CMacroFile &) = delete;
    CMacroFile &operator=(const CMacroFile &) = delete;

    // Writes the pieces, the first to `output`, the others ("M%d.bin", "F%d.bin") to the
    // program folder; 1 when the last piece was written.
    int SplitMacroFile(const char *output);
    // Writes one piece and announces it; 10142 with the path when it cannot be written.
    int SaveFilterFile(const char *path, CMBuffer &piece);
    static std::string PaletteSetupString(int rgb, int bits) {
        return ::PaletteSetupString(rgb, bits);
    }

    bool IsRead() const { return m_read; }
    // Whether the last SplitMacroFile wrote a piece under the name it was given.
    bool FirstPieceWritten() const { return m_firstWritten; }
    const std::vector<CMacroLine> &Lines() const { return m_reader.lines; }

    // The flags by the one rule of every reader: exactly 112 bytes, else all 1.
    static MacroFlags ReadFlags();

  private:
    std::string m_path;
    bool m_read = false;
    bool m_firstWritten = false;
    MacroReader m_reader;
};

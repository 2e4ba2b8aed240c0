// The font metrics package: CPFMFile, one printer font metrics image of a PCL bitmapped
// soft font; CPCMFile, the list of them written as Wyr.PCM in the program folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win_owners.h"

class CPFMFile {
  public:
    // Reads the font with CMacroFile and builds its image; none when it has no descriptor.
    explicit CPFMFile(const char *fontPath);
    virtual ~CPFMFile();
    CPFMFile(const CPFMFile &) = delete;
    CPFMFile &operator=(const CPFMFile &) = delete;

    bool HasImage() const { return !m_image.empty(); }
    DWORD GetPfmSize() const { return static_cast<DWORD>(m_image.size()); }
    // Copies the image to `to`, which holds GetPfmSize bytes.
    void SerialisePfm(std::uint8_t *to) const;

  private:
    std::vector<std::uint8_t> m_image;
    win::Module m_typefaces; // gorwin.DLL as a data file
};

class CPCMFile {
  public:
    CPCMFile() = default;
    virtual ~CPCMFile();
    CPCMFile(const CPCMFile &) = delete;
    CPCMFile &operator=(const CPCMFile &) = delete;

    // Takes the entry; an entry without an image is deleted and not added.
    void Add(CPFMFile *entry);
    bool IsEmpty() const { return m_entries.empty(); }
    std::size_t GetCount() const { return m_entries.size(); }
    // The package: header, title and the images in list order; empty for no entry.
    std::vector<std::uint8_t> BuildPackage() const;

  private:
    std::vector<CPFMFile *> m_entries;
};

// The package of the fonts at these paths written to "Wyr.PCM" in the program folder,
// replacing an older one; nothing when none has an image. A write failure is silent.
void WritePcmPackage(const std::vector<std::string> &fontPaths);

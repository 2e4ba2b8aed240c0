// The font file kinds: PCL bitmapped soft fonts (CBMFont, .SFP), converted to the
// printer's stored font layout, and TrueType fonts (CTTFont, .TTF), stored behind a
// 112-byte font header. Both downloads first delete the folder's older fonts of the ID.
#pragma once

#include "buffer.h"

class CBMFont : public CBuffer {
  public:
    explicit CBMFont(const char *path) : CBuffer(path) {}

    // Rows of CBuffer, then the descriptor's rows.
    int ShowProperties(CListCtrl &list) override;
    // The wild delete and the stored font, as one stream at the head of the job list; its
    // length, or 0 with nothing added for a font without a usable descriptor or a target
    // the wild delete could reach beyond (see IsSafeFontTarget).
    DWORD BuildDownload(CPtrList &jobs, const char *volume, const char *folder, const char *name,
                        const char *id) override;

    // The descriptor's 16-byte font name into out (17 characters); false, with out empty,
    // when the file has no usable descriptor.
    static bool GetFontName(const CBuffer &font, char *out);
};

class CTTFont : public CBuffer {
  public:
    explicit CTTFont(const char *path);

    // Rows of CBuffer, then the font's names and its symbol set.
    int ShowProperties(CListCtrl &list) override;
    // The wild delete, the FSDOWNLOAD of header + file, header, the file unchanged, UEL; its
    // length, or 0 with nothing added for a font that cannot be converted or a target the
    // wild delete could reach beyond. A font without PCLT takes the next typeface number.
    DWORD BuildDownload(CPtrList &jobs, const char *volume, const char *folder, const char *name,
                        const char *id) override;

    // From the character map: the glyphs of 'x', 'H' and space, and the characters covered.
    void ScanCharacterMap();

    WORD m_glyphX = 0;
    WORD m_glyphH = 0;
    WORD m_glyphSpace = 0;
    DWORD m_charCount = 0;
};

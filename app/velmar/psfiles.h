// PostScript fonts and forms, stored by a PostScript program built from the program
// folder's PSFORMF1.DAT to PSFORMF7.DAT; PCL macros and demo pages, and colour-simulation
// profiles (.OP1), stored unchanged after a wild delete of the ID's older files.
#pragma once

#include <string>

#include "buffer.h"

class CPSFont : public CBuffer {
  public:
    explicit CPSFont(const char *path) : CBuffer(path) {}
    ~CPSFont() override = default;
    int ShowProperties(CListCtrl &list) override;
    // The font program at the head of the job list; 0 with nothing added for a file that is
    // no PostScript font, holds the UEL or the copy's end marker, or when a piece is missing.
    DWORD BuildDownload(CPtrList &jobs, const char *volume, const char *folder, const char *name,
                        const char *id) override;
};

class CPSForm : public CBuffer {
  public:
    explicit CPSForm(const char *path) : CBuffer(path) {}
    ~CPSForm() override = default;
    int ShowProperties(CListCtrl &list) override;
    // The form program (the generic stream in \common\demo); 0 with nothing added for an
    // unsafe form name, data holding the UEL or the marker, or a missing piece.
    DWORD BuildDownload(CPtrList &jobs, const char *volume, const char *folder, const char *name,
                        const char *id) override;
};

class CMacro : public CBuffer {
  public:
    explicit CMacro(const char *path) : CBuffer(path) {}
    int ShowProperties(CListCtrl &list) override;
    // Delete "<id>::*" in the folder, then store; 0 for an ID or target the delete could
    // reach beyond.
    DWORD BuildDownload(CPtrList &jobs, const char *volume, const char *folder, const char *name,
                        const char *id) override;
};

class CICMFile : public CBuffer {
  public:
    explicit CICMFile(const char *path) : CBuffer(path) {}
    ~CICMFile() override = default;
    // The profile's download name, whose codes the property rows decode.
    void SetRowName(const char *name) { m_rowName = name ? name : ""; }
    // Rows of CBuffer, then profile name, description, screen, resolution and media.
    int ShowProperties(CListCtrl &list) override;
    // Delete ink<id>b* and ink<id>c* in 1:\common\smaps_env\color, then store; 0 for an ID
    // that is not 1 to 9 digits or is 0, or a target text holding '"' or a control byte.
    DWORD BuildDownload(CPtrList &jobs, const char *volume, const char *folder, const char *name,
                        const char *id) override;

  private:
    std::string m_rowName;
};

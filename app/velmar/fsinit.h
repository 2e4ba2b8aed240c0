// The volume initialisation dialog (142): one volume initialised or retyped, the hard disk
// repartitioned, the flash memory initialised with a PostScript area.
#pragma once

#include "framework.h"

#include <cstdint>
#include <string>
#include <vector>

#include "partition.h"
#include "printer.h"

class CFSInitDlg : public CDialog {
  public:
    explicit CFSInitDlg(CWnd *parent = nullptr);
    BOOL OnInitDialog() override;

    // The image of a row text (see partition.h); "MIX" of a flash row becomes "PS ".
    static int GetVolumeImage(char *text);
    // The text (up to 260 characters) of the first selected row; false when none is.
    BOOL GetSelectedVolume(char *buffer);
    // 10070 with the row text, Yes/No; true on Yes.
    BOOL ConfirmInitialise(const char *text);
    // 10086: on Yes the printer reboots ("Command Issued." when sent) and the dialog ends.
    void OfferReboot();
    // Sets the PostScript area of a flash row's device; true on success.
    BOOL AssignPostScriptArea(const FsRow &row);
    // The whole disk (flash false) or the whole flash memory.
    void RepartitionDevice(bool flash);
    void HideControl(int id);
    void ShowControl(int id);

    int m_step = 1;
    int m_p3 = 0, m_p2 = 0, m_p1 = 0;
    std::uint64_t m_diskTotal = 0;
    int m_psVolume = 0;

  protected:
    void OnOK() override; // Format Partition: the dialog stays open
    void OnItemChanged(NMHDR *header, LRESULT *result);
    void OnRadio();
    void OnEntireDisk();
    void OnEntireFlash();
    void OnSpin(NMHDR *header, LRESULT *result);
    void OnHelp();
    void OnDestroy();
    DECLARE_MESSAGE_MAP()

  private:
    CListCtrl *List();
    // The row data of the first selected row, or null; `index` gets its row.
    const FsRow *SelectedRow(int *index = nullptr);
    std::vector<FsRow> AllRows();
    int CheckedRadio();
    bool AttributesRead() const;
    const char *Attribute(int slot) const;
    Percentages ReadPercentages();
    void ShowPercentages(const Percentages &p);
    void ShowPartitionControls(bool show);
    void ShowFlashSizeControls(bool show);
    // Sends a stream; when it went, offers the reboot and closes the printer windows.
    void SendAndOffer(const void *data, DWORD length);

    CAPrinter *m_printer = nullptr;
};

// The small modal dialogs of the commands: the printer list, file details, the chooser of
// one entry, one text value, the print-file filter flags, and the About box.
#pragma once

#include "framework.h"

#include "commands.h"
#include "stream.h"

class CAPrinter;

// The help context command of the help file.
constexpr UINT kHelpContextCommand = 0x000F;

// Dialog 100.
class CAboutDlg : public CDialog {
  public:
    explicit CAboutDlg(CWnd *parent = nullptr);
    BOOL OnInitDialog() override;
};

// Dialog 124: the network printers the user adds by name and address. Each added printer
// also gets a printer-bar row and joins `printers`; a removed one leaves both and is
// destroyed (after the printer windows are closed).
class CAddPrinter : public CDialog {
  public:
    CAddPrinter(CPtrList *printers, CWnd *parent = nullptr);
    BOOL OnInitDialog() override;
    // A row whose name the list finds (without case) holds exactly this address.
    BOOL IsDuplicate(const char *name, const char *address);

    CPtrList *m_printers;

  protected:
    void OnAddPrinter();
    void OnRemovePrinter();
    void OnChangeName();
    void OnItemChangedList(NMHDR *header, LRESULT *result);
    void OnHelp();
    DECLARE_MESSAGE_MAP()

  private:
    CListCtrl *List() const;
    void Refuse(int field);
};

// Dialog 125: name, identifier, volume and path of one project entry.
class CEditNameAndId : public CDialog {
  public:
    explicit CEditNameAndId(CWnd *parent = nullptr);
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange *pDX) override;

    BOOL m_nameLocked = FALSE;
    BOOL m_idLocked = FALSE;
    CString m_name;
    CString m_id;
    CString m_volume;
    CString m_path;

  protected:
    void OnChangeName();
    void OnChangeId();
    void OnHelp();
    DECLARE_MESSAGE_MAP()
};

// Dialog 145: one entry of a list (mode 1 PostScript form, 2 PostScript font, 3 demo page).
// The dialog empties m_entries (a string list), however it ends.
class CGetDemo : public CDialog {
  public:
    explicit CGetDemo(CWnd *parent = nullptr);
    ~CGetDemo() override;
    BOOL OnInitDialog() override;
    void OnOK() override;

    int m_mode = 3;
    char m_chosen[kMaxPathText + 1] = {};
    CPtrList *m_entries = nullptr;

  protected:
    void OnItemChangedList(NMHDR *header, LRESULT *result);
    void OnHelp();
    DECLARE_MESSAGE_MAP()

  private:
    void EmptyEntries();
};

// Runs CGetDemo as the printer queries' chooser.
INT_PTR RunEntryChooser(int mode, CPtrList &entries, char *chosen);

// Dialog 143: one text value, two labels and, with m_check set, the form-feed box.
class CParamDlg : public CDialog {
  public:
    explicit CParamDlg(CWnd *parent = nullptr);
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange *pDX) override;

    CString m_title;
    CString m_value;
    CString m_label1;
    CString m_label2;
    int m_check = 0;

  protected:
    void OnChangeValue();
    void OnHelp();
    DECLARE_MESSAGE_MAP()
};

// Dialog 134: the 28 flags of the print-file filter.
class CPCLFilters : public CDialog {
  public:
    explicit CPCLFilters(CWnd *parent = nullptr);
    void DoDataExchange(CDataExchange *pDX) override;

    FilterFlags m_flags{};
    // The check box of each flag, in flag order.
    static const int kBoxes[kFilterFlagCount];

  protected:
    void OnDefault();
    void OnHelp();
    DECLARE_MESSAGE_MAP()
};

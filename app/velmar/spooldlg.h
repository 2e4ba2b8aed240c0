// The held print jobs of one printer (dialog 132): a user's jobs by PIN, every job for
// the administrator; print or cancel the selected ones.
#pragma once

#include <string>
#include <vector>

#include "framework.h"

#include "spooljobs.h"

class CAPrinter;

class CSpoolDlg : public CDialog {
  public:
    explicit CSpoolDlg(CAPrinter *printer, CWnd *parent = nullptr);
    ~CSpoolDlg() override;
    INT_PTR DoModal() override;
    BOOL OnInitDialog() override;

    static SpoolJob ParseJobLine(const char *line);
    // One row for `job`, which the row keeps whole (ID and Stored are used from it).
    void AddJobRow(const SpoolJob &job);
    // Re-reads the list: every job (all) or the PIN's jobs.
    void RefreshJobList(bool all);
    // The command for each selected row; the last command's result, or 0 when a printed
    // row was stored.
    BOOL ApplyToSelectedJobs(bool cancel, int copies);
    // The copies to print: -1 when the question was cancelled, 0 for no quantity.
    int AskCopies();

    char m_pinLimit = '7';
    char m_proofText[260] = {};
    char m_secureText[260] = {};
    char m_storedPassword[9] = {};
    CAPrinter *m_printer;

  protected:
    void OnPasswordChange();
    void OnPinChange();
    void OnViewUser();
    void OnViewAll();
    void OnApplyPassword();
    void OnApplyPin();
    void OnShowProof();
    void OnShowSecure();
    void OnPrintJobs();
    void OnCancelJobs();
    void OnItemChangedList(NMHDR *header, LRESULT *result);
    void OnHelp();
    DECLARE_MESSAGE_MAP()

  private:
    CListCtrl *List() const;
    void EnableItem(int id, BOOL enable);
    std::string PinText() const;
    void Reread();
    std::vector<SpoolJob> m_jobs; // the rows' jobs, by item data
    bool m_initialising = false;
};

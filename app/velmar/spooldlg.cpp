// The held print jobs dialog.
#include "spooldlg.h"

#include <cstring>
#include <string>

#include "admin.h"
#include "dialogs.h"
#include "helpers.h"
#include "printer.h"
#include "resource_ids.h"
#include "zqapp.h"

namespace {

constexpr DWORD_PTR kHelpSpoolJobs = 13;

void ShowString(UINT id, UINT type) {
    char text[260];
    AfxMessageBox(LoadResString(id, text), type);
}

} // namespace

void CZqApp::OnHddPrintJobs() {
    CAPrinter *printer = GetCurrentPrinter();
    if (!printer)
        return;
    CSpoolDlg dialog(printer, m_pMainWnd);
    dialog.DoModal();
}

BEGIN_MESSAGE_MAP(CSpoolDlg, CDialog)
ON_EN_CHANGE(IDC_SPOOL_PASSWORD, OnPasswordChange)
ON_EN_CHANGE(IDC_SPOOL_PIN, OnPinChange)
ON_BN_CLICKED(IDC_SPOOL_VIEW_USER, OnViewUser)
ON_BN_CLICKED(IDC_SPOOL_VIEW_ALL, OnViewAll)
ON_BN_CLICKED(IDC_SPOOL_APPLY_PASSWORD, OnApplyPassword)
ON_BN_CLICKED(IDC_SPOOL_APPLY_PIN, OnApplyPin)
ON_BN_CLICKED(IDC_SPOOL_SHOW_PROOF, OnShowProof)
ON_BN_CLICKED(IDC_SPOOL_SHOW_SECURE, OnShowSecure)
ON_BN_CLICKED(IDC_SPOOL_PRINT, OnPrintJobs)
ON_BN_CLICKED(IDC_SPOOL_CANCEL, OnCancelJobs)
ON_NOTIFY(LVN_ITEMCHANGED, IDC_SPOOL_JOB_LIST, OnItemChangedList)
ON_BN_CLICKED(IDC_DIALOG_HELP, OnHelp)
END_MESSAGE_MAP()

CSpoolDlg::CSpoolDlg(CAPrinter *printer, CWnd *parent)
    : CDialog(IDD_SPOOL_JOBS, parent), m_printer(printer) {}

CSpoolDlg::~CSpoolDlg() {
    SecureZeroMemory(m_storedPassword, sizeof m_storedPassword);
}

INT_PTR CSpoolDlg::DoModal() {
    const INT_PTR result = CDialog::DoModal();
    SecureZeroMemory(m_storedPassword, sizeof m_storedPassword);
    return result;
}

CListCtrl *CSpoolDlg::List() const {
    return static_cast<CListCtrl *>(GetDlgItem(IDC_SPOOL_JOB_LIST));
}

void CSpoolDlg::EnableItem(int id, BOOL enable) {
    if (CWnd *control = GetDlgItem(id))
        control->EnableWindow(enable);
}

std::string CSpoolDlg::PinText() const {
    CString text;
    GetDlgItemText(IDC_SPOOL_PIN, text);
    std::string pin(text);
    if (pin.size() > 260)
        pin.resize(260);
    return pin;
}

BOOL CSpoolDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    LoadResString(IDS_PROOF, m_proofText);
    LoadResString(IDS_SECURE, m_secureText);
    if (CListCtrl *list = List()) {
        char names[260];
        const std::string columns = LoadResString(IDS_HELD_JOB_COLUMNS, names);
        static const int kWidths[] = {240, 60, 60, 60, 60};
        std::size_t start = 0;
        for (int col = 0; col < 5 && start <= columns.size(); ++col) {
            std::size_t comma = columns.find(',', start);
            if (comma == std::string::npos)
                comma = columns.size();
            list->InsertColumn(col, columns.substr(start, comma - start).c_str(), LVCFMT_LEFT,
                               kWidths[col], col);
            start = comma + 1;
        }
    }
    for (int id : {IDC_SPOOL_PASSWORD, IDC_SPOOL_PIN})
        if (auto *edit = static_cast<CEdit *>(GetDlgItem(id)))
            edit->SetPasswordChar('*');

    CZqApp &app = ZqApp();
    if (app.m_adminLoggedIn) {
        std::memcpy(m_storedPassword, app.m_adminPassword, sizeof m_storedPassword);
        m_storedPassword[8] = '\0';
        m_initialising = true;
        SetDlgItemText(IDC_SPOOL_PASSWORD, m_storedPassword);
        m_initialising = false;
    } else {
        ReadPasswordFile(m_storedPassword);
    }
    CheckDlgButton(IDC_SPOOL_SHOW_PROOF, app.m_showProof ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_SPOOL_SHOW_SECURE, app.m_showSecure ? BST_CHECKED : BST_UNCHECKED);
    EnableItem(IDC_SPOOL_PRINT, FALSE);
    EnableItem(IDC_SPOOL_CANCEL, FALSE);
    EnableItem(IDC_SPOOL_APPLY_PIN, FALSE);
    EnableItem(IDC_SPOOL_APPLY_PASSWORD, app.m_adminLoggedIn);

    if (!m_printer || (m_printer->m_attrState == 0 && m_printer->QueryAttributes() != 0)) {
        EndDialog(IDCANCEL);
        return TRUE;
    }
    m_pinLimit = '7';
    if (m_printer->m_attrState == 2) {
        m_pinLimit = '9';
        char range[260];
        SetDlgItemText(IDC_SPOOL_PIN_RANGE, LoadResString(IDS_PIN_RANGE_9999, range));
    }
    return TRUE;
}

SpoolJob CSpoolDlg::ParseJobLine(const char *line) {
    return ParseSpoolJobLine(line ? line : "");
}

void CSpoolDlg::AddJobRow(const SpoolJob &job) {
    CListCtrl *list = List();
    if (!list)
        return;
    m_jobs.push_back(job);
    const int row = list->InsertItem(LVIF_TEXT | LVIF_PARAM, list->GetItemCount(), job.name.c_str(),
                                     0, 0, 0, static_cast<LPARAM>(m_jobs.size() - 1));
    if (row < 0)
        return;
    list->SetItemText(row, 1, job.id.c_str());
    list->SetItemText(row, 2, job.type == "SECURE" ? m_secureText : m_proofText);
    list->SetItemText(row, 3, job.copies.c_str());
    if (!job.stored.empty())
        list->SetItemText(row, 4, job.stored.c_str());
}

void CSpoolDlg::RefreshJobList(bool all) {
    CZqApp &app = ZqApp();
    CListCtrl *list = List();
    if (list)
        list->DeleteAllItems();
    m_jobs.clear();
    CheckDlgButton(IDC_SPOOL_SHOW_PROOF, app.m_showProof ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_SPOOL_SHOW_SECURE, app.m_showSecure ? BST_CHECKED : BST_UNCHECKED);
    CTextList lines;
    int failed = 1;
    if (all) {
        failed = m_printer->ListCompelSpoolJobs(lines);
    } else if (app.m_showProof || app.m_showSecure) {
        const std::string pin = PinText();
        if (pin.size() == 4) {
            if (std::strcmp(app.m_pin, pin.c_str()) != 0) {
                std::memcpy(app.m_pin, pin.c_str(), 5);
                app.SaveSettings();
            }
            failed = m_printer->ListSpoolJobs(lines, app.m_pin);
        }
    }
    if (!failed) {
        for (const std::string &line : lines.Texts()) {
            const SpoolJob job = ParseSpoolJobLine(line);
            if (IsSpoolJobShown(job.type, app.m_showProof != FALSE, app.m_showSecure != FALSE))
                AddJobRow(job);
        }
    }
    // Deleting the rows sends no change notification: the buttons wait for a selection.
    EnableItem(IDC_SPOOL_PRINT, FALSE);
    EnableItem(IDC_SPOOL_CANCEL, FALSE);
}

BOOL CSpoolDlg::ApplyToSelectedJobs(bool cancel, int copies) {
    CListCtrl *list = List();
    if (!list)
        return FALSE;
    CZqApp &app = ZqApp();
    BOOL last = FALSE;
    bool any = false, storedPrinted = false;
    const int rows = list->GetItemCount();
    for (int row = list->GetNextItem(-1, LVNI_SELECTED); row >= 0 && row < rows;
         row = list->GetNextItem(row, LVNI_SELECTED)) {
        const DWORD_PTR index = list->GetItemData(row);
        if (index >= m_jobs.size())
            continue;
        const SpoolJob &job = m_jobs[index];
        if (app.m_adminLoggedIn)
            last = cancel ? m_printer->CompelCancelSpoolJob(job.id.c_str())
                          : m_printer->CompelPrintSpoolJob(job.id.c_str(), copies);
        else
            last = cancel ? m_printer->CancelSpoolJob(app.m_pin, job.id.c_str())
                          : m_printer->PrintSpoolJob(app.m_pin, job.id.c_str(), copies);
        if (!cancel && job.stored == "ON")
            storedPrinted = true;
        any = true;
    }
    if (any && last)
        ShowString(IDS_COMMAND_ISSUED, MB_OK | MB_ICONINFORMATION);
    return storedPrinted ? FALSE : last;
}

int CSpoolDlg::AskCopies() {
    if (m_printer->m_attrState == 0)
        m_printer->QueryAttributes();
    if (_stricmp(m_printer->m_attr[kAttrNumPrint], "ENABLE") != 0)
        return 0;
    char text[260];
    CParamDlg dialog(this);
    dialog.m_title = LoadResString(IDS_PRINT_JOBS_TITLE, text);
    dialog.m_label1 = "";
    dialog.m_label2 = LoadResString(IDS_COPIES, text);
    dialog.m_check = 0;
    dialog.m_value = "1";
    if (dialog.DoModal() != IDOK)
        return -1;
    return ParseCopies(std::string(dialog.m_value));
}

void CSpoolDlg::OnPasswordChange() {
    if (m_initialising)
        return;
    if (ZqApp().m_adminLoggedIn) {
        EnableItem(IDC_SPOOL_APPLY_PASSWORD, TRUE);
        return;
    }
    if (HandleLoginEdit(*this, IDC_SPOOL_PASSWORD, m_storedPassword))
        EnableItem(IDC_SPOOL_APPLY_PASSWORD, TRUE);
}

void CSpoolDlg::OnPinChange() {
    const std::string typed = PinText();
    const PinPass pass = FilterPinText(typed, m_pinLimit);
    for (int i = 0; i < pass.beeps; ++i)
        AfxBeep(MB_OK);
    if (pass.text != typed) {
        // Putting the text back notifies again; that pass sees a clean text and stops.
        SetDlgItemText(IDC_SPOOL_PIN, pass.text.c_str());
        if (auto *edit = static_cast<CEdit *>(GetDlgItem(IDC_SPOOL_PIN)))
            edit->SetSel(static_cast<int>(pass.text.size()), static_cast<int>(pass.text.size()));
    }
    CZqApp &app = ZqApp();
    const bool complete = pass.text.size() == 4;
    CheckDlgButton(IDC_SPOOL_VIEW_USER, complete ? BST_CHECKED : BST_UNCHECKED);
    if (complete)
        CheckDlgButton(IDC_SPOOL_VIEW_ALL, BST_UNCHECKED);
    else if (app.m_adminLoggedIn)
        CheckDlgButton(IDC_SPOOL_VIEW_ALL, BST_CHECKED);
    EnableItem(IDC_SPOOL_APPLY_PIN, complete);
    if (complete && std::strcmp(app.m_pin, pass.text.c_str()) != 0) {
        std::memcpy(app.m_pin, pass.text.c_str(), 5);
        app.SaveSettings();
    }
}

void CSpoolDlg::OnViewUser() {
    EnableItem(IDC_SPOOL_APPLY_PIN, PinText().size() == 4);
    EnableItem(IDC_SPOOL_PIN, TRUE);
    EnableItem(IDC_SPOOL_PASSWORD, FALSE);
    if (CWnd *edit = GetDlgItem(IDC_SPOOL_PIN))
        edit->SetFocus();
}

void CSpoolDlg::OnViewAll() {
    if (ZqApp().m_adminLoggedIn)
        CheckDlgButton(IDC_SPOOL_VIEW_ALL, BST_CHECKED);
    else
        EnableItem(IDC_SPOOL_PASSWORD, TRUE);
    EnableItem(IDC_SPOOL_PIN, FALSE);
    if (CWnd *edit = GetDlgItem(IDC_SPOOL_PASSWORD))
        edit->SetFocus();
}

void CSpoolDlg::OnApplyPassword() {
    if (!ZqApp().m_adminLoggedIn)
        return;
    CheckDlgButton(IDC_SPOOL_VIEW_ALL, BST_CHECKED);
    CheckDlgButton(IDC_SPOOL_VIEW_USER, BST_UNCHECKED);
    RefreshJobList(true);
}

void CSpoolDlg::OnApplyPin() {
    CheckDlgButton(IDC_SPOOL_VIEW_ALL, BST_UNCHECKED);
    CheckDlgButton(IDC_SPOOL_VIEW_USER, BST_CHECKED);
    RefreshJobList(false);
}

void CSpoolDlg::OnShowProof() {
    ZqApp().m_showProof = IsDlgButtonChecked(IDC_SPOOL_SHOW_PROOF) == BST_CHECKED;
    ZqApp().SaveSettings();
}

void CSpoolDlg::OnShowSecure() {
    ZqApp().m_showSecure = IsDlgButtonChecked(IDC_SPOOL_SHOW_SECURE) == BST_CHECKED;
    ZqApp().SaveSettings();
}

void CSpoolDlg::Reread() {
    RefreshJobList(ZqApp().m_adminLoggedIn &&
                   IsDlgButtonChecked(IDC_SPOOL_VIEW_ALL) == BST_CHECKED);
}

void CSpoolDlg::OnPrintJobs() {
    const int copies = AskCopies();
    if (copies < 0)
        return;
    if (ApplyToSelectedJobs(false, copies))
        Reread();
}

void CSpoolDlg::OnCancelJobs() {
    if (ApplyToSelectedJobs(true, 0))
        Reread();
}

void CSpoolDlg::OnItemChangedList(NMHDR *, LRESULT *result) {
    CListCtrl *list = List();
    const BOOL selected = list && list->GetSelectedCount() > 0;
    EnableItem(IDC_SPOOL_PRINT, selected);
    EnableItem(IDC_SPOOL_CANCEL, selected);
    if (result)
        *result = 0;
}

void CSpoolDlg::OnHelp() {
    AfxGetApp()->HtmlHelp(kHelpSpoolJobs, kHelpContextCommand);
}

// The small modal dialogs of the commands.
#include "dialogs.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "helpers.h"
#include "printer.h"
#include "resource_ids.h"
#include "text.h"
#include "zqapp.h"

namespace {

void ShowHelp(DWORD_PTR context) {
    AfxGetApp()->HtmlHelp(context, kHelpContextCommand);
}

std::string ControlText(const CWnd &dialog, int id) {
    CString text;
    dialog.GetDlgItemText(id, text);
    return std::string(text);
}

void EnableControl(CWnd &dialog, int id, BOOL enable) {
    if (CWnd *control = dialog.GetDlgItem(id))
        control->EnableWindow(enable);
}

} // namespace

// ---------------------------------------------------------------------------------------
// CAboutDlg

CAboutDlg::CAboutDlg(CWnd *parent) : CDialog(IDD_ABOUTBOX, parent) {}

BOOL CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    char name[260];
    SetDlgItemText(IDC_ABOUT_VERSION,
                   (std::string(LoadResString(IDS_PRODUCT_NAME, name)) + " 2.2.0.10").c_str());
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%s  %s", __DATE__, __TIME__);
    SetDlgItemText(IDC_ABOUT_BUILD, stamp);
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// CAddPrinter

BEGIN_MESSAGE_MAP(CAddPrinter, CDialog)
ON_BN_CLICKED(IDC_ADD_PRINTER, OnAddPrinter)
ON_BN_CLICKED(IDC_REMOVE_PRINTER, OnRemovePrinter)
ON_EN_CHANGE(IDC_PRINTER_NAME, OnChangeName)
ON_NOTIFY(LVN_ITEMCHANGED, IDC_PRINTER_LIST_VIEW, OnItemChangedList)
ON_BN_CLICKED(IDC_DIALOG_HELP, OnHelp)
END_MESSAGE_MAP()

CAddPrinter::CAddPrinter(CPtrList *printers, CWnd *parent)
    : CDialog(IDD_ADD_PRINTER, parent), m_printers(printers) {}

CListCtrl *CAddPrinter::List() const {
    return static_cast<CListCtrl *>(GetDlgItem(IDC_PRINTER_LIST_VIEW));
}

BOOL CAddPrinter::OnInitDialog() {
    CDialog::OnInitDialog();
    if (CWnd *name = GetDlgItem(IDC_PRINTER_NAME))
        name->SendMessage(EM_LIMITTEXT, 200);
    CListCtrl *list = List();
    if (!list)
        return TRUE;
    list->SetImageList(&ZqApp().m_smallImages, LVSIL_SMALL);
    char heading[260];
    list->InsertColumn(0, LoadResString(IDS_COL_PRINTER_NAME, heading), LVCFMT_LEFT, 125);
    list->InsertColumn(1, LoadResString(IDS_COL_IP_ADDRESS, heading), LVCFMT_LEFT, 125, 1);
    if (m_printers) {
        for (POSITION pos = m_printers->GetHeadPosition(); pos;) {
            auto *printer = static_cast<CAPrinter *>(m_printers->GetNext(pos));
            const int row = list->InsertItem(LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM,
                                             list->GetItemCount(), printer->m_displayName, 0, 0, 1,
                                             reinterpret_cast<LPARAM>(printer));
            if (row >= 0)
                list->SetItemText(row, 1, printer->m_displayAddress);
        }
    }
    return TRUE;
}

BOOL CAddPrinter::IsDuplicate(const char *name, const char *address) {
    CListCtrl *list = List();
    if (!list)
        return FALSE;
    LVFINDINFOA find = {};
    find.flags = LVFI_STRING;
    find.psz = name;
    const int rows = list->GetItemCount();
    for (int from = -1, n = 0; n <= rows; ++n) {
        const int row = list->FindItem(&find, from);
        if (row < 0 || row <= from)
            break;
        if (std::string(list->GetItemText(row, 1)) == address)
            return TRUE;
        from = row;
    }
    return FALSE;
}

void CAddPrinter::Refuse(int field) {
    char text[260];
    AfxMessageBox(LoadResString(IDS_OPERATION_FAILED, text));
    if (CWnd *control = GetDlgItem(field))
        control->SetFocus();
}

void CAddPrinter::OnAddPrinter() {
    CListCtrl *list = List();
    if (!list)
        return;
    const std::string name = ControlText(*this, IDC_PRINTER_NAME);
    if (!IsStorablePrinterName(name)) {
        Refuse(IDC_PRINTER_NAME);
        return;
    }
    CWnd *field = GetDlgItem(IDC_PRINTER_IP_ADDRESS);
    if (!field || field->SendMessage(IPM_ISBLANK) != 0) {
        Refuse(IDC_PRINTER_IP_ADDRESS);
        return;
    }
    const std::string address = ControlText(*this, IDC_PRINTER_IP_ADDRESS);
    if (IsDuplicate(name.c_str(), address.c_str())) {
        char text[260];
        AfxMessageBox(LoadResString(IDS_PRINTER_EXISTS, text));
        return;
    }
    auto *printer = new CAPrinter(DiscoveredPrinter{address.c_str(), name.c_str()});
    const int row = list->InsertItem(LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM, list->GetItemCount(),
                                     name.c_str(), 0, 0, 1, reinterpret_cast<LPARAM>(printer));
    if (row >= 0)
        list->SetItemText(row, 1, address.c_str());
    ZqApp().AppendPrinterRow(printer);
    if (m_printers)
        m_printers->AddTail(printer);
}

void CAddPrinter::OnRemovePrinter() {
    CListCtrl *list = List();
    if (!list || list->GetNextItem(-1, LVNI_SELECTED) < 0)
        return;
    // A printer window may hold a printer about to go.
    ZqApp().CloseResourceWindows();
    for (int row = list->GetNextItem(-1, LVNI_SELECTED); row >= 0;
         row = list->GetNextItem(-1, LVNI_SELECTED)) {
        auto *printer = reinterpret_cast<CAPrinter *>(list->GetItemData(row));
        if (!list->DeleteItem(row))
            break;
        ZqApp().RemovePrinterRow(printer);
        if (m_printers) {
            if (POSITION pos = m_printers->Find(printer))
                m_printers->RemoveAt(pos);
        }
        delete printer;
    }
    EnableControl(*this, IDC_REMOVE_PRINTER, FALSE);
}

void CAddPrinter::OnChangeName() {
    CWnd *name = GetDlgItem(IDC_PRINTER_NAME);
    EnableControl(*this, IDC_ADD_PRINTER, name && name->GetWindowTextLength() > 0);
}

void CAddPrinter::OnItemChangedList(NMHDR *, LRESULT *result) {
    CListCtrl *list = List();
    EnableControl(*this, IDC_REMOVE_PRINTER, list && list->GetSelectedCount() > 0);
    if (result)
        *result = 0;
}

void CAddPrinter::OnHelp() {
    ShowHelp(4);
}

// ---------------------------------------------------------------------------------------
// CEditNameAndId

BEGIN_MESSAGE_MAP(CEditNameAndId, CDialog)
ON_EN_CHANGE(IDC_DETAIL_NAME, OnChangeName)
ON_EN_CHANGE(IDC_DETAIL_ID, OnChangeId)
ON_BN_CLICKED(IDC_DIALOG_HELP, OnHelp)
END_MESSAGE_MAP()

CEditNameAndId::CEditNameAndId(CWnd *parent) : CDialog(IDD_EDIT_NAME_ID, parent) {}

void CEditNameAndId::DoDataExchange(CDataExchange *pDX) {
    DDX_Text(pDX, IDC_DETAIL_NAME, m_name);
    DDX_Text(pDX, IDC_DETAIL_ID, m_id);
    DDX_Text(pDX, IDC_DETAIL_VOLUME, m_volume);
    DDX_Text(pDX, IDC_DETAIL_PATH, m_path);
}

BOOL CEditNameAndId::OnInitDialog() {
    CDialog::OnInitDialog();
    EnableControl(*this, IDC_DETAIL_ID, !(m_idLocked || m_path == "\\common\\demo"));
    EnableControl(*this, IDC_DETAIL_NAME, !m_nameLocked);
    return TRUE;
}

void CEditNameAndId::OnChangeId() {
    const std::string text = ControlText(*this, IDC_DETAIL_ID);
    const std::string shown = ClampIdentifierText(text);
    if (shown != text)
        SetDlgItemText(IDC_DETAIL_ID, shown.c_str());
}

void CEditNameAndId::OnChangeName() {
    if (IsDemoPageName(ControlText(*this, IDC_DETAIL_NAME))) {
        SetDlgItemText(IDC_DETAIL_PATH, "\\common\\demo");
        SetDlgItemText(IDC_DETAIL_VOLUME, "1:");
    }
}

void CEditNameAndId::OnHelp() {
    ShowHelp(33);
}

// ---------------------------------------------------------------------------------------
// CGetDemo

BEGIN_MESSAGE_MAP(CGetDemo, CDialog)
ON_NOTIFY(LVN_ITEMCHANGED, IDC_DEMO_LIST, OnItemChangedList)
ON_BN_CLICKED(IDC_DIALOG_HELP, OnHelp)
END_MESSAGE_MAP()

CGetDemo::CGetDemo(CWnd *parent) : CDialog(IDD_GET_DEMO, parent) {}

CGetDemo::~CGetDemo() {
    EmptyEntries();
}

void CGetDemo::EmptyEntries() {
    if (!m_entries)
        return;
    while (!m_entries->IsEmpty())
        DeleteListText(m_entries->RemoveHead());
}

BOOL CGetDemo::OnInitDialog() {
    CDialog::OnInitDialog();
    std::vector<std::string> entries;
    if (m_entries)
        for (POSITION pos = m_entries->GetHeadPosition(); pos;)
            entries.emplace_back(static_cast<const char *>(m_entries->GetNext(pos)));
    EmptyEntries();

    auto *list = static_cast<CListCtrl *>(GetDlgItem(IDC_DEMO_LIST));
    if (!list) {
        EndDialog(IDCANCEL);
        return TRUE;
    }
    list->DeleteAllItems();
    CRect client;
    list->GetClientRect(&client);
    list->InsertColumn(0, "", LVCFMT_LEFT, client.Width());

    bool endsAtOnce = false;
    const std::vector<std::string> rows = ChooserRows(m_mode, entries, endsAtOnce);
    if (m_mode == kChooseForm || m_mode == kChooseFont) {
        char title[260];
        SetWindowText(LoadResString(
            m_mode == kChooseForm ? IDS_TEST_POSTSCRIPT_FORM : IDS_PS_FONT_SAMPLE, title));
        EnableControl(*this, IDOK, !rows.empty());
    } else if (endsAtOnce) {
        CopyStringN(m_chosen, "DEMO1", sizeof m_chosen - 1);
        EndDialog(IDOK);
        return TRUE;
    }
    for (const std::string &row : rows)
        list->InsertItem(list->GetItemCount(), row.c_str());
    if (!rows.empty())
        list->SetItemState(0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    return TRUE;
}

void CGetDemo::OnItemChangedList(NMHDR *, LRESULT *result) {
    auto *list = static_cast<CListCtrl *>(GetDlgItem(IDC_DEMO_LIST));
    if (result)
        *result = 0;
    if (!list)
        return;
    const int selected = list->GetNextItem(-1, LVNI_SELECTED);
    EnableControl(*this, IDOK, selected >= 0);
    if (selected >= 0) {
        if (!(list->GetItemState(selected, LVIS_FOCUSED) & LVIS_FOCUSED))
            list->SetItemState(selected, LVIS_FOCUSED, LVIS_FOCUSED);
    } else {
        const int focused = list->GetNextItem(-1, LVNI_FOCUSED);
        if (focused >= 0)
            list->SetItemState(focused, 0, LVIS_FOCUSED);
    }
}

void CGetDemo::OnOK() {
    auto *list = static_cast<CListCtrl *>(GetDlgItem(IDC_DEMO_LIST));
    if (!list)
        return;
    int row = list->GetNextItem(-1, LVNI_SELECTED);
    if (row < 0)
        row = list->GetNextItem(-1, LVNI_FOCUSED);
    if (row < 0)
        return; // nothing to choose
    list->GetItemText(row, 0, m_chosen, sizeof m_chosen);
    EndDialog(IDOK);
}

void CGetDemo::OnHelp() {
    ShowHelp(m_mode == kChooseForm ? 38 : m_mode == kChooseFont ? 42 : 16);
}

INT_PTR RunEntryChooser(int mode, CPtrList &entries, char *chosen) {
    INT_PTR result = IDCANCEL;
    {
        CGetDemo dialog(AfxGetMainWnd());
        dialog.m_mode = mode;
        dialog.m_entries = &entries;
        result = dialog.DoModal();
        if (result == IDOK && chosen)
            CopyStringN(chosen, dialog.m_chosen, kMaxPathText);
    } // the dialog empties the list, also when it could not be shown
    if (result != IDOK && chosen)
        chosen[0] = '\0';
    return result == IDOK ? IDOK : IDCANCEL;
}

// ---------------------------------------------------------------------------------------
// CParamDlg

BEGIN_MESSAGE_MAP(CParamDlg, CDialog)
ON_EN_CHANGE(IDC_PARAM_VALUE, OnChangeValue)
ON_BN_CLICKED(IDC_DIALOG_HELP, OnHelp)
END_MESSAGE_MAP()

CParamDlg::CParamDlg(CWnd *parent) : CDialog(IDD_PARAMETER, parent) {}

void CParamDlg::DoDataExchange(CDataExchange *pDX) {
    DDX_Text(pDX, IDC_PARAM_VALUE, m_value);
    if (m_check || pDX->m_bSaveAndValidate) {
        int checked = m_check ? 1 : 0;
        DDX_Check(pDX, IDC_PARAM_CHECK, checked);
        if (pDX->m_bSaveAndValidate)
            m_check = checked == BST_CHECKED ? 1 : 0;
    }
}

BOOL CParamDlg::OnInitDialog() {
    SetWindowText(m_title);
    SetDlgItemText(IDC_PARAM_LABEL_1, m_label1);
    SetDlgItemText(IDC_PARAM_LABEL_2, m_label2);
    CDialog::OnInitDialog();
    if (CWnd *box = GetDlgItem(IDC_PARAM_CHECK)) {
        if (m_check) {
            char text[260];
            box->SetWindowText(LoadResString(IDS_ADD_FORM_FEED, text));
            box->ShowWindow(SW_SHOW);
        } else {
            box->ShowWindow(SW_HIDE);
        }
    }
    EnableControl(*this, IDOK, !m_value.IsEmpty());
    return TRUE;
}

void CParamDlg::OnChangeValue() {
    const std::string text = ControlText(*this, IDC_PARAM_VALUE);
    EnableControl(*this, IDOK, text.find_first_of("0123456789") != std::string::npos);
}

void CParamDlg::OnHelp() {
    ShowHelp(m_check ? 18 : 46);
}

// ---------------------------------------------------------------------------------------
// CPCLFilters

const int CPCLFilters::kBoxes[kFilterFlagCount] = {
    IDC_FILTER_FORMFEED,       IDC_FILTER_RESET,
    IDC_FILTER_PAPER_SIZE,     IDC_FILTER_VMI,
    IDC_FILTER_LINE_SPACING,   IDC_FILTER_TOP_MARGIN,
    IDC_FILTER_TEXT_LENGTH,    IDC_FILTER_OUTPUT_BIN,
    IDC_FILTER_PAPER_TRAY,     IDC_FILTER_SKIP_PERF,
    IDC_FILTER_ORIENTATION,    IDC_FILTER_DUPLEX,
    IDC_FILTER_JOB_SEPARATION, IDC_FILTER_LEFT_OFFSET,
    IDC_FILTER_COPIES,         IDC_FILTER_TOP_OFFSET,
    IDC_FILTER_PAGE_SIDE,      IDC_FILTER_PRINT_DIRECTION,
    IDC_FILTER_PAGE_LENGTH,    IDC_FILTER_CONFIG_IMAGE,
    IDC_FILTER_ILLUMINANT,     IDC_FILTER_DRIVER_CONFIG,
    IDC_FILTER_RENDER,         IDC_FILTER_PALETTE_ID,
    IDC_FILTER_PALETTE,        IDC_FILTER_MONOCHROME,
    IDC_FILTER_PUSH_POP,       IDC_FILTER_SPLIT_MACROS,
};

BEGIN_MESSAGE_MAP(CPCLFilters, CDialog)
ON_BN_CLICKED(IDC_FILTER_DEFAULTS, OnDefault)
ON_BN_CLICKED(IDC_DIALOG_HELP, OnHelp)
END_MESSAGE_MAP()

CPCLFilters::CPCLFilters(CWnd *parent) : CDialog(IDD_PCL_FILTERS, parent) {
    m_flags.fill(1);
}

void CPCLFilters::DoDataExchange(CDataExchange *pDX) {
    for (std::size_t i = 0; i < kFilterFlagCount; ++i) {
        // The box takes 1 for any nonzero flag; a flag reads back as 0 or 1.
        int value = m_flags[i] != 0 ? BST_CHECKED : BST_UNCHECKED;
        DDX_Check(pDX, kBoxes[i], value);
        if (pDX->m_bSaveAndValidate)
            m_flags[i] = value == BST_CHECKED ? 1 : 0;
    }
}

void CPCLFilters::OnDefault() {
    for (int box : kBoxes) {
        if (box == IDC_FILTER_PRINT_DIRECTION)
            continue;
        CheckDlgButton(box, box >= IDC_FILTER_PUSH_POP && box <= IDC_FILTER_PALETTE ? BST_UNCHECKED
                                                                                    : BST_CHECKED);
    }
}

void CPCLFilters::OnHelp() {
    ShowHelp(24);
}

// The volume initialisation dialog.
#include "fsinit.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "buffer.h"
#include "helpers.h"
#include "resource_ids.h"
#include "zqapp.h"

namespace {

constexpr UINT kHelpContextCommand = 0x000F;
constexpr DWORD_PTR kHelpFormat = 35;

const int kPercentEdits[3] = {IDC_FORMAT_PERCENT_1, IDC_FORMAT_PERCENT_2, IDC_FORMAT_PERCENT_3};
const int kSpins[3] = {IDC_FORMAT_SPIN_1, IDC_FORMAT_SPIN_2, IDC_FORMAT_SPIN_3};
const int kLocks[3] = {IDC_FORMAT_LOCK_1, IDC_FORMAT_LOCK_2, IDC_FORMAT_LOCK_3};
const int kPartitionControls[] = {IDC_FORMAT_HDD_GROUP, IDC_FORMAT_PERCENT_1, IDC_FORMAT_SPIN_1,
                                  IDC_FORMAT_LOCK_1,    IDC_FORMAT_PERCENT_2, IDC_FORMAT_SPIN_2,
                                  IDC_FORMAT_LOCK_2,    IDC_FORMAT_PERCENT_3, IDC_FORMAT_SPIN_3,
                                  IDC_FORMAT_LOCK_3};
const int kFlashSizeControls[] = {IDC_FORMAT_FLASH_GROUP, IDC_FORMAT_FLASH_LABEL,
                                  IDC_FORMAT_FLASH_SIZE, IDC_FORMAT_FLASH_UNIT};
const char kNoFlashArea[] = "0BYTE,0%";

void ShowString(UINT id, UINT type = MB_OK) {
    char text[260];
    AfxMessageBox(LoadResString(id, text), type);
}

bool Holds(const std::string &text, const char *word) {
    return text.find(word) != std::string::npos;
}

// A percentage edit's text as a number: leading digits, saturated; 0 without any.
int EditNumber(const CString &text) {
    const char *p = text;
    while (*p == ' ')
        ++p;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (value < 1000000)
            value = value * 10 + (*p - '0');
    return static_cast<int>(negative ? -value : value);
}

} // namespace

BEGIN_MESSAGE_MAP(CFSInitDlg, CDialog)
ON_NOTIFY(LVN_ITEMCHANGED, IDC_FORMAT_VOLUME_LIST, OnItemChanged)
ON_BN_CLICKED(IDC_FORMAT_PCL, OnRadio)
ON_BN_CLICKED(IDC_FORMAT_COMMON, OnRadio)
ON_BN_CLICKED(IDC_FORMAT_POSTSCRIPT, OnRadio)
ON_BN_CLICKED(IDC_FORMAT_ENTIRE_DISK, OnEntireDisk)
ON_BN_CLICKED(IDC_FORMAT_ENTIRE_FLASH, OnEntireFlash)
ON_NOTIFY(UDN_DELTAPOS, IDC_FORMAT_SPIN_1, OnSpin)
ON_NOTIFY(UDN_DELTAPOS, IDC_FORMAT_SPIN_2, OnSpin)
ON_NOTIFY(UDN_DELTAPOS, IDC_FORMAT_SPIN_3, OnSpin)
ON_BN_CLICKED(IDC_DIALOG_HELP, OnHelp)
ON_WM_DESTROY()
END_MESSAGE_MAP()

CFSInitDlg::CFSInitDlg(CWnd *parent) : CDialog(IDD_FORMAT_PARTITION, parent) {}

CListCtrl *CFSInitDlg::List() {
    return static_cast<CListCtrl *>(GetDlgItem(IDC_FORMAT_VOLUME_LIST));
}

bool CFSInitDlg::AttributesRead() const {
    return m_printer && m_printer->m_attrState == 2;
}

const char *CFSInitDlg::Attribute(int slot) const {
    return m_printer ? m_printer->m_attr[slot] : "";
}

int CFSInitDlg::GetVolumeImage(char *text) {
    std::string s(text);
    const int image = ::GetVolumeImage(s);
    std::memcpy(text, s.data(), s.size()); // "MIX" to "PS " keeps the length
    return image;
}

BOOL CFSInitDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_diskTotal = 0;
    CListCtrl *list = List();
    m_printer = ZqApp().GetCurrentPrinter();
    if (!list || !m_printer) {
        EndDialog(IDCANCEL);
        return TRUE;
    }
    list->SetImageList(&ZqApp().m_smallImages, LVSIL_SMALL);
    RECT client = {};
    ::GetClientRect(list->m_hWnd, &client);
    list->InsertColumn(0, "", LVCFMT_LEFT, client.right - client.left);

    CTextList lines;
    if (m_printer->QueryFileSystems(lines) != 0) {
        EndDialog(IDCANCEL); // the printer reported it
        return TRUE;
    }
    std::vector<FsRow> rows = BuildFsRows(lines.Texts());
    for (FsRow &row : rows) {
        auto data = std::make_unique<FsRow>(std::move(row));
        const int index = list->InsertItem(LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM,
                                           list->GetItemCount(), data->text.c_str(), 0, 0,
                                           data->image, reinterpret_cast<LPARAM>(data.get()));
        if (index >= 0)
            data.release(); // freed with the row
    }
    const std::vector<FsRow> inserted = AllRows();
    m_diskTotal = DiskTotal(inserted);

    GetDlgItem(IDC_FORMAT_ENTIRE_FLASH)->EnableWindow(FALSE);
    GetDlgItem(IDC_FORMAT_ENTIRE_DISK)->EnableWindow(FALSE);
    if (!m_printer->SupportsPCL())
        GetDlgItem(IDC_FORMAT_PCL)->EnableWindow(FALSE);
    if (!m_printer->SupportsPostScript())
        GetDlgItem(IDC_FORMAT_POSTSCRIPT)->EnableWindow(FALSE);

    if (m_printer->m_attrState == 0)
        m_printer->QueryAttributes();
    char unit[260];
    SetDlgItemText(IDC_FORMAT_FLASH_UNIT,
                   LoadResString(AttributesRead() ? IDS_UNIT_PERCENT : IDS_UNIT_BYTES, unit));
    m_step = PartitionStep(AttributesRead(), Attribute(kAttrHddAssign));

    for (int i = 0; i < 3; ++i) {
        auto *spin = static_cast<CSpinButtonCtrl *>(GetDlgItem(kSpins[i]));
        spin->SetBuddy(GetDlgItem(kPercentEdits[i]));
        spin->SetRange32(1, 98);
    }
    const Percentages p = DefaultPartitions(inserted, m_step);
    m_p1 = p[0];
    m_p2 = p[1];
    m_p3 = p[2];
    ShowPercentages(p); // filled whether shown or not: Entire Disk sends what they hold
    return TRUE;
}

void CFSInitDlg::OnDestroy() {
    if (CListCtrl *list = List()) {
        for (int i = 0; i < list->GetItemCount(); ++i) {
            delete reinterpret_cast<FsRow *>(list->GetItemData(i));
            list->SetItemData(i, 0);
        }
    }
    CDialog::OnDestroy();
}

std::vector<FsRow> CFSInitDlg::AllRows() {
    std::vector<FsRow> rows;
    CListCtrl *list = List();
    for (int i = 0; list && i < list->GetItemCount(); ++i)
        if (auto *row = reinterpret_cast<const FsRow *>(list->GetItemData(i)))
            rows.push_back(*row);
    return rows;
}

const FsRow *CFSInitDlg::SelectedRow(int *index) {
    CListCtrl *list = List();
    if (!list)
        return nullptr;
    const int row = list->GetNextItem(-1, LVNI_SELECTED);
    if (row < 0)
        return nullptr;
    if (index)
        *index = row;
    return reinterpret_cast<const FsRow *>(list->GetItemData(row));
}

BOOL CFSInitDlg::GetSelectedVolume(char *buffer) {
    buffer[0] = '\0';
    CListCtrl *list = List();
    const int row = list ? list->GetNextItem(-1, LVNI_SELECTED) : -1;
    if (row < 0)
        return FALSE;
    list->GetItemText(row, 0, buffer, 260);
    return TRUE;
}

void CFSInitDlg::HideControl(int id) {
    if (CWnd *control = GetDlgItem(id)) {
        control->Invalidate();
        control->EnableWindow(FALSE);
        control->ShowWindow(SW_HIDE);
    }
}

void CFSInitDlg::ShowControl(int id) {
    if (CWnd *control = GetDlgItem(id)) {
        control->EnableWindow(TRUE);
        control->Invalidate();
        control->ShowWindow(SW_SHOW);
    }
}

void CFSInitDlg::ShowPartitionControls(bool show) {
    for (int id : kPartitionControls)
        show ? ShowControl(id) : HideControl(id);
}

void CFSInitDlg::ShowFlashSizeControls(bool show) {
    for (int id : kFlashSizeControls)
        show ? ShowControl(id) : HideControl(id);
}

Percentages CFSInitDlg::ReadPercentages() {
    Percentages p{};
    for (int i = 0; i < 3; ++i) {
        CString text;
        GetDlgItemText(kPercentEdits[i], text);
        p[i] = EditNumber(text);
    }
    return p;
}

void CFSInitDlg::ShowPercentages(const Percentages &p) {
    for (int i = 0; i < 3; ++i) {
        SetDlgItemText(kPercentEdits[i], std::to_string(p[i]).c_str());
        if (auto *spin = static_cast<CSpinButtonCtrl *>(GetDlgItem(kSpins[i])))
            spin->SetPos(p[i]);
    }
}

int CFSInitDlg::CheckedRadio() {
    if (IsDlgButtonChecked(IDC_FORMAT_PCL))
        return kRadioPcl;
    if (IsDlgButtonChecked(IDC_FORMAT_COMMON))
        return kRadioCommon;
    if (IsDlgButtonChecked(IDC_FORMAT_POSTSCRIPT))
        return kRadioPostScript;
    return kRadioNone;
}

void CFSInitDlg::OnItemChanged(NMHDR *header, LRESULT *result) {
    *result = 0;
    const auto *change = reinterpret_cast<const NMLISTVIEW *>(header);
    if (!(change->uChanged & LVIF_STATE) || !(change->uNewState & LVIS_SELECTED) ||
        (change->uOldState & LVIS_SELECTED))
        return;
    int index = -1;
    const FsRow *row = SelectedRow(&index);
    if (!row || !m_printer)
        return;
    const std::string &text = row->text;
    const bool read = AttributesRead();
    if (IsFlashChoice(text)) {
        for (int id : {IDC_FORMAT_PCL, IDC_FORMAT_COMMON, IDC_FORMAT_POSTSCRIPT})
            GetDlgItem(id)->EnableWindow(FALSE);
        GetDlgItem(IDC_FORMAT_ENTIRE_FLASH)->EnableWindow(TRUE);
        ShowFlashSizeControls(m_printer->SupportsPostScript() &&
                              std::strcmp(Attribute(kAttrFlashAssign), kNoFlashArea) != 0);
        const std::uint64_t value =
            FlashAreaValue(AllRows(), static_cast<std::size_t>(index), read);
        SetDlgItemText(IDC_FORMAT_FLASH_SIZE, std::to_string(value).c_str());
        ShowPartitionControls(false);
        GetDlgItem(IDC_FORMAT_ENTIRE_DISK)->EnableWindow(FALSE);
        if (std::strstr(Attribute(kAttrInitialize), "DISABLEFLASH")) {
            HideControl(IDOK);
            HideControl(IDC_FORMAT_ENTIRE_FLASH);
        }
    } else {
        ShowControl(IDOK);
        GetDlgItem(IDC_FORMAT_ENTIRE_DISK)->EnableWindow(m_diskTotal > 0);
        for (int id : {IDC_FORMAT_PCL, IDC_FORMAT_COMMON, IDC_FORMAT_POSTSCRIPT})
            GetDlgItem(id)->EnableWindow(TRUE);
        GetDlgItem(IDC_FORMAT_ENTIRE_FLASH)->EnableWindow(FALSE);
        ShowFlashSizeControls(false);
        if (read) {
            ShowPartitionControls(true);
            ShowPercentages({m_p1, m_p2, m_p3});
        }
    }
    const int radio = row->image == 4   ? kRadioPcl
                      : row->image == 5 ? kRadioCommon
                                        : kRadioPostScript;
    CheckDlgButton(IDC_FORMAT_PCL, radio == kRadioPcl);
    CheckDlgButton(IDC_FORMAT_COMMON, radio == kRadioCommon);
    CheckDlgButton(IDC_FORMAT_POSTSCRIPT, radio == kRadioPostScript);
    BOOL formatEnabled = TRUE;
    if (radio == kRadioPcl && !m_printer->SupportsPCL()) {
        GetDlgItem(IDC_FORMAT_PCL)->EnableWindow(FALSE);
    } else if (radio == kRadioPostScript && !m_printer->SupportsPostScript()) {
        GetDlgItem(IDC_FORMAT_POSTSCRIPT)->EnableWindow(FALSE);
        formatEnabled = FALSE;
    }
    GetDlgItem(IDOK)->EnableWindow(formatEnabled);
}

void CFSInitDlg::OnRadio() {
    const FsRow *row = SelectedRow();
    if (!row || !m_printer)
        return;
    const std::string &text = row->text;
    if (IsFlashRow(text)) {
        const int forced = Holds(text, "flash") ? kRadioPostScript : kRadioCommon;
        if (CheckedRadio() == forced)
            return;
        CheckDlgButton(IDC_FORMAT_PCL, FALSE);
        CheckDlgButton(IDC_FORMAT_COMMON, forced == kRadioCommon);
        CheckDlgButton(IDC_FORMAT_POSTSCRIPT, forced == kRadioPostScript);
        return;
    }
    if (IsDlgButtonChecked(IDC_FORMAT_PCL) && !m_printer->SupportsPCL())
        CheckDlgButton(IDC_FORMAT_PCL, FALSE);
    if (IsDlgButtonChecked(IDC_FORMAT_POSTSCRIPT) && !m_printer->SupportsPostScript())
        CheckDlgButton(IDC_FORMAT_POSTSCRIPT, FALSE);
    GetDlgItem(IDOK)->EnableWindow(TRUE);
}

BOOL CFSInitDlg::ConfirmInitialise(const char *text) {
    char format[260];
    LoadResString(IDS_CONFIRM_INIT_PARTITION, format);
    std::vector<char> message(std::strlen(format) + std::strlen(text) + 16);
    std::snprintf(message.data(), message.size(), format, text);
    return AfxMessageBox(message.data(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void CFSInitDlg::OfferReboot() {
    char text[260];
    if (AfxMessageBox(LoadResString(IDS_OFFER_REBOOT, text), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    if (m_printer && m_printer->Reboot())
        ShowString(IDS_COMMAND_ISSUED, MB_OK | MB_ICONINFORMATION);
    EndDialog(IDOK);
}

void CFSInitDlg::SendAndOffer(const void *data, DWORD length) {
    if (!m_printer || !m_printer->SendStream(data, length))
        return;
    OfferReboot();
    ZqApp().CloseResourceWindows();
}

BOOL CFSInitDlg::AssignPostScriptArea(const FsRow &row) {
    if (!m_printer)
        return FALSE;
    if (std::strcmp(Attribute(kAttrFlashAssign), kNoFlashArea) == 0)
        return TRUE;
    const std::string location = FlashLocation(row.text);
    if (location.empty())
        return FALSE;
    CString text;
    GetDlgItemText(IDC_FORMAT_FLASH_SIZE, text);
    const std::optional<int> size = ParseAreaSize(std::string(text));
    std::vector<FsRow> rows = AllRows();
    std::size_t index = 0;
    while (index < rows.size() && rows[index].number != row.number)
        ++index;
    if (!size || !FlashAreaFits(*size, AttributesRead(), FlashAreaLimit(rows, index))) {
        ShowString(IDS_FLASH_SIZE_INCONSISTENT, MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }
    const std::string command = FsAssignCommand(location, *size);
    return m_printer->SendStream(command.data(), static_cast<DWORD>(command.size()));
}

void CFSInitDlg::OnOK() {
    const FsRow *selected = SelectedRow();
    if (!selected || !m_printer)
        return;
    const FsRow row = *selected;
    const FormatCommand choice = ChooseFormatCommand(row, CheckedRadio());
    if (choice.kind == FormatCommand::kRefused) {
        ShowString(IDS_OPERATION_FAILED);
        return;
    }
    const bool flash = IsFlashRow(row.text);
    m_psVolume = NumberAfter(row.text, "flash").value_or(0);
    if (!ConfirmInitialise(row.text.c_str()))
        return;
    std::unique_ptr<CBuffer> file;
    if (choice.kind != FormatCommand::kCommand) {
        char path[MAX_PATH + 32];
        std::snprintf(path, sizeof path, "%s\\ZqInit%c%d.DAT", ProgramFolder,
                      choice.kind == FormatCommand::kDiskFile ? 'd' : 'f', choice.fileNumber);
        file = std::make_unique<CBuffer>(path); // a missing file is reported here
        if (file->IsEmpty())
            return; // nothing to send, no reboot to offer
    }
    if (flash && !AssignPostScriptArea(row))
        return;
    if (file)
        SendAndOffer(file->m_data, file->m_length);
    else
        SendAndOffer(choice.command.data(), static_cast<DWORD>(choice.command.size()));
}

void CFSInitDlg::RepartitionDevice(bool flash) {
    if (!m_printer)
        return;
    if (flash) {
        char text[260];
        if (AfxMessageBox(LoadResString(IDS_CONFIRM_INIT_FLASH, text),
                          MB_YESNO | MB_ICONQUESTION) != IDYES)
            return;
        const FsRow *selected = SelectedRow();
        if (!selected)
            return;
        const FsRow row = *selected;
        const std::string location = FlashLocation(row.text);
        if (location.empty()) {
            ShowString(IDS_OPERATION_FAILED);
            return;
        }
        if (!AssignPostScriptArea(row))
            return;
        const std::string command = FlashInitialiseCommand(location);
        SendAndOffer(command.data(), static_cast<DWORD>(command.size()));
        return;
    }
    Percentages p = ReadPercentages();
    char question[400];
    if (AttributesRead()) {
        const std::optional<Percentages> balanced = BalancePartitions(p, m_step);
        if (!balanced) {
            ShowString(IDS_OPERATION_FAILED);
            return;
        }
        p = *balanced;
        ShowPercentages(p);
        char format[260];
        LoadResString(IDS_CONFIRM_PARTITION, format);
        std::snprintf(question, sizeof question, format, p[0], p[1], p[2]);
    } else {
        LoadResString(IDS_CONFIRM_INIT_DISK, question);
    }
    if (AfxMessageBox(question, MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) != IDYES)
        return;
    if (m_printer->AssignPartitions(p[0], p[1], p[2])) {
        OfferReboot();
        ZqApp().CloseResourceWindows();
    }
}

void CFSInitDlg::OnEntireDisk() {
    RepartitionDevice(false);
}

void CFSInitDlg::OnEntireFlash() {
    RepartitionDevice(true);
}

void CFSInitDlg::OnSpin(NMHDR *header, LRESULT *result) {
    *result = 1; // the control's own move is refused: the edits and positions are set here
    const auto *change = reinterpret_cast<const NMUPDOWN *>(header);
    int index = 0;
    while (index < 3 && kSpins[index] != static_cast<int>(header->idFrom))
        ++index;
    if (index == 3 || change->iDelta == 0)
        return;
    unsigned locks = 0;
    for (int i = 0; i < 3; ++i)
        if (IsDlgButtonChecked(kLocks[i]))
            locks |= 1u << i;
    const Percentages p = SpinPartition(ReadPercentages(), index, change->iDelta, m_step, locks);
    m_p1 = p[0];
    m_p2 = p[1];
    m_p3 = p[2];
    ShowPercentages(p);
}

void CFSInitDlg::OnHelp() {
    AfxGetApp()->HtmlHelp(kHelpFormat, kHelpContextCommand);
}

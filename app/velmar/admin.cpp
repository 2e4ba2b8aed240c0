// The administrator password, the administrator's functions and file deletion.
#include "admin.h"

#include <cstring>
#include <optional>
#include <string>

#include "buffer.h"
#include "errors.h"
#include "fsinit.h"
#include "helpers.h"
#include "password.h"
#include "resource_ids.h"
#include "storage.h"
#include "zqapp.h"

namespace {

constexpr UINT kHelpContextCommand = 0x000F;
constexpr DWORD_PTR kHelpAdmin = 14;
constexpr DWORD_PTR kHelpPassword = 40;
constexpr DWORD_PTR kHelpChangePassword = 26;
constexpr DWORD_PTR kHelpDeleteFile = 36;

void ShowHelp(DWORD_PTR context) {
    AfxGetApp()->HtmlHelp(context, kHelpContextCommand);
}

void ShowString(UINT id, UINT type) {
    char text[260];
    AfxMessageBox(LoadResString(id, text), type);
}

// The edit's text, at most 260 characters.
std::string EditText(CDialog &dialog, int id) {
    CString text;
    dialog.GetDlgItemText(id, text);
    std::string out(text);
    SecureZeroMemory(text.GetBuffer(0), static_cast<SIZE_T>(text.GetLength()));
    if (out.size() > 260)
        out.resize(260);
    return out;
}

void Wipe(std::string &text) {
    if (!text.empty())
        SecureZeroMemory(&text[0], text.size());
    text.clear();
}

// Cuts an edit's text of more than 8 characters back to 8, caret at its end.
void CutToPassword(CDialog &dialog, int id, std::string &text) {
    text.resize(kPasswordLength);
    dialog.SetDlgItemText(id, text.c_str());
    if (auto *edit = static_cast<CEdit *>(dialog.GetDlgItem(id)))
        edit->SetSel(static_cast<int>(kPasswordLength), static_cast<int>(kPasswordLength));
}

void SetPasswordStyle(CDialog &dialog, int id) {
    if (auto *edit = static_cast<CEdit *>(dialog.GetDlgItem(id)))
        edit->SetPasswordChar('*');
}

bool IsDisabled(const char *value) {
    return _stricmp(value, "DISABLE") == 0;
}

} // namespace

int ReadPasswordFile(char *stored) {
    stored[0] = '\0';
    const std::string path = std::string(DataFolder) + "\\PASSWORD.pwd";
    CBuffer file(path.c_str());
    const bool read =
        !file.IsEmpty() &&
        DecodePassword(reinterpret_cast<const unsigned char *>(file.m_data), file.m_length, stored);
    if (file.m_data)
        SecureZeroMemory(file.m_data, file.m_length);
    if (!read) {
        CErrors report(kErrPasswordFile);
        return 0;
    }
    return 1;
}

BOOL RequireAdminPassword() {
    if (!ZqApp().m_adminLoggedIn) {
        CPassWordDlg dialog;
        dialog.DoModal();
    }
    return ZqApp().m_adminLoggedIn;
}

bool HandleLoginEdit(CDialog &dialog, int editId, const char *stored) {
    std::string typed = EditText(dialog, editId);
    bool loggedIn = false;
    switch (ClassifyPasswordEntry(typed)) {
    case PasswordEntry::kTooLong:
        CutToPassword(dialog, editId, typed); // the edit changes again and is compared then
        break;
    case PasswordEntry::kIncomplete:
        break;
    case PasswordEntry::kComplete:
        if (PasswordMatches(typed, stored)) {
            CZqApp &app = ZqApp();
            app.m_adminLoggedIn = TRUE;
            std::memcpy(app.m_adminPassword, stored, sizeof app.m_adminPassword);
            loggedIn = true;
        } else {
            ShowString(IDS_INVALID_PASSWORD, MB_OK | MB_ICONEXCLAMATION);
        }
        break;
    }
    Wipe(typed);
    return loggedIn;
}

// ---- CAdminPwd ----

void CZqApp::OnAdminFunctions() {
    CAdminPwd dialog;
    dialog.DoModal();
}

BEGIN_MESSAGE_MAP(CAdminPwd, CDialog)
ON_EN_CHANGE(IDC_ADMIN_PASSWORD, OnPasswordChange)
ON_BN_CLICKED(IDC_ADMIN_REBOOT, OnReboot)
ON_BN_CLICKED(IDC_ADMIN_DELETE_FILE, OnDeleteFile)
ON_BN_CLICKED(IDC_ADMIN_INITIALISE, OnInitialise)
ON_BN_CLICKED(IDC_ADMIN_CHANGE_PASSWORD, OnChangePassword)
ON_BN_CLICKED(IDC_DIALOG_HELP, OnHelp)
END_MESSAGE_MAP()

CAdminPwd::CAdminPwd(CWnd *parent) : CDialog(IDD_ADMIN_PASSWORD, parent) {}

CAdminPwd::~CAdminPwd() {
    SecureZeroMemory(m_storedPassword, sizeof m_storedPassword);
}

INT_PTR CAdminPwd::DoModal() {
    const INT_PTR result = CDialog::DoModal();
    SecureZeroMemory(m_storedPassword, sizeof m_storedPassword);
    return result;
}

BOOL CAdminPwd::OnInitDialog() {
    CDialog::OnInitDialog();
    SetPasswordStyle(*this, IDC_ADMIN_PASSWORD);
    CZqApp &app = ZqApp();
    if (app.m_adminLoggedIn) {
        std::memcpy(m_storedPassword, app.m_adminPassword, sizeof m_storedPassword);
        m_storedPassword[8] = '\0';
        m_initialising = true;
        SetDlgItemText(IDC_ADMIN_PASSWORD, m_storedPassword);
        m_initialising = false;
        EnableAdminButtons();
    } else {
        ReadPasswordFile(m_storedPassword);
    }
    return TRUE;
}

void CAdminPwd::EnableAdminButtons() {
    CAPrinter *printer = ZqApp().GetCurrentPrinter();
    if (!printer)
        return;
    if (printer->m_attrState == 0)
        printer->QueryAttributes();
    auto enable = [&](int id, BOOL on) {
        if (CWnd *button = GetDlgItem(id))
            button->EnableWindow(on);
    };
    enable(IDC_ADMIN_DELETE_FILE, TRUE);
    enable(IDC_ADMIN_CHANGE_PASSWORD, TRUE);
    enable(IDC_ADMIN_REBOOT, !IsDisabled(printer->m_attr[kAttrReboot]));
    enable(IDC_ADMIN_INITIALISE, !IsDisabled(printer->m_attr[kAttrInitialize]));
}

void CAdminPwd::OnPasswordChange() {
    if (m_initialising || !HandleLoginEdit(*this, IDC_ADMIN_PASSWORD, m_storedPassword))
        return;
    EnableAdminButtons();
    if (CAPrinter *printer = ZqApp().GetCurrentPrinter())
        printer->EnsureLanguages();
}

void CAdminPwd::OnReboot() {
    CAPrinter *printer = ZqApp().GetCurrentPrinter();
    if (!printer)
        return;
    printer->EnsureLanguages();
    if (printer->Reboot())
        ShowString(IDS_COMMAND_ISSUED, MB_OK | MB_ICONINFORMATION);
}

void CAdminPwd::OnDeleteFile() {
    CDelFile dialog(this);
    dialog.DoModal();
}

void CAdminPwd::OnInitialise() {
    CFSInitDlg dialog(this);
    dialog.DoModal();
}

void CAdminPwd::OnChangePassword() {
    CChangePwd dialog(this);
    dialog.DoModal();
}

void CAdminPwd::OnHelp() {
    ShowHelp(kHelpAdmin);
}

// ---- CPassWordDlg ----

BEGIN_MESSAGE_MAP(CPassWordDlg, CDialog)
ON_EN_CHANGE(IDC_ADMIN_PASSWORD, OnPasswordChange)
ON_BN_CLICKED(IDC_DIALOG_HELP, OnHelp)
END_MESSAGE_MAP()

CPassWordDlg::CPassWordDlg(CWnd *parent) : CDialog(IDD_PASSWORD, parent) {}

CPassWordDlg::~CPassWordDlg() {
    SecureZeroMemory(m_storedPassword, sizeof m_storedPassword);
}

INT_PTR CPassWordDlg::DoModal() {
    const INT_PTR result = CDialog::DoModal();
    SecureZeroMemory(m_storedPassword, sizeof m_storedPassword);
    return result;
}

BOOL CPassWordDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetPasswordStyle(*this, IDC_ADMIN_PASSWORD);
    if (!ReadPasswordFile(m_storedPassword))
        EndDialog(IDCANCEL);
    return TRUE;
}

void CPassWordDlg::OnPasswordChange() {
    if (HandleLoginEdit(*this, IDC_ADMIN_PASSWORD, m_storedPassword))
        EndDialog(IDOK);
}

void CPassWordDlg::OnHelp() {
    ShowHelp(kHelpPassword);
}

// ---- CChangePwd ----

BEGIN_MESSAGE_MAP(CChangePwd, CDialog)
ON_BN_CLICKED(IDC_CHANGE_PASSWORD, OnChange)
ON_BN_CLICKED(IDC_DIALOG_HELP, OnHelp)
END_MESSAGE_MAP()

CChangePwd::CChangePwd(CWnd *parent) : CDialog(IDD_CHANGE_PASSWORD, parent) {}

BOOL CChangePwd::OnInitDialog() {
    CDialog::OnInitDialog();
    SetPasswordStyle(*this, IDC_NEW_PASSWORD);
    SetPasswordStyle(*this, IDC_CONFIRM_PASSWORD);
    return TRUE;
}

DWORD CChangePwd::WritePasswordFile(const char *password) {
    EnsureFolder(DataFolder);
    const std::string path = std::string(DataFolder) + "\\PASSWORD.pwd";
    auto bytes = EncodePassword(password ? password : "");
    DWORD error = NO_ERROR;
    if (!ReplaceWholeFile(path.c_str(), bytes.data(), static_cast<DWORD>(bytes.size())))
        error = GetLastError() != NO_ERROR ? GetLastError() : ERROR_WRITE_FAULT;
    SecureZeroMemory(bytes.data(), bytes.size());
    return error;
}

void CChangePwd::OnChange() {
    if (!ZqApp().m_adminLoggedIn)
        return;
    // Each field: more than 8 characters are cut back; fewer are refused.
    auto take = [&](int id, std::string &text) {
        text = EditText(*this, id);
        if (text.size() > kPasswordLength)
            CutToPassword(*this, id, text);
        if (text.size() < kPasswordLength) {
            ShowString(IDS_INVALID_PASSWORD, MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
        return true;
    };
    std::string first, second;
    if (take(IDC_NEW_PASSWORD, first) && take(IDC_CONFIRM_PASSWORD, second)) {
        if (first != second) {
            ShowString(IDS_PASSWORDS_DIFFER, MB_OK | MB_ICONEXCLAMATION);
        } else if (!IsSavablePassword(first)) {
            ShowString(IDS_INVALID_PASSWORD, MB_OK | MB_ICONEXCLAMATION);
        } else if (const DWORD error = WritePasswordFile(first.c_str())) {
            CErrors report(error); // the old file and the old state stay
        } else {
            CZqApp &app = ZqApp();
            std::memcpy(app.m_adminPassword, first.data(), kPasswordLength);
            app.m_adminPassword[kPasswordLength] = '\0';
            ShowString(IDS_PASSWORD_ACCEPTED, MB_OK | MB_ICONINFORMATION);
            EndDialog(IDOK);
        }
    }
    Wipe(first);
    Wipe(second);
}

void CChangePwd::OnHelp() {
    ShowHelp(kHelpChangePassword);
}

// ---- CDelFile ----

BEGIN_MESSAGE_MAP(CDelFile, CDialog)
ON_BN_CLICKED(IDC_DIALOG_HELP, OnHelp)
END_MESSAGE_MAP()

CDelFile::CDelFile(CWnd *parent) : CDialog(IDD_DELETE_FILE, parent) {}

BOOL CDelFile::DeleteFileOnPrinter(CAPrinter *printer, const char *name, BOOL confirm) {
    if (!printer || !name || !*name)
        return FALSE;
    std::string stream;
    if (std::strchr(name, '\\')) {
        const std::optional<std::string> command = PjlDeleteCommand(name);
        if (!command) { // a quote or line end would end the command early
            ShowString(IDS_OPERATION_FAILED, MB_OK);
            return FALSE;
        }
        stream = *command;
    } else if (printer->SupportsPostScript()) {
        stream = PostScriptDeleteProgram(name);
    } else {
        return FALSE;
    }
    if (!printer->SendStream(stream.data(), static_cast<DWORD>(stream.size())))
        return FALSE;
    if (confirm)
        ShowString(IDS_COMMAND_ISSUED, MB_OK | MB_ICONINFORMATION);
    return TRUE;
}

void CDelFile::OnOK() {
    CString path;
    GetDlgItemText(IDC_DELETE_PATH, path);
    if (!path.IsEmpty())
        DeleteFileOnPrinter(ZqApp().GetCurrentPrinter(), path, TRUE);
}

void CDelFile::OnHelp() {
    ShowHelp(kHelpDeleteFile);
}

// The administrator password, the administrator's functions and the deletion of one
// stored file.
#pragma once

#include "framework.h"

#include "printer.h"

// Reads PASSWORD.pwd of the data folder into `stored` (9 bytes). A file that cannot be
// opened is reported by the buffer class first; any but a readable 64-byte file of finite
// values reports the password-file error. 1 when read, else 0 with `stored` empty.
int ReadPasswordFile(char *stored);

// The administrator flag, after the password dialog while it is clear.
BOOL RequireAdminPassword();

// Handles a change of a login edit: a text of more than 8 characters is cut to 8 and put
// back; 8 characters equal to `stored` log in (flag and copy), others show "The password
// entered is not valid.". True on a login.
bool HandleLoginEdit(CDialog &dialog, int editId, const char *stored);

// The administrator's functions (133): the login, then reboot, file deletion, volume
// initialisation and the password change.
class CAdminPwd : public CDialog {
  public:
    explicit CAdminPwd(CWnd *parent = nullptr);
    ~CAdminPwd() override;
    INT_PTR DoModal() override;
    BOOL OnInitDialog() override;
    // Enables the task buttons the current printer's attributes allow.
    void EnableAdminButtons();

    char m_storedPassword[9] = {};

  protected:
    void OnPasswordChange();
    void OnReboot();
    void OnDeleteFile();
    void OnInitialise();
    void OnChangePassword();
    void OnHelp();
    DECLARE_MESSAGE_MAP()

  private:
    bool m_initialising = false;
};

// "Password Required" (149): ends on a login, or at once without a readable password file.
class CPassWordDlg : public CDialog {
  public:
    explicit CPassWordDlg(CWnd *parent = nullptr);
    ~CPassWordDlg() override;
    INT_PTR DoModal() override;
    BOOL OnInitDialog() override;

    char m_storedPassword[9] = {};

  protected:
    void OnPasswordChange();
    void OnHelp();
    DECLARE_MESSAGE_MAP()
};

// The password change (158).
class CChangePwd : public CDialog {
  public:
    explicit CChangePwd(CWnd *parent = nullptr);
    BOOL OnInitDialog() override;
    // Encodes `password` into PASSWORD.pwd of the data folder: a new file replaces the
    // old one, so a failure leaves it as it was. 0 on success, else the failure code.
    static DWORD WritePasswordFile(const char *password);

  protected:
    void OnChange();
    void OnHelp();
    DECLARE_MESSAGE_MAP()
};

// The delete-file dialog (140): the exact path of a file in edit 1061, deleted on the
// current printer. OK deletes and leaves the dialog open; Exit closes it.
class CDelFile : public CDialog {
  public:
    explicit CDelFile(CWnd *parent = nullptr);
    // Deletes `name` on `printer`: a name holding '\' by FSDELETE, any other by PostScript
    // (on a printer with PostScript; else nothing is sent). With `confirm` a sent command
    // ends with "Command Issued.". True when the command was sent.
    BOOL DeleteFileOnPrinter(CAPrinter *printer, const char *name, BOOL confirm);

  protected:
    void OnOK() override;
    void OnHelp();
    DECLARE_MESSAGE_MAP()
};

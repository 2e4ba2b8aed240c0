// The administrator guard and the deletion of one stored file.
#pragma once

#include "framework.h"

#include "printer.h"

// The application's administrator flag. Until the password dialog exists no password is
// asked for: the flag is returned as it stands.
BOOL RequireAdminPassword();

// The delete-file dialog (140): the exact path of a file in edit 1061, deleted on the
// current printer.
class CDelFile : public CDialog {
public:
    explicit CDelFile(CWnd *parent = nullptr);
    // Deletes `name` on `printer`: a name holding '\' by FSDELETE, any other by PostScript
    // (on a printer with PostScript; else nothing is sent). With `confirm` a sent command
    // ends with "Command Issued.". True when the command was sent.
    BOOL DeleteFileOnPrinter(CAPrinter *printer, const char *name, BOOL confirm);

protected:
    void OnOK() override;
};

// The administrator guard and file deletion.
#include "admin.h"

#include <cstring>
#include <optional>
#include <string>

#include "helpers.h"
#include "resource_ids.h"
#include "storage.h"
#include "zqapp.h"

BOOL RequireAdminPassword() { return ZqApp().m_adminLoggedIn; }

CDelFile::CDelFile(CWnd *parent) : CDialog(IDD_DELETE_FILE, parent) {}

BOOL CDelFile::DeleteFileOnPrinter(CAPrinter *printer, const char *name, BOOL confirm) {
    if (!printer || !name || !*name)
        return FALSE;
    std::string stream;
    if (std::strchr(name, '\\')) {
        const std::optional<std::string> command = PjlDeleteCommand(name);
        if (!command) { // a quote or line end would end the command early
            char text[260];
            AfxMessageBox(LoadResString(IDS_OPERATION_FAILED, text));
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
    if (confirm) {
        char text[260];
        AfxMessageBox(LoadResString(IDS_COMMAND_ISSUED, text), MB_OK | MB_ICONINFORMATION);
    }
    return TRUE;
}

void CDelFile::OnOK() {
    CString path;
    GetDlgItemText(IDC_DELETE_PATH, path);
    if (!path.IsEmpty())
        DeleteFileOnPrinter(ZqApp().GetCurrentPrinter(), path, TRUE);
}

// The printer-properties dialog.
#include "prtprop.h"

#include "printer.h"
#include "resource_ids.h"
#include "zqapp.h"

CPrtProp::CPrtProp(CWnd *parent) : CDialog(IDD_PRINTER_PROPERTIES, parent) {}

BOOL CPrtProp::OnInitDialog() {
    CDialog::OnInitDialog();
    CAPrinter *printer = ZqApp().GetCurrentPrinter();
    auto *tree = static_cast<CTreeCtrl *>(GetDlgItem(IDC_PROPERTIES_TREE));
    if (printer && tree)
        printer->FillPropertyTree(*tree);
    return TRUE;
}

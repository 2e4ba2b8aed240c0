// CZqApp's commands of menu 109 and the rules that enable them.
#include "zqapp.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "dialogs.h"
#include "errors.h"
#include "frames.h"
#include "helpers.h"
#include "macrofile.h"
#include "mainfrm.h"
#include "prtprop.h"
#include "queries.h"
#include "resource_ids.h"
#include "text.h"

BEGIN_MESSAGE_MAP(CZqApp, CWinApp)
// Projects.
ON_COMMAND(ID_NEW_PROJECT, OnNewProject)
ON_COMMAND(ID_FILE_NEW, OnNewProject)
ON_COMMAND(ID_FILE_OPEN, OnOpenProject)
ON_COMMAND(ID_CLOSE_PROJECT, OnCloseProject)
ON_COMMAND(ID_ADD_FILE_TO_PROJECT, OnAddFileToProject)
ON_COMMAND(ID_REMOVE_FILE_FROM_PROJECT, OnRemoveFile)
ON_COMMAND(ID_EDIT_DOWNLOAD_DETAILS, OnEditDownloadDetails)
ON_COMMAND(ID_FILTER_MACRO_FILE, OnFilterMacroFile)
ON_COMMAND(ID_CREATE_DOWNLOAD_FILE, OnCreateDownloadFile)
ON_COMMAND(ID_SEND_DOWNLOAD_FILE, OnSendDownloadFile)
ON_COMMAND(ID_SEND_PROJECT_FILES, OnSendProjectFiles)
ON_UPDATE_COMMAND_UI(ID_CLOSE_PROJECT, OnUpdateProjectWindow)
ON_UPDATE_COMMAND_UI(ID_FILE_SAVE, OnUpdateProjectWindow)
ON_UPDATE_COMMAND_UI(ID_FILE_SAVE_AS, OnUpdateProjectWindow)
ON_UPDATE_COMMAND_UI(ID_ADD_FILE_TO_PROJECT, OnUpdateProjectWindow)
ON_UPDATE_COMMAND_UI(ID_REMOVE_FILE_FROM_PROJECT, OnUpdateProjectSelection)
ON_UPDATE_COMMAND_UI(ID_EDIT_DOWNLOAD_DETAILS, OnUpdateProjectSelection)
ON_UPDATE_COMMAND_UI(ID_CREATE_DOWNLOAD_FILE, OnUpdateProjectRows)
ON_UPDATE_COMMAND_UI(ID_SEND_PROJECT_FILES, OnUpdateSendProject)
ON_UPDATE_COMMAND_UI(ID_SEND_DOWNLOAD_FILE, OnUpdateHasPrinter)
// Printers and printer windows.
ON_COMMAND(ID_DISCOVER_PRINTERS, OnDiscoverPrinters)
ON_COMMAND(ID_ADD_REMOVE_PRINTERS, OnAddRemovePrinters)
ON_COMMAND(ID_SHOW_RESOURCES, OnShowResources)
ON_COMMAND(ID_REFRESH_FOLDER_VIEW, OnRefreshFolderView)
ON_COMMAND(ID_DELETE_FILES, OnDeleteFiles)
ON_COMMAND(ID_CLOSE_RESOURCE, OnCloseResource)
ON_COMMAND(ID_PRINTER_PROPERTIES, OnPrinterProperties)
ON_UPDATE_COMMAND_UI(ID_DISCOVER_PRINTERS, OnUpdateAlwaysEnabled)
ON_UPDATE_COMMAND_UI(ID_SHOW_RESOURCES, OnUpdateHasPrinter)
ON_UPDATE_COMMAND_UI(ID_CLOSE_RESOURCE, OnUpdateResourceWindow)
ON_UPDATE_COMMAND_UI(ID_REFRESH_FOLDER_VIEW, OnUpdateTreeSelection)
ON_UPDATE_COMMAND_UI(ID_DELETE_FILES, OnUpdateListSelection)
ON_UPDATE_COMMAND_UI(ID_HDD_PRINT_JOBS, OnUpdateHasPrinter)
ON_COMMAND(ID_ADMIN_FUNCTIONS, OnAdminFunctions)
ON_COMMAND(ID_HDD_PRINT_JOBS, OnHddPrintJobs)
ON_UPDATE_COMMAND_UI(ID_ADMIN_FUNCTIONS, OnUpdateHasPrinter)
ON_UPDATE_COMMAND_UI(ID_PRINTER_PROPERTIES, OnUpdateHasPrinter)
ON_UPDATE_COMMAND_UI_RANGE(ID_VIEW_SMALLICON, ID_VIEW_BYNAME, OnUpdatePrinterWindow)
ON_UPDATE_COMMAND_UI(ID_VIEW_AUTOARRANGE, OnUpdatePrinterWindow)
// Printer commands.
ON_COMMAND(ID_PRINT_DEMO_PAGE, OnPrintDemoPage)
ON_COMMAND(ID_PRINT_PCL_FONTS, OnPrintPclFonts)
ON_COMMAND(ID_PRINT_PS_FONTS, OnPrintPostScriptFonts)
ON_COMMAND(ID_PRINT_PS_FONT_SAMPLE, OnPrintPsFontSample)
ON_COMMAND(ID_PRINT_FILE_LISTING, OnPrintFileListing)
ON_COMMAND(ID_TEST_MACRO, OnTestMacro)
ON_COMMAND(ID_TEST_FORM, OnTestForm)
ON_UPDATE_COMMAND_UI(ID_PRINT_DEMO_PAGE, OnUpdateHasPrinter)
ON_UPDATE_COMMAND_UI(ID_PRINT_PCL_FONTS, OnUpdatePclPrinter)
ON_UPDATE_COMMAND_UI(ID_TEST_MACRO, OnUpdatePclPrinter)
ON_UPDATE_COMMAND_UI(ID_PRINT_FILE_LISTING, OnUpdatePclPrinter)
ON_UPDATE_COMMAND_UI(ID_PRINT_PS_FONTS, OnUpdatePostScriptPrinter)
ON_UPDATE_COMMAND_UI(ID_TEST_FORM, OnUpdatePostScriptPrinter)
ON_UPDATE_COMMAND_UI(ID_PRINT_PS_FONT_SAMPLE, OnUpdatePostScriptPrinter)
// Help.
ON_COMMAND(ID_HELP_TOPICS, OnHelpTopics)
ON_COMMAND(ID_APP_ABOUT, OnAppAbout)
END_MESSAGE_MAP()

namespace {

// Each file dialog keeps its own custom filter for the run.
char g_addFileFilter[260];
char g_downloadFileFilter[260];
char g_printFileFilter[260];

void ShowString(UINT id, UINT type = MB_OK) {
    char text[260];
    AfxMessageBox(LoadResString(id, text), type);
}

CMDIChildWnd *ActiveChild() {
    CMainFrame *main = ZqApp().MainFrame();
    return main && main->GetSafeHwnd() ? main->MDIGetActive() : nullptr;
}

// The dialog's file name buffer, its custom filter and its owner.
void PrepareFileDialog(CFileDialog &dialog, std::vector<char> &names, char *customFilter) {
    dialog.m_ofn.lpstrFile = names.data();
    dialog.m_ofn.nMaxFile = static_cast<DWORD>(names.size());
    dialog.m_ofn.lpstrCustomFilter = customFilter;
    dialog.m_ofn.nMaxCustFilter = 260;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Projects

CDocument *CZqApp::OpenDocumentFile(LPCSTR path) {
    if (path && m_projectTemplate && m_projectTemplate->MatchesExtension(path))
        return OpenProject(path);
    return CWinApp::OpenDocumentFile(path);
}

CDocument *CZqApp::OpenProject(const char *path) {
    if (!m_projectTemplate) {
        ShowString(IDS_NO_PROJECT_TEMPLATE);
        return nullptr;
    }
    CDocument *doc = m_projectTemplate->OpenDocumentFile(nullptr);
    if (!doc)
        return nullptr;
    auto *project = DYNAMIC_DOWNCAST(CZqDoc, doc);
    if (project && path && project->ReadProject(path)) {
        doc->SetPathName(path);
        doc->SetTitle(path);
        return doc;
    }
    POSITION pos = doc->GetFirstViewPosition();
    CView *view = pos ? doc->GetNextView(pos) : nullptr;
    if (CFrameWnd *frame = view ? view->GetParentFrame() : nullptr)
        frame->DestroyWindow();
    return nullptr;
}

void CZqApp::OnNewProject() {
    if (!m_projectTemplate) {
        ShowString(IDS_NO_PROJECT_TEMPLATE);
        return;
    }
    m_projectTemplate->OpenDocumentFile(nullptr);
}

void CZqApp::OnOpenProject() {
    CString name;
    if (DoPromptFileName(name, AFX_IDS_OPENFILE, OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, TRUE,
                         m_projectTemplate))
        OpenProject(name);
}

void CZqApp::OnCloseProject() {
    if (CMDIChildWnd *child = ActiveChild())
        child->SendMessage(WM_CLOSE);
}

void CZqApp::OnAddFileToProject() {
    CLeftView *view = GetActiveProjectView();
    if (!view)
        return;
    char filter[260], ext[260];
    LoadResString(IDS_ADD_FILE_FILTER, filter);
    LoadResString(IDS_DEFAULT_FONT_EXT, ext);
    CFileDialog dialog(TRUE, ext, nullptr,
                       OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST |
                           OFN_ALLOWMULTISELECT,
                       filter, AfxGetMainWnd());
    std::vector<char> names(8000, '\0');
    PrepareFileDialog(dialog, names, g_addFileFilter);
    if (dialog.DoModal() != IDOK)
        return;
    for (POSITION pos = dialog.GetStartPosition(); pos;) {
        const CString chosen = dialog.GetNextPathName(pos);
        if (chosen.GetLength() >= MAX_PATH)
            continue; // no row can hold it
        char path[MAX_PATH];
        CopyStringN(path, chosen, MAX_PATH - 1);
        view->AddProjectFile(path);
    }
    if (CDocument *doc = view->GetDocument())
        doc->SetModifiedFlag(TRUE);
}

void CZqApp::OnRemoveFile() {
    CLeftView *view = GetActiveProjectView();
    if (!view)
        return;
    view->RemoveSelectedRows();
    if (CDocument *doc = view->GetDocument())
        doc->SetModifiedFlag(TRUE);
}

void CZqApp::OnEditDownloadDetails() {
    CLeftView *view = GetActiveProjectView();
    if (!view)
        return;
    CListCtrl &list = view->GetListCtrl();
    std::vector<int> rows;
    for (int row = list.GetNextItem(-1, LVNI_SELECTED); row >= 0 && rows.size() < 100000;
         row = list.GetNextItem(row, LVNI_SELECTED))
        rows.push_back(row);
    for (int row : rows)
        view->EditRow(row);
}

void CZqApp::OnCreateDownloadFile() {
    if (CLeftView *view = GetActiveProjectView())
        view->SendProject(0);
}

void CZqApp::OnSendProjectFiles() {
    if (CLeftView *view = GetActiveProjectView())
        PrintDone(view->SendProject(1));
}

void CZqApp::OnFilterMacroFile() {
    // 1-3: the flags, the dialog, the file written back whole.
    const std::string flagsPath = std::string(DataFolder) + "\\PFilters.dat";
    DWORD count = 0;
    const std::vector<char> bytes = ReadWholeFile(flagsPath.c_str(), &count);
    CPCLFilters filters(AfxGetMainWnd());
    filters.m_flags = ParseFilterFlags(bytes.data(), count);
    if (filters.DoModal() != IDOK)
        return;
    const std::string file = WriteFilterFlags(filters.m_flags);
    EnsureFolder(DataFolder);
    SetLastError(NO_ERROR);
    if (!ReplaceWholeFile(flagsPath.c_str(), file.data(), static_cast<DWORD>(file.size()))) {
        DWORD code = GetLastError();
        CErrors report(code == NO_ERROR ? ERROR_WRITE_FAULT : code);
        return;
    }

    // 4-5: the print file and its macros beside it.
    char filter[260];
    LoadResString(IDS_SPOOL_FILE_FILTER, filter);
    CFileDialog dialog(TRUE, "prn", nullptr,
                       OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST, filter,
                       AfxGetMainWnd());
    std::vector<char> name(MAX_PATH, '\0');
    PrepareFileDialog(dialog, name, g_printFileFilter);
    if (dialog.DoModal() != IDOK)
        return;
    const std::string input(dialog.GetPathName());
    const std::string output = MacroOutputName(input);
    if (input.empty() || SamePathNoCase(input, output)) {
        ShowString(IDS_OPERATION_FAILED);
        return;
    }
    CMacroFile macros(input.c_str());
    macros.SplitMacroFile(output.c_str());
}

void CZqApp::OnSendDownloadFile() {
    CAPrinter *printer = GetCurrentPrinter();
    if (!printer)
        return;
    char filter[260];
    LoadResString(IDS_PJL_FILE_FILTER, filter);
    CFileDialog dialog(TRUE, "pjl", nullptr, OFN_HIDEREADONLY, filter, AfxGetMainWnd());
    std::vector<char> name(500, '\0');
    PrepareFileDialog(dialog, name, g_downloadFileFilter);
    if (dialog.DoModal() != IDOK)
        return;
    const std::string path(dialog.GetPathName());
    CBuffer file(path.c_str()); // a file that cannot be opened is reported here
    if (file.IsEmpty()) {
        if (FileExists(path.c_str()))
            ShowString(IDS_OPERATION_FAILED); // empty or unreadable
        return;
    }
    PrintDone(printer->SendStream(file.m_data, file.GetLength()));
}

// ---------------------------------------------------------------------------------------
// Printers and printer windows

void CZqApp::AppendPrinterRow(CAPrinter *printer) {
    AppendRow(printer);
}

void CZqApp::RemovePrinterRow(CAPrinter *printer) {
    CListCtrl *list = GetPrinterListCtrl();
    if (!list)
        return;
    for (int row = list->GetItemCount() - 1; row >= 0; --row)
        if (list->GetItemData(row) == reinterpret_cast<DWORD_PTR>(printer))
            list->DeleteItem(row);
}

void CZqApp::OnAddRemovePrinters() {
    CAddPrinter dialog(m_printers, AfxGetMainWnd());
    dialog.DoModal();
    SaveSettings();
}

void CZqApp::OnRefreshFolderView() {
    if (CPrLeftView *tree = GetActiveStorageTreeView())
        tree->SendMessage(WM_KEYUP, VK_F5, 0xC0000001);
}

void CZqApp::OnDeleteFiles() {
    if (CPrView *list = GetActiveStorageListView())
        list->SendMessage(WM_KEYUP, VK_DELETE, 0xC0000001);
}

void CZqApp::OnCloseResource() {
    if (CMDIChildWnd *child = ActiveChild())
        child->SendMessage(WM_CLOSE);
}

void CZqApp::OnPrinterProperties() {
    CPrtProp dialog(AfxGetMainWnd());
    dialog.DoModal();
}

// ---------------------------------------------------------------------------------------
// Printer commands

void CZqApp::PrintDone(BOOL ok) {
    if (ok)
        ShowString(IDS_COMMAND_ISSUED, MB_OK | MB_ICONINFORMATION);
}

void CZqApp::OnPrintDemoPage() {
    if (CAPrinter *printer = GetCurrentPrinter())
        PrintDone(printer->PrintDemoPage());
}

void CZqApp::OnPrintPclFonts() {
    if (CAPrinter *printer = GetCurrentPrinter())
        PrintDone(printer->PrintPclFontList());
}

void CZqApp::OnPrintFileListing() {
    if (CAPrinter *printer = GetCurrentPrinter())
        PrintDone(printer->PrintFileList());
}

namespace {

// PSMENU "DISABLE" turns the PostScript commands off: only the missing-language message.
bool PostScriptMenuDisabled(CAPrinter &printer) {
    if (printer.m_attrState == 0)
        printer.QueryAttributes();
    if (!IsPsMenuDisabled(printer.m_attr[kAttrPsMenu]))
        return false;
    printer.ReportMissingLanguage(0x02);
    return true;
}

} // namespace

void CZqApp::OnPrintPostScriptFonts() {
    CAPrinter *printer = GetCurrentPrinter();
    if (!printer || PostScriptMenuDisabled(*printer))
        return;
    PrintDone(printer->PrintPostScriptFontList());
}

void CZqApp::OnPrintPsFontSample() {
    CAPrinter *printer = GetCurrentPrinter();
    if (!printer || PostScriptMenuDisabled(*printer))
        return;
    PrintDone(printer->PrintPostScriptFontSample());
}

int CZqApp::TakeNextMacroId() {
    return ::TakeNextMacroId(m_macroIds);
}

void CZqApp::OnTestMacro() {
    CAPrinter *printer = GetCurrentPrinter();
    if (!printer)
        return;
    if (!printer->EnsureLanguages())
        return;
    if (!printer->SupportsPCL()) {
        printer->ReportMissingLanguage(0x01);
        return;
    }
    CParamDlg dialog(AfxGetMainWnd());
    char text[260];
    dialog.m_title = LoadResString(IDS_TEST_MACRO_TITLE, text);
    dialog.m_label1 = LoadResString(IDS_TEST_MACRO_TEXT, text);
    dialog.m_label2 = LoadResString(IDS_MACRO_IDS, text);
    dialog.m_check = 1;
    if (dialog.DoModal() != IDOK)
        return;
    m_macroIds = static_cast<const char *>(dialog.m_value);
    const std::string job = BuildTestMacroJob(m_macroIds, dialog.m_check != 0);
    CMBuffer stream;
    stream.Append(job.data(), static_cast<DWORD>(job.size()));
    PrintDone(printer->SendStream(stream.m_data, stream.GetLength()));
}

void CZqApp::OnTestForm() {
    CAPrinter *printer = GetCurrentPrinter();
    if (!printer)
        return;
    if (printer->m_attrState == 0)
        printer->QueryAttributes();
    if (!printer->EnsureLanguages())
        return;
    if (IsPsMenuDisabled(printer->m_attr[kAttrPsMenu]) || !printer->SupportsPostScript()) {
        printer->ReportMissingLanguage(0x02);
        return;
    }
    CTextList forms;
    if (printer->ListPostScriptForms(forms) != 0)
        return;
    char chosen[260] = "";
    if (ChooseEntry(kChooseForm, forms, chosen) != IDOK)
        return;
    // The row is the listed string's body: its escapes are decoded for the job.
    const std::optional<std::string> decoded =
        DecodePostScriptString("(" + std::string(chosen) + ")");
    const std::string job = BuildTestFormJob(decoded ? *decoded : std::string(chosen));
    PrintDone(printer->SendStream(job.data(), static_cast<DWORD>(job.size())));
}

void CZqApp::OnHelpTopics() {
    HtmlHelp(0, 0);
}

void CZqApp::OnAppAbout() {
    CAboutDlg dialog(AfxGetMainWnd());
    dialog.DoModal();
}

// ---------------------------------------------------------------------------------------
// Update rules

namespace {

CListCtrl *ProjectList() {
    CLeftView *view = GetActiveProjectView();
    return view ? &view->GetListCtrl() : nullptr;
}

} // namespace

void CZqApp::OnUpdateAlwaysEnabled(CCmdUI *cmdUI) {
    cmdUI->Enable(TRUE);
}

void CZqApp::OnUpdateProjectWindow(CCmdUI *cmdUI) {
    cmdUI->Enable(m_projectCount > 0 && IsProjectWindowActive());
}

void CZqApp::OnUpdateProjectSelection(CCmdUI *cmdUI) {
    CListCtrl *list = m_projectCount > 0 && IsProjectWindowActive() ? ProjectList() : nullptr;
    cmdUI->Enable(list && list->GetSelectedCount() > 0);
}

void CZqApp::OnUpdateProjectRows(CCmdUI *cmdUI) {
    CListCtrl *list = m_projectCount > 0 && IsProjectWindowActive() ? ProjectList() : nullptr;
    cmdUI->Enable(list && list->GetItemCount() > 0);
}

void CZqApp::OnUpdateSendProject(CCmdUI *cmdUI) {
    CListCtrl *list = m_projectCount > 0 && IsProjectWindowActive() ? ProjectList() : nullptr;
    cmdUI->Enable(list && GetCurrentPrinter() && list->GetItemCount() > 0);
}

void CZqApp::OnUpdateResourceWindow(CCmdUI *cmdUI) {
    cmdUI->Enable(m_resourceCount > 0 && IsResourceWindowActive());
}

void CZqApp::OnUpdateTreeSelection(CCmdUI *cmdUI) {
    CPrLeftView *tree =
        m_resourceCount > 0 && IsResourceWindowActive() ? GetActiveStorageTreeView() : nullptr;
    cmdUI->Enable(tree && tree->GetTreeCtrl().GetSelectedItem() != nullptr);
}

void CZqApp::OnUpdateListSelection(CCmdUI *cmdUI) {
    CPrView *list =
        m_resourceCount > 0 && IsResourceWindowActive() ? GetActiveStorageListView() : nullptr;
    cmdUI->Enable(list && list->GetListCtrl().GetSelectedCount() > 0);
}

void CZqApp::OnUpdateHasPrinter(CCmdUI *cmdUI) {
    cmdUI->Enable(GetCurrentPrinter() != nullptr);
}

void CZqApp::OnUpdatePclPrinter(CCmdUI *cmdUI) {
    CAPrinter *printer = GetCurrentPrinter();
    cmdUI->Enable(printer && printer->SupportsPCL());
}

void CZqApp::OnUpdatePostScriptPrinter(CCmdUI *cmdUI) {
    CAPrinter *printer = GetCurrentPrinter();
    cmdUI->Enable(printer && printer->SupportsPostScript() &&
                  !IsPsMenuDisabled(printer->m_attr[kAttrPsMenu]));
}

void CZqApp::OnUpdatePrinterWindow(CCmdUI *cmdUI) {
    cmdUI->Enable(GetCurrentPrinter() != nullptr && IsResourceWindowActive());
}

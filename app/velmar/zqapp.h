// CZqApp: the application object of velmar, its start-up, its settings file and the
// printer bar's rows.
#pragma once

#include "framework.h"

#include <memory>
#include <string>
#include <vector>

#include "buffer.h"
#include "corvane.h"
#include "printer.h"

class CMainFrame;

class CZqApp : public CWinApp {
  public:
    CZqApp();
    ~CZqApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // Loads icon `id` of the program's own resources at 16 and 32 px into the two lists.
    void AddIconToImageLists(UINT id);
    // The shell's common application-data folder into `path` (MAX_PATH characters).
    static void GetCommonAppDataFolder(char *path);

    // The settings file ZqConfig.dat in the data folder, or in `folder`.
    void LoadSettings();
    void SaveSettings();
    void LoadSettingsFrom(const char *folder);
    // False when the file could not be written (reported once per run through CErrors), or
    // when it is a file that was there but could not be read at the last load: that one is
    // kept as it is (reported once per run), not replaced by settings that never held its
    // contents.
    bool SaveSettingsTo(const char *folder);
    // The typeface number for a TrueType font without PCLT; the counter moves on and the
    // settings file is saved.
    int TakeTypeFace();

    // The printer bar's list control; null before the main frame exists.
    CListCtrl *GetPrinterListCtrl();
    // A row for a new printer made from `found`; the printer is not added to m_printers.
    void AddPrinterRow(const DiscoveredPrinter &found);
    // One row per printer of m_printers, after the rows already present.
    void FillPrinterBar();
    // The printer of the bar's first selected row; with rows but none selected, row 0 is
    // selected and its printer used. Null for an empty bar.
    CAPrinter *GetCurrentPrinter();

    // The active MDI child is a project window (user data 23) or a printer window (21).
    BOOL IsProjectWindowActive();
    BOOL IsResourceWindowActive();

    // The discovery dialog with the discovery flags and scopes; afterwards the flags and
    // scopes come back and the settings are saved.
    void OnDiscoverPrinters();
    // Deletes every row of the bar and the printers held only by a row (never those of
    // m_printers).
    void ClearPrinterBar();
    // Opens a printer window for the current printer; it is counted when its printer
    // answered, destroyed otherwise.
    void OnShowResources();
    // Closes every printer window; a count left other than 0 is set to 0 with the
    // miscount message.
    void CloseResourceWindows();

    CMultiDocTemplate *m_projectTemplate = nullptr;  // owned by the framework
    CMultiDocTemplate *m_resourceTemplate = nullptr; // owned by the framework

    CImageList m_smallImages;
    CImageList m_largeImages;
    HMODULE m_hConverterLib = nullptr;
    HMODULE m_hResources = nullptr;
    int m_projectCount = 0;
    int m_resourceCount = 0;
    std::string m_macroIds;

    // Settings.
    CPtrList *m_printers = nullptr; // CAPrinter*, owned
    BOOL m_discoverLpt = TRUE;
    BOOL m_discoverUsb = TRUE;
    BOOL m_discoverIp = TRUE;
    std::unique_ptr<CMBuffer> m_subNets;
    int m_typeFace = 3000;
    char m_pin[5] = {};
    BOOL m_showProof = TRUE;
    BOOL m_showSecure = TRUE;

    // Administrator state: set by a successful login, never cleared while the program runs.
    BOOL m_adminLoggedIn = FALSE;
    char m_adminPassword[9] = {};

    CMainFrame *MainFrame() const;

    // A path with the project extension opens through OpenProject; others as the
    // framework opens them.
    CDocument *OpenDocumentFile(LPCSTR path) override;
    // A new project window reading `path`: the document (path and title set to `path`), or
    // null with the window destroyed.
    CDocument *OpenProject(const char *path);
    // The next identifier of m_macroIds (-1 at the end of the usable ones).
    int TakeNextMacroId();
    // A printer-bar row for `printer` (held by m_printers), and its removal.
    void AppendPrinterRow(CAPrinter *printer);
    void RemovePrinterRow(CAPrinter *printer);

    // Menu 109 (commands.cpp).
    void OnNewProject();
    void OnOpenProject();
    void OnCloseProject();
    void OnAddFileToProject();
    void OnRemoveFile();
    void OnEditDownloadDetails();
    void OnFilterMacroFile();
    void OnCreateDownloadFile();
    void OnSendDownloadFile();
    void OnSendProjectFiles();
    void OnAddRemovePrinters();
    void OnRefreshFolderView();
    void OnDeleteFiles();
    void OnCloseResource();
    void OnPrinterProperties();
    void OnAdminFunctions(); // admin.cpp
    void OnHddPrintJobs();   // spooldlg.cpp
    void OnPrintDemoPage();
    void OnPrintPclFonts();
    void OnPrintPostScriptFonts();
    void OnPrintPsFontSample();
    void OnPrintFileListing();
    void OnTestMacro();
    void OnTestForm();
    void OnHelpTopics();
    void OnAppAbout();

    void OnUpdateAlwaysEnabled(CCmdUI *cmdUI);
    void OnUpdateProjectWindow(CCmdUI *cmdUI);
    void OnUpdateProjectSelection(CCmdUI *cmdUI);
    void OnUpdateProjectRows(CCmdUI *cmdUI);
    void OnUpdateSendProject(CCmdUI *cmdUI);
    void OnUpdateResourceWindow(CCmdUI *cmdUI);
    void OnUpdateTreeSelection(CCmdUI *cmdUI);
    void OnUpdateListSelection(CCmdUI *cmdUI);
    void OnUpdateHasPrinter(CCmdUI *cmdUI);
    void OnUpdatePclPrinter(CCmdUI *cmdUI);
    void OnUpdatePostScriptPrinter(CCmdUI *cmdUI);
    void OnUpdatePrinterWindow(CCmdUI *cmdUI);

  protected:
    DECLARE_MESSAGE_MAP()

  private:
    void PrintDone(BOOL ok);
    void AppendRow(CAPrinter *printer);
    void DeletePrinters();
    std::vector<CAPrinter *> m_rowPrinters; // printers held only by a bar row, owned
    bool m_saveFailureShown = false;
    std::string m_unreadSettingsFile; // a settings file found but not read: never written
    bool m_unreadShown = false;
};

CZqApp &ZqApp();

// Creates each missing level of `folder` (a full path); true when it exists afterwards.
bool EnsureFolder(const char *folder);

// CZqApp: start-up, settings file and printer bar rows.
#include "zqapp.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dialogs.h"
#include "errors.h"
#include "frames.h"
#include "helpers.h"
#include "mainfrm.h"
#include "resource_ids.h"
#include "settings.h"
#include "text.h"
#include "ttfont.h"
#include "velmar_res.h"

namespace {

constexpr char kSettingsFile[] = "ZqConfig.dat";

char *DupText(const char *text) {
    const std::size_t n = std::strlen(text) + 1;
    char *copy = static_cast<char *>(std::malloc(n));
    if (copy)
        std::memcpy(copy, text, n);
    return copy;
}

void ReplaceText(LPCSTR &member, const char *text) {
    std::free(const_cast<char *>(member));
    member = DupText(text);
}

} // namespace

CZqApp &ZqApp() {
    return *static_cast<CZqApp *>(AfxGetApp());
}

bool EnsureFolder(const char *folder) {
    std::string path = folder ? folder : "";
    while (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    if (path.empty())
        return false;
    // Skip the root ("C:\" or "\\server\share\") and create each level after it.
    std::size_t start = 0;
    if (path.size() >= 2 && path[1] == ':')
        start = 3;
    else if (path.rfind("\\\\", 0) == 0) {
        start = path.find('\\', 2);
        start = start == std::string::npos ? path.size() : path.find('\\', start + 1);
        if (start == std::string::npos)
            start = path.size();
    }
    for (std::size_t pos = path.find('\\', start);; pos = path.find('\\', pos + 1)) {
        const std::string level = path.substr(0, pos);
        if (level.size() > start)
            CreateDirectoryA(level.c_str(), nullptr);
        if (pos == std::string::npos)
            break;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

CZqApp::CZqApp() : CWinApp(nullptr), m_subNets(std::make_unique<CMBuffer>()) {
    EnableHtmlHelp();
    SetEntryChooser(&RunEntryChooser);
}

CZqApp::~CZqApp() {
    DeletePrinters();
}

CMainFrame *CZqApp::MainFrame() const {
    return static_cast<CMainFrame *>(m_pMainWnd);
}

void CZqApp::DeletePrinters() {
    if (m_printers) {
        while (!m_printers->IsEmpty())
            delete static_cast<CAPrinter *>(m_printers->RemoveHead());
        delete m_printers;
        m_printers = nullptr;
    }
    for (CAPrinter *printer : m_rowPrinters)
        delete printer;
    m_rowPrinters.clear();
}

void CZqApp::GetCommonAppDataFolder(char *path) {
    path[0] = '\0';
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path)))
        path[0] = '\0';
}

void CZqApp::AddIconToImageLists(UINT id) {
    HINSTANCE self = AfxGetInstanceHandle();
    HICON small = static_cast<HICON>(
        LoadImageA(self, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_LOADTRANSPARENT));
    HICON large = static_cast<HICON>(
        LoadImageA(self, MAKEINTRESOURCEA(id), IMAGE_ICON, 32, 32, LR_LOADTRANSPARENT));
    m_smallImages.Add(small);
    m_largeImages.Add(large);
    if (small)
        DestroyIcon(small);
    if (large)
        DestroyIcon(large);
}

BOOL CZqApp::InitInstance() {
    // 1-2: the program folder and the data folder.
    GetCurrentDirectoryA(MAX_PATH, ProgramFolder);
    SetCurrentDirectoryA(ProgramFolder);
    const DWORD version = GetVersion();
    if (LOBYTE(LOWORD(version)) < 5) {
        CopyStringN(DataFolder, ProgramFolder, MAX_PATH - 1);
    } else {
        char common[MAX_PATH];
        GetCommonAppDataFolder(common);
        std::snprintf(DataFolder, MAX_PATH, "%s\\Dranvel\\Wyr", common);
        EnsureFolder(DataFolder);
    }

    // 3: controls.
    AfxEnableControlContainer();
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0x1FFF};
    InitCommonControlsEx(&controls);

    // 4: image lists from the program's own icons.
    m_largeImages.Create(32, 32, ILC_COLOR8 | ILC_MASK, 15, 1);
    m_smallImages.Create(16, 16, ILC_COLOR8 | ILC_MASK, 15, 1);
    for (UINT id = IDI_NODE_FIRST; id <= IDI_NODE_LAST; ++id)
        AddIconToImageLists(id);

    // 5: zunder, by full path so that no other copy can be picked up.
    char path[MAX_PATH + 32];
    std::snprintf(path, sizeof path, "%s\\zunder.dll", ProgramFolder);
    m_hConverterLib = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);

    // 6: help file.
    std::snprintf(path, sizeof path, "%s\\Halvine.chm", ProgramFolder);
    ReplaceText(m_pszHelpFilePath, path);

    // 7: the resource module.
    std::snprintf(path, sizeof path, "%s\\nimbrel.dll", ProgramFolder);
    m_hResources = LoadLibraryA(path);
    if (!m_hResources) {
        std::string message = std::string("Cannot load the resource module ") + path;
        AfxMessageBox(message.c_str(), MB_OK | MB_ICONSTOP);
        return FALSE;
    }
    AfxSetResourceHandle(m_hResources);

    // 8-9: name and profile.
    char name[260];
    ReplaceText(m_pszAppName, LoadResString(AFX_IDS_APP_TITLE, name));
    SetRegistryKey("Dranvel");
    LoadStdProfileSettings(6);

    // 10: the templates of the project and printer windows.
    m_projectTemplate = new CMultiDocTemplate(IDR_PROJECT_TYPE, RUNTIME_CLASS(CZqDoc),
                                              RUNTIME_CLASS(CChildFrame), RUNTIME_CLASS(CLeftView));
    AddDocTemplate(m_projectTemplate);
    m_resourceTemplate = new CMultiDocTemplate(IDR_RESOURCE_TYPE, RUNTIME_CLASS(CPrDoc),
                                               RUNTIME_CLASS(CPrFrame), RUNTIME_CLASS(CPrLeftView));
    AddDocTemplate(m_resourceTemplate);

    // 11-12: the printer list and the main frame.
    m_printers = new CPtrList(10);
    auto *frame = new CMainFrame;
    m_pMainWnd = frame;
    if (!frame->LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE)) {
        m_pMainWnd = nullptr;
        return FALSE;
    }

    // 13: settings and the bar.
    LoadSettings();
    FillPrinterBar();

    // 14: the command line.
    CCommandLineInfo info;
    info.m_nShellCommand = CCommandLineInfo::FileNothing;
    ParseCommandLine(info);
    if (!ProcessShellCommand(info))
        return FALSE;

    // 15-16.
    frame->m_bAutoMenuEnable = FALSE;
    frame->ShowWindow(m_nCmdShow);
    frame->UpdateWindow();

    // 17: first discovery.
    OnDiscoverPrinters();
    return TRUE;
}

int CZqApp::ExitInstance() {
    const int code = CWinApp::ExitInstance();
    DeletePrinters();
    return code;
}

BOOL CZqApp::IsProjectWindowActive() {
    CMainFrame *main = MainFrame();
    CMDIChildWnd *child = main && main->GetSafeHwnd() ? main->MDIGetActive() : nullptr;
    return child && GetWindowLongPtrA(child->m_hWnd, GWLP_USERDATA) == kProjectWindowData;
}

BOOL CZqApp::IsResourceWindowActive() {
    CMainFrame *main = MainFrame();
    CMDIChildWnd *child = main && main->GetSafeHwnd() ? main->MDIGetActive() : nullptr;
    return child && GetWindowLongPtrA(child->m_hWnd, GWLP_USERDATA) == kPrinterWindowData;
}

void CZqApp::OnShowResources() {
    if (!m_resourceTemplate) {
        AfxMessageBox(IDS_NO_RESOURCE_TEMPLATE, MB_OK);
        return;
    }
    if (!GetCurrentPrinter())
        return;
    // Opened hidden: a printer that does not answer never shows its window.
    CDocument *doc = m_resourceTemplate->OpenDocumentFile(nullptr, FALSE);
    if (!doc)
        return;
    POSITION pos = doc->GetFirstViewPosition();
    CView *view = pos ? doc->GetNextView(pos) : nullptr;
    CPrFrame *frame = view ? DYNAMIC_DOWNCAST(CPrFrame, view->GetParentFrame()) : nullptr;
    if (!frame)
        return;
    if (frame->m_answered) {
        ++m_resourceCount;
        frame->ActivateFrame();
    } else {
        frame->DestroyWindow();
    }
}

void CZqApp::CloseResourceWindows() {
    CMainFrame *frame = MainFrame();
    if (frame && frame->m_hWndMDIClient) {
        // A snapshot first: each close destroys a window of the list.
        std::vector<HWND> printerWindows;
        for (HWND h = GetWindow(frame->m_hWndMDIClient, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
            if (GetWindowLongPtrA(h, GWLP_USERDATA) == kPrinterWindowData)
                printerWindows.push_back(h);
        for (HWND h : printerWindows)
            if (IsWindow(h))
                ::SendMessageA(h, WM_CLOSE, 0, 0);
    }
    if (m_resourceCount != 0) {
        m_resourceCount = 0;
        AfxMessageBox(IDS_RESOURCE_MISCOUNT, MB_OK);
    }
}

// ---------------------------------------------------------------------------------------
// Settings

void CZqApp::LoadSettings() {
    LoadSettingsFrom(DataFolder);
}

void CZqApp::SaveSettings() {
    SaveSettingsTo(DataFolder);
}

int CZqApp::TakeTypeFace() {
    int next = kFirstTypeface;
    const int value = TakeTypefaceNumber(m_typeFace, next);
    m_typeFace = next;
    SaveSettings();
    return value;
}

void CZqApp::LoadSettingsFrom(const char *folder) {
    const std::string path = std::string(folder) + "\\" + kSettingsFile;
    CBuffer file(path.c_str());
    // A file that is there with contents but could not be read (held by another program,
    // denied) keeps them: the defaults below must never be saved over it.
    m_unreadSettingsFile.clear();
    WIN32_FILE_ATTRIBUTE_DATA found;
    if (file.IsEmpty() && GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &found) &&
        !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (found.nFileSizeLow != 0 || found.nFileSizeHigh != 0))
        m_unreadSettingsFile = path;
    // A NUL ends the text: what follows it keeps its defaults.
    const SettingsRecord record =
        file.IsEmpty() ? SettingsRecord{}
                       : ParseSettings(file.m_data, strnlen(file.m_data, file.m_length));
    if (!m_printers)
        m_printers = new CPtrList(10);
    for (const auto &[printerName, port] : record.printers) {
        const DiscoveredPrinter found = {port.c_str(), printerName.c_str()};
        m_printers->AddTail(new CAPrinter(found));
    }
    m_discoverLpt = record.discoverLpt;
    m_discoverUsb = record.discoverUsb;
    m_discoverIp = record.discoverIp;
    m_subNets = std::make_unique<CMBuffer>();
    if (!record.subNets.empty())
        m_subNets->Append(record.subNets.data(), static_cast<DWORD>(record.subNets.size()));
    m_typeFace = record.typeFace;
    CopyStringN(m_pin, record.pin.c_str(), 4);
    m_showProof = record.showProof;
    m_showSecure = record.showSecure;
}

bool CZqApp::SaveSettingsTo(const char *folder) {
    SettingsRecord record;
    if (m_printers) {
        for (POSITION pos = m_printers->GetHeadPosition(); pos;) {
            auto *printer = static_cast<CAPrinter *>(m_printers->GetNext(pos));
            record.printers.emplace_back(printer->m_name, printer->m_port);
        }
    }
    record.discoverLpt = m_discoverLpt != FALSE;
    record.discoverUsb = m_discoverUsb != FALSE;
    record.discoverIp = m_discoverIp != FALSE;
    if (m_subNets && m_subNets->m_data)
        record.subNets.assign(m_subNets->m_data,
                              std::strlen(m_subNets->m_data) < m_subNets->GetLength()
                                  ? std::strlen(m_subNets->m_data)
                                  : m_subNets->GetLength());
    record.typeFace = m_typeFace;
    record.pin.assign(m_pin, strnlen(m_pin, 4));
    record.showProof = m_showProof != FALSE;
    record.showSecure = m_showSecure != FALSE;
    const std::string text = WriteSettings(record);

    const std::string path = std::string(folder) + "\\" + kSettingsFile;
    if (!m_unreadSettingsFile.empty() &&
        _stricmp(path.c_str(), m_unreadSettingsFile.c_str()) == 0) {
        if (!m_unreadShown) {
            m_unreadShown = true;
            const std::string message = "The settings file " + path +
                                        " could not be read at start-up, so it is left as it is:"
                                        " the settings are not saved in this run.";
            AfxMessageBox(message.c_str(), MB_OK | MB_ICONEXCLAMATION);
        }
        return false;
    }
    EnsureFolder(folder);
    SetLastError(NO_ERROR);
    if (ReplaceWholeFile(path.c_str(), text.data(), static_cast<DWORD>(text.size())))
        return true;
    DWORD code = GetLastError();
    if (code == NO_ERROR)
        code = ERROR_WRITE_FAULT;
    if (!m_saveFailureShown) {
        m_saveFailureShown = true;
        CErrors report(code);
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Printer bar rows

CListCtrl *CZqApp::GetPrinterListCtrl() {
    CMainFrame *frame = MainFrame();
    if (!frame || !frame->m_printerBar->GetSafeHwnd())
        return nullptr;
    return frame->m_printerBar->GetList();
}

void CZqApp::AppendRow(CAPrinter *printer) {
    CListCtrl *list = GetPrinterListCtrl();
    if (!list)
        return;
    char format[260];
    LoadResString(IDS_PRINTER_ON_PORT, format);
    char text[1100];
    std::snprintf(text, sizeof text, format, printer->m_displayName, printer->m_displayAddress);
    list->InsertItem(LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM, list->GetItemCount(), text, 0, 0, 1,
                     reinterpret_cast<LPARAM>(printer));
}

void CZqApp::AddPrinterRow(const DiscoveredPrinter &found) {
    auto *printer = new CAPrinter(found);
    m_rowPrinters.push_back(printer);
    AppendRow(printer);
}

CAPrinter *CZqApp::GetCurrentPrinter() {
    CListCtrl *list = GetPrinterListCtrl();
    if (!list || list->GetItemCount() <= 0)
        return nullptr;
    int row = list->GetNextItem(-1, LVNI_SELECTED);
    if (row < 0) {
        row = 0;
        list->SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
    }
    return reinterpret_cast<CAPrinter *>(list->GetItemData(row));
}

void CZqApp::FillPrinterBar() {
    if (!m_printers)
        return;
    for (POSITION pos = m_printers->GetHeadPosition(); pos;)
        AppendRow(static_cast<CAPrinter *>(m_printers->GetNext(pos)));
}

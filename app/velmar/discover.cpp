// The printer discovery dialog, its worker thread and the port API's callback, and the
// Discover command of the application.
#include "discover.h"

#include <winspool.h>

#include <cstring>

#include "discovery.h"
#include "helpers.h"
#include "mainfrm.h"
#include "resource_ids.h"
#include "zqapp.h"

namespace {

constexpr const char *kLabels[] = {"LPT", "USB", "TCP/IP"};
constexpr int kHelpContext = 3;
constexpr DWORD kStartWaitMs = 500;
constexpr DWORD kFirstWaitMs = 1000;
constexpr DWORD kPollMs = 100;
constexpr int kEnumAttempts = 4;
constexpr DWORD kFirstEnumSize = 10000;

// The local port names of the print spooler (level 1). The buffer is sized from what the
// spooler says it needs, a bounded number of times.
std::vector<std::string> LocalPortNames() {
    std::vector<std::string> names;
    std::vector<BYTE> buffer(kFirstEnumSize);
    for (int attempt = 0; attempt < kEnumAttempts; ++attempt) {
        DWORD needed = 0, count = 0;
        if (EnumPortsA(nullptr, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed,
                       &count)) {
            const auto *ports = reinterpret_cast<const PORT_INFO_1A *>(buffer.data());
            for (DWORD i = 0; i < count; ++i)
                if (ports[i].pName)
                    names.emplace_back(ports[i].pName);
            return names;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size())
            break;
        buffer.assign(needed, 0);
    }
    return names;
}

int LabelIndex(const char *label) {
    for (int i = 0; i < 3; ++i)
        if (std::strcmp(label, kLabels[i]) == 0)
            return i;
    return 2;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Application side

void CZqApp::ClearPrinterBar() {
    if (CListCtrl *list = GetPrinterListCtrl())
        list->DeleteAllItems();
    for (CAPrinter *printer : m_rowPrinters)
        delete printer;
    m_rowPrinters.clear();
}

void CZqApp::OnDiscoverPrinters() {
    CDiscover dialog(m_pMainWnd);
    dialog.m_printerBar = GetPrinterListCtrl();
    dialog.m_showLpt = m_discoverLpt;
    dialog.m_showUsb = m_discoverUsb;
    dialog.m_showIp = m_discoverIp;
    if (m_subNets && m_subNets->m_data && !m_subNets->IsEmpty())
        dialog.m_scopes->AppendString(m_subNets->m_data);
    dialog.DoModal();
    m_discoverLpt = dialog.m_showLpt;
    m_discoverUsb = dialog.m_showUsb;
    m_discoverIp = dialog.m_showIp;
    // A buffer of the application's own: the dialog's dies with it.
    auto scopes = std::make_unique<CMBuffer>();
    if (dialog.m_scopes && dialog.m_scopes->m_data)
        scopes->AppendString(dialog.m_scopes->m_data);
    m_subNets = std::move(scopes);
    SaveSettings();
}

// ---------------------------------------------------------------------------------------
// CDiscover

BEGIN_MESSAGE_MAP(CDiscover, CDialog)
ON_BN_CLICKED(IDC_DISCOVER_ADD_SCOPE, OnAddScope)
ON_BN_CLICKED(IDC_DISCOVER_REMOVE, OnRemoveScope)
ON_BN_CLICKED(IDC_DISCOVER_DEFAULT, OnDefaultScope)
ON_BN_CLICKED(IDC_DIALOG_HELP, OnHelp)
ON_EN_CHANGE(IDC_DISCOVER_ADDRESS, OnAddressChange)
ON_LBN_SELCHANGE(IDC_DISCOVER_SCOPE_LIST, OnScopeSelChange)
ON_MESSAGE(WM_DISCOVER_RESULT, OnResult)
ON_MESSAGE(WM_DISCOVER_SEARCHING, OnSearching)
ON_MESSAGE(WM_DISCOVER_DONE, OnDone)
ON_WM_DESTROY()
END_MESSAGE_MAP()

CDiscover::CDiscover(CWnd *parent)
    : CDialog(IDD_DISCOVER, parent), m_scopes(std::make_unique<CMBuffer>()) {}

CDiscover::~CDiscover() {
    JoinWorker();
}

void CDiscover::DoDataExchange(CDataExchange *pDX) {
    DDX_Check(pDX, IDC_DISCOVER_SHOW_LPT, m_showLpt);
    DDX_Check(pDX, IDC_DISCOVER_SHOW_USB, m_showUsb);
    DDX_Check(pDX, IDC_DISCOVER_SHOW_IP, m_showIp);
    if (pDX->m_bSaveAndValidate) {
        // A box switched off for this run gives its saved flag back.
        if (m_lptOff)
            m_showLpt = m_savedLpt;
        if (m_usbOff)
            m_showUsb = m_savedUsb;
    }
}

BOOL CDiscover::OnInitDialog() {
    m_savedLpt = m_showLpt;
    m_savedUsb = m_showUsb;
    m_target = m_hWnd;
    CDialog::OnInitDialog();

    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&version);
#pragma GCC diagnostic pop
    if (version.dwMajorVersion > 4 && !DiscoverUserIsAdmin()) {
        m_usbOff = true;
        ::CheckDlgButton(m_hWnd, IDC_DISCOVER_SHOW_USB, BST_UNCHECKED);
        ::EnableWindow(::GetDlgItem(m_hWnd, IDC_DISCOVER_SHOW_USB), FALSE);
    }

    SetIdleState();
    m_cancel = true;
    m_running = false;
    m_uiThreadId = GetCurrentThreadId();

    AddScopes(m_scopes && m_scopes->m_data ? m_scopes->m_data : "");

    if (!QuvIsAccessAvailable() && GetLastError() == QUV_E_ACCESS_DENIED) {
        m_lptOff = m_usbOff = true;
        for (int id : {IDC_DISCOVER_SHOW_LPT, IDC_DISCOVER_SHOW_USB}) {
            ::CheckDlgButton(m_hWnd, id, BST_UNCHECKED);
            ::EnableWindow(::GetDlgItem(m_hWnd, id), FALSE);
        }
    }
    UpdateAddEnable();
    UpdateRemoveEnable();
    return TRUE;
}

void CDiscover::AddScopes(const std::string &saved) {
    auto *list = static_cast<CListBox *>(GetDlgItem(IDC_DISCOVER_SCOPE_LIST));
    if (!list)
        return;
    for (const std::string &scope : SplitScopes(saved))
        list->AddString(scope.c_str());
}

void CDiscover::SetIdleState() {
    m_idle = true;
    char text[260];
    ::SetDlgItemTextA(m_hWnd, IDOK, LoadResString(IDS_START, text));
    ::EnableWindow(::GetDlgItem(m_hWnd, IDOK), TRUE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDCANCEL), TRUE);
    ::SetDlgItemTextA(m_hWnd, IDC_DISCOVER_STATUS, "");
    ::SetDlgItemTextA(m_hWnd, IDC_DISCOVER_LABEL, "");
    m_cancel = true;
}

void CDiscover::SetSearchingState(const char *label) {
    m_idle = false;
    char text[260];
    ::SetDlgItemTextA(m_hWnd, IDOK, LoadResString(IDS_STOP, text));
    // Stop is offered.
    ::EnableWindow(::GetDlgItem(m_hWnd, IDOK), TRUE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDCANCEL), FALSE);
    ::SetDlgItemTextA(m_hWnd, IDC_DISCOVER_STATUS, LoadResString(IDS_DISCOVERING_ON, text));
    ::SetDlgItemTextA(m_hWnd, IDC_DISCOVER_LABEL, label);
}

std::vector<std::string> CDiscover::ScopeEntries() {
    std::vector<std::string> entries;
    auto *list = static_cast<CListBox *>(GetDlgItem(IDC_DISCOVER_SCOPE_LIST));
    if (!list)
        return entries;
    const int count = list->GetCount();
    for (int i = 0; i < count; ++i) {
        const int length = list->GetTextLen(i);
        if (length <= 0)
            continue;
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        list->GetText(i, text.data());
        text.resize(std::strlen(text.c_str()));
        entries.push_back(text);
    }
    return entries;
}

void CDiscover::OnOK() {
    UpdateData(TRUE);
    SetDefID(IDOK);
    GotoDlgCtrl(GetDlgItem(IDOK));

    if (!m_idle) {
        ::EnableWindow(::GetDlgItem(m_hWnd, IDOK), FALSE);
        PostMessage(WM_DISCOVER_RESULT, 0, 0);
        m_cancel = true;
        return;
    }
    Sleep(kStartWaitMs);
    if (m_running)
        return;
    m_running = true;
    ::EnableWindow(::GetDlgItem(m_hWnd, IDOK), FALSE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDCANCEL), FALSE);
    m_ended = false;

    ZqApp().CloseResourceWindows();
    ZqApp().ClearPrinterBar();

    const std::string multiSz = ScopesMultiSz(ScopeEntries());
    m_scopes = std::make_unique<CMBuffer>();
    m_scopes->Append(multiSz.data(), static_cast<DWORD>(multiSz.size()));

    m_cancel = false;
    JoinWorker();
    m_worker = CreateThread(nullptr, 0, DiscoveryThread, this, CREATE_SUSPENDED, nullptr);
    if (!m_worker) {
        m_running = false;
        SetIdleState();
        return;
    }
    SetThreadPriority(m_worker, THREAD_PRIORITY_HIGHEST);
    ResumeThread(m_worker);
}

void CDiscover::OnCancel() {
    // Esc, the close box and Exit alike: never while a worker runs.
    if (m_running)
        return;
    UpdateData(TRUE);
    const std::string joined = JoinScopes(ScopeEntries());
    m_scopes = std::make_unique<CMBuffer>();
    m_scopes->AppendString(joined.c_str());
    EndDialog(IDCANCEL);
}

void CDiscover::UpdateAddEnable() {
    auto *address = static_cast<CIPAddressCtrl *>(GetDlgItem(IDC_DISCOVER_ADDRESS));
    CWnd *add = GetDlgItem(IDC_DISCOVER_ADD_SCOPE);
    if (address && add)
        add->EnableWindow(!address->IsBlank());
}

void CDiscover::UpdateRemoveEnable() {
    auto *list = static_cast<CListBox *>(GetDlgItem(IDC_DISCOVER_SCOPE_LIST));
    CWnd *remove = GetDlgItem(IDC_DISCOVER_REMOVE);
    if (list && remove)
        remove->EnableWindow(list->GetSelCount() > 0);
}

void CDiscover::OnAddressChange() {
    UpdateAddEnable();
}

void CDiscover::OnScopeSelChange() {
    UpdateRemoveEnable();
}

void CDiscover::OnAddScope() {
    auto *address = static_cast<CIPAddressCtrl *>(GetDlgItem(IDC_DISCOVER_ADDRESS));
    auto *list = static_cast<CListBox *>(GetDlgItem(IDC_DISCOVER_SCOPE_LIST));
    if (!address || !list || address->IsBlank())
        return;
    BYTE f[4] = {};
    address->GetAddress(f[0], f[1], f[2], f[3]);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", f[0], f[1], f[2], f[3]);
    if (HasScope(ScopeEntries(), text)) {
        AfxMessageBox(IDS_DUPLICATE_SCOPE, MB_OK);
        return;
    }
    list->AddString(text);
    UpdateRemoveEnable();
}

void CDiscover::OnRemoveScope() {
    auto *list = static_cast<CListBox *>(GetDlgItem(IDC_DISCOVER_SCOPE_LIST));
    if (!list)
        return;
    const int count = list->GetSelCount();
    if (count > 0) {
        std::vector<int> items(static_cast<std::size_t>(count));
        const int got = list->GetSelItems(count, items.data());
        for (int i = got - 1; i >= 0; --i)
            list->DeleteString(static_cast<UINT>(items[static_cast<std::size_t>(i)]));
    }
    UpdateRemoveEnable();
}

void CDiscover::OnDefaultScope() {
    auto *list = static_cast<CListBox *>(GetDlgItem(IDC_DISCOVER_SCOPE_LIST));
    if (!list)
        return;
    list->ResetContent();
    list->AddString("255.255.255.255");
    UpdateRemoveEnable();
}

void CDiscover::OnHelp() {
    if (CWinApp *app = AfxGetApp())
        app->HtmlHelp(kHelpContext);
}

LRESULT CDiscover::OnResult(WPARAM, LPARAM lParam) {
    char *block = reinterpret_cast<char *>(lParam);
    if (!block || m_cancel) {
        m_ended = true;
        FreeResultBlock(block);
        return 0;
    }
    const char *name = block;
    const char *port = block + std::strlen(block) + 1;
    DiscoveredPrinter found{port, name};
    ZqApp().AddPrinterRow(found);
    FreeResultBlock(block);
    return 0;
}

LRESULT CDiscover::OnSearching(WPARAM wParam, LPARAM) {
    SetSearchingState(kLabels[wParam < 3 ? wParam : 2]);
    return 0;
}

LRESULT CDiscover::OnDone(WPARAM, LPARAM) {
    ZqApp().FillPrinterBar();
    SetIdleState();
    SetDefID(IDCANCEL);
    GotoDlgCtrl(GetDlgItem(IDCANCEL));
    JoinWorker();
    m_running = false;
    return 0;
}

void CDiscover::OnDestroy() {
    // The dialog may end under a running worker (its owner destroyed): stop it and wait.
    m_cancel = true;
    JoinWorker();
    m_running = false;
    m_target = nullptr;
    // The list as Exit would have kept it (a search leaves the buffer in its search form).
    const std::string joined = JoinScopes(ScopeEntries());
    m_scopes = std::make_unique<CMBuffer>();
    m_scopes->AppendString(joined.c_str());
    MSG msg;
    for (int i = 0; i < 100000 &&
                    PeekMessageA(&msg, m_hWnd, WM_DISCOVER_RESULT, WM_DISCOVER_RESULT, PM_REMOVE);
         ++i)
        FreeResultBlock(reinterpret_cast<char *>(msg.lParam));
    CDialog::OnDestroy();
}

void CDiscover::JoinWorker() {
    if (!m_worker)
        return;
    WaitForSingleObject(m_worker, INFINITE);
    CloseHandle(m_worker);
    m_worker = nullptr;
}

void CALLBACK CDiscover::Found(HANDLE, const DiscoveredPrinter *printer, void *context) {
    auto *dialog = static_cast<CDiscover *>(context);
    const HWND target = dialog->m_target;
    if (!printer) {
        if (target)
            ::PostMessageA(target, WM_DISCOVER_RESULT, 0, 0);
        return;
    }
    if (!printer->name || !printer->port)
        return;
    const std::size_t nameLength = std::strlen(printer->name);
    const std::size_t portLength = std::strlen(printer->port);
    char *block = AllocResultBlock(nameLength + portLength + 2);
    if (!block)
        return;
    std::memcpy(block, printer->name, nameLength + 1);
    std::memcpy(block + nameLength + 1, printer->port, portLength + 1);
    if (!target || !::PostMessageA(target, WM_DISCOVER_RESULT, 0, reinterpret_cast<LPARAM>(block)))
        FreeResultBlock(block);
}

void CDiscover::RunDiscovery(DWORD kind, const char *targets, const char *label) {
    const DWORD timeout[2] = {DiscoveryTimeoutMs(static_cast<int>(kind), label), 0};
    if (m_cancel || !targets || targets[0] == '\0')
        return;
    m_ended = false;
    if (HWND target = m_target)
        ::PostMessageA(target, WM_DISCOVER_SEARCHING, static_cast<WPARAM>(LabelIndex(label)), 0);
    HANDLE search = nullptr;
    if (!QuvStartPrinterDiscovery(kind, 0, targets, timeout, Found, this, &search)) {
        // On this thread, without an owner.
        AfxMessageBox(IDS_OPERATION_FAILED, MB_OK | MB_ICONSTOP);
        return;
    }
    Sleep(kFirstWaitMs);
    while (!m_cancel && !m_ended)
        Sleep(kPollMs);
    QuvClosePrinterDiscovery(search);
}

DWORD WINAPI DiscoveryThread(void *param) {
    auto *dialog = static_cast<CDiscover *>(param);
    // The flags as Start read them; Stop reads the boxes again meanwhile.
    const bool lpt = dialog->m_showLpt && !dialog->m_lptOff;
    const bool usb = dialog->m_showUsb && !dialog->m_usbOff;
    const bool ip = dialog->m_showIp != FALSE;
    LocalTargets local;
    if (lpt || usb)
        local = SplitLocalPorts(LocalPortNames());
    if (lpt)
        dialog->RunDiscovery(0, local.lpt.c_str(), "LPT");
    if (usb)
        dialog->RunDiscovery(0, local.usb.c_str(), "USB");
    if (ip && dialog->m_scopes)
        dialog->RunDiscovery(1, dialog->m_scopes->m_data, "TCP/IP");
    if (HWND target = dialog->m_target)
        ::PostMessageA(target, WM_DISCOVER_DONE, 0, 0);
    return 0;
}

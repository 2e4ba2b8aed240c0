// The discovery dialog in-process with the real port API stand-in and resource module: a
// second thread drives the dialog as a user would while CZqApp::OnDiscoverPrinters runs it
// modally. SNMP agents bind 127.0.0.209 to 127.0.0.215 only.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "discover.h"
#include "framework_seam.h"
#include "mainfrm.h"
#include "resource_ids.h"
#include "snmp_agent.h"
#include "suite_dialogs.h"
#include "suite_paths.h"
#include "zqapp.h"

CZqApp AppObject;

// The test program's answers to the dialog's two seams (linked in place of the program's).
std::atomic<bool> g_userIsAdmin{true};
std::atomic<int> g_liveBlocks{0};
bool DiscoverUserIsAdmin() {
    return g_userIsAdmin;
}
char *AllocResultBlock(std::size_t size) {
    ++g_liveBlocks;
    return static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, size));
}
void FreeResultBlock(char *block) {
    if (!block)
        return;
    --g_liveBlocks;
    HeapFree(GetProcessHeap(), 0, block);
}

using namespace snmpagent;

namespace {

const char kCaption[] = "Wyr - Printer Discovery";

struct FindDialog {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK TakeDialog(HWND hwnd, LPARAM lParam) {
    auto *find = reinterpret_cast<FindDialog *>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char text[128] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    if (pid == find->pid && IsWindowVisible(hwnd) && std::strcmp(text, kCaption) == 0) {
        find->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForDiscovery(DWORD ms = 15000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        FindDialog f = {GetCurrentProcessId(), nullptr};
        EnumWindows(TakeDialog, reinterpret_cast<LPARAM>(&f));
        if (f.found)
            return f.found;
        if (std::chrono::steady_clock::now() >= deadline)
            return nullptr;
        Sleep(20);
    }
}

// Waits (bounded) until `done` holds; false on time-out.
bool WaitUntil(const std::function<bool()> &done, DWORD ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        if (done())
            return true;
        Sleep(20);
    }
    return done();
}

std::string Text(HWND dialog, int id) {
    char text[256] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}
bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}
bool Checked(HWND dialog, int id) {
    return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}
int DefId(HWND dialog) {
    return LOWORD(SendMessageA(dialog, DM_GETDEFID, 0, 0));
}
void Click(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}
bool Searching(HWND dialog) {
    return Text(dialog, IDOK) == "Stop";
}
bool Idle(HWND dialog) {
    return Text(dialog, IDOK) == "Start" && Enabled(dialog, IDCANCEL);
}

std::vector<std::string> ListBoxItems(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_DISCOVER_SCOPE_LIST);
    std::vector<std::string> items;
    const int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        char text[256] = {};
        SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

// Runs `action` on a second thread with the dialog once it shows (NULL when none does).
class Driver : public suite::DialogDriver {
  public:
    explicit Driver(std::function<void(HWND)> action)
        : DialogDriver(std::move(action), [] { return WaitForDiscovery(0); }) {}
};

Bytes NameAnswer(const Datagram &d, const std::string &name) {
    return Response(d.community, d.requestId,
                    VarBindList({VarBind("1.3.6.1.2.1.1.5.0", Str(name))}));
}
Script Names(const std::string &name, int delayMs = 0) {
    return [name, delayMs](const Datagram &d) -> std::vector<Reply> {
        if (!d.parsed)
            return {};
        return {Reply{NameAnswer(d, name), delayMs}};
    };
}
std::string At(const Agent &a, const char *address) {
    return std::string(address) + ":" + std::to_string(a.Port());
}

std::vector<std::string> LogLines(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}
int Starts(const std::vector<std::string> &log, const char *kind) {
    int n = 0;
    for (const std::string &line : log)
        if (line.rfind("QuvStartPrinterDiscovery", 0) == 0 &&
            line.find(std::string("kind=") + kind) != std::string::npos &&
            line.find("result=1") != std::string::npos)
            ++n;
    return n;
}

void SetScopes(const std::string &text) {
    AppObject.m_subNets = std::make_unique<CMBuffer>();
    AppObject.m_subNets->AppendString(text.c_str());
}
std::string Scopes() {
    return AppObject.m_subNets && AppObject.m_subNets->m_data ? AppObject.m_subNets->m_data : "";
}

class DiscoverTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static bool ready = false;
        if (ready)
            return;
        ready = true;
        WSADATA data;
        WSAStartup(MAKEWORD(1, 1), &data);
        INITCOMMONCONTROLSEX controls = {sizeof controls, 0x1FFF};
        InitCommonControlsEx(&controls);
        AppObject.m_largeImages.Create(32, 32, ILC_COLOR8 | ILC_MASK, 15, 1);
        AppObject.m_smallImages.Create(16, 16, ILC_COLOR8 | ILC_MASK, 15, 1);
        AppObject.m_hResources = LoadLibraryA(suite::BinPath("nimbrel.dll").c_str());
        AfxSetResourceHandle(AppObject.m_hResources);
    }
    void SetUp() override {
        ASSERT_NE(AppObject.m_hResources, nullptr) << "nimbrel.dll did not load";
        AfxTestSeam::Begin();
        for (const char *name :
             {"CORVANE_LOCAL_PRINTERS", "CORVANE_FAIL_DISCOVERY", "CORVANE_LOCAL_DELAY_MS",
              "CORVANE_SNMP_PORT", "CORVANE_DISCOVERY_SWEEP", "CORVANE_SNMP_COMMUNITY"})
            SetEnvironmentVariableA(name, nullptr);
        SetEnvironmentVariableA("CORVANE_TIMEOUT_SCALE", "0.1");
        log_ = suite::TestDataDir() + "\\discover-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        DeleteFileA(log_.c_str());
        SetEnvironmentVariableA("CORVANE_LOG", log_.c_str());
        const std::string folder = suite::TestDataDir() + "\\discover-data";
        EnsureFolder(folder.c_str());
        std::strcpy(DataFolder, folder.c_str());
        g_userIsAdmin = true;
        if (!AppObject.m_printers)
            AppObject.m_printers = new CPtrList(10);
        AppObject.m_discoverLpt = AppObject.m_discoverUsb = AppObject.m_discoverIp = TRUE;
        SetScopes("");
        frame_ = new CMainFrame;
        AppObject.m_pMainWnd = frame_;
        ASSERT_TRUE(frame_->LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE));
        frame_->ShowWindow(SW_SHOW);
    }
    void TearDown() override {
        if (!frame_)
            AppObject.m_pMainWnd = nullptr;
        AppObject.ClearPrinterBar();
        if (frame_ && IsWindow(frame_->m_hWnd))
            frame_->DestroyWindow();
        AppObject.m_pMainWnd = nullptr;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        while (!AppObject.m_printers->IsEmpty())
            delete static_cast<CAPrinter *>(AppObject.m_printers->RemoveHead());
        SetEnvironmentVariableA("CORVANE_LOG", nullptr);
        AfxTestSeam::End();
    }
    void AddListed(const char *port, const char *name) {
        AppObject.m_printers->AddTail(new CAPrinter(DiscoveredPrinter{port, name}));
    }
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        CListCtrl *list = AppObject.GetPrinterListCtrl();
        if (!list)
            return rows;
        for (int i = 0; i < list->GetItemCount(); ++i)
            rows.emplace_back(list->GetItemText(i, 0));
        return rows;
    }
    // The bar's row count, read from another thread.
    static int RowCount() {
        CListCtrl *l = AppObject.GetPrinterListCtrl();
        return l ? static_cast<int>(SendMessageA(l->m_hWnd, LVM_GETITEMCOUNT, 0, 0)) : 0;
    }
    std::vector<AfxTestSeam::Event> Boxes() {
        std::vector<AfxTestSeam::Event> boxes;
        for (auto &e : AfxTestSeam::TakeLog())
            if (e.kind == "box")
                boxes.push_back(e);
        return boxes;
    }
    std::string log_;
    CMainFrame *frame_ = nullptr;
};

void ExpectAgent(const Agent &a, const char *address) {
    ASSERT_TRUE(a.Ok()) << "an SNMP agent cannot bind " << address << ": error " << a.BindError();
}

} // namespace

TEST_F(DiscoverTest, FullRunPutsFoundPrintersBeforeTheListedOnes) {
    Agent a(Names("Printer A"), 0, "127.0.0.209");
    Agent b(Names("Printer B", 1500), 0, "127.0.0.210");
    ExpectAgent(a, "127.0.0.209");
    ExpectAgent(b, "127.0.0.210");
    const std::string scopes = At(a, "127.0.0.209") + "/" + At(b, "127.0.0.210");
    SetScopes(scopes);
    AddListed("127.0.0.1:9", "Listed");
    AppObject.FillPrinterBar();

    bool sawSearching = false, defWhileSearching = false, idleAfter = false, exitFocused = false;
    int defAfter = 0;
    std::vector<std::string> entries;
    bool lptOff = false;
    {
        Driver driver([&](HWND d) {
            if (!d)
                return;
            entries = ListBoxItems(d);
            lptOff = !Enabled(d, IDC_DISCOVER_SHOW_LPT) && !Checked(d, IDC_DISCOVER_SHOW_LPT) &&
                     !Enabled(d, IDC_DISCOVER_SHOW_USB);
            Click(d, IDOK);
            sawSearching = WaitUntil([&] { return Searching(d); }, 5000);
            defWhileSearching = DefId(d) == IDOK;
            idleAfter = WaitUntil([&] { return Idle(d); }, 15000);
            defAfter = DefId(d);
            GUITHREADINFO info{};
            info.cbSize = sizeof info;
            GetGUIThreadInfo(GetWindowThreadProcessId(d, nullptr), &info);
            exitFocused = info.hwndFocus == GetDlgItem(d, IDCANCEL);
            Click(d, IDCANCEL);
        });
        AppObject.OnDiscoverPrinters();
    }
    EXPECT_EQ(entries, (std::vector<std::string>{At(a, "127.0.0.209"), At(b, "127.0.0.210")}));
    EXPECT_TRUE(lptOff) << "local access is not available: parallel and USB are switched off";
    EXPECT_TRUE(sawSearching);
    EXPECT_TRUE(defWhileSearching);
    EXPECT_TRUE(idleAfter);
    EXPECT_EQ(defAfter, IDCANCEL);
    EXPECT_TRUE(exitFocused);
    EXPECT_EQ(Rows(),
              (std::vector<std::string>{"Printer A on 127.0.0.209", "Printer B on 127.0.0.210",
                                        "Listed on 127.0.0.1:9"}));
    EXPECT_EQ(Scopes(), scopes);
    EXPECT_EQ(AppObject.m_printers->GetCount(), 1);
    EXPECT_TRUE(AppObject.m_discoverLpt) << "a flag switched off for the run is given back";
    EXPECT_EQ(g_liveBlocks, 0);
    EXPECT_TRUE(Boxes().empty());
    const auto log = LogLines(log_);
    EXPECT_EQ(Starts(log, "0"), 0);
    EXPECT_EQ(Starts(log, "1"), 1);
}

TEST_F(DiscoverTest, StopDuringTheParallelSearchEndsTheRun) {
    SetEnvironmentVariableA("CORVANE_LOCAL_PRINTERS", "LPT1:=Desk Laser;USB001=Label");
    SetEnvironmentVariableA("CORVANE_LOCAL_DELAY_MS", "3000");
    SetEnvironmentVariableA("CORVANE_TIMEOUT_SCALE", "1");
    Agent a(Names("Never"), 0, "127.0.0.211");
    ExpectAgent(a, "127.0.0.211");
    SetScopes(At(a, "127.0.0.211"));
    AddListed("127.0.0.1:9", "Listed");
    bool found = false, idle = false;
    std::string label;
    {
        Driver driver([&](HWND d) {
            if (!d)
                return;
            Click(d, IDOK);
            found = WaitUntil([&] { return RowCount() >= 1; }, 8000);
            label = Text(d, IDC_DISCOVER_LABEL);
            Click(d, IDOK); // Stop
            idle = WaitUntil([&] { return Idle(d); }, 10000);
            Click(d, IDCANCEL);
        });
        AppObject.OnDiscoverPrinters();
    }
    EXPECT_TRUE(found) << "LPT1: was not found; the spooler lists no LPT1: port?";
    EXPECT_EQ(label, "LPT");
    EXPECT_TRUE(idle);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Desk Laser on LPT1:", "Listed on 127.0.0.1:9"}));
    const auto log = LogLines(log_);
    EXPECT_EQ(Starts(log, "0"), 1) << "no USB search after Stop";
    EXPECT_EQ(Starts(log, "1"), 0) << "no IP search after Stop";
    EXPECT_EQ(a.ReceivedCount(), 0u);
    EXPECT_EQ(g_liveBlocks, 0);
}

TEST_F(DiscoverTest, DoubleStartAndEveryWayOfClosingWhileSearching) {
    Agent a(Names("Slow", 2500), 0, "127.0.0.212");
    ExpectAgent(a, "127.0.0.212");
    SetScopes(At(a, "127.0.0.212"));
    std::vector<bool> openAfter;
    bool idle = false;
    {
        Driver driver([&](HWND d) {
            if (!d)
                return;
            Click(d, IDOK);
            Click(d, IDOK);
            WaitUntil([&] { return Searching(d); }, 5000);
            PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
            Sleep(100);
            openAfter.push_back(IsWindowVisible(d) != FALSE);
            PostMessageA(d, WM_CLOSE, 0, 0);
            Sleep(100);
            openAfter.push_back(IsWindowVisible(d) != FALSE);
            PostMessageA(GetDlgItem(d, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
            Sleep(100);
            openAfter.push_back(IsWindowVisible(d) != FALSE);
            idle = WaitUntil([&] { return Idle(d); }, 15000);
            Click(d, IDCANCEL);
        });
        AppObject.OnDiscoverPrinters();
    }
    EXPECT_EQ(openAfter, (std::vector<bool>{true, true, true}));
    EXPECT_TRUE(idle);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Slow on 127.0.0.212"}));
    EXPECT_EQ(Starts(LogLines(log_), "1"), 1) << "two Start clicks started two searches";
}

TEST_F(DiscoverTest, SwitchOffsAndAFailedStart) {
    // Local access, but the user is no administrator and the local search fails to start.
    SetEnvironmentVariableA("CORVANE_LOCAL_PRINTERS", "LPT1:=Desk Laser");
    SetEnvironmentVariableA("CORVANE_FAIL_DISCOVERY", "0");
    g_userIsAdmin = false;
    AppObject.m_discoverUsb = TRUE;
    Agent a(Names("Still Searched"), 0, "127.0.0.213");
    ExpectAgent(a, "127.0.0.213");
    SetScopes(At(a, "127.0.0.213"));
    bool usbOff = false, lptOn = false, idle = false;
    {
        Driver driver([&](HWND d) {
            if (!d)
                return;
            usbOff = !Enabled(d, IDC_DISCOVER_SHOW_USB) && !Checked(d, IDC_DISCOVER_SHOW_USB);
            lptOn = Enabled(d, IDC_DISCOVER_SHOW_LPT) && Checked(d, IDC_DISCOVER_SHOW_LPT);
            Click(d, IDOK);
            WaitUntil([&] { return Searching(d); }, 5000);
            idle = WaitUntil([&] { return Idle(d); }, 15000);
            Click(d, IDCANCEL);
        });
        AppObject.OnDiscoverPrinters();
    }
    EXPECT_TRUE(usbOff);
    EXPECT_TRUE(lptOn);
    EXPECT_TRUE(idle);
    EXPECT_TRUE(AppObject.m_discoverUsb) << "the switched-off flag is saved unchanged";
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Operation Failed");
    EXPECT_EQ(boxes[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Still Searched on 127.0.0.213"}));
}

TEST_F(DiscoverTest, ScopeListEditing) {
    SetScopes("/10.0.0.1//10.0.0.2/");
    std::vector<std::string> opened, afterAdd, afterRemove, afterDefault;
    bool addBlank = true, addSet = false, removeBefore = true, removeAfter = true;
    {
        Driver driver([&](HWND d) {
            if (!d)
                return;
            opened = ListBoxItems(d);
            addBlank = Enabled(d, IDC_DISCOVER_ADD_SCOPE);
            removeBefore = Enabled(d, IDC_DISCOVER_REMOVE);
            SendDlgItemMessageA(d, IDC_DISCOVER_ADDRESS, IPM_SETADDRESS, 0,
                                MAKEIPADDRESS(127, 0, 0, 7));
            Sleep(50);
            addSet = Enabled(d, IDC_DISCOVER_ADD_SCOPE);
            SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_DISCOVER_ADD_SCOPE, BN_CLICKED), 0);
            SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_DISCOVER_ADD_SCOPE, BN_CLICKED), 0);
            afterAdd = ListBoxItems(d);
            HWND list = GetDlgItem(d, IDC_DISCOVER_SCOPE_LIST);
            SendMessageA(list, LB_SETSEL, TRUE, 0);
            SendMessageA(list, LB_SETSEL, TRUE, 2);
            SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_DISCOVER_SCOPE_LIST, LBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(list));
            SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_DISCOVER_REMOVE, BN_CLICKED), 0);
            afterRemove = ListBoxItems(d);
            removeAfter = Enabled(d, IDC_DISCOVER_REMOVE);
            SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_DISCOVER_DEFAULT, BN_CLICKED), 0);
            afterDefault = ListBoxItems(d);
            SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_DIALOG_HELP, BN_CLICKED), 0);
            Click(d, IDCANCEL);
        });
        AppObject.OnDiscoverPrinters();
    }
    EXPECT_EQ(opened, (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
    EXPECT_FALSE(addBlank);
    EXPECT_FALSE(removeBefore);
    EXPECT_TRUE(addSet);
    EXPECT_EQ(afterAdd, (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "127.0.0.7"}));
    EXPECT_EQ(afterRemove, (std::vector<std::string>{"10.0.0.2"}));
    EXPECT_FALSE(removeAfter);
    EXPECT_EQ(afterDefault, (std::vector<std::string>{"255.255.255.255"}));
    EXPECT_EQ(Scopes(), "255.255.255.255");
    std::vector<AfxTestSeam::Event> boxes, help;
    for (auto &e : AfxTestSeam::TakeLog())
        (e.kind == "box" ? boxes : help).push_back(e);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Duplicate Scopes are not permitted.");
    ASSERT_EQ(help.size(), 1u);
    EXPECT_EQ(help[0].kind, "help");
    EXPECT_EQ(help[0].data, 3u);
}

TEST_F(DiscoverTest, DefaultScopeSweepsLoopback) {
    Agent a(Names("Swept Printer"), 0, "127.0.0.214");
    ExpectAgent(a, "127.0.0.214");
    SetEnvironmentVariableA("CORVANE_DISCOVERY_SWEEP", At(a, "127.0.0.214").c_str());
    SetEnvironmentVariableA("CORVANE_TIMEOUT_SCALE", "0.05");
    SetScopes("255.255.255.255");
    {
        Driver driver([&](HWND d) {
            if (!d)
                return;
            Click(d, IDOK);
            WaitUntil([&] { return Searching(d); }, 5000);
            WaitUntil([&] { return Idle(d); }, 15000);
            Click(d, IDCANCEL);
        });
        AppObject.OnDiscoverPrinters();
    }
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Swept Printer on 127.0.0.214"}));
    for (const std::string &line : LogLines(log_)) {
        const std::size_t at = line.find(" to=");
        if (line.rfind("discovery-send", 0) == 0 && at != std::string::npos) {
            EXPECT_EQ(line.compare(at + 4, 4, "127."), 0) << line;
        }
    }
}

TEST_F(DiscoverTest, BlocksAreFreedAfterStopAmidAnswers) {
    // Many answers keep coming while Stop is pressed; every block is freed.
    Agent a(
        [](const Datagram &d) -> std::vector<Reply> {
            std::vector<Reply> replies;
            for (int i = 0; i < 20; ++i)
                replies.push_back(Reply{NameAnswer(d, "Busy"), i * 30});
            return replies;
        },
        0, "127.0.0.215");
    ExpectAgent(a, "127.0.0.215");
    SetEnvironmentVariableA("CORVANE_DISCOVERY_SWEEP", At(a, "127.0.0.215").c_str());
    SetScopes("255.255.255.255");
    {
        Driver driver([&](HWND d) {
            if (!d)
                return;
            Click(d, IDOK);
            WaitUntil([&] { return Searching(d); }, 5000);
            Sleep(200);
            Click(d, IDOK);
            WaitUntil([&] { return Idle(d); }, 15000);
            Click(d, IDCANCEL);
        });
        AppObject.OnDiscoverPrinters();
    }
    EXPECT_EQ(g_liveBlocks, 0);
    EXPECT_LE(Rows().size(), 1u);
}

// Values of the spooler's Ports key, removed again at the end.
class PortValues {
  public:
    explicit PortValues(const std::vector<std::string> &names) : names_(names) {
        ok_ = RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                              "Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &key_, nullptr) == ERROR_SUCCESS;
        for (const std::string &n : names_)
            ok_ = ok_ && RegSetValueExA(key_, n.c_str(), 0, REG_SZ,
                                        reinterpret_cast<const BYTE *>(""), 1) == ERROR_SUCCESS;
    }
    ~PortValues() {
        if (!key_)
            return;
        for (const std::string &n : names_)
            RegDeleteValueA(key_, n.c_str());
        RegCloseKey(key_);
    }
    bool ok() const { return ok_; }

  private:
    std::vector<std::string> names_;
    HKEY key_ = nullptr;
    bool ok_ = false;
};

TEST_F(DiscoverTest, LocalPortsOfTheSpoolerByExactCase) {
    std::vector<std::string> names = {"USB001", "lpt9:"};
    for (int i = 0; i < 100; ++i) {
        std::string name = "USB" + std::to_string(1000 + i);
        name.resize(100, 'x');
        names.push_back(name);
    }
    PortValues ports(names);
    ASSERT_TRUE(ports.ok()) << "the spooler's Ports key cannot be written";
    SetEnvironmentVariableA("CORVANE_LOCAL_PRINTERS", "USB001=Label;lpt9:=Nine");
    {
        Driver driver([&](HWND d) {
            if (!d)
                return;
            Click(d, IDOK);
            WaitUntil([&] { return Searching(d); }, 5000);
            WaitUntil([&] { return Idle(d); }, 20000);
            Click(d, IDCANCEL);
        });
        AppObject.OnDiscoverPrinters();
    }
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Label on USB001"}));
    std::string usbTargets, lptTargets;
    for (const std::string &line : LogLines(log_)) {
        if (line.rfind("QuvStartPrinterDiscovery", 0) != 0 ||
            line.find("kind=0") == std::string::npos)
            continue;
        (line.find("targets=LPT") != std::string::npos ? lptTargets : usbTargets) = line;
    }
    EXPECT_EQ(lptTargets.find("lpt9:"), std::string::npos) << lptTargets;
    EXPECT_EQ(usbTargets.find("lpt9:"), std::string::npos) << usbTargets;
    for (const std::string &n : names)
        if (n != "lpt9:") {
            EXPECT_NE(usbTargets.find(n + "|"), std::string::npos) << n;
        }
}

// Last: the main frame closed mid-search ends the dialog only once its worker ended.
TEST_F(DiscoverTest, MainFrameClosedMidSearch) {
    Agent a(Names("Late", 3000), 0, "127.0.0.212");
    ExpectAgent(a, "127.0.0.212");
    const std::string scopes = At(a, "127.0.0.212") + "/127.0.0.9:1";
    SetScopes(scopes);
    SetEnvironmentVariableA("CORVANE_TIMEOUT_SCALE", "1");
    {
        Driver driver([&](HWND d) {
            if (!d)
                return;
            Click(d, IDOK);
            WaitUntil([&] { return Searching(d); }, 5000);
            PostMessageA(frame_->m_hWnd, WM_CLOSE, 0, 0);
        });
        AppObject.OnDiscoverPrinters();
    }
    frame_ = nullptr;
    AppObject.m_pMainWnd = nullptr;
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    const auto log = LogLines(log_);
    bool closed = false;
    for (const std::string &line : log)
        closed = closed || line.rfind("QuvClosePrinterDiscovery", 0) == 0;
    EXPECT_TRUE(closed) << "DoModal returned before the worker closed its search";
    EXPECT_EQ(g_liveBlocks, 0);
    EXPECT_EQ(Scopes(), scopes) << "the scope list is kept whole";
}

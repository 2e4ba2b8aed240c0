// The printer window of velmar as a program: the bar's double click against the fake
// printer, the window's tree read across the process boundary, F5 posted to it.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "server.h"
#include "suite_files.h"
#include "suite_paths.h"
#include "velmar_runner.h"

namespace {

const std::string kDataFolder = "C:\\ProgramData\\Dranvel\\Wyr";
const std::string kSettings = kDataFolder + "\\ZqConfig.dat";

HWND FindChildOfClass(HWND parent, const char *wanted) {
    struct Find {
        const char *cls;
        HWND found;
    } find = {wanted, nullptr};
    EnumChildWindows(
        parent,
        [](HWND hwnd, LPARAM lParam) -> BOOL {
            auto *f = reinterpret_cast<Find *>(lParam);
            char cls[64] = {};
            GetClassNameA(hwnd, cls, sizeof cls);
            if (_stricmp(cls, f->cls) == 0) {
                f->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&find));
    return find.found;
}

// The MDI children of the main window with window user data `data`.
std::vector<HWND> ChildrenWithData(HWND main, LONG_PTR data) {
    std::vector<HWND> found;
    HWND client = FindChildOfClass(main, "MDIClient");
    for (HWND h = client ? GetWindow(client, GW_CHILD) : nullptr; h; h = GetWindow(h, GW_HWNDNEXT))
        if (GetWindowLongPtrA(h, GWLP_USERDATA) == data)
            found.push_back(h);
    return found;
}

// Memory in the other process for one message's structure and text.
class Remote {
  public:
    explicit Remote(HANDLE process) : process_(process) {
        at_ = VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~Remote() {
        if (at_)
            VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
    }
    char *At() const { return static_cast<char *>(at_); }
    template <class T> void Put(const T &value) {
        SIZE_T done = 0;
        WriteProcessMemory(process_, at_, &value, sizeof value, &done);
    }
    template <class T> T Get(std::size_t offset = 0) const {
        T value{};
        SIZE_T done = 0;
        ReadProcessMemory(process_, At() + offset, &value, sizeof value, &done);
        return value;
    }

  private:
    HANDLE process_;
    void *at_;
};

// The texts of the tree's top node's children.
std::vector<std::string> RootChildren(HANDLE process, HWND tree) {
    std::vector<std::string> texts;
    Remote remote(process);
    const auto root =
        reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    for (auto item = reinterpret_cast<HTREEITEM>(
             SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)root));
         item && texts.size() < 100; item = reinterpret_cast<HTREEITEM>(SendMessageA(
                                         tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item))) {
        TVITEMA it = {};
        it.mask = TVIF_TEXT | TVIF_HANDLE;
        it.hItem = item;
        it.pszText = remote.At() + 512;
        it.cchTextMax = 1024;
        remote.Put(it);
        SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote.At()));
        texts.push_back(remote.Get<std::array<char, 1024>>(512).data());
    }
    return texts;
}

// A double click on the bar's row 0, sent so that it returns when the command has run.
bool DoubleClickRowZero(HANDLE process, HWND main) {
    HWND list = FindChildOfClass(main, "SysListView32");
    if (!list)
        return false;
    Remote remote(process);
    RECT rect = {LVIR_BOUNDS, 0, 0, 0};
    remote.Put(rect);
    if (!SendMessageA(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(remote.At())))
        return false;
    rect = remote.Get<RECT>();
    const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(list, WM_LBUTTONDOWN, MK_LBUTTON, at, SMTO_NORMAL, 30000, &result);
    SendMessageTimeoutA(list, WM_LBUTTONUP, 0, at, SMTO_NORMAL, 30000, &result);
    return SendMessageTimeoutA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at, SMTO_NORMAL, 60000,
                               &result) != 0;
}

class PrinterWindowProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        hadFile_ = GetFileAttributesA(kSettings.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (hadFile_)
            saved_ = suite::ReadAll(kSettings);
        SetEnvironmentVariableA("CORVANE_TIMEOUT_SCALE", "0.01");
    }
    void TearDown() override {
        SetEnvironmentVariableA("CORVANE_TIMEOUT_SCALE", nullptr);
        if (hadFile_)
            suite::WriteAll(kSettings, saved_);
        else
            DeleteFileA(kSettings.c_str());
    }
    void NameThePrinter(const fakeprinter::Server &server) {
        address_ = "127.0.0.1:" + std::to_string(server.Port());
        CreateDirectoryA("C:\\ProgramData\\Dranvel", nullptr);
        CreateDirectoryA(kDataFolder.c_str(), nullptr);
        suite::WriteAll(kSettings, "[PRINTERS]\r\nName=Fake Printer,Port=" + address_ + "\r\n");
    }
    std::string exe_ = TestProgramDir() + "\\velmar_under_test.exe";
    std::string address_;
    bool hadFile_ = false;
    std::string saved_;
};

} // namespace

TEST_F(PrinterWindowProgram, DoubleClickOpensTheWindowAndF5AsksAgain) {
    fakeprinter::Server server;
    ASSERT_TRUE(server.Start()) << server.error();
    NameThePrinter(server);
    Velmar velmar(exe_, suite::BinDir());
    ASSERT_TRUE(velmar.started()) << GetLastError();
    HWND main = velmar.Window();
    ASSERT_NE(main, nullptr) << "velmar showed no main window";
    ASSERT_TRUE(DoubleClickRowZero(velmar.Process(), main));

    const auto windows = ChildrenWithData(main, 21);
    ASSERT_EQ(windows.size(), 1u);
    char title[260] = {};
    GetWindowTextA(windows[0], title, sizeof title);
    EXPECT_EQ(std::string(title), "Fake Printer - " + address_);
    HWND tree = FindChildOfClass(windows[0], "SysTreeView32");
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(GetDlgCtrlID(tree), 0xE900);
    EXPECT_EQ(RootChildren(velmar.Process(), tree), std::vector<std::string>{"DISK0"});

    // The root selected, a posted F5 asks the device list again.
    const auto root = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, root);
    const std::size_t jobs = server.Jobs().size();
    PostMessageA(tree, WM_KEYUP, VK_F5, static_cast<LPARAM>(0xC0000001u));
    ASSERT_TRUE(server.WaitForJobs(jobs + 1, 20000));
    const auto all = server.Jobs();
    bool config = false;
    for (const std::string &c : all[jobs].commands)
        config = config || c == "@PJL INFO CONFIG";
    EXPECT_TRUE(config);
    EXPECT_TRUE(velmar.Boxes().empty());
    EXPECT_EQ(velmar.Close(main), 0u);
}

TEST_F(PrinterWindowProgram, ASilentOrRefusingPrinterOpensNoWindow) {
    struct Case {
        const char *what;
        bool silent;
        const char *box; // what the one box says
    };
    const Case cases[] = {{"silent", true, "not responding"}, {"refused", false, "(0x20000103)"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fakeprinter::Server server;
        server.With([&](fakeprinter::Engine &e) {
            e.defaults.silent = c.silent;
            e.defaults.refuseConnections = !c.silent;
        });
        ASSERT_TRUE(server.Start()) << server.error();
        NameThePrinter(server);
        Velmar velmar(exe_, suite::BinDir(), "", "IDNO\r\nIDNO\r\nIDNO\r\n");
        ASSERT_TRUE(velmar.started()) << GetLastError();
        HWND main = velmar.Window();
        ASSERT_NE(main, nullptr) << "velmar showed no main window";
        ASSERT_TRUE(DoubleClickRowZero(velmar.Process(), main));
        EXPECT_TRUE(ChildrenWithData(main, 21).empty());
        const auto boxes = velmar.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].find(c.box), std::string::npos) << boxes[0];
        EXPECT_EQ(velmar.Close(main), 0u);
    }
}

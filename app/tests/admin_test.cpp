// The administrator's dialogs in-process: their own CZqApp with the real resource module,
// printers on the fake printer behind corvane.dll, boxes through the seam, each dialog
// driven from a second thread while the test's thread runs it.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app_setup.h"
#include "suite_dialogs.h"

#include "admin.h"
#include "buffer.h"
#include "framework_seam.h"

#include "frames.h"
#include "fsinit.h"
#include "mainfrm.h"
#include "password.h"
#include "prviews.h"
#include "resitems.h"
#include "resource_ids.h"
#include "spooldlg.h"

#include "server.h"
#include "suite_paths.h"
#include "zqapp.h"

CZqApp AppObject;

namespace {

class PortEnvironment : public testing::Environment {
  public:
    void SetUp() override { _putenv("CORVANE_TIMEOUT_SCALE=0.01"); }
};
const auto *const kEnvironment = testing::AddGlobalTestEnvironment(new PortEnvironment);

void Pump() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

using suite::WaitForDialog;

// Runs `dialog` modally while `action` drives it from a second thread; the action gets
// the dialog's window (null when none showed) and the dialog is closed after it when it
// is still open. The dialog's result.
INT_PTR RunDriven(CDialog &dialog, const std::function<void(HWND)> &action) {
    suite::DialogDriver driver([&](HWND hwnd) {
        action(hwnd);
        if (hwnd && IsWindow(hwnd))
            PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
    });
    return dialog.DoModal();
}

// The caption of the dialog that `command` opens from `frame` (cancelled once read; empty
// when none showed).
std::string CaptionOfDialogOf(CWnd *frame, UINT command) {
    std::string caption;
    {
        suite::DialogDriver driver([&](HWND h) {
            if (!h)
                return;
            char text[260] = {};
            GetWindowTextA(h, text, sizeof text);
            caption = text;
            PostMessageA(h, WM_COMMAND, IDCANCEL, 0);
        });
        frame->SendMessage(WM_COMMAND, command);
    }
    return caption;
}

void SetText(HWND dialog, int id, const std::string &text) {
    SetDlgItemTextA(dialog, id, text.c_str());
}

std::string Text(HWND dialog, int id) {
    char text[512] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void Click(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}
bool Visible(HWND dialog, int id) {
    return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE;
}

std::vector<AfxTestSeam::Event> Boxes() {
    std::vector<AfxTestSeam::Event> boxes;
    for (auto &e : AfxTestSeam::TakeLog())
        if (e.kind == "box")
            boxes.push_back(e);
    return boxes;
}

std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const auto &b : Boxes())
        texts.push_back(b.text);
    return texts;
}

std::string ReadBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Encoded(const std::string &password) {
    const auto bytes = EncodePassword(password);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> FilesIn(const std::string &folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

const char kGeneratorFile[] = SUITE_PASSWORD_FIXTURES "/Abcdefgh.pwd";

class Admin : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        static bool ready = false;
        if (ready)
            return;
        ready = true;
        PrepareTestApp(AppObject);
        AddProjectTemplate(AppObject);
        AppObject.m_resourceTemplate =
            new CMultiDocTemplate(IDR_RESOURCE_TYPE, RUNTIME_CLASS(CPrDoc), RUNTIME_CLASS(CPrFrame),
                                  RUNTIME_CLASS(CPrLeftView));
        AppObject.AddDocTemplate(AppObject.m_resourceTemplate);
    }
    void SetUp() override {
        ASSERT_NE(AppObject.m_hResources, nullptr) << "nimbrel.dll did not load";
        AfxTestSeam::Begin();
        if (!AppObject.m_printers)
            AppObject.m_printers = new CPtrList(10);
        frame_ = new CMainFrame;
        AppObject.m_pMainWnd = frame_;
        ASSERT_TRUE(frame_->LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE));
        frame_->ShowWindow(SW_SHOW);
        Pump();
        AppObject.m_resourceCount = 0;
        // The administrator state is never cleared in a run; each test starts logged out.
        AppObject.m_adminLoggedIn = FALSE;
        std::memset(AppObject.m_adminPassword, 0, sizeof AppObject.m_adminPassword);
        // A data folder of the test's own.
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::string(temp) + "velmar-admin-" + std::to_string(GetCurrentProcessId()) +
                  "-" + info->name();
        CreateDirectoryA(folder_.c_str(), nullptr);
        for (const std::string &name : FilesIn(folder_))
            DeleteFileA((folder_ + "\\" + name).c_str());
        std::snprintf(DataFolder, MAX_PATH, "%s", folder_.c_str());
        std::snprintf(ProgramFolder, MAX_PATH, "%s", suite::BinDir().c_str());
        Boxes();
    }
    void TearDown() override {
        AppObject.CloseAllDocuments(FALSE);
        if (frame_ && IsWindow(frame_->m_hWnd))
            frame_->DestroyWindow();
        AppObject.m_pMainWnd = nullptr;
        Pump();
        while (AppObject.m_printers && !AppObject.m_printers->IsEmpty())
            delete static_cast<CAPrinter *>(AppObject.m_printers->RemoveHead());
        servers_.clear();
        for (const std::string &name : FilesIn(folder_))
            DeleteFileA((folder_ + "\\" + name).c_str());
        RemoveDirectoryA(folder_.c_str());
        AfxTestSeam::End();
    }

    std::string PasswordPath() const { return folder_ + "\\PASSWORD.pwd"; }
    // The generator's file for "Abcdefgh" as the data folder's password file.
    void InstallPasswordFile() {
        const std::string bytes = ReadBytes(std::string("Z:") + kGeneratorFile);
        ASSERT_EQ(bytes.size(), 64u) << "the generator's file is missing: " << kGeneratorFile;
        std::ofstream(PasswordPath(), std::ios::binary) << bytes;
    }

    fakeprinter::Server &AddPrinter(const fakeprinter::Setup &setup, const char *name = "Fake") {
        servers_.push_back(std::make_unique<fakeprinter::Server>(setup));
        fakeprinter::Server &server = *servers_.back();
        EXPECT_TRUE(server.Start()) << server.error();
        const std::string port = "127.0.0.1:" + std::to_string(server.Port());
        auto *printer = new CAPrinter(DiscoveredPrinter{port.c_str(), name});
        AppObject.m_printers->AddTail(printer);
        CListCtrl *bar = AppObject.GetPrinterListCtrl();
        bar->InsertItem(LVIF_TEXT | LVIF_PARAM, bar->GetItemCount(), name, 0, 0, 0,
                        reinterpret_cast<LPARAM>(printer));
        return server;
    }
    void SelectBarRow(int row) {
        CListCtrl *bar = AppObject.GetPrinterListCtrl();
        for (int i = 0; i < bar->GetItemCount(); ++i)
            bar->SetItemState(i, i == row ? LVIS_SELECTED : 0, LVIS_SELECTED);
    }
    static std::vector<std::string> Commands(fakeprinter::Server &server, std::size_t from = 0) {
        std::vector<std::string> commands;
        const auto jobs = server.Jobs();
        for (std::size_t i = from; i < jobs.size(); ++i)
            for (const std::string &c : jobs[i].commands)
                if (c != "@PJL ECHO TEST")
                    commands.push_back(c);
        return commands;
    }
    static bool Holds(const std::vector<std::string> &list, const std::string &item) {
        return std::find(list.begin(), list.end(), item) != list.end();
    }
    void LogIn() {
        AppObject.m_adminLoggedIn = TRUE;
        std::memcpy(AppObject.m_adminPassword, "Abcdefgh", 9);
    }
    int PrinterWindows() const {
        int n = 0;
        for (HWND h = GetWindow(frame_->m_hWndMDIClient, GW_CHILD); h;
             h = GetWindow(h, GW_HWNDNEXT))
            if (GetWindowLongPtrA(h, GWLP_USERDATA) == 21)
                ++n;
        return n;
    }

    CMainFrame *frame_ = nullptr;
    std::vector<std::unique_ptr<fakeprinter::Server>> servers_;
    std::string folder_;
};

} // namespace

TEST_F(Admin, LoginOnTheEighthCharacterOnly) {
    InstallPasswordFile();
    fakeprinter::Server &server = AddPrinter(fakeprinter::Setup::Default());
    AfxTestSeam::PushAnswer("IDOK"); // the wrong password's box
    struct Seen {
        bool seven = true, wrong = true, right = false, buttonsBefore = true, buttonsAfter = false;
        std::string afterNine;
    } seen;
    CAdminPwd dialog;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        SetText(h, IDC_ADMIN_PASSWORD, "Abcdefg");
        seen.seven = AppObject.m_adminLoggedIn;
        seen.buttonsBefore = Enabled(h, IDC_ADMIN_DELETE_FILE) || Enabled(h, IDC_ADMIN_REBOOT);
        SetText(h, IDC_ADMIN_PASSWORD, "abcdefgh"); // a case difference
        seen.wrong = AppObject.m_adminLoggedIn;
        SetText(h, IDC_ADMIN_PASSWORD, "Abcdefgh");
        seen.right = AppObject.m_adminLoggedIn;
        seen.buttonsAfter = Enabled(h, IDC_ADMIN_DELETE_FILE) && Enabled(h, IDC_ADMIN_REBOOT) &&
                            Enabled(h, IDC_ADMIN_INITIALISE) &&
                            Enabled(h, IDC_ADMIN_CHANGE_PASSWORD);
        SetText(h, IDC_ADMIN_PASSWORD, "Abcdefghi");
        seen.afterNine = Text(h, IDC_ADMIN_PASSWORD);
    });
    EXPECT_FALSE(seen.seven);
    EXPECT_FALSE(seen.wrong);
    EXPECT_FALSE(seen.buttonsBefore);
    EXPECT_TRUE(seen.right);
    EXPECT_TRUE(seen.buttonsAfter);
    EXPECT_EQ(seen.afterNine, "Abcdefgh");
    EXPECT_STREQ(AppObject.m_adminPassword, "Abcdefgh");
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"The password entered is not valid."}));
    const auto commands = Commands(server);
    EXPECT_TRUE(Holds(commands, "@PJL INFO QUVWYRATTRIBUTE"));
    EXPECT_TRUE(Holds(commands, "@PJL INFO CONFIG"));
    // The stored password is wiped when the dialog ends.
    EXPECT_EQ(std::string(dialog.m_storedPassword, 9), std::string(9, '\0'));
}

TEST_F(Admin, WithoutAPasswordFileNothingLogsIn) {
    AddPrinter(fakeprinter::Setup::Default());
    // The guard's dialog ends at once after the two reports.
    EXPECT_FALSE(RequireAdminPassword());
    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_NE(texts[0].find("Cannot open file"), std::string::npos);
    EXPECT_NE(texts[1].find("password file cannot be found"), std::string::npos);
    // The administrator's dialog stays open with its buttons off; no password opens them.
    bool any = true;
    CAdminPwd dialog;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        for (const char *typed : {"qomritxy", "        ", "bexlun@@"})
            SetText(h, IDC_ADMIN_PASSWORD, typed);
        any = AppObject.m_adminLoggedIn || Enabled(h, IDC_ADMIN_DELETE_FILE);
    });
    EXPECT_FALSE(any);
    // Wrong sizes and contents are refused like a missing file.
    for (const std::string &bytes : {Encoded("Abcdefgh").substr(0, 63), Encoded("Abcdefgh") + "x",
                                     std::string(), std::string(64, '\xff')}) {
        std::ofstream(PasswordPath(), std::ios::binary | std::ios::trunc) << bytes;
        Boxes();
        EXPECT_FALSE(RequireAdminPassword());
        const auto shown = BoxTexts();
        ASSERT_FALSE(shown.empty());
        EXPECT_NE(shown.back().find("password file cannot be found"), std::string::npos)
            << bytes.size();
    }
}

TEST_F(Admin, ThePasswordDialogEndsOnALogin) {
    InstallPasswordFile();
    CPassWordDlg dialog;
    const INT_PTR result = RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        SetText(h, IDC_ADMIN_PASSWORD, "Abcdefgh");
    });
    // Ended by the login itself: the driver's closing Exit would have given IDCANCEL.
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(AppObject.m_adminLoggedIn);
    // Logged in, the guard asks nothing.
    EXPECT_TRUE(RequireAdminPassword());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Admin, TaskButtonsFollowTheAttributesAndRebootSends) {
    struct Case {
        std::vector<std::string> attributes;
        bool reboot, initialise;
    };
    const Case cases[] = {
        {{"REBOOT=disable", "INITIALIZE=DISABLEFLASH"}, false, true},
        {{"REBOOT=ENABLE", "INITIALIZE=Disable"}, true, false},
        {{}, true, true},
    };
    for (const Case &c : cases) {
        fakeprinter::Setup setup = fakeprinter::Setup::Default();
        setup.attributes = c.attributes;
        servers_.clear();
        while (!AppObject.m_printers->IsEmpty())
            delete static_cast<CAPrinter *>(AppObject.m_printers->RemoveHead());
        AppObject.GetPrinterListCtrl()->DeleteAllItems();
        fakeprinter::Server &server = AddPrinter(setup);
        LogIn();
        bool reboot = false, initialise = false, del = false;
        std::string shown;
        CAdminPwd dialog;
        if (c.reboot)
            AfxTestSeam::PushAnswer("IDOK");
        RunDriven(dialog, [&](HWND h) {
            ASSERT_NE(h, nullptr);
            shown = Text(h, IDC_ADMIN_PASSWORD);
            reboot = Enabled(h, IDC_ADMIN_REBOOT);
            initialise = Enabled(h, IDC_ADMIN_INITIALISE);
            del = Enabled(h, IDC_ADMIN_DELETE_FILE) && Enabled(h, IDC_ADMIN_CHANGE_PASSWORD);
            if (reboot)
                Click(h, IDC_ADMIN_REBOOT);
        });
        SCOPED_TRACE(c.attributes.empty() ? "no attributes" : c.attributes[0]);
        EXPECT_EQ(shown, "Abcdefgh");
        EXPECT_EQ(reboot, c.reboot);
        EXPECT_EQ(initialise, c.initialise);
        EXPECT_TRUE(del);
        const auto commands = Commands(server);
        EXPECT_EQ(Holds(commands, "@PJL QUVSYSTEM REBOOT=NORMAL"), c.reboot);
        EXPECT_EQ(BoxTexts(), c.reboot ? std::vector<std::string>{"Command Issued."}
                                       : std::vector<std::string>{});
    }
}

TEST_F(Admin, ChangingThePassword) {
    InstallPasswordFile();
    LogIn();
    const std::string old = ReadBytes(PasswordPath());
    struct Case {
        std::string first, second, box;
    };
    const Case refused[] = {
        {"Abcdefg", "Abcdefg", "The password entered is not valid."},
        {"        ", "        ", "The password entered is not valid."},
        {"Abcdefg\xE9", "Abcdefg\xE9", "The password entered is not valid."},
        {"Abcdefgh", "Abcdefgi", "The passwords entered do not match"},
        {"Abcdefgh", "Abcdef", "The password entered is not valid."},
    };
    for (std::size_t i = 0; i < std::size(refused); ++i)
        AfxTestSeam::PushAnswer("IDOK");
    CChangePwd refusing;
    RunDriven(refusing, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        for (const Case &c : refused) {
            SetText(h, IDC_NEW_PASSWORD, c.first);
            SetText(h, IDC_CONFIRM_PASSWORD, c.second);
            Click(h, IDC_CHANGE_PASSWORD);
        }
    });
    std::vector<std::string> want;
    for (const Case &c : refused)
        want.push_back(c.box);
    EXPECT_EQ(BoxTexts(), want);
    EXPECT_EQ(ReadBytes(PasswordPath()), old);

    // Held open without delete sharing, the file cannot be replaced: an error box, the old
    // bytes, no file left beside it, the dialog open.
    HANDLE held =
        CreateFileA(PasswordPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    AfxTestSeam::PushAnswer("IDOK");
    bool stillOpen = false;
    CChangePwd failing;
    RunDriven(failing, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        SetText(h, IDC_NEW_PASSWORD, "Newpass1");
        SetText(h, IDC_CONFIRM_PASSWORD, "Newpass1");
        Click(h, IDC_CHANGE_PASSWORD);
        stillOpen = IsWindow(h) && IsWindowVisible(h);
    });
    CloseHandle(held);
    EXPECT_TRUE(stillOpen);
    const auto failure = BoxTexts();
    ASSERT_EQ(failure.size(), 1u);
    EXPECT_EQ(failure[0].find("New Password Accepted."), std::string::npos);
    EXPECT_EQ(ReadBytes(PasswordPath()), old);
    EXPECT_EQ(FilesIn(folder_), (std::vector<std::string>{"PASSWORD.pwd"}));
    EXPECT_STREQ(AppObject.m_adminPassword, "Abcdefgh");

    // A change that succeeds replaces the file, keeps the login and ends the dialog.
    AfxTestSeam::PushAnswer("IDOK");
    CChangePwd changing;
    const INT_PTR result = RunDriven(changing, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        SetText(h, IDC_NEW_PASSWORD, "Newpass12"); // a 9th character is cut back
        SetText(h, IDC_CONFIRM_PASSWORD, "Newpass1");
        Click(h, IDC_CHANGE_PASSWORD);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"New Password Accepted."}));
    EXPECT_EQ(ReadBytes(PasswordPath()), Encoded("Newpass1"));
    EXPECT_STREQ(AppObject.m_adminPassword, "Newpass1");
    EXPECT_TRUE(AppObject.m_adminLoggedIn);
    EXPECT_EQ(FilesIn(folder_), (std::vector<std::string>{"PASSWORD.pwd"}));
}

TEST_F(Admin, DeleteFileActsOnTheSelectedPrinter) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    setup.files = {{"0:\\pcl\\x.sfp", "1"}};
    fakeprinter::Server &a = AddPrinter(setup, "A");
    fakeprinter::Server &b = AddPrinter(setup, "B");
    SelectBarRow(1);
    const std::size_t aJobs = a.Jobs().size();
    AfxTestSeam::PushAnswer("IDOK");
    bool open = false;
    CDelFile dialog;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        SetText(h, IDC_DELETE_PATH, "0:\\pcl\\x.sfp");
        Click(h, IDOK);
        open = IsWindow(h) != FALSE;
        SetText(h, IDC_DELETE_PATH, "");
        Click(h, IDOK); // an empty path sends nothing
    });
    EXPECT_TRUE(open);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Command Issued."}));
    EXPECT_EQ(Commands(b), (std::vector<std::string>{"@PJL FSDELETE NAME = \"0:\\pcl\\x.sfp\" "}));
    b.With([](fakeprinter::Engine &e) { EXPECT_EQ(e.Files().Find("0:\\pcl\\x.sfp"), nullptr); });
    a.With([](fakeprinter::Engine &e) { EXPECT_NE(e.Files().Find("0:\\pcl\\x.sfp"), nullptr); });
    EXPECT_EQ(a.Jobs().size(), aJobs);

    // No backslash on a printer without PostScript: nothing sent, nothing shown.
    fakeprinter::Setup pclOnly = fakeprinter::Setup::Default();
    pclOnly.languages = {"PCL"};
    fakeprinter::Server &c = AddPrinter(pclOnly, "C");
    SelectBarRow(2);
    AppObject.GetCurrentPrinter()->EnsureLanguages();
    const std::size_t cJobs = c.Jobs().size();
    CDelFile second;
    RunDriven(second, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        SetText(h, IDC_DELETE_PATH, "plain.ps");
        Click(h, IDOK);
    });
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(c.Jobs().size(), cJobs);
}

namespace {

std::vector<std::string> RowTexts(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_FORMAT_VOLUME_LIST);
    std::vector<std::string> rows;
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[512] = {};
        LVITEMA item = {};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&item));
        rows.push_back(text);
    }
    return rows;
}

void SelectRow(HWND dialog, int row) {
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(GetDlgItem(dialog, IDC_FORMAT_VOLUME_LIST), LVM_SETITEMSTATE,
                 static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
}

void ClickRadio(HWND dialog, int id) {
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

std::vector<std::string> Percents(HWND dialog) {
    return {Text(dialog, IDC_FORMAT_PERCENT_1), Text(dialog, IDC_FORMAT_PERCENT_2),
            Text(dialog, IDC_FORMAT_PERCENT_3)};
}

fakeprinter::Setup DiskAndFlash(const std::string &hddAssign,
                                const std::string &flashAssign = "ENABLE") {
    fakeprinter::Setup s = fakeprinter::Setup::Default();
    s.attributes = {"HDDASSIGN=" + hddAssign, "FLASHASSIGN=" + flashAssign, "INITIALIZE=ENABLE",
                    "REBOOT=ENABLE"};
    s.devices = {"HDD0", "FLASH0"};
    s.volumes = {"0:\t50\t50\tHDD0\tPCL", "1:\t30\t30\tHDD0\tCOMMON",
                 "%disk0%\t20\t20\tHDD0\tPOSTSCRIPT", "3:\t300\t300\tFLASH0\tMIX",
                 "%flash0%\t100\t100\tFLASH0\tMIX"};
    return s;
}

} // namespace

TEST_F(Admin, FormatPartitionRowsDefaultsAndCommands) {
    fakeprinter::Server &server = AddPrinter(DiskAndFlash("5%"));
    LogIn();
    struct Step {
        int row;
        int radio; // 0: as the row sets it
        std::string command;
    };
    const Step steps[] = {
        {0, 0, "@PJL FSINIT VOLUME=\"0:\""},
        {0, IDC_FORMAT_COMMON, "@PJL DEFAULT QUVHDD01=COMMON"},
        {1, 0, "@PJL FSINIT VOLUME=\"1:\""},
        {1, IDC_FORMAT_POSTSCRIPT, "@PJL DEFAULT QUVHDD02=PS"},
        {2, IDC_FORMAT_PCL, "@PJL DEFAULT QUVHDD03=PCL"},
        {3, 0, "@PJL FSINIT VOLUME=\"3:\""},
    };
    for (const Step &s : steps) {
        (void)s;
        AfxTestSeam::PushAnswer("IDYES"); // initialise?
        AfxTestSeam::PushAnswer("IDNO");  // reboot now?
    }
    std::vector<std::string> rows, percents, radios;
    std::vector<std::vector<std::string>> sent;
    bool partitionShown = false, flashShown = true;
    CFSInitDlg dialog;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        rows = RowTexts(h);
        percents = Percents(h);
        for (const Step &s : steps) {
            const std::size_t before = server.Jobs().size();
            SelectRow(h, s.row);
            if (s.row == 0) {
                partitionShown = Visible(h, IDC_FORMAT_PERCENT_1);
                flashShown = Visible(h, IDC_FORMAT_FLASH_SIZE);
            }
            if (s.radio)
                ClickRadio(h, s.radio);
            Click(h, IDOK);
            sent.push_back(Commands(server, before));
        }
    });
    EXPECT_EQ(rows,
              (std::vector<std::string>{"1 = 0: - HDD0 - PCL", "2 = 1: - HDD0 - COMMON",
                                        "3 = %disk0% - HDD0 - POSTSCRIPT", "4 = 3: - FLASH0 - MIX",
                                        "5 = %flash0% - FLASH0 - PS "}));
    EXPECT_EQ(percents, (std::vector<std::string>{"50", "30", "20"}));
    EXPECT_TRUE(partitionShown);
    EXPECT_FALSE(flashShown);
    ASSERT_EQ(sent.size(), std::size(steps));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(steps[i].command);
        // Row 4 is flash: its PostScript area is assigned first.
        if (steps[i].row == 3) {
            ASSERT_EQ(sent[i].size(), 2u);
            EXPECT_EQ(sent[i][0], "@PJL QUVFSASSIGN TYPE=PSFILE LOCATION=FLASH0 SIZE=25");
            EXPECT_EQ(sent[i][1], steps[i].command);
        } else {
            EXPECT_EQ(sent[i], (std::vector<std::string>{steps[i].command}));
        }
    }
    const auto boxes = BoxTexts();
    ASSERT_EQ(boxes.size(), 2 * std::size(steps));
    EXPECT_NE(boxes[0].find("partition 1 = 0: - HDD0 - PCL."), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[1].find("restart the printer now"), std::string::npos) << boxes[1];
}

TEST_F(Admin, EntireDiskBalancesAndRebootEndsTheDialog) {
    fakeprinter::Server &server = AddPrinter(DiskAndFlash("ENABLE"));
    LogIn();
    AppObject.OnShowResources();
    Pump();
    ASSERT_EQ(PrinterWindows(), 1);
    AfxTestSeam::PushAnswer("IDYES"); // the proposal
    AfxTestSeam::PushAnswer("IDYES"); // reboot now
    AfxTestSeam::PushAnswer("IDOK");  // command issued
    std::vector<std::string> shown;
    const std::size_t before = server.Jobs().size();
    CFSInitDlg dialog;
    const INT_PTR result = RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        SelectRow(h, 0);
        for (int id : {IDC_FORMAT_PERCENT_1, IDC_FORMAT_PERCENT_2, IDC_FORMAT_PERCENT_3})
            SetText(h, id, "60");
        Click(h, IDC_FORMAT_ENTIRE_DISK);
    });
    EXPECT_EQ(result, IDOK);
    const auto commands = Commands(server, before);
    EXPECT_TRUE(Holds(commands, "@PJL QUVPARTITIONASSIGN LOCATION=HDD0 DISTRIBUTION=\"1 39 60\""))
        << commands.size();
    EXPECT_TRUE(Holds(commands, "@PJL QUVSYSTEM REBOOT=NORMAL"));
    const auto boxes = BoxTexts();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_NE(boxes[0].find("P1: 1%, P2: 39%, P3: 60%"), std::string::npos) << boxes[0];
    EXPECT_EQ(boxes[2], "Command Issued.");
    Pump();
    EXPECT_EQ(PrinterWindows(), 0);
}

TEST_F(Admin, TheSpinsMoveByStepsWithinBounds) {
    AddPrinter(DiskAndFlash("5%"));
    LogIn();
    std::vector<std::vector<std::string>> seen;
    CFSInitDlg dialog;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        SelectRow(h, 0);
        auto spin = [&](int id, int delta) {
            NMUPDOWN change = {};
            change.hdr.hwndFrom = GetDlgItem(h, id);
            change.hdr.idFrom = static_cast<UINT_PTR>(id);
            change.hdr.code = UDN_DELTAPOS;
            change.iDelta = delta;
            SendMessageA(h, WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&change));
            seen.push_back(Percents(h));
        };
        spin(IDC_FORMAT_SPIN_1, 1); // 55 25 20
        CheckDlgButton(h, IDC_FORMAT_LOCK_2, BST_CHECKED);
        spin(IDC_FORMAT_SPIN_1, 1); // 60 25 15
        CheckDlgButton(h, IDC_FORMAT_LOCK_3, BST_CHECKED);
        spin(IDC_FORMAT_SPIN_1, 1); // both others locked: nothing
        CheckDlgButton(h, IDC_FORMAT_LOCK_2, BST_UNCHECKED);
        CheckDlgButton(h, IDC_FORMAT_LOCK_3, BST_UNCHECKED);
        spin(IDC_FORMAT_SPIN_3, -1); // 65 25 10 (P1 is next after P3)
    });
    EXPECT_EQ(seen,
              (std::vector<std::vector<std::string>>{
                  {"55", "25", "20"}, {"60", "25", "15"}, {"60", "25", "15"}, {"65", "25", "10"}}));
}

TEST_F(Admin, FlashWithoutAreaSendsNoAssignAndAMissingStreamSendsNothing) {
    fakeprinter::Server &server = AddPrinter(DiskAndFlash("ENABLE", "0BYTE,0%"));
    LogIn();
    AfxTestSeam::PushAnswer("IDYES"); // initialise the flash memory?
    AfxTestSeam::PushAnswer("IDNO");  // reboot now?
    AfxTestSeam::PushAnswer("IDYES"); // initialise %disk0%?
    AfxTestSeam::PushAnswer("IDOK");  // cannot open file
    std::vector<std::string> flash, missing;
    bool sizeShown = true;
    CFSInitDlg dialog;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        std::size_t before = server.Jobs().size();
        SelectRow(h, 4);
        sizeShown = Visible(h, IDC_FORMAT_FLASH_SIZE);
        Click(h, IDC_FORMAT_ENTIRE_FLASH);
        flash = Commands(server, before);
        std::snprintf(ProgramFolder, MAX_PATH, "%s", folder_.c_str()); // no ZqInit files here
        before = server.Jobs().size();
        SelectRow(h, 2);
        Click(h, IDOK);
        missing = Commands(server, before);
    });
    EXPECT_FALSE(sizeShown);
    EXPECT_EQ(flash, (std::vector<std::string>{"@PJL QUVINITIALIZE FLASH0"}));
    EXPECT_TRUE(missing.empty());
    const auto boxes = BoxTexts();
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_NE(boxes[3].find("Cannot open file"), std::string::npos) << boxes[3];
    EXPECT_NE(boxes[3].find("ZqInitd0.DAT"), std::string::npos) << boxes[3];
}

TEST_F(Admin, PostScriptStreamsComeFromTheProgramFolder) {
    fakeprinter::Server &server = AddPrinter(DiskAndFlash("ENABLE"));
    LogIn();
    for (int i = 0; i < 2; ++i) {
        AfxTestSeam::PushAnswer("IDYES");
        AfxTestSeam::PushAnswer("IDNO");
    }
    std::vector<std::string> disk, flash;
    std::string flashValue;
    std::size_t jobsBefore = 0;
    CFSInitDlg dialog;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        jobsBefore = server.Jobs().size();
        SelectRow(h, 2);
        Click(h, IDOK);
        disk = Commands(server, jobsBefore);
        const std::size_t before = server.Jobs().size();
        SelectRow(h, 4);
        flashValue = Text(h, IDC_FORMAT_FLASH_SIZE);
        Click(h, IDOK);
        flash = Commands(server, before);
    });
    const auto jobs = server.Jobs();
    const std::string diskFile = ReadBytes(suite::BinPath("ZqInitd0.DAT"));
    const std::string flashFile = ReadBytes(suite::BinPath("ZqInitf0.DAT"));
    ASSERT_FALSE(diskFile.empty()) << "ZqInitd0.DAT is not in bin";
    ASSERT_FALSE(flashFile.empty()) << "ZqInitf0.DAT is not in bin";
    bool diskSent = false, flashSent = false;
    for (std::size_t i = jobsBefore; i < jobs.size(); ++i) {
        diskSent = diskSent || jobs[i].received.find(diskFile) != std::string::npos;
        flashSent = flashSent || jobs[i].received.find(flashFile) != std::string::npos;
    }
    EXPECT_TRUE(diskSent);
    EXPECT_TRUE(flashSent);
    EXPECT_TRUE(Holds(disk, "POSTSCRIPT"));
    EXPECT_EQ(flashValue, "25");
    ASSERT_FALSE(flash.empty());
    EXPECT_EQ(flash[0], "@PJL QUVFSASSIGN TYPE=PSFILE LOCATION=FLASH0 SIZE=25");
}

TEST_F(Admin, TenVolumesFormatTheirOwnAndASilentPrinterClosesTheDialog) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    setup.volumes.clear();
    for (int i = 0; i <= 10; ++i)
        setup.volumes.push_back(std::to_string(i) + ":\t10\t10\tHDD0\tPCL");
    setup.files = {{"0:\\pcl\\keep", "1"}, {"10:\\pcl\\gone", "1"}};
    fakeprinter::Server &server = AddPrinter(setup);
    LogIn();
    AfxTestSeam::PushAnswer("IDYES");
    AfxTestSeam::PushAnswer("IDNO");
    std::vector<std::string> sent;
    CFSInitDlg dialog;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        const std::size_t before = server.Jobs().size();
        SelectRow(h, 10);
        Click(h, IDOK);
        sent = Commands(server, before);
    });
    EXPECT_EQ(sent, (std::vector<std::string>{"@PJL FSINIT VOLUME=\"10:\""}));
    server.With([](fakeprinter::Engine &e) {
        EXPECT_NE(e.Files().Find("0:\\pcl\\keep"), nullptr);
        EXPECT_EQ(e.Files().Find("10:\\pcl\\gone"), nullptr);
    });
    Boxes();

    // No file-system reply: the dialog ends at once and offers nothing.
    fakeprinter::Faults silent;
    silent.silent = true;
    server.With([&](fakeprinter::Engine &e) {
        e.byCommand.push_back({"@PJL INFO QUVFILESYS", silent});
    });
    for (int i = 0; i < 4; ++i)
        AfxTestSeam::PushAnswer("IDNO");
    CFSInitDlg closing;
    EXPECT_EQ(closing.DoModal(), IDCANCEL);
    for (const std::string &text : BoxTexts())
        EXPECT_EQ(text.find("restart"), std::string::npos) << text;
}

TEST_F(Admin, EveryDialogNamesItsHelp) {
    InstallPasswordFile();
    AddPrinter(fakeprinter::Setup::Default());
    LogIn();
    CAdminPwd admin;
    CPassWordDlg password;
    CChangePwd change;
    CDelFile del;
    CFSInitDlg format;
    const std::pair<CDialog *, DWORD_PTR> cases[] = {
        {&admin, 14}, {&password, 40}, {&change, 26}, {&del, 36}, {&format, 35}};
    for (const auto &c : cases) {
        AfxTestSeam::TakeLog();
        RunDriven(*c.first, [&](HWND h) {
            ASSERT_NE(h, nullptr);
            Click(h, IDC_DIALOG_HELP);
        });
        std::vector<DWORD_PTR> helps;
        for (const auto &e : AfxTestSeam::TakeLog())
            if (e.kind == "help")
                helps.push_back(e.data);
        EXPECT_EQ(helps, (std::vector<DWORD_PTR>{c.second}));
    }
}

TEST_F(Admin, AnHddMixRowHasNoFlashToInitialiseAndASilentSendOffersNoReboot) {
    fakeprinter::Setup setup = DiskAndFlash("ENABLE", "0BYTE,0%");
    setup.volumes = {"0:\t50\t50\tHDD0\tPCL", "2:\t10\t10\tHDD0\tMIX"};
    fakeprinter::Server &server = AddPrinter(setup);
    LogIn();
    AfxTestSeam::PushAnswer("IDYES"); // initialise the flash memory?
    AfxTestSeam::PushAnswer("IDOK");  // operation failed
    std::vector<std::string> flash;
    bool entireFlash = false;
    std::vector<std::string> afterSilence;
    CFSInitDlg dialog;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        std::size_t before = server.Jobs().size();
        SelectRow(h, 1);
        entireFlash = Enabled(h, IDC_FORMAT_ENTIRE_FLASH);
        Click(h, IDC_FORMAT_ENTIRE_FLASH);
        flash = Commands(server, before);
        // The printer stops answering: the send fails and no reboot is offered.
        fakeprinter::Faults silent;
        silent.silent = true;
        server.With([&](fakeprinter::Engine &e) { e.defaults = silent; });
        for (int i = 0; i < 6; ++i)
            AfxTestSeam::PushAnswer(i == 0 ? "IDYES" : "IDNO");
        SelectRow(h, 0);
        Click(h, IDOK);
    });
    EXPECT_TRUE(entireFlash);
    EXPECT_TRUE(flash.empty());
    const auto boxes = BoxTexts();
    ASSERT_GE(boxes.size(), 3u);
    EXPECT_EQ(boxes[1], "Operation Failed");
    EXPECT_NE(boxes[2].find("INITIALISE the selected partition"), std::string::npos) << boxes[2];
    for (const std::string &text : boxes)
        EXPECT_EQ(text.find("restart the printer"), std::string::npos) << text;
    EXPECT_EQ(boxes.size(), 4u) << "one report of the failed send";
}

TEST_F(Admin, WithoutAttributesTheComputedDefaultsGoOutAndFlashSizesAreBytes) {
    fakeprinter::Setup setup = DiskAndFlash("ENABLE");
    setup.attributesQuoted = true; // a printer without attributes
    fakeprinter::Server &server = AddPrinter(setup);
    LogIn();
    AfxTestSeam::PushAnswer("IDYES"); // initialise the entire disk?
    AfxTestSeam::PushAnswer("IDNO");  // reboot now?
    AfxTestSeam::PushAnswer("IDYES"); // initialise %flash0%?
    AfxTestSeam::PushAnswer("IDOK");  // the size does not fit
    std::vector<std::string> disk, flash;
    std::string unit, bytes;
    bool partitionShown = true;
    CFSInitDlg dialog;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        unit = Text(h, IDC_FORMAT_FLASH_UNIT);
        std::size_t before = server.Jobs().size();
        SelectRow(h, 0);
        partitionShown = Visible(h, IDC_FORMAT_PERCENT_1);
        Click(h, IDC_FORMAT_ENTIRE_DISK);
        disk = Commands(server, before);
        before = server.Jobs().size();
        SelectRow(h, 4);
        bytes = Text(h, IDC_FORMAT_FLASH_SIZE);
        Click(h, IDOK); // the last row has no volume below it: nothing fits
        flash = Commands(server, before);
    });
    EXPECT_EQ(unit, "B");
    EXPECT_FALSE(partitionShown);
    EXPECT_EQ(disk, (std::vector<std::string>{
                        "@PJL QUVPARTITIONASSIGN LOCATION=HDD0 DISTRIBUTION=\"50 30 20\""}));
    EXPECT_EQ(bytes, "100");
    EXPECT_TRUE(flash.empty());
    const auto boxes = BoxTexts();
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_NE(boxes[0].find("INITIALISE the entire disk.  All data"), std::string::npos)
        << boxes[0];
    EXPECT_NE(boxes[3].find("not consistent with the Flash memory size"), std::string::npos)
        << boxes[3];
}

TEST_F(Admin, TheAdministratorCommandOpensTheFunctions) {
    AddPrinter(fakeprinter::Setup::Default());
    EXPECT_EQ(CaptionOfDialogOf(frame_, ID_ADMIN_FUNCTIONS), "Kelvane - Administrator's Functions");
}

// ---- Held print jobs ----

namespace {

fakeprinter::HeldJob Held(const char *id, const char *pin, const char *name, const char *type,
                          const char *stored = "") {
    fakeprinter::HeldJob job;
    job.id = id;
    job.pin = pin;
    job.name = name;
    job.type = type;
    job.stored = stored;
    return job;
}

fakeprinter::Setup HeldJobs(const char *numPrint = "ENABLE") {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    for (std::string &line : setup.attributes)
        if (line.rfind("NUMPRINT=", 0) == 0)
            line = std::string("NUMPRINT=") + numPrint;
    setup.jobs = {Held("001", "1234", "Invoice", "PROOF"),
                  Held("002", "1234", "Memo 100%s", "SECURE"),
                  Held("003", "1234", "Other", "QUICK"),
                  Held("004", "5678", "Payroll", "SECURE"),
                  Held("ABCDEFGHIJKL", "1234", "Long id", "PROOF"),
                  Held("006", "1234", "Kept", "PROOF", "ON")};
    return setup;
}

void Type(HWND dialog, int id, const std::string &text) {
    for (char c : text)
        SendMessageA(GetDlgItem(dialog, id), WM_CHAR, static_cast<unsigned char>(c), 0);
}

std::vector<std::vector<std::string>> Rows(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_SPOOL_JOB_LIST);
    std::vector<std::vector<std::string>> rows;
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::vector<std::string> row;
        for (int col = 0; col < 5; ++col) {
            char text[300] = {};
            LVITEMA item = {};
            item.iSubItem = col;
            item.pszText = text;
            item.cchTextMax = sizeof text;
            SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
            row.push_back(text);
        }
        rows.push_back(row);
    }
    return rows;
}

void SelectJob(HWND dialog, int row) {
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    SendMessageA(GetDlgItem(dialog, IDC_SPOOL_JOB_LIST), LVM_SETITEMSTATE, row,
                 reinterpret_cast<LPARAM>(&item));
}

int RowOf(HWND dialog, const std::string &id) {
    const auto rows = Rows(dialog);
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i][1] == id)
            return static_cast<int>(i);
    return -1;
}

// Clicks Print from the driver thread; `answer` (when set) is typed into the copies
// question, which is then ended with OK, or with Cancel for "IDCANCEL". True when the
// question showed.
bool PrintWith(HWND dialog, const char *answer) {
    if (!answer) {
        Click(dialog, IDC_SPOOL_PRINT);
        return WaitForDialog(300, dialog) != nullptr;
    }
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SPOOL_PRINT, BN_CLICKED), 0);
    bool asked = false;
    {
        HWND question = WaitForDialog(5000, dialog);
        if (question) {
            asked = true;
            if (std::string(answer) == "IDCANCEL") {
                PostMessageA(question, WM_COMMAND, IDCANCEL, 0);
            } else {
                SetDlgItemTextA(question, IDC_PARAM_VALUE, answer);
                PostMessageA(question, WM_COMMAND, IDOK, 0);
            }
            for (int i = 0; i < 250 && IsWindow(question); ++i)
                Sleep(20);
        }
    }
    SendMessageA(dialog, WM_NULL, 0, 0); // the click has been handled
    return asked;
}

int Beeps() {
    int beeps = 0;
    for (const auto &e : AfxTestSeam::TakeLog())
        beeps += e.kind == "beep";
    return beeps;
}

class SpoolJobs : public Admin {
  protected:
    void SetUp() override {
        Admin::SetUp();
        std::memset(AppObject.m_pin, 0, sizeof AppObject.m_pin);
        AppObject.m_showProof = TRUE;
        AppObject.m_showSecure = TRUE;
    }
    // The list commands the fake has recorded since job `from`.
    static std::vector<std::string> Lists(fakeprinter::Server &server, std::size_t from = 0) {
        std::vector<std::string> lists;
        for (const std::string &c : Commands(server, from))
            if (c.find("QUVSPOOLJOB") != std::string::npos && c.find("INFO") != std::string::npos)
                lists.push_back(c);
        return lists;
    }
    static std::vector<std::string> Releases(fakeprinter::Server &server) {
        std::vector<std::string> out;
        for (const std::string &c : Commands(server))
            if (c.find("QUVSPOOLJOB") != std::string::npos && c.find("INFO") == std::string::npos)
                out.push_back(c);
        return out;
    }
};

} // namespace

TEST_F(SpoolJobs, OpeningShowsColumnsFiltersAndTheRangeOfTheAttributes) {
    struct Case {
        const char *name;
        bool quoted, values;
        const char *range;
        char limit;
    } cases[] = {{"values", false, true, "( 0000-9999 )", '9'},
                 {"quoted", true, false, " ( 0000-7777 )", '7'}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fakeprinter::Setup setup = HeldJobs();
        setup.attributesQuoted = c.quoted;
        AddPrinter(setup);
        SelectBarRow(static_cast<int>(AppObject.m_printers->GetCount()) - 1);
        AppObject.m_showSecure = FALSE;
        CSpoolDlg dialog(AppObject.GetCurrentPrinter());
        std::string range, pinChar, passwordChar;
        std::vector<std::pair<std::string, int>> columns;
        bool proof = false, secure = true, buttons = true;
        RunDriven(dialog, [&](HWND h) {
            ASSERT_NE(h, nullptr);
            range = Text(h, IDC_SPOOL_PIN_RANGE);
            HWND list = GetDlgItem(h, IDC_SPOOL_JOB_LIST);
            for (int col = 0; col < 5; ++col) {
                char text[64] = {};
                LVCOLUMNA column = {};
                column.mask = LVCF_TEXT | LVCF_WIDTH;
                column.pszText = text;
                column.cchTextMax = sizeof text;
                SendMessageA(list, LVM_GETCOLUMNA, col, reinterpret_cast<LPARAM>(&column));
                columns.emplace_back(text, column.cx);
            }
            pinChar = std::string(1, static_cast<char>(SendMessageA(GetDlgItem(h, IDC_SPOOL_PIN),
                                                                    EM_GETPASSWORDCHAR, 0, 0)));
            passwordChar =
                std::string(1, static_cast<char>(SendMessageA(GetDlgItem(h, IDC_SPOOL_PASSWORD),
                                                              EM_GETPASSWORDCHAR, 0, 0)));
            proof = IsDlgButtonChecked(h, IDC_SPOOL_SHOW_PROOF) == BST_CHECKED;
            secure = IsDlgButtonChecked(h, IDC_SPOOL_SHOW_SECURE) == BST_CHECKED;
            buttons = Enabled(h, IDC_SPOOL_PRINT) || Enabled(h, IDC_SPOOL_CANCEL) ||
                      Enabled(h, IDC_SPOOL_APPLY_PIN) || Enabled(h, IDC_SPOOL_APPLY_PASSWORD);
        });
        EXPECT_EQ(range, c.range);
        EXPECT_EQ(dialog.m_pinLimit, c.limit);
        EXPECT_EQ(columns,
                  (std::vector<std::pair<std::string, int>>{
                      {"Name", 240}, {"ID", 60}, {"Type", 60}, {"Copies", 60}, {"Stored", 60}}));
        EXPECT_EQ(pinChar, "*");
        EXPECT_EQ(passwordChar, "*");
        EXPECT_TRUE(proof);
        EXPECT_FALSE(secure);
        EXPECT_FALSE(buttons);
        Boxes();
    }
    // A silent printer, its retry declined, ends the dialog at once.
    fakeprinter::Setup silent = HeldJobs();
    silent.attributesSilent = true;
    AddPrinter(silent);
    SelectBarRow(2);
    for (int i = 0; i < 4; ++i)
        AfxTestSeam::PushAnswer("IDNO");
    CSpoolDlg closed(AppObject.GetCurrentPrinter());
    EXPECT_EQ(closed.DoModal(), IDCANCEL);
}

TEST_F(SpoolJobs, TypingAPinFiltersDigitsWithoutRecursionAndListsByTheFilters) {
    InstallPasswordFile();
    fakeprinter::Server &server = AddPrinter(HeldJobs());
    SelectBarRow(0);
    static_cast<CAPrinter *>(AppObject.m_printers->GetHead())->m_attrState = 1; // PIN digits 0-7
    CSpoolDlg dialog(AppObject.GetCurrentPrinter());
    std::string pin, pasted;
    int beeps = -1, pastedBeeps = -1;
    bool viewUser = false, applyPin = false;
    std::vector<std::vector<std::string>> both, proofOnly, none;
    std::vector<std::string> listsBoth, listsNone;
    std::size_t jobsBefore = 0;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        Click(h, IDC_SPOOL_VIEW_USER);
        Beeps();
        Type(h, IDC_SPOOL_PIN, "128345");
        pin = Text(h, IDC_SPOOL_PIN);
        beeps = Beeps();
        viewUser = IsDlgButtonChecked(h, IDC_SPOOL_VIEW_USER) == BST_CHECKED;
        applyPin = Enabled(h, IDC_SPOOL_APPLY_PIN);
        jobsBefore = server.Jobs().size();
        Click(h, IDC_SPOOL_APPLY_PIN);
        both = Rows(h);
        listsBoth = Lists(server, jobsBefore);
        SendMessageA(GetDlgItem(h, IDC_SPOOL_SHOW_SECURE), BM_CLICK, 0, 0);
        Click(h, IDC_SPOOL_APPLY_PIN);
        proofOnly = Rows(h);
        SendMessageA(GetDlgItem(h, IDC_SPOOL_SHOW_PROOF), BM_CLICK, 0, 0);
        jobsBefore = server.Jobs().size();
        Click(h, IDC_SPOOL_APPLY_PIN);
        none = Rows(h);
        listsNone = Lists(server, jobsBefore);
        // A pasted text of 300 characters is cut in one pass.
        SetText(h, IDC_SPOOL_PIN, std::string(300, '5'));
        pasted = Text(h, IDC_SPOOL_PIN);
        pastedBeeps = Beeps();
    });
    EXPECT_EQ(pin, "1234");
    EXPECT_EQ(beeps, 2);
    EXPECT_TRUE(viewUser);
    EXPECT_TRUE(applyPin);
    EXPECT_EQ(pasted, "5555");
    EXPECT_EQ(pastedBeeps, 1);
    EXPECT_STREQ(AppObject.m_pin, "5555");
    EXPECT_NE(ReadBytes(folder_ + "\\ZqConfig.dat").find("5555"), std::string::npos);
    EXPECT_EQ(listsBoth, (std::vector<std::string>{"@PJL QUVSPOOLJOBINFO PASSWORD=1234"}));
    EXPECT_EQ(both,
              (std::vector<std::vector<std::string>>{{"Invoice", "001", "PROOF", "1", ""},
                                                     {"Memo 100%s", "002", "SECURE", "1", ""},
                                                     {"Long id", "ABCDEFGHIJKL", "PROOF", "1", ""},
                                                     {"Kept", "006", "PROOF", "1", "ON"}}));
    ASSERT_EQ(proofOnly.size(), 3u);
    EXPECT_EQ(proofOnly[1][1], "ABCDEFGHIJKL");
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(listsNone.empty());
    EXPECT_FALSE(AppObject.m_showProof);
    EXPECT_FALSE(AppObject.m_showSecure);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(SpoolJobs, TheAdministratorPasswordOpensEveryJob) {
    InstallPasswordFile();
    fakeprinter::Server &server = AddPrinter(HeldJobs());
    SelectBarRow(0);
    AfxTestSeam::PushAnswer("IDOK");
    AfxTestSeam::PushAnswer("IDOK");
    CSpoolDlg dialog(AppObject.GetCurrentPrinter());
    bool wrong = true, applyAfter = false;
    std::vector<std::string> boxesAfterWrong, lists;
    std::vector<std::vector<std::string>> rows;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        Click(h, IDC_SPOOL_VIEW_ALL);
        Type(h, IDC_SPOOL_PASSWORD, "abcdefgh");
        wrong = AppObject.m_adminLoggedIn || Enabled(h, IDC_SPOOL_APPLY_PASSWORD);
        Type(h, IDC_SPOOL_PASSWORD, "x"); // a ninth character is cut back
        boxesAfterWrong = BoxTexts();
        SetText(h, IDC_SPOOL_PASSWORD, "");
        Type(h, IDC_SPOOL_PASSWORD, "Abcdefgh");
        applyAfter = AppObject.m_adminLoggedIn && Enabled(h, IDC_SPOOL_APPLY_PASSWORD);
        const std::size_t from = server.Jobs().size();
        Click(h, IDC_SPOOL_APPLY_PASSWORD);
        lists = Lists(server, from);
        rows = Rows(h);
    });
    EXPECT_FALSE(wrong);
    EXPECT_EQ(boxesAfterWrong, (std::vector<std::string>{"The password entered is not valid.",
                                                         "The password entered is not valid."}));
    EXPECT_TRUE(applyAfter);
    EXPECT_EQ(lists, (std::vector<std::string>{"@PJL QUVSPOOLJOBCOMPELINFO"}));
    EXPECT_EQ(rows.size(), 5u);
    bool payroll = false;
    for (const auto &row : rows)
        payroll = payroll || row[1] == "004";
    EXPECT_TRUE(payroll);
    EXPECT_EQ(std::string(dialog.m_storedPassword, 9), std::string(9, '\0'));
}

TEST_F(SpoolJobs, WithoutAPasswordFileNoEntryLogsInAndThePinViewStillLists) {
    fakeprinter::Server &server = AddPrinter(HeldJobs());
    SelectBarRow(0);
    for (int i = 0; i < 3; ++i)
        AfxTestSeam::PushAnswer("IDOK");
    CSpoolDlg dialog(AppObject.GetCurrentPrinter());
    std::vector<std::string> opening;
    bool any = true;
    std::size_t rows = 0;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        opening = BoxTexts();
        Click(h, IDC_SPOOL_VIEW_ALL);
        for (const char *typed : {"bexlun@@", "        ", "Abcdefgh"})
            SetText(h, IDC_SPOOL_PASSWORD, typed);
        any = AppObject.m_adminLoggedIn || Enabled(h, IDC_SPOOL_APPLY_PASSWORD);
        Click(h, IDC_SPOOL_VIEW_USER);
        Type(h, IDC_SPOOL_PIN, "1234");
        Click(h, IDC_SPOOL_APPLY_PIN);
        rows = Rows(h).size();
    });
    ASSERT_EQ(opening.size(), 2u);
    EXPECT_NE(opening[0].find("Cannot open file"), std::string::npos);
    EXPECT_NE(opening[1].find("password file cannot be found"), std::string::npos);
    EXPECT_FALSE(any);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>(2, "The password entered is not valid.")));
    EXPECT_EQ(rows, 4u);
    EXPECT_EQ(Lists(server), (std::vector<std::string>{"@PJL QUVSPOOLJOBINFO PASSWORD=1234"}));
}

TEST_F(SpoolJobs, PrintAndCancelSendTheWholeIdAndQuantityOnlyForAPositiveCount) {
    struct Case {
        bool admin;
        const char *numPrint;
        const char *id;
        const char *answer; // null: no question expected
        bool cancel;
        const char *sent; // null: nothing sent
        bool reread;
    } cases[] = {
        {true, "ENABLE", "001", "2", false, "@PJL QUVSPOOLJOBCOMPELPRINT JOBID=001 QTY=2", true},
        {true, "ENABLE", "001", "0", false, "@PJL QUVSPOOLJOBCOMPELPRINT JOBID=001", true},
        {false, "ENABLE", "001", "-1", false, "@PJL QUVSPOOLJOBPRINT PASSWORD=1234 JOBID=001",
         true},
        {false, "ENABLE", "001", "2x", false, "@PJL QUVSPOOLJOBPRINT PASSWORD=1234 JOBID=001",
         true},
        {false, "ENABLE", "001", "IDCANCEL", false, nullptr, false},
        {false, "DISABLE", "001", nullptr, false, "@PJL QUVSPOOLJOBPRINT PASSWORD=1234 JOBID=001",
         true},
        {false, "DISABLE", "ABCDEFGHIJKL", nullptr, false,
         "@PJL QUVSPOOLJOBPRINT PASSWORD=1234 JOBID=ABCDEFGHIJKL", true},
        {false, "DISABLE", "006", nullptr, false, "@PJL QUVSPOOLJOBPRINT PASSWORD=1234 JOBID=006",
         false},
        {false, "DISABLE", "002", nullptr, true, "@PJL QUVSPOOLJOBCANCEL PASSWORD=1234 JOBID=002",
         true},
        {true, "DISABLE", "002", nullptr, true, "@PJL QUVSPOOLJOBCOMPELCANCEL JOBID=002", true},
    };
    InstallPasswordFile();
    int index = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(index) + " " + c.id +
                     (c.answer ? std::string(" ") + c.answer : ""));
        fakeprinter::Server &server = AddPrinter(HeldJobs(c.numPrint));
        SelectBarRow(index++);
        AppObject.m_adminLoggedIn = FALSE;
        if (c.admin)
            LogIn();
        std::strcpy(AppObject.m_pin, "1234");
        CSpoolDlg dialog(AppObject.GetCurrentPrinter());
        bool asked = false, buttonsAfter = true, selectedEnables = false, stillListed = true;
        std::vector<std::string> listsAfter;
        RunDriven(dialog, [&](HWND h) {
            ASSERT_NE(h, nullptr);
            Type(h, IDC_SPOOL_PIN, "1234");
            Click(h, c.admin ? IDC_SPOOL_APPLY_PASSWORD : IDC_SPOOL_APPLY_PIN);
            const int row = RowOf(h, c.id);
            ASSERT_GE(row, 0);
            SelectJob(h, row);
            selectedEnables = Enabled(h, IDC_SPOOL_PRINT) && Enabled(h, IDC_SPOOL_CANCEL);
            Boxes();
            const std::size_t from = server.Jobs().size();
            if (c.cancel)
                Click(h, IDC_SPOOL_CANCEL);
            else
                asked = PrintWith(h, c.answer);
            server.WaitForJobs(from + 1, 2000);
            listsAfter = Lists(server, from);
            buttonsAfter = Enabled(h, IDC_SPOOL_PRINT) || Enabled(h, IDC_SPOOL_CANCEL);
            stillListed = RowOf(h, c.id) >= 0;
        });
        EXPECT_TRUE(selectedEnables);
        EXPECT_EQ(asked, c.answer != nullptr);
        const auto sent = Releases(server);
        if (c.sent) {
            EXPECT_EQ(sent, (std::vector<std::string>{c.sent}));
            EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Command Issued."}));
        } else {
            EXPECT_TRUE(sent.empty());
            EXPECT_TRUE(BoxTexts().empty());
        }
        EXPECT_EQ(!listsAfter.empty(), c.reread);
        if (c.reread) {
            EXPECT_FALSE(stillListed);
            EXPECT_FALSE(buttonsAfter);
        }
    }
}

TEST_F(SpoolJobs, AFailedSendShowsTheErrorWithoutCommandIssuedOrReread) {
    fakeprinter::Server &server = AddPrinter(HeldJobs("DISABLE"));
    SelectBarRow(0);
    std::strcpy(AppObject.m_pin, "1234");
    for (int i = 0; i < 4; ++i)
        AfxTestSeam::PushAnswer("IDNO");
    CSpoolDlg dialog(AppObject.GetCurrentPrinter());
    std::vector<std::string> boxes, listsAfter;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        Type(h, IDC_SPOOL_PIN, "1234");
        Click(h, IDC_SPOOL_APPLY_PIN);
        SelectJob(h, 0);
        Boxes();
        fakeprinter::Faults drop;
        drop.closeBeforeReply = true;
        const std::size_t from = server.Jobs().size();
        server.With([&](fakeprinter::Engine &e) { e.byJob[static_cast<int>(from) + 1] = drop; });
        PrintWith(h, nullptr);
        boxes = BoxTexts();
        listsAfter = Lists(server, from);
    });
    ASSERT_FALSE(boxes.empty());
    for (const std::string &text : boxes)
        EXPECT_NE(text, "Command Issued.");
    EXPECT_TRUE(listsAfter.empty());
    EXPECT_TRUE(Releases(server).empty());
}

TEST_F(SpoolJobs, TheCommandOpensTheDialogForTheCurrentPrinter) {
    AddPrinter(HeldJobs(), "First");
    SelectBarRow(0);
    EXPECT_EQ(CaptionOfDialogOf(frame_, ID_HDD_PRINT_JOBS), "HDD Print Jobs");
}

TEST_F(SpoolJobs, ARefusedIdReportsItselfAndTheNextRowGoesOn) {
    fakeprinter::Setup setup = HeldJobs("DISABLE");
    setup.jobs = {Held("7 7", "1234", "Blank in id", "PROOF"),
                  Held("008", "1234", "Next", "SECURE")};
    fakeprinter::Server &server = AddPrinter(setup);
    SelectBarRow(0);
    std::strcpy(AppObject.m_pin, "1234");
    AfxTestSeam::PushAnswer("IDOK");
    AfxTestSeam::PushAnswer("IDOK");
    CSpoolDlg dialog(AppObject.GetCurrentPrinter());
    std::vector<std::vector<std::string>> after;
    RunDriven(dialog, [&](HWND h) {
        ASSERT_NE(h, nullptr);
        Type(h, IDC_SPOOL_PIN, "1234");
        Click(h, IDC_SPOOL_APPLY_PIN);
        SelectJob(h, 0);
        SelectJob(h, 1);
        Boxes();
        Click(h, IDC_SPOOL_CANCEL);
        after = Rows(h);
    });
    EXPECT_EQ(Releases(server),
              (std::vector<std::string>{"@PJL QUVSPOOLJOBCANCEL PASSWORD=1234 JOBID=008"}));
    const auto boxes = BoxTexts();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0], "Command Issued.");
    EXPECT_EQ(boxes[1], "Command Issued.");
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0][1], "7 7");
}

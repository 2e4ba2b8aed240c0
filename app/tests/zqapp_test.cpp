// CZqApp in-process: the settings file step, the image lists, the printer bar's rows,
// layout and drag, with the real resource module.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app_setup.h"
#include "commands.h"
#include "dialogs.h"
#include "framework_seam.h"

#include "frames.h"
#include "macrofile.h"
#include "server.h"
#include "suite_dialogs.h"

#include "mainfrm.h"

#include "helpers.h"
#include "resource_ids.h"
#include "suite_files.h"
#include "suite_paths.h"
#include "zqapp.h"

CZqApp AppObject;

using namespace std::string_literals;

namespace {

std::vector<AfxTestSeam::Event> Boxes() {
    std::vector<AfxTestSeam::Event> boxes;
    for (auto &e : AfxTestSeam::TakeLog())
        if (e.kind == "box")
            boxes.push_back(e);
    return boxes;
}

void Pump() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void ClearPrinters(CZqApp &app) {
    if (!app.m_printers)
        app.m_printers = new CPtrList(10);
    while (!app.m_printers->IsEmpty())
        delete static_cast<CAPrinter *>(app.m_printers->RemoveHead());
}

class ZqAppTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static bool ready = false;
        if (ready)
            return;
        ready = true;
        PrepareTestApp(AppObject);
    }
    void SetUp() override {
        ASSERT_NE(AppObject.m_hResources, nullptr) << "nimbrel.dll did not load";
        AfxTestSeam::Begin();
        folder_ = suite::TestDataDir() + "\\zqapp-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        EnsureFolder(folder_.c_str());
        DeleteFileA(File().c_str());
        ClearPrinters(AppObject);
    }
    void TearDown() override {
        ClearPrinters(AppObject);
        DeleteFileA(File().c_str());
        AfxTestSeam::End();
    }
    std::string File() const { return folder_ + "\\ZqConfig.dat"; }
    std::string folder_;
};

// ---- settings file ----------------------------------------------------------------

TEST_F(ZqAppTest, WrittenFormRoundTripsByteForByte) {
    const std::string text =
        "[PRINTERS]\r\nName=Fake Printer,Port=127.0.0.1:9100\r\nName=Fake Printer,Port=LPT1\r\n"
        "[SEARCH_FILTERS]\r\nDiscoverLPT=TRUE\r\nDiscoverUSB=FALSE\r\nDiscoverIP=TRUE\r\n"
        "SubNet=10.0.0.0/24\r\nTypeFace=3017\r\n[User_PIN]\r\n1234\r\n[SPOOL_QUEUES]\r\n"
        "ShowProof=FALSE\r\nShowSecure=TRUE\r\n";
    suite::WriteAll(File(), text);
    AppObject.LoadSettingsFrom(folder_.c_str());
    ASSERT_EQ(AppObject.m_printers->GetCount(), 2);
    EXPECT_FALSE(AppObject.m_discoverUsb);
    EXPECT_EQ(AppObject.m_typeFace, 3017);
    EXPECT_STREQ(AppObject.m_pin, "1234");
    EXPECT_FALSE(AppObject.m_showProof);
    DeleteFileA(File().c_str());
    ASSERT_TRUE(AppObject.SaveSettingsTo(folder_.c_str()));
    EXPECT_EQ(suite::ReadAll(File()), text);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ZqAppTest, SettingsFilesOfEveryShapeLoadWhatParses) {
    struct Case {
        const char *what;
        std::string text;
        int printers;
        bool usb;
        int typeFace;
        const char *pin;
    };
    const Case cases[] = {
        {"only the printers section", "[PRINTERS]\r\n", 0, true, 3000, ""},
        {"lower-case true is false", "[SEARCH_FILTERS]\r\nDiscoverUSB=true\r\n", 0, false, 3000,
         ""},
        {"last line without CR LF", "[PRINTERS]\r\nName=A,Port=LPT1", 1, true, 3000, ""},
        {"LF-only lines", "[PRINTERS]\nName=A,Port=LPT1\nName=B,Port=LPT2\n", 2, true, 3000, ""},
        {"no printers section", "[SEARCH_FILTERS]\r\nTypeFace=3100\r\n", 0, true, 3100, ""},
        {"line without Port", "[PRINTERS]\r\nName=A,Port=LPT1\r\nName=B\r\nName=C,Port=LPT3\r\n", 1,
         true, 3000, ""},
        {"five-character PIN", "[User_PIN]\r\n98765\r\n", 0, true, 3000, "9876"},
        {"NUL in the file",
         "[PRINTERS]\r\nName=A,Port=LPT1\r\n\0[SEARCH_FILTERS]\r\nTypeFace=1\r\n"s, 1, true, 3000,
         ""},
        {"empty file", "", 0, true, 3000, ""},
        {"huge line", std::string(100000, 'x'), 0, true, 3000, ""},
        {"non-numeric TypeFace", "[SEARCH_FILTERS]\r\nTypeFace=abc\r\n", 0, true, 3000, ""},
        {"300-character name", "[PRINTERS]\r\nName=" + std::string(300, 'n') + ",Port=LPT1\r\n", 1,
         true, 3000, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ClearPrinters(AppObject);
        suite::WriteAll(File(), c.text);
        AppObject.LoadSettingsFrom(folder_.c_str());
        EXPECT_EQ(AppObject.m_printers->GetCount(), c.printers);
        EXPECT_EQ(AppObject.m_discoverUsb != FALSE, c.usb);
        EXPECT_EQ(AppObject.m_typeFace, c.typeFace);
        EXPECT_STREQ(AppObject.m_pin, c.pin);
    }
    Boxes();
}

TEST_F(ZqAppTest, MissingFileShowsCannotOpenOnceAndKeepsDefaults) {
    AppObject.m_typeFace = 1;
    AppObject.LoadSettingsFrom(folder_.c_str());
    EXPECT_EQ(AppObject.m_typeFace, 3000);
    EXPECT_EQ(AppObject.m_printers->GetCount(), 0);
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot open file " + File());
}

TEST_F(ZqAppTest, SaveCreatesTheMissingFolderLevels) {
    const std::string nested = folder_ + "\\Dranvel\\Wyr";
    RemoveDirectoryA(nested.c_str());
    RemoveDirectoryA((folder_ + "\\Dranvel").c_str());
    DeleteFileA((nested + "\\ZqConfig.dat").c_str());
    ASSERT_TRUE(AppObject.SaveSettingsTo(nested.c_str()));
    EXPECT_EQ(
        suite::ReadAll(nested + "\\ZqConfig.dat").rfind("[PRINTERS]\r\n[SEARCH_FILTERS]\r\n", 0),
        0u);
    DeleteFileA((nested + "\\ZqConfig.dat").c_str());
    RemoveDirectoryA(nested.c_str());
    RemoveDirectoryA((folder_ + "\\Dranvel").c_str());
}

TEST_F(ZqAppTest, UnwritableFolderIsReportedOnceWithItsCode) {
    // A file where the last folder level should be.
    const std::string blocked = folder_ + "\\Wyr";
    suite::WriteAll(blocked, "not a folder");
    EXPECT_FALSE(AppObject.SaveSettingsTo(blocked.c_str()));
    EXPECT_FALSE(AppObject.SaveSettingsTo(blocked.c_str()));
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    // The system's text of ERROR_DIRECTORY: the new file cannot be made in a "folder" that is
    // a file.
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_DIRECTORY, 0, text, sizeof text, nullptr);
    ASSERT_NE(text[0], '\0');
    EXPECT_NE(boxes[0].text.find(text), std::string::npos) << boxes[0].text;
    EXPECT_EQ(suite::ReadAll(blocked), "not a folder");
    DeleteFileA(blocked.c_str());
}

TEST_F(ZqAppTest, AFileThatCouldNotBeReadIsNeverOverwritten) {
    const std::string text = "[PRINTERS]\r\nName=Kept,Port=LPT1\r\n";
    suite::WriteAll(File(), text);
    // Held without sharing while the settings are read: the defaults take over.
    HANDLE held = CreateFileA(File().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    AppObject.LoadSettingsFrom(folder_.c_str());
    CloseHandle(held);
    EXPECT_EQ(AppObject.m_printers->GetCount(), 0);
    ASSERT_EQ(Boxes().size(), 1u); // "Cannot open file"

    // A save would put the defaults over the printers it never read.
    EXPECT_FALSE(AppObject.SaveSettingsTo(folder_.c_str()));
    EXPECT_FALSE(AppObject.SaveSettingsTo(folder_.c_str()));
    EXPECT_EQ(suite::ReadAll(File()), text);
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find(File()), std::string::npos) << boxes[0].text;

    // Read again, it is the file's own again.
    AppObject.LoadSettingsFrom(folder_.c_str());
    ASSERT_EQ(AppObject.m_printers->GetCount(), 1);
    EXPECT_TRUE(AppObject.SaveSettingsTo(folder_.c_str()));
    EXPECT_EQ(suite::ReadAll(File()),
              text + "[SEARCH_FILTERS]\r\nDiscoverLPT=TRUE\r\nDiscoverUSB=TRUE\r\n"
                     "DiscoverIP=TRUE\r\nSubNet=\r\nTypeFace=3000\r\n[User_PIN]\r\n\r\n"
                     "[SPOOL_QUEUES]\r\nShowProof=TRUE\r\nShowSecure=TRUE\r\n");
}

// ---- image lists --------------------------------------------------------------------

TEST_F(ZqAppTest, ImageListsHoldTheFifteenIconsInIdOrder) {
    ASSERT_EQ(AppObject.m_smallImages.GetImageCount(), 15);
    ASSERT_EQ(AppObject.m_largeImages.GetImageCount(), 15);
    // Each image draws as its icon does, and neighbours differ.
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 96, 32);
    HGDIOBJ old = SelectObject(dc, bitmap);
    // Pixels that differ by more than the 8-bit list's colour rounding.
    auto mismatches = [&](int x0, int x1) {
        int count = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const COLORREF a = GetPixel(dc, x0 + x, y), b = GetPixel(dc, x1 + x, y);
                if (std::abs(GetRValue(a) - GetRValue(b)) > 48 ||
                    std::abs(GetGValue(a) - GetGValue(b)) > 48 ||
                    std::abs(GetBValue(a) - GetBValue(b)) > 48)
                    ++count;
            }
        return count;
    };
    for (int i = 0; i < 15; ++i) {
        SCOPED_TRACE(i);
        RECT all = {0, 0, 96, 32};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        ImageList_Draw(AppObject.m_largeImages, i, dc, 0, 0, ILD_NORMAL);
        HICON icon =
            static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(9000 + i),
                                          IMAGE_ICON, 32, 32, LR_LOADTRANSPARENT));
        ASSERT_NE(icon, nullptr);
        DrawIconEx(dc, 32, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
        DestroyIcon(icon);
        if (i > 0)
            ImageList_Draw(AppObject.m_largeImages, i - 1, dc, 64, 0, ILD_NORMAL);
        EXPECT_EQ(mismatches(0, 32), 0);
        if (i > 0) {
            EXPECT_GT(mismatches(0, 64), 0); // no two neighbours alike
        }
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

// ---- main frame and printer bar -------------------------------------------------------

class FrameTest : public ZqAppTest {
  protected:
    void SetUp() override {
        ZqAppTest::SetUp();
        frame_ = new CMainFrame;
        AppObject.m_pMainWnd = frame_;
        ASSERT_TRUE(frame_->LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE));
        frame_->ShowWindow(SW_SHOW);
        Pump();
    }
    void TearDown() override {
        if (frame_ && IsWindow(frame_->m_hWnd))
            frame_->DestroyWindow();
        AppObject.m_pMainWnd = nullptr;
        Pump();
        ZqAppTest::TearDown();
    }
    CMainFrame *frame_ = nullptr;
};

TEST_F(FrameTest, BarRowsNamePrintersInOrderWithImageOneAndTheirPrinter) {
    CPrinterBar *bar = frame_->m_printerBar;
    EXPECT_EQ(GetWindowLongPtrA(bar->m_hWnd, GWLP_USERDATA), 22);
    CRect window;
    frame_->GetWindowRect(&window);
    EXPECT_EQ(window.right - window.left, 640);
    EXPECT_EQ(window.bottom - window.top, 480);

    AppObject.AddPrinterRow(DiscoveredPrinter{"127.0.0.1:1", "Found"});
    auto *first = new CAPrinter(DiscoveredPrinter{"LPT1", "Laser"});
    auto *second = new CAPrinter(DiscoveredPrinter{"127.0.0.1:9100", "Laser"});
    AppObject.m_printers->AddTail(first);
    AppObject.m_printers->AddTail(second);
    AppObject.FillPrinterBar();

    CListCtrl *list = AppObject.GetPrinterListCtrl();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->GetItemCount(), 3);
    const char *texts[] = {"Found on 127.0.0.1:1", "Laser on LPT1", "Laser on 127.0.0.1:9100"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::string(list->GetItemText(i, 0)), texts[i]);
        LVITEMA item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = i;
        ASSERT_TRUE(list->GetItem(&item));
        EXPECT_EQ(item.iImage, 1);
    }
    EXPECT_EQ(list->GetItemData(1), reinterpret_cast<DWORD_PTR>(first));
    EXPECT_EQ(list->GetItemData(2), reinterpret_cast<DWORD_PTR>(second));
    EXPECT_EQ(list->GetImageList(LVSIL_NORMAL)->GetSafeHandle(),
              AppObject.m_largeImages.GetSafeHandle());
}

TEST_F(FrameTest, BarLayoutFollowsTheInnerClientArea) {
    CPrinterBar *bar = frame_->m_printerBar;
    CRect inner;
    frame_->GetInnerClientRect(&inner);
    CRect client;
    frame_->GetClientRect(&client);
    EXPECT_EQ(inner.bottom - inner.top, client.bottom - client.top); // bars hidden
    const CSize size = bar->CalcDynamicLayout(-1, LM_HORZ | LM_HORZDOCK);
    EXPECT_EQ(size.cx, inner.right - inner.left);
    EXPECT_EQ(size.cy, bar->m_sizeDefault.cy + 3);
    const CSize vertical = bar->CalcDynamicLayout(-1, LM_VERTDOCK);
    EXPECT_EQ(vertical.cx, bar->m_sizeDefault.cx);
    EXPECT_EQ(vertical.cy, inner.bottom - inner.top + 3);

    // The bar sits at the bottom of the client area, the MDI client above it.
    CRect barWindow;
    bar->GetWindowRect(&barWindow);
    frame_->ScreenToClient(&barWindow);
    EXPECT_EQ(barWindow.bottom, client.bottom);
    EXPECT_EQ(barWindow.bottom - barWindow.top, bar->m_sizeDefault.cy + 3);
    CRect mdi;
    ::GetWindowRect(frame_->m_hWndMDIClient, &mdi);
    frame_->ScreenToClient(&mdi);
    EXPECT_EQ(mdi.bottom, barWindow.top);

    // Shown tool and status bars come off the inner client area.
    frame_->ShowControlBar(&frame_->m_wndToolBar, TRUE, FALSE);
    frame_->ShowControlBar(&frame_->m_wndStatusBar, TRUE, FALSE);
    CRect tool, status;
    frame_->m_wndToolBar.GetWindowRect(&tool);
    frame_->m_wndStatusBar.GetWindowRect(&status);
    frame_->GetInnerClientRect(&inner);
    EXPECT_EQ(inner.top, tool.Height());
    EXPECT_EQ(inner.bottom, client.bottom - status.Height());
    EXPECT_GT(tool.Height(), 0);
    EXPECT_GT(status.Height(), 0);
    EXPECT_EQ(bar->CalcDynamicLayout(-1, LM_VERTDOCK).cy, inner.Height() + 3);
    frame_->ShowControlBar(&frame_->m_wndToolBar, FALSE, FALSE);
    frame_->ShowControlBar(&frame_->m_wndStatusBar, FALSE, FALSE);
    CRect list;
    bar->GetList()->GetWindowRect(&list);
    CRect barRect;
    bar->GetClientRect(&barRect);
    EXPECT_EQ(list.right - list.left, barRect.right);
    EXPECT_EQ(list.bottom - list.top, barRect.bottom);
    // A size message posted without sizes (as a layout nudge) leaves the list filling the bar.
    bar->PostMessage(WM_SIZE, SIZE_RESTORED, 0);
    Pump();
    bar->GetList()->GetWindowRect(&list);
    EXPECT_EQ(list.right - list.left, barRect.right);
    EXPECT_EQ(list.bottom - list.top, barRect.bottom);
}

TEST_F(FrameTest, DragOfTheTopEdgeFloorsAtTwentyOneAndEndsOnReleaseOrLostCapture) {
    CPrinterBar *bar = frame_->m_printerBar;
    CRect rect;
    bar->GetWindowRect(&rect);
    auto startDrag = [&] {
        bar->GetWindowRect(&rect);
        SetCursorPos(rect.left + 20, rect.top + 1);
        bar->SendMessage(WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(frame_->m_hWnd),
                         MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
    };
    startDrag();
    ASSERT_TRUE(bar->IsResizing());
    EXPECT_EQ(GetCapture(), bar->m_hWnd);

    bar->TrackTo(rect.bottom - 60);
    EXPECT_EQ(bar->m_sizeDefault.cy, 60);
    EXPECT_TRUE(bar->IsResizing());
    bar->TrackTo(rect.bottom - 15);
    EXPECT_EQ(bar->m_sizeDefault.cy, 21);
    EXPECT_FALSE(bar->IsResizing());
    EXPECT_NE(GetCapture(), bar->m_hWnd);
    bar->GetWindowRect(&rect);
    EXPECT_EQ(rect.bottom - rect.top, 24);

    // A release anywhere reaches the bar through the capture.
    startDrag();
    ASSERT_TRUE(bar->IsResizing());
    bar->SendMessage(WM_LBUTTONUP, 0, 0);
    EXPECT_FALSE(bar->IsResizing());

    // Losing the capture to another window also ends it.
    startDrag();
    ASSERT_TRUE(bar->IsResizing());
    SetCapture(frame_->m_hWnd);
    ReleaseCapture();
    EXPECT_FALSE(bar->IsResizing());

    // A press away from the edge starts nothing.
    SetCursorPos(rect.left + 20, rect.top + 12);
    bar->SendMessage(WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(frame_->m_hWnd),
                     MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
    EXPECT_FALSE(bar->IsResizing());
}

} // namespace

// ---- project and printer windows ----------------------------------------------------

class WindowsTest : public FrameTest {
  protected:
    void SetUp() override {
        FrameTest::SetUp();
        if (!AppObject.m_projectTemplate) {
            AddProjectTemplate(AppObject);
            AppObject.m_resourceTemplate =
                new CMultiDocTemplate(IDR_RESOURCE_TYPE, RUNTIME_CLASS(CPrDoc),
                                      RUNTIME_CLASS(CPrFrame), RUNTIME_CLASS(CPrLeftView));
            AppObject.AddDocTemplate(AppObject.m_resourceTemplate);
        }
        AppObject.m_projectCount = 0;
        AppObject.m_resourceCount = 0;
    }
    void TearDown() override {
        AppObject.CloseAllDocuments(FALSE);
        FrameTest::TearDown();
    }
    CChildFrame *OpenProject() {
        CDocument *doc = AppObject.m_projectTemplate->OpenDocumentFile(nullptr);
        return doc ? DYNAMIC_DOWNCAST(CChildFrame, frame_->MDIGetActive()) : nullptr;
    }
    CPrFrame *OpenPrinterWindow() {
        CDocument *doc = AppObject.m_resourceTemplate->OpenDocumentFile(nullptr);
        if (doc)
            ++AppObject.m_resourceCount; // as the opening command does
        return doc ? DYNAMIC_DOWNCAST(CPrFrame, frame_->MDIGetActive()) : nullptr;
    }
    int PrinterWindows() const {
        int n = 0;
        for (HWND h = GetWindow(frame_->m_hWndMDIClient, GW_CHILD); h;
             h = GetWindow(h, GW_HWNDNEXT))
            n += GetWindowLongPtrA(h, GWLP_USERDATA) == 21;
        return n;
    }
    // The View menu's items after its update: greyed, radio-checked.
    struct ItemState {
        bool grey;
        bool radio;
    };
    ItemState State(UINT id) {
        HMENU view = GetSubMenu(GetMenu(frame_->m_hWnd), 2);
        SendMessageA(frame_->m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(view),
                     MAKELPARAM(2, FALSE));
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STATE | MIIM_FTYPE;
        GetMenuItemInfoA(view, id, FALSE, &info);
        return {(info.fState & MFS_GRAYED) != 0,
                (info.fState & MFS_CHECKED) != 0 && (info.fType & MFT_RADIOCHECK) != 0};
    }
};

TEST_F(WindowsTest, PanesCountsAndActiveViewsByWindowKind) {
    CChildFrame *project = OpenProject();
    ASSERT_NE(project, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(project->m_hWnd, GWLP_USERDATA), 23);
    EXPECT_EQ(AppObject.m_projectCount, 1);
    EXPECT_STREQ(project->GetActiveDocument()->GetTitle(), "Project1");
    ASSERT_NE(project->GetLeftView(), nullptr);
    ASSERT_NE(project->GetRightPane(), nullptr);
    CRect left;
    project->GetLeftView()->GetWindowRect(&left);
    EXPECT_EQ(left.Width(), 250);
    EXPECT_EQ(GetActiveProjectView(), project->GetLeftView());
    EXPECT_EQ(GetActiveStorageTreeView(), nullptr);
    EXPECT_EQ(GetActiveStorageListView(), nullptr);

    CPrFrame *printer = OpenPrinterWindow();
    ASSERT_NE(printer, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(printer->m_hWnd, GWLP_USERDATA), 21);
    printer->GetTreeView()->GetWindowRect(&left);
    EXPECT_EQ(left.Width(), 200);
    EXPECT_EQ(GetActiveProjectView(), nullptr);
    EXPECT_EQ(GetActiveStorageTreeView(), printer->GetTreeView());
    EXPECT_EQ(GetActiveStorageListView(), printer->GetListView());

    // A release over a splitter ends a drag of the printer bar.
    CPrinterBar *bar = frame_->m_printerBar;
    CRect barRect;
    bar->GetWindowRect(&barRect);
    SetCursorPos(barRect.left + 20, barRect.top + 1);
    bar->SendMessage(WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(frame_->m_hWnd),
                     MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
    ASSERT_TRUE(bar->IsResizing());
    printer->m_wndSplitter.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_FALSE(bar->IsResizing());

    // The project window counts itself out when destroyed, not only when closed.
    project->DestroyWindow();
    EXPECT_EQ(AppObject.m_projectCount, 0);
    project = OpenProject();
    ASSERT_NE(project, nullptr);
    EXPECT_EQ(AppObject.m_projectCount, 1);
    project->SendMessage(WM_CLOSE);
    EXPECT_EQ(AppObject.m_projectCount, 0);
    printer->SendMessage(WM_CLOSE);
    EXPECT_EQ(AppObject.m_resourceCount, 0);
}

TEST_F(WindowsTest, ViewStylesOfPrinterAndProjectWindows) {
    CPrFrame *printer = OpenPrinterWindow();
    ASSERT_NE(printer, nullptr);
    struct Case {
        UINT command;
        DWORD style;
        bool lineUp; // 59412 enabled
    } cases[] = {
        {ID_VIEW_SMALLICON, LVS_SMALLICON, true},
        {ID_VIEW_LARGEICON, LVS_ICON, true},
        {ID_VIEW_LIST, LVS_LIST, false},
        {ID_VIEW_DETAILS, LVS_REPORT, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        frame_->SendMessage(WM_COMMAND, c.command);
        EXPECT_EQ(printer->GetListView()->GetStyle() & LVS_TYPEMASK, c.style);
        for (const Case &other : cases) {
            ItemState st = State(other.command);
            EXPECT_FALSE(st.grey);
            EXPECT_EQ(st.radio, other.command == c.command) << other.command;
        }
        EXPECT_EQ(State(ID_VIEW_LINEUP).grey, !c.lineUp);
    }
    // Line-up keeps the style.
    frame_->SendMessage(WM_COMMAND, ID_VIEW_LARGEICON);
    frame_->SendMessage(WM_COMMAND, ID_VIEW_LINEUP);
    EXPECT_EQ(printer->GetListView()->GetStyle() & LVS_TYPEMASK, static_cast<DWORD>(LVS_ICON));

    // In a project window only details is enabled; the others run nothing.
    CChildFrame *project = OpenProject();
    ASSERT_NE(project, nullptr);
    CListCtrl &right = project->GetRightPane()->GetListCtrl();
    right.ModifyStyle(LVS_TYPEMASK, LVS_ICON);
    for (UINT id : {ID_VIEW_SMALLICON, ID_VIEW_LARGEICON, ID_VIEW_LIST, ID_VIEW_LINEUP})
        EXPECT_TRUE(State(id).grey) << id;
    EXPECT_FALSE(State(ID_VIEW_DETAILS).grey);
    EXPECT_FALSE(State(ID_VIEW_DETAILS).radio);
    frame_->PostMessage(WM_COMMAND, ID_VIEW_LIST);
    Pump();
    EXPECT_EQ(right.GetStyle() & LVS_TYPEMASK, static_cast<DWORD>(LVS_ICON));
    frame_->SendMessage(WM_COMMAND, ID_VIEW_DETAILS);
    EXPECT_EQ(right.GetStyle() & LVS_TYPEMASK, static_cast<DWORD>(LVS_REPORT));
    EXPECT_TRUE(State(ID_VIEW_DETAILS).radio);

    // A printer window without its list disables them all.
    frame_->MDIActivate(printer);
    printer->GetListView()->DestroyWindow();
    for (UINT id :
         {ID_VIEW_SMALLICON, ID_VIEW_LARGEICON, ID_VIEW_LIST, ID_VIEW_DETAILS, ID_VIEW_LINEUP})
        EXPECT_TRUE(State(id).grey) << id;
}

TEST_F(WindowsTest, CloseResourceWindowsClosesEachAndReportsAMiscountOnce) {
    CChildFrame *project = OpenProject();
    ASSERT_NE(project, nullptr);
    struct Case {
        int count;
        int windows;
        bool message;
    } cases[] = {{2, 1, true}, {1, 2, true}, {0, 0, false}, {2, 2, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.count * 10 + c.windows);
        for (int i = 0; i < c.windows; ++i)
            ASSERT_NE(OpenPrinterWindow(), nullptr);
        AppObject.m_resourceCount = c.count;
        Boxes();
        AppObject.CloseResourceWindows();
        auto boxes = Boxes();
        EXPECT_EQ(PrinterWindows(), 0);
        EXPECT_EQ(AppObject.m_resourceCount, 0);
        ASSERT_EQ(boxes.size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(boxes[0].text, "RESOURCE WINDOW MISCOUNT");
        }
        EXPECT_TRUE(IsWindow(project->m_hWnd));
    }
}

TEST_F(WindowsTest, APressJustAboveTheBarOverAViewStartsTheDragAndIsEaten) {
    CChildFrame *project = OpenProject();
    ASSERT_NE(project, nullptr);
    SendMessageA(frame_->m_hWndMDIClient, WM_MDIMAXIMIZE, reinterpret_cast<WPARAM>(project->m_hWnd),
                 0);
    HWND view = project->GetRightPane()->m_hWnd;
    CPrinterBar *bar = frame_->m_printerBar;
    CRect rect;
    bar->GetWindowRect(&rect);
    // A press in the view's client area, and one on its border as the system reports it.
    struct Press {
        int dy;
        UINT hitTest;
        UINT message;
    } presses[] = {{-4, HTCLIENT, WM_LBUTTONDOWN}, {-3, HTBORDER, WM_NCLBUTTONDOWN}};
    for (const Press &p : presses) {
        SCOPED_TRACE(p.dy);
        SetCursorPos(rect.left + 60, rect.top + p.dy);
        // Eaten: the list would otherwise track the press itself and take the capture.
        EXPECT_EQ(SendMessageA(view, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(frame_->m_hWnd),
                               MAKELPARAM(p.hitTest, p.message)),
                  MA_NOACTIVATEANDEAT);
        EXPECT_TRUE(bar->IsResizing());
        EXPECT_EQ(GetCapture(), bar->m_hWnd);
        bar->SendMessage(WM_LBUTTONUP, 0, 0);
        EXPECT_FALSE(bar->IsResizing());
    }
    // Further up, the press is the view's.
    SetCursorPos(rect.left + 60, rect.top - 20);
    EXPECT_NE(SendMessageA(view, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(frame_->m_hWnd),
                           MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN)),
              MA_NOACTIVATEANDEAT);
    EXPECT_FALSE(bar->IsResizing());
}

// ---- commands of menu 109 ---------------------------------------------------------------

namespace {

const std::string kUel = "\x1b%-12345X";
const std::string kEcho = kUel + "@PJL ECHO TEST\r\n";

std::string Text(HWND dialog, int id) {
    char text[600] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// Sent, not posted: the dialog's thread has run the command when this returns.
void Click(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

std::vector<std::string> ListRows(HWND list) {
    std::vector<std::string> rows;
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count && i < 1000; ++i) {
        char text[300] = {};
        LVITEMA item = {};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
        rows.emplace_back(text);
    }
    return rows;
}

void SelectRow(HWND list, int row, bool selected) {
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = selected ? LVIS_SELECTED | LVIS_FOCUSED : 0;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const auto &e : Boxes())
        texts.push_back(e.text);
    return texts;
}

} // namespace

class CommandsTest : public WindowsTest {
  protected:
    void SetUp() override {
        WindowsTest::SetUp();
        frame_->m_bAutoMenuEnable = FALSE;
        strcpy(DataFolder, folder_.c_str());
        AppObject.m_pszHelpFilePath = nullptr;
    }
    void TearDown() override {
        if (CListCtrl *list = AppObject.GetPrinterListCtrl())
            list->DeleteAllItems();
        WindowsTest::TearDown();
    }
    // The item's state after its menu opened, as the user sees it.
    bool Grey(int menu, UINT id) {
        HMENU popup = GetSubMenu(GetMenu(frame_->m_hWnd), menu);
        // An item of a nested popup is updated when that popup opens.
        for (int i = 0; i < GetMenuItemCount(popup); ++i) {
            HMENU sub = GetSubMenu(popup, i);
            if (sub && GetMenuState(sub, id, MF_BYCOMMAND) != static_cast<UINT>(-1)) {
                popup = sub;
                break;
            }
        }
        SendMessageA(frame_->m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup),
                     MAKELPARAM(menu, FALSE));
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STATE;
        EXPECT_TRUE(GetMenuItemInfoA(popup, id, FALSE, &info)) << id;
        return (info.fState & MFS_GRAYED) != 0;
    }
    CAPrinter *AddPrinter(const std::string &port, const char *name = "Fake") {
        auto *printer = new CAPrinter(DiscoveredPrinter{port.c_str(), name});
        AppObject.m_printers->AddTail(printer);
        AppObject.AppendPrinterRow(printer);
        return printer;
    }
    void Command(UINT id) { frame_->SendMessage(WM_COMMAND, id); }
};

TEST_F(CommandsTest, UpdateRulesFollowPrinterWindowAndProject) {
    const UINT printerCommands[] = {ID_SEND_DOWNLOAD_FILE, ID_SHOW_RESOURCES,  ID_ADMIN_FUNCTIONS,
                                    ID_PRINTER_PROPERTIES, ID_PRINT_DEMO_PAGE, ID_HDD_PRINT_JOBS};
    const UINT pcl[] = {ID_PRINT_PCL_FONTS, ID_TEST_MACRO, ID_PRINT_FILE_LISTING};
    const UINT postScript[] = {ID_PRINT_PS_FONTS, ID_TEST_FORM, ID_PRINT_PS_FONT_SAMPLE};
    // Menus: 0 projects, 1 printers.
    auto menuOf = [](UINT id) { return id == ID_SEND_DOWNLOAD_FILE ? 0 : 1; };

    // No printers: every printer command is off; the rest stays on.
    for (UINT id : printerCommands)
        EXPECT_TRUE(Grey(menuOf(id), id)) << id;
    for (UINT id : pcl)
        EXPECT_TRUE(Grey(1, id)) << id;
    for (UINT id : postScript)
        EXPECT_TRUE(Grey(1, id)) << id;
    for (UINT id : {ID_DISCOVER_PRINTERS, ID_ADD_REMOVE_PRINTERS})
        EXPECT_FALSE(Grey(1, id)) << id;
    for (UINT id : {ID_NEW_PROJECT, ID_FILE_OPEN, ID_FILTER_MACRO_FILE})
        EXPECT_FALSE(Grey(0, id)) << id;

    // Three printers, none selected: opening the menu selects row 0.
    CAPrinter *first = AddPrinter("127.0.0.1:1", "A");
    AddPrinter("127.0.0.1:2", "B");
    AddPrinter("127.0.0.1:3", "C");
    CListCtrl *bar = AppObject.GetPrinterListCtrl();
    ASSERT_EQ(bar->GetNextItem(-1, LVNI_SELECTED), -1);
    EXPECT_FALSE(Grey(1, ID_PRINT_DEMO_PAGE));
    EXPECT_EQ(bar->GetNextItem(-1, LVNI_SELECTED), 0);
    for (UINT id : printerCommands)
        EXPECT_FALSE(Grey(menuOf(id), id)) << id;

    struct Case {
        BYTE languages;
        const char *psmenu;
        bool pclOn, psOn;
    } cases[] = {
        {0, "", true, true},         {1, "", true, false},        {2, "", false, true},
        {3, "DISABLE", true, false}, {3, "disable", true, false}, {3, "DISABLED", true, true},
        {2, "ENABLE", false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.languages) + " " + c.psmenu);
        first->m_languages = c.languages;
        strcpy(first->m_attr[kAttrPsMenu], c.psmenu);
        for (UINT id : pcl)
            EXPECT_EQ(Grey(1, id), !c.pclOn) << id;
        for (UINT id : postScript)
            EXPECT_EQ(Grey(1, id), !c.psOn) << id;
    }
    first->m_languages = 0;
    first->m_attr[kAttrPsMenu][0] = '\0';

    // Project window: no rows, rows, selected rows.
    const UINT projectOn[] = {ID_CLOSE_PROJECT, ID_FILE_SAVE, ID_FILE_SAVE_AS,
                              ID_ADD_FILE_TO_PROJECT};
    for (UINT id : projectOn)
        EXPECT_TRUE(Grey(0, id)) << id;
    CChildFrame *project = OpenProject();
    ASSERT_NE(project, nullptr);
    for (UINT id : projectOn)
        EXPECT_FALSE(Grey(0, id)) << id;
    for (UINT id : {ID_REMOVE_FILE_FROM_PROJECT, ID_EDIT_DOWNLOAD_DETAILS, ID_CREATE_DOWNLOAD_FILE,
                    ID_SEND_PROJECT_FILES})
        EXPECT_TRUE(Grey(0, id)) << id;
    char path[MAX_PATH] = "C:\\fonts\\a.sfp";
    CListCtrl &rows = project->GetLeftView()->GetListCtrl();
    ASSERT_EQ(project->GetLeftView()->AddProjectFile(path), 0);
    EXPECT_FALSE(Grey(0, ID_CREATE_DOWNLOAD_FILE));
    EXPECT_FALSE(Grey(0, ID_SEND_PROJECT_FILES));
    EXPECT_TRUE(Grey(0, ID_REMOVE_FILE_FROM_PROJECT));
    rows.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_FALSE(Grey(0, ID_REMOVE_FILE_FROM_PROJECT));
    EXPECT_FALSE(Grey(0, ID_EDIT_DOWNLOAD_DETAILS));
    // The printer window's commands are off over a project window.
    EXPECT_TRUE(Grey(1, ID_CLOSE_RESOURCE));
    EXPECT_TRUE(Grey(2, ID_VIEW_BYNAME));

    // Printer window: close, refresh with a tree selection, delete with selected files.
    CPrFrame *printer = OpenPrinterWindow();
    ASSERT_NE(printer, nullptr);
    EXPECT_FALSE(Grey(1, ID_CLOSE_RESOURCE));
    printer->GetTreeView()->GetTreeCtrl().SelectItem(nullptr);
    printer->GetListView()->GetListCtrl().DeleteAllItems();
    EXPECT_TRUE(Grey(1, ID_REFRESH_FOLDER_VIEW));
    EXPECT_TRUE(Grey(1, ID_DELETE_FILES));
    for (UINT id : projectOn)
        EXPECT_TRUE(Grey(0, id)) << id;
    CTreeCtrl &tree = printer->GetTreeView()->GetTreeCtrl();
    tree.SelectItem(tree.InsertItem("Fake"));
    EXPECT_FALSE(Grey(1, ID_REFRESH_FOLDER_VIEW));
    CListCtrl &files = printer->GetListView()->GetListCtrl();
    files.InsertItem(0, "A.SFP");
    EXPECT_TRUE(Grey(1, ID_DELETE_FILES));
    files.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_FALSE(Grey(1, ID_DELETE_FILES));

    // A disabled command posted as from the menu runs nothing.
    frame_->MDIActivate(project);
    rows.SetItemState(0, 0, LVIS_SELECTED);
    frame_->PostMessage(WM_COMMAND, ID_REMOVE_FILE_FROM_PROJECT);
    Pump();
    EXPECT_EQ(rows.GetItemCount(), 1);
    bar->DeleteAllItems();
    frame_->PostMessage(WM_COMMAND, ID_SEND_DOWNLOAD_FILE);
    Pump();
    for (const auto &e : AfxTestSeam::TakeLog())
        EXPECT_NE(e.kind, "open") << e.Line();
}

TEST_F(CommandsTest, WindowCommandsReachTheActiveWindowAndItsViews) {
    AddPrinter("127.0.0.1:1");
    // Show Resources without an answer from the printer leaves no window.
    Command(ID_SHOW_RESOURCES);
    EXPECT_EQ(PrinterWindows(), 0);
    EXPECT_EQ(AppObject.m_resourceCount, 0);

    CPrFrame *printer = OpenPrinterWindow();
    ASSERT_NE(printer, nullptr);
    static std::vector<std::pair<HWND, MSG>> keys;
    keys.clear();
    HHOOK hook = SetWindowsHookExA(
        WH_CALLWNDPROC,
        [](int code, WPARAM w, LPARAM l) -> LRESULT {
            auto *m = reinterpret_cast<CWPSTRUCT *>(l);
            if (code == HC_ACTION && m->message == WM_KEYUP) {
                MSG msg = {};
                msg.wParam = m->wParam;
                msg.lParam = m->lParam;
                keys.emplace_back(m->hwnd, msg);
            }
            return CallNextHookEx(nullptr, code, w, l);
        },
        nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    CTreeCtrl &tree = printer->GetTreeView()->GetTreeCtrl();
    tree.SelectItem(tree.InsertItem("Fake"));
    CListCtrl &files = printer->GetListView()->GetListCtrl();
    files.InsertItem(0, "A.SFP");
    files.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    // Delete first: a refresh empties the file list.
    Command(ID_DELETE_FILES);
    Command(ID_REFRESH_FOLDER_VIEW);
    UnhookWindowsHookEx(hook);
    Boxes(); // what the views said of the keys is theirs
    ASSERT_GE(keys.size(), 2u);
    EXPECT_EQ(keys[0].first, printer->GetListView()->m_hWnd);
    EXPECT_EQ(keys[0].second.wParam, 46u);
    EXPECT_EQ(static_cast<DWORD>(keys[0].second.lParam), 0xC0000001u);
    EXPECT_EQ(keys[1].first, printer->GetTreeView()->m_hWnd);
    EXPECT_EQ(keys[1].second.wParam, 116u);
    EXPECT_EQ(static_cast<DWORD>(keys[1].second.lParam), 0xC0000001u);

    Command(ID_CLOSE_RESOURCE);
    EXPECT_EQ(PrinterWindows(), 0);
    EXPECT_EQ(AppObject.m_resourceCount, 0);

    // Close Project goes through the save question of a modified project.
    CChildFrame *project = OpenProject();
    ASSERT_NE(project, nullptr);
    project->GetActiveDocument()->SetModifiedFlag(TRUE);
    AfxTestSeam::PushAnswer("IDNO");
    Command(ID_CLOSE_PROJECT);
    EXPECT_EQ(AppObject.m_projectCount, 0);
    EXPECT_EQ(Boxes().size(), 1u);

    // Help topics: the help file with data 0 and command 0.
    Command(ID_HELP_TOPICS);
    bool help = false;
    for (const auto &e : AfxTestSeam::TakeLog())
        if (e.kind == "help") {
            help = true;
            EXPECT_EQ(e.flags, 0u);
            EXPECT_EQ(e.data, 0u);
        }
    EXPECT_TRUE(help);
}

TEST_F(CommandsTest, ProjectsOpenWithTheirFullPathAsTitle) {
    const std::string plain = folder_ + "\\first.opj";
    const std::string amp = folder_ + "\\R&D.opj";
    // Each project holds one macro row: a project that loads no row opens no window.
    const std::string macro = folder_ + "\\page.bin";
    suite::WriteAll(macro, "\x1b&f1Y");
    const std::string oneRow = "[FILES]\r\nCount=1\r\n\r\n[file0]\r\nFileSourcePath=" + macro +
                               "\r\nFileName=7\r\nFileID=7\r\nFileTargetVolume=0:\r\n"
                               "FileTargetPath=\\pcl\\macros\r\n\r\n";
    suite::WriteAll(plain, oneRow);
    suite::WriteAll(amp, oneRow);
    auto activeTitle = [&] {
        CMDIChildWnd *child = frame_->MDIGetActive();
        return child ? std::string(child->GetActiveDocument()->GetTitle()) : std::string();
    };

    AfxTestSeam::PushAnswer("file:" + plain);
    Command(ID_FILE_OPEN);
    EXPECT_EQ(activeTitle(), plain);
    EXPECT_EQ(AppObject.m_projectCount, 1);

    // A recent entry holding '&' opens by its full path.
    AppObject.LoadStdProfileSettings(6);
    AppObject.AddToRecentFileList(amp.c_str());
    Command(ID_FILE_MRU_FILE1);
    EXPECT_EQ(activeTitle(), amp);
    EXPECT_EQ(AppObject.m_projectCount, 2);

    // A file that is not there leaves no window behind.
    EXPECT_EQ(AppObject.OpenProject((folder_ + "\\none.opj").c_str()), nullptr);
    EXPECT_EQ(AppObject.m_projectCount, 2);
    // The command line's way: OpenDocumentFile.
    ASSERT_NE(AppObject.OpenDocumentFile(plain.c_str()), nullptr);
    EXPECT_EQ(activeTitle(), plain);
    Boxes();
}

TEST_F(CommandsTest, AboutNamesTheVersionAndTheBuildStamp) {
    std::string version, build;
    suite::DialogDriver driver([&](HWND dialog) {
        if (!dialog)
            return;
        version = Text(dialog, IDC_ABOUT_VERSION);
        build = Text(dialog, IDC_ABOUT_BUILD);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    Command(ID_APP_ABOUT);
    EXPECT_EQ(version, "Kelvane 2.2.0.10");
    // "Mmm dd yyyy  hh:mm:ss"
    ASSERT_EQ(build.size(), 21u) << build;
    EXPECT_EQ(build.substr(11, 2), "  ");
    EXPECT_EQ(build[15], ':');
    EXPECT_EQ(build[18], ':');
}

// ---- dialogs ----

TEST_F(CommandsTest, PrinterListAddsRefusesAndRemovesByNameAndAddress) {
    fakeprinter::Server server;
    ASSERT_TRUE(server.Start("127.0.0.1")) << server.error();
    std::vector<std::string> boxesAfter;
    struct Step {
        const char *name;
        DWORD address;   // 0: blank
        const char *box; // the box the Add gives, "" none
    };
    const Step steps[] = {
        {"Fake", MAKEIPADDRESS(127, 0, 0, 5), ""},
        {"Fake", MAKEIPADDRESS(127, 0, 0, 5), "The printer name and address already exist"},
        {"fAKE", MAKEIPADDRESS(127, 0, 0, 5), "The printer name and address already exist"},
        {"Fake", MAKEIPADDRESS(127, 0, 0, 6), ""},
        {"Other", MAKEIPADDRESS(127, 0, 0, 5), ""},
        {"Blank", 0, "Operation Failed"},
        {"A,Port=LPT1", MAKEIPADDRESS(127, 0, 0, 7), "Operation Failed"},
        {"Line\r\nBreak", MAKEIPADDRESS(127, 0, 0, 7), "Operation Failed"},
    };
    std::vector<std::vector<std::string>> rowsAfter;
    std::vector<bool> addEnabled;
    bool removeEnabled = true;
    UINT nameLimit = 0;
    CPrFrame *window = OpenPrinterWindow();
    ASSERT_NE(window, nullptr);
    {
        suite::DialogDriver driver([&](HWND dialog) {
            if (!dialog)
                return;
            nameLimit = static_cast<UINT>(
                SendDlgItemMessageA(dialog, IDC_PRINTER_NAME, EM_GETLIMITTEXT, 0, 0));
            HWND list = GetDlgItem(dialog, IDC_PRINTER_LIST_VIEW);
            for (const Step &s : steps) {
                SetDlgItemTextA(dialog, IDC_PRINTER_NAME, s.name);
                addEnabled.push_back(Enabled(dialog, IDC_ADD_PRINTER));
                if (s.address)
                    SendDlgItemMessageA(dialog, IDC_PRINTER_IP_ADDRESS, IPM_SETADDRESS, 0,
                                        s.address);
                else
                    SendDlgItemMessageA(dialog, IDC_PRINTER_IP_ADDRESS, IPM_CLEARADDRESS, 0, 0);
                Click(dialog, IDC_ADD_PRINTER);
                rowsAfter.push_back(ListRows(list));
            }
            removeEnabled = Enabled(dialog, IDC_REMOVE_PRINTER);
            // Remove the first and the third row.
            SelectRow(list, 0, true);
            SelectRow(list, 2, true);
            Click(dialog, IDC_REMOVE_PRINTER);
            rowsAfter.push_back(ListRows(list));
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        CAddPrinter dialog(AppObject.m_printers, frame_);
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    }
    EXPECT_EQ(nameLimit, 200u);
    EXPECT_FALSE(removeEnabled);
    const auto boxes = BoxTexts();
    std::vector<std::string> expectedBoxes;
    for (const Step &s : steps)
        if (*s.box)
            expectedBoxes.push_back(s.box);
    EXPECT_EQ(boxes, expectedBoxes);
    ASSERT_EQ(rowsAfter.size(), std::size(steps) + 1);
    EXPECT_EQ(rowsAfter[std::size(steps) - 1], (std::vector<std::string>{"Fake", "Fake", "Other"}));
    for (bool on : addEnabled)
        EXPECT_TRUE(on);
    EXPECT_EQ(rowsAfter.back(), (std::vector<std::string>{"Fake"}));
    // The window open on a removed printer was closed first; the rest is in step.
    EXPECT_EQ(PrinterWindows(), 0);
    ASSERT_EQ(AppObject.m_printers->GetCount(), 1);
    auto *kept = static_cast<CAPrinter *>(AppObject.m_printers->GetHead());
    EXPECT_STREQ(kept->m_port, "127.0.0.6");
    CListCtrl *bar = AppObject.GetPrinterListCtrl();
    ASSERT_EQ(bar->GetItemCount(), 1);
    EXPECT_EQ(bar->GetItemData(0), reinterpret_cast<DWORD_PTR>(kept));
    EXPECT_EQ(std::string(bar->GetItemText(0, 0)), "Fake on 127.0.0.6");
}

TEST_F(CommandsTest, AddRemovePrintersSavesTheSettingsEvenWhenCancelled) {
    DeleteFileA(File().c_str());
    suite::DialogDriver driver([](HWND dialog) {
        if (dialog)
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    Command(ID_ADD_REMOVE_PRINTERS);
    EXPECT_EQ(suite::ReadAll(File()).rfind("[PRINTERS]\r\n", 0), 0u);
}

TEST_F(CommandsTest, FileDetailsClampTheIdentifierAndMoveDemoPages) {
    struct Case {
        const char *name, *id, *path;
        BOOL nameLocked, idLocked;
        const char *typedName; // then typed into the name
        const char *shownId, *volume, *shownPath;
        bool nameOn, idOn;
    } cases[] = {
        {"A.SFP", "40000", "\\pcl\\fonts", FALSE, FALSE, nullptr, "32767", "0:", "\\pcl\\fonts",
         true, true},
        {"A.SFP", "99999999999", "\\pcl\\fonts", FALSE, FALSE, nullptr, "32767",
         "0:", "\\pcl\\fonts", true, true},
        {"A.SFP", "32767", "\\pcl\\fonts", TRUE, FALSE, nullptr, "32767", "0:", "\\pcl\\fonts",
         false, true},
        {"A.SFP", "12", "\\pcl\\fonts", FALSE, TRUE, "x.dmo", "12", "1:", "\\common\\demo", true,
         false},
        {"D.DMO", "5", "\\common\\demo", FALSE, FALSE, nullptr, "5", "0:", "\\common\\demo", true,
         false},
        {"A.SFP", "7", "\\pcl\\fonts", FALSE, FALSE, "DMO", "7", "0:", "\\pcl\\fonts", true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.id);
        std::string shownId;
        bool nameOn = false, idOn = false;
        suite::DialogDriver driver([&](HWND dialog) {
            if (!dialog)
                return;
            shownId = Text(dialog, IDC_DETAIL_ID);
            nameOn = Enabled(dialog, IDC_DETAIL_NAME);
            idOn = Enabled(dialog, IDC_DETAIL_ID);
            if (c.typedName)
                SetDlgItemTextA(dialog, IDC_DETAIL_NAME, c.typedName);
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        });
        CEditNameAndId dialog(frame_);
        dialog.m_name = c.name;
        dialog.m_id = c.id;
        dialog.m_volume = "0:";
        dialog.m_path = c.path;
        dialog.m_nameLocked = c.nameLocked;
        dialog.m_idLocked = c.idLocked;
        ASSERT_EQ(dialog.DoModal(), IDOK);
        EXPECT_EQ(shownId, c.shownId);
        EXPECT_EQ(std::string(dialog.m_id), c.shownId);
        EXPECT_EQ(std::string(dialog.m_volume), c.volume);
        EXPECT_EQ(std::string(dialog.m_path), c.shownPath);
        EXPECT_EQ(nameOn, c.nameOn);
        EXPECT_EQ(idOn, c.idOn);
    }
}

TEST_F(CommandsTest, ChooserRowsTitlesAndEndings) {
    struct Case {
        const char *what;
        int mode;
        std::vector<std::string> entries;
        bool shown;                    // a window showed
        std::vector<std::string> rows; // as shown
        bool okOn;
        int pick; // row to select before OK; -1 none (OK does nothing), -2 cancel
        INT_PTR result;
        const char *chosen;
    } cases[] = {
        {"forms, empty", 1, {}, true, {}, false, -2, IDCANCEL, ""},
        {"fonts, empty", 2, {}, true, {}, false, -2, IDCANCEL, ""},
        {"demo, empty", 3, {}, false, {}, false, 0, IDOK, "DEMO1"},
        {"only DEMO1", 3, {"DEMO1.DMO"}, false, {}, false, 0, IDOK, "DEMO1"},
        {"lower case", 3, {"demo3.dmo"}, true, {"DEMO1", "demo3"}, true, 1, IDOK, "demo3"},
        {"duplicates",
         3,
         {"DEMO2.DMO", "DEMO2.DMO"},
         true,
         {"DEMO1", "DEMO2", "DEMO2"},
         true,
         2,
         IDOK,
         "DEMO2"},
        {"one-character forms", 1, {"(", "(A)", ")"}, true, {"A"}, true, 0, IDOK, "A"},
        {"fonts", 2, {"Courier", "Times"}, true, {"Courier", "Times"}, true, 1, IDOK, "Times"},
        {"OK without a row", 2, {"Courier"}, true, {"Courier"}, true, -1, IDCANCEL, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        bool shown = false, okOn = false, stillOpen = false, okAfterDeselect = true;
        std::vector<std::string> rows;
        std::string title;
        suite::DialogDriver driver([&](HWND dialog) {
            if (!dialog)
                return;
            shown = true;
            char text[100] = {};
            GetWindowTextA(dialog, text, sizeof text);
            title = text;
            HWND list = GetDlgItem(dialog, IDC_DEMO_LIST);
            rows = ListRows(list);
            okOn = Enabled(dialog, IDOK);
            if (c.pick == -2) {
                PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                return;
            }
            for (int i = 0; i < static_cast<int>(rows.size()); ++i)
                SelectRow(list, i, false);
            okAfterDeselect = Enabled(dialog, IDOK);
            if (c.pick >= 0) {
                SelectRow(list, c.pick, true);
                PostMessageA(dialog, WM_COMMAND, IDOK, 0);
                return;
            }
            SendMessageA(dialog, WM_COMMAND, IDOK, 0);
            stillOpen = IsWindowVisible(dialog) != FALSE;
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        CTextList entries;
        for (const std::string &e : c.entries)
            entries.Add(e.c_str());
        char chosen[260] = "unset";
        EXPECT_EQ(RunEntryChooser(c.mode, entries, chosen), c.result);
        EXPECT_EQ(entries.GetCount(), 0);
        EXPECT_STREQ(chosen, c.chosen);
        EXPECT_EQ(shown, c.shown);
        if (c.shown) {
            EXPECT_EQ(rows, c.rows);
            EXPECT_EQ(okOn, c.okOn);
            if (c.mode == 1) {
                EXPECT_EQ(title, "Test PostScript Form");
            }
            if (c.mode == 2) {
                EXPECT_EQ(title, "PostScript Font Print Sample");
            }
            if (c.pick != -2) {
                EXPECT_FALSE(okAfterDeselect);
            }
        }
        if (c.pick == -1) {
            EXPECT_TRUE(stillOpen);
        }
    }
}

TEST_F(CommandsTest, ParameterOkNeedsADigitAndFiltersDefaultAsTheirTableSays) {
    struct Case {
        const char *typed;
        bool okOn;
    } cases[] = {{",,,", false}, {"a1", true}, {"", false}, {"abc", false}, {"9", true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed);
        bool okOn = !c.okOn, boxShown = false, okAtStart = true;
        std::string label;
        suite::DialogDriver driver([&](HWND dialog) {
            if (!dialog)
                return;
            okAtStart = Enabled(dialog, IDOK);
            boxShown = IsWindowVisible(GetDlgItem(dialog, IDC_PARAM_CHECK)) != FALSE;
            label = Text(dialog, IDC_PARAM_LABEL_2);
            SetDlgItemTextA(dialog, IDC_PARAM_VALUE, c.typed);
            okOn = Enabled(dialog, IDOK);
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        });
        CParamDlg dialog(frame_);
        dialog.m_title = "Test Macro";
        dialog.m_label1 = "text";
        dialog.m_label2 = "Macro IDs";
        dialog.m_check = 0;
        ASSERT_EQ(dialog.DoModal(), IDOK);
        EXPECT_FALSE(okAtStart);
        EXPECT_FALSE(boxShown);
        EXPECT_EQ(label, "Macro IDs");
        EXPECT_EQ(okOn, c.okOn);
        EXPECT_EQ(std::string(dialog.m_value), c.typed);
        EXPECT_EQ(dialog.m_check, 0);
    }

    for (int kept : {0, 7}) {
        SCOPED_TRACE(kept);
        suite::DialogDriver driver([](HWND dialog) {
            if (!dialog)
                return;
            Click(dialog, IDC_FILTER_DEFAULTS);
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        });
        CPCLFilters dialog(frame_);
        dialog.m_flags.fill(0);
        dialog.m_flags[20] = 1;
        dialog.m_flags[17] = kept;
        ASSERT_EQ(dialog.DoModal(), IDOK);
        for (int i = 0; i < 28; ++i) {
            const bool set = i <= 16 || i == 18 || i == 25;
            const int expected = i == 17 ? (kept ? 1 : 0) : set ? 1 : 0;
            EXPECT_EQ(dialog.m_flags[i], expected) << i;
        }
    }
}

// ---- printer commands against the fake printer ----

class FakeCommandsTest : public CommandsTest {
  protected:
    void Start(const fakeprinter::Setup &setup) {
        server_ = std::make_unique<fakeprinter::Server>(setup);
        ASSERT_TRUE(server_->Start("127.0.0.1")) << server_->error();
        printer_ = AddPrinter("127.0.0.1:" + std::to_string(server_->Port()));
        printer_->SetTimeout(5000);
    }
    void TearDown() override {
        CommandsTest::TearDown();
        server_.reset();
    }
    std::size_t JobCount() { return server_->Jobs().size(); }
    // The last job once the fake has read it to its end.
    std::string LastJob() {
        EXPECT_TRUE(server_->WaitForJobs(server_->Jobs().size(), 10000));
        const auto jobs = server_->Jobs();
        return jobs.empty() ? std::string() : jobs.back().received;
    }
    std::unique_ptr<fakeprinter::Server> server_;
    CAPrinter *printer_ = nullptr;
};

TEST_F(FakeCommandsTest, PrintsEndWithCommandIssued) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    setup.files.clear(); // no demo files: the chooser ends at once with DEMO1
    Start(setup);
    struct Case {
        UINT command;
        std::string line;
    } cases[] = {
        {ID_PRINT_DEMO_PAGE, "@PJL QUVINFOPRINT DEMO=DEMO1\r\n"},
        {ID_PRINT_PCL_FONTS, "@PJL QUVINFOPRINT FONT=PCL\r\n"},
        {ID_PRINT_FILE_LISTING, "@PJL QUVINFOPRINT FILELIST=ALL\r\n"},
        {ID_PRINT_PS_FONTS, "@PJL QUVINFOPRINT FONT=POSTSCRIPT\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        frame_->PostMessage(WM_COMMAND, c.command);
        Pump();
        EXPECT_EQ(LastJob(), kEcho + c.line + kUel);
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Command Issued."}));
    }
}

TEST_F(FakeCommandsTest, PostScriptMenuDisabledOnlyReportsTheLanguage) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    for (std::string &a : setup.attributes)
        if (a.rfind("PSMENU=", 0) == 0)
            a = "PSMENU=DISABLE";
    Start(setup);
    for (UINT command : {ID_PRINT_PS_FONTS, ID_PRINT_PS_FONT_SAMPLE, ID_TEST_FORM}) {
        SCOPED_TRACE(command);
        const std::size_t before = JobCount();
        Command(command);
        const auto boxes = BoxTexts();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].find("requires the language"), std::string::npos) << boxes[0];
        const auto jobs = server_->Jobs();
        for (std::size_t i = before; i < jobs.size(); ++i)
            EXPECT_EQ(jobs[i].received.find("QUVINFOPRINT"), std::string::npos);
        printer_->m_attrState = 0; // asked again on the next command
        printer_->m_attr[kAttrPsMenu][0] = '\0';
    }
}

TEST_F(FakeCommandsTest, ACancelledFontChooserEndsWithoutAMessage) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    setup.files.push_back({"%disk0%fonts/Courier", "font"});
    Start(setup);
    std::vector<std::string> rows;
    suite::DialogDriver driver([&](HWND dialog) {
        if (!dialog)
            return;
        rows = ListRows(GetDlgItem(dialog, IDC_DEMO_LIST));
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    Command(ID_PRINT_PS_FONT_SAMPLE);
    EXPECT_EQ(rows, (std::vector<std::string>{"Courier"}));
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(FakeCommandsTest, TestFormSendsTheChosenFormAsOneName) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    setup.forms = {"A", "My Form", "a)b", "a%b"};
    Start(setup);
    const char *names[] = {"A", "My Form", "a)b", "a%b"};
    for (int pick = -1; pick < 4; ++pick) {
        SCOPED_TRACE(pick);
        std::vector<std::string> rows;
        suite::DialogDriver driver([&](HWND dialog) {
            if (!dialog)
                return;
            HWND list = GetDlgItem(dialog, IDC_DEMO_LIST);
            rows = ListRows(list);
            if (pick < 0) {
                PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                return;
            }
            SelectRow(list, pick, true);
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        });
        const std::size_t before = JobCount();
        Command(ID_TEST_FORM);
        EXPECT_EQ(rows, (std::vector<std::string>{"A", "My Form", "a\\)b", "a%b"}));
        if (pick < 0) {
            for (std::size_t i = before; i < JobCount(); ++i)
                EXPECT_EQ(server_->Jobs()[i].received.find("execform"), std::string::npos);
            EXPECT_TRUE(BoxTexts().empty());
            continue;
        }
        EXPECT_EQ(LastJob(), kEcho + BuildTestFormJob(names[pick]) + kUel);
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Command Issued."}));
    }
}

TEST_F(FakeCommandsTest, TestMacroSendsTheEnteredIdentifiers) {
    Start(fakeprinter::Setup::Default());
    struct Case {
        const char *typed;
        bool formFeed;
        std::string body;
    } cases[] = {
        {"01, 32124", true, "\x1b&f1Y\x1b&f2X\f\x1b&f32124Y\x1b&f2X\f"},
        {"5,,6", false, "\x1b&f5Y\x1b&f2X\f"},
    };
    const std::string head = kUel +
                             "@PJL QUVJOBACCOUNTJOB JOBACCOUNTID=1879048192 USERID=\"Kelvane\" "
                             "JOBNAME=\"Test Macro\"\r\n@PJL ENTER LANGUAGE=PCL\n";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed);
        std::string title, box;
        suite::DialogDriver driver([&](HWND dialog) {
            if (!dialog)
                return;
            char text[100] = {};
            GetWindowTextA(dialog, text, sizeof text);
            title = text;
            box = Text(dialog, IDC_PARAM_CHECK);
            SetDlgItemTextA(dialog, IDC_PARAM_VALUE, c.typed);
            CheckDlgButton(dialog, IDC_PARAM_CHECK, c.formFeed ? BST_CHECKED : BST_UNCHECKED);
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        });
        Command(ID_TEST_MACRO);
        EXPECT_EQ(title, "Test Macro");
        EXPECT_EQ(box, "Add Form Feed");
        EXPECT_EQ(LastJob(), kEcho + head + c.body + kUel);
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Command Issued."}));
    }
}

TEST_F(FakeCommandsTest, SendDownloadFileSendsTheFileWholeOrNothing) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    setup.languages = {"PCL"};
    Start(setup);
    std::string big(0x50000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + 3);
    const std::string bigFile = folder_ + "\\big.pjl";
    const std::string emptyFile = folder_ + "\\empty.pjl";
    const std::string psFile = folder_ + "\\ps.pjl";
    const std::string missing = folder_ + "\\missing.pjl";
    suite::WriteAll(bigFile, big);
    suite::WriteAll(emptyFile, "");
    suite::WriteAll(psFile, kUel + "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!PS\nshowpage\n");

    AfxTestSeam::PushAnswer("file:" + bigFile);
    Command(ID_SEND_DOWNLOAD_FILE);
    const std::string job = LastJob();
    EXPECT_EQ(job.size(), kEcho.size() + big.size() + kUel.size());
    EXPECT_TRUE(job == kEcho + big + kUel);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Command Issued."}));

    printer_->EnsureLanguages();
    struct Case {
        std::string path;
        std::string box;
    } cases[] = {
        {missing, "Cannot open file " + missing},
        {emptyFile, "Operation Failed"},
        {folder_, "Cannot open file " + folder_},
        {psFile, "ENTER LANGUAGE=POSTSCRIPT !!"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        const std::size_t before = JobCount();
        AfxTestSeam::PushAnswer("file:" + c.path);
        Command(ID_SEND_DOWNLOAD_FILE);
        EXPECT_EQ(JobCount(), before);
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{c.box}));
    }
    // Cancel sends nothing and says nothing.
    const std::size_t before = JobCount();
    AfxTestSeam::PushAnswer("IDCANCEL");
    Command(ID_SEND_DOWNLOAD_FILE);
    EXPECT_EQ(JobCount(), before);
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(CommandsTest, FilterMacroFileKeepsTheFlagsAndNamesTheOutputBesideTheInput) {
    const std::string flags = folder_ + "\\PFilters.dat";
    const std::string print = folder_ + "\\job.tar.prn";
    suite::WriteAll(print, "\x1b"
                           "E");
    for (std::size_t size : {112, 50, 0}) {
        SCOPED_TRACE(size);
        std::string old(size, '\0');
        suite::WriteAll(flags, old);
        std::vector<bool> shown;
        suite::DialogDriver driver([&](HWND dialog) {
            if (!dialog)
                return;
            for (int box : CPCLFilters::kBoxes)
                shown.push_back(IsDlgButtonChecked(dialog, box) == BST_CHECKED);
            CheckDlgButton(dialog, IDC_FILTER_RESET, BST_UNCHECKED);
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        });
        DeleteFileA((folder_ + "\\job.bin").c_str());
        AfxTestSeam::PushAnswer("file:" + print);
        Command(ID_FILTER_MACRO_FILE);
        ASSERT_EQ(shown.size(), 28u);
        for (bool on : shown)
            EXPECT_EQ(on, size != 112); // a whole file of zeros, or all set
        std::string expected(112, '\0');
        if (size != 112)
            for (int i = 0; i < 28; ++i)
                expected[i * 4] = i == 1 ? 0 : 1;
        EXPECT_EQ(suite::ReadAll(flags), expected);
        // The print file's one piece beside it: reset kept, bracketed, with cursor push/pop
        // when every other flag is set.
        const std::string body = "\033&p0S\033*p0P\x1b"
                                 "E\033&p0S\033*p1P";
        EXPECT_EQ(suite::ReadAll(folder_ + "\\job.bin"),
                  size == 112 ? body : "\033&f0S" + body + "\033&f1S");
        EXPECT_EQ(BoxTexts(),
                  (std::vector<std::string>{"Filter File Created: " + folder_ + "\\job.bin"}));
    }

    // An output that would be the input itself is refused.
    const std::string bin = folder_ + "\\JOB.BIN";
    suite::WriteAll(bin, "x");
    suite::DialogDriver driver([](HWND dialog) {
        if (dialog)
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    AfxTestSeam::PushAnswer("file:" + bin);
    Command(ID_FILTER_MACRO_FILE);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Operation Failed"}));
    EXPECT_EQ(suite::ReadAll(bin), "x");
}

TEST_F(FakeCommandsTest, ShowResourcesCountsOnlyAWindowWhosePrinterAnswered) {
    Start(fakeprinter::Setup::Default());
    Command(ID_SHOW_RESOURCES);
    Command(ID_SHOW_RESOURCES);
    EXPECT_EQ(PrinterWindows(), 2);
    EXPECT_EQ(AppObject.m_resourceCount, 2);
    Command(ID_CLOSE_RESOURCE);
    EXPECT_EQ(PrinterWindows(), 1);
    EXPECT_EQ(AppObject.m_resourceCount, 1);
    // Without a template: 10005.
    CMultiDocTemplate *kept = AppObject.m_resourceTemplate;
    AppObject.m_resourceTemplate = nullptr;
    Boxes();
    Command(ID_SHOW_RESOURCES);
    AppObject.m_resourceTemplate = kept;
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                              "No Resource Template Found so no new Resource Windows possible."}));
    AppObject.CloseResourceWindows();
    EXPECT_EQ(AppObject.m_resourceCount, 0);
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(CommandsTest, EachDialogsHelpButtonOpensItsContext) {
    struct Case {
        const char *what;
        std::function<void()> run;
        DWORD_PTR context;
    };
    auto param = [this](int check) {
        return [this, check] {
            CParamDlg dialog(frame_);
            dialog.m_check = check;
            dialog.DoModal();
        };
    };
    auto chooser = [](int mode) {
        return [mode] {
            CTextList entries;
            entries.Add("(A)");
            entries.Add("B.DMO");
            char chosen[260];
            RunEntryChooser(mode, entries, chosen);
        };
    };
    const Case cases[] = {
        {"printers", [this] { CAddPrinter(AppObject.m_printers, frame_).DoModal(); }, 4},
        {"details", [this] { CEditNameAndId(frame_).DoModal(); }, 33},
        {"form", chooser(1), 38},
        {"font", chooser(2), 42},
        {"demo", chooser(3), 16},
        {"param with box", param(1), 18},
        {"param", param(0), 46},
        {"filters", [this] { CPCLFilters(frame_).DoModal(); }, 24},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        AfxTestSeam::TakeLog();
        {
            suite::DialogDriver driver([](HWND dialog) {
                if (!dialog)
                    return;
                Click(dialog, IDC_DIALOG_HELP);
                PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            });
            c.run();
        }
        std::vector<DWORD_PTR> contexts;
        for (const auto &e : AfxTestSeam::TakeLog())
            if (e.kind == "help") {
                contexts.push_back(e.data);
                EXPECT_EQ(e.flags, 0x000Fu);
            }
        EXPECT_EQ(contexts, std::vector<DWORD_PTR>{c.context});
    }
}

TEST_F(CommandsTest, AFilterFileThatCannotBeWrittenIsReportedAndStops) {
    const std::string blocked = folder_ + "\\PFilters.dat";
    CreateDirectoryA(blocked.c_str(), nullptr); // a folder where the file goes
    suite::DialogDriver driver([](HWND dialog) {
        if (dialog)
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    Command(ID_FILTER_MACRO_FILE);
    std::size_t boxes = 0, opens = 0;
    for (const auto &e : AfxTestSeam::TakeLog()) {
        boxes += e.kind == "box";
        opens += e.kind == "open";
    }
    EXPECT_EQ(boxes, 1u);
    EXPECT_EQ(opens, 0u);
    RemoveDirectoryA(blocked.c_str());
}

TEST_F(FakeCommandsTest, APrinterThatCannotBeReachedEndsInItsErrorWithoutCommandIssued) {
    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    setup.files.clear();
    server_ = std::make_unique<fakeprinter::Server>(setup);
    server_->With([](fakeprinter::Engine &e) { e.defaults.refuseConnections = true; });
    ASSERT_TRUE(server_->Start("127.0.0.1")) << server_->error();
    printer_ = AddPrinter("127.0.0.1:" + std::to_string(server_->Port()));
    // One box each: the language query's when it comes first (nothing is tried after it),
    // else the command's own connection error.
    struct Case {
        UINT command;
        std::string box;
    };
    char noAnswer[260];
    LoadResString(IDS_PRINTER_NO_ANSWER, noAnswer);
    for (const Case &c : {Case{ID_PRINT_PCL_FONTS, noAnswer},
                          Case{ID_PRINT_FILE_LISTING, "Job Connection Error"}}) {
        SCOPED_TRACE(c.command);
        Command(c.command);
        const auto boxes = BoxTexts();
        ASSERT_EQ(boxes.size(), 1u) << testing::PrintToString(boxes);
        EXPECT_NE(boxes[0].find(c.box), std::string::npos) << boxes[0];
        EXPECT_EQ(boxes[0].find("Command Issued."), std::string::npos);
    }
}

TEST_F(CommandsTest, ProjectFileCommandsUseTheirDialogsAndTheFileList) {
    // Without a template: 10000.
    CMultiDocTemplate *kept = AppObject.m_projectTemplate;
    AppObject.m_projectTemplate = nullptr;
    Command(ID_NEW_PROJECT);
    AppObject.m_projectTemplate = kept;
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                              "No Project Template Found so no new Project Windows possible. "}));

    Command(ID_FILE_NEW);
    ASSERT_EQ(AppObject.m_projectCount, 1);
    CLeftView *view = GetActiveProjectView();
    ASSERT_NE(view, nullptr);
    AfxTestSeam::PushAnswer("files:" + folder_ + "|a.sfp|b & c.ttf");
    Command(ID_ADD_FILE_TO_PROJECT);
    CListCtrl &rows = view->GetListCtrl();
    ASSERT_EQ(rows.GetItemCount(), 2);
    EXPECT_STREQ(view->RowSource(0), (folder_ + "\\a.sfp").c_str());
    EXPECT_STREQ(view->RowSource(1), (folder_ + "\\b & c.ttf").c_str());
    EXPECT_TRUE(view->GetDocument()->IsModified());
    view->GetDocument()->SetModifiedFlag(FALSE);

    AfxTestSeam::PushAnswer("IDCANCEL");
    Command(ID_SEND_DOWNLOAD_FILE); // disabled without a printer: no dialog
    AddPrinter("127.0.0.1:1");
    Command(ID_SEND_DOWNLOAD_FILE);
    struct Dialog {
        std::string filter, ext;
        UINT flags;
    };
    std::vector<Dialog> opened;
    for (const auto &e : AfxTestSeam::TakeLog())
        if (e.kind == "open")
            opened.push_back({e.filter, e.ext, e.flags});
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(
        opened[0].filter.rfind("Font & Macro Files (*.sfp,*.ttf,*.bin)|*.sfp;*.ttf;*.bin|", 0), 0u);
    EXPECT_EQ(opened[0].ext, "sfp");
    const UINT multi =
        OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT;
    EXPECT_EQ(opened[0].flags & multi, multi);
    EXPECT_EQ(opened[1].filter.rfind("PJL Command files (*.pjl)|*.pjl|All Files (*.*)|*.*|", 0),
              0u);
    EXPECT_EQ(opened[1].ext, "pjl");

    // Remove takes the selected rows and marks the project.
    rows.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    Command(ID_REMOVE_FILE_FROM_PROJECT);
    ASSERT_EQ(rows.GetItemCount(), 1);
    EXPECT_STREQ(view->RowSource(0), (folder_ + "\\b & c.ttf").c_str());
    EXPECT_TRUE(view->GetDocument()->IsModified());
    view->GetDocument()->SetModifiedFlag(FALSE);
}

TEST_F(CommandsTest, APrinterNameOfPercentSignsIsShownAsItIs) {
    const std::string name(200, '%');
    std::vector<std::string> rows;
    {
        suite::DialogDriver driver([&](HWND dialog) {
            if (!dialog)
                return;
            SetDlgItemTextA(dialog, IDC_PRINTER_NAME,
                            (name + "%%%").c_str()); // cut at 200 when typed
            SetDlgItemTextA(dialog, IDC_PRINTER_NAME, name.c_str());
            SendDlgItemMessageA(dialog, IDC_PRINTER_IP_ADDRESS, IPM_SETADDRESS, 0,
                                MAKEIPADDRESS(127, 0, 0, 9));
            Click(dialog, IDC_ADD_PRINTER);
            rows = ListRows(GetDlgItem(dialog, IDC_PRINTER_LIST_VIEW));
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        CAddPrinter dialog(AppObject.m_printers, frame_);
        dialog.DoModal();
    }
    EXPECT_EQ(rows, std::vector<std::string>{name});
    CListCtrl *bar = AppObject.GetPrinterListCtrl();
    ASSERT_EQ(bar->GetItemCount(), 1);
    EXPECT_EQ(std::string(bar->GetItemText(0, 0)), name + " on 127.0.0.9");
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(FakeCommandsTest, PrinterPropertiesShowsTheCurrentPrintersTree) {
    Start(fakeprinter::Setup::Default());
    int items = -1;
    HWND owner = nullptr;
    suite::DialogDriver driver([&](HWND dialog) {
        if (!dialog)
            return;
        owner = GetWindow(dialog, GW_OWNER);
        items =
            static_cast<int>(SendDlgItemMessageA(dialog, IDC_PROPERTIES_TREE, TVM_GETCOUNT, 0, 0));
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    Command(ID_PRINTER_PROPERTIES);
    EXPECT_GT(items, 1);
    EXPECT_EQ(owner, frame_->m_hWnd);
    EXPECT_TRUE(BoxTexts().empty());
}

// CZqApp in-process: the settings file step, the image lists, the printer bar's rows,
// layout and drag, with the real resource module.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "framework_seam.h"
#include "frames.h"
#include "mainfrm.h"
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
        INITCOMMONCONTROLSEX controls = {sizeof controls, 0x1FFF};
        InitCommonControlsEx(&controls);
        AppObject.m_largeImages.Create(32, 32, ILC_COLOR8 | ILC_MASK, 15, 1);
        AppObject.m_smallImages.Create(16, 16, ILC_COLOR8 | ILC_MASK, 15, 1);
        for (UINT id = 9000; id <= 9014; ++id)
            AppObject.AddIconToImageLists(id);
        AppObject.m_hResources = LoadLibraryA(suite::BinPath("nimbrel.dll").c_str());
        AfxSetResourceHandle(AppObject.m_hResources);
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
        {"lower-case true is false", "[SEARCH_FILTERS]\r\nDiscoverUSB=true\r\n", 0, false, 3000, ""},
        {"last line without CR LF", "[PRINTERS]\r\nName=A,Port=LPT1", 1, true, 3000, ""},
        {"LF-only lines", "[PRINTERS]\nName=A,Port=LPT1\nName=B,Port=LPT2\n", 2, true, 3000, ""},
        {"no printers section", "[SEARCH_FILTERS]\r\nTypeFace=3100\r\n", 0, true, 3100, ""},
        {"line without Port", "[PRINTERS]\r\nName=A,Port=LPT1\r\nName=B\r\nName=C,Port=LPT3\r\n",
         1, true, 3000, ""},
        {"five-character PIN", "[User_PIN]\r\n98765\r\n", 0, true, 3000, "9876"},
        {"NUL in the file", "[PRINTERS]\r\nName=A,Port=LPT1\r\n\0[SEARCH_FILTERS]\r\nTypeFace=1\r\n"s,
         1, true, 3000, ""},
        {"empty file", "", 0, true, 3000, ""},
        {"huge line", std::string(100000, 'x'), 0, true, 3000, ""},
        {"non-numeric TypeFace", "[SEARCH_FILTERS]\r\nTypeFace=abc\r\n", 0, true, 3000, ""},
        {"300-character name", "[PRINTERS]\r\nName=" + std::string(300, 'n') + ",Port=LPT1\r\n",
         1, true, 3000, ""},
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
        HICON icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr),
                                                   MAKEINTRESOURCEA(9000 + i), IMAGE_ICON, 32,
                                                   32, LR_LOADTRANSPARENT));
        ASSERT_NE(icon, nullptr);
        DrawIconEx(dc, 32, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
        DestroyIcon(icon);
        if (i > 0)
            ImageList_Draw(AppObject.m_largeImages, i - 1, dc, 64, 0, ILD_NORMAL);
        EXPECT_EQ(mismatches(0, 32), 0);
        if (i > 0) {
            EXPECT_GT(mismatches(0, 64), 0);  // no two neighbours alike
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
    EXPECT_EQ(inner.bottom - inner.top, client.bottom - client.top);  // bars hidden
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

}  // namespace

// ---- project and printer windows ----------------------------------------------------

class WindowsTest : public FrameTest {
protected:
    void SetUp() override {
        FrameTest::SetUp();
        if (!AppObject.m_projectTemplate) {
            AppObject.m_projectTemplate = new CMultiDocTemplate(
                IDR_PROJECT_TYPE, RUNTIME_CLASS(CZqDoc), RUNTIME_CLASS(CChildFrame), RUNTIME_CLASS(CLeftView));
            AppObject.AddDocTemplate(AppObject.m_projectTemplate);
            AppObject.m_resourceTemplate = new CMultiDocTemplate(
                IDR_RESOURCE_TYPE, RUNTIME_CLASS(CPrDoc), RUNTIME_CLASS(CPrFrame), RUNTIME_CLASS(CPrLeftView));
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
            ++AppObject.m_resourceCount;  // as the opening command does
        return doc ? DYNAMIC_DOWNCAST(CPrFrame, frame_->MDIGetActive()) : nullptr;
    }
    int PrinterWindows() const {
        int n = 0;
        for (HWND h = GetWindow(frame_->m_hWndMDIClient, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
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
        SendMessageA(frame_->m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(view), MAKELPARAM(2, FALSE));
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
    bar->SendMessage(WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(frame_->m_hWnd), MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
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
        bool lineUp;  // 59412 enabled
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
    for (UINT id : {ID_VIEW_SMALLICON, ID_VIEW_LARGEICON, ID_VIEW_LIST, ID_VIEW_DETAILS, ID_VIEW_LINEUP})
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

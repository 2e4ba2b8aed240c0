// Frames: loading from resources, routing to frame then application, the command gate,
// menu updates and accelerators.
#include <gtest/gtest.h>

#include "test_ids.h"
#include "test_support.h"

namespace {

class TestFrame : public CFrameWnd {
  public:
    std::vector<std::string> *log = nullptr;
    bool *gone = nullptr;
    ~TestFrame() override {
        if (gone)
            *gone = true;
    }
    void OnFrameCmd() { log->push_back("frame"); }
    void OnDisabledCmd() { log->push_back("disabled ran"); }
    void OnUpdateDisabled(CCmdUI *ui) { ui->Enable(FALSE); }
    void OnUpdateChecked(CCmdUI *ui) { ui->SetCheck(1); }
    void OnChecked() { log->push_back("checked"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestFrame, CFrameWnd)
ON_COMMAND(ID_FRAME_CMD, OnFrameCmd)
ON_COMMAND(ID_DISABLED, OnDisabledCmd)
ON_UPDATE_COMMAND_UI(ID_DISABLED, OnUpdateDisabled)
ON_UPDATE_COMMAND_UI(ID_CHECKED, OnUpdateChecked)
ON_COMMAND(ID_CHECKED, OnChecked)
END_MESSAGE_MAP()

UINT State(HMENU menu, int pos) {
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    GetMenuItemInfoA(menu, static_cast<UINT>(pos), TRUE, &info);
    return info.fState & (MFS_GRAYED | MFS_CHECKED);
}

} // namespace

TEST(Frame, LoadsFromResourcesAndFailsWithoutAMenu) {
    std::vector<std::string> log;
    bool gone = false;
    auto *frame = new TestFrame;
    frame->log = &log;
    frame->gone = &gone;
    ASSERT_TRUE(frame->LoadFrame(IDR_FRAME, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE));
    CString title;
    frame->GetWindowText(title);
    EXPECT_STREQ(title, "Frame Title");
    EXPECT_NE(GetMenu(frame->m_hWnd), nullptr);
    EXPECT_NE(frame->m_hAccelTable, nullptr);
    EXPECT_EQ(frame->GetStyle() & FWS_ADDTOTITLE, 0u);
    frame->DestroyWindow();
    EXPECT_TRUE(gone); // a frame goes with its window

    auto *bare = new TestFrame;
    EXPECT_FALSE(bare->LoadFrame(IDR_NO_MENU));
    EXPECT_EQ(bare->m_hWnd, nullptr);
    delete bare;
}

TEST(Frame, RoutingGateMenusAndAccelerators) {
    std::vector<std::string> log;
    auto *frame = new TestFrame;
    frame->log = &log;
    ASSERT_TRUE(frame->LoadFrame(IDR_FRAME));
    HWND hwnd = frame->m_hWnd;
    fwtest::TestApp &app = fwtest::App();
    app.commands.clear();

    // Posted and sent commands, high word 0 (menu) and 1 (accelerator).
    struct Case {
        UINT id;
        WORD code;
        bool post;
        const char *frameLog; // what the frame ran, nullptr: nothing
        bool appRan;
    } cases[] = {
        {ID_FRAME_CMD, 0, true, "frame", false},
        {ID_FRAME_CMD, 1, false, "frame", false},
        {ID_APP_CMD, 0, true, nullptr, true},
        {ID_DISABLED, 0, true, nullptr, false}, // disabled by its update: dropped
        {ID_DISABLED, 1, false, nullptr, false},
        {ID_NO_HANDLER, 0, true, nullptr, false},
        {ID_CHECKED, 0, false, "checked", false},
    };
    for (auto &c : cases) {
        log.clear();
        app.commands.clear();
        if (c.post) {
            PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(c.id, c.code), 0);
            fwtest::RunQueue();
        } else {
            SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(c.id, c.code), 0);
        }
        EXPECT_EQ(log,
                  c.frameLog ? std::vector<std::string>{c.frameLog} : std::vector<std::string>{})
            << c.id;
        EXPECT_EQ(app.commands.size(), c.appRan ? 1u : 0u) << c.id;
    }

    // A control notification with the disabled id passes the gate.
    log.clear();
    HWND button = CreateWindowExA(0, "BUTTON", "b", WS_CHILD, 0, 0, 10, 10, hwnd,
                                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(ID_DISABLED)),
                                  nullptr, nullptr);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(ID_DISABLED, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    EXPECT_EQ(log, std::vector<std::string>{"disabled ran"});

    // Menu update: both ways of m_bAutoMenuEnable.
    HMENU popup = GetSubMenu(GetMenu(hwnd), 0);
    for (BOOL autoEnable : {TRUE, FALSE}) {
        frame->m_bAutoMenuEnable = autoEnable;
        for (int i = 0; i < GetMenuItemCount(popup); ++i)
            EnableMenuItem(popup, static_cast<UINT>(i), MF_BYPOSITION | MF_ENABLED);
        SendMessageA(hwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), MAKELPARAM(0, FALSE));
        EXPECT_EQ(State(popup, 0), 0u);
        EXPECT_EQ(State(popup, 1), 0u);
        EXPECT_EQ(State(popup, 2), autoEnable ? static_cast<UINT>(MFS_GRAYED) : 0u);
        EXPECT_EQ(State(popup, 4), static_cast<UINT>(MFS_GRAYED));
        EXPECT_EQ(State(popup, 5), static_cast<UINT>(MFS_CHECKED));
        EXPECT_EQ(State(popup, 6), static_cast<UINT>(MFS_GRAYED)); // follows its first item
        EXPECT_EQ(State(popup, 7), 0u);                            // the application's Exit
    }

    // Accelerators through PreTranslateMessage, from a posted key.
    log.clear();
    frame->m_bAutoMenuEnable = TRUE;
    PostMessageA(hwnd, WM_KEYDOWN, VK_F2, 0x003C0001);
    PostMessageA(hwnd, WM_KEYDOWN, VK_F3, 0x003D0001);
    fwtest::RunQueue();
    EXPECT_EQ(log, std::vector<std::string>{"frame"});

    // Exit, the application's command, closes the main window.
    app.m_pMainWnd = frame;
    SendMessageA(hwnd, WM_COMMAND, ID_APP_EXIT, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)); // the loop would end
}

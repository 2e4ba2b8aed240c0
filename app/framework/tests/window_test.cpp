// The handle map, message maps, notification order and the window's life.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

constexpr UINT kButton = 2001, kEdit = 2002, kPlainList = 2003, kReflectingList = 2004,
               kCommand = 3000;

// A list control that takes its own LVN_ITEMCHANGED.
class ReflectingList : public CListCtrl {
  public:
    std::vector<std::string> *log = nullptr;
    void OnItemChanged(NMHDR *, LRESULT *result) {
        log->push_back("child:itemchanged");
        *result = 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ReflectingList, CListCtrl)
ON_NOTIFY_REFLECT(LVN_ITEMCHANGED, OnItemChanged)
END_MESSAGE_MAP()

class MapWindow : public CWnd {
  public:
    std::vector<std::string> log;
    CButton button;
    CEdit edit;
    CListCtrl plain;
    ReflectingList reflecting;
    UINT key[3] = {};
    int sized[2] = {};

    BOOL Make() {
        return CreateEx(0, nullptr, "map", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr);
    }

    int OnCreate(LPCREATESTRUCT cs) {
        log.push_back(std::string("create:") + cs->lpszName);
        CRect r(0, 0, 100, 20);
        reflecting.log = &log;
        if (!button.Create("b", BS_PUSHBUTTON | WS_VISIBLE, r, this, kButton) ||
            !edit.Create(WS_VISIBLE | ES_AUTOHSCROLL, r, this, kEdit) ||
            !plain.Create(LVS_REPORT | WS_VISIBLE, CRect(0, 30, 200, 90), this, kPlainList) ||
            !reflecting.Create(LVS_REPORT | WS_VISIBLE, CRect(0, 100, 200, 160), this,
                               kReflectingList))
            return -1;
        return 0;
    }
    void OnDestroy() {
        log.push_back("destroy");
        CWnd::OnDestroy();
    }
    void OnSize(UINT, int cx, int cy) {
        sized[0] = cx;
        sized[1] = cy;
    }
    void OnKeyUp(UINT nChar, UINT repeat, UINT flags) {
        key[0] = nChar;
        key[1] = repeat;
        key[2] = flags;
    }
    void OnClicked() { log.push_back("clicked"); }
    void OnEditChange() { log.push_back("editchange"); }
    void OnCommand3000() { log.push_back("command"); }
    void OnPlainChanged(NMHDR *hdr, LRESULT *) {
        log.push_back("parent:itemchanged:" + std::to_string(hdr->idFrom));
    }
    LRESULT OnApp(WPARAM w, LPARAM l) {
        log.push_back("app:" + std::to_string(w) + ":" + std::to_string(l));
        return 77;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MapWindow, CWnd)
ON_WM_CREATE()
ON_WM_DESTROY()
ON_WM_SIZE()
ON_WM_KEYUP()
ON_BN_CLICKED(kButton, OnClicked)
ON_EN_CHANGE(kEdit, OnEditChange)
ON_COMMAND(kCommand, OnCommand3000)
ON_NOTIFY(LVN_ITEMCHANGED, kPlainList, OnPlainChanged)
ON_NOTIFY(LVN_ITEMCHANGED, kReflectingList, OnPlainChanged)
ON_MESSAGE(WM_APP + 1, OnApp)
END_MESSAGE_MAP()

} // namespace

TEST(Window, MapEntriesRunTheirHandlers) {
    MapWindow w;
    ASSERT_TRUE(w.Make());
    // The application keeps window kinds in the user data; the framework never reads it.
    SetWindowLongPtrA(w.m_hWnd, GWLP_USERDATA, 21);
    EXPECT_EQ(w.log.front(), "create:map");
    EXPECT_EQ(CWnd::FromHandlePermanent(w.m_hWnd), &w);
    EXPECT_EQ(CWnd::FromHandle(w.button.m_hWnd), &w.button);

    w.log.clear();
    w.button.SendMessage(BM_CLICK);
    w.edit.SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>("typed"));
    w.SendMessage(WM_COMMAND, MAKEWPARAM(kCommand, 0), 0);
    w.SendMessage(WM_COMMAND, MAKEWPARAM(kCommand, 1), 0); // accelerator
    EXPECT_EQ(w.SendMessage(WM_APP + 1, 5, 6), 77);
    EXPECT_EQ(w.log,
              (std::vector<std::string>{"clicked", "editchange", "command", "command", "app:5:6"}));

    w.SendMessage(WM_KEYUP, VK_F5, static_cast<LPARAM>(0xC0000001));
    EXPECT_EQ(w.key[0], 116u);
    EXPECT_EQ(w.key[1], 1u);
    EXPECT_EQ(w.key[2], 0xC000u);

    w.SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(123, 45));
    EXPECT_EQ(w.sized[0], 123);
    EXPECT_EQ(w.sized[1], 45);
    EXPECT_EQ(GetWindowLongPtrA(w.m_hWnd, GWLP_USERDATA), 21);

    // A reflected notification reaches the control first and stops there; the plain one
    // reaches the parent.
    w.log.clear();
    w.plain.InsertItem(0, "p");
    w.reflecting.InsertItem(0, "r");
    w.log.clear();
    w.reflecting.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    w.plain.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(w.log, (std::vector<std::string>{"child:itemchanged", "parent:itemchanged:2003"}));

    HWND child = w.button.m_hWnd;
    w.DestroyWindow();
    EXPECT_EQ(w.m_hWnd, nullptr);
    EXPECT_EQ(w.button.m_hWnd, nullptr); // children detach with their windows
    EXPECT_EQ(CWnd::FromHandlePermanent(child), nullptr);
    EXPECT_EQ(w.log.back(), "destroy");
}

namespace {
class Refusing : public CWnd {
  public:
    bool destroyed = false;
    int OnCreate(LPCREATESTRUCT) { return -1; }
    void PostNcDestroy() override { destroyed = true; }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Refusing, CWnd)
ON_WM_CREATE()
END_MESSAGE_MAP()
} // namespace

TEST(Window, OnCreateMinusOneFailsCreation) {
    Refusing r;
    EXPECT_FALSE(r.CreateEx(0, nullptr, "x", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr));
    EXPECT_EQ(r.m_hWnd, nullptr);
    EXPECT_TRUE(r.destroyed);
}

TEST(Window, TemporaryWrappersAndTwoThreads) {
    fwtest::TopWindow top;
    ASSERT_NE(top.m_hWnd, nullptr);
    HWND plain = CreateWindowExA(0, "STATIC", "s", WS_CHILD, 0, 0, 10, 10, top.m_hWnd, nullptr,
                                 nullptr, nullptr);
    CWnd *a = CWnd::FromHandle(plain);
    CWnd *b = CWnd::FromHandle(plain);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->m_hWnd, plain);
    EXPECT_EQ(CWnd::FromHandlePermanent(plain), nullptr);
    EXPECT_EQ(CWnd::FromHandle(nullptr), nullptr);
    CWnd *none = CWnd::FromHandle(nullptr);
    EXPECT_EQ(none->GetSafeHwnd(), nullptr); // the NULL-object idiom of GetDlgItem results

    // The same object from another thread; the worker's calls reach the UI thread's window
    // while this thread waits in its message loop.
    std::atomic<bool> done{false};
    CWnd *seen = nullptr;
    std::thread worker([&] {
        seen = CWnd::FromHandle(plain);
        top.SetWindowText("from the worker");
        seen->SetWindowText("child text");
        done = true;
        PostThreadMessageA(0, 0, 0, 0);
    });
    for (int i = 0; i < 1000 && !done; ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        fwtest::Pump();
    }
    worker.join();
    EXPECT_EQ(seen, a);
    CString text;
    top.GetWindowText(text);
    EXPECT_STREQ(text, "from the worker");
    a->GetWindowText(text);
    EXPECT_STREQ(text, "child text");
}

TEST(Window, UnhandledExceptionStaysInsideTheWindowProcedure) {
    class Throwing : public CWnd {
      public:
        LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
            if (message == WM_APP + 7)
                throw 42;
            return CWnd::WindowProc(message, wParam, lParam);
        }
    } t;
    ASSERT_TRUE(t.CreateEx(0, nullptr, "t", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
    EXPECT_EQ(t.SendMessage(WM_APP + 7), 0);
    EXPECT_TRUE(IsWindow(t.m_hWnd));
    t.DestroyWindow();
}

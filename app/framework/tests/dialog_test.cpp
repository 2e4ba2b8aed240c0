// Modal dialogs: data exchange, ending, owners, refusing a cancel, and a UI-thread list
// filled by eight threads while the dialog runs.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "test_ids.h"
#include "test_support.h"

namespace {

class ExchangeDialog : public CDialog {
  public:
    explicit ExchangeDialog(CWnd *parent = nullptr) : CDialog(IDD_EXCHANGE, parent) {}
    CString m_name;
    int m_enabled = 0;
    CListCtrl m_list;
    bool shown = false;
    int endInInit = 0; // nonzero: EndDialog(endInInit) inside OnInitDialog
    UINT defId = 0;    // nonzero: SetDefID in OnInitDialog, read back into readDefId
    DWORD readDefId = 0;

    void DoDataExchange(CDataExchange *pDX) override {
        DDX_Text(pDX, IDC_NAME, m_name);
        DDX_Check(pDX, IDC_ENABLED, m_enabled);
        DDX_Control(pDX, IDC_LIST, m_list);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (defId) {
            SetDefID(defId);
            readDefId = GetDefID();
        }
        if (endInInit)
            EndDialog(endInInit);
        return TRUE;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_SHOWWINDOW && wParam)
            shown = true;
        return CDialog::WindowProc(message, wParam, lParam);
    }
};

} // namespace

TEST(Dialog, ExchangeRoundTripAndCancelChangesNothing) {
    ExchangeDialog dlg;
    dlg.m_name = "initial";
    dlg.m_enabled = 1;
    std::string seenName;
    UINT seenCheck = 99;
    {
        fwtest::DialogDriver driver([&](HWND d) {
            if (!d)
                return;
            seenName = fwtest::ItemText(d, IDC_NAME);
            seenCheck = static_cast<UINT>(SendDlgItemMessageA(d, IDC_ENABLED, BM_GETCHECK, 0, 0));
            SetDlgItemTextA(d, IDC_NAME, "edited");
            SendDlgItemMessageA(d, IDC_ENABLED, BM_SETCHECK, BST_UNCHECKED, 0);
            SendMessageA(d, WM_COMMAND, IDOK, 0);
        });
        EXPECT_EQ(dlg.DoModal(), IDOK);
    }
    EXPECT_EQ(seenName, "initial");
    EXPECT_EQ(seenCheck, static_cast<UINT>(BST_CHECKED));
    EXPECT_STREQ(dlg.m_name, "edited");
    EXPECT_EQ(dlg.m_enabled, 0);
    EXPECT_EQ(dlg.m_list.m_hWnd, nullptr); // the bound control detached with its window

    // The same object again, cancelled this time.
    {
        fwtest::DialogDriver driver([&](HWND d) {
            if (!d)
                return;
            SetDlgItemTextA(d, IDC_NAME, "discarded");
            SendMessageA(d, WM_COMMAND, IDCANCEL, 0);
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    }
    EXPECT_STREQ(dlg.m_name, "edited");
    EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST(Dialog, EndInInitMissingTemplateAndDefaultButton) {
    ExchangeDialog ended;
    ended.endInInit = 42;
    ended.defId = IDC_OTHER;
    EXPECT_EQ(ended.DoModal(), 42);
    EXPECT_FALSE(ended.shown); // ended before it was ever shown
    EXPECT_EQ(LOWORD(ended.readDefId), IDC_OTHER);
    EXPECT_EQ(HIWORD(ended.readDefId), DC_HASDEFID);

    CDialog missing(IDD_MISSING);
    EXPECT_EQ(missing.DoModal(), -1);
}

TEST(Dialog, OwnerIsDisabledMeanwhileAndEnabledAfter) {
    fwtest::TopWindow owner;
    ASSERT_TRUE(owner.m_hWnd);
    ExchangeDialog dlg(&owner);
    BOOL enabledDuring = TRUE;
    HWND dialogOwner = nullptr;
    {
        fwtest::DialogDriver driver([&](HWND d) {
            if (!d)
                return;
            enabledDuring = IsWindowEnabled(owner.m_hWnd);
            dialogOwner = GetWindow(d, GW_OWNER);
            PostMessageA(d, WM_COMMAND, IDOK, 0);
        });
        EXPECT_EQ(dlg.DoModal(), IDOK);
    }
    EXPECT_FALSE(enabledDuring);
    EXPECT_EQ(dialogOwner, owner.m_hWnd);
    EXPECT_TRUE(IsWindowEnabled(owner.m_hWnd));
}

namespace {

// Moves the focus on WM_APP + 5 and records where it went.
class FocusDialog : public ExchangeDialog {
  public:
    int afterGoto = 0, afterNext = 0;
    LRESULT OnMove(WPARAM, LPARAM) {
        GotoDlgCtrl(GetDlgItem(IDC_NAME));
        afterGoto = ::GetDlgCtrlID(::GetFocus());
        NextDlgCtrl();
        afterNext = ::GetDlgCtrlID(::GetFocus());
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(FocusDialog, ExchangeDialog)
ON_MESSAGE(WM_APP + 5, OnMove)
END_MESSAGE_MAP()

} // namespace

TEST(Dialog, GotoAndNextControlMoveTheFocus) {
    FocusDialog dlg;
    {
        fwtest::DialogDriver driver([&](HWND d) {
            if (!d)
                return;
            SendMessageA(d, WM_APP + 5, 0, 0);
            PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    }
    EXPECT_EQ(dlg.afterGoto, IDC_NAME);
    EXPECT_EQ(dlg.afterNext, IDC_ENABLED);
}

namespace {

// Refuses to close while `allow` is false (as a dialog with a running worker does).
class RefusingDialog : public ExchangeDialog {
  public:
    std::atomic<bool> allow{false};
    std::atomic<int> cancels{0};
    void OnCancel() override {
        ++cancels;
        if (allow)
            CDialog::OnCancel();
    }
};

} // namespace

TEST(Dialog, RefusingOnCancelHoldsAgainstEscAndTheCloseBox) {
    RefusingDialog dlg;
    bool aliveAfterEsc = false, aliveAfterClose = false;
    int cancelsSeen = 0;
    {
        fwtest::DialogDriver driver([&](HWND d) {
            if (!d)
                return;
            HWND edit = GetDlgItem(d, IDC_NAME);
            PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            PostMessageA(edit, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001));
            for (int i = 0; i < 200 && dlg.cancels < 1; ++i)
                Sleep(10);
            aliveAfterEsc = IsWindow(d);
            SendMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0);
            for (int i = 0; i < 200 && dlg.cancels < 2; ++i)
                Sleep(10);
            SendMessageA(d, WM_CLOSE, 0, 0);
            for (int i = 0; i < 200 && dlg.cancels < 3; ++i)
                Sleep(10);
            aliveAfterClose = IsWindow(d) && IsWindowVisible(d);
            cancelsSeen = dlg.cancels;
            dlg.allow = true;
            PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    }
    EXPECT_TRUE(aliveAfterEsc);
    EXPECT_TRUE(aliveAfterClose);
    EXPECT_GE(cancelsSeen, 3);
}

TEST(Dialog, EightThreadsFillAUiThreadListDuringDoModal) {
    constexpr int kThreads = 8, kRows = 40;
    class Filling : public ExchangeDialog {
      public:
        int rowsAtOk = -1;
        std::vector<std::thread> workers;
        std::thread closer;
        BOOL OnInitDialog() override {
            ExchangeDialog::OnInitDialog();
            HWND list = m_list.m_hWnd;
            HWND self = m_hWnd;
            for (int t = 0; t < kThreads; ++t) {
                workers.emplace_back([list, t] {
                    // Each thread gets the wrapper through the one map and calls across.
                    auto *ctl = static_cast<CListCtrl *>(CWnd::FromHandle(list));
                    for (int r = 0; r < kRows; ++r) {
                        char text[32];
                        snprintf(text, sizeof text, "t%d r%d", t, r);
                        ctl->InsertItem(ctl->GetItemCount(), text);
                    }
                });
            }
            closer = std::thread([this, self] {
                for (auto &w : workers)
                    w.join();
                ::PostMessageA(self, WM_COMMAND, IDOK, 0);
            });
            return TRUE;
        }
        void OnOK() override {
            rowsAtOk = m_list.GetItemCount();
            CDialog::OnOK();
        }
    } dlg;
    // A bound on the whole run: if the dialog is still up after 60 s, cancel it.
    std::atomic<bool> finished{false};
    std::thread guard([&] {
        for (int i = 0; i < 600 && !finished; ++i)
            Sleep(100);
        if (!finished) {
            if (HWND d = fwtest::WaitForDialog(100))
                PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
        }
    });
    INT_PTR result = dlg.DoModal();
    finished = true;
    guard.join();
    if (dlg.closer.joinable())
        dlg.closer.join();
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.rowsAtOk, kThreads * kRows);
}

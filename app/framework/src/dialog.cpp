// CDialog, its modal loop and data exchange.
#include "internal.h"

#include <cstring>
#include <vector>

namespace {

INT_PTR CALLBACK NullDlgProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// The template `id` of the resource handle with WS_VISIBLE cleared, so that the dialog is
// shown only once OnInitDialog is through; empty when there is no such template.
std::vector<BYTE> LoadTemplate(HINSTANCE module, UINT id) {
    std::vector<BYTE> copy;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), reinterpret_cast<LPCSTR>(RT_DIALOG));
    if (!found)
        return copy;
    HGLOBAL loaded = LoadResource(module, found);
    const void *data = loaded ? LockResource(loaded) : nullptr;
    DWORD size = SizeofResource(module, found);
    if (!data || size < sizeof(DLGTEMPLATE))
        return copy;
    copy.assign(static_cast<const BYTE *>(data), static_cast<const BYTE *>(data) + size);
    WORD version = 0, signature = 0;
    std::memcpy(&version, copy.data(), 2);
    std::memcpy(&signature, copy.data() + 2, 2);
    size_t styleAt = (version == 1 && signature == 0xFFFF) ? 12 : 0; // DLGTEMPLATEEX : DLGTEMPLATE
    if (copy.size() < styleAt + 4) {
        copy.clear();
        return copy;
    }
    DWORD style;
    std::memcpy(&style, copy.data() + styleAt, 4);
    style &= ~static_cast<DWORD>(WS_VISIBLE);
    std::memcpy(copy.data() + styleAt, &style, 4);
    return copy;
}

} // namespace

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd *pParentWnd)
    : m_nIDHelp(nIDTemplate), m_pParentWnd(pParentWnd) {}

INT_PTR CDialog::DoModal() {
    if (m_hWnd || inModal_)
        return -1;
    HINSTANCE module = AfxGetResourceHandle();
    std::vector<BYTE> tmpl = LoadTemplate(module, m_nIDHelp);
    if (tmpl.empty())
        return -1;

    HWND owner = m_pParentWnd ? GetAncestor(m_pParentWnd->GetSafeHwnd(), GA_ROOT) : nullptr;
    if (!owner) {
        CWnd *main = AfxGetMainWnd();
        HWND hwnd = main ? main->GetSafeHwnd() : nullptr;
        if (hwnd && GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId())
            owner = hwnd;
    }
    bool disabled = false;
    if (owner && ::IsWindowEnabled(owner)) {
        ::EnableWindow(owner, FALSE);
        disabled = true;
    }

    ended_ = false;
    modalResult_ = -1;
    inModal_ = true;
    HWND hwnd;
    {
        afx::CreationHook hook(this);
        hwnd = CreateDialogIndirectParamA(module, reinterpret_cast<LPCDLGTEMPLATEA>(tmpl.data()),
                                          owner, &NullDlgProc, reinterpret_cast<LPARAM>(this));
    }
    if (hwnd && hwnd == m_hWnd) {
        if (!ended_)
            ::ShowWindow(hwnd, SW_SHOW);
        // The dialog's own loop: only EndDialog (or the window's end) leaves it.
        while (!ended_ && ::IsWindow(hwnd)) {
            MSG msg;
            BOOL got = GetMessageA(&msg, nullptr, 0, 0);
            if (got == 0) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                break;
            }
            if (got < 0)
                break;
            bool done = false;
            for (HWND h = msg.hwnd; h && !done; h = ::GetParent(h)) {
                CWnd *wnd = FromHandlePermanent(h);
                if (wnd && wnd->PreTranslateMessage(&msg))
                    done = true;
                if (h == hwnd)
                    break;
            }
            if (!done) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
    if (disabled)
        ::EnableWindow(owner, TRUE);
    if (hwnd && ::IsWindow(hwnd)) {
        if (owner && ::GetActiveWindow() == hwnd)
            ::SetActiveWindow(owner);
        ::DestroyWindow(hwnd);
    }
    inModal_ = false;
    return ended_ ? modalResult_ : -1;
}

void CDialog::EndDialog(int result) {
    if (inModal_) {
        modalResult_ = result;
        ended_ = true;
        if (m_hWnd)
            PostMessage(WM_NULL); // wakes the modal loop
    } else if (m_hWnd) {
        ::EndDialog(m_hWnd, result);
    }
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange *) {}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    if (!m_hWnd)
        return FALSE;
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::GotoDlgCtrl(CWnd *control) {
    if (control && control->m_hWnd)
        SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control->m_hWnd), TRUE);
}

void CDialog::NextDlgCtrl() const {
    SendMessage(WM_NEXTDLGCTL, 0, FALSE);
}
void CDialog::PrevDlgCtrl() const {
    SendMessage(WM_NEXTDLGCTL, 1, FALSE);
}

BOOL CDialog::PreTranslateMessage(MSG *pMsg) {
    if (!m_hWnd || !pMsg)
        return FALSE;
    if (pMsg->message >= WM_KEYFIRST && pMsg->message <= WM_KEYLAST &&
        (pMsg->hwnd == m_hWnd || ::IsChild(m_hWnd, pMsg->hwnd)))
        return ::IsDialogMessageA(m_hWnd, pMsg);
    return FALSE;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG)
        return OnInitDialog();
    if (message == WM_COMMAND) {
        // Commands never reach the dialog manager's default handling, so that IDCANCEL from
        // Esc or the close box ends the dialog only through OnCancel.
        OnCommand(wParam, lParam);
        return 0;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------
// Data exchange

HWND CDataExchange::PrepareCtrl(int nID) {
    return m_pDlgWnd ? ::GetDlgItem(m_pDlgWnd->GetSafeHwnd(), nID) : nullptr;
}

void DDX_Text(CDataExchange *pDX, int nIDC, CString &value) {
    HWND control = pDX->PrepareCtrl(nIDC);
    if (!control)
        return;
    if (pDX->m_bSaveAndValidate)
        CWnd::FromHandle(control)->GetWindowText(value);
    else
        ::SetWindowTextA(control, value);
}

void DDX_Check(CDataExchange *pDX, int nIDC, int &value) {
    HWND control = pDX->PrepareCtrl(nIDC);
    if (!control)
        return;
    if (pDX->m_bSaveAndValidate)
        value = static_cast<int>(::SendMessageA(control, BM_GETCHECK, 0, 0));
    else
        ::SendMessageA(control, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

void DDX_Control(CDataExchange *pDX, int nIDC, CWnd &control) {
    if (control.m_hWnd)
        return;
    HWND hwnd = pDX->PrepareCtrl(nIDC);
    if (hwnd)
        control.SubclassWindow(hwnd);
}

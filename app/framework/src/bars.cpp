// Control bars: the dialog bar, the tool bar and the status bar.
#include "internal.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CControlBar, CWnd)
IMPLEMENT_DYNAMIC(CDialogBar, CControlBar)
IMPLEMENT_DYNAMIC(CToolBar, CControlBar)
IMPLEMENT_DYNAMIC(CStatusBar, CControlBar)

namespace {

INT_PTR CALLBACK BarDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

int ClientWidth(HWND hwnd) {
    RECT r = {};
    if (hwnd)
        ::GetClientRect(hwnd, &r);
    return r.right - r.left;
}

} // namespace

// ---------------------------------------------------------------------------------------
// CControlBar

CFrameWnd *CControlBar::GetDockingFrame() const {
    return DYNAMIC_DOWNCAST(CFrameWnd, CWnd::FromHandlePermanent(::GetParent(m_hWnd)));
}

void CControlBar::Register() {
    if (CFrameWnd *frame = GetDockingFrame()) {
        std::erase(frame->bars_, m_hWnd);
        frame->bars_.push_back(m_hWnd);
    }
}

CSize CControlBar::CalcFixedLayout(BOOL, BOOL) {
    CRect r;
    GetWindowRect(&r);
    return CSize(ClientWidth(::GetParent(m_hWnd)), r.Height());
}

CSize CControlBar::CalcDynamicLayout(int, DWORD mode) {
    return CalcFixedLayout((mode & LM_STRETCH) != 0, (mode & LM_HORZ) != 0);
}

BOOL CControlBar::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (CWnd::OnCommand(wParam, lParam))
        return TRUE;
    HWND owner = ::GetParent(m_hWnd);
    if (!owner)
        return FALSE;
    ::SendMessageA(owner, WM_COMMAND, wParam, lParam);
    return TRUE;
}

BOOL CControlBar::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT *pResult) {
    if (CWnd::OnNotify(wParam, lParam, pResult))
        return TRUE;
    HWND owner = ::GetParent(m_hWnd);
    if (!owner)
        return FALSE;
    LRESULT result = ::SendMessageA(owner, WM_NOTIFY, wParam, lParam);
    if (pResult)
        *pResult = result;
    return TRUE;
}

LRESULT CControlBar::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        if (CFrameWnd *frame = GetDockingFrame())
            std::erase(frame->bars_, m_hWnd);
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------
// CDialogBar

BOOL CDialogBar::Create(CWnd *parent, UINT nIDTemplate, UINT style, UINT nID) {
    if (m_hWnd || !parent->GetSafeHwnd())
        return FALSE;
    HWND bar = CreateDialogParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(nIDTemplate),
                                  parent->m_hWnd, BarDialogProc, 0);
    if (!bar)
        return FALSE;
    if (!(GetWindowLongPtrA(bar, GWL_STYLE) & WS_CHILD) || !SubclassWindow(bar)) {
        ::DestroyWindow(bar);
        return FALSE;
    }
    SetWindowLongPtrA(bar, GWLP_ID, static_cast<LONG_PTR>(nID));
    m_dwStyle = style & CBRS_ALL;
    CRect rect;
    GetWindowRect(&rect);
    m_sizeDefault = CSize(rect.Width(), rect.Height());
    ModifyStyle(0, WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS);
    Register();
    return TRUE;
}

CSize CDialogBar::CalcFixedLayout(BOOL, BOOL horz) {
    if (horz)
        return CSize(ClientWidth(::GetParent(m_hWnd)), m_sizeDefault.cy);
    return m_sizeDefault;
}

// ---------------------------------------------------------------------------------------
// CToolBar

CToolBar::~CToolBar() {
    if (bitmap_)
        DeleteObject(bitmap_);
}

BOOL CToolBar::CreateEx(CWnd *parent, DWORD ctrlStyle, DWORD style, CRect, UINT nID) {
    if (m_hWnd || !parent->GetSafeHwnd())
        return FALSE;
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_BAR_CLASSES};
    InitCommonControlsEx(&init);
    // The bar's own CBRS_ bits stay with the object; the window gets its WS_ and control
    // styles.
    DWORD windowStyle = (style & 0xFFFF0000u & ~static_cast<DWORD>(CBRS_ALL & 0xFFFF0000u)) |
                        (ctrlStyle & 0xFFFF) | CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER |
                        WS_CHILD;
    if (!CWnd::CreateEx(0, TOOLBARCLASSNAMEA, nullptr, windowStyle, CRect(0, 0, 0, 0), parent, nID))
        return FALSE;
    m_dwStyle = style & CBRS_ALL;
    SendMessage(TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON));
    Register();
    return TRUE;
}

BOOL CToolBar::Create(CWnd *parent, DWORD style, UINT nID) {
    return CreateEx(parent, 0, style, CRect(), nID);
}

BOOL CToolBar::LoadToolBar(UINT nIDResource) {
    if (!m_hWnd)
        return FALSE;
    HINSTANCE module = AfxGetResourceHandle();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(nIDResource), MAKEINTRESOURCEA(241));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto *words = loaded ? static_cast<const WORD *>(LockResource(loaded)) : nullptr;
    DWORD size = found ? SizeofResource(module, found) : 0;
    // {version 1, width, height, count, ids[count]}
    if (!words || size < 4 * sizeof(WORD))
        return FALSE;
    WORD version = words[0], width = words[1], height = words[2], count = words[3];
    if (version != 1 || width == 0 || height == 0 || size < (4u + count) * sizeof(WORD))
        return FALSE;
    HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(nIDResource));
    if (!bitmap)
        return FALSE;

    while (SendMessage(TB_BUTTONCOUNT) > 0)
        SendMessage(TB_DELETEBUTTON, 0);
    if (bitmap_)
        DeleteObject(bitmap_);
    bitmap_ = bitmap;
    SendMessage(TB_SETBITMAPSIZE, 0, MAKELONG(width, height));
    SendMessage(TB_SETBUTTONSIZE, 0, MAKELONG(width + 7, height + 7));
    std::vector<TBBUTTON> buttons;
    int images = 0;
    for (WORD i = 0; i < count; ++i) {
        TBBUTTON b = {};
        UINT id = words[4 + i];
        if (id == ID_SEPARATOR) {
            b.iBitmap = 8;
            b.fsStyle = TBSTYLE_SEP;
        } else {
            b.iBitmap = images++;
            b.idCommand = static_cast<int>(id);
            b.fsState = TBSTATE_ENABLED;
            b.fsStyle = TBSTYLE_BUTTON;
        }
        buttons.push_back(b);
    }
    if (images > 0) {
        TBADDBITMAP add = {nullptr, reinterpret_cast<UINT_PTR>(bitmap)};
        SendMessage(TB_ADDBITMAP, static_cast<WPARAM>(images), reinterpret_cast<LPARAM>(&add));
    }
    if (!buttons.empty())
        SendMessage(TB_ADDBUTTONSA, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    if (CFrameWnd *frame = GetDockingFrame())
        frame->RecalcLayout();
    return TRUE;
}

int CToolBar::GetCount() const {
    return static_cast<int>(SendMessage(TB_BUTTONCOUNT));
}

UINT CToolBar::GetItemID(int index) const {
    TBBUTTON b = {};
    if (!SendMessage(TB_GETBUTTON, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&b)))
        return 0;
    return (b.fsStyle & TBSTYLE_SEP) ? ID_SEPARATOR : static_cast<UINT>(b.idCommand);
}

CSize CToolBar::CalcFixedLayout(BOOL, BOOL) {
    DWORD button = static_cast<DWORD>(SendMessage(TB_GETBUTTONSIZE));
    return CSize(ClientWidth(::GetParent(m_hWnd)), HIWORD(button) + 4);
}

// ---------------------------------------------------------------------------------------
// CStatusBar

BOOL CStatusBar::Create(CWnd *parent, DWORD style, UINT nID) {
    if (m_hWnd || !parent->GetSafeHwnd())
        return FALSE;
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_BAR_CLASSES};
    InitCommonControlsEx(&init);
    DWORD windowStyle = (style & (WS_VISIBLE | WS_DISABLED)) | WS_CHILD | CCS_NOPARENTALIGN |
                        CCS_NORESIZE | CCS_NODIVIDER;
    // The height follows the font: a line of text and a border.
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    height_ = tm.tmHeight + 8;
    if (!CWnd::CreateEx(0, STATUSCLASSNAMEA, nullptr, windowStyle, CRect(0, 0, 0, height_), parent,
                        nID))
        return FALSE;
    m_dwStyle = style & CBRS_ALL;
    Register();
    return TRUE;
}

BOOL CStatusBar::SetIndicators(const UINT *ids, int count) {
    if (!m_hWnd || count < 0 || count > 64 || (count > 0 && !ids))
        return FALSE;
    ids_.assign(ids, ids + count);
    widths_.clear();
    HDC dc = GetDC(m_hWnd);
    HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    for (UINT id : ids_) {
        CString text;
        if (id != ID_SEPARATOR)
            text.LoadString(id);
        SIZE extent = {};
        GetTextExtentPoint32A(dc, text, text.GetLength(), &extent);
        widths_.push_back(std::max<int>(extent.cx + 10, 24));
    }
    SelectObject(dc, old);
    ReleaseDC(m_hWnd, dc);
    UpdateParts();
    for (int i = 0; i < count; ++i) {
        CString text;
        if (ids_[static_cast<size_t>(i)] != ID_SEPARATOR)
            text.LoadString(ids_[static_cast<size_t>(i)]);
        SetPaneText(i, text);
    }
    return TRUE;
}

BOOL CStatusBar::SetPaneText(int index, LPCSTR text) {
    if (!m_hWnd || index < 0 || index >= static_cast<int>(ids_.size()))
        return FALSE;
    return static_cast<BOOL>(SendMessage(SB_SETTEXTA, static_cast<WPARAM>(index),
                                         reinterpret_cast<LPARAM>(text ? text : "")));
}

void CStatusBar::UpdateParts() {
    if (!m_hWnd || ids_.empty())
        return;
    // The first pane stretches; the others keep their widths, from the right edge.
    int right = ClientWidth(m_hWnd);
    std::vector<int> edges(ids_.size());
    edges.back() = -1;
    int at = right;
    for (size_t i = ids_.size() - 1; i > 0; --i) {
        at -= widths_[i];
        edges[i - 1] = std::max(0, at);
    }
    SendMessage(SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

CSize CStatusBar::CalcFixedLayout(BOOL, BOOL) {
    return CSize(ClientWidth(::GetParent(m_hWnd)), height_);
}

LRESULT CStatusBar::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = CControlBar::WindowProc(message, wParam, lParam);
    if (message == WM_SIZE)
        UpdateParts();
    return result;
}

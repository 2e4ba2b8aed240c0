// The application framework: application object, windows, message maps, dialogs with data
// exchange, control wrappers, image lists, strings, pointer lists, file dialogs and message
// boxes, under the class names the application is written against. ANSI only, x64.
//
// Threads: one process-wide map ties window handles to objects. Any thread may call a wrapper;
// the map's lock is never held across a call into a window, so a wrapper may send a message to
// a window of another thread. A wrapper stays valid while its window lives.
//
// Test seam: only in the framework's test variant, a program that also links the object
// library framework_seam; its interface is framework_seam.h. What ships has none of it.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <bit>
#include <cstdarg>
#include <string>
#include <vector>

#include "framework_ids.h"

class CWnd;
class CWinApp;
class CFrameWnd;
class CMDIChildWnd;
class CImageList;

// ---------------------------------------------------------------------------------------
// Geometry

class CPoint : public POINT {
  public:
    CPoint() {
        x = 0;
        y = 0;
    }
    CPoint(int ix, int iy) {
        x = ix;
        y = iy;
    }
    CPoint(POINT p) {
        x = p.x;
        y = p.y;
    }
    // From a mouse message's lParam (signed 16-bit coordinates).
    explicit CPoint(LPARAM lParam) {
        x = static_cast<short>(LOWORD(lParam));
        y = static_cast<short>(HIWORD(lParam));
    }
    bool operator==(const CPoint &o) const { return x == o.x && y == o.y; }
};

class CSize : public SIZE {
  public:
    CSize() {
        cx = 0;
        cy = 0;
    }
    CSize(int w, int h) {
        cx = w;
        cy = h;
    }
    CSize(SIZE s) {
        cx = s.cx;
        cy = s.cy;
    }
};

class CRect : public RECT {
  public:
    CRect() { left = top = right = bottom = 0; }
    CRect(int l, int t, int r, int b) {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    CRect(const RECT &r) {
        left = r.left;
        top = r.top;
        right = r.right;
        bottom = r.bottom;
    }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CPoint TopLeft() const { return CPoint(left, top); }
    BOOL PtInRect(POINT p) const { return ::PtInRect(this, p); }
    BOOL IsRectEmpty() const { return ::IsRectEmpty(this); }
    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }
};

// ---------------------------------------------------------------------------------------
// CString: a growable ANSI text that reads as a const char*.

class CString {
  public:
    CString() = default;
    CString(const char *text) : s_(text ? text : "") {}
    CString(const char *text, int length)
        : s_(text ? std::string(text, length > 0 ? length : 0) : "") {}
    CString(const CString &) = default;
    CString &operator=(const CString &) = default;
    CString &operator=(const char *text) {
        s_ = text ? text : "";
        return *this;
    }

    operator const char *() const { return s_.c_str(); }
    int GetLength() const { return static_cast<int>(s_.size()); }
    BOOL IsEmpty() const { return s_.empty(); }
    void Empty() { s_.clear(); }
    char GetAt(int i) const { return s_.at(static_cast<size_t>(i)); }

    CString &operator+=(const char *text) {
        s_ += text ? text : "";
        return *this;
    }
    CString &operator+=(const CString &o) {
        s_ += o.s_;
        return *this;
    }
    CString &operator+=(char c) {
        s_ += c;
        return *this;
    }
    friend CString operator+(const CString &a, const char *b) {
        CString r(a);
        r += b;
        return r;
    }
    friend CString operator+(const char *a, const CString &b) {
        CString r(a);
        r += b;
        return r;
    }
    friend CString operator+(const CString &a, const CString &b) {
        CString r(a);
        r += b;
        return r;
    }
    friend bool operator==(const CString &a, const CString &b) { return a.s_ == b.s_; }
    friend bool operator==(const CString &a, const char *b) { return a.s_ == (b ? b : ""); }
    friend bool operator!=(const CString &a, const char *b) { return !(a == b); }

    // The string `id` of the resource handle; a missing string leaves the text empty and
    // gives FALSE.
    BOOL LoadString(UINT id);
    // printf-style formatting; the format passes to vsnprintf unchanged.
    void Format(const char *format, ...);
    void FormatV(const char *format, va_list args);

    // A writable buffer of at least `minLength` characters plus the terminator.
    // ReleaseBuffer(-1) takes the length up to the first NUL; ReleaseBuffer(n) keeps n.
    char *GetBuffer(int minLength);
    void ReleaseBuffer(int newLength = -1);

  private:
    std::string s_;
};

// ---------------------------------------------------------------------------------------
// CObject, CPtrList

struct __POSITION {};
typedef __POSITION *POSITION;

class CObject;

// A class's name, base and (for DYNCREATE classes) factory.
struct CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    CObject *(*m_pfnCreateObject)();
    CRuntimeClass *m_pBaseClass;

    // A new object of the class; NULL when the class is not DYNCREATE.
    CObject *CreateObject() const;
    BOOL IsDerivedFrom(const CRuntimeClass *base) const;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)                                                                \
  public:                                                                                          \
    static CRuntimeClass class##class_name;                                                        \
    CRuntimeClass *GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name)                                                              \
    DECLARE_DYNAMIC(class_name)                                                                    \
    static CObject *CreateObject();

#define IMPLEMENT_RUNTIMECLASS(class_name, base_name, factory)                                     \
    CRuntimeClass class_name::class##class_name = {#class_name, sizeof(class_name), factory,       \
                                                   RUNTIME_CLASS(base_name)};                      \
    CRuntimeClass *class_name::GetRuntimeClass() const {                                           \
        return RUNTIME_CLASS(class_name);                                                          \
    }

#define IMPLEMENT_DYNAMIC(class_name, base_name)                                                   \
    IMPLEMENT_RUNTIMECLASS(class_name, base_name, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_name)                                                 \
    CObject *class_name::CreateObject() {                                                          \
        return new class_name;                                                                     \
    }                                                                                              \
    IMPLEMENT_RUNTIMECLASS(class_name, base_name, &class_name::CreateObject)

class CObject {
  public:
    virtual ~CObject() = default;
    static CRuntimeClass classCObject;
    virtual CRuntimeClass *GetRuntimeClass() const;
    BOOL IsKindOf(const CRuntimeClass *cls) const;
};

// `object` when it is of class `cls` (or derived from it), else NULL.
CObject *AfxDynamicDownCast(const CRuntimeClass *cls, CObject *object);
#define DYNAMIC_DOWNCAST(class_name, object)                                                       \
    static_cast<class_name *>(AfxDynamicDownCast(RUNTIME_CLASS(class_name), object))

// A doubly linked list of void pointers. The caller owns what the pointers point to.
class CPtrList : public CObject {
  public:
    explicit CPtrList(INT_PTR blockSize = 10);
    ~CPtrList() override;
    CPtrList(const CPtrList &) = delete;
    CPtrList &operator=(const CPtrList &) = delete;

    INT_PTR GetCount() const { return count_; }
    BOOL IsEmpty() const { return count_ == 0; }
    POSITION AddHead(void *value);
    POSITION AddTail(void *value);
    // The head's value, removed; NULL on an empty list.
    void *RemoveHead();
    void *RemoveTail();
    void RemoveAll();
    POSITION GetHeadPosition() const;
    POSITION GetTailPosition() const;
    void *&GetHead();
    // The value at `pos`; `pos` moves on to the next node (NULL after the last).
    void *&GetNext(POSITION &pos);
    void *&GetPrev(POSITION &pos);
    void *&GetAt(POSITION pos);
    void SetAt(POSITION pos, void *value);
    void RemoveAt(POSITION pos);
    POSITION InsertAfter(POSITION pos, void *value);
    POSITION InsertBefore(POSITION pos, void *value);
    // First node holding `value` after `startAfter` (from the head when NULL), else NULL.
    POSITION Find(void *value, POSITION startAfter = nullptr) const;

  private:
    struct Node;
    Node *head_ = nullptr;
    Node *tail_ = nullptr;
    INT_PTR count_ = 0;
};

// ---------------------------------------------------------------------------------------
// Message maps

class CCmdTarget;
typedef void (CCmdTarget::*AFX_PMSG)();

// How an entry's handler is called (which arguments are cracked from wParam/lParam).
enum AfxSig : UINT {
    AfxSig_end = 0,
    AfxSig_v_v,         // void ()                               ON_COMMAND, WM_DESTROY, WM_CLOSE
    AfxSig_i_cs,        // int (LPCREATESTRUCT)                  WM_CREATE
    AfxSig_v_uii,       // void (UINT, int, int)                 WM_SIZE
    AfxSig_b_wuu,       // BOOL (CWnd*, UINT, UINT)              WM_SETCURSOR
    AfxSig_i_wuu,       // int (CWnd*, UINT, UINT)               WM_MOUSEACTIVATE
    AfxSig_v_up,        // void (UINT, CPoint)                   WM_LBUTTONUP, WM_MOUSEMOVE
    AfxSig_v_hdrop,     // void (HDROP)                          WM_DROPFILES
    AfxSig_v_uuu,       // void (UINT, UINT, UINT)               WM_KEYUP
    AfxSig_l_wl,        // LRESULT (WPARAM, LPARAM)              ON_MESSAGE
    AfxSig_v_nmhdr,     // void (NMHDR*, LRESULT*)               ON_NOTIFY, ON_NOTIFY_REFLECT
    AfxSig_v_u,         // void (UINT)                           ON_COMMAND_RANGE
    AfxSig_cmdui,       // void (CCmdUI*)                        ON_UPDATE_COMMAND_UI
    AfxSig_cmdui_range, // void (CCmdUI*)                      ON_UPDATE_COMMAND_UI_RANGE
};

struct AFX_MSGMAP_ENTRY {
    UINT nMessage; // window message; WM_COMMAND / WM_NOTIFY for control entries
    UINT nCode;    // notification code for WM_COMMAND / WM_NOTIFY entries
    UINT nID;      // first control or command id
    UINT nLastID;  // last id of the range
    UINT nSig;     // AfxSig
    AFX_PMSG pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP *(*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY *lpEntries;
};

// Reflected messages (a control's own notifications, offered to the control first).
#define WM_REFLECT_BASE 0xBC00

#define DECLARE_MESSAGE_MAP()                                                                      \
  protected:                                                                                       \
    static const AFX_MSGMAP *GetThisMessageMap();                                                  \
    const AFX_MSGMAP *GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const AFX_MSGMAP *theClass::GetMessageMap() const {                                            \
        return GetThisMessageMap();                                                                \
    }                                                                                              \
    const AFX_MSGMAP *theClass::GetThisMessageMap() {                                              \
        typedef theClass ThisClass;                                                                \
        typedef baseClass TheBaseClass;                                                            \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                                          \
    { 0, 0, 0, 0, AfxSig_end, nullptr }                                                            \
    }                                                                                              \
    ;                                                                                              \
    static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries};                     \
    return &map;                                                                                   \
    }

// A handler of the given type as the generic member pointer of an entry; the entry's
// signature kind names the type it is called as.
#define AFX_MSG_PMSG(type, fn) std::bit_cast<AFX_PMSG>(static_cast<type>(fn))

#define ON_COMMAND(id, fn)                                                                         \
    {WM_COMMAND, 0,          (UINT)(id),                                                           \
     (UINT)(id), AfxSig_v_v, AFX_MSG_PMSG(void(CCmdTarget::*)(), &ThisClass::fn)},
#define ON_CONTROL(code, id, fn)                                                                   \
    {WM_COMMAND, (UINT)(code), (UINT)(id),                                                         \
     (UINT)(id), AfxSig_v_v,   AFX_MSG_PMSG(void(CCmdTarget::*)(), &ThisClass::fn)},
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_EN_CHANGE(id, fn) ON_CONTROL(EN_CHANGE, id, fn)
#define ON_LBN_SELCHANGE(id, fn) ON_CONTROL(LBN_SELCHANGE, id, fn)
#define ON_NOTIFY(code, id, fn)                                                                    \
    {WM_NOTIFY,      (UINT)(code),                                                                 \
     (UINT)(id),     (UINT)(id),                                                                   \
     AfxSig_v_nmhdr, AFX_MSG_PMSG(void(CCmdTarget::*)(NMHDR *, LRESULT *), &ThisClass::fn)},
#define ON_NOTIFY_REFLECT(code, fn)                                                                \
    {WM_REFLECT_BASE + WM_NOTIFY,                                                                  \
     (UINT)(code),                                                                                 \
     0,                                                                                            \
     0,                                                                                            \
     AfxSig_v_nmhdr,                                                                               \
     AFX_MSG_PMSG(void(CCmdTarget::*)(NMHDR *, LRESULT *), &ThisClass::fn)},
// Command codes of OnCmdMsg: run the command, or update its user interface.
#define CN_COMMAND 0
#define CN_UPDATE_COMMAND_UI (-1)

class CCmdUI;
#define ON_COMMAND_RANGE(id, idLast, fn)                                                           \
    {WM_COMMAND,     0,          (UINT)(id),                                                       \
     (UINT)(idLast), AfxSig_v_u, AFX_MSG_PMSG(void(CCmdTarget::*)(UINT), &ThisClass::fn)},
#define ON_UPDATE_COMMAND_UI(id, fn)                                                               \
    {WM_COMMAND,   (UINT)CN_UPDATE_COMMAND_UI,                                                     \
     (UINT)(id),   (UINT)(id),                                                                     \
     AfxSig_cmdui, AFX_MSG_PMSG(void(CCmdTarget::*)(CCmdUI *), &ThisClass::fn)},
#define ON_UPDATE_COMMAND_UI_RANGE(id, idLast, fn)                                                 \
    {WM_COMMAND,         (UINT)CN_UPDATE_COMMAND_UI,                                               \
     (UINT)(id),         (UINT)(idLast),                                                           \
     AfxSig_cmdui_range, AFX_MSG_PMSG(void(CCmdTarget::*)(CCmdUI *), &ThisClass::fn)},
#define ON_MESSAGE(msg, fn)                                                                        \
    {(UINT)(msg), 0,           0,                                                                  \
     0,           AfxSig_l_wl, AFX_MSG_PMSG(LRESULT(CWnd::*)(WPARAM, LPARAM), &ThisClass::fn)},

#define ON_WM_CREATE()                                                                             \
    {WM_CREATE, 0,           0,                                                                    \
     0,         AfxSig_i_cs, AFX_MSG_PMSG(int(CWnd::*)(LPCREATESTRUCT), &ThisClass::OnCreate)},
#define ON_WM_DESTROY()                                                                            \
    {WM_DESTROY, 0, 0, 0, AfxSig_v_v, AFX_MSG_PMSG(void(CWnd::*)(), &ThisClass::OnDestroy)},
#define ON_WM_CLOSE()                                                                              \
    {WM_CLOSE, 0, 0, 0, AfxSig_v_v, AFX_MSG_PMSG(void(CWnd::*)(), &ThisClass::OnClose)},
#define ON_WM_SIZE()                                                                               \
    {WM_SIZE,                                                                                      \
     0,                                                                                            \
     0,                                                                                            \
     0,                                                                                            \
     AfxSig_v_uii,                                                                                 \
     AFX_MSG_PMSG(void(CWnd::*)(UINT, int, int), &ThisClass::OnSize)},
#define ON_WM_SETCURSOR()                                                                          \
    {WM_SETCURSOR,                                                                                 \
     0,                                                                                            \
     0,                                                                                            \
     0,                                                                                            \
     AfxSig_b_wuu,                                                                                 \
     AFX_MSG_PMSG(BOOL(CWnd::*)(CWnd *, UINT, UINT), &ThisClass::OnSetCursor)},
#define ON_WM_MOUSEACTIVATE()                                                                      \
    {WM_MOUSEACTIVATE,                                                                             \
     0,                                                                                            \
     0,                                                                                            \
     0,                                                                                            \
     AfxSig_i_wuu,                                                                                 \
     AFX_MSG_PMSG(int(CWnd::*)(CWnd *, UINT, UINT), &ThisClass::OnMouseActivate)},
#define ON_WM_LBUTTONUP()                                                                          \
    {WM_LBUTTONUP,                                                                                 \
     0,                                                                                            \
     0,                                                                                            \
     0,                                                                                            \
     AfxSig_v_up,                                                                                  \
     AFX_MSG_PMSG(void(CWnd::*)(UINT, CPoint), &ThisClass::OnLButtonUp)},
#define ON_WM_LBUTTONDOWN()                                                                        \
    {WM_LBUTTONDOWN,                                                                               \
     0,                                                                                            \
     0,                                                                                            \
     0,                                                                                            \
     AfxSig_v_up,                                                                                  \
     AFX_MSG_PMSG(void(CWnd::*)(UINT, CPoint), &ThisClass::OnLButtonDown)},
#define ON_WM_MOUSEMOVE()                                                                          \
    {WM_MOUSEMOVE,                                                                                 \
     0,                                                                                            \
     0,                                                                                            \
     0,                                                                                            \
     AfxSig_v_up,                                                                                  \
     AFX_MSG_PMSG(void(CWnd::*)(UINT, CPoint), &ThisClass::OnMouseMove)},
#define ON_WM_DROPFILES()                                                                          \
    {WM_DROPFILES,                                                                                 \
     0,                                                                                            \
     0,                                                                                            \
     0,                                                                                            \
     AfxSig_v_hdrop,                                                                               \
     AFX_MSG_PMSG(void(CWnd::*)(HDROP), &ThisClass::OnDropFiles)},
#define ON_WM_KEYUP()                                                                              \
    {WM_KEYUP,                                                                                     \
     0,                                                                                            \
     0,                                                                                            \
     0,                                                                                            \
     AfxSig_v_uuu,                                                                                 \
     AFX_MSG_PMSG(void(CWnd::*)(UINT, UINT, UINT), &ThisClass::OnKeyUp)},

// ---------------------------------------------------------------------------------------
// CCmdTarget

struct AFX_CMDHANDLERINFO {
    CCmdTarget *pTarget;
    AFX_PMSG pmf;
};

class CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)
  public:
    // Runs the handler of command `nID` with notification `nCode` from this object's map
    // (derived class first, then its bases). TRUE when a handler ran (or, with
    // pHandlerInfo, was found: then it is not run).
    virtual BOOL OnCmdMsg(UINT nID, int nCode, void *pExtra, AFX_CMDHANDLERINFO *pHandlerInfo);

    static const AFX_MSGMAP *GetThisMessageMap();
    virtual const AFX_MSGMAP *GetMessageMap() const;

  protected:
    // The first entry of this object's maps for `message`, `code` and an id in range.
    const AFX_MSGMAP_ENTRY *FindEntry(UINT message, UINT code, UINT id) const;
};

// The user-interface state of one command while its update handler runs: a menu item
// (m_hMenu, m_nIndex) or no element at all (then only the state is recorded).
class CCmdUI {
  public:
    UINT m_nID = 0;
    UINT m_nIndex = 0;          // position in m_hMenu
    HMENU m_hMenu = nullptr;    // the menu holding the item, or NULL
    HMENU m_hSubMenu = nullptr; // set when the item opens a popup (m_nID is its first item)
    BOOL m_bEnableChanged = FALSE;
    BOOL m_bContinueRouting = FALSE;
    BOOL m_bEnabled = TRUE; // the state set by the handlers
    int m_nCheck = 0;

    void Enable(BOOL on = TRUE);
    void SetCheck(int check = 1);
    void SetRadio(BOOL on = TRUE);
    void SetText(LPCSTR text);
    void ContinueRouting() { m_bContinueRouting = TRUE; }
    // Runs `target`'s update route for m_nID; with `disableIfNoHandler`, a command no
    // handler takes is disabled. TRUE when an update handler ran.
    BOOL DoUpdate(CCmdTarget *target, BOOL disableIfNoHandler);
};

// ---------------------------------------------------------------------------------------
// CWnd

class CWnd : public CCmdTarget {
    DECLARE_DYNAMIC(CWnd)
  public:
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd &) = delete;
    CWnd &operator=(const CWnd &) = delete;

    HWND m_hWnd = nullptr;

    operator HWND() const { return m_hWnd; }
    // m_hWnd, or NULL when called through a NULL object pointer.
    HWND GetSafeHwnd() const;

    // The object of `hWnd`: its own (attached) object, else a wrapper made for it that lives
    // while the window does. NULL for a NULL handle.
    static CWnd *FromHandle(HWND hWnd);
    // The attached object of `hWnd`, or NULL.
    static CWnd *FromHandlePermanent(HWND hWnd);
    BOOL Attach(HWND hWnd);
    HWND Detach();
    // Routes the window's messages through this object (for controls of a dialog).
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd *pParent);
    HWND UnsubclassWindow();

    // Creates the window; the object is attached before WM_NCCREATE. A NULL class name takes
    // the framework's own window class.
    virtual BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName,
                          DWORD dwStyle, int x, int y, int nWidth, int nHeight, HWND hWndParent,
                          HMENU nIDorHMenu, LPVOID lpParam = nullptr);
    BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                  const RECT &rect, CWnd *pParentWnd, UINT nID, LPVOID lpParam = nullptr);
    virtual BOOL Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                        const RECT &rect, CWnd *pParentWnd, UINT nID);
    virtual BOOL DestroyWindow();

    virtual BOOL PreCreateWindow(CREATESTRUCTA &cs);
    // Called after the window's last message (WM_NCDESTROY), once it is detached.
    virtual void PostNcDestroy();
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Default processing of the message being handled.
    LRESULT Default();
    virtual BOOL PreTranslateMessage(MSG *pMsg);
    // WM_COMMAND: the control's object first (reflection), then this object's map.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // WM_NOTIFY: the control's object first (ON_NOTIFY_REFLECT), then this object's map.
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT *pResult);
    // A notification offered to the control that sent it; TRUE when it handled it.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT *pResult);

    // Window calls.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    CWnd *GetDlgItem(int nID) const;
    int GetDlgCtrlID() const;
    void SetWindowText(LPCSTR text);
    int GetWindowText(LPSTR buffer, int maxCount) const;
    void GetWindowText(CString &text) const;
    int GetWindowTextLength() const;
    void SetDlgItemText(int nID, LPCSTR text);
    int GetDlgItemText(int nID, CString &text) const;
    void CheckDlgButton(int nID, UINT check);
    UINT IsDlgButtonChecked(int nID) const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    void UpdateWindow();
    void Invalidate(BOOL erase = TRUE);
    void SetRedraw(BOOL redraw = TRUE);
    CWnd *SetFocus();
    static CWnd *GetFocus();
    CWnd *GetParent() const;
    CWnd *GetTopLevelParent() const;
    // The nearest frame among the window's parents, or NULL.
    CFrameWnd *GetParentFrame() const;
    void GetClientRect(LPRECT rect) const;
    void GetWindowRect(LPRECT rect) const;
    void ScreenToClient(LPPOINT point) const;
    void ScreenToClient(LPRECT rect) const;
    void ClientToScreen(LPPOINT point) const;
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
    BOOL SetWindowPos(const CWnd *insertAfter, int x, int y, int cx, int cy, UINT flags);
    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT swpFlags = 0);
    void DragAcceptFiles(BOOL accept = TRUE);
    BOOL SetForegroundWindow();
    CWnd *SetCapture();
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr);
    BOOL KillTimer(UINT_PTR id);
    void SetFont(HFONT font, BOOL redraw = TRUE);
    HFONT GetFont() const;
    void CenterWindow(CWnd *alternateOwner = nullptr);
    // A message box owned by this window, captioned `caption` (the application's name when
    // NULL); through the test seam when it is active.
    int MessageBox(LPCSTR text, LPCSTR caption = nullptr, UINT type = MB_OK);

  protected:
    // Handlers that the message-map macros name; each does default processing.
    int OnCreate(LPCREATESTRUCT cs);
    void OnDestroy();
    void OnClose();
    void OnSize(UINT type, int cx, int cy);
    BOOL OnSetCursor(CWnd *wnd, UINT hitTest, UINT message);
    int OnMouseActivate(CWnd *desktop, UINT hitTest, UINT message);
    void OnLButtonDown(UINT flags, CPoint point);
    void OnLButtonUp(UINT flags, CPoint point);
    void OnMouseMove(UINT flags, CPoint point);
    void OnDropFiles(HDROP drop);
    void OnKeyUp(UINT nChar, UINT repeat, UINT flags);

    // Runs the map entry for a window message; FALSE when there is none.
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT *pResult);

    WNDPROC m_pfnSuper = nullptr; // the window's procedure before the framework's

    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend struct AfxWndInternals;
};

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// ---------------------------------------------------------------------------------------
// Device contexts

class CDC {
  public:
    CDC() = default;
    virtual ~CDC() = default;
    CDC(const CDC &) = delete;
    CDC &operator=(const CDC &) = delete;

    HDC m_hDC = nullptr;
    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const;

    HGDIOBJ SelectObject(HGDIOBJ object) { return ::SelectObject(m_hDC, object); }
    BOOL TextOut(int x, int y, LPCSTR text, int length);
    BOOL TextOut(int x, int y, const CString &text) {
        return TextOut(x, y, text, text.GetLength());
    }
    int DrawText(LPCSTR text, int length, LPRECT rect, UINT format);
    CSize GetTextExtent(LPCSTR text, int length) const;
    BOOL GetTextMetrics(LPTEXTMETRICA metrics) const;
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
    COLORREF SetTextColor(COLORREF color) { return ::SetTextColor(m_hDC, color); }
    void FillSolidRect(LPCRECT rect, COLORREF color);
};

// A window's client-area DC, released when the object goes.
class CClientDC : public CDC {
  public:
    explicit CClientDC(CWnd *wnd);
    ~CClientDC() override;

  private:
    HWND hwnd_;
};

// ---------------------------------------------------------------------------------------
// Image lists

// An image list. An object made by Create owns its list and destroys it; one that wraps a
// list it did not create (Attach, FromHandle) never does.
class CImageList : public CObject {
  public:
    CImageList() = default;
    ~CImageList() override;
    CImageList(const CImageList &) = delete;
    CImageList &operator=(const CImageList &) = delete;

    HIMAGELIST m_hImageList = nullptr;
    operator HIMAGELIST() const { return m_hImageList; }
    HIMAGELIST GetSafeHandle() const;

    BOOL Create(int cx, int cy, UINT flags, int initial, int grow);
    BOOL DeleteImageList();
    BOOL Attach(HIMAGELIST list); // wraps without owning
    HIMAGELIST Detach();
    static CImageList *FromHandle(HIMAGELIST list);

    int Add(HICON icon);
    int GetImageCount() const;
    HICON ExtractIcon(int image);

    BOOL BeginDrag(int image, CPoint hotSpot);
    static BOOL DragEnter(CWnd *lock, CPoint point);
    static BOOL DragMove(CPoint point);
    static BOOL DragLeave(CWnd *lock);
    static void EndDrag();
    static BOOL DragShowNolock(BOOL show);

  private:
    void Own(HIMAGELIST list);
    bool owned_ = false;
    friend class CListCtrl;
};

// ---------------------------------------------------------------------------------------
// Control wrappers. None has data members of its own, so the CWnd that GetDlgItem returns
// may be cast to one. Each call sends the control's own message.

class CButton : public CWnd {
  public:
    BOOL Create(LPCSTR caption, DWORD style, const RECT &rect, CWnd *parent, UINT id);
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int check) { SendMessage(BM_SETCHECK, check); }
    UINT GetState() const { return static_cast<UINT>(SendMessage(BM_GETSTATE)); }
    void SetState(BOOL highlight) { SendMessage(BM_SETSTATE, highlight); }
    void SetButtonStyle(UINT style, BOOL redraw = TRUE) { SendMessage(BM_SETSTYLE, style, redraw); }
    UINT GetButtonStyle() const { return static_cast<UINT>(GetStyle() & 0xFF); }
};

class CEdit : public CWnd {
  public:
    BOOL Create(DWORD style, const RECT &rect, CWnd *parent, UINT id);
    void SetLimitText(UINT max) { SendMessage(EM_SETLIMITTEXT, max); }
    void LimitText(int max = 0) { SendMessage(EM_LIMITTEXT, max); }
    UINT GetLimitText() const { return static_cast<UINT>(SendMessage(EM_GETLIMITTEXT)); }
    void SetSel(int start, int end, BOOL noScroll = FALSE);
    void GetSel(int &start, int &end) const;
    void ReplaceSel(LPCSTR text, BOOL canUndo = FALSE);
    BOOL SetReadOnly(BOOL readOnly = TRUE) {
        return static_cast<BOOL>(SendMessage(EM_SETREADONLY, readOnly));
    }
    int GetLineCount() const { return static_cast<int>(SendMessage(EM_GETLINECOUNT)); }
    void SetPasswordChar(char c) { SendMessage(EM_SETPASSWORDCHAR, static_cast<BYTE>(c)); }
};

class CListBox : public CWnd {
  public:
    BOOL Create(DWORD style, const RECT &rect, CWnd *parent, UINT id);
    int GetCount() const { return static_cast<int>(SendMessage(LB_GETCOUNT)); }
    int AddString(LPCSTR text) {
        return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
    }
    int InsertString(int index, LPCSTR text);
    int DeleteString(UINT index) { return static_cast<int>(SendMessage(LB_DELETESTRING, index)); }
    void ResetContent() { SendMessage(LB_RESETCONTENT); }
    int GetCurSel() const { return static_cast<int>(SendMessage(LB_GETCURSEL)); }
    int SetCurSel(int index) { return static_cast<int>(SendMessage(LB_SETCURSEL, index)); }
    int GetSel(int index) const { return static_cast<int>(SendMessage(LB_GETSEL, index)); }
    int SetSel(int index, BOOL select = TRUE) {
        return static_cast<int>(SendMessage(LB_SETSEL, select, index));
    }
    int GetSelCount() const { return static_cast<int>(SendMessage(LB_GETSELCOUNT)); }
    int GetSelItems(int maxItems, LPINT items) const;
    int GetTextLen(int index) const { return static_cast<int>(SendMessage(LB_GETTEXTLEN, index)); }
    // The text of item `index` into `buffer`, which must hold GetTextLen + 1 characters.
    int GetText(int index, LPSTR buffer) const;
    void GetText(int index, CString &text) const;
    // Wine's list box compares without regard to case.
    int FindStringExact(int startAfter, LPCSTR text) const;
    int FindString(int startAfter, LPCSTR text) const;
    DWORD_PTR GetItemData(int index) const {
        return static_cast<DWORD_PTR>(SendMessage(LB_GETITEMDATA, index));
    }
    int SetItemData(int index, DWORD_PTR data) {
        return static_cast<int>(SendMessage(LB_SETITEMDATA, index, static_cast<LPARAM>(data)));
    }
};

class CIPAddressCtrl : public CWnd {
  public:
    BOOL Create(DWORD style, const RECT &rect, CWnd *parent, UINT id);
    BOOL IsBlank() const { return static_cast<BOOL>(SendMessage(IPM_ISBLANK)); }
    void ClearAddress() { SendMessage(IPM_CLEARADDRESS); }
    // The number of non-blank fields; blank fields read 0.
    int GetAddress(BYTE &f0, BYTE &f1, BYTE &f2, BYTE &f3) const;
    int GetAddress(DWORD &address) const;
    void SetAddress(BYTE f0, BYTE f1, BYTE f2, BYTE f3);
    void SetAddress(DWORD address) { SendMessage(IPM_SETADDRESS, 0, static_cast<LPARAM>(address)); }
    void SetFieldFocus(WORD field) { SendMessage(IPM_SETFOCUS, field); }
    void SetFieldRange(int field, BYTE low, BYTE high);
};

class CSpinButtonCtrl : public CWnd {
  public:
    BOOL Create(DWORD style, const RECT &rect, CWnd *parent, UINT id);
    void SetRange(short lower, short upper) { SetRange32(lower, upper); }
    void SetRange32(int lower, int upper) { SendMessage(UDM_SETRANGE32, lower, upper); }
    void GetRange(int &lower, int &upper) const;
    // Sets the position, clamped to the range; the previous position.
    int SetPos(int pos);
    int GetPos() const;
    CWnd *SetBuddy(CWnd *buddy);
    CWnd *GetBuddy() const;
    int SetBase(int base) { return static_cast<int>(SendMessage(UDM_SETBASE, base)); }
};

class CListCtrl : public CWnd {
    DECLARE_DYNAMIC(CListCtrl)
  public:
    BOOL Create(DWORD style, const RECT &rect, CWnd *parent, UINT id);

    // Columns.
    int InsertColumn(int col, LPCSTR heading, int format = LVCFMT_LEFT, int width = -1,
                     int subItem = -1);
    BOOL DeleteColumn(int col) { return static_cast<BOOL>(SendMessage(LVM_DELETECOLUMN, col)); }
    int GetColumnWidth(int col) const {
        return static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, col));
    }
    BOOL SetColumnWidth(int col, int cx) {
        return static_cast<BOOL>(SendMessage(LVM_SETCOLUMNWIDTH, col, cx));
    }

    // Items.
    int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
    int InsertItem(const LVITEMA *item);
    int InsertItem(int index, LPCSTR text);
    int InsertItem(int index, LPCSTR text, int image);
    int InsertItem(UINT mask, int index, LPCSTR text, UINT state, UINT stateMask, int image,
                   LPARAM lParam);
    BOOL DeleteItem(int index) { return static_cast<BOOL>(SendMessage(LVM_DELETEITEM, index)); }
    BOOL DeleteAllItems() { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS)); }
    BOOL GetItem(LVITEMA *item) const;
    BOOL SetItem(const LVITEMA *item);
    BOOL SetItemText(int index, int subItem, LPCSTR text);
    // The text into `buffer` of `length` characters, always terminated; the length copied.
    int GetItemText(int index, int subItem, LPSTR buffer, int length) const;
    CString GetItemText(int index, int subItem) const;
    DWORD_PTR GetItemData(int index) const;
    BOOL SetItemData(int index, DWORD_PTR data);
    UINT GetItemState(int index, UINT mask) const;
    BOOL SetItemState(int index, UINT state, UINT mask);
    int GetNextItem(int start, int flags) const;
    UINT GetSelectedCount() const { return static_cast<UINT>(SendMessage(LVM_GETSELECTEDCOUNT)); }
    POSITION GetFirstSelectedItemPosition() const;
    int GetNextSelectedItem(POSITION &pos) const;
    int FindItem(LVFINDINFOA *find, int start = -1) const;
    int HitTest(CPoint point, UINT *flags = nullptr) const;
    BOOL EnsureVisible(int index, BOOL partialOK) {
        return static_cast<BOOL>(SendMessage(LVM_ENSUREVISIBLE, index, partialOK));
    }
    BOOL SortItems(PFNLVCOMPARE compare, DWORD_PTR data);
    BOOL Arrange(UINT code) { return static_cast<BOOL>(SendMessage(LVM_ARRANGE, code)); }
    BOOL GetItemRect(int index, LPRECT rect, UINT code) const;
    BOOL GetItemPosition(int index, LPPOINT point) const;

    // Styles.
    DWORD GetExtendedStyle() const {
        return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE));
    }
    DWORD SetExtendedStyle(DWORD style) {
        return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style));
    }

    // Image lists. The control gets LVS_SHAREIMAGELISTS first, so the list outlives it: only
    // a CImageList destroys a list.
    CImageList *SetImageList(CImageList *list, int kind);
    CImageList *GetImageList(int kind) const;
    // A drag image of the row, on the heap: the caller deletes it (NULL on failure).
    CImageList *CreateDragImage(int index, LPPOINT upLeft);
};

class CTreeCtrl : public CWnd {
    DECLARE_DYNAMIC(CTreeCtrl)
  public:
    BOOL Create(DWORD style, const RECT &rect, CWnd *parent, UINT id);

    HTREEITEM InsertItem(const TVINSERTSTRUCTA *insert);
    HTREEITEM InsertItem(UINT mask, LPCSTR text, int image, int selectedImage, UINT state,
                         UINT stateMask, LPARAM lParam, HTREEITEM parent, HTREEITEM after);
    HTREEITEM InsertItem(LPCSTR text, HTREEITEM parent = TVI_ROOT, HTREEITEM after = TVI_LAST);
    HTREEITEM InsertItem(LPCSTR text, int image, int selectedImage, HTREEITEM parent = TVI_ROOT,
                         HTREEITEM after = TVI_LAST);
    BOOL DeleteItem(HTREEITEM item);
    BOOL DeleteAllItems() { return DeleteItem(TVI_ROOT); }
    UINT GetCount() const { return static_cast<UINT>(SendMessage(TVM_GETCOUNT)); }

    HTREEITEM GetNextItem(HTREEITEM item, UINT code) const;
    HTREEITEM GetRootItem() const { return GetNextItem(nullptr, TVGN_ROOT); }
    HTREEITEM GetChildItem(HTREEITEM item) const { return GetNextItem(item, TVGN_CHILD); }
    HTREEITEM GetNextSiblingItem(HTREEITEM item) const { return GetNextItem(item, TVGN_NEXT); }
    HTREEITEM GetPrevSiblingItem(HTREEITEM item) const { return GetNextItem(item, TVGN_PREVIOUS); }
    HTREEITEM GetParentItem(HTREEITEM item) const { return GetNextItem(item, TVGN_PARENT); }
    HTREEITEM GetSelectedItem() const { return GetNextItem(nullptr, TVGN_CARET); }
    HTREEITEM GetDropHilightItem() const { return GetNextItem(nullptr, TVGN_DROPHILITE); }
    BOOL SelectItem(HTREEITEM item);
    BOOL SelectDropTarget(HTREEITEM item);
    BOOL Expand(HTREEITEM item, UINT code);
    BOOL EnsureVisible(HTREEITEM item);
    BOOL ItemHasChildren(HTREEITEM item) const;

    BOOL GetItem(TVITEMA *item) const;
    BOOL SetItem(TVITEMA *item);
    CString GetItemText(HTREEITEM item) const;
    BOOL SetItemText(HTREEITEM item, LPCSTR text);
    DWORD_PTR GetItemData(HTREEITEM item) const;
    BOOL SetItemData(HTREEITEM item, DWORD_PTR data);
    BOOL GetItemImage(HTREEITEM item, int &image, int &selectedImage) const;
    BOOL SetItemImage(HTREEITEM item, int image, int selectedImage);
    UINT GetItemState(HTREEITEM item, UINT mask) const;
    BOOL SetItemState(HTREEITEM item, UINT state, UINT mask);
    BOOL GetItemRect(HTREEITEM item, LPRECT rect, BOOL textOnly) const;
    HTREEITEM HitTest(CPoint point, UINT *flags = nullptr) const;
    BOOL SortChildren(HTREEITEM item);

    // A tree view keeps its image list when it is destroyed; the CImageList owns it.
    CImageList *SetImageList(CImageList *list, int kind);
    CImageList *GetImageList(int kind) const;
};

// ---------------------------------------------------------------------------------------
// Dialogs and data exchange

class CDataExchange {
  public:
    CDataExchange(CWnd *dlg, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dlg) {}
    BOOL m_bSaveAndValidate; // TRUE: controls to members; FALSE: members to controls
    CWnd *m_pDlgWnd;
    HWND PrepareCtrl(int nID);
};

void DDX_Text(CDataExchange *pDX, int nIDC, CString &value);
void DDX_Check(CDataExchange *pDX, int nIDC, int &value);
// Binds `control` to the dialog's control `nIDC` (once); it detaches when the control dies.
void DDX_Control(CDataExchange *pDX, int nIDC, CWnd &control);

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
  public:
    CDialog() = default;
    explicit CDialog(UINT nIDTemplate, CWnd *pParentWnd = nullptr);

    // Runs the dialog from template m_nIDHelp of the resource handle; the owner (the parent,
    // else the main window) is disabled meanwhile. The code given to EndDialog; -1 when the
    // template is missing or the dialog cannot be made.
    virtual INT_PTR DoModal();
    // Ends a modal dialog with `result`; also valid inside OnInitDialog (the dialog is then
    // never shown). Nothing else ends a modal dialog.
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange *pDX);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    void SetDefID(UINT nID) { SendMessage(DM_SETDEFID, nID); }
    DWORD GetDefID() const { return static_cast<DWORD>(SendMessage(DM_GETDEFID)); }
    void GotoDlgCtrl(CWnd *control);
    void NextDlgCtrl() const;
    void PrevDlgCtrl() const;

    BOOL PreTranslateMessage(MSG *pMsg) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    UINT m_nIDHelp = 0; // template id

  protected:
    CWnd *m_pParentWnd = nullptr;
    DECLARE_MESSAGE_MAP()

  private:
    int modalResult_ = 0;
    bool inModal_ = false;
    bool ended_ = false;
};

// ---------------------------------------------------------------------------------------
// File dialogs

class CFileDialog : public CDialog {
  public:
    // `filter` is "Name|*.ext|...|" ('|' becomes NUL); OFN_EXPLORER is always added.
    CFileDialog(BOOL openFileDialog, LPCSTR defExt = nullptr, LPCSTR fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCSTR filter = nullptr,
                CWnd *parentWnd = nullptr);

    // The application may point lpstrFile (with nMaxFile) at a buffer of its own.
    OPENFILENAMEA m_ofn;

    // IDOK or IDCANCEL. A cancel, or a buffer too small for the answer, leaves lpstrFile empty.
    INT_PTR DoModal() override;
    // The chosen file's full path (the first one of a multiple selection).
    CString GetPathName() const;
    CString GetFileName() const;
    // Walks the chosen files: the two-part multiple-selection answer ("folder\0name\0...\0")
    // and the one-file answer (a full path) alike.
    POSITION GetStartPosition() const;
    CString GetNextPathName(POSITION &pos) const;

  private:
    BOOL open_;
    std::string filter_;
    std::string defExt_;
    char file_[MAX_PATH] = {};
    char title_[MAX_PATH] = {};
};

// ---------------------------------------------------------------------------------------
// Frame windows

// Frame style: the title also names the active document.
#define FWS_ADDTOTITLE 0x00008000L

// Control bar styles (kept by the bar, never given to its window).
#define CBRS_ALIGN_LEFT 0x1000L
#define CBRS_ALIGN_TOP 0x2000L
#define CBRS_ALIGN_RIGHT 0x4000L
#define CBRS_ALIGN_BOTTOM 0x8000L
#define CBRS_ALIGN_ANY 0xF000L
#define CBRS_BORDER_LEFT 0x0100L
#define CBRS_BORDER_TOP 0x0200L
#define CBRS_BORDER_RIGHT 0x0400L
#define CBRS_BORDER_BOTTOM 0x0800L
#define CBRS_TOP (CBRS_ALIGN_TOP | CBRS_BORDER_BOTTOM)
#define CBRS_BOTTOM (CBRS_ALIGN_BOTTOM | CBRS_BORDER_TOP)
#define CBRS_ALL 0x0040FFFFL

// Layout modes of CalcDynamicLayout.
#define LM_STRETCH 0x01
#define LM_HORZ 0x02
#define LM_MRUWIDTH 0x04
#define LM_HORZDOCK 0x08
#define LM_VERTDOCK 0x10
#define LM_LENGTHY 0x20
#define LM_COMMIT 0x40

// The style of a view in a pane.
#define AFX_WS_DEFAULT_VIEW (WS_CHILD | WS_VISIBLE | WS_BORDER)

// The first command id of the Window menu's list of MDI children.
#define AFX_IDM_FIRST_MDICHILD 0xFF00

class CDocument;
class CDocTemplate;
class CView;
class CControlBar;

// What a frame being created needs to make its views.
struct CCreateContext {
    CRuntimeClass *m_pNewViewClass = nullptr;
    CDocument *m_pCurrentDoc = nullptr;
    CDocTemplate *m_pNewDocTemplate = nullptr;
    CView *m_pLastView = nullptr;
    CFrameWnd *m_pCurrentFrame = nullptr;
};

// A frame with a menu and accelerators from the resource handle. Commands route to the
// active view (then its document and template), the frame, then the application; a menu,
// accelerator or tool bar command (lParam 0, or from a tool bar) whose update route
// disables it is dropped before any handler runs; control notifications pass.
class CFrameWnd : public CWnd {
    DECLARE_DYNAMIC(CFrameWnd)
  public:
    CFrameWnd() = default;
    ~CFrameWnd() override;

    // Creates the frame with menu, accelerators and icon `nIDResource` and the title from
    // the string of that id (up to its first '\n'). FALSE when the window cannot be made
    // or, for a frame without a parent, the menu is missing.
    virtual BOOL LoadFrame(UINT nIDResource, DWORD style = WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE,
                           CWnd *parentWnd = nullptr, CCreateContext *context = nullptr);

    // TRUE: a menu item without any handler is greyed; FALSE: left enabled.
    BOOL m_bAutoMenuEnable = TRUE;
    HACCEL m_hAccelTable = nullptr;
    HMENU m_hMenuDefault = nullptr;
    UINT m_nIDHelp = 0;
    CString m_strTitle; // the frame's own title, from the string of its resource id

    // Called from WM_CREATE with the context LoadFrame was given; the default makes one
    // view of the context's view class. FALSE fails the creation.
    virtual BOOL OnCreateClient(LPCREATESTRUCT cs, CCreateContext *context);
    // A view of the context's class as child `nID` of the frame; NULL on failure.
    CWnd *CreateView(CCreateContext *context, UINT nID = AFX_IDW_PANE_FIRST);

    CView *GetActiveView() const { return m_pViewActive; }
    virtual void SetActiveView(CView *view, BOOL notify = TRUE);
    // The frame whose view is active: this frame, or for an MDI frame its active child.
    virtual CFrameWnd *GetActiveFrame() { return this; }
    // The document of the active frame's active view, or NULL.
    virtual CDocument *GetActiveDocument();
    // Sets the active view (the first pane when none is) and runs each view's
    // OnInitialUpdate once; with `makeVisible` shows and activates the frame.
    void InitialUpdateFrame(CDocument *doc, BOOL makeVisible);
    virtual void ActivateFrame(int nCmdShow = -1);
    // With FWS_ADDTOTITLE: "<title> - <document>" (the title alone without a document).
    virtual void OnUpdateFrameTitle(BOOL addToTitle);

    // Lays out from the client rectangle: tool bars along the top, the status bar and then
    // dialog bars along the bottom (hidden bars take no space), the pane window (or the MDI
    // client) in the rest.
    virtual void RecalcLayout(BOOL notify = TRUE);
    void EnableDocking(DWORD style) { dockStyle_ = style & CBRS_ALIGN_ANY; }
    void DockControlBar(CControlBar *bar);
    void ShowControlBar(CControlBar *bar, BOOL show, BOOL delay);
    CControlBar *GetControlBar(UINT nID) const;

    BOOL OnCmdMsg(UINT nID, int nCode, void *pExtra, AFX_CMDHANDLERINFO *pHandlerInfo) override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    BOOL PreTranslateMessage(MSG *pMsg) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Frames live on the heap: the object goes with its window.
    void PostNcDestroy() override;

    // Runs the update route of each item of `popup` (a popup item follows its first item).
    void OnInitMenuPopup(HMENU popup, UINT index, BOOL sysMenu);
    // TRUE when command `nID`'s update route leaves it enabled.
    BOOL IsCommandEnabled(UINT nID);

  protected:
    int OnCreate(LPCREATESTRUCT cs);
    void OnSize(UINT type, int cx, int cy);
    // The main frame saves and closes every document first; the last frame of a document
    // asks to save it and closes the document; any other frame just goes.
    void OnClose();
    // The document this frame shows: the active view's, else that of any view inside.
    CDocument *FrameDocument();
    DECLARE_MESSAGE_MAP()

    CView *m_pViewActive = nullptr;
    CCreateContext *createContext_ = nullptr;
    DWORD frameStyle_ = 0;
    DWORD dockStyle_ = 0;
    std::vector<HWND> bars_; // control bars in docking order

  private:
    friend class CControlBar;
    friend class CView;
};

// ---------------------------------------------------------------------------------------
// Control bars

// A bar docked along an edge of its frame. Commands and notifications of its controls go
// to the bar's own map, then to its owner (the parent frame).
class CControlBar : public CWnd {
    DECLARE_DYNAMIC(CControlBar)
  public:
    DWORD m_dwStyle = 0;     // CBRS_ styles
    DWORD m_dwDockStyle = 0; // edges it may dock to

    void EnableDocking(DWORD style) { m_dwDockStyle = style & CBRS_ALIGN_ANY; }
    DWORD GetBarStyle() const { return m_dwStyle; }
    void SetBarStyle(DWORD style) { m_dwStyle = style; }
    BOOL IsVisible() const { return IsWindowVisible(); }
    CFrameWnd *GetDockingFrame() const;

    // The size the bar takes: its height along a horizontal edge.
    virtual CSize CalcFixedLayout(BOOL stretch, BOOL horz);
    // The size for the layout `mode` (LM_ flags); the default is CalcFixedLayout.
    virtual CSize CalcDynamicLayout(int length, DWORD mode);

    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT *pResult) override;

  protected:
    // Registers a newly made bar with its parent frame.
    void Register();
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// A bar made from a child dialog template.
class CDialogBar : public CControlBar {
    DECLARE_DYNAMIC(CDialogBar)
  public:
    // The dialog `nIDTemplate` of the resource handle as child `nID` of `parent`, shown;
    // m_sizeDefault takes its size.
    BOOL Create(CWnd *parent, UINT nIDTemplate, UINT style, UINT nID);
    CSize CalcFixedLayout(BOOL stretch, BOOL horz) override;

    CSize m_sizeDefault;
};

// A row of buttons from a tool bar resource (type 241: version 1, button width and
// height, count, command ids with 0 for a separator) and the bitmap of the same id.
class CToolBar : public CControlBar {
    DECLARE_DYNAMIC(CToolBar)
  public:
    ~CToolBar() override;
    BOOL CreateEx(CWnd *parent, DWORD ctrlStyle = TBSTYLE_FLAT,
                  DWORD style = WS_CHILD | WS_VISIBLE | CBRS_ALIGN_TOP,
                  CRect borders = CRect(0, 0, 0, 0), UINT nID = AFX_IDW_TOOLBAR);
    BOOL Create(CWnd *parent, DWORD style = WS_CHILD | WS_VISIBLE | CBRS_TOP,
                UINT nID = AFX_IDW_TOOLBAR);
    // FALSE for a missing resource, another version, fewer ids than the count, or a
    // missing bitmap.
    BOOL LoadToolBar(UINT nIDResource);
    int GetCount() const;
    UINT GetItemID(int index) const;
    CSize CalcFixedLayout(BOOL stretch, BOOL horz) override;

  private:
    HBITMAP bitmap_ = nullptr;
};

#define ID_SEPARATOR 0

// The status line: panes of indicator texts (strings of their ids), the first stretching.
class CStatusBar : public CControlBar {
    DECLARE_DYNAMIC(CStatusBar)
  public:
    BOOL Create(CWnd *parent, DWORD style = WS_CHILD | WS_VISIBLE | CBRS_BOTTOM,
                UINT nID = AFX_IDW_STATUS_BAR);
    BOOL SetIndicators(const UINT *ids, int count);
    BOOL SetPaneText(int index, LPCSTR text);
    CSize CalcFixedLayout(BOOL stretch, BOOL horz) override;

  protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void UpdateParts();
    std::vector<UINT> ids_;
    std::vector<int> widths_;
    int height_ = 0;
};

// ---------------------------------------------------------------------------------------
// MDI frames

// The main frame of the multiple-document interface: its client is the MDI client, whose
// Window menu (the popup holding 57649-57651) lists the children from 0xFF00. Commands go
// to the active child first; those nobody handles go to DefFrameProc.
class CMDIFrameWnd : public CFrameWnd {
    DECLARE_DYNAMIC(CMDIFrameWnd)
  public:
    HWND m_hWndMDIClient = nullptr;

    BOOL OnCreateClient(LPCREATESTRUCT cs, CCreateContext *context) override;
    CFrameWnd *GetActiveFrame() override;
    // The active child (NULL when there is none).
    CMDIChildWnd *MDIGetActive(BOOL *maximized = nullptr) const;
    void MDIActivate(CWnd *child);
    void MDINext();
    void MDICascade() { ::SendMessageA(m_hWndMDIClient, WM_MDICASCADE, 0, 0); }
    void MDITile(UINT how = MDITILE_HORIZONTAL) {
        ::SendMessageA(m_hWndMDIClient, WM_MDITILE, how, 0);
    }

    BOOL OnCmdMsg(UINT nID, int nCode, void *pExtra, AFX_CMDHANDLERINFO *pHandlerInfo) override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    BOOL PreTranslateMessage(MSG *pMsg) override;
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  protected:
    // Arrange, cascade, tile: enabled while a child is open.
    void OnWindowCommand(UINT id);
    void OnUpdateWindowCommand(CCmdUI *cmdUI);
    DECLARE_MESSAGE_MAP()
};

// A child of the MDI client. Its text is its document's title; DestroyWindow goes through
// WM_MDIDESTROY.
class CMDIChildWnd : public CFrameWnd {
    DECLARE_DYNAMIC(CMDIChildWnd)
  public:
    // Created in the main frame's MDI client (`parentWnd` or the main window), hidden until
    // InitialUpdateFrame. On FALSE a child whose window was made is gone already.
    BOOL LoadFrame(UINT nIDResource, DWORD style = WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE,
                   CWnd *parentWnd = nullptr, CCreateContext *context = nullptr) override;
    CMDIFrameWnd *GetMDIFrame() const;
    BOOL DestroyWindow() override;
    void ActivateFrame(int nCmdShow = -1) override;
    void OnUpdateFrameTitle(BOOL addToTitle) override;
    BOOL PreTranslateMessage(MSG *pMsg) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// ---------------------------------------------------------------------------------------
// Documents

// Reads or writes a document's file. Errors are kept: a write after a failure does
// nothing, and Failed() tells the document not to trust the file.
class CArchive {
  public:
    enum Mode { store = 0, load = 1 };
    CArchive(HANDLE file, UINT mode) : file_(file), mode_(mode) {}
    CArchive(const CArchive &) = delete;
    CArchive &operator=(const CArchive &) = delete;

    BOOL IsStoring() const { return mode_ == store; }
    BOOL IsLoading() const { return mode_ == load; }
    void Write(const void *data, UINT count);
    // The number of bytes read (fewer at the end of the file).
    UINT Read(void *data, UINT count);
    BOOL Failed() const { return error_ != 0; }
    DWORD GetError() const { return error_; }

  private:
    HANDLE file_;
    UINT mode_;
    DWORD error_ = 0;
};

class CDocument : public CCmdTarget {
    DECLARE_DYNAMIC(CDocument)
  public:
    CDocument() = default;
    ~CDocument() override;

    virtual BOOL OnNewDocument();
    // Loads `path` through Serialize; a failure shows one message and gives FALSE.
    virtual BOOL OnOpenDocument(LPCSTR path);
    // Writes through Serialize into a new file beside `path`, then moves it over `path`: a
    // failed save leaves the old file as it was and the document modified, with one
    // message naming the path and the system's text.
    virtual BOOL OnSaveDocument(LPCSTR path);
    // Destroys the frames showing the document, then (m_bAutoDelete) the document.
    virtual void OnCloseDocument();
    virtual void Serialize(CArchive &ar);
    virtual void DeleteContents();

    // The frames showing the document follow the new title at once.
    virtual void SetTitle(LPCSTR title);
    const CString &GetTitle() const { return m_strTitle; }
    // The full path; its leaf becomes the title; with `addToMRU` it heads the recent files.
    virtual void SetPathName(LPCSTR path, BOOL addToMRU = TRUE);
    const CString &GetPathName() const { return m_strPathName; }
    virtual BOOL IsModified() { return m_bModified; }
    virtual void SetModifiedFlag(BOOL modified = TRUE) { m_bModified = modified; }

    // Save As (path NULL: prompt with the template's filter and extension and
    // OFN_OVERWRITEPROMPT) or Save to `path`.
    virtual BOOL DoSave(LPCSTR path, BOOL replace = TRUE);
    virtual BOOL DoFileSave();
    // Asks Yes/No/Cancel when modified; FALSE when the user cancels or the save fails.
    virtual BOOL SaveModified();
    // TRUE when `frame` may close: another frame still shows the document, or the save
    // question allows it.
    virtual BOOL CanCloseFrame(CFrameWnd *frame);

    // The document's own views, in the order they were added.
    virtual void AddView(CView *view);
    virtual void RemoveView(CView *view);
    POSITION GetFirstViewPosition() const { return views_.GetHeadPosition(); }
    CView *GetNextView(POSITION &pos) const;
    void UpdateAllViews(CView *sender, LPARAM hint = 0, CObject *hintObject = nullptr);
    // Called when a view comes or goes: without views (and m_bAutoDelete) the document
    // closes.
    virtual void OnChangedViewList();
    CDocTemplate *GetDocTemplate() const { return m_pDocTemplate; }

    // The document map, then its template's.
    BOOL OnCmdMsg(UINT nID, int nCode, void *pExtra, AFX_CMDHANDLERINFO *pHandlerInfo) override;

    // The save dialog's filter and default extension when the document has no template
    // ("" for any file).
    CString m_strFilter;
    CString m_strDefExt;
    BOOL m_bAutoDelete = TRUE;
    CDocTemplate *m_pDocTemplate = nullptr;

  protected:
    void OnFileSave();
    void OnFileSaveAs();
    void UpdateFrameTitles();
    CString m_strTitle;
    CString m_strPathName;
    BOOL m_bModified = FALSE;
    DECLARE_MESSAGE_MAP()

  private:
    CPtrList views_;
};

// ---------------------------------------------------------------------------------------
// Views

// A window showing a document. The framework never calls OnDraw: control views paint as
// their controls do. A clicked (or focused) view becomes its frame's active view.
class CView : public CWnd {
    DECLARE_DYNAMIC(CView)
  public:
    ~CView() override;
    CDocument *GetDocument() const { return m_pDocument; }
    using CWnd::Create;
    // Creates the view as child `nID` of `parent`; the context's document takes it.
    virtual BOOL Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT &rect,
                        CWnd *parent, UINT nID, CCreateContext *context);
    // Once, after the frame and document are complete; the default runs OnUpdate.
    virtual void OnInitialUpdate();
    virtual void OnUpdate(CView *sender, LPARAM hint, CObject *hintObject);
    virtual void OnDraw(CDC *dc) = 0;
    virtual void OnActivateView(BOOL activate, CView *activateView, CView *deactiveView);

    // The view's map, then its document's (and template's).
    BOOL OnCmdMsg(UINT nID, int nCode, void *pExtra, AFX_CMDHANDLERINFO *pHandlerInfo) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Views live on the heap: the object goes with its window.
    void PostNcDestroy() override;

  protected:
    CDocument *m_pDocument = nullptr;

  private:
    friend class CDocument;
    friend class CFrameWnd;
    CCreateContext *createContext_ = nullptr;
    bool initialUpdated_ = false;
};

// A view that is a common control of class `className`.
class CCtrlView : public CView {
    DECLARE_DYNAMIC(CCtrlView)
  public:
    CCtrlView(LPCSTR className, DWORD style) : className_(className), style_(style) {}
    BOOL PreCreateWindow(CREATESTRUCTA &cs) override;
    void OnDraw(CDC *) override {}

  private:
    LPCSTR className_;
    DWORD style_;
};

class CListView : public CCtrlView {
    DECLARE_DYNAMIC(CListView)
  public:
    CListView() : CCtrlView(WC_LISTVIEWA, AFX_WS_DEFAULT_VIEW) {}
    ~CListView() override { ctrl_.m_hWnd = nullptr; }
    // The view's own window as a list control.
    CListCtrl &GetListCtrl() const {
        ctrl_.m_hWnd = m_hWnd;
        return ctrl_;
    }

  private:
    mutable CListCtrl ctrl_; // an unattached wrapper of the view's handle
};

class CTreeView : public CCtrlView {
    DECLARE_DYNAMIC(CTreeView)
  public:
    CTreeView() : CCtrlView(WC_TREEVIEWA, AFX_WS_DEFAULT_VIEW) {}
    ~CTreeView() override { ctrl_.m_hWnd = nullptr; }
    // The view's own window as a tree control.
    CTreeCtrl &GetTreeCtrl() const {
        ctrl_.m_hWnd = m_hWnd;
        return ctrl_;
    }

  private:
    mutable CTreeCtrl ctrl_;
};

// ---------------------------------------------------------------------------------------
// Splitter

// A static splitter: rows x columns of panes with ids AFX_IDW_PANE_FIRST + 16 * row + col.
// Each column but the last is as wide as its view was made (the last takes the rest), the
// same for rows; dividers of kSplitterGap pixels between. Dragging a divider with the left
// button (through the mouse handlers of the map) moves it.
class CSplitterWnd : public CWnd {
    DECLARE_DYNAMIC(CSplitterWnd)
  public:
    static constexpr int kSplitterGap = 6;

    BOOL CreateStatic(CWnd *parent, int rows, int cols, DWORD style = WS_CHILD | WS_VISIBLE,
                      UINT nID = AFX_IDW_PANE_FIRST);
    // A view of `viewClass` (DYNCREATE) in pane (row, col); `size` sets the column's width
    // and the row's height. FALSE leaves no pane.
    virtual BOOL CreateView(int row, int col, CRuntimeClass *viewClass, SIZE size,
                            CCreateContext *context);
    CWnd *GetPane(int row, int col) const;
    int IdFromRowCol(int row, int col) const { return AFX_IDW_PANE_FIRST + row * 16 + col; }
    int GetRowCount() const { return rows_; }
    int GetColumnCount() const { return cols_; }
    void SetColumnInfo(int col, int ideal, int min);
    void GetColumnInfo(int col, int &current, int &min) const;
    virtual void RecalcLayout();

    // Notifications and commands of the panes nobody here takes go on to the parent.
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT *pResult) override;

  protected:
    void OnLButtonDown(UINT flags, CPoint point);
    void OnMouseMove(UINT flags, CPoint point);
    void OnLButtonUp(UINT flags, CPoint point);
    BOOL OnSetCursor(CWnd *wnd, UINT hitTest, UINT message);
    void OnSize(UINT type, int cx, int cy);
    LRESULT OnCaptureChanged(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

  private:
    int DividerAt(CPoint point, bool &vertical) const;
    int rows_ = 0;
    int cols_ = 0;
    std::vector<int> widths_;
    std::vector<int> heights_;
    int trackCol_ = -1;
    int trackRow_ = -1;
};

// ---------------------------------------------------------------------------------------
// Document templates

// The document, frame and view classes of one kind of document, and its strings: string
// `nIDResource` holds the fields below separated by '\n' (missing fields read as empty).
class CDocTemplate : public CCmdTarget {
    DECLARE_DYNAMIC(CDocTemplate)
  public:
    enum DocStringIndex {
        windowTitle,
        docName,
        fileNewName,
        filterName,
        filterExt,
        regFileTypeId,
        regFileTypeName
    };

    CDocTemplate(UINT nIDResource, CRuntimeClass *docClass, CRuntimeClass *frameClass,
                 CRuntimeClass *viewClass);
    ~CDocTemplate() override;
    CDocTemplate(const CDocTemplate &) = delete;
    CDocTemplate &operator=(const CDocTemplate &) = delete;

    virtual BOOL GetDocString(CString &text, DocStringIndex index) const;
    // A new document (path NULL: "<docName><n>", OnNewDocument) or `path` opened, in a new
    // frame; NULL (and no window left) on failure.
    virtual CDocument *OpenDocumentFile(LPCSTR path, BOOL makeVisible = TRUE) = 0;
    virtual CDocument *CreateNewDocument();
    // The frame of `doc`, loaded from the template's id; NULL when it cannot be made.
    virtual CFrameWnd *CreateNewFrame(CDocument *doc, CFrameWnd *other);
    virtual void InitialUpdateFrame(CFrameWnd *frame, CDocument *doc, BOOL makeVisible = TRUE);
    virtual void SetDefaultTitle(CDocument *doc);
    // TRUE when `path`'s extension is the template's (without regard to case).
    BOOL MatchesExtension(LPCSTR path) const;

    virtual void AddDocument(CDocument *doc);
    virtual void RemoveDocument(CDocument *doc);
    POSITION GetFirstDocPosition() const { return docs_.GetHeadPosition(); }
    CDocument *GetNextDoc(POSITION &pos) const;
    BOOL SaveAllModified();
    void CloseAllDocuments(BOOL endSession);

    UINT m_nIDResource;
    CRuntimeClass *m_pDocClass;
    CRuntimeClass *m_pFrameClass;
    CRuntimeClass *m_pViewClass;

  protected:
    CPtrList docs_;
    UINT untitledCount_ = 0;
};

class CMultiDocTemplate : public CDocTemplate {
    DECLARE_DYNAMIC(CMultiDocTemplate)
  public:
    using CDocTemplate::CDocTemplate;
    CDocument *OpenDocumentFile(LPCSTR path, BOOL makeVisible = TRUE) override;
};

// ---------------------------------------------------------------------------------------
// Recent files and the command line

// The most recently used files, newest first, at most GetMaxSize entries.
class CRecentFileList {
  public:
    CRecentFileList(UINT start, LPCSTR section, LPCSTR entryFormat, int maxSize);
    int GetSize() const { return static_cast<int>(files_.size()); }
    int GetMaxSize() const { return max_; }
    // Puts `path` at the top; an entry equal to it without regard to case goes. Empty or
    // over-long (MAX_PATH and more) paths are not taken.
    void Add(LPCSTR path);
    void Remove(int index);
    // Entry `index`, or an empty text past the end.
    CString operator[](int index) const;
    // Reads entries File1..File<max> of the section (empty or over-long values skipped).
    void ReadList();
    // Writes File1..File<size> and deletes the values after them.
    void WriteList();
    // Lists the entries in the menu of `cmdUI` from its item on: "&1 path", '&' doubled;
    // an empty list leaves one greyed placeholder.
    void UpdateMenu(CCmdUI *cmdUI);

  private:
    UINT start_;
    std::string section_;
    std::string format_;
    int max_;
    std::vector<std::string> files_;
};

class CCommandLineInfo : public CObject {
  public:
    enum { FileNew, FileOpen, FileNothing = 11 } m_nShellCommand = FileNew;
    CString m_strFileName;
    // Called for each argument after the program's name; `flag` when it started with '/' or
    // '-' (given without that character). The first non-flag is the file to open.
    virtual void ParseParam(LPCSTR param, BOOL flag, BOOL last);
};

// ---------------------------------------------------------------------------------------
// The application object

class CWinApp : public CCmdTarget {
    DECLARE_DYNAMIC(CWinApp)
  public:
    explicit CWinApp(LPCSTR appName = nullptr);
    ~CWinApp() override;
    CWinApp(const CWinApp &) = delete;
    CWinApp &operator=(const CWinApp &) = delete;

    HINSTANCE m_hInstance = nullptr;
    LPSTR m_lpCmdLine = nullptr;
    int m_nCmdShow = SW_SHOWNORMAL;
    CWnd *m_pMainWnd = nullptr;
    // Heap texts (malloc); the application may free() and replace them.
    LPCSTR m_pszAppName = nullptr;
    LPCSTR m_pszHelpFilePath = nullptr;
    LPCSTR m_pszRegistryKey = nullptr;
    LPCSTR m_pszProfileName = nullptr;

    virtual BOOL InitInstance();
    // Writes the recent-file list (and nothing else) to the profile.
    // The message loop; ends when the main window is destroyed. ExitInstance's result.
    virtual int Run();
    virtual int ExitInstance();
    virtual BOOL OnIdle(LONG count);
    // Offers `msg` to each window's PreTranslateMessage from its own up to the main window.
    virtual BOOL PreTranslateMessage(MSG *msg);
    // The box of AfxMessageBox: captioned with the application's name; MB_OK and
    // MB_OKCANCEL without an icon get the exclamation icon, MB_YESNO(CANCEL) the question one.
    virtual int DoMessageBox(LPCSTR prompt, UINT type, UINT idPrompt);

    void EnableHtmlHelp() { htmlHelp_ = true; }
    // HtmlHelpA(main window, m_pszHelpFilePath, nCmd, dwData).
    virtual void HtmlHelp(DWORD_PTR dwData, UINT nCmd = 0x000F);

    // Profile under HKEY_CURRENT_USER\Software\<key>\<profile name>\<section>.
    void SetRegistryKey(LPCSTR key);
    CString GetProfileString(LPCSTR section, LPCSTR entry, LPCSTR defaultValue = nullptr);
    BOOL WriteProfileString(LPCSTR section, LPCSTR entry, LPCSTR value);
    UINT GetProfileInt(LPCSTR section, LPCSTR entry, int defaultValue);
    BOOL WriteProfileInt(LPCSTR section, LPCSTR entry, int value);

    // The recent-file list of `maxMRU` entries, read from "Recent File List" File1..File<n>.
    void LoadStdProfileSettings(UINT maxMRU = 4);
    virtual void AddToRecentFileList(LPCSTR path);
    CRecentFileList *m_pRecentFileList = nullptr;

    // Parses the process's command line (__argv) into `info`.
    void ParseCommandLine(CCommandLineInfo &info);
    // FileOpen opens m_strFileName through OpenDocumentFile (FALSE when that gives NULL);
    // FileNew runs OnFileNew; FileNothing does nothing.
    BOOL ProcessShellCommand(CCommandLineInfo &info);
    // Opens `path` with the template of its extension (without regard to case); NULL for
    // an unknown extension or a file that cannot be opened.
    virtual CDocument *OpenDocumentFile(LPCSTR path);
    // A new document of the first template.
    virtual void OnFileNew();
    // Prompts for a file to open, then OpenDocumentFile.
    virtual void OnFileOpen();
    // The file dialog for `fileName` (its initial name, the answer on TRUE): title string
    // `titleId`, the filter of `tmpl` (of every template when NULL) and "All Files (*.*)".
    virtual BOOL DoPromptFileName(CString &fileName, UINT titleId, DWORD flags, BOOL openFileDialog,
                                  CDocTemplate *tmpl);

    // The application owns its templates.
    void AddDocTemplate(CDocTemplate *tmpl);
    POSITION GetFirstDocTemplatePosition() const { return templates_.GetHeadPosition(); }
    CDocTemplate *GetNextDocTemplate(POSITION &pos) const;
    // Asks to save each modified document; FALSE when one is cancelled or fails.
    virtual BOOL SaveAllModified();
    void CloseAllDocuments(BOOL endSession);
    // Closes the main window (ID_APP_EXIT).
    void OnAppExit();

  protected:
    void OnUpdateRecentFileMenu(CCmdUI *cmdUI);
    void OnOpenRecentFile(UINT id);
    DECLARE_MESSAGE_MAP()

  private:
    CPtrList templates_;
    bool htmlHelp_ = false;
    int exitCode_ = 0;
    friend int AfxWinMain(HINSTANCE, HINSTANCE, LPSTR, int);
    friend struct AfxWndInternals;
};

// The framework's entry: sets up the application object, runs InitInstance and, on TRUE, Run.
// Exit code 1 when InitInstance gives FALSE.
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR cmdLine, int cmdShow);

CWinApp *AfxGetApp();
CWnd *AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
// The module every string, dialog, menu and cursor comes from; a NULL handle keeps the old.
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE resource);
inline void AfxEnableControlContainer() {}
// A box through CWinApp::DoMessageBox; the string form loads `idPrompt` from the resource
// handle.
int AfxMessageBox(LPCSTR text, UINT type = MB_OK, UINT idHelp = 0);
int AfxMessageBox(UINT idPrompt, UINT type = MB_OK, UINT idHelp = static_cast<UINT>(-1));
// The warning sound (MessageBeep); the test seam logs each one.
void AfxBeep(UINT type = MB_OK);

// Shared between the framework's own source files; not part of its interface.
#pragma once

#include "framework.h"

#include <string>

namespace afx {

// `p` with the compiler's knowledge of it hidden: lets the GetSafe... calls test `this`.
inline const void *Opaque(const void *p) {
    asm volatile("" : "+r"(p));
    return p;
}

// The framework's own window class (DefWindowProcA underneath), registered once.
LPCSTR DefaultWindowClass();

// Creation of a window through the framework: `wnd` is attached and subclassed by a
// thread-local CBT hook before the window's first message.
class CreationHook {
  public:
    explicit CreationHook(CWnd *wnd);
    ~CreationHook();
    CreationHook(const CreationHook &) = delete;
    CreationHook &operator=(const CreationHook &) = delete;

  private:
    HHOOK hook_;
    CWnd *previous_;
};

// The owner a box or file dialog gets on this thread: the main window's last active popup
// when this thread owns the main window, else NULL.
HWND OwnerForThisThread();

// The test seam's entry points. Null in what ships: only the test variant of the framework
// (the framework_seam object library, seam.cpp) fills them in, before main runs.
struct SeamHooks {
    // The answer to a box (`type` its final flags); false when the seam is off.
    bool (*box)(HWND owner, LPCSTR text, LPCSTR caption, UINT type, int &answer);
    // The answer to a file dialog; false when the seam is off. On true, `answer` is IDOK
    // (with lpstrFile filled) or IDCANCEL.
    bool (*fileDialog)(bool open, OPENFILENAMEA &ofn, const std::string &defExt, int &answer);
    // Logs a help call (made anyway).
    void (*help)(LPCSTR file, UINT cmd, DWORD_PTR data);
    // Called by the framework's WinMain first: the seam's start-up orders, if any.
    void (*programStart)();
    // Logs a beep (made anyway).
    void (*beep)(UINT type);
};
extern const SeamHooks *g_seamHooks;

inline bool SeamBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type, int &answer) {
    return g_seamHooks && g_seamHooks->box(owner, text, caption, type, answer);
}
inline bool SeamFileDialog(bool open, OPENFILENAMEA &ofn, const std::string &defExt, int &answer) {
    return g_seamHooks && g_seamHooks->fileDialog(open, ofn, defExt, answer);
}
inline void SeamBeep(UINT type) {
    if (g_seamHooks)
        g_seamHooks->beep(type);
}
inline void SeamHelp(LPCSTR file, UINT cmd, DWORD_PTR data) {
    if (g_seamHooks)
        g_seamHooks->help(file, cmd, data);
}
inline void SeamProgramStart() {
    if (g_seamHooks)
        g_seamHooks->programStart();
}

// The negative answer of a box of `type`: IDOK for MB_OK, IDNO for MB_YESNO, IDABORT for
// MB_ABORTRETRYIGNORE, IDCANCEL for the rest.
int NegativeAnswer(UINT type);

// The framework's text `id` from the resource handle, else the English `fallback`.
CString FrameworkText(UINT id, const char *fallback);

// A window object that deletes itself in PostNcDestroy notes it here first, so that a
// creator whose Create failed knows whether the object is gone already.
void NoteSelfDeleted(const void *object);
bool WasSelfDeleted(const void *object);
void ForgetSelfDeleted();

} // namespace afx

// CDocument and CArchive: opening, saving without risking the old file, the save question.
#include "internal.h"

#include <algorithm>
#include <string>
#include <vector>

namespace afx {

CString FrameworkText(UINT id, const char *fallback) {
    CString text;
    if (!text.LoadString(id) || text.IsEmpty())
        text = fallback;
    return text;
}

} // namespace afx

namespace {

using afx::FrameworkText;

CString SystemText(DWORD code) {
    char *text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    CString out;
    if (n && text) {
        std::string s(text, n);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
            s.pop_back();
        out = s.c_str();
    } else {
        out.Format("Error %lu.", static_cast<unsigned long>(code));
    }
    if (text)
        LocalFree(text);
    return out;
}

void ReportFailure(UINT id, const char *fallback, LPCSTR path, DWORD code) {
    CString message = FrameworkText(id, fallback);
    message += "\n";
    message += path ? path : "";
    message += "\n";
    message += SystemText(code);
    AfxMessageBox(message, MB_OK | MB_ICONEXCLAMATION);
}

} // namespace

// ---------------------------------------------------------------------------------------
// CArchive

void CArchive::Write(const void *data, UINT count) {
    if (error_ || count == 0)
        return;
    if (mode_ != store) {
        error_ = ERROR_ACCESS_DENIED;
        return;
    }
    const BYTE *p = static_cast<const BYTE *>(data);
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(file_, p, count, &written, nullptr) || written == 0) {
            error_ = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
            return;
        }
        p += written;
        count -= written;
    }
}

UINT CArchive::Read(void *data, UINT count) {
    if (error_ || mode_ != load)
        return 0;
    BYTE *p = static_cast<BYTE *>(data);
    UINT total = 0;
    while (total < count) {
        DWORD got = 0;
        if (!ReadFile(file_, p + total, count - total, &got, nullptr)) {
            error_ = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
            break;
        }
        if (got == 0)
            break;
        total += got;
    }
    return total;
}

// ---------------------------------------------------------------------------------------
// CDocument

IMPLEMENT_DYNAMIC(CDocument, CCmdTarget)

BEGIN_MESSAGE_MAP(CDocument, CCmdTarget)
ON_COMMAND(ID_FILE_SAVE, OnFileSave)
ON_COMMAND(ID_FILE_SAVE_AS, OnFileSaveAs)
END_MESSAGE_MAP()

BOOL CDocument::OnNewDocument() {
    DeleteContents();
    m_strPathName.Empty();
    SetModifiedFlag(FALSE);
    return TRUE;
}

BOOL CDocument::OnOpenDocument(LPCSTR path) {
    HANDLE file = CreateFileA(path ? path : "", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ReportFailure(AFX_IDP_FAILED_TO_OPEN_DOC, "Failed to open the document.", path,
                      GetLastError());
        return FALSE;
    }
    DeleteContents();
    CArchive ar(file, CArchive::load);
    Serialize(ar);
    CloseHandle(file);
    if (ar.Failed()) {
        ReportFailure(AFX_IDP_FAILED_TO_OPEN_DOC, "Failed to open the document.", path,
                      ar.GetError());
        DeleteContents();
        return FALSE;
    }
    SetModifiedFlag(FALSE);
    return TRUE;
}

BOOL CDocument::OnSaveDocument(LPCSTR path) {
    std::string target = path ? path : "";
    size_t slash = target.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    char temp[MAX_PATH] = {};
    if (target.empty() || !GetTempFileNameA(folder.c_str(), "sav", 0, temp)) {
        ReportFailure(AFX_IDP_FAILED_TO_SAVE_DOC, "Failed to save the document.", path,
                      target.empty() ? ERROR_INVALID_NAME : GetLastError());
        return FALSE;
    }
    HANDLE file =
        CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = 0;
    // A writer may mark the document saved while it writes; only a file in place makes it so.
    const BOOL wasModified = IsModified();
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
    } else {
        CArchive ar(file, CArchive::store);
        Serialize(ar);
        error = ar.GetError();
        if (!error && !FlushFileBuffers(file))
            error = GetLastError();
        if (!CloseHandle(file) && !error)
            error = GetLastError();
    }
    if (!error &&
        !MoveFileExA(temp, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError();
    if (error) {
        DeleteFileA(temp);
        SetModifiedFlag(wasModified);
        ReportFailure(AFX_IDP_FAILED_TO_SAVE_DOC, "Failed to save the document.", path, error);
        return FALSE;
    }
    SetModifiedFlag(FALSE);
    return TRUE;
}

void CDocument::Serialize(CArchive &) {}
void CDocument::DeleteContents() {}

CDocument::~CDocument() {
    // Views outliving their document forget it.
    while (!views_.IsEmpty()) {
        auto *view = static_cast<CView *>(views_.RemoveHead());
        view->m_pDocument = nullptr;
    }
    if (m_pDocTemplate)
        m_pDocTemplate->RemoveDocument(this);
}

BOOL CDocument::OnCmdMsg(UINT nID, int nCode, void *pExtra, AFX_CMDHANDLERINFO *pHandlerInfo) {
    if (CCmdTarget::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo))
        return TRUE;
    return m_pDocTemplate && m_pDocTemplate->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

void CDocument::AddView(CView *view) {
    if (!view || views_.Find(view))
        return;
    views_.AddTail(view);
    view->m_pDocument = this;
    OnChangedViewList();
}

void CDocument::RemoveView(CView *view) {
    POSITION pos = views_.Find(view);
    if (!pos)
        return;
    views_.RemoveAt(pos);
    view->m_pDocument = nullptr;
    OnChangedViewList();
}

CView *CDocument::GetNextView(POSITION &pos) const {
    return static_cast<CView *>(const_cast<CPtrList &>(views_).GetNext(pos));
}

void CDocument::OnChangedViewList() {
    if (views_.IsEmpty() && m_bAutoDelete) {
        OnCloseDocument();
        return;
    }
    UpdateFrameTitles();
}

void CDocument::UpdateAllViews(CView *sender, LPARAM hint, CObject *hintObject) {
    for (POSITION pos = GetFirstViewPosition(); pos;) {
        CView *view = GetNextView(pos);
        if (view != sender)
            view->OnUpdate(sender, hint, hintObject);
    }
}

void CDocument::OnCloseDocument() {
    BOOL autoDelete = m_bAutoDelete;
    m_bAutoDelete = FALSE; // the views going must not close the document again
    // Each round destroys a frame (or a view without one); a view still listed after its
    // window went is dropped.
    for (int guard = 0; !views_.IsEmpty() && guard < 1024; ++guard) {
        auto *view = static_cast<CView *>(views_.GetHead());
        CFrameWnd *frame = view->GetParentFrame();
        if (frame)
            frame->DestroyWindow();
        else
            view->DestroyWindow();
        if (!views_.IsEmpty() && views_.GetHead() == view)
            RemoveView(view);
    }
    m_bAutoDelete = autoDelete;
    DeleteContents();
    if (m_bAutoDelete)
        delete this;
}

BOOL CDocument::CanCloseFrame(CFrameWnd *frame) {
    for (POSITION pos = GetFirstViewPosition(); pos;) {
        CView *view = GetNextView(pos);
        if (view && view->GetParentFrame() != frame)
            return TRUE; // another frame still shows the document
    }
    return SaveModified();
}

void CDocument::UpdateFrameTitles() {
    std::vector<CFrameWnd *> frames;
    for (POSITION pos = GetFirstViewPosition(); pos;) {
        CView *view = GetNextView(pos);
        CFrameWnd *frame = view ? view->GetParentFrame() : nullptr;
        if (frame && std::find(frames.begin(), frames.end(), frame) == frames.end())
            frames.push_back(frame);
    }
    for (CFrameWnd *frame : frames)
        frame->OnUpdateFrameTitle(TRUE);
    if (auto *main = DYNAMIC_DOWNCAST(CFrameWnd, AfxGetMainWnd()))
        if (main->GetSafeHwnd() && std::find(frames.begin(), frames.end(), main) == frames.end())
            main->OnUpdateFrameTitle(TRUE);
}

void CDocument::SetTitle(LPCSTR title) {
    m_strTitle = title;
    UpdateFrameTitles();
}

void CDocument::SetPathName(LPCSTR path, BOOL addToMRU) {
    char full[MAX_PATH] = {};
    DWORD n = path ? GetFullPathNameA(path, MAX_PATH, full, nullptr) : 0;
    m_strPathName = n > 0 && n < MAX_PATH ? full : (path ? path : "");
    const char *s = m_strPathName;
    const char *leaf = s;
    for (const char *p = s; *p; ++p)
        if (*p == '\\' || *p == '/')
            leaf = p + 1;
    SetTitle(leaf);
    if (addToMRU && AfxGetApp())
        AfxGetApp()->AddToRecentFileList(m_strPathName);
}

BOOL CDocument::DoSave(LPCSTR path, BOOL replace) {
    CString name = path ? path : "";
    if (name.IsEmpty() && m_pDocTemplate && AfxGetApp()) {
        name = m_strPathName.IsEmpty() ? m_strTitle : m_strPathName;
        if (!AfxGetApp()->DoPromptFileName(name, AFX_IDS_SAVEFILE,
                                           OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, FALSE,
                                           m_pDocTemplate) ||
            name.IsEmpty())
            return FALSE;
    } else if (name.IsEmpty()) {
        CString filter = m_strFilter;
        if (filter.IsEmpty())
            filter = FrameworkText(AFX_IDS_ALLFILTER, "All Files (*.*)") + "|*.*||";
        CString title = FrameworkText(AFX_IDS_SAVEFILE, "Save As");
        CString initial = m_strPathName.IsEmpty() ? m_strTitle : m_strPathName;
        // The dialog puts the dot before the default extension itself.
        const char *ext = m_strDefExt;
        if (*ext == '.')
            ++ext;
        CFileDialog dlg(FALSE, *ext ? ext : nullptr, initial,
                        OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, filter);
        dlg.m_ofn.lpstrTitle = title;
        if (dlg.DoModal() != IDOK)
            return FALSE;
        name = dlg.GetPathName();
        if (name.IsEmpty())
            return FALSE;
    }
    if (!OnSaveDocument(name))
        return FALSE;
    if (replace)
        SetPathName(name, TRUE);
    return TRUE;
}

BOOL CDocument::DoFileSave() {
    return DoSave(m_strPathName.IsEmpty() ? nullptr : static_cast<const char *>(m_strPathName));
}

BOOL CDocument::SaveModified() {
    if (!IsModified())
        return TRUE;
    CString name = m_strPathName.IsEmpty() ? m_strTitle : m_strPathName;
    if (name.IsEmpty())
        name = FrameworkText(AFX_IDS_UNTITLED, "Untitled");
    // The text's "%s" takes the name; the text itself is never used as a format.
    std::string question =
        static_cast<const char *>(FrameworkText(AFX_IDP_ASK_TO_SAVE, "Save changes to %s?"));
    size_t at = question.find("%s");
    if (at != std::string::npos)
        question.replace(at, 2, static_cast<const char *>(name));
    switch (AfxMessageBox(question.c_str(), MB_YESNOCANCEL, AFX_IDP_ASK_TO_SAVE)) {
    case IDYES:
        return DoFileSave();
    case IDNO:
        return TRUE;
    default:
        return FALSE;
    }
}

void CDocument::OnFileSave() {
    DoFileSave();
}
void CDocument::OnFileSaveAs() {
    DoSave(nullptr);
}

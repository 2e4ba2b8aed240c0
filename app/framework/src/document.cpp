// CDocument and CArchive: opening, saving without risking the old file, the save question.
#include "internal.h"

#include <string>

namespace {

// The framework's text `id` from the resource handle, else the English text.
CString FrameworkText(UINT id, const char *fallback) {
    CString text;
    if (!text.LoadString(id) || text.IsEmpty())
        text = fallback;
    return text;
}

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

}  // namespace

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
    HANDLE file = CreateFileA(path ? path : "", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ReportFailure(AFX_IDP_FAILED_TO_OPEN_DOC, "Failed to open the document.", path, GetLastError());
        return FALSE;
    }
    DeleteContents();
    CArchive ar(file, CArchive::load);
    Serialize(ar);
    CloseHandle(file);
    if (ar.Failed()) {
        ReportFailure(AFX_IDP_FAILED_TO_OPEN_DOC, "Failed to open the document.", path, ar.GetError());
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
    HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = 0;
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
    if (!error && !MoveFileExA(temp, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError();
    if (error) {
        DeleteFileA(temp);
        ReportFailure(AFX_IDP_FAILED_TO_SAVE_DOC, "Failed to save the document.", path, error);
        return FALSE;
    }
    SetModifiedFlag(FALSE);
    return TRUE;
}

void CDocument::Serialize(CArchive &) {}
void CDocument::DeleteContents() {}

void CDocument::SetTitle(LPCSTR title) { m_strTitle = title; }

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
    if (name.IsEmpty()) {
        CString filter = m_strFilter;
        if (filter.IsEmpty())
            filter = FrameworkText(AFX_IDS_ALLFILTER, "All Files (*.*)") + "|*.*||";
        CString title = FrameworkText(AFX_IDS_SAVEFILE, "Save As");
        CString initial = m_strPathName.IsEmpty() ? m_strTitle : m_strPathName;
        CFileDialog dlg(FALSE, m_strDefExt.IsEmpty() ? nullptr : static_cast<const char *>(m_strDefExt),
                        initial, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, filter);
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

BOOL CDocument::DoFileSave() { return DoSave(m_strPathName.IsEmpty() ? nullptr : static_cast<const char *>(m_strPathName)); }

BOOL CDocument::SaveModified() {
    if (!IsModified())
        return TRUE;
    CString name = m_strPathName.IsEmpty() ? m_strTitle : m_strPathName;
    if (name.IsEmpty())
        name = FrameworkText(AFX_IDS_UNTITLED, "Untitled");
    // The text's "%s" takes the name; the text itself is never used as a format.
    std::string question = static_cast<const char *>(FrameworkText(AFX_IDP_ASK_TO_SAVE, "Save changes to %s?"));
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

void CDocument::OnFileSave() { DoFileSave(); }
void CDocument::OnFileSaveAs() { DoSave(nullptr); }

// CFileDialog and the reading of its answer.
#include "internal.h"

#include <cstring>

CFileDialog::CFileDialog(BOOL openFileDialog, LPCSTR defExt, LPCSTR fileName, DWORD flags,
                         LPCSTR filter, CWnd *parentWnd)
    : CDialog(0, parentWnd), open_(openFileDialog) {
    std::memset(&m_ofn, 0, sizeof m_ofn);
    m_ofn.lStructSize = sizeof m_ofn;
    m_ofn.Flags = flags | OFN_EXPLORER;
    if (defExt)
        defExt_ = defExt;
    if (fileName) {
        std::strncpy(file_, fileName, sizeof file_ - 1);
        file_[sizeof file_ - 1] = '\0';
    }
    m_ofn.lpstrFile = file_;
    m_ofn.nMaxFile = sizeof file_;
    m_ofn.lpstrFileTitle = title_;
    m_ofn.nMaxFileTitle = sizeof title_;
    m_ofn.lpstrDefExt = defExt_.empty() ? nullptr : defExt_.c_str();
    if (filter) {
        // "Name|*.a|Name|*.b|" to "Name\0*.a\0Name\0*.b\0\0".
        filter_ = filter;
        for (char &c : filter_)
            if (c == '|')
                c = '\0';
        if (filter_.empty() || filter_.back() != '\0')
            filter_.push_back('\0');
        filter_.push_back('\0');
        m_ofn.lpstrFilter = filter_.data();
    }
}

INT_PTR CFileDialog::DoModal() {
    if (!m_ofn.hwndOwner) {
        m_ofn.hwndOwner = m_pParentWnd ? GetAncestor(m_pParentWnd->GetSafeHwnd(), GA_ROOT)
                                       : afx::OwnerForThisThread();
    }
    m_ofn.lpstrDefExt = defExt_.empty() ? nullptr : defExt_.c_str();
    int answer = IDCANCEL;
    if (afx::SeamFileDialog(open_ != FALSE, m_ofn, defExt_, answer))
        return answer;
    BOOL ok = open_ ? GetOpenFileNameA(&m_ofn) : GetSaveFileNameA(&m_ofn);
    if (!ok) {
        // A cancel or failure (FNERR_BUFFERTOOSMALL puts a size in the buffer's first bytes):
        // leave nothing that reads as a path.
        if (m_ofn.lpstrFile && m_ofn.nMaxFile > 0)
            m_ofn.lpstrFile[0] = '\0';
        return IDCANCEL;
    }
    return IDOK;
}

namespace {

// Length of the text at `p` within `limit` characters; `limit` when no NUL comes.
size_t BoundedLength(const char *p, size_t limit) {
    return strnlen(p, limit);
}

// True when the answer is folder, NUL, names (nFileOffset then points past the folder's NUL).
bool IsMultiple(const OPENFILENAMEA &ofn) {
    return ofn.lpstrFile && ofn.nFileOffset > 0 && ofn.nFileOffset < ofn.nMaxFile &&
           ofn.lpstrFile[ofn.nFileOffset - 1] == '\0';
}

// True when every name of a multiple-selection answer, and the empty string after them,
// lie within the buffer.
bool NamesTerminated(const OPENFILENAMEA &ofn) {
    const char *end = ofn.lpstrFile + ofn.nMaxFile;
    for (const char *p = ofn.lpstrFile + ofn.nFileOffset; p < end;) {
        size_t length = BoundedLength(p, static_cast<size_t>(end - p));
        if (p + length >= end)
            return false;
        if (length == 0)
            return true;
        p += length + 1;
    }
    return false;
}

CString Join(const char *folder, size_t folderLength, const char *name, size_t nameLength) {
    std::string path(folder, folderLength);
    if (!path.empty() && path.back() != '\\' && path.back() != '/')
        path += '\\';
    path.append(name, nameLength);
    return CString(path.c_str());
}

} // namespace

POSITION CFileDialog::GetStartPosition() const {
    if (!m_ofn.lpstrFile || m_ofn.nMaxFile == 0 || m_ofn.lpstrFile[0] == '\0')
        return nullptr;
    if (BoundedLength(m_ofn.lpstrFile, m_ofn.nMaxFile) >= m_ofn.nMaxFile)
        return nullptr; // not terminated within the buffer
    if (IsMultiple(m_ofn)) {
        const char *first = m_ofn.lpstrFile + m_ofn.nFileOffset;
        if (*first == '\0' || !NamesTerminated(m_ofn))
            return nullptr;
        return reinterpret_cast<POSITION>(const_cast<char *>(first));
    }
    return reinterpret_cast<POSITION>(m_ofn.lpstrFile);
}

CString CFileDialog::GetNextPathName(POSITION &pos) const {
    const char *p = reinterpret_cast<const char *>(pos);
    const char *begin = m_ofn.lpstrFile;
    const char *end = begin ? begin + m_ofn.nMaxFile : nullptr;
    pos = nullptr;
    if (!p || !begin || p < begin || p >= end)
        return CString();
    size_t length = BoundedLength(p, static_cast<size_t>(end - p));
    if (p + length >= end)
        return CString();
    if (!IsMultiple(m_ofn) || p == begin)
        return CString(p, static_cast<int>(length)); // the one-file answer: a full path
    size_t folderLength = BoundedLength(begin, m_ofn.nMaxFile);
    CString path = Join(begin, folderLength, p, length);
    const char *next = p + length + 1;
    if (next < end && *next != '\0' &&
        next + BoundedLength(next, static_cast<size_t>(end - next)) < end)
        pos = reinterpret_cast<POSITION>(const_cast<char *>(next));
    return path;
}

CString CFileDialog::GetPathName() const {
    POSITION pos = GetStartPosition();
    return pos ? GetNextPathName(pos) : CString();
}

CString CFileDialog::GetFileName() const {
    CString path = GetPathName();
    const char *s = path;
    const char *slash = std::strrchr(s, '\\');
    return CString(slash ? slash + 1 : s);
}

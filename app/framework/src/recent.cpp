// The recent-file list, the command line and the application's own commands.
#include "internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool SameNoCase(const std::string &a, const std::string &b) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
           CSTR_EQUAL;
}

std::string EntryName(const std::string &format, int n) {
    char name[64];
    std::snprintf(name, sizeof name, format.c_str(), n);
    return name;
}

} // namespace

// ---------------------------------------------------------------------------------------
// CRecentFileList

CRecentFileList::CRecentFileList(UINT start, LPCSTR section, LPCSTR entryFormat, int maxSize)
    : start_(start), section_(section ? section : ""),
      format_(entryFormat ? entryFormat : "File%d"),
      max_(maxSize < 0 ? 0 : (maxSize > 16 ? 16 : maxSize)) {}

void CRecentFileList::Add(LPCSTR path) {
    if (!path || !*path || std::strlen(path) >= MAX_PATH || max_ == 0)
        return;
    std::string p(path);
    for (size_t i = 0; i < files_.size(); ++i) {
        if (SameNoCase(files_[i], p)) {
            files_.erase(files_.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    files_.insert(files_.begin(), p);
    if (files_.size() > static_cast<size_t>(max_))
        files_.resize(static_cast<size_t>(max_));
}

void CRecentFileList::Remove(int index) {
    if (index >= 0 && index < GetSize())
        files_.erase(files_.begin() + index);
}

CString CRecentFileList::operator[](int index) const {
    return index >= 0 && index < GetSize() ? CString(files_[static_cast<size_t>(index)].c_str())
                                           : CString();
}

void CRecentFileList::ReadList() {
    files_.clear();
    CWinApp *app = AfxGetApp();
    if (!app)
        return;
    for (int i = 1; i <= max_; ++i) {
        CString value = app->GetProfileString(section_.c_str(), EntryName(format_, i).c_str(), "");
        if (value.IsEmpty() || value.GetLength() >= MAX_PATH)
            continue;
        bool duplicate = false;
        for (auto &f : files_)
            duplicate |= SameNoCase(f, static_cast<const char *>(value));
        if (!duplicate)
            files_.push_back(static_cast<const char *>(value));
    }
}

void CRecentFileList::WriteList() {
    CWinApp *app = AfxGetApp();
    if (!app)
        return;
    for (int i = 1; i <= 16; ++i) {
        std::string entry = EntryName(format_, i);
        if (i <= GetSize())
            app->WriteProfileString(section_.c_str(), entry.c_str(),
                                    files_[static_cast<size_t>(i - 1)].c_str());
        else
            app->WriteProfileString(section_.c_str(), entry.c_str(), nullptr); // deletes
    }
}

void CRecentFileList::UpdateMenu(CCmdUI *cmdUI) {
    HMENU menu = cmdUI->m_hMenu;
    if (!menu)
        return;
    // Drop the items this list put there before (and the placeholder).
    for (int i = GetMenuItemCount(menu) - 1; i >= 0; --i) {
        UINT id = GetMenuItemID(menu, i);
        if (id >= start_ && id < start_ + 16)
            DeleteMenu(menu, static_cast<UINT>(i), MF_BYPOSITION);
    }
    UINT at = cmdUI->m_nIndex;
    if (files_.empty()) {
        InsertMenuA(menu, at, MF_BYPOSITION | MF_STRING | MF_GRAYED, start_, "Recent File");
        cmdUI->m_bEnableChanged = TRUE;
        cmdUI->m_bEnabled = FALSE;
        return;
    }
    for (size_t i = 0; i < files_.size(); ++i) {
        std::string text = "&" + std::to_string(i + 1) + " ";
        for (char c : files_[i]) {
            text += c;
            if (c == '&')
                text += '&';
        }
        InsertMenuA(menu, at + static_cast<UINT>(i), MF_BYPOSITION | MF_STRING | MF_ENABLED,
                    start_ + static_cast<UINT>(i), text.c_str());
    }
    cmdUI->m_bEnableChanged = TRUE;
    cmdUI->m_bEnabled = TRUE;
}

// ---------------------------------------------------------------------------------------
// Command line

void CCommandLineInfo::ParseParam(LPCSTR param, BOOL flag, BOOL) {
    if (flag || !param)
        return;
    if (m_strFileName.IsEmpty()) {
        m_strFileName = param;
        m_nShellCommand = FileOpen;
    }
}

void CWinApp::ParseCommandLine(CCommandLineInfo &info) {
    for (int i = 1; i < __argc && __argv; ++i) {
        const char *arg = __argv[i];
        if (!arg)
            continue;
        bool flag = arg[0] == '/' || arg[0] == '-';
        info.ParseParam(flag ? arg + 1 : arg, flag, i + 1 == __argc);
    }
}

BOOL CWinApp::ProcessShellCommand(CCommandLineInfo &info) {
    switch (info.m_nShellCommand) {
    case CCommandLineInfo::FileNew:
        OnFileNew();
        return TRUE;
    case CCommandLineInfo::FileOpen:
        return OpenDocumentFile(info.m_strFileName) != nullptr;
    default:
        return TRUE;
    }
}

void CWinApp::OnAppExit() {
    if (m_pMainWnd && m_pMainWnd->GetSafeHwnd())
        m_pMainWnd->SendMessage(WM_CLOSE);
}

// ---------------------------------------------------------------------------------------
// Recent files of the application

void CWinApp::LoadStdProfileSettings(UINT maxMRU) {
    delete m_pRecentFileList;
    m_pRecentFileList = nullptr;
    if (maxMRU == 0)
        return;
    m_pRecentFileList = new CRecentFileList(ID_FILE_MRU_FILE1, "Recent File List", "File%d",
                                            static_cast<int>(maxMRU));
    m_pRecentFileList->ReadList();
}

void CWinApp::AddToRecentFileList(LPCSTR path) {
    if (m_pRecentFileList)
        m_pRecentFileList->Add(path);
}

void CWinApp::OnUpdateRecentFileMenu(CCmdUI *cmdUI) {
    if (!m_pRecentFileList) {
        cmdUI->Enable(FALSE);
        return;
    }
    m_pRecentFileList->UpdateMenu(cmdUI);
}

void CWinApp::OnOpenRecentFile(UINT id) {
    if (!m_pRecentFileList)
        return;
    int index = static_cast<int>(id) - ID_FILE_MRU_FILE1;
    if (index < 0 || index >= m_pRecentFileList->GetSize())
        return; // the greyed placeholder, or an entry gone since the menu was built
    CString path = (*m_pRecentFileList)[index];
    if (!OpenDocumentFile(path))
        m_pRecentFileList->Remove(index);
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
ON_UPDATE_COMMAND_UI(ID_FILE_MRU_FILE1, OnUpdateRecentFileMenu)
ON_COMMAND_RANGE(ID_FILE_MRU_FILE1, ID_FILE_MRU_FILE16, OnOpenRecentFile)
ON_COMMAND(ID_APP_EXIT, OnAppExit)
END_MESSAGE_MAP()

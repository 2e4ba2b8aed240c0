// The project document and its project file.
#include "frames.h"

#include <cstring>
#include <string>
#include <vector>

#include "buffer.h"
#include "helpers.h"
#include "project.h"
#include "resource_ids.h"
#include "text.h"

IMPLEMENT_DYNCREATE(CZqDoc, CDocument)

// An empty map: the document handles no command of its own.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-local-typedefs"
BEGIN_MESSAGE_MAP(CZqDoc, CDocument)
END_MESSAGE_MAP()
#pragma GCC diagnostic pop

namespace {

// "Cannot open file <path>. It has been temporarily removed. ..."
void ShowSourceRemoved(const std::string &path) {
    char open[260], removed[260];
    LoadResString(IDS_CANNOT_OPEN_FILE, open);
    LoadResString(IDS_FILE_REMOVED, removed);
    const std::string text = open + path + removed;
    AfxMessageBox(text.c_str(), MB_OK | MB_ICONSTOP);
}

} // namespace

BOOL CZqDoc::OnNewDocument() {
    if (!CDocument::OnNewDocument())
        return FALSE;
    const CString title = GetTitle();
    SetTitle(title);
    return TRUE;
}

void CZqDoc::Serialize(CArchive &ar) {
    if (ar.IsStoring())
        WriteProject(ar);
}

CLeftView *CZqDoc::GetLeftView() const {
    for (POSITION pos = GetFirstViewPosition(); pos;)
        if (auto *view = DYNAMIC_DOWNCAST(CLeftView, GetNextView(pos)))
            return view;
    return nullptr;
}

void CZqDoc::WriteProject(CArchive &ar) {
    std::vector<ProjectRow> rows;
    if (CLeftView *view = GetLeftView()) {
        CListCtrl &list = view->GetListCtrl();
        for (int row = 0; row < list.GetItemCount(); ++row) {
            char name[260], id[10], volume[260], folder[260];
            list.GetItemText(row, 0, name, sizeof name);
            list.GetItemText(row, 1, id, sizeof id);
            list.GetItemText(row, 2, volume, sizeof volume);
            list.GetItemText(row, 3, folder, sizeof folder);
            rows.push_back({view->RowSource(row), name, id, volume, folder});
        }
    }
    const std::string text = WriteProjectText(rows);
    ar.Write(text.data(), static_cast<UINT>(text.size()));
    SetModifiedFlag(FALSE);
}

bool CZqDoc::ReadProject(const char *path) {
    CLeftView *view = GetLeftView();
    if (!view || !path)
        return false;
    CBuffer file(path); // a missing file shows its message
    if (file.IsEmpty())
        return false;
    const auto entries = ReadProjectText(file.m_data, file.m_length);
    if (!entries)
        return false;
    bool added = false;
    CListCtrl &list = view->GetListCtrl();
    for (const ProjectEntry &e : *entries) {
        if (e.SourceUnusable() || !FileExists(e.source->c_str())) {
            ShowSourceRemoved(e.source.value_or(""));
            continue;
        }
        char source[MAX_PATH];
        CopyStringN(source, e.source->c_str(), MAX_PATH - 1);
        const int row = view->AddProjectFile(source);
        if (row < 0)
            continue;
        // The stored values replace the derived ones of this row only; a missing key
        // keeps its derived value.
        const std::optional<std::string> *columns[] = {&e.name, &e.id, &e.volume, &e.folder};
        for (int column = 0; column < 4; ++column)
            if (*columns[column])
                list.SetItemText(row, column, (*columns[column])->c_str());
        added = true;
    }
    SetModifiedFlag(FALSE);
    return added;
}

const char *CZqDoc::FindValue(const char *text, const char *key, bool copy) {
    static char value[260];
    const char *at =
        text && key ? FindKeyAtLineStart(text, text + std::strlen(text), key) : nullptr;
    if (!copy)
        return at;
    value[0] = '\0';
    if (at) {
        std::size_t n = 0;
        while (n < kMaxRowText && at[n] && at[n] != '\r' && at[n] != '\n')
            ++n;
        std::memcpy(value, at, n);
        value[n] = '\0';
    }
    return value;
}

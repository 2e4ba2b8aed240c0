// Document templates and the application's documents: new, open by extension, prompts,
// save-all and close-all.
#include "internal.h"

#include <cstring>
#include <string>

IMPLEMENT_DYNAMIC(CDocTemplate, CCmdTarget)
IMPLEMENT_DYNAMIC(CMultiDocTemplate, CDocTemplate)

namespace {

// The extension of `path`'s leaf, with its dot ("" when there is none).
std::string Extension(const char *path) {
    std::string s = path ? path : "";
    size_t slash = s.find_last_of("\\/");
    size_t dot = s.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    return s.substr(dot);
}

} // namespace

CDocTemplate::CDocTemplate(UINT nIDResource, CRuntimeClass *docClass, CRuntimeClass *frameClass,
                           CRuntimeClass *viewClass)
    : m_nIDResource(nIDResource), m_pDocClass(docClass), m_pFrameClass(frameClass),
      m_pViewClass(viewClass) {}

CDocTemplate::~CDocTemplate() {
    // Documents still open lose their template, not their life.
    while (!docs_.IsEmpty())
        static_cast<CDocument *>(docs_.RemoveHead())->m_pDocTemplate = nullptr;
}

BOOL CDocTemplate::GetDocString(CString &text, DocStringIndex index) const {
    text.Empty();
    CString all;
    if (!all.LoadString(m_nIDResource))
        return FALSE;
    std::string s = static_cast<const char *>(all);
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        size_t nl = s.find('\n', start);
        if (nl == std::string::npos)
            return FALSE; // a missing field reads as empty
        start = nl + 1;
    }
    size_t end = s.find('\n', start);
    text = s.substr(start, end == std::string::npos ? std::string::npos : end - start).c_str();
    return !text.IsEmpty();
}

BOOL CDocTemplate::MatchesExtension(LPCSTR path) const {
    CString ext;
    GetDocString(ext, filterExt);
    std::string have = Extension(path);
    return !ext.IsEmpty() && !have.empty() && _stricmp(ext, have.c_str()) == 0;
}

CDocument *CDocTemplate::CreateNewDocument() {
    if (!m_pDocClass)
        return nullptr;
    CObject *object = m_pDocClass->CreateObject();
    if (!object)
        return nullptr;
    if (!object->IsKindOf(RUNTIME_CLASS(CDocument))) {
        delete object;
        return nullptr;
    }
    auto *doc = static_cast<CDocument *>(object);
    AddDocument(doc);
    return doc;
}

CFrameWnd *CDocTemplate::CreateNewFrame(CDocument *doc, CFrameWnd *other) {
    if (!m_pFrameClass)
        return nullptr;
    CCreateContext context;
    context.m_pCurrentFrame = other;
    context.m_pCurrentDoc = doc;
    context.m_pNewViewClass = m_pViewClass;
    context.m_pNewDocTemplate = this;
    CObject *object = m_pFrameClass->CreateObject();
    if (!object)
        return nullptr;
    if (!object->IsKindOf(RUNTIME_CLASS(CFrameWnd))) {
        delete object;
        return nullptr;
    }
    auto *frame = static_cast<CFrameWnd *>(object);
    afx::ForgetSelfDeleted();
    if (!frame->LoadFrame(m_nIDResource, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE, nullptr, &context)) {
        // A frame whose window was made went with it; one that never had a window did not.
        if (!afx::WasSelfDeleted(frame))
            delete frame;
        return nullptr;
    }
    return frame;
}

void CDocTemplate::InitialUpdateFrame(CFrameWnd *frame, CDocument *doc, BOOL makeVisible) {
    frame->InitialUpdateFrame(doc, makeVisible);
}

void CDocTemplate::SetDefaultTitle(CDocument *doc) {
    CString name;
    GetDocString(name, docName);
    if (name.IsEmpty()) {
        name = afx::FrameworkText(AFX_IDS_UNTITLED, "Untitled");
    } else {
        CString number;
        number.Format("%u", untitledCount_ + 1);
        name += number;
    }
    doc->SetTitle(name);
}

void CDocTemplate::AddDocument(CDocument *doc) {
    if (!doc || docs_.Find(doc))
        return;
    docs_.AddTail(doc);
    doc->m_pDocTemplate = this;
}

void CDocTemplate::RemoveDocument(CDocument *doc) {
    if (POSITION pos = docs_.Find(doc)) {
        docs_.RemoveAt(pos);
        doc->m_pDocTemplate = nullptr;
    }
}

CDocument *CDocTemplate::GetNextDoc(POSITION &pos) const {
    return static_cast<CDocument *>(const_cast<CPtrList &>(docs_).GetNext(pos));
}

BOOL CDocTemplate::SaveAllModified() {
    for (POSITION pos = GetFirstDocPosition(); pos;) {
        CDocument *doc = GetNextDoc(pos);
        if (!doc->SaveModified())
            return FALSE;
    }
    return TRUE;
}

void CDocTemplate::CloseAllDocuments(BOOL) {
    // Each close takes the document off the list.
    for (int guard = 0; !docs_.IsEmpty() && guard < 4096; ++guard) {
        auto *doc = static_cast<CDocument *>(docs_.GetHead());
        doc->m_bAutoDelete = TRUE;
        doc->OnCloseDocument();
        if (!docs_.IsEmpty() && docs_.GetHead() == doc)
            RemoveDocument(doc);
    }
}

CDocument *CMultiDocTemplate::OpenDocumentFile(LPCSTR path, BOOL makeVisible) {
    CDocument *doc = CreateNewDocument();
    if (!doc)
        return nullptr;
    // The frame's views come and go while it is made: the document must outlive them.
    BOOL autoDelete = doc->m_bAutoDelete;
    doc->m_bAutoDelete = FALSE;
    CFrameWnd *frame = CreateNewFrame(doc, nullptr);
    doc->m_bAutoDelete = autoDelete;
    if (!frame) {
        delete doc;
        return nullptr;
    }
    BOOL ok;
    if (!path) {
        SetDefaultTitle(doc);
        ok = doc->OnNewDocument();
        if (ok)
            ++untitledCount_;
    } else {
        ok = doc->OnOpenDocument(path);
        if (ok)
            doc->SetPathName(path, TRUE);
    }
    if (!ok) {
        // The frame goes, and with its last view the document.
        frame->DestroyWindow();
        if (docs_.Find(doc))
            delete doc;
        return nullptr;
    }
    InitialUpdateFrame(frame, doc, makeVisible);
    return doc;
}

// ---------------------------------------------------------------------------------------
// The application's templates

void CWinApp::AddDocTemplate(CDocTemplate *tmpl) {
    if (tmpl && !templates_.Find(tmpl))
        templates_.AddTail(tmpl);
}

CDocTemplate *CWinApp::GetNextDocTemplate(POSITION &pos) const {
    return static_cast<CDocTemplate *>(const_cast<CPtrList &>(templates_).GetNext(pos));
}

CDocument *CWinApp::OpenDocumentFile(LPCSTR path) {
    if (!path || !*path)
        return nullptr;
    for (POSITION pos = GetFirstDocTemplatePosition(); pos;) {
        CDocTemplate *tmpl = GetNextDocTemplate(pos);
        if (tmpl->MatchesExtension(path))
            return tmpl->OpenDocumentFile(path);
    }
    return nullptr;
}

void CWinApp::OnFileNew() {
    POSITION pos = GetFirstDocTemplatePosition();
    if (pos)
        GetNextDocTemplate(pos)->OpenDocumentFile(nullptr);
}

void CWinApp::OnFileOpen() {
    CString name;
    if (DoPromptFileName(name, AFX_IDS_OPENFILE, OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, TRUE,
                         nullptr))
        OpenDocumentFile(name);
}

BOOL CWinApp::DoPromptFileName(CString &fileName, UINT titleId, DWORD flags, BOOL openFileDialog,
                               CDocTemplate *tmpl) {
    std::string filter;
    CString defExt;
    auto addFilter = [&filter, &defExt](CDocTemplate *t) {
        CString name, ext;
        t->GetDocString(name, CDocTemplate::filterName);
        t->GetDocString(ext, CDocTemplate::filterExt);
        if (name.IsEmpty() || ext.IsEmpty())
            return;
        filter += static_cast<const char *>(name);
        filter += "|*";
        filter += static_cast<const char *>(ext);
        filter += "|";
        if (defExt.IsEmpty())
            defExt = static_cast<const char *>(ext) + (ext.GetAt(0) == '.' ? 1 : 0);
    };
    if (tmpl) {
        addFilter(tmpl);
    } else {
        for (POSITION pos = GetFirstDocTemplatePosition(); pos;)
            addFilter(GetNextDocTemplate(pos));
    }
    filter += static_cast<const char *>(afx::FrameworkText(AFX_IDS_ALLFILTER, "All Files (*.*)"));
    filter += "|*.*||";
    CString title = afx::FrameworkText(titleId, openFileDialog ? "Open" : "Save As");
    CFileDialog dlg(openFileDialog, defExt.IsEmpty() ? nullptr : static_cast<const char *>(defExt),
                    fileName, flags, filter.c_str());
    dlg.m_ofn.lpstrTitle = title;
    if (dlg.DoModal() != IDOK)
        return FALSE;
    fileName = dlg.GetPathName();
    return !fileName.IsEmpty();
}

BOOL CWinApp::SaveAllModified() {
    for (POSITION pos = GetFirstDocTemplatePosition(); pos;)
        if (!GetNextDocTemplate(pos)->SaveAllModified())
            return FALSE;
    return TRUE;
}

void CWinApp::CloseAllDocuments(BOOL endSession) {
    for (POSITION pos = GetFirstDocTemplatePosition(); pos;)
        GetNextDocTemplate(pos)->CloseAllDocuments(endSession);
}

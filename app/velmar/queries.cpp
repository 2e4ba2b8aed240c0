// CAPrinter's queries and commands: each one or more jobs on the session primitives.
#include "printer.h"

#include <cstring>

#include "errors.h"

char *NewListText(const char *text, std::size_t length) {
    if (length == std::string::npos)
        length = std::strlen(text);
    char *copy = new char[length + 1];
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

void DeleteListText(void *text) { delete[] static_cast<char *>(text); }

void CTextList::Clear() {
    while (!m_list.IsEmpty())
        DeleteListText(m_list.RemoveHead());
}

std::vector<std::string> CTextList::Texts() const {
    std::vector<std::string> texts;
    CPtrList &list = const_cast<CPtrList &>(m_list);
    for (POSITION pos = list.GetHeadPosition(); pos;)
        texts.emplace_back(static_cast<const char *>(list.GetNext(pos)));
    return texts;
}

namespace {

INT_PTR CancelChoice(int, CPtrList &entries, char *chosen) {
    while (!entries.IsEmpty())
        DeleteListText(entries.RemoveHead());
    if (chosen)
        chosen[0] = '\0';
    return IDCANCEL;
}

EntryChooser g_chooser = CancelChoice;

} // namespace

EntryChooser SetEntryChooser(EntryChooser chooser) {
    EntryChooser previous = g_chooser;
    g_chooser = chooser ? chooser : CancelChoice;
    return previous;
}

INT_PTR ChooseEntry(int mode, CPtrList &entries, char *chosen) { return g_chooser(mode, entries, chosen); }

const char *CAPrinter::QueryFlashSimm() { return nullptr; }
int CAPrinter::CollectLockStatus(CPtrList &) { return 1; }
int CAPrinter::QueryFileSystems(CPtrList &) { return 1; }
int CAPrinter::ListDirectory(const char *, CPtrList &) { return 1; }
int CAPrinter::QuerySpoolJobList(CPtrList &, const char *) { return 1; }
int CAPrinter::ListCompelSpoolJobs(CPtrList &) { return 1; }
int CAPrinter::ListSpoolJobs(CPtrList &, const char *) { return 1; }
BOOL CAPrinter::CompelCancelSpoolJob(const char *) { return FALSE; }
BOOL CAPrinter::CompelPrintSpoolJob(const char *, int) { return FALSE; }
BOOL CAPrinter::CancelSpoolJob(const char *, const char *) { return FALSE; }
BOOL CAPrinter::PrintSpoolJob(const char *, const char *, int) { return FALSE; }
BOOL CAPrinter::AssignPartitions(int, int, int) { return FALSE; }
BOOL CAPrinter::Reboot() { return FALSE; }
BOOL CAPrinter::PrintFileList() { return FALSE; }
BOOL CAPrinter::PrintPclFontList() { return FALSE; }
BOOL CAPrinter::PrintPostScriptFontList() { return FALSE; }
BOOL CAPrinter::PrintDemoPage() { return FALSE; }
int CAPrinter::ListPostScriptForms(CPtrList &) { return 1; }
int CAPrinter::ListPostScriptFiles(const char *, CPtrList &) { return 1; }
int CAPrinter::GetPostScriptFileSize(const char *, char *out) {
    std::strcpy(out, " TYPE=FILE SIZE=-1");
    return 1;
}
BOOL CAPrinter::PrintPostScriptFontSample() { return FALSE; }
BOOL CAPrinter::FillPropertyTree(CTreeCtrl &) { return FALSE; }
bool CAPrinter::ParseInfoReply(HTREEITEM, const char *, CTreeCtrl &) { return false; }
bool CAPrinter::CollectReplyLines(CPtrList &, DWORD, const char *, DWORD *stop) {
    *stop = 0;
    return false;
}
bool CAPrinter::CollectPostScriptNames(const char *, CPtrList &, DWORD, const char *, CPtrList &,
                                       DWORD *stop, CPtrList &) {
    *stop = 0;
    return false;
}
bool CAPrinter::AddUniqueName(const char *, CPtrList &) { return false; }
void CAPrinter::AppendPathToEntries(const char *, CPtrList &) {}

// CAPrinter's queries and commands: each one or more jobs on the session primitives.
#include "printer.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "buffer.h"
#include "errors.h"
#include "helpers.h"
#include "queries.h"
#include "reply.h"
#include "resource_ids.h"

char *NewListText(const char *text, std::size_t length) {
    if (length == std::string::npos)
        length = std::strlen(text);
    char *copy = new char[length + 1];
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

void DeleteListText(void *text) {
    delete[] static_cast<char *>(text);
}

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

INT_PTR ChooseEntry(int mode, CPtrList &entries, char *chosen) {
    return g_chooser(mode, entries, chosen);
}

namespace {

constexpr DWORD kDirectoryPage = 40;
const char *const kFontPrefixes[] = {"%disk0%fonts/", "%flash0%fonts/", "%flash1%fonts/",
                                     "%flash2%fonts/"};

void AddText(CPtrList &list, const std::string &text) {
    list.AddTail(NewListText(text.c_str(), text.size()));
}

void ShowOperationFailed() {
    char text[260];
    AfxMessageBox(LoadResString(IDS_OPERATION_FAILED, text));
}

// m_terminator is EOT while a PostScript query runs and FF on every way out.
class PostScriptTerminator {
  public:
    explicit PostScriptTerminator(char &terminator) : terminator_(terminator) {
        terminator_ = kEot;
    }
    ~PostScriptTerminator() { terminator_ = '\f'; }

  private:
    char &terminator_;
};

bool EqualNoCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string WithoutDmo(const std::string &name) {
    return name.size() >= 4 ? name.substr(0, name.size() - 4) : name;
}

// Items of an INFO reply into a tree control.
class TreeSink : public InfoSink {
  public:
    explicit TreeSink(CTreeCtrl &tree) : tree_(tree) {}
    void *Add(void *parent, const std::string &text, InfoPlace place, bool bold) override {
        TVINSERTSTRUCTA insert{};
        insert.hParent = parent ? static_cast<HTREEITEM>(parent) : TVI_ROOT;
        insert.hInsertAfter = place == InfoPlace::Sorted  ? TVI_SORT
                              : place == InfoPlace::First ? TVI_FIRST
                                                          : TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = const_cast<char *>(text.c_str());
        if (bold) {
            insert.item.mask |= TVIF_STATE;
            insert.item.state = TVIS_BOLD;
            insert.item.stateMask = TVIS_BOLD;
        }
        return tree_.InsertItem(&insert);
    }

  private:
    CTreeCtrl &tree_;
};

} // namespace

bool CAPrinter::Exchange(const char *command) {
    DWORD written = 0;
    return WriteString(command, &written) && ReadReply(m_reply, m_replySize, &m_received);
}

int CAPrinter::FailJob() {
    CErrors report(GetLastError());
    EndJob(FALSE);
    return 1;
}

BOOL CAPrinter::SendCommand(const std::optional<std::string> &line) {
    if (!line) {
        ShowOperationFailed();
        return FALSE;
    }
    return SendStream(line->data(), static_cast<DWORD>(line->size()));
}

const char *CAPrinter::QueryFlashSimm() {
    m_exchangeFailed = false;
    if (!Exchange("@PJL INFO FLASHSIMM\r\n")) {
        m_exchangeFailed = true;
        CErrors report(GetLastError());
        return nullptr;
    }
    const std::size_t at = FindBytes(m_reply, m_received, " TABLE]");
    return at == std::string::npos ? nullptr : m_reply + at;
}

int CAPrinter::CollectLockStatus(CPtrList &list) {
    const char *config = nullptr;
    if (StartSession()) {
        config = QueryConfig();
    } else if (GetLastError() != kErrDeclined) {
        char text[260];
        AfxMessageBox(LoadResString(IDS_PRINTER_NO_ANSWER, text));
    }
    EndJob(config != nullptr);
    if (!config)
        return 1;
    for (const std::string &name : ParseLockStatus(m_reply, m_received))
        AddText(list, name);
    return 0;
}

int CAPrinter::QueryFileSystems(CPtrList &list) {
    DWORD written = 0;
    if (!StartSession() || !WriteString("@PJL INFO QUVFILESYS\r\n", &written))
        return FailJob();
    for (int read = 0; read < 11; ++read) {
        if (!ReadReply(m_reply, m_replySize, &m_received)) {
            if (GetLastError() != kErrDeclined)
                CErrors report(kErrNoFileSystem);
            EndJob(FALSE);
            return 1;
        }
        std::vector<std::string> lines;
        if (ParseFileSystems(m_reply, m_received, lines)) {
            for (const std::string &line : lines)
                AddText(list, line);
            EndJob(TRUE);
            return 0;
        }
    }
    EndJob(FALSE);
    return 1;
}

int CAPrinter::ListDirectory(const char *directory, CPtrList &list) {
    if (!DirListCommand(directory, 1, kDirectoryPage)) {
        ShowOperationFailed();
        return 1;
    }
    DWORD entry = 1;
    for (DWORD page = 0;; ++page) {
        if (page == kMaxDirectoryPages) {
            CErrors report(QUV_E_READ); // a printer that never ends its listing
            SetLastError(QUV_E_READ);
            return 1;
        }
        const std::string command = *DirListCommand(directory, entry, kDirectoryPage);
        if (!StartSession() || !Exchange(command.c_str()))
            return FailJob();
        const DirPage result = ParseDirListPage(m_reply, m_received);
        EndJob(result.header);
        if (!result.header)
            return 1;
        for (const std::string &text : result.entries)
            AddText(list, text);
        if (result.counted != kDirectoryPage)
            return 0;
        entry += result.counted;
    }
}

int CAPrinter::QuerySpoolJobList(CPtrList &list, const char *command) {
    if (!StartSession() || !Exchange(command))
        return FailJob();
    std::vector<std::string> lines;
    if (!ParseSpoolJobTable(m_reply, m_received, lines)) {
        EndJob(FALSE);
        return 1;
    }
    for (const std::string &line : lines)
        AddText(list, line);
    EndJob(TRUE);
    return 0;
}

int CAPrinter::ListCompelSpoolJobs(CPtrList &list) {
    return QuerySpoolJobList(list, kSpoolJobCompelInfo);
}

int CAPrinter::ListSpoolJobs(CPtrList &list, const char *pin) {
    const std::optional<std::string> command = SpoolJobInfoCommand(pin);
    if (!command) {
        ShowOperationFailed();
        return 1;
    }
    return QuerySpoolJobList(list, command->c_str());
}

BOOL CAPrinter::CompelCancelSpoolJob(const char *jobId) {
    return SendCommand(CompelCancelCommand(jobId));
}

BOOL CAPrinter::CompelPrintSpoolJob(const char *jobId, int copies) {
    return SendCommand(CompelPrintCommand(jobId, copies));
}

BOOL CAPrinter::CancelSpoolJob(const char *pin, const char *jobId) {
    return SendCommand(CancelJobCommand(pin, jobId));
}

BOOL CAPrinter::PrintSpoolJob(const char *pin, const char *jobId, int copies) {
    return SendCommand(PrintJobCommand(pin, jobId, copies));
}

BOOL CAPrinter::AssignPartitions(int first, int second, int third) {
    return SendCommand(PartitionCommand(first, second, third));
}

BOOL CAPrinter::Reboot() {
    return SendCommand(std::string(kRebootCommand));
}

BOOL CAPrinter::PrintFileList() {
    return SendCommand(std::string(kFileListCommand));
}

BOOL CAPrinter::PrintPclFontList() {
    if (!EnsureLanguages())
        return FALSE;
    if (!SupportsPCL()) {
        ReportMissingLanguage(0x01);
        return FALSE;
    }
    return SendCommand(std::string(kPclFontListCommand));
}

BOOL CAPrinter::PrintPostScriptFontList() {
    if (!EnsureLanguages())
        return FALSE;
    if (!SupportsPostScript()) {
        ReportMissingLanguage(0x02);
        return FALSE;
    }
    return SendCommand(std::string(kPostScriptFontListCommand));
}

BOOL CAPrinter::PrintDemoPage() {
    CTextList volumes;
    if (QueryFileSystems(volumes) != 0)
        return FALSE;
    std::vector<DemoEntry> found;
    for (const std::string &line : volumes.Texts()) {
        const std::string volume = DemoVolumeOf(line);
        if (volume.empty())
            continue;
        const std::string folder = volume + "\\common\\demo";
        CTextList entries;
        if (ListDirectory(folder.c_str(), entries) != 0)
            return FALSE;
        AppendPathToEntries((folder + "\\").c_str(), entries);
        for (const std::string &entry : entries.Texts())
            if (std::optional<DemoEntry> demo = SplitDemoEntry(entry))
                found.push_back(*demo);
    }
    if (m_attrState == 0)
        QueryAttributes();
    const bool read = m_attrState == 2;
    const std::vector<DemoEntry> offered = FilterDemoEntries(found, read);
    CTextList names; // the chooser empties its list: the entries stay in offered
    for (const DemoEntry &demo : offered)
        names.Add(demo.name.c_str());
    char chosen[260] = "";
    if (ChooseEntry(kChooseDemoPage, names, chosen) != IDOK)
        return FALSE;
    const std::string choice(chosen);
    if (EqualNoCase(choice, "DEMO1"))
        return SendCommand(DemoPrintCommand(choice));
    const DemoEntry *entry = nullptr;
    for (const DemoEntry &demo : offered)
        if (EqualNoCase(WithoutDmo(demo.name), choice))
            entry = &demo;
    if (!entry)
        return FALSE;
    if (!read)
        return SendCommand(DemoPrintCommand(choice));
    return SendCommand(FilePrintCommand(entry->path, WithoutDmo(entry->name)));
}

int CAPrinter::RunPostScriptQuery(const std::string &stream, DWORD waitMs, const PieceTaker &take) {
    DWORD written = 0;
    if (!StartSession() || !WriteData(stream.data(), static_cast<DWORD>(stream.size()), &written))
        return FailJob();
    if (waitMs)
        Sleep(waitMs);
    PostScriptReply reply;
    for (;;) {
        if (!ReadChunk(m_reply, m_replySize, &m_received))
            return FailJob();
        const PostScriptReply::State state =
            reply.Add(m_reply, m_received, [&](const char *data, std::size_t length, bool &ended) {
                DWORD stop = 0;
                ended = take(static_cast<DWORD>(length), data, &stop);
                return static_cast<std::size_t>(stop);
            });
        if (state == PostScriptReply::State::Ended)
            break;
        if (state == PostScriptReply::State::Overflow) {
            SetLastError(QUV_E_READ); // no EOT within the caps
            return FailJob();
        }
    }
    EndJob(TRUE);
    return 0;
}

int CAPrinter::ListPostScriptForms(CPtrList &list) {
    PostScriptTerminator eot(m_terminator);
    return RunPostScriptQuery(FormsProgram(), 0, [&](DWORD length, const char *piece, DWORD *stop) {
        return CollectReplyLines(list, length, piece, stop);
    });
}

int CAPrinter::ListPostScriptFiles(const char *prefix, CPtrList &list) {
    PostScriptTerminator eot(m_terminator);
    CTextList seen, files;
    const int result = RunPostScriptQuery(
        FilesProgram(prefix), 500, [&](DWORD length, const char *piece, DWORD *stop) {
            return CollectPostScriptNames(prefix, list, length, piece, seen, stop, files);
        });
    bool sizing = result == 0;
    for (const std::string &name : files.Texts()) {
        char size[260] = " TYPE=FILE SIZE=-1";
        if (sizing)
            sizing = GetPostScriptFileSize((prefix + name).c_str(), size) == 0;
        AddText(list, name + size);
    }
    return result;
}

int CAPrinter::GetPostScriptFileSize(const char *path, char *out) {
    PostScriptTerminator eot(m_terminator);
    const std::string stream = SizeProgram(path);
    DWORD written = 0;
    int size = -1;
    int result = 1;
    if (StartSession() && WriteData(stream.data(), static_cast<DWORD>(stream.size()), &written) &&
        ReadReply(m_reply, m_replySize, &m_received)) {
        size = ParseSizeReply(m_reply, m_received);
        EndJob(TRUE);
        result = 0;
    } else {
        FailJob();
    }
    std::snprintf(out, 260, " TYPE=FILE SIZE=%d", size);
    return result;
}

BOOL CAPrinter::PrintPostScriptFontSample() {
    if (!EnsureLanguages())
        return FALSE;
    if (!SupportsPostScript()) {
        ReportMissingLanguage(0x02);
        return FALSE;
    }
    CTextList entries;
    for (const char *prefix : kFontPrefixes)
        if (ListPostScriptFiles(prefix, entries) != 0)
            return FALSE;
    CTextList names;
    for (std::string entry : entries.Texts()) {
        const std::size_t type = entry.find(" TYPE=");
        if (type == std::string::npos || entry.compare(type, 10, " TYPE=FILE") != 0)
            continue; // folders are no fonts
        entry.resize(type);
        const std::size_t slash = entry.rfind('/');
        names.Add(entry.substr(slash == std::string::npos ? 0 : slash + 1).c_str());
    }
    char chosen[260] = "";
    if (ChooseEntry(kChooseFont, names, chosen) != IDOK)
        return FALSE;
    CMBuffer stream;
    const std::string head = FontSampleHead(chosen);
    stream.Append(head.data(), static_cast<DWORD>(head.size()));
    const std::string path = std::string(ProgramFolder) + "\\fonttest.dat";
    if (!stream.AppendProgramFile("fonttest.dat")) {
        if (FileExists(path.c_str())) { // an empty file: the box a missing one gets
            char text[260];
            AfxMessageBox((std::string(LoadResString(IDS_CANNOT_OPEN_FILE, text)) + path).c_str(),
                          MB_OK | MB_SETFOREGROUND);
        }
        return FALSE;
    }
    return SendStream(stream.m_data, stream.GetLength());
}

BOOL CAPrinter::FillPropertyTree(CTreeCtrl &tree) {
    tree.DeleteAllItems();
    m_flashSimmItem = nullptr;
    const HTREEITEM root = tree.InsertItem(m_displayName);
    if (!StartSession()) {
        FailJob();
        return FALSE;
    }
    char label[260];
    // Each section: its item, the query, and the reply from the line after its header.
    auto section = [&](UINT labelId, const char *command, const char *header,
                       bool &parsed) -> bool {
        const HTREEITEM item = tree.InsertItem(LoadResString(labelId, label), root);
        if (command && !Exchange(command))
            return false;
        const std::size_t at = FindBytes(m_reply, m_received, header);
        parsed = at != std::string::npos;
        if (parsed)
            ParseInfoReply(item, m_reply + SkipToNextLineIn(m_reply, m_received, at), tree);
        return true;
    };
    bool parsed = false;
    if (!section(IDS_PROPERTY_STATUS, "@PJL INFO STATUS\r\n", "@PJL INFO STATUS", parsed)) {
        FailJob();
        return FALSE;
    }
    if (!parsed) {
        EndJob(TRUE);
        return TRUE;
    }
    const HTREEITEM config =
        tree.InsertItem(LoadResString(IDS_PROPERTY_CONFIGURATION, label), root);
    const char *header = QueryConfig();
    if (!header) {
        EndJob(!m_exchangeFailed); // a failure is reported by the query
        return !m_exchangeFailed;
    }
    const bool flashSimm = ParseInfoReply(
        config,
        m_reply + SkipToNextLineIn(m_reply, m_received, static_cast<std::size_t>(header - m_reply)),
        tree);
    if (flashSimm && QueryFlashSimm() && m_flashSimmItem) {
        if (!section(IDS_PROPERTY_VARIABLES, "@PJL INFO VARIABLES\r\n", "@PJL INFO VARIABLES",
                     parsed)) {
            FailJob();
            return FALSE;
        }
    } else if (m_exchangeFailed) {
        EndJob(FALSE);
        return FALSE;
    }
    EndJob(TRUE);
    return TRUE;
}

bool CAPrinter::ParseInfoReply(HTREEITEM parent, const char *reply, CTreeCtrl &tree) {
    const char *data = m_reply;
    std::uint32_t received = m_received;
    if (reply < m_reply || reply > m_reply + m_received) {
        data = reply; // a text of the caller's own
        received = static_cast<std::uint32_t>(std::strlen(reply));
    }
    char label[260];
    TreeSink sink(tree);
    const InfoWalk walk =
        WalkInfoReply(data, received, static_cast<std::size_t>(reply - data), parent, sink,
                      LoadResString(IDS_PROPERTY_CURRENT_VALUE, label));
    if (walk.flashSimm)
        m_flashSimmItem = static_cast<HTREEITEM>(walk.flashSimmItem);
    return walk.flashSimm;
}

bool CAPrinter::CollectReplyLines(CPtrList &list, DWORD length, const char *piece, DWORD *stop) {
    std::vector<std::string> lines;
    bool ended = false;
    *stop = static_cast<DWORD>(TakeReplyLines(piece, length, lines, ended));
    for (const std::string &line : lines)
        AddText(list, line);
    return ended;
}

bool CAPrinter::CollectPostScriptNames(const char *prefix, CPtrList &directories, DWORD length,
                                       const char *piece, CPtrList &seenDirectories, DWORD *stop,
                                       CPtrList &files) {
    std::vector<std::string> lines;
    bool ended = false;
    *stop = static_cast<DWORD>(TakeReplyLines(piece, length, lines, ended));
    for (const std::string &line : lines) {
        const std::optional<std::string> path = DecodePostScriptString(line);
        if (!path)
            continue; // no string token: an error report or noise
        const std::optional<ListedName> name = SortListedName(prefix, *path);
        if (!name)
            continue;
        if (!name->folder)
            AddText(files, name->name);
        else if (!AddUniqueName(name->name.c_str(), seenDirectories))
            AddText(directories, name->name + " TYPE=DIR");
    }
    return ended;
}

bool CAPrinter::AddUniqueName(const char *name, CPtrList &list) {
    for (POSITION pos = list.GetHeadPosition(); pos;)
        if (std::strcmp(static_cast<const char *>(list.GetNext(pos)), name) == 0)
            return true;
    list.AddTail(NewListText(name));
    return false;
}

void CAPrinter::AppendPathToEntries(const char *path, CPtrList &list) {
    for (POSITION pos = list.GetHeadPosition(); pos;) {
        const POSITION at = pos;
        char *old = static_cast<char *>(list.GetNext(pos));
        const std::string text = std::string(old) + " " + path;
        list.SetAt(at, NewListText(text.c_str(), text.size()));
        DeleteListText(old);
    }
}

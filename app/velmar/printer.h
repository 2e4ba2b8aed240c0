// CAPrinter: one printer and the only way the application talks to it. Each command is
// one job on the port opened at construction: StartSession (echo round trip), the
// command, the reply, EndJob.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "corvane.h"
#include "framework.h"

// String list: a CPtrList of heap texts (char *), appended at the tail. The queries fill
// it; whoever holds the list frees each text with DeleteListText.
char *NewListText(const char *text, std::size_t length = std::string::npos);
void DeleteListText(void *text);

// A string list that owns its texts.
class CTextList {
  public:
    CTextList() = default;
    ~CTextList() { Clear(); }
    CTextList(const CTextList &) = delete;
    CTextList &operator=(const CTextList &) = delete;

    operator CPtrList &() { return m_list; }
    CPtrList &List() { return m_list; }
    INT_PTR GetCount() const { return m_list.GetCount(); }
    void Add(const char *text) { m_list.AddTail(NewListText(text)); }
    // Frees every text and empties the list.
    void Clear();
    // The texts in order.
    std::vector<std::string> Texts() const;

  private:
    CPtrList m_list;
};

// The chooser of one entry (a PostScript form, a PostScript font or a demo page): fills
// chosen (260 characters) and returns IDOK, or IDCANCEL. It empties entries, freeing the
// texts. Until a dialog is installed every choice is cancelled.
enum ChooserMode { kChooseForm = 1, kChooseFont = 2, kChooseDemoPage = 3 };
using EntryChooser = INT_PTR (*)(int mode, CPtrList &entries, char *chosen);
// Installs a chooser (null: the cancelling one); returns the one it replaces.
EntryChooser SetEntryChooser(EntryChooser chooser);
INT_PTR ChooseEntry(int mode, CPtrList &entries, char *chosen);

class CAPrinter {
  public:
    explicit CAPrinter(const DiscoveredPrinter &printer);
    virtual ~CAPrinter();
    CAPrinter(const CAPrinter &) = delete;
    CAPrinter &operator=(const CAPrinter &) = delete;

    // Port (results as QuvOpenPort's; nonzero for success).
    BOOL OpenPort(DWORD timeoutMs);
    void SetTimeout(DWORD ms);
    void ClosePort();

    // Session primitives: nonzero for success, the reason in the last-error code.
    BOOL StartSession();
    BOOL WriteData(const void *data, DWORD length, DWORD *written);
    BOOL WriteString(const char *text, DWORD *written);
    BOOL ReadReply(char *buffer, DWORD capacity, DWORD *received);
    BOOL ReadChunk(char *buffer, DWORD capacity, DWORD *received);
    bool IsReplyIncomplete(const char *buffer) const;
    void RemoveUStatus(char *buffer);
    void EndJob(BOOL ok);

    // A whole command or download stream: echo round trip, the stream, UEL, end of job.
    BOOL SendStream(const void *data, DWORD length);
    // False (after "ENTER LANGUAGE=POSTSCRIPT !!") for a PostScript stream on a printer
    // without PostScript.
    BOOL CheckStreamLanguage(const void *data, DWORD length);

    // Inside an open session: the position of "@PJL INFO CONFIG" in m_reply, or null.
    const char *QueryConfig();
    // Reads the language flags once. False when the printer could not be reached (already
    // reported, or a declined retry): the caller sends nothing more.
    BOOL EnsureLanguages();
    BOOL SupportsPCL() const { return m_languages == 0 || (m_languages & 0x01); }
    BOOL SupportsPostScript() const { return m_languages == 0 || (m_languages & 0x02); }
    void ReportMissingLanguage(BYTE bit);
    // The attribute query in its own session: 0 on success.
    int QueryAttributes();

    // Queries: 0 on success, nonzero on failure (reported, except where named).
    // Inside an open session: the position of " TABLE]" in the INFO FLASHSIMM reply, or null.
    const char *QueryFlashSimm();
    // Storage device names ("HDD0") from INFO CONFIG.
    int CollectLockStatus(CPtrList &list);
    // Volume lines of INFO QUVFILESYS.
    int QueryFileSystems(CPtrList &list);
    // Every entry of a directory ("1:\\common\\demo"), read in pages of 40.
    int ListDirectory(const char *directory, CPtrList &list);
    // The lines of a held-job table after its heading.
    int QuerySpoolJobList(CPtrList &list, const char *command);
    int ListCompelSpoolJobs(CPtrList &list);
    int ListSpoolJobs(CPtrList &list, const char *pin);

    // Commands that only send: the result of SendStream (nonzero for success).
    BOOL CompelCancelSpoolJob(const char *jobId);
    BOOL CompelPrintSpoolJob(const char *jobId, int copies);
    BOOL CancelSpoolJob(const char *pin, const char *jobId);
    BOOL PrintSpoolJob(const char *pin, const char *jobId, int copies);
    BOOL AssignPartitions(int first, int second, int third);
    BOOL Reboot();
    BOOL PrintFileList();
    BOOL PrintPclFontList();
    BOOL PrintPostScriptFontList();
    // The demo-page chooser and print; 0 when cancelled or failed.
    BOOL PrintDemoPage();

    // PostScript listings: 0 on success.
    int ListPostScriptForms(CPtrList &list);
    // Files ("NAME TYPE=FILE SIZE=n") and first-level folders ("NAME TYPE=DIR") below prefix.
    int ListPostScriptFiles(const char *prefix, CPtrList &list);
    // Writes " TYPE=FILE SIZE=n" (n -1 when unknown) to out (260 characters).
    int GetPostScriptFileSize(const char *path, char *out);
    // The PostScript font chooser and sample print; 0 when cancelled or failed.
    BOOL PrintPostScriptFontSample();

    // The printer-properties tree: the display name, then Status, Configuration and
    // (with a flash table) Variables. Returns the ok flag the job ended with.
    BOOL FillPropertyTree(CTreeCtrl &tree);
    // The items of one INFO reply (in m_reply, from reply on) under parent; true when a
    // FLASHSIMM key was met.
    bool ParseInfoReply(HTREEITEM parent, const char *reply, CTreeCtrl &tree);
    // The complete lines of a PostScript reply piece, added to list; *stop is the offset
    // of the first byte not taken (an unfinished line, or the EOT). True at the EOT.
    static bool CollectReplyLines(CPtrList &list, DWORD length, const char *piece, DWORD *stop);
    // The names of a filenameforall reply piece: files of the prefix's own folder to
    // files, first-level folders once each ("NAME TYPE=DIR") to directories.
    static bool CollectPostScriptNames(const char *prefix, CPtrList &directories, DWORD length,
                                       const char *piece, CPtrList &seenDirectories, DWORD *stop,
                                       CPtrList &files);
    // True when list holds name already, else appends a copy and returns false.
    static bool AddUniqueName(const char *name, CPtrList &list);
    // Each entry becomes "entry path".
    static void AppendPathToEntries(const char *path, CPtrList &list);

    // Helpers on m_reply, bounded by m_received.
    void GetReplyValue(const char *text, const char *key, char *value) const;
    const char *FindLineEnd(const char *pos) const;
    const char *SkipToNextLine(const char *pos) const;
    const char *SkipBlanks(const char *pos) const;

    static constexpr DWORD kReplySize = 20800;
    static constexpr DWORD kChunk = 0x20000;

    std::int32_t m_attrState = 0; // 0 not queried, 1 no attributes, 2 read
    char m_attr[10][260] = {};    // SPOOLJOBTYPE, NUMPRINT, ... REBOOT
    char m_terminator = '\f';     // FF, or EOT while a PostScript query runs
    BYTE m_languages = 0;         // language flags; 0 = not known yet
    HTREEITEM m_flashSimmItem = nullptr;
    QUVPORT m_hPort = nullptr;
    DWORD m_replySize = kReplySize;
    char *m_reply = nullptr; // kReplySize bytes, owned
    DWORD m_received = 0;
    DWORD m_written = 0;
    char *m_name = nullptr; // into m_names
    char *m_port = nullptr;
    char *m_displayName = nullptr;
    char *m_displayAddress = nullptr;

  private:
    // Takes the lines of the joined reply pieces; true at the EOT (see CollectReplyLines).
    using PieceTaker = std::function<bool(DWORD length, const char *piece, DWORD *stop)>;
    BOOL AskRetry();
    bool Exchange(const char *command);
    int FailJob();
    BOOL SendCommand(const std::optional<std::string> &line);
    int RunPostScriptQuery(const std::string &stream, DWORD waitMs, const PieceTaker &take);
    bool m_exchangeFailed = false; // the last QueryConfig or QueryFlashSimm failed
    std::vector<char> m_names;     // name NUL port NUL
    std::vector<char> m_replyBlock;
};

// Attribute keys, in the order of m_attr.
extern const char *const kAttributeKeys[10];
enum AttributeSlot {
    kAttrSpoolJobType,
    kAttrNumPrint,
    kAttrDemoPage,
    kAttrHddAssign,
    kAttrFlashAssign,
    kAttrPathLength,
    kAttrPasswordRange,
    kAttrPsMenu,
    kAttrInitialize,
    kAttrReboot
};

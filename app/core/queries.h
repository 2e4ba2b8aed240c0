// The printer's queries and commands at byte level: command texts and PostScript programs,
// the parsers of their replies and the walk of an INFO reply. No Windows header; every
// parser is bounded by the count of bytes received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// ---- Command texts ----
// A value goes into a command only when it cannot end or break the line: no CR, LF or '"',
// and in an unquoted field (JOBID, PASSWORD, DEMO) no blank or TAB either. Empty optional:
// the value is refused.
bool IsQuotableValue(std::string_view value);
bool IsFieldValue(std::string_view value);

std::optional<std::string> SpoolJobInfoCommand(std::string_view pin);
std::optional<std::string> CompelCancelCommand(std::string_view jobId);
std::optional<std::string> CompelPrintCommand(std::string_view jobId, int copies);
std::optional<std::string> CancelJobCommand(std::string_view pin, std::string_view jobId);
std::optional<std::string> PrintJobCommand(std::string_view pin, std::string_view jobId,
                                           int copies);
std::string PartitionCommand(int first, int second, int third);
std::optional<std::string> DirListCommand(std::string_view directory, std::uint32_t entry,
                                          std::uint32_t count);
std::optional<std::string> DemoPrintCommand(std::string_view name);
std::optional<std::string> FilePrintCommand(std::string_view volumePath, std::string_view name);

inline constexpr char kSpoolJobCompelInfo[] = "@PJL QUVSPOOLJOBCOMPELINFO\r\n";
inline constexpr char kRebootCommand[] = "@PJL QUVSYSTEM REBOOT=NORMAL\r\n";
inline constexpr char kFileListCommand[] = "@PJL QUVINFOPRINT FILELIST=ALL\r\n";
inline constexpr char kPclFontListCommand[] = "@PJL QUVINFOPRINT FONT=PCL\r\n";
inline constexpr char kPostScriptFontListCommand[] = "@PJL QUVINFOPRINT FONT=POSTSCRIPT\r\n";

// ---- PostScript ----
// A text as the body of a PostScript string: '(', ')' and '\' behind a backslash, bytes
// outside 0x20-0x7E as \ddd (octal). Plain names come out unchanged.
std::string EscapePostScriptString(std::string_view text);
// The text of a string token as the interpreter's == prints it ("(a\)b)" gives "a)b"):
// the line must be one string token, blanks around it allowed. \n \r \t \b \f, \ddd and a
// backslash before a line end are decoded. Empty optional for anything else.
std::optional<std::string> DecodePostScriptString(std::string_view line);

// The streams of the PostScript queries, framed by UELs, each ending with the line that
// makes the interpreter print an EOT behind the output.
std::string FormsProgram();
std::string FilesProgram(std::string_view prefix);
std::string SizeProgram(std::string_view path);
// The font sample's head: the program is completed by fonttest.dat.
std::string FontSampleHead(std::string_view fontName);

inline constexpr char kEot = '\x04';
// Caps of one PostScript reply: a longer line, or more bytes without an EOT, fails the query.
inline constexpr std::size_t kMaxPostScriptLine = 4096;
inline constexpr std::size_t kMaxPostScriptReply = 4u * 1024 * 1024;
// Cap of one directory listing, in pages of 40.
inline constexpr std::uint32_t kMaxDirectoryPages = 1000;

// Complete lines of [data, data + length): a line ends at CR, LF or NUL (CR LF once), empty
// lines are dropped; an EOT ends the reply (the text before it on its line counts). Returns
// the offset of the first byte not taken: the unfinished last line, or the EOT.
std::size_t TakeReplyLines(const char *data, std::size_t length, std::vector<std::string> &lines,
                           bool &ended);

// Joins the pieces of one PostScript reply: each piece goes behind the unfinished tail of
// those before it, and take gets the joined bytes (the contract of TakeReplyLines: returns
// the offset of the first byte not taken, sets ended at the EOT). Overflow: a line longer
// than kMaxPostScriptLine, or more than kMaxPostScriptReply bytes without an EOT.
class PostScriptReply {
  public:
    enum class State { More, Ended, Overflow };
    using Taker = std::function<std::size_t(const char *data, std::size_t length, bool &ended)>;
    State Add(const char *piece, std::size_t length, const Taker &take);

  private:
    std::string pending_;
    std::size_t total_ = 0;
};

// Sorts one listed name (as decoded) under prefix: a file of the prefix's own folder, or
// the first-level folder it lies in. False for a name not under the prefix.
struct ListedName {
    std::string name;
    bool folder = false;
};
std::optional<ListedName> SortListedName(std::string_view prefix, std::string_view path);

// The size that a size query's reply names: the first decimal number; -1 without a digit.
int ParseSizeReply(const char *reply, std::uint32_t received);

// ---- PJL replies ----
// Storage device names of an INFO CONFIG reply: per "LOCK STATUS", the text from its line's
// start, blanks and TABs trimmed; empty names are skipped.
std::vector<std::string> ParseLockStatus(const char *reply, std::uint32_t received);
// Volume lines after the INFO QUVFILESYS header and the column heading. False without the header.
bool ParseFileSystems(const char *reply, std::uint32_t received, std::vector<std::string> &lines);

// One FSDIRLIST page: every line after the header counts; ". " and ".." entries and lines
// without " TYPE=" are counted but not kept.
struct DirPage {
    bool header = false;
    std::uint32_t counted = 0;
    std::vector<std::string> entries;
};
DirPage ParseDirListPage(const char *reply, std::uint32_t received);

// The lines after a held-job table's heading (which ends "\tCOPIES"). False without it.
bool ParseSpoolJobTable(const char *reply, std::uint32_t received, std::vector<std::string> &lines);

// Demo pages: the volume ("10:") of a volume line holding COMMON, or MIX without '%': the
// digits ending at its first colon; empty when there are none.
std::string DemoVolumeOf(std::string_view volumeLine);
// A directory entry with its volume path behind it ("DEMO2.DMO TYPE=FILE SIZE=5 1:\...\").
struct DemoEntry {
    std::string name; // "DEMO2.DMO"
    std::string path; // "1:\common\demo\"
};
std::optional<DemoEntry> SplitDemoEntry(std::string_view entry);
// The entries a chooser offers: names ending ".DMO", and unless any name goes also beginning
// "DEMO" (both without case); of the same name (without case) the last stays, in its place.
std::vector<DemoEntry> FilterDemoEntries(const std::vector<DemoEntry> &entries, bool anyName);

// ---- INFO replies into a tree ----
enum class InfoPlace { Sorted, Last, First };
class InfoSink {
  public:
    virtual ~InfoSink() = default;
    // Adds an item under parent; returns its handle.
    virtual void *Add(void *parent, const std::string &text, InfoPlace place, bool bold) = 0;
};
struct InfoWalk {
    bool flashSimm = false;
    void *flashSimmItem = nullptr;
};
// Reads the reply from pos key by key (KEY; KEY=VALUE; KEY=VALUE [n TYPE]; KEY [n TYPE])
// until the data ends or a line fits none of these. currentLabel precedes a RANGE value.
InfoWalk WalkInfoReply(const char *reply, std::uint32_t received, std::size_t pos, void *parent,
                       InfoSink &sink, const std::string &currentLabel);

// The fake printer's protocol engine: PJL and PostScript replies, an in-memory storage
// tree, scripted faults and a record of every byte received. No socket, no Windows header:
// the listener (server.h) feeds it the bytes of each connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fakeprinter {

// Scripted misbehaviour. The engine applies the byte-level faults to each reply it makes;
// the listener applies the timing and connection ones.
struct Faults {
    bool ustatusBeforeReply = false;  // an unsolicited status block ahead of each reply
    bool ustatusAtConnect = false;    // a status block as soon as the job starts
    std::size_t pieceSize = 0;        // send each reply in pieces of this many bytes (0: whole)
    unsigned delayMs = 0;             // wait before each reply
    bool silent = false;              // answer nothing
    bool closeBeforeReply = false;    // drop the connection instead of replying
    bool closeInsideReply = false;    // drop the connection halfway through a reply
    unsigned readPauseMs = 0;         // stop reading for this long after the job starts
    bool trailingUel = false;         // a UEL after each reply
    std::optional<std::size_t> cutTo; // send only the first n bytes of each reply (no FF)
    bool noHeader = false;            // replies lack their header line
    bool refuseConnections = false;   // connections are refused (listener level)
    bool fullDirPages = false; // every FSDIRLIST page holds COUNT entries, whatever ENTRY says
};

// A print job held on the printer's disk.
struct HeldJob {
    std::string id, pin, name, type;
    int copies = 1;
    std::string stored; // "ON": printing keeps the job
};

// What the printer offers before any download.
struct Setup {
    std::vector<std::string> languages{"PCL", "POSTSCRIPT"};
    // Attribute lines (KEY=VALUE) of INFO QUVWYRATTRIBUTE; attributesQuoted sends the
    // quoted line of a printer without attributes, attributesSilent no reply at all.
    std::vector<std::string> attributes;
    bool attributesQuoted = false;
    bool attributesSilent = false;
    std::vector<std::string> devices{"HDD0"};  // "LOCK STATUS" lines of INFO CONFIG
    std::optional<std::string> flashSimmTable; // INFO FLASHSIMM body; also lists FLASHSIMM
    std::vector<std::string> volumes;          // INFO QUVFILESYS lines, TAB-separated
    std::vector<std::string> forms;            // PostScript form names
    std::string statusBody = "CODE=10001\r\nDISPLAY=\"READY\"\r\nONLINE=TRUE\r\n";
    std::string variablesBody = "COPIES=1 [2 RANGE]\r\n\t1\r\n\t999\r\n";
    std::string dirErrorLine = "FILEERROR=3"; // FSDIRLIST of a missing folder
    std::vector<std::string> configLines;     // more INFO CONFIG lines
    std::vector<HeldJob> jobs;                // held print jobs

    static Setup Default(); // PCL and PostScript, HDD0, volumes 0: 1: %disk0%, one demo file
    std::vector<std::pair<std::string, std::string>> files; // path, contents
    std::vector<std::string> folders;                       // empty folders
};

// Reads a set-up file; returns false and an error text on a bad line.
// Lines: "language PCL", "attribute KEY=VALUE", "attributes quoted|silent", "device HDD0",
// "volume <line, \t for TAB>", "folder <path>", "file <path> <size>", "form <name>",
// "flashsimm <body>", "direrror <line>", "config <line>",
// "job <id> <pin> <name> <type> <copies> [<stored>]"; '#' starts a comment.
bool ParseSetup(std::string_view text, Setup &out, std::string &error);

// One received command and the reply made for it.
struct Exchange {
    std::string command; // the PJL line (without CR LF), or "POSTSCRIPT" for a program
    std::string reply;   // bytes to send, faults applied; empty: no reply
};

struct Job {
    std::string received;              // every byte of the job, in order
    std::vector<std::string> commands; // PJL lines and PostScript programs, in order
};

class Storage {
  public:
    // Volumes whose name starts with '%' use '/' as separator and no leading one
    // ("%disk0%fonts/a"); PJL volumes use '\' ("0:\pcl\a"). Names compare without case.
    void AddFolder(const std::string &path);
    void Store(const std::string &path, std::string contents); // makes folders as needed
    bool Remove(const std::string &path);
    // Removes the files directly in `folder` whose names match `pattern` ('*' matches any
    // run of characters, others match without case); returns how many went.
    std::size_t RemoveMatching(const std::string &folder, const std::string &pattern);
    // Removes every file and folder of a volume ("0:", "%disk0%"); returns the files that went.
    std::size_t EmptyVolume(const std::string &volume);
    const std::string *Find(const std::string &path) const;
    bool FolderExists(const std::string &path) const;
    // Children of a folder: (name, is folder, size), sorted by name without case.
    struct Entry {
        std::string name;
        bool folder;
        std::size_t size;
    };
    std::vector<Entry> List(const std::string &folder) const;
    // Every file path, in order.
    std::vector<std::string> Files() const;

  private:
    static std::string Key(const std::string &path);
    struct File {
        std::string path;
        std::string contents;
    };
    std::map<std::string, File> files_;
    std::map<std::string, std::string> folders_; // key, path as first given
};

class Engine {
  public:
    explicit Engine(Setup setup = Setup::Default());

    Faults defaults;             // faults of every job and command
    std::map<int, Faults> byJob; // faults of job n (from 1), in place of defaults
    std::vector<std::pair<std::string, Faults>> byCommand; // first command-prefix match wins

    // A connection opened: a new job. Returns what the printer sends at once (if anything).
    std::string BeginJob();
    // Bytes of the current job; returns the exchanges completed by them.
    std::vector<Exchange> Feed(std::string_view bytes);
    // The connection closed.
    void EndJob();

    // The faults in force for the current job and a command (empty: job level).
    Faults FaultsFor(std::string_view command) const;

    const std::vector<Job> &Jobs() const { return jobs_; }
    Storage &Files() { return storage_; }
    const Storage &Files() const { return storage_; }
    const Setup &GetSetup() const { return setup_; }
    const std::vector<HeldJob> &HeldJobs() const { return heldJobs_; }

    static constexpr std::string_view kUel = "\x1b%-12345X";
    static constexpr std::size_t kMaxLine = 64 * 1024; // a longer PJL line is dropped

  private:
    enum class Mode { Pjl, Download, Language };

    void HandleLine(const std::string &line, std::vector<Exchange> &out);
    void FinishLanguageData(std::vector<Exchange> &out);
    std::string Reply(std::string_view command, std::string header, std::string body) const;
    std::string ReplyPostScript(const std::string &program) const;
    std::string DirList(const std::string &line) const;
    std::string Config() const;
    std::string JobTable(const std::optional<std::string> &pin) const;
    void ReleaseJob(const std::optional<std::string> &pin, const std::string &line, bool print);

    Setup setup_;
    Storage storage_;
    std::vector<HeldJob> heldJobs_;
    std::vector<Job> jobs_;
    bool inJob_ = false;
    Mode mode_ = Mode::Pjl;
    std::string line_;         // PJL line being read
    std::size_t uelMatch_ = 0; // bytes of a UEL matched so far (language mode)
    std::string language_;     // language of the data being read
    std::string languageData_;
    std::size_t downloadLeft_ = 0;
    std::optional<std::string> downloadName_;
    std::string downloadData_;
};

// Value of KEY in a PJL line: KEY=VALUE or KEY = "VALUE" (quotes removed); empty optional
// when absent. Keys compare without case.
std::optional<std::string> PjlValue(std::string_view line, std::string_view key);

// A text as the interpreter's == prints a string: "(a\\)b)" for "a)b".
std::string PrintedString(std::string_view text);
// The first PostScript string token of a program, decoded, and the offset past it.
std::optional<std::pair<std::string, std::size_t>> FirstStringToken(std::string_view program);

// The bytes of a set-up or log text with control bytes escaped (\r \n \f \x1b ...).
std::string Escape(std::string_view bytes);

} // namespace fakeprinter

// Projects without the platform: the .OPJ text, the rules that kind, name and place a file
// added to a project, the edit rules, the duplicate-ID check and the download names.
// No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "stream.h"

// A project row's kind, kept as its image index.
enum ProjectItemKind {
    kItemBitmapFont = 8,
    kItemTrueTypeFont = 9,
    kItemMacro = 10, // demo pages and PCL macros
    kItemPostScriptFont = 11,
    kItemPostScriptForm = 12,
    kItemColourProfile = 13,
};

// Longest ID the list keeps for a row.
inline constexpr std::size_t kMaxIdText = 9;
// Longest name, volume, folder or source path a row keeps.
inline constexpr std::size_t kMaxRowText = kMaxPathText;

inline constexpr char kDemoFolder[] = "\\common\\demo";
inline constexpr char kMacroFolder[] = "\\pcl\\macros";

// ---- the .OPJ text ----

struct ProjectRow {
    std::string source, name, id, volume, folder;
};

// "[FILES]", "Count=<n>", an empty line, then seven lines per row, all ended by CR LF; the
// ID written at most 9 characters, the other values at most 259.
std::string WriteProjectText(const std::vector<ProjectRow> &rows);

// One section of a project file. An absent key is empty here.
struct ProjectEntry {
    long long number = 0;
    std::optional<std::string> source;                   // the whole value, however long
    std::optional<std::string> name, id, volume, folder; // cut at 259 characters
    // A source that no row could have written: no key, or a value past 259 characters.
    bool SourceUnusable() const { return !source || source->size() > kMaxRowText; }
};

// The sections [file0] to [file<Count - 1>] that the text holds, in number order. The text
// ends at its first NUL. Section headers and keys count only at a line start; a section
// runs to the next line starting with '['; the first of repeated sections or keys wins.
// Empty when the text has no "[FILES]\r\nCount=".
std::optional<std::vector<ProjectEntry>> ReadProjectText(const char *text, std::size_t length);

// The position just after `key` where it starts a line of [begin, end), or null.
const char *FindKeyAtLineStart(const char *begin, const char *end, const char *key);

// ---- adding a file ----

// The leaf's extension after its last '.', upper-cased; "" when there is none.
std::string ExtensionOf(const std::string &path);
// The path a file is added under: .PRN becomes .HST (PostScript) or .BIN, .ICC and .ICM
// become .OP1 (any case); others stay.
std::string ConvertedProjectPath(const std::string &path, bool postScript);

struct ProjectTarget {
    int kind;
    const char *folder;
    const char *volume;
};
// The kind, folder and volume of a file by its (upper-cased) extension.
ProjectTarget TargetForExtension(const std::string &ext);

// Every character of " %()/<>[]\{}_", '"' and each byte below 0x20 become '-'; the result
// is cut at 259 characters.
std::string SanitiseName(const std::string &name);

// The font name of a PostScript font file: after /FontName (files holding
// "%!PS-AdobeFont") or before definefont, from the '/' to the next white space. Empty
// when neither gives a name.
std::string PostScriptFontName(const std::uint8_t *data, std::size_t size);
// The text of a colour profile's .op2 companion trimmed of white space, after its last '\'.
std::string ColourProfileText(const std::string &op2);
// The decimal number (at most 9 digits) after the first "ink" in the text; 0 without one.
std::uint32_t InkId(const std::string &text);

struct NameAndId {
    std::string name, id;
};
// The name and ID of a new row of `kind`, from its derived name, the number of rows before
// it and, for a colour profile, its .op2 text.
NameAndId RowNameAndId(int kind, const std::string &name, int rowsBefore,
                       const std::string &profileText);

// ---- editing a row ----

// The edited values made whole: the name sanitised, a one-character volume gets ':'; in
// exactly "\common\demo" the name is upper-cased and ends in ".DMO". True when ".DMO" was
// appended.
bool ApplyEditRules(std::string &name, std::string &volume, std::string &folder);

// ---- sending ----

struct IdRow {
    int kind;
    std::string id;
};
// The number an ID reads as: at most 9 characters, an optional sign, then digits; empty
// when it does not start with a number.
std::optional<long> ReadIdNumber(const std::string &id);
// The first pair {i, j}, i < j, of rows of one ID family (8 and 9; 10) whose IDs read as
// the same number; empty when there is none.
std::optional<std::pair<int, int>> FindDuplicateId(const std::vector<IdRow> &rows);

// name + "_" + id.
std::string JoinWithUnderscore(const std::string &name, const std::string &id);
// The name a row is downloaded under: fonts name_ID; macros in exactly "\pcl\macros"
// their ID; in exactly "\common\demo" the name upper-cased, with ".DMO" unless it holds it.
std::string DownloadName(int kind, const std::string &name, const std::string &id,
                         const std::string &folder);
// True when the text may stand inside a PJL line: no '"' and no byte below 0x20.
bool IsPjlSafeText(const std::string &text);

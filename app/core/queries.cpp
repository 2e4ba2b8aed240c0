#include "queries.h"

#include <climits>

#include "reply.h"

namespace {

constexpr std::string_view kUelText = "\x1b%-12345X";
constexpr std::string_view kEnterPostScript = "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n";
constexpr std::string_view kEotLine = " flush (\\004) cvx cvn == flush";

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

bool EndsNoCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && EqualNoCase(s.substr(s.size() - suffix.size()), suffix);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n' || c == '\f' || c == '\0';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string Text(const char *reply, std::size_t from, std::size_t to) {
    return std::string(reply + from, to - from);
}

// Position past the blanks and TABs of a line.
std::size_t SkipLineBlanks(const char *reply, std::uint32_t received, std::size_t pos) {
    while (pos < received && IsBlank(reply[pos]))
        ++pos;
    return pos;
}

bool AtReplyEnd(const char *reply, std::uint32_t received, std::size_t pos) {
    return pos >= received || reply[pos] == '\f' || reply[pos] == '\0';
}

// Each line from pos until the FF, blanks dropped at its start; empty lines skipped.
void CollectLines(const char *reply, std::uint32_t received, std::size_t pos,
                  std::vector<std::string> &lines) {
    while (!AtReplyEnd(reply, received, pos)) {
        const std::size_t start = SkipLineBlanks(reply, received, pos);
        const std::size_t end = FindLineEndIn(reply, received, start);
        if (end > start)
            lines.push_back(Text(reply, start, end));
        const std::size_t next = SkipToNextLineIn(reply, received, end);
        if (next <= pos)
            break;
        pos = next;
    }
}

std::string PostScriptQuery(std::string_view comment, const std::string &program) {
    std::string stream(kUelText);
    stream += kEnterPostScript;
    stream += comment;
    stream += "\r\n";
    stream += program;
    stream += kEotLine;
    stream += kUelText;
    return stream;
}

} // namespace

// ---- Command texts ----

bool IsQuotableValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\"\0", 4)) == std::string_view::npos;
}

bool IsFieldValue(std::string_view value) {
    return IsQuotableValue(value) && value.find_first_of(" \t") == std::string_view::npos;
}

std::optional<std::string> SpoolJobInfoCommand(std::string_view pin) {
    if (!IsFieldValue(pin))
        return std::nullopt;
    return "@PJL QUVSPOOLJOBINFO PASSWORD=" + std::string(pin) + "\r\n";
}

std::optional<std::string> CompelCancelCommand(std::string_view jobId) {
    if (!IsFieldValue(jobId))
        return std::nullopt;
    return "@PJL QUVSPOOLJOBCOMPELCANCEL JOBID=" + std::string(jobId) + "\r\n";
}

std::optional<std::string> CompelPrintCommand(std::string_view jobId, int copies) {
    if (!IsFieldValue(jobId))
        return std::nullopt;
    std::string line = "@PJL QUVSPOOLJOBCOMPELPRINT JOBID=" + std::string(jobId);
    if (copies != 0)
        line += " QTY=" + std::to_string(copies);
    return line + "\r\n";
}

std::optional<std::string> CancelJobCommand(std::string_view pin, std::string_view jobId) {
    if (!IsFieldValue(pin) || !IsFieldValue(jobId))
        return std::nullopt;
    return "@PJL QUVSPOOLJOBCANCEL PASSWORD=" + std::string(pin) + " JOBID=" + std::string(jobId) +
           "\r\n";
}

std::optional<std::string> PrintJobCommand(std::string_view pin, std::string_view jobId,
                                           int copies) {
    if (!IsFieldValue(pin) || !IsFieldValue(jobId))
        return std::nullopt;
    std::string line =
        "@PJL QUVSPOOLJOBPRINT PASSWORD=" + std::string(pin) + " JOBID=" + std::string(jobId);
    if (copies != 0)
        line += " QTY=" + std::to_string(copies);
    return line + "\r\n";
}

std::string PartitionCommand(int first, int second, int third) {
    return "@PJL QUVPARTITIONASSIGN LOCATION=HDD0 DISTRIBUTION=\"" + std::to_string(first) + " " +
           std::to_string(second) + " " + std::to_string(third) + "\"\r\n";
}

std::optional<std::string> DirListCommand(std::string_view directory, std::uint32_t entry,
                                          std::uint32_t count) {
    if (!IsQuotableValue(directory))
        return std::nullopt;
    return "@PJL FSDIRLIST NAME = \"" + std::string(directory) +
           "\" ENTRY=" + std::to_string(entry) + " COUNT=" + std::to_string(count) + " \r\n";
}

std::optional<std::string> DemoPrintCommand(std::string_view name) {
    if (!IsFieldValue(name))
        return std::nullopt;
    return "@PJL QUVINFOPRINT DEMO=" + std::string(name) + "\r\n";
}

std::optional<std::string> FilePrintCommand(std::string_view volumePath, std::string_view name) {
    if (!IsQuotableValue(volumePath) || !IsQuotableValue(name))
        return std::nullopt;
    return "@PJL QUVFILEPRINT NAME=\"" + std::string(volumePath) + std::string(name) + ".DMO\"\r\n";
}

// ---- PostScript ----

std::string EscapePostScriptString(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '(' || c == ')' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c > 0x7e) {
            out += '\\';
            out += static_cast<char>('0' + (c >> 6));
            out += static_cast<char>('0' + ((c >> 3) & 7));
            out += static_cast<char>('0' + (c & 7));
        } else {
            out += ch;
        }
    }
    return out;
}

std::optional<std::string> DecodePostScriptString(std::string_view line) {
    line = TrimBlanks(line);
    if (line.size() < 2 || line.front() != '(')
        return std::nullopt;
    std::string out;
    int depth = 1;
    std::size_t i = 1;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0)
                break;
        } else if (c == '\\') {
            if (++i >= line.size())
                return std::nullopt;
            const char e = line[i];
            switch (e) {
            case 'n':
                out += '\n';
                continue;
            case 'r':
                out += '\r';
                continue;
            case 't':
                out += '\t';
                continue;
            case 'b':
                out += '\b';
                continue;
            case 'f':
                out += '\f';
                continue;
            case '(':
            case ')':
            case '\\':
                out += e;
                continue;
            case '\r':
                if (i + 1 < line.size() && line[i + 1] == '\n')
                    ++i;
                continue;
            case '\n':
                continue;
            default:
                break;
            }
            if (e < '0' || e > '7')
                return std::nullopt;
            unsigned value = 0;
            std::size_t digits = 0;
            while (digits < 3 && i < line.size() && line[i] >= '0' && line[i] <= '7') {
                value = value * 8 + static_cast<unsigned>(line[i] - '0');
                ++i;
                ++digits;
            }
            --i;
            if (value > 255)
                return std::nullopt;
            out += static_cast<char>(value);
            continue;
        }
        out += c;
    }
    if (depth != 0 || !TrimBlanks(line.substr(i + 1)).empty())
        return std::nullopt;
    return out;
}

std::string FormsProgram() {
    return PostScriptQuery("%%!Adobe-PS", "(*) {==} =string /Form resourceforall \r\n");
}

std::string FilesProgram(std::string_view prefix) {
    return PostScriptQuery("%!Adobe-PS", "(" + EscapePostScriptString(prefix) +
                                             "*) {==} =string filenameforall\r\n");
}

std::string SizeProgram(std::string_view path) {
    return PostScriptQuery("%!Adobe-PS",
                           "(" + EscapePostScriptString(path) +
                               ") status {pop pop == pop} { (No File) = } ifelse \r\n");
}

std::string FontSampleHead(std::string_view fontName) {
    std::string stream(kUelText);
    stream += kEnterPostScript;
    stream += "%!Adobe-PS\r\n/FontName where { pop } { /FontName (";
    stream += EscapePostScriptString(fontName);
    return stream;
}

std::size_t TakeReplyLines(const char *data, std::size_t length, std::vector<std::string> &lines,
                           bool &ended) {
    ended = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (c == kEot) {
            if (i > start)
                lines.emplace_back(data + start, i - start);
            ended = true;
            return i;
        }
        if (c == '\r' || c == '\n' || c == '\0') {
            if (i > start)
                lines.emplace_back(data + start, i - start);
            start = i + 1;
        }
    }
    return start;
}

PostScriptReply::State PostScriptReply::Add(const char *piece, std::size_t length,
                                            const Taker &take) {
    pending_.append(piece, length);
    total_ += length;
    bool ended = false;
    const std::size_t stop = take(pending_.data(), pending_.size(), ended);
    if (ended)
        return State::Ended;
    pending_.erase(0, stop);
    if (pending_.size() > kMaxPostScriptLine || total_ > kMaxPostScriptReply)
        return State::Overflow;
    return State::More;
}

std::optional<ListedName> SortListedName(std::string_view prefix, std::string_view path) {
    if (path.size() <= prefix.size() || path.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    const std::string_view rest = path.substr(prefix.size());
    const std::size_t slash = rest.find('/');
    if (slash == 0)
        return std::nullopt;
    if (slash == std::string_view::npos)
        return ListedName{std::string(rest), false};
    return ListedName{std::string(rest.substr(0, slash)), true};
}

int ParseSizeReply(const char *reply, std::uint32_t received) {
    std::uint32_t i = 0;
    while (i < received && !(reply[i] >= '0' && reply[i] <= '9'))
        ++i;
    if (i == received)
        return -1;
    long long value = 0;
    for (; i < received && reply[i] >= '0' && reply[i] <= '9'; ++i) {
        value = value * 10 + (reply[i] - '0');
        if (value > INT_MAX)
            value = INT_MAX;
    }
    return static_cast<int>(value);
}

// ---- PJL replies ----

std::vector<std::string> ParseLockStatus(const char *reply, std::uint32_t received) {
    std::vector<std::string> names;
    constexpr std::string_view kLock = "LOCK STATUS";
    std::size_t from = 0;
    while (from < received) {
        const std::size_t found = FindBytes(reply + from, received - from, "LOCK STATUS");
        if (found == std::string::npos)
            break;
        const std::size_t at = from + found;
        std::size_t start = at;
        while (start > 0 && !IsLineEnd(reply[start - 1]))
            --start;
        const std::string_view name = TrimBlanks(std::string_view(reply + start, at - start));
        if (!name.empty())
            names.emplace_back(name);
        from = at + kLock.size();
    }
    return names;
}

bool ParseFileSystems(const char *reply, std::uint32_t received, std::vector<std::string> &lines) {
    const std::size_t header = FindBytes(reply, received, "@PJL INFO QUVFILESYS");
    if (header == std::string::npos)
        return false;
    std::size_t pos = SkipToNextLineIn(reply, received, header);
    if (!AtReplyEnd(reply, received, pos))
        pos = SkipToNextLineIn(reply, received, pos); // the column heading
    CollectLines(reply, received, pos, lines);
    return true;
}

DirPage ParseDirListPage(const char *reply, std::uint32_t received) {
    DirPage page;
    const std::size_t header = FindBytes(reply, received, "@PJL FSDIRLIST NAME");
    if (header == std::string::npos)
        return page;
    page.header = true;
    std::size_t pos = SkipToNextLineIn(reply, received, header);
    while (!AtReplyEnd(reply, received, pos)) {
        const std::size_t end = FindLineEndIn(reply, received, pos);
        const std::string_view line(reply + pos, end - pos);
        ++page.counted;
        const bool dots = line.compare(0, 2, ". ") == 0 || line.compare(0, 3, ".. ") == 0;
        if (!dots && line.find(" TYPE=") != std::string_view::npos)
            page.entries.emplace_back(line);
        const std::size_t next = SkipToNextLineIn(reply, received, end);
        if (next <= pos)
            break;
        pos = next;
    }
    return page;
}

bool ParseSpoolJobTable(const char *reply, std::uint32_t received,
                        std::vector<std::string> &lines) {
    const std::size_t heading = FindBytes(reply, received, "\tCOPIES");
    if (heading == std::string::npos)
        return false;
    CollectLines(reply, received, SkipToNextLineIn(reply, received, heading), lines);
    return true;
}

std::string DemoVolumeOf(std::string_view line) {
    const bool common = line.find("COMMON") != std::string_view::npos;
    const bool mix =
        line.find("MIX") != std::string_view::npos && line.find('%') == std::string_view::npos;
    if (!common && !mix)
        return {};
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return {};
    std::size_t start = colon;
    while (start > 0 && line[start - 1] >= '0' && line[start - 1] <= '9')
        --start;
    if (start == colon)
        return {};
    return std::string(line.substr(start, colon - start + 1));
}

std::optional<DemoEntry> SplitDemoEntry(std::string_view entry) {
    const std::size_t type = entry.find(" TYPE=FILE SIZE=");
    if (type == std::string_view::npos || type == 0)
        return std::nullopt;
    std::size_t pos = type + std::string_view(" TYPE=FILE SIZE=").size();
    if (pos < entry.size() && entry[pos] == '-')
        ++pos;
    while (pos < entry.size() && entry[pos] >= '0' && entry[pos] <= '9')
        ++pos;
    DemoEntry out{std::string(entry.substr(0, type)), {}};
    if (pos < entry.size() && entry[pos] == ' ')
        out.path = std::string(entry.substr(pos + 1));
    return out;
}

std::vector<DemoEntry> FilterDemoEntries(const std::vector<DemoEntry> &entries, bool anyName) {
    std::vector<DemoEntry> kept;
    for (const DemoEntry &e : entries) {
        if (!EndsNoCase(e.name, ".DMO") || (!anyName && !StartsNoCase(e.name, "DEMO")))
            continue;
        for (auto it = kept.begin(); it != kept.end();) {
            if (EqualNoCase(it->name, e.name))
                it = kept.erase(it);
            else
                ++it;
        }
        kept.push_back(e);
    }
    return kept;
}

// ---- INFO replies ----

namespace {

struct Bracket {
    std::uint32_t count = 0;
    bool range = false;
};

// "[n TYPE]" from pos (just past the '['): n saturates, a missing or negative n is 0.
Bracket ReadBracket(const char *reply, std::size_t pos, std::size_t end) {
    Bracket b;
    while (pos < end && IsBlank(reply[pos]))
        ++pos;
    bool negative = false;
    if (pos < end && reply[pos] == '-') {
        negative = true;
        ++pos;
    }
    std::uint64_t n = 0;
    while (pos < end && reply[pos] >= '0' && reply[pos] <= '9') {
        n = n * 10 + static_cast<unsigned>(reply[pos] - '0');
        if (n > UINT32_MAX)
            n = UINT32_MAX;
        ++pos;
    }
    b.count = negative ? 0 : static_cast<std::uint32_t>(n);
    while (pos < end && IsBlank(reply[pos]))
        ++pos;
    b.range = end - pos >= 5 && EqualNoCase(std::string_view(reply + pos, 5), "RANGE");
    return b;
}

// Past the blanks before a key (bytes 1 to 32 and 0x80 up, but not the FF).
std::size_t SkipKeyBlanks(const char *reply, std::uint32_t received, std::size_t pos) {
    while (pos < received) {
        const unsigned char c = static_cast<unsigned char>(reply[pos]);
        if (c == '\f' || !((c >= 1 && c <= 32) || c >= 0x80))
            break;
        ++pos;
    }
    return pos;
}

// The n lines from pos: each one's text without leading blanks, until the reply ends.
std::vector<std::string> ReadOptionLines(const char *reply, std::uint32_t received,
                                         std::size_t &pos, std::uint32_t n) {
    std::vector<std::string> lines;
    for (std::uint32_t i = 0; i < n && !AtReplyEnd(reply, received, pos); ++i) {
        const std::size_t start = SkipLineBlanks(reply, received, pos);
        const std::size_t end = FindLineEndIn(reply, received, start);
        lines.emplace_back(TrimBlanks(std::string_view(reply + start, end - start)));
        const std::size_t next = SkipToNextLineIn(reply, received, end);
        if (next <= pos)
            break;
        pos = next;
    }
    return lines;
}

std::string JoinFirstWords(const std::vector<std::string> &lines) {
    std::string joined;
    for (const std::string &line : lines) {
        if (!joined.empty())
            joined += " - ";
        joined += line.substr(0, line.find_first_of(" \t"));
    }
    return joined;
}

} // namespace

InfoWalk WalkInfoReply(const char *reply, std::uint32_t received, std::size_t pos, void *parent,
                       InfoSink &sink, const std::string &currentLabel) {
    InfoWalk walk;
    for (;;) {
        pos = SkipKeyBlanks(reply, received, pos);
        if (AtReplyEnd(reply, received, pos))
            break;
        std::size_t keyEnd = pos;
        while (keyEnd < received && reply[keyEnd] != '=' && reply[keyEnd] != '[' &&
               !IsLineEnd(reply[keyEnd]))
            ++keyEnd;
        const std::string key(TrimBlanks(std::string_view(reply + pos, keyEnd - pos)));
        if (key.empty())
            break; // a line of no form
        const char stop = keyEnd < received ? reply[keyEnd] : '\0';
        const std::size_t lineEnd = FindLineEndIn(reply, received, keyEnd);
        void *item = sink.Add(parent, key, InfoPlace::Sorted, false);
        if (stop != '=' && stop != '[') {
            if (key.compare(0, 9, "FLASHSIMM") == 0) {
                walk.flashSimm = true;
                walk.flashSimmItem = item;
            }
            pos = SkipToNextLineIn(reply, received, lineEnd);
            continue;
        }
        std::string value;
        std::size_t bracket = std::string::npos;
        if (stop == '=') {
            const std::string_view rest(reply + keyEnd + 1, lineEnd - keyEnd - 1);
            const std::size_t open = rest.find('[');
            value = std::string(TrimBlanks(rest.substr(0, open)));
            if (open != std::string_view::npos)
                bracket = keyEnd + 1 + open;
        } else {
            bracket = keyEnd;
        }
        pos = SkipToNextLineIn(reply, received, lineEnd);
        if (bracket == std::string::npos) {
            sink.Add(item, value, InfoPlace::Last, false);
            continue;
        }
        const Bracket b = ReadBracket(reply, bracket + 1, lineEnd);
        const std::vector<std::string> options = ReadOptionLines(reply, received, pos, b.count);
        if (b.range) {
            if (stop == '=')
                sink.Add(item, currentLabel + " " + value, InfoPlace::First, false);
            if (!options.empty())
                sink.Add(item, JoinFirstWords(options), InfoPlace::Last, false);
        } else {
            for (const std::string &option : options)
                sink.Add(item, option, InfoPlace::Last, stop == '=' && option == value);
        }
    }
    return walk;
}

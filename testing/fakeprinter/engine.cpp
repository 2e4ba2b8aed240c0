#include "engine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>

namespace fakeprinter {

namespace {

constexpr std::string_view kUStatus =
    "@PJL USTATUS DEVICE\r\nCODE=10023\r\nDISPLAY=\"PROCESSING\"\r\n\f";
constexpr std::size_t kMaxDownload = 256u * 1024 * 1024;
constexpr std::size_t kMaxLanguageData = 16u * 1024 * 1024;

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && Upper(s.substr(0, prefix.size())) == Upper(prefix);
}

bool Contains(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

// A path split into its volume and its components.
struct SplitPath {
    std::string volume;
    std::vector<std::string> parts;
    bool postscript = false;
};

SplitPath Split(const std::string &path) {
    SplitPath out;
    std::size_t pos = 0;
    if (!path.empty() && path[0] == '%') {
        out.postscript = true;
        std::size_t end = path.find('%', 1);
        pos = end == std::string::npos ? path.size() : end + 1;
    } else {
        std::size_t colon = path.find(':');
        pos = colon == std::string::npos ? 0 : colon + 1;
    }
    out.volume = path.substr(0, pos);
    const char sep = out.postscript ? '/' : '\\';
    std::string part;
    for (std::size_t i = pos; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == sep || (!out.postscript && path[i] == '/')) {
            if (!part.empty())
                out.parts.push_back(part);
            part.clear();
        } else {
            part += path[i];
        }
    }
    return out;
}

std::string Join(const SplitPath &p, std::size_t count) {
    std::string out = p.volume;
    for (std::size_t i = 0; i < count && i < p.parts.size(); ++i) {
        if (p.postscript)
            out += (i == 0 ? "" : "/") + p.parts[i];
        else
            out += "\\" + p.parts[i];
    }
    return out;
}

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return std::string(s.substr(b, e - b));
}

std::optional<std::size_t> ParseCount(std::string_view text) {
    if (text.empty() || text.size() > 12)
        return std::nullopt;
    std::size_t v = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || ptr != text.data() + text.size())
        return std::nullopt;
    return v;
}

// '*' matches any run (empty included); other characters match without case.
bool WildMatch(std::string_view name, std::string_view pattern) {
    std::size_t n = 0, p = 0, starAt = std::string_view::npos, resumeAt = 0;
    auto same = [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) ==
               std::toupper(static_cast<unsigned char>(b));
    };
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = n;
        } else if (p < pattern.size() && same(pattern[p], name[n])) {
            ++p;
            ++n;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

// The byte-level faults on a finished reply: cut short, a status block ahead, a UEL behind.
void ApplyReplyFaults(const Faults &f, std::string &reply) {
    if (f.cutTo && *f.cutTo < reply.size())
        reply.resize(*f.cutTo);
    if (f.ustatusBeforeReply)
        reply.insert(0, kUStatus);
    if (f.trailingUel)
        reply += Engine::kUel;
}

} // namespace

std::optional<std::string> PjlValue(std::string_view line, std::string_view key) {
    const std::string upper = Upper(line);
    const std::string ukey = Upper(key);
    std::size_t at = 0;
    while ((at = upper.find(ukey, at)) != std::string::npos) {
        const bool boundary = at == 0 || upper[at - 1] == ' ' || upper[at - 1] == '\t';
        std::size_t p = at + ukey.size();
        while (p < line.size() && line[p] == ' ')
            ++p;
        if (boundary && p < line.size() && line[p] == '=') {
            ++p;
            while (p < line.size() && line[p] == ' ')
                ++p;
            if (p < line.size() && line[p] == '"') {
                std::size_t end = line.find('"', p + 1);
                if (end == std::string_view::npos)
                    end = line.size();
                return std::string(line.substr(p + 1, end - p - 1));
            }
            std::size_t end = p;
            while (end < line.size() && line[end] != ' ' && line[end] != '\t')
                ++end;
            return std::string(line.substr(p, end - p));
        }
        at += ukey.size();
    }
    return std::nullopt;
}

std::string Escape(std::string_view bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (c < 0x20 || c >= 0x7f) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::string PrintedString(std::string_view text) {
    std::string out = "(";
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '(':
            out += "\\(";
            break;
        case ')':
            out += "\\)";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (c < 0x20 || c > 0x7e) {
                out += '\\';
                out += static_cast<char>('0' + (c >> 6));
                out += static_cast<char>('0' + ((c >> 3) & 7));
                out += static_cast<char>('0' + (c & 7));
            } else {
                out += ch;
            }
        }
    }
    return out + ")";
}

std::optional<std::pair<std::string, std::size_t>> FirstStringToken(std::string_view program) {
    std::size_t i = 0;
    // Comments run to the line end; the first '(' outside them opens the string.
    while (i < program.size() && program[i] != '(') {
        if (program[i] == '%')
            while (i < program.size() && program[i] != '\n' && program[i] != '\r')
                ++i;
        else
            ++i;
    }
    if (i >= program.size())
        return std::nullopt;
    std::string out;
    int depth = 1;
    for (++i; i < program.size(); ++i) {
        const char c = program[i];
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0)
                return std::make_pair(out, i + 1);
        } else if (c == '\\' && i + 1 < program.size()) {
            const char e = program[++i];
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
            case '\n':
                continue;
            case '\r':
                if (i + 1 < program.size() && program[i + 1] == '\n')
                    ++i;
                continue;
            default:
                break;
            }
            if (e >= '0' && e <= '7') {
                unsigned v = 0;
                std::size_t n = 0;
                while (n < 3 && i < program.size() && program[i] >= '0' && program[i] <= '7') {
                    v = v * 8 + static_cast<unsigned>(program[i++] - '0');
                    ++n;
                }
                --i;
                out += static_cast<char>(v & 0xff);
            } else {
                out += e; // \( \) \\ and unknown escapes: the character itself
            }
            continue;
        }
        out += c;
    }
    return std::nullopt;
}

// ---- Set-up ----

Setup Setup::Default() {
    Setup s;
    s.attributes = {"SPOOLJOBTYPE=ALL",   "NUMPRINT=ENABLE", "DEMOPAGE=ENABLE", "HDDASSIGN=ENABLE",
                    "FLASHASSIGN=ENABLE", "PATHLENGTH=255",  "PASSWORDRANGE=8", "PSMENU=ENABLE",
                    "INITIALIZE=ENABLE",  "REBOOT=ENABLE"};
    s.volumes = {"0:\t40000000\t39000000\tHDD0\tPCL", "1:\t40000000\t39000000\tHDD0\tCOMMON",
                 "%disk0%\t40000000\t39000000\tHDD0\tPOSTSCRIPT"};
    s.files = {{"1:\\common\\demo\\DEMO2.DMO", std::string(512, 'D')}};
    return s;
}

bool ParseSetup(std::string_view text, Setup &out, std::string &error) {
    Setup s;
    s.languages.clear();
    s.devices.clear();
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNo;
        if (line.empty() || line[0] == '#')
            continue;
        std::size_t space = line.find(' ');
        std::string key = Upper(line.substr(0, space));
        std::string value = space == std::string::npos ? "" : Trim(line.substr(space + 1));
        // "\t" in a value stands for a TAB.
        for (std::size_t at; (at = value.find("\\t")) != std::string::npos;)
            value.replace(at, 2, "\t");
        auto bad = [&](const char *why) {
            error = "set-up line " + std::to_string(lineNo) + ": " + why;
            return false;
        };
        if (value.empty())
            return bad("missing value");
        if (key == "LANGUAGE") {
            s.languages.push_back(value);
        } else if (key == "ATTRIBUTE") {
            s.attributes.push_back(value);
        } else if (key == "ATTRIBUTES") {
            if (Upper(value) == "QUOTED")
                s.attributesQuoted = true;
            else if (Upper(value) == "SILENT")
                s.attributesSilent = true;
            else
                return bad("attributes must be quoted or silent");
        } else if (key == "DEVICE") {
            s.devices.push_back(value);
        } else if (key == "VOLUME") {
            s.volumes.push_back(value);
        } else if (key == "FOLDER") {
            s.folders.push_back(value);
        } else if (key == "FILE") {
            std::size_t sp = value.rfind(' ');
            auto size = sp == std::string::npos ? std::nullopt : ParseCount(value.substr(sp + 1));
            if (!size || *size > 64u * 1024 * 1024)
                return bad("file needs a path and a size");
            s.files.push_back({value.substr(0, sp), std::string(*size, 'F')});
        } else if (key == "FORM") {
            s.forms.push_back(value);
        } else if (key == "FLASHSIMM") {
            s.flashSimmTable = value + "\r\n";
        } else if (key == "DIRERROR") {
            s.dirErrorLine = value;
        } else if (key == "CONFIG") {
            s.configLines.push_back(value);
        } else if (key == "JOB") {
            std::vector<std::string> words;
            for (std::size_t at = 0; at < value.size();) {
                const std::size_t end = std::min(value.find(' ', at), value.size());
                if (end > at)
                    words.push_back(value.substr(at, end - at));
                at = end + 1;
            }
            auto copies = words.size() >= 5 ? ParseCount(words[4]) : std::nullopt;
            if (!copies || words.size() > 6 || *copies > 9999)
                return bad(
                    "job needs an id, a PIN, a name, a type, copies and maybe a stored flag");
            s.jobs.push_back(HeldJob{words[0], words[1], words[2], words[3],
                                     static_cast<int>(*copies), words.size() == 6 ? words[5] : ""});
        } else {
            return bad("unknown key");
        }
        if (end == text.size())
            break;
    }
    out = std::move(s);
    return true;
}

// ---- Storage ----

std::string Storage::Key(const std::string &path) {
    SplitPath p = Split(path);
    return Upper(Join(p, p.parts.size()));
}

void Storage::AddFolder(const std::string &path) {
    SplitPath p = Split(path);
    for (std::size_t n = 0; n <= p.parts.size(); ++n) {
        std::string folder = Join(p, n);
        folders_.emplace(Upper(folder), folder);
    }
}

void Storage::Store(const std::string &path, std::string contents) {
    SplitPath p = Split(path);
    if (p.parts.empty())
        return;
    for (std::size_t n = 0; n < p.parts.size(); ++n) {
        std::string folder = Join(p, n);
        folders_.emplace(Upper(folder), folder);
    }
    std::string full = Join(p, p.parts.size());
    files_[Upper(full)] = File{full, std::move(contents)};
}

bool Storage::Remove(const std::string &path) {
    return files_.erase(Key(path)) > 0;
}

std::size_t Storage::EmptyVolume(const std::string &volume) {
    const std::string wanted = Upper(volume);
    std::size_t removed = 0;
    for (auto it = files_.begin(); it != files_.end();) {
        if (Upper(Split(it->second.path).volume) == wanted) {
            it = files_.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    for (auto it = folders_.begin(); it != folders_.end();) {
        const SplitPath p = Split(it->second);
        if (Upper(p.volume) == wanted && !p.parts.empty())
            it = folders_.erase(it);
        else
            ++it;
    }
    return removed;
}

std::size_t Storage::RemoveMatching(const std::string &folder, const std::string &pattern) {
    const SplitPath dir = Split(folder);
    std::size_t removed = 0;
    for (auto it = files_.begin(); it != files_.end();) {
        const SplitPath p = Split(it->second.path);
        bool inFolder =
            Upper(p.volume) == Upper(dir.volume) && p.parts.size() == dir.parts.size() + 1;
        for (std::size_t i = 0; inFolder && i < dir.parts.size(); ++i)
            inFolder = Upper(p.parts[i]) == Upper(dir.parts[i]);
        if (inFolder && WildMatch(p.parts.back(), pattern)) {
            it = files_.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    return removed;
}

const std::string *Storage::Find(const std::string &path) const {
    auto it = files_.find(Key(path));
    return it == files_.end() ? nullptr : &it->second.contents;
}

bool Storage::FolderExists(const std::string &path) const {
    return folders_.count(Key(path)) > 0;
}

std::vector<Storage::Entry> Storage::List(const std::string &folder) const {
    SplitPath dir = Split(folder);
    const std::string volume = Upper(dir.volume);
    std::map<std::string, Entry> children;
    auto consider = [&](const std::string &path, bool isFolder, std::size_t size) {
        SplitPath p = Split(path);
        if (Upper(p.volume) != volume || p.parts.size() <= dir.parts.size())
            return;
        for (std::size_t i = 0; i < dir.parts.size(); ++i)
            if (Upper(p.parts[i]) != Upper(dir.parts[i]))
                return;
        const std::string &name = p.parts[dir.parts.size()];
        const bool deeper = p.parts.size() > dir.parts.size() + 1;
        Entry entry{name, isFolder || deeper, (isFolder || deeper) ? 0 : size};
        auto [it, added] = children.emplace(Upper(name), entry);
        if (!added && entry.folder)
            it->second = Entry{it->second.name, true, 0};
    };
    for (const auto &[key, path] : folders_)
        consider(path, true, 0);
    for (const auto &[key, file] : files_)
        consider(file.path, false, file.contents.size());
    std::vector<Entry> out;
    for (auto &[key, entry] : children)
        out.push_back(entry);
    return out;
}

std::vector<std::string> Storage::Files() const {
    std::vector<std::string> out;
    for (const auto &[key, file] : files_)
        out.push_back(file.path);
    return out;
}

// ---- Engine ----

Engine::Engine(Setup setup) : setup_(std::move(setup)), heldJobs_(setup_.jobs) {
    for (const std::string &volume : setup_.volumes)
        storage_.AddFolder(volume.substr(0, volume.find('\t')));
    for (const std::string &folder : setup_.folders)
        storage_.AddFolder(folder);
    for (const auto &[path, contents] : setup_.files)
        storage_.Store(path, contents);
}

Faults Engine::FaultsFor(std::string_view command) const {
    if (!command.empty()) {
        for (const auto &[prefix, faults] : byCommand)
            if (StartsWithNoCase(command, prefix))
                return faults;
    }
    auto it = byJob.find(static_cast<int>(jobs_.size()));
    return it != byJob.end() ? it->second : defaults;
}

std::string Engine::BeginJob() {
    jobs_.push_back(Job{});
    inJob_ = true;
    mode_ = Mode::Pjl;
    line_.clear();
    uelMatch_ = 0;
    languageData_.clear();
    downloadLeft_ = 0;
    downloadName_.reset();
    downloadData_.clear();
    Faults f = FaultsFor({});
    return f.ustatusAtConnect && !f.silent ? std::string(kUStatus) : std::string();
}

void Engine::EndJob() {
    inJob_ = false;
    mode_ = Mode::Pjl;
    line_.clear();
    languageData_.clear();
    downloadData_.clear();
    downloadName_.reset();
}

std::vector<Exchange> Engine::Feed(std::string_view bytes) {
    std::vector<Exchange> out;
    if (!inJob_)
        BeginJob();
    jobs_.back().received.append(bytes);
    std::size_t i = 0;
    while (i < bytes.size()) {
        switch (mode_) {
        case Mode::Download: {
            std::size_t take = std::min(downloadLeft_, bytes.size() - i);
            downloadData_.append(bytes.substr(i, take));
            downloadLeft_ -= take;
            i += take;
            if (downloadLeft_ == 0) {
                if (downloadName_)
                    storage_.Store(*downloadName_, std::move(downloadData_));
                downloadData_.clear();
                downloadName_.reset();
                mode_ = Mode::Pjl;
            }
            break;
        }
        case Mode::Language: {
            const char c = bytes[i++];
            if (c == kUel[uelMatch_]) {
                if (++uelMatch_ == kUel.size()) {
                    uelMatch_ = 0;
                    FinishLanguageData(out);
                    mode_ = Mode::Pjl;
                }
                break;
            }
            if (uelMatch_ > 0) {
                if (languageData_.size() < kMaxLanguageData)
                    languageData_.append(kUel.substr(0, uelMatch_));
                uelMatch_ = 0;
                --i; // look at this byte again as a possible UEL start
                break;
            }
            if (languageData_.size() < kMaxLanguageData)
                languageData_ += c;
            break;
        }
        case Mode::Pjl: {
            const char c = bytes[i++];
            if (c == '\n') {
                std::string line = line_;
                line_.clear();
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                HandleLine(line, out);
                break;
            }
            line_ += c;
            if (line_.size() >= kUel.size() &&
                std::string_view(line_).substr(line_.size() - kUel.size()) == kUel)
                line_.erase(line_.size() - kUel.size());
            if (line_.size() > kMaxLine)
                line_.clear();
            break;
        }
        }
    }
    return out;
}

std::string Engine::Reply(std::string_view command, std::string header, std::string body) const {
    Faults f = FaultsFor(command);
    if (f.silent)
        return {};
    std::string r = f.noHeader ? std::string() : header + "\r\n";
    r += body;
    r += '\f';
    ApplyReplyFaults(f, r);
    return r;
}

std::string Engine::Config() const {
    std::string body = "IN TRAYS [1 ENUMERATED]\r\n\tINTRAY1 MP\r\n";
    body += "LANGUAGES [" + std::to_string(setup_.languages.size()) + " ENUMERATED]\r\n";
    for (const std::string &language : setup_.languages)
        body += "\t" + language + "\r\n";
    for (const std::string &device : setup_.devices)
        body += device + " LOCK STATUS=UNLOCKED\r\n";
    if (setup_.flashSimmTable)
        body += "FLASHSIMM\r\n";
    body += "MEMORY=67108864\r\n";
    for (const std::string &line : setup_.configLines)
        body += line + "\r\n";
    return body;
}

std::string Engine::JobTable(const std::optional<std::string> &pin) const {
    std::string body = "\tJOBID\tNAME\tTYPE\tCOPIES\r\n";
    for (const HeldJob &job : heldJobs_) {
        if (pin && job.pin != *pin)
            continue;
        body +=
            "\t" + job.id + "\t" + job.name + "\t" + job.type + "\t" + std::to_string(job.copies);
        if (!job.stored.empty())
            body += "\t" + job.stored;
        body += "\r\n";
    }
    return body;
}

void Engine::ReleaseJob(const std::optional<std::string> &pin, const std::string &line,
                        bool print) {
    const std::optional<std::string> id = PjlValue(line, "JOBID");
    for (auto it = heldJobs_.begin(); id && it != heldJobs_.end(); ++it) {
        if (it->id != *id || (pin && it->pin != *pin))
            continue;
        if (!print || Upper(it->stored) != "ON")
            heldJobs_.erase(it);
        return;
    }
}

std::string Engine::DirList(const std::string &line) const {
    std::string body;
    std::optional<std::string> name = PjlValue(line, "NAME");
    auto entry = ParseCount(PjlValue(line, "ENTRY").value_or("1"));
    auto count = ParseCount(PjlValue(line, "COUNT").value_or("1000000"));
    if (FaultsFor(line).fullDirPages && entry && count) {
        for (std::size_t i = 0; i < *count && i < 100000; ++i)
            body += "F" + std::to_string(*entry + i) + " TYPE=FILE SIZE=1\r\n";
    } else if (!name || !storage_.FolderExists(*name)) {
        body = setup_.dirErrorLine + "\r\n";
    } else if (entry && count && *entry >= 1) {
        std::vector<std::string> lines = {". TYPE=DIR", ".. TYPE=DIR"};
        for (const Storage::Entry &e : storage_.List(*name))
            lines.push_back(e.folder ? e.name + " TYPE=DIR"
                                     : e.name + " TYPE=FILE SIZE=" + std::to_string(e.size));
        for (std::size_t i = *entry - 1; i < lines.size() && i < *entry - 1 + *count; ++i)
            body += lines[i] + "\r\n";
    }
    return Reply(line, Trim(line), body);
}

void Engine::HandleLine(const std::string &line, std::vector<Exchange> &out) {
    if (!StartsWithNoCase(line, "@PJL"))
        return; // print data or noise: recorded, not answered
    jobs_.back().commands.push_back(line);
    const std::string upper = Upper(line);
    std::string rest = Trim(std::string_view(upper).substr(4));
    auto is = [&](std::string_view word) {
        return rest.compare(0, word.size(), word) == 0 &&
               (rest.size() == word.size() || rest[word.size()] == ' ');
    };
    std::string reply;
    if (is("ECHO")) {
        reply = Reply(line, Trim(line), "");
    } else if (is("INFO CONFIG")) {
        reply = Reply(line, "@PJL INFO CONFIG", Config());
    } else if (is("INFO QUVWYRATTRIBUTE")) {
        if (!setup_.attributesSilent) {
            std::string body;
            if (setup_.attributesQuoted)
                body = "\"?\"\r\n";
            else
                for (const std::string &a : setup_.attributes)
                    body += a + "\r\n";
            reply = Reply(line, "@PJL INFO QUVWYRATTRIBUTE", body);
        }
    } else if (is("INFO QUVFILESYS")) {
        std::string body = "VOLUME\tTOTAL SIZE\tFREE SPACE\tLOCATION\tLABEL\r\n";
        for (const std::string &v : setup_.volumes)
            body += v + "\r\n";
        reply = Reply(line, "@PJL INFO QUVFILESYS", body);
    } else if (is("INFO STATUS")) {
        reply = Reply(line, "@PJL INFO STATUS", setup_.statusBody);
    } else if (is("INFO VARIABLES")) {
        reply = Reply(line, "@PJL INFO VARIABLES", setup_.variablesBody);
    } else if (is("INFO FLASHSIMM")) {
        if (setup_.flashSimmTable)
            reply = Reply(line, "@PJL INFO FLASHSIMM", *setup_.flashSimmTable);
    } else if (is("QUVSPOOLJOBINFO")) {
        reply = Reply(line, Trim(line), JobTable(PjlValue(line, "PASSWORD").value_or("")));
    } else if (is("QUVSPOOLJOBCOMPELINFO")) {
        reply = Reply(line, Trim(line), JobTable(std::nullopt));
    } else if (is("QUVSPOOLJOBCANCEL") || is("QUVSPOOLJOBPRINT")) {
        ReleaseJob(PjlValue(line, "PASSWORD").value_or(""), line, is("QUVSPOOLJOBPRINT"));
    } else if (is("QUVSPOOLJOBCOMPELCANCEL") || is("QUVSPOOLJOBCOMPELPRINT")) {
        ReleaseJob(std::nullopt, line, is("QUVSPOOLJOBCOMPELPRINT"));
    } else if (is("FSDIRLIST")) {
        reply = DirList(line);
    } else if (is("FSDOWNLOAD")) {
        auto size = ParseCount(PjlValue(line, "SIZE").value_or(""));
        if (size && *size <= kMaxDownload) {
            downloadName_ = PjlValue(line, "NAME");
            downloadLeft_ = *size;
            downloadData_.clear();
            if (downloadLeft_ == 0) {
                if (downloadName_)
                    storage_.Store(*downloadName_, {});
                downloadName_.reset();
            } else {
                mode_ = Mode::Download;
            }
        }
    } else if (is("FSDELETE")) {
        if (auto name = PjlValue(line, "NAME"))
            storage_.Remove(*name);
    } else if (is("QUVWILDFSDELETE")) {
        // NAME="<volume><folder>\<pattern>": the matching files of that folder, no reply.
        if (auto name = PjlValue(line, "NAME")) {
            const std::size_t slash = name->find_last_of('\\');
            if (slash != std::string::npos)
                storage_.RemoveMatching(name->substr(0, slash), name->substr(slash + 1));
        }
    } else if (is("FSINIT")) {
        if (auto volume = PjlValue(line, "VOLUME"))
            storage_.EmptyVolume(*volume);
    } else if (is("FSMKDIR")) {
        if (auto name = PjlValue(line, "NAME"))
            storage_.AddFolder(*name);
    } else if (is("ENTER")) {
        if (auto language = PjlValue(line, "LANGUAGE")) {
            language_ = Upper(*language);
            languageData_.clear();
            uelMatch_ = 0;
            mode_ = Mode::Language;
        }
    }
    out.push_back(Exchange{line, std::move(reply)});
}

void Engine::FinishLanguageData(std::vector<Exchange> &out) {
    std::string program = std::move(languageData_);
    languageData_.clear();
    const std::string command = language_ == "POSTSCRIPT" ? "POSTSCRIPT" : "LANGUAGE " + language_;
    jobs_.back().commands.push_back(command);
    std::string reply;
    if (language_ == "POSTSCRIPT") {
        // "(<name>) deletefile": the one program that changes the storage.
        const auto operand = FirstStringToken(program);
        if (operand && Contains(program.substr(operand->second), "deletefile"))
            storage_.Remove(operand->first);
        Faults f = FaultsFor(command);
        if (!f.silent) {
            reply = ReplyPostScript(program);
            ApplyReplyFaults(f, reply);
        }
    }
    out.push_back(Exchange{command, std::move(reply)});
}

std::string Engine::ReplyPostScript(const std::string &program) const {
    // The programs the application sends: one string operand, then what is done with it.
    std::string out;
    const auto operand = FirstStringToken(program);
    const std::string rest = operand ? program.substr(operand->second) : std::string();
    if (operand && Contains(rest, "resourceforall") && Contains(rest, "/Form")) {
        for (const std::string &form : setup_.forms)
            out += PrintedString(form) + "\n";
    } else if (operand && Contains(rest, "filenameforall")) {
        std::string prefix = operand->first;
        if (!prefix.empty() && prefix.back() == '*')
            prefix.pop_back();
        for (const std::string &path : storage_.Files())
            if (StartsWithNoCase(path, prefix))
                out += PrintedString(path) + "\n";
    } else if (operand && rest.compare(0, 7, " status") == 0) {
        if (const std::string *file = storage_.Find(operand->first)) {
            out += std::to_string(file->size()) + "\n";
        } else if (Contains(rest, "(No File) print =")) {
            return "No File"; // print leaves nothing for the =: the interpreter stops there
        } else {
            out += "No File\n";
        }
    }
    if (Contains(program, "(\\004) cvx cvn =="))
        out += "\x04\n";
    return out;
}

} // namespace fakeprinter

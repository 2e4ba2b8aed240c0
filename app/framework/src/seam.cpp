// The test seam: scripted answers for message boxes and file dialogs, and an event log.
// Built only into the test variant of the framework (the framework_seam object library):
// linking it fills in the framework's seam hooks before main runs. What ships has none of it.
#include "framework_seam.h"
#include "internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>

namespace {

struct Seam {
    std::mutex lock;
    bool active = false;
    std::deque<std::string> answers;
    std::vector<AfxTestSeam::Event> log;
    std::string logFile; // FRAMEWORK_TEST_LOG, appended line by line
};

Seam &State() {
    static Seam *seam = new Seam;
    return *seam;
}

std::string Escape(const std::string &s) {
    std::string out;
    for (char c : s) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

// Takes the next answer; false when none is queued or the seam is off. Logs the event.
bool Take(std::string &answer, bool &haveAnswer) {
    Seam &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.active)
        return false;
    haveAnswer = !s.answers.empty();
    if (haveAnswer) {
        answer = s.answers.front();
        s.answers.pop_front();
    }
    return true;
}

void Record(const AfxTestSeam::Event &event) {
    Seam &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.log.push_back(event);
    if (!s.logFile.empty()) {
        std::ofstream out(s.logFile, std::ios::app | std::ios::binary);
        out << event.Line() << "\r\n";
    }
}

// A box answer: a name or a decimal number; 0 when the text is neither.
int ParseBoxAnswer(const std::string &a) {
    static const struct {
        const char *name;
        int id;
    } names[] = {{"IDOK", IDOK},        {"IDCANCEL", IDCANCEL}, {"IDYES", IDYES},
                 {"IDNO", IDNO},        {"IDABORT", IDABORT},   {"IDRETRY", IDRETRY},
                 {"IDIGNORE", IDIGNORE}};
    for (const auto &n : names)
        if (a == n.name)
            return n.id;
    if (a.empty() || a.size() > 4 || a.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    int v = std::atoi(a.c_str());
    return v >= IDOK && v <= IDCONTINUE ? v : 0;
}

} // namespace

namespace AfxTestSeam {

std::string Event::Line() const {
    char head[96];
    std::snprintf(head, sizeof head, "%s\tthread=%lu\towner=%p\tflags=0x%X", kind.c_str(),
                  static_cast<unsigned long>(thread), static_cast<void *>(owner), flags);
    std::string line = head;
    if (kind == "help") {
        line += "\tfile=" + Escape(caption);
        char data_[40];
        std::snprintf(data_, sizeof data_, "\tdata=%llu", static_cast<unsigned long long>(data));
        line += data_;
    } else if (kind == "open" || kind == "save") {
        line += "\ttitle=" + Escape(caption) + "\tfilter=" + Escape(filter) +
                "\text=" + Escape(ext) + "\tname=" + Escape(text);
    } else {
        line += "\tcaption=" + Escape(caption) + "\ttext=" + Escape(text);
    }
    line += "\tanswer=" + Escape(answer);
    return line;
}

void Begin() {
    Seam &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.active = true;
}

void End() {
    Seam &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.active = false;
    s.answers.clear();
    s.log.clear();
}

bool Active() {
    Seam &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.active;
}

void PushAnswer(const std::string &answer) {
    Seam &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.answers.push_back(answer);
}

std::vector<Event> TakeLog() {
    Seam &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    std::vector<Event> out;
    out.swap(s.log);
    return out;
}

} // namespace AfxTestSeam

namespace {

// Writes the NULs of a double-NUL-terminated filter as '|', for logs.
std::string ShowNuls(const char *multi) {
    std::string out;
    if (!multi)
        return out;
    // A double-NUL-terminated list; each NUL shown as '|'.
    for (const char *p = multi; *p; p += std::strlen(p) + 1) {
        out += p;
        out += '|';
    }
    return out;
}

// A program on the framework's WinMain: FRAMEWORK_TEST_SCRIPT names a file of answers, one
// a line, and activates the seam; FRAMEWORK_TEST_LOG names a file the events are appended to.
void ProgramStart() {
    const char *script = std::getenv("FRAMEWORK_TEST_SCRIPT");
    const char *log = std::getenv("FRAMEWORK_TEST_LOG");
    if (!script || !*script)
        return;
    std::vector<std::string> lines;
    std::ifstream in(script, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    Seam &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.active = true;
    if (log && *log)
        s.logFile = log;
    for (auto &l : lines)
        s.answers.push_back(l);
}

bool Box(HWND owner, LPCSTR text, LPCSTR caption, UINT type, int &answer) {
    AfxTestSeam::Event event;
    std::string scripted;
    bool have = false;
    if (!Take(scripted, have))
        return false;
    event.kind = "box";
    event.thread = GetCurrentThreadId();
    event.owner = owner;
    event.caption = caption ? caption : "";
    event.text = text ? text : "";
    event.flags = type;
    answer = have ? ParseBoxAnswer(scripted) : 0;
    if (answer == 0) {
        // Unscripted, or a line that names no box answer: the negative answer.
        if (have) {
            AfxTestSeam::Event bad;
            bad.kind = "script";
            bad.thread = event.thread;
            bad.text = "not a box answer: " + scripted;
            Record(bad);
        }
        answer = afx::NegativeAnswer(type);
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", answer);
    event.answer = have ? scripted : std::string();
    if (!have)
        event.answer = std::string("(none) ") + buf;
    Record(event);
    return true;
}

// Fills ofn.lpstrFile with `content` (`length` bytes with its NULs). False when it does not
// fit.
bool FillFile(OPENFILENAMEA &ofn, const std::string &content) {
    if (!ofn.lpstrFile || ofn.nMaxFile < content.size())
        return false;
    std::memcpy(ofn.lpstrFile, content.data(), content.size());
    return true;
}

bool FileDialog(bool open, OPENFILENAMEA &ofn, const std::string &defExt, int &answer) {
    AfxTestSeam::Event event;
    std::string scripted;
    bool have = false;
    if (!Take(scripted, have))
        return false;
    event.kind = open ? "open" : "save";
    event.thread = GetCurrentThreadId();
    event.owner = ofn.hwndOwner;
    event.caption = ofn.lpstrTitle ? ofn.lpstrTitle : "";
    event.flags = ofn.Flags;
    event.filter = ShowNuls(ofn.lpstrFilter);
    event.ext = defExt;
    if (ofn.lpstrFile && ofn.nMaxFile > 0)
        event.text.assign(ofn.lpstrFile, strnlen(ofn.lpstrFile, ofn.nMaxFile));
    event.answer = have ? scripted : "(none)";
    answer = IDCANCEL;

    bool ok = false;
    std::string content;
    WORD offset = 0, extension = 0;
    if (have && scripted.rfind("file:", 0) == 0 && scripted.size() > 5) {
        std::string path = scripted.substr(5);
        size_t slash = path.find_last_of("\\/");
        size_t dot = path.find_last_of('.');
        offset = static_cast<WORD>(slash == std::string::npos ? 0 : slash + 1);
        extension =
            static_cast<WORD>(dot != std::string::npos && dot >= offset ? dot + 1 : path.size());
        content = path;
        content.push_back('\0');
        content.push_back('\0');
        ok = path.size() < 0x10000;
    } else if (have && scripted.rfind("files:", 0) == 0) {
        // folder|name|name...: the folder, a NUL, each name and a NUL, then a closing NUL.
        std::string rest = scripted.substr(6);
        std::vector<std::string> parts;
        size_t start = 0;
        for (;;) {
            size_t bar = rest.find('|', start);
            parts.push_back(rest.substr(start, bar - start));
            if (bar == std::string::npos)
                break;
            start = bar + 1;
        }
        ok = parts.size() >= 2 && !parts[0].empty() && rest.size() < 0x10000;
        for (size_t i = 1; ok && i < parts.size(); ++i)
            ok = !parts[i].empty();
        if (ok) {
            offset = static_cast<WORD>(parts[0].size() + 1);
            extension = 0;
            for (auto &p : parts) {
                content += p;
                content.push_back('\0');
            }
            content.push_back('\0');
        }
    } else if (have && scripted != "IDCANCEL") {
        AfxTestSeam::Event bad;
        bad.kind = "script";
        bad.thread = event.thread;
        bad.text = "not a file dialog answer: " + scripted;
        Record(bad);
    }
    if (ok && FillFile(ofn, content)) {
        ofn.nFileOffset = offset;
        ofn.nFileExtension = extension;
        answer = IDOK;
    } else {
        if (ofn.lpstrFile && ofn.nMaxFile > 0)
            ofn.lpstrFile[0] = '\0';
        if (ok)
            event.answer += " (buffer too small)";
    }
    Record(event);
    return true;
}

void Help(LPCSTR file, UINT cmd, DWORD_PTR data) {
    if (!AfxTestSeam::Active())
        return;
    AfxTestSeam::Event event;
    event.kind = "help";
    event.thread = GetCurrentThreadId();
    event.caption = file ? file : "";
    event.flags = cmd;
    event.data = data;
    Record(event);
}

void Beep(UINT type) {
    if (!AfxTestSeam::Active())
        return;
    AfxTestSeam::Event event;
    event.kind = "beep";
    event.thread = GetCurrentThreadId();
    event.flags = type;
    Record(event);
}

constexpr afx::SeamHooks kHooks = {Box, FileDialog, Help, ProgramStart, Beep};

[[maybe_unused]] const bool kInstalled = (afx::g_seamHooks = &kHooks, true);

} // namespace

#include "scripted_port.h"

#include "corvane.h"

#include <algorithm>

namespace scriptedport {

namespace {

Script g_script;
const QUVPORT kHandle = reinterpret_cast<QUVPORT>(0x5150);

Step Next(std::deque<Step> &queue) {
    if (queue.empty())
        return Step{};
    Step s = queue.front();
    queue.pop_front();
    return s;
}

BOOL Answer(const Step &s) {
    if (!s.result)
        SetLastError(s.lastError);
    return s.result;
}

} // namespace

Script &Current() {
    return g_script;
}

void Reset() {
    g_script = Script{};
}

std::string Script::Written() const {
    std::string out;
    for (const Record &r : calls)
        if (r.call == Call::Write)
            out += r.data;
    return out;
}

std::size_t Script::Count(Call call) const {
    return static_cast<std::size_t>(
        std::count_if(calls.begin(), calls.end(), [&](const Record &r) { return r.call == call; }));
}

} // namespace scriptedport

using scriptedport::Call;
using scriptedport::g_script;

extern "C" {

BOOL WINAPI QuvOpenPort(LPCSTR port, QUVPORT *ph, DWORD) {
    scriptedport::Step s = scriptedport::Next(g_script.open);
    if (ph)
        *ph = s.result ? scriptedport::kHandle : nullptr;
    g_script.calls.push_back({Call::Open, 0, port ? port : "", s.result});
    return scriptedport::Answer(s);
}

BOOL WINAPI QuvSetPortTimeout(QUVPORT, DWORD ms) {
    g_script.calls.push_back({Call::SetTimeout, ms, {}, TRUE});
    return TRUE;
}

BOOL WINAPI QuvStartJobPort(QUVPORT) {
    scriptedport::Step s = scriptedport::Next(g_script.start);
    g_script.calls.push_back({Call::StartJob, 0, {}, s.result});
    return scriptedport::Answer(s);
}

BOOL WINAPI QuvWritePort(QUVPORT, const void *p, DWORD n, DWORD *taken, DWORD) {
    scriptedport::Step s = scriptedport::Next(g_script.writes);
    DWORD count = std::min(n, s.count.value_or(n));
    if (taken)
        *taken = count;
    g_script.calls.push_back(
        {Call::Write, n, std::string(static_cast<const char *>(p), count), s.result});
    return scriptedport::Answer(s);
}

BOOL WINAPI QuvReadPort(QUVPORT, void *buf, DWORD cap, DWORD *got, DWORD) {
    scriptedport::Step s = scriptedport::Next(g_script.reads);
    DWORD count = static_cast<DWORD>(std::min<std::size_t>(cap, s.bytes.size()));
    if (count < s.bytes.size()) { // the rest arrives with the next read
        scriptedport::Step rest = s;
        rest.bytes = s.bytes.substr(count);
        g_script.reads.push_front(rest);
    }
    if (buf && count)
        std::copy_n(s.bytes.data(), count, static_cast<char *>(buf));
    if (got)
        *got = count;
    g_script.calls.push_back({Call::Read, cap, s.bytes.substr(0, count), s.result});
    return scriptedport::Answer(s);
}

BOOL WINAPI QuvEndJobPort(QUVPORT, BOOL ok) {
    g_script.calls.push_back({Call::EndJob, static_cast<DWORD>(ok), {}, TRUE});
    return TRUE;
}

BOOL WINAPI QuvClosePort(QUVPORT) {
    g_script.calls.push_back({Call::Close, 0, {}, TRUE});
    return TRUE;
}

} // extern "C"

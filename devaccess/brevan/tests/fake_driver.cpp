// Runs brevan against the fake transports inside a child process: brevan_fakes_test copies this
// program, brevan.dll and the chosen fakes into a folder arrangement of their own.
//   fake_driver <brevan.dll> <log> standard
//   fake_driver <brevan.dll> <log> loaded-from <folder>   the fakes must come from there
//                                                         (named without a trailing backslash)
//   fake_driver <brevan.dll> <log> fails <result>         code 1 must fail so
// Prints every failed check; exits 0 when all held.
#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "brevan.h"
#include "dorvik.h"
#include "tessyn.h"

namespace {

int g_failures;
QTcpIpAcc_IO_IF_t g_io;
std::string g_log;

void Check(bool ok, const char *what, int line, const std::string &note = {}) {
    if (ok)
        return;
    ++g_failures;
    std::printf("line %d: check failed: %s %s\n", line, what, note.c_str());
    std::fflush(stdout);
}

void CheckEq(long long got, long long want, const char *what, int line,
             const std::string &note = {}) {
    if (got == want)
        return;
    ++g_failures;
    std::printf("line %d: %s is %lld, expected %lld %s\n", line, what, got, want, note.c_str());
    std::fflush(stdout);
}

#define CHECK(cond, ...) Check((cond), #cond, __LINE__, ##__VA_ARGS__)
#define CHECK_EQ(got, want, ...) CheckEq((got), (want), #got, __LINE__, ##__VA_ARGS__)

int32_t Io(int32_t code, uint32_t handle, void *block) {
    return g_io(code, handle, block);
}

void SetScript(const char *name, int value) {
    std::string variable = std::string("FAKE_") + name;
    SetEnvironmentVariableA(variable.c_str(), std::to_string(value).c_str());
}
void ClearScript(const char *name) {
    SetEnvironmentVariableA((std::string("FAKE_") + name).c_str(), nullptr);
}

// ---- the fakes' call log ----

void ClearLog() {
    DeleteFileA(g_log.c_str());
}

std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    FILE *f = std::fopen(g_log.c_str(), "rb");
    if (!f)
        return lines;
    char line[4096];
    while (std::fgets(line, sizeof line, f)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        lines.push_back(s);
    }
    std::fclose(f);
    return lines;
}

// The last line starting with prefix, or "".
std::string Logged(const std::string &prefix) {
    std::string found;
    for (const std::string &line : LogLines())
        if (line.compare(0, prefix.size(), prefix) == 0)
            found = line;
    return found;
}

// The value of key=... in a log line (a quoted text keeps its quotes).
std::string Field(const std::string &line, const std::string &key) {
    size_t at = line.find(" " + key + "=");
    if (at == std::string::npos)
        return "(missing)";
    at += key.size() + 2;
    size_t end = line[at] == '"' ? line.find('"', at + 1) + 1 : line.find(' ', at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

bool NothingLoaded() {
    return !GetModuleHandleA("tessyn.dll") && !GetModuleHandleA("dorvik.dll");
}

void BREVAN_RAW_CALL NoReports(Raw9100Event *, void *) {}

int32_t Open(const char *host, uint16_t snmpPort = 0, uint16_t localPort = 0) {
    IpAccOpenBlock open{localPort, host, snmpPort};
    return Io(IPACC_OPEN, 0, &open);
}

using RespondFn = int(__cdecl *)(int kind, const char *text, int32_t number);

int Respond(int kind, const char *text, int32_t number = 0) {
    auto respond = reinterpret_cast<RespondFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("tessyn.dll"), "Fake_Respond")));
    return respond ? respond(kind, text, number) : -100;
}

// ---- the standard arrangement: brevan and both fakes in one folder ----

void OpenPortFailures() {
    struct Row {
        int tessyn, brevan;
    } rows[] = {{-3, -4}, {-4, -17}};
    for (const Row &row : rows) {
        std::string note = "OpenPort " + std::to_string(row.tessyn);
        SetScript("OPEN_PORT", row.tessyn);
        ClearLog();
        CHECK_EQ(Open("10.0.0.9"), row.brevan, note);
        CHECK(NothingLoaded(), note);
        CHECK(Logged("dorvik.").empty(), note);
    }
    ClearScript("OPEN_PORT");
    // Nothing stayed listed: the same host opens now.
    int32_t handle = Open("10.0.0.9");
    CHECK(handle > 0);
    CHECK_EQ(Io(IPACC_CLOSE, handle, nullptr), 0);
}

void Tables() {
    int32_t handle = Open("10.0.0.1");
    CHECK(handle > 0);
    struct Row {
        int from, to;
    };
    const Row raw[] = {{0, 0},     {1, 0},     {2, 0},     {3, 0},      {4, 0},
                       {-1, -12},  {-2, -7},   {-3, -4},   {-4, -17},   {-5, -19},
                       {-6, -11},  {-7, -5},   {-8, -6},   {-9, -13},   {-10, -14},
                       {-11, -15}, {-12, -18}, {-13, -16}, {10055, -16}};
    char buffer[16] = {};
    for (const Row &row : raw) {
        SetScript("WRITE", row.from);
        int32_t count = -1;
        IpAccTransferBlock write{NoReports, nullptr, buffer, 16, &count};
        CHECK_EQ(Io(IPACC_RAW_WRITE, handle, &write), row.to, "dorvik " + std::to_string(row.from));
    }
    ClearScript("WRITE");

    // One row through each other raw code.
    IpAccConnectBlock connect{NoReports, nullptr};
    IpAccTransferBlock read{NoReports, nullptr, buffer, 16, nullptr};
    IpAccFileBlock file{NoReports, nullptr, "C:\\x.prn", 5};
    struct CodeRow {
        const char *script;
        int32_t code;
        void *block;
        int from, to;
    } codes[] = {
        {"OPEN", IPACC_RAW_CONNECT, &connect, -4, -17},
        {"READ", IPACC_RAW_READ, &read, -5, -19},
        {"CLOSE", IPACC_RAW_DISCONNECT, nullptr, -2, -7},
        {"WRITE_FILE", IPACC_RAW_WRITE_FILE, &file, 10055, -16},
        {"READ_FILE", IPACC_RAW_READ_FILE, &file, -9, -13},
        {"PROGRESS", IPACC_RAW_PROGRESS, nullptr, -2, -7},
        {"PROGRESS", IPACC_RAW_PROGRESS, nullptr, 123456, 123456},
    };
    for (const CodeRow &row : codes) {
        SetScript(row.script, row.from);
        CHECK_EQ(Io(row.code, handle, row.block), row.to,
                 "code " + std::to_string(row.code) + " dorvik " + std::to_string(row.from));
        ClearScript(row.script);
    }

    const Row snmp[] = {{0, 0},   {1, 0},    {3, 0},    {-1, -5}, {-2, -7},  {-3, -4}, {-4, -17},
                        {-5, -9}, {-6, -10}, {-7, -11}, {-8, -6}, {-9, -16}, {2, -16}};
    SnmpVarBind bind{"1.3.6.1.2.1.1.5.0", TESSYN_TYPE_NULL, 0, nullptr};
    SnmpMessageDesc desc{};
    desc.pduType = 0xA0;
    desc.timeouts[0] = 1000;
    desc.varBindCount = 1;
    desc.varBinds = &bind;
    IpAccSnmpBlock post{&desc};
    for (const Row &row : snmp) {
        SetScript("POST", row.from);
        CHECK_EQ(Io(IPACC_POST_SNMP, handle, &post), row.to, "tessyn " + std::to_string(row.from));
    }
    SetScript("POST", -7);
    CHECK_EQ(Io(IPACC_STATUS, handle, nullptr), -11);
    ClearScript("POST");
    CHECK_EQ(Io(IPACC_CLOSE, handle, nullptr), 0);
}

void Sessions() {
    int32_t first = Open("10.0.0.1");
    CHECK(first > 0);
    CHECK_EQ(Open("10.0.0.1"), IPACC_E_EXISTS);
    int32_t second = Open("010.0.0.1");
    CHECK(second > 0 && second != first);

    char buffer[8] = {};
    int32_t count = 0;
    IpAccTransferBlock transfer{NoReports, nullptr, buffer, 8, &count};
    IpAccConnectBlock connect{NoReports, nullptr};
    IpAccFileBlock file{NoReports, nullptr, "C:\\x.prn", 0};
    SnmpMessageDesc desc{};
    IpAccSnmpBlock post{&desc};
    struct Use {
        int32_t code;
        void *block;
    } uses[] = {{2, nullptr}, {3, &post},   {4, &connect}, {5, &transfer}, {6, &transfer},
                {7, nullptr}, {8, nullptr}, {10, &file},   {11, &file},    {12, nullptr}};
    ClearLog();
    for (const Use &use : uses)
        for (uint32_t handle : {0u, 0x7777u})
            CHECK_EQ(Io(use.code, handle, use.block), IPACC_E_SESSION,
                     "code " + std::to_string(use.code) + " handle " + std::to_string(handle));
    CHECK_EQ(Io(IPACC_CLOSE, 0x7777u, nullptr), 0);
    CHECK_EQ(Io(13, static_cast<uint32_t>(first), nullptr), 0);
    CHECK_EQ(Io(13, 0x7777u, nullptr), IPACC_E_SESSION);
    CHECK_EQ(Io(IPACC_RAW_PROGRESS, static_cast<uint32_t>(first), nullptr), 0);
    CHECK(LogLines().size() == 1, "only the progress call reaches a transport");

    // A missing block: -16, and no transport is called.
    ClearLog();
    CHECK_EQ(Io(IPACC_OPEN, 0, nullptr), IPACC_E_OTHER);
    for (int32_t code : {3, 4, 5, 6, 10, 11})
        CHECK_EQ(Io(code, static_cast<uint32_t>(first), nullptr), IPACC_E_OTHER,
                 "code " + std::to_string(code));
    CHECK(LogLines().empty());

    // A missing descriptor reaches tessyn, which refuses it.
    IpAccSnmpBlock none{nullptr};
    CHECK_EQ(Io(IPACC_POST_SNMP, static_cast<uint32_t>(first), &none), IPACC_E_MEMORY);
    CHECK(Field(Logged("tessyn.Post"), "desc") == "(null)");

    // The length reaches dorvik through the block's count pointer, or through a copy of its own
    // when an asynchronous transfer has none; a single step without one has nowhere to count.
    for (int32_t code : {IPACC_RAW_WRITE, IPACC_RAW_READ}) {
        const char *name = code == IPACC_RAW_WRITE ? "dorvik.Write" : "dorvik.Read";
        count = -1;
        IpAccTransferBlock counted{nullptr, nullptr, buffer, 8, &count};
        CHECK_EQ(Io(code, static_cast<uint32_t>(first), &counted), 0);
        CHECK_EQ(count, 8);
        CHECK(Field(Logged(name), "length") == "8");
        IpAccTransferBlock async{NoReports, nullptr, buffer, 1234, nullptr};
        CHECK_EQ(Io(code, static_cast<uint32_t>(first), &async), 0);
        CHECK(Field(Logged(name), "length") == "1234", Logged(name));
        ClearLog();
        IpAccTransferBlock step{nullptr, nullptr, buffer, 8, nullptr};
        CHECK_EQ(Io(code, static_cast<uint32_t>(first), &step), IPACC_E_OTHER);
        CHECK(LogLines().empty());
    }
    CHECK_EQ(Io(IPACC_CLOSE, static_cast<uint32_t>(first), nullptr), 0);
    CHECK_EQ(Io(IPACC_CLOSE, static_cast<uint32_t>(second), nullptr), 0);

    // No host text counts as the empty text.
    int32_t unnamed = Open(nullptr);
    CHECK(unnamed > 0);
    CHECK_EQ(Io(IPACC_RAW_CONNECT, static_cast<uint32_t>(unnamed), &connect), 0);
    CHECK(Field(Logged("dorvik.Open"), "host") == "\"\"");
    CHECK_EQ(Io(IPACC_STATUS, static_cast<uint32_t>(unnamed), nullptr), 0);
    CHECK(Field(Logged("tessyn.Post"), "host") == "\"\"");
    CHECK_EQ(Open(""), IPACC_E_EXISTS);
    CHECK_EQ(Io(IPACC_CLOSE, static_cast<uint32_t>(unnamed), nullptr), 0);
}

SnmpResponseProc ParseProc(const std::string &line, void **context) {
    *context = reinterpret_cast<void *>(
        static_cast<uintptr_t>(std::strtoull(Field(line, "context").c_str(), nullptr, 16)));
    return reinterpret_cast<SnmpResponseProc>(
        static_cast<uintptr_t>(std::strtoull(Field(line, "proc").c_str(), nullptr, 16)));
}

void StatusPoll() {
    ClearLog();
    int32_t handle = Open("10.0.0.5", 1161, 2162);
    CHECK(handle > 0);
    const std::string openPort = Logged("tessyn.OpenPort");
    CHECK(Field(openPort, "kind") == "1" && Field(openPort, "local") == "2162", openPort);
    ClearLog();
    CHECK_EQ(Io(IPACC_STATUS, static_cast<uint32_t>(handle), nullptr), 0);
    const std::string post = Logged("tessyn.Post");
    struct Expect {
        const char *key, *value;
    } fields[] = {{"handle", "65541"},
                  {"host", "\"10.0.0.5\""},
                  {"port", "1161"},
                  {"pdu", "160"},
                  {"version", "0"},
                  {"community", "(null)"},
                  {"timeouts", "500,500,0,0"},
                  {"errorStatus", "0"},
                  {"errorIndex", "0"},
                  {"requestId", "0"},
                  {"count", "1"},
                  {"oid", "\"1.3.6.1.4.1.7341.1.1.1.1.2.10.0\""},
                  {"type", "5"},
                  {"length", "0"},
                  {"value", "0x0"}};
    for (const Expect &f : fields)
        CHECK(Field(post, f.key) == f.value, std::string(f.key) + " in " + post);
    void *context = nullptr;
    SnmpResponseProc proc = ParseProc(post, &context);
    CHECK(proc != nullptr && context != nullptr);

    CHECK_EQ(Respond(0, "17"), 0);
    CHECK_EQ(Io(IPACC_STATUS, static_cast<uint32_t>(handle), nullptr), 17);

    struct Answer {
        int kind;
        const char *text;
        int32_t number;
        int32_t status;
    } answers[] = {
        {0, "  -42x", 0, -42},
        {0, "+5", 0, 5},
        {0, "abc", 0, 0},
        {0, "", 0, 0},
        {0, "99999999999", 0, INT_MAX},
        {0, "-99999999999", 0, INT_MIN},
        {1, nullptr, 9, 17},
        {2, nullptr, 0, 17},
    };
    for (const Answer &a : answers) {
        CHECK_EQ(Respond(0, "17"), 0);
        CHECK_EQ(Respond(a.kind, a.text, a.number), 0);
        CHECK_EQ(Io(IPACC_STATUS, static_cast<uint32_t>(handle), nullptr), a.status,
                 std::string("answer ") + (a.text ? a.text : std::to_string(a.kind)));
    }
    CHECK_EQ(Io(IPACC_CLOSE, static_cast<uint32_t>(handle), nullptr), 0);

    // A late answer with the closed session's context changes no session.
    int32_t other = Open("10.0.0.6");
    CHECK(other > 0);
    SnmpVarBind bind{"1.3.6.1.4.1.7341.1.1.1.1.2.10.0", TESSYN_TYPE_OCTET_STRING, 2, "55"};
    SnmpMessageDesc info{};
    info.pduType = 0xA2;
    info.varBindCount = 1;
    info.varBinds = &bind;
    proc(context, &info);
    CHECK_EQ(Io(IPACC_STATUS, static_cast<uint32_t>(other), nullptr), 0);
    CHECK_EQ(Respond(0, "21"), 0);
    CHECK_EQ(Io(IPACC_STATUS, static_cast<uint32_t>(other), nullptr), 21);
    CHECK_EQ(Io(IPACC_CLOSE, static_cast<uint32_t>(other), nullptr), 0);
}

struct CloseCall {
    uint32_t handle;
    int32_t result = -100;
};

DWORD WINAPI CloseOnThread(void *param) {
    auto *call = static_cast<CloseCall *>(param);
    call->result = Io(IPACC_CLOSE, call->handle, nullptr);
    return 0;
}

void Faults() {
    // Closing while the port's close waits for a response procedure in flight.
    int32_t handle = Open("10.0.0.7");
    CHECK(handle > 0);
    CHECK_EQ(Io(IPACC_STATUS, static_cast<uint32_t>(handle), nullptr), 0);
    SetScript("CLOSE_CALLS", 1);
    CloseCall call{static_cast<uint32_t>(handle)};
    HANDLE thread = CreateThread(nullptr, 0, CloseOnThread, &call, 0, nullptr);
    if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0) {
        std::printf(
            "code 9 did not return while its port's close waited for a response procedure\n");
        std::fflush(stdout);
        ExitProcess(3);
    }
    CloseHandle(thread);
    ClearScript("CLOSE_CALLS");
    CHECK_EQ(call.result, 0);
    CHECK(!Logged("tessyn.ClosePort waited").empty());

    // A cancel leaves dorvik's connection open: the close still closes it.
    IpAccConnectBlock connect{NoReports, nullptr};
    handle = Open("10.0.0.8");
    CHECK_EQ(Io(IPACC_RAW_CONNECT, static_cast<uint32_t>(handle), &connect), 0);
    CHECK_EQ(Io(IPACC_RAW_CANCEL, static_cast<uint32_t>(handle), nullptr), 0);
    CHECK(Field(Logged("dorvik.Cancel"), "host") == "\"10.0.0.8\"");
    ClearLog();
    CHECK_EQ(Io(IPACC_CLOSE, static_cast<uint32_t>(handle), nullptr), 0);
    CHECK(Field(Logged("dorvik.Close"), "host") == "\"10.0.0.8\"");

    // So does a failed connect.
    handle = Open("10.0.0.8");
    SetScript("OPEN", -4);
    CHECK_EQ(Io(IPACC_RAW_CONNECT, static_cast<uint32_t>(handle), &connect), -17);
    ClearScript("OPEN");
    ClearLog();
    CHECK_EQ(Io(IPACC_CLOSE, static_cast<uint32_t>(handle), nullptr), 0);
    CHECK(Field(Logged("dorvik.Close"), "host") == "\"10.0.0.8\"");
}

void Standard() {
    OpenPortFailures();
    Tables();
    Sessions();
    StatusPoll();
    Faults();
    CHECK(NothingLoaded(), "after the last close");
}

bool StartsWithNoCase(const std::string &text, const std::string &prefix) {
    return text.size() >= prefix.size() &&
           _strnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

void LoadedFrom(const std::string &folder) {
    ClearLog();
    int32_t handle = Open("10.0.0.1");
    CHECK(handle > 0);
    IpAccConnectBlock connect{NoReports, nullptr};
    CHECK_EQ(Io(IPACC_RAW_CONNECT, static_cast<uint32_t>(handle), &connect), 0);
    const std::string tessyn = Field(Logged("tessyn.OpenPort"), "module");
    const std::string dorvik = Field(Logged("dorvik.Open"), "module");
    CHECK(StartsWithNoCase(tessyn, folder) && tessyn.find('\\', folder.size()) == std::string::npos,
          tessyn);
    CHECK(StartsWithNoCase(dorvik, folder) && dorvik.find('\\', folder.size()) == std::string::npos,
          dorvik);
    CHECK_EQ(Io(IPACC_CLOSE, static_cast<uint32_t>(handle), nullptr), 0);
    CHECK(NothingLoaded());
}

void Fails(int32_t expected) {
    ClearLog();
    CHECK_EQ(Open("10.0.0.1"), expected);
    CHECK(NothingLoaded());
    if (expected == IPACC_E_NO_DORVIK || expected == IPACC_E_EXPORT)
        CHECK(!Logged("tessyn.ClosePort").empty(), "the opened port was closed");
    if (expected == IPACC_E_NO_TESSYN)
        CHECK(LogLines().empty());
    // Nothing stays listed either.
    CHECK_EQ(Open("10.0.0.1"), expected);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::printf(
            "usage: fake_driver <brevan.dll> <log> standard | loaded-from <folder> | fails <n>\n");
        return 2;
    }
    g_log = argv[2];
    SetEnvironmentVariableA("FAKE_LOG", g_log.c_str());
    ClearLog();
    HMODULE brevan = LoadLibraryA(argv[1]);
    if (!brevan) {
        std::printf("cannot load %s: %lu\n", argv[1], GetLastError());
        return 2;
    }
    g_io = reinterpret_cast<QTcpIpAcc_IO_IF_t>(
        reinterpret_cast<void *>(GetProcAddress(brevan, "QTcpIpAcc_IO_IF")));
    CHECK(g_io != nullptr);
    CHECK(reinterpret_cast<void *>(GetProcAddress(brevan, MAKEINTRESOURCEA(1))) ==
          reinterpret_cast<void *>(g_io));
    if (!g_io)
        return 1;
    const std::string scenario = argv[3];
    if (scenario == "standard")
        Standard();
    else if (scenario == "loaded-from" && argc > 4)
        LoadedFrom(std::string(argv[4]) + "\\");
    else if (scenario == "fails" && argc > 4)
        Fails(std::atoi(argv[4]));
    else
        CHECK(false, "unknown scenario " + scenario);
    CHECK(FreeLibrary(brevan));
    std::printf("%d failed checks\n", g_failures);
    return g_failures ? 1 : 0;
}

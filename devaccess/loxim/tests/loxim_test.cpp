// The dispatcher under Wine, loaded by path as an outside caller loads it, over the scripted
// stand-in access libraries. The same program runs as a child (--child=...) for the checks
// that need a second process.
#include "fixture.h"
#include "suite_handles.h"

namespace {

// The table as this process found it at its load.
Table g_firstTable;

// ---- child processes ----

std::string SelfPath() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

struct Child {
    PROCESS_INFORMATION pi{};
    bool Start(const std::string &exe, const std::string &args) {
        STARTUPINFOA si{};
        si.cb = sizeof si;
        std::string command = "\"" + exe + "\" " + args;
        return CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &si, &pi) != 0;
    }
    DWORD Wait(DWORD ms) {
        if (!pi.hProcess)
            return ~0u;
        WaitForSingleObject(pi.hProcess, ms);
        DWORD code = ~0u;
        GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }
    ~Child() {
        if (pi.hProcess) {
            if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(pi.hProcess, 99);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
};

// A named event, created manual-reset.
HANDLE Event(const std::string &name) {
    return CreateEventA(nullptr, TRUE, FALSE, name.c_str());
}

// Child 'hold': opens the ports, signals <tag>.ready, waits for <tag>.go, closes and exits.
int ChildHold(const std::string &tag, const std::vector<std::string> &ports) {
    HANDLE ready = Event(tag + ".ready"), go = Event(tag + ".go");
    std::vector<uint32_t> handles;
    for (const std::string &port : ports) {
        Opened o = Open(LOXIM_TYPE_CHOOSE, nullptr, port.c_str());
        if (o.result != LOXIM_OK)
            return 10;
        handles.push_back(o.handle);
    }
    SetEvent(ready);
    WaitForSingleObject(go, 300000);
    for (uint32_t h : handles)
        if (Io(LOXIM_CLOSE, h, nullptr) != LOXIM_OK)
            return 11;
    return 0;
}

// Child 'loader': opens a default-path device and writes the stand-in's path to a file.
int ChildLoader(const std::string &port, const std::string &out) {
    Opened o = Open(LOXIM_TYPE_CHOOSE, nullptr, port.c_str());
    if (o.result != LOXIM_OK)
        return 20;
    Standin s = Standin::Of("jastin.DLL");
    if (!s)
        return 21;
    char path[MAX_PATH] = {};
    s.path(path, sizeof path);
    Io(LOXIM_CLOSE, o.handle, nullptr);
    HANDLE file = CreateFileA(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 22;
    DWORD written;
    WriteFile(file, path, static_cast<DWORD>(std::strlen(path)), &written, nullptr);
    CloseHandle(file);
    return 0;
}

std::string Lower(std::string text) {
    CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::string ReadText(const std::string &path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    char buffer[1024];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof buffer, &read, nullptr);
    CloseHandle(file);
    return std::string(buffer, read);
}

TEST_F(Loxim, ExportsAndFirstProcessTable) {
    EXPECT_EQ(reinterpret_cast<const volatile uint8_t *>(g_entryNo) -
                  reinterpret_cast<const volatile uint8_t *>(g_table),
              528);
    EXPECT_EQ(*g_entryNo, 1);
    const Table empty{};
    EXPECT_EQ(std::memcmp(&g_firstTable, &empty, sizeof empty), 0);
}

TEST_F(Loxim, BadHandles) {
    Opened a = Open(LOXIM_TYPE_CHOOSE, nullptr, "LXBAD:A");
    ASSERT_EQ(a.result, LOXIM_OK);
    const uint32_t mark = g_table->highWater;
    ASSERT_EQ(Io(LOXIM_CLOSE, a.handle, nullptr), LOXIM_OK);
    uint32_t ready = 0;
    ReadyBlock rb{&ready};
    for (uint32_t handle : {0u, mark + 1, a.handle, 65u, 0xffffffffu}) {
        SCOPED_TRACE(handle);
        EXPECT_EQ(Io(LOXIM_CLOSE, handle, nullptr), LOXIM_E_HANDLE);
        EXPECT_EQ(Io(LOXIM_IS_READY, handle, &rb), LOXIM_E_HANDLE);
        EXPECT_EQ(Io(21, handle, nullptr), LOXIM_E_HANDLE);
    }
    // Codes outside the table give 0 after the handle check.
    Opened b = Open(LOXIM_TYPE_CHOOSE, nullptr, "LXBAD:B");
    ASSERT_EQ(b.result, LOXIM_OK);
    EXPECT_EQ(Io(21, b.handle, nullptr), LOXIM_OK);
    EXPECT_EQ(Io(101, b.handle, &rb), LOXIM_OK);
    EXPECT_EQ(Io(LOXIM_CLOSE, b.handle, nullptr), LOXIM_OK);
}

TEST_F(Loxim, SixtyFourDevicesAndNoMore) {
    std::vector<uint32_t> handles;
    for (int i = 0; i < 64; ++i) {
        Opened o = Open(LOXIM_TYPE_CHOOSE, nullptr, ("LX64:" + std::to_string(i)).c_str());
        ASSERT_EQ(o.result, LOXIM_OK) << i;
        EXPECT_EQ(o.handle, static_cast<uint32_t>(i + 1));
        handles.push_back(o.handle);
    }
    const Snapshot before = Snapshot::Take();
    const uint32_t calls = Standin::Of("jastin.DLL").callCount();
    Opened over = Open(LOXIM_TYPE_CHOOSE, nullptr, "LX64:over");
    EXPECT_EQ(over.result, LOXIM_E_MEMORY);
    EXPECT_EQ(over.handle, 0u);
    EXPECT_TRUE(Snapshot::Take() == before);
    EXPECT_FALSE(MappingExists("Devacc.LX64:over"));
    EXPECT_EQ(Standin::Of("jastin.DLL").callCount(), calls);
    // Closing the top slot lowers the mark, a lower one keeps it; the lowest free slot is reused.
    EXPECT_EQ(Io(LOXIM_CLOSE, 10, nullptr), LOXIM_OK);
    EXPECT_EQ(g_table->highWater, 64u);
    EXPECT_EQ(Io(LOXIM_CLOSE, 64, nullptr), LOXIM_OK);
    EXPECT_EQ(g_table->highWater, 63u);
    EXPECT_EQ(g_table->openCount, 62u);
    Opened again = Open(LOXIM_TYPE_CHOOSE, nullptr, "LX64:again");
    EXPECT_EQ(again.handle, 10u);
    for (uint32_t h : handles)
        if (h != 10 && h != 64) {
            EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
        }
    EXPECT_EQ(Io(LOXIM_CLOSE, again.handle, nullptr), LOXIM_OK);
    EXPECT_EQ(g_table->openCount, 0u);
    EXPECT_EQ(GetModuleHandleA("jastin.DLL"), nullptr); // every open's library released
}

TEST_F(Loxim, FailingOpensChangeNothing) {
    Printer noPort("LoximTest NoPort"), emptyPort("LoximTest EmptyPort"),
        usbPacket("LoximTest UsbPacket");
    emptyPort.Text("Port", "");
    usbPacket.Text("Port", "USBLXP1");
    usbPacket.Dword("TransferMode", 8);
    uint32_t handle = 0;
    const ConnectionParams12 p12{12, 0, "x"};
    const std::string longPort = "LX" + std::string(300, 'n'),
                      longUsbLpt = "USBLPT" + std::string(300, '9');
    const uint32_t oddParams[] = {40, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    struct Case {
        const char *what;
        uint32_t type;
        const char *printer;
        const char *port;
        const void *params;
        int32_t result;
    };
    const Case cases[] = {
        {"neither name", LOXIM_TYPE_CHOOSE, nullptr, nullptr, nullptr, LOXIM_E_PARAM},
        {"printer without Port", LOXIM_TYPE_CHOOSE, noPort.name(), nullptr, nullptr,
         LOXIM_E_PORT_NOT_FOUND},
        {"printer with an empty Port", LOXIM_TYPE_CHOOSE, emptyPort.name(), nullptr, nullptr,
         LOXIM_E_PORT_NOT_FOUND},
        {"empty port name", LOXIM_TYPE_CHOOSE, nullptr, "", nullptr, LOXIM_E_PARAM},
        {"empty port name, USB-to-parallel", LOXIM_TYPE_USB_LPT, nullptr, "", nullptr,
         LOXIM_E_PARAM},
        {"type 2 on a USB port", LOXIM_TYPE_PARALLEL, nullptr, "USBLXA1", nullptr, LOXIM_E_PARAM},
        {"type 256 on a parallel port", LOXIM_TYPE_USB_LPT, nullptr, "LPTLX", nullptr,
         LOXIM_E_PARAM},
        {"unknown type", 77, nullptr, "LXFAIL:", nullptr, LOXIM_E_PARAM},
        {"params size 40 on a parallel port", LOXIM_TYPE_CHOOSE, nullptr, "LPTLX", oddParams,
         LOXIM_E_PORT_NOT_FOUND},
        {"explicit packet type with params size 40", LOXIM_TYPE_PACKET, nullptr, "LPTLX", oddParams,
         LOXIM_E_PARAM},
        {"packet over USB by TransferMode", LOXIM_TYPE_CHOOSE, usbPacket.name(), nullptr, nullptr,
         LOXIM_E_PARAM},
        {"packet over USB explicit", LOXIM_TYPE_PACKET_USB, nullptr, "USBLXP2", nullptr,
         LOXIM_E_PARAM},
        {"packet type, service code 0", 6, nullptr, "LPTLX9", &p12, LOXIM_E_PARAM},
        {"mapping name that does not fit", LOXIM_TYPE_CHOOSE, nullptr, longPort.c_str(), nullptr,
         LOXIM_E_MEMORY},
        {"mapping name that does not fit, USB-to-parallel", LOXIM_TYPE_CHOOSE, nullptr,
         longUsbLpt.c_str(), nullptr, LOXIM_E_MEMORY},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Snapshot before = Snapshot::Take();
        handle = 0;
        OpenDeviceBlock b{c.printer, c.port, &handle, c.params, 0, nullptr, nullptr, nullptr};
        EXPECT_EQ(Io(LOXIM_OPEN, c.type, &b), c.result);
        EXPECT_EQ(handle, 0u);
        EXPECT_TRUE(Snapshot::Take() == before);
    }
    EXPECT_FALSE(MappingExists("Devacc.QUV_USBLXA1"));
    EXPECT_FALSE(MappingExists("Devacc.QUVMFPI_USBLXP1"));
    EXPECT_FALSE(MappingExists("Devacc.QUVMFPI_USBLXP2"));
    EXPECT_EQ(GetModuleHandleA("zorla.DLL"), nullptr);
    // Missing block or device-handle output.
    EXPECT_EQ(Io(LOXIM_OPEN, LOXIM_TYPE_CHOOSE, nullptr), LOXIM_E_PARAM);
    OpenDeviceBlock noOut{nullptr, "LXFAIL:", nullptr, nullptr, 0, nullptr, nullptr, nullptr};
    EXPECT_EQ(Io(LOXIM_OPEN, LOXIM_TYPE_CHOOSE, &noOut), LOXIM_E_PARAM);
    EXPECT_FALSE(MappingExists("Devacc.LXFAIL:"));
}

TEST_F(Loxim, MissingEntryLeavesNothing) {
    ASSERT_EQ(GetModuleHandleA("jastin.DLL"), nullptr);
    SetLoaderFolder(AccessLibFolder() + "\\noentry");
    const Snapshot before = Snapshot::Take();
    EXPECT_EQ(Open(LOXIM_TYPE_CHOOSE, nullptr, "LXNOENTRY:").result, LOXIM_E_LIBRARY);
    EXPECT_TRUE(Snapshot::Take() == before);
    EXPECT_EQ(GetModuleHandleA("jastin.DLL"), nullptr);
    EXPECT_FALSE(MappingExists("Devacc.LXNOENTRY:"));
}

TEST_F(Loxim, PrinterPortAndDuplicateOpen) {
    Printer printer("LoximTest Port");
    printer.Text("Port", "LXPRN:");
    Opened first = Open(LOXIM_TYPE_CHOOSE, printer.name(), nullptr, nullptr, 0x1234);
    ASSERT_EQ(first.result, LOXIM_OK);
    Standin s = Standin::Of("jastin.DLL");
    ASSERT_TRUE(s);
    std::vector<StandinCall> calls = s.Calls();
    ASSERT_FALSE(calls.empty());
    const StandinCall &open = calls.back();
    EXPECT_EQ(open.op, 1u);
    EXPECT_STREQ(open.texts[0], "LoximTest Port");
    EXPECT_STREQ(open.texts[1], "LXPRN:");
    EXPECT_EQ(open.fields[2], 0x1234u);

    // The same port again: -131, and the first device keeps its library and works.
    const Snapshot before = Snapshot::Take();
    EXPECT_EQ(Open(LOXIM_TYPE_CHOOSE, nullptr, "LXPRN:").result, LOXIM_E_ALREADY_OPEN);
    EXPECT_EQ(Open(LOXIM_TYPE_DEFAULT, printer.name(), nullptr).result, LOXIM_E_ALREADY_OPEN);
    EXPECT_TRUE(Snapshot::Take() == before);
    const char data[] = "still here";
    uint32_t written = 0;
    WriteBlock wb{data, 10, &written, 1000};
    EXPECT_EQ(Io(LOXIM_WRITE, first.handle, &wb), LOXIM_OK);
    EXPECT_EQ(written, 10u);
    EXPECT_EQ(Io(LOXIM_CLOSE, first.handle, nullptr), LOXIM_OK);
}

TEST_F(Loxim, InformationCopiesMatchTheRecord) {
    for (const char *printer : {static_cast<const char *>(nullptr), "LoximTest Info"}) {
        SCOPED_TRACE(printer ? printer : "(no printer)");
        void *info = nullptr;
        uint32_t handle = 0, headerLength = 0, privateSize = 0;
        OpenDeviceBlock b{printer, "LXINFO:", &handle,       nullptr,
                          0,       &info,     &headerLength, &privateSize};
        ASSERT_EQ(Io(LOXIM_OPEN, LOXIM_TYPE_CHOOSE, &b), LOXIM_OK);
        const uint32_t expectedHeader = 28 + (printer ? std::strlen(printer) : 0) + 1 + 7 + 1;
        EXPECT_EQ(headerLength, expectedHeader);
        EXPECT_EQ(privateSize, 4u);

        HANDLE m = OpenFileMappingA(FILE_MAP_READ, FALSE, "Devacc.LXINFO:");
        ASSERT_NE(m, nullptr);
        const auto *record = static_cast<const uint8_t *>(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0));
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(std::memcmp(info, record, headerLength + privateSize), 0);
        DeviceMappingHeader h;
        std::memcpy(&h, record, sizeof h);
        EXPECT_EQ(h.headerLength, headerLength);
        EXPECT_EQ(h.connectionType, 4096u);
        EXPECT_EQ(h.libraryModule, reinterpret_cast<uintptr_t>(GetModuleHandleA("jastin.DLL")));
        EXPECT_EQ(h.entry, reinterpret_cast<uintptr_t>(
                               GetProcAddress(GetModuleHandleA("jastin.DLL"), "DEFPR_IO_IF")));
        EXPECT_EQ(h.privateSize, 4u);
        const char *names = reinterpret_cast<const char *>(record + 28);
        EXPECT_STREQ(names, printer ? printer : "");
        EXPECT_STREQ(names + std::strlen(names) + 1, "LXINFO:");
        uint32_t device;
        std::memcpy(&device, record + headerLength, 4);
        EXPECT_GE(device, 0x100u); // the stand-in's handle

        void *copy = nullptr;
        uint32_t hl2 = 0, ps2 = 0;
        DeviceInfoRequestBlock rb{&copy, &hl2, &ps2};
        ASSERT_EQ(Io(LOXIM_DEVICE_INFO, handle, &rb), LOXIM_OK);
        EXPECT_EQ(hl2, headerLength);
        EXPECT_EQ(ps2, privateSize);
        EXPECT_EQ(std::memcmp(copy, record, headerLength + privateSize), 0);
        DeviceInfoRequestBlock missing{&copy, nullptr, &ps2};
        EXPECT_EQ(Io(LOXIM_DEVICE_INFO, handle, &missing), LOXIM_E_PARAM);
        EXPECT_EQ(Io(LOXIM_DEVICE_INFO, handle, nullptr), LOXIM_E_PARAM);

        EXPECT_EQ(GlobalFree(GlobalHandle(info)), nullptr);
        EXPECT_EQ(GlobalFree(GlobalHandle(copy)), nullptr);
        UnmapViewOfFile(record);
        CloseHandle(m);
        EXPECT_EQ(Io(LOXIM_CLOSE, handle, nullptr), LOXIM_OK);
    }
}

// Each code reaches the expected operation with the expected block, or none.
TEST_F(Loxim, DispatchWalk) {
    struct PathCase {
        uint32_t type;
        const char *port;
        const char *library;
    };
    for (const PathCase &path :
         {PathCase{4096, "LXWALK:", "jastin.DLL"}, PathCase{256, "USBLPTLX4", "mirovel.DLL"}}) {
        SCOPED_TRACE(path.port);
        Opened o = Open(path.type, nullptr, path.port);
        ASSERT_EQ(o.result, LOXIM_OK);
        Standin s = Standin::Of(path.library);
        ASSERT_TRUE(s);
        const StandinCall open = s.Calls().back();
        EXPECT_EQ(open.op, 1u);
        uint32_t device = 0;
        {
            void *info = nullptr;
            uint32_t hl = 0, ps = 0;
            DeviceInfoRequestBlock rb{&info, &hl, &ps};
            ASSERT_EQ(Io(LOXIM_DEVICE_INFO, o.handle, &rb), LOXIM_OK);
            const uint32_t *area =
                reinterpret_cast<const uint32_t *>(static_cast<uint8_t *>(info) + hl);
            device = area[0];
            if (path.type == LOXIM_TYPE_USB_LPT) {
                EXPECT_EQ(ps, 16u);
                EXPECT_EQ(static_cast<int32_t>(area[1]), 4); // port number
                EXPECT_EQ(area[2], 1u);                      // open state
                EXPECT_STREQ(open.texts[1], "USBLPTLX4");
                EXPECT_EQ(open.fields[1], 1u);
            }
            GlobalFree(GlobalHandle(info));
        }
        s.reset();
        StandinScript id = DefaultScript();
        std::memcpy(id.data, "MFG:LX;", 7);
        id.dataLength = 7;
        s.Script(path.type == LOXIM_TYPE_USB_LPT ? 8 : 10, id);

        char buffer[64];
        uint32_t count = 0, done = 0, sent = 0, ready = 0, state = 0, length = 0;
        uint8_t status = 0, valid = 9;
        HGLOBAL job = GlobalAlloc(GHND, 256);
        WriteBlock write{buffer, 5, &count, 700};
        ReadBlock read{buffer, 64, &count, 800};
        SendBlock send{job, 16, 32, 150, 900};
        SendResultBlock result{job, &done, 32, &sent};
        ReadyBlock readyBlock{&ready};
        DeviceIdBlock idBlock{buffer, 64, &length, 0};
        ProbeBlock probe{1100};
        StatusByteBlock statusBlock{&status};
        PrinterStateBlock stateBlock{&status, &state, 1, &valid};
        AuxQueryBlock aux{buffer};
        SetSettingsBlock settings{buffer, 0x80000000u, 0};
        uint32_t netStatus = 7;
        NetStatusBlock net{&netStatus};
        PassThroughBlock passSame{
            LoximPassThroughControl(path.type, 1), nullptr, 0, nullptr, 0, nullptr, nullptr};
        PassThroughBlock passOther{
            LoximPassThroughControl(3, 1), nullptr, 0, nullptr, 0, nullptr, nullptr};
        const bool lpt = path.type == LOXIM_TYPE_USB_LPT;
        const uint32_t none = ~0u;
        struct Step {
            const char *what;
            uint32_t code;
            void *block;
            int32_t result;
            uint32_t op;
            std::vector<uint32_t> fields;
        };
        const std::vector<Step> steps = {
            {"write", LOXIM_WRITE, &write, 0, 3,
             lpt ? std::vector<uint32_t>{loxim::U32(buffer), 5, loxim::U32(&count)}
                 : std::vector<uint32_t>{loxim::U32(buffer), 5, loxim::U32(&count), 700}},
            {"read", LOXIM_READ, &read, 0, 4,
             lpt ? std::vector<uint32_t>{loxim::U32(buffer), 64, loxim::U32(&count)}
                 : std::vector<uint32_t>{loxim::U32(buffer), 64, loxim::U32(&count), 800}},
            {"send", LOXIM_SEND, &send, 0, 5, {loxim::U32(job), 16, 32, 900}},
            {"send result",
             LOXIM_SEND_RESULT,
             &result,
             0,
             6,
             {loxim::U32(&done), loxim::U32(&sent)}},
            {"ready", LOXIM_IS_READY, &readyBlock, 0, lpt ? 7u : none,
             lpt ? std::vector<uint32_t>{loxim::U32(&ready)} : std::vector<uint32_t>{}},
            {"device id",
             LOXIM_DEVICE_ID,
             &idBlock,
             0,
             lpt ? 8u : 10u,
             {loxim::U32(buffer), 64, 0, 0}},
            {"probe", LOXIM_PROBE, &probe, 0, lpt ? 9u : 11u,
             lpt ? std::vector<uint32_t>{1100} : std::vector<uint32_t>{}},
            {"status byte",
             LOXIM_STATUS_BYTE,
             &statusBlock,
             0,
             lpt ? 10u : 12u,
             {loxim::U32(&status)}},
            {"printer state", LOXIM_PRINTER_STATE, &stateBlock, 0, none, {}},
            {"aux query", LOXIM_AUX_QUERY, &aux, LOXIM_E_PARAM, none, {}},
            {"aux command", LOXIM_AUX_COMMAND, nullptr, LOXIM_E_PARAM, none, {}},
            {"settings", LOXIM_SET_SETTINGS, &settings, 0, none, {}},
            {"net status", LOXIM_NET_STATUS, &net, 0, none, {}},
            {"connect", LOXIM_NET_CONNECT, nullptr, 0, none, {}},
            {"disconnect", LOXIM_NET_DISCONNECT, nullptr, 0, none, {}},
            {"pass-through, own type", LOXIM_PASS_THROUGH, &passSame, 0, none, {}},
            {"pass-through, other type", LOXIM_PASS_THROUGH, &passOther, LOXIM_E_PARAM, none, {}},
        };
        for (const Step &step : steps) {
            SCOPED_TRACE(step.what);
            s.reset();
            s.Script(path.type == LOXIM_TYPE_USB_LPT ? 8 : 10, id);
            EXPECT_EQ(Io(step.code, o.handle, step.block), step.result);
            const std::vector<StandinCall> calls = s.Calls();
            if (step.op == none) {
                EXPECT_TRUE(calls.empty());
                continue;
            }
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].op, step.op);
            EXPECT_EQ(calls[0].handle, device);
            ASSERT_EQ(calls[0].fieldCount, step.fields.size());
            for (size_t i = 0; i < step.fields.size(); ++i)
                if (!(step.code == 13 && i == 2)) {
                    EXPECT_EQ(calls[0].fields[i], step.fields[i]) << "field " << i;
                }
        }
        EXPECT_EQ(length, 7u);
        EXPECT_EQ(std::memcmp(buffer, "MFG:LX;", 7), 0);
        EXPECT_EQ(state, 0x1000000u);
        EXPECT_EQ(valid, 0);
        if (!lpt) {
            EXPECT_EQ(ready, 1u);
        }
        // The send holds the job buffer until the result says done; 11 above released it.
        EXPECT_EQ(GlobalFlags(job) & GMEM_LOCKCOUNT, 0u);
        GlobalFree(job);
        s.reset();
        EXPECT_EQ(Io(LOXIM_CLOSE, o.handle, nullptr), LOXIM_OK);
    }
}

TEST_F(Loxim, MissingOutputsAreRefused) {
    Opened o = Open(LOXIM_TYPE_CHOOSE, nullptr, "LXNULL:");
    ASSERT_EQ(o.result, LOXIM_OK);
    Standin s = Standin::Of("jastin.DLL");
    s.reset();
    char buffer[8];
    uint32_t count = 0;
    HGLOBAL job = nullptr;
    JobAllocBlock alloc0{&job, 0, &count};
    JobAllocBlock allocNoOut{nullptr, 16, &count};
    WriteBlock write0{buffer, 0, &count, 0};
    WriteBlock writeNoOut{buffer, 4, nullptr, 0};
    ReadBlock readNull{nullptr, 4, &count, 0};
    SendResultBlock resultNoOut{nullptr, nullptr, 0, &count};
    DeviceIdBlock idNoOut{buffer, 8, nullptr, 0};
    BackgroundBlock bg0{buffer, 0, &count, 0, nullptr};
    struct Case {
        uint32_t code;
        void *block;
    };
    const Case cases[] = {
        {LOXIM_JOB_ALLOC, &alloc0},    {LOXIM_JOB_ALLOC, &allocNoOut},
        {LOXIM_WRITE, &write0},        {LOXIM_WRITE, &writeNoOut},
        {LOXIM_READ, &readNull},       {LOXIM_SEND_RESULT, &resultNoOut},
        {LOXIM_DEVICE_ID, &idNoOut},   {LOXIM_WRITE_BACKGROUND, &bg0},
        {LOXIM_READ_BACKGROUND, &bg0},
    };
    for (uint32_t code :
         {LOXIM_JOB_ALLOC, LOXIM_JOB_COPY_IN, LOXIM_WRITE, LOXIM_READ, LOXIM_SEND,
          LOXIM_SEND_RESULT, LOXIM_IS_READY, LOXIM_DEVICE_ID, LOXIM_PROBE, LOXIM_STATUS_BYTE,
          LOXIM_PRINTER_STATE, LOXIM_AUX_QUERY, LOXIM_SET_SETTINGS, LOXIM_NET_STATUS,
          LOXIM_WRITE_BACKGROUND, LOXIM_READ_BACKGROUND, LOXIM_PASS_THROUGH})
        EXPECT_EQ(Io(code, o.handle, nullptr), LOXIM_E_PARAM) << code;
    for (const Case &c : cases)
        EXPECT_EQ(Io(c.code, o.handle, c.block), LOXIM_E_PARAM) << c.code;
    EXPECT_EQ(s.callCount(), 0u);
    EXPECT_EQ(Io(LOXIM_CLOSE, o.handle, nullptr), LOXIM_OK);
}

TEST_F(Loxim, JobBuffer) {
    Opened o = Open(LOXIM_TYPE_CHOOSE, nullptr, "LXJOB:");
    ASSERT_EQ(o.result, LOXIM_OK);
    HGLOBAL job = nullptr;
    uint32_t granted = 0, copied = 9;
    JobAllocBlock alloc{&job, 100, &granted};
    ASSERT_EQ(Io(LOXIM_JOB_ALLOC, o.handle, &alloc), LOXIM_OK);
    EXPECT_EQ(granted, 100u);
    const char text[] = "0123456789";
    struct Copy {
        uint32_t offset, length;
        int32_t result;
    };
    for (const Copy &c : {Copy{0, 10, 0}, Copy{90, 10, 0}, Copy{91, 10, LOXIM_E_JOB_BUFFER},
                          Copy{100, 1, LOXIM_E_JOB_BUFFER},
                          Copy{0xfffffff8u, 10, LOXIM_E_JOB_BUFFER}, Copy{100, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << c.offset << "+" << c.length);
        JobCopyInBlock in{job, c.offset, text, c.length, &copied, 0};
        EXPECT_EQ(Io(LOXIM_JOB_COPY_IN, o.handle, &in), c.result);
        EXPECT_EQ(copied, c.result == LOXIM_OK ? c.length : 0u);
        char out[16] = {};
        JobCopyOutBlock back{job, c.offset, out, c.length, &copied};
        EXPECT_EQ(Io(LOXIM_JOB_COPY_OUT, o.handle, &back), c.result);
        if (c.result == LOXIM_OK) {
            EXPECT_EQ(std::memcmp(out, text, c.length), 0);
        }
    }
    // No source: nothing is done; no buffer: -104.
    JobCopyInBlock noSource{job, 0, nullptr, 10, nullptr, 0};
    EXPECT_EQ(Io(LOXIM_JOB_COPY_IN, o.handle, &noSource), LOXIM_OK);
    JobCopyInBlock noBuffer{nullptr, 0, text, 10, &copied, 0};
    EXPECT_EQ(Io(LOXIM_JOB_COPY_IN, o.handle, &noBuffer), LOXIM_E_JOB_BUFFER);

    // Grow: zero-filled, contents kept.
    JobReallocBlock grow{&job, 300, &granted};
    ASSERT_EQ(Io(LOXIM_JOB_REALLOC, o.handle, &grow), LOXIM_OK);
    EXPECT_EQ(granted, 300u);
    {
        const auto *p = static_cast<const uint8_t *>(GlobalLock(job));
        EXPECT_EQ(std::memcmp(p, text, 10), 0);
        bool zero = true;
        for (int i = 100; i < 300; ++i)
            zero = zero && p[i] == 0;
        EXPECT_TRUE(zero);
        GlobalUnlock(job);
    }
    // A send holds the lock until its result says done: no copy, resize or free meanwhile.
    Standin s = Standin::Of("jastin.DLL");
    StandinScript pending = DefaultScript();
    pending.done = 0;
    s.Script(6, pending);
    SendBlock send{job, 0, 300, 0, 1000};
    EXPECT_EQ(Io(LOXIM_SEND, o.handle, &send), LOXIM_OK);
    uint32_t cut = 50;
    JobFreeBlock shrink{&job, &cut};
    JobFreeBlock freeAll{&job, nullptr};
    JobCopyInBlock in{job, 0, text, 1, &copied, 0};
    EXPECT_EQ(Io(LOXIM_JOB_COPY_IN, o.handle, &in), LOXIM_E_BUFFER_IN_USE);
    EXPECT_EQ(Io(LOXIM_JOB_REALLOC, o.handle, &grow), LOXIM_E_BUFFER_IN_USE);
    EXPECT_EQ(Io(LOXIM_JOB_FREE, o.handle, &shrink), LOXIM_E_BUFFER_IN_USE);
    EXPECT_EQ(Io(LOXIM_JOB_FREE, o.handle, &freeAll), LOXIM_E_BUFFER_IN_USE);
    uint32_t done = 0, sent = 0;
    SendResultBlock result{job, &done, 300, &sent};
    EXPECT_EQ(Io(LOXIM_SEND_RESULT, o.handle, &result), LOXIM_OK);
    EXPECT_EQ(done, 0u);
    s.Script(6, DefaultScript());
    EXPECT_EQ(Io(LOXIM_SEND_RESULT, o.handle, &result), LOXIM_OK);
    EXPECT_EQ(done, 1u);
    EXPECT_EQ(sent, 300u);
    // A send past the end is refused before the library sees it.
    SendBlock past{job, 200, 101, 0, 1000};
    EXPECT_EQ(Io(LOXIM_SEND, o.handle, &past), LOXIM_E_JOB_BUFFER);

    // Cut more than the block: -104 and the block stays; cut part; cut all frees.
    cut = 301;
    EXPECT_EQ(Io(LOXIM_JOB_FREE, o.handle, &shrink), LOXIM_E_JOB_BUFFER);
    EXPECT_EQ(GlobalSize(job), 300u);
    cut = 100;
    EXPECT_EQ(Io(LOXIM_JOB_FREE, o.handle, &shrink), LOXIM_OK);
    EXPECT_EQ(cut, 200u);
    EXPECT_EQ(GlobalSize(job), 200u);
    cut = 200;
    EXPECT_EQ(Io(LOXIM_JOB_FREE, o.handle, &shrink), LOXIM_OK);
    EXPECT_EQ(job, nullptr);
    EXPECT_EQ(Io(LOXIM_JOB_FREE, o.handle, &freeAll), LOXIM_E_JOB_BUFFER);
    EXPECT_EQ(Io(LOXIM_JOB_REALLOC, o.handle, &grow), LOXIM_E_JOB_BUFFER);
    JobAllocBlock size0{&job, 0, &granted};
    EXPECT_EQ(Io(LOXIM_JOB_ALLOC, o.handle, &size0), LOXIM_E_PARAM);
    s.reset();
    EXPECT_EQ(Io(LOXIM_CLOSE, o.handle, nullptr), LOXIM_OK);
}

TEST_F(Loxim, DeviceIdPolling) {
    Opened d = Open(LOXIM_TYPE_CHOOSE, nullptr, "LXPOLL:");
    Opened u = Open(LOXIM_TYPE_CHOOSE, nullptr, "USBLPTLX5");
    ASSERT_EQ(d.result, LOXIM_OK);
    ASSERT_EQ(u.result, LOXIM_OK);
    Standin jastin = Standin::Of("jastin.DLL"), mirovel = Standin::Of("mirovel.DLL");
    StandinScript one = DefaultScript();
    one.data[0] = 'x';
    one.dataLength = 1;
    char buffer[16];
    uint32_t length = 5;
    struct Case {
        const char *what;
        uint32_t handle;
        Standin *s;
        uint32_t op;
        uint32_t timeOut;
    };
    for (const Case &c : {Case{"time-out 0", d.handle, &jastin, 10, 0},
                          Case{"default path", d.handle, &jastin, 10, 1600},
                          Case{"USB-to-parallel", u.handle, &mirovel, 8, 2500}}) {
        SCOPED_TRACE(c.what);
        c.s->reset();
        c.s->Script(c.op, one);
        DeviceIdBlock b{buffer, sizeof buffer, &length, c.timeOut};
        const DWORD start = GetTickCount();
        EXPECT_EQ(Io(LOXIM_DEVICE_ID, c.handle, &b), LOXIM_OK);
        const DWORD elapsed = GetTickCount() - start;
        EXPECT_EQ(length, 0u);
        const uint32_t polls = c.s->callCount();
        if (c.timeOut == 0) {
            EXPECT_EQ(polls, 1u);
        } else if (c.op == 10) {
            EXPECT_GE(polls, 3u); // every 500 ms until the time-out
        } else {
            EXPECT_LE(polls, 2u); // every 2000 ms
            EXPECT_GE(polls, 1u);
            EXPECT_GE(elapsed, 1900u);
        }
        EXPECT_GE(elapsed, c.timeOut);
    }
    // A length beyond the buffer is a device error.
    jastin.reset();
    StandinScript tooLong = DefaultScript();
    tooLong.dataLength = 4;
    tooLong.count = 17;
    jastin.Script(10, tooLong);
    DeviceIdBlock b{buffer, sizeof buffer, &length, 0};
    EXPECT_EQ(Io(LOXIM_DEVICE_ID, d.handle, &b), LOXIM_E_DEVICE);
    EXPECT_EQ(length, 0u);
    // A failing poll ends with its result.
    StandinScript fails = DefaultScript();
    fails.result = -7;
    jastin.Script(10, fails);
    EXPECT_EQ(Io(LOXIM_DEVICE_ID, d.handle, &b), -7);
    jastin.reset();
    mirovel.reset();
    EXPECT_EQ(Io(LOXIM_CLOSE, d.handle, nullptr), LOXIM_OK);
    EXPECT_EQ(Io(LOXIM_CLOSE, u.handle, nullptr), LOXIM_OK);
}

// ---- resources ----

// Handles of this process and file-mapping views in its address space.
struct Resources {
    DWORD handles = 0;
    size_t views = 0;
};

// Handles of this process by the system's table, or 0 when it cannot be read.
DWORD HandleCount() {
    return suite::HandleCount();
}

Resources Count() {
    Resources r;
    r.handles = HandleCount();
    MEMORY_BASIC_INFORMATION info;
    const uint8_t *at = nullptr;
    const void *last = nullptr;
    while (VirtualQuery(at, &info, sizeof info) == sizeof info) {
        if (info.Type == MEM_MAPPED && info.AllocationBase != last) {
            ++r.views;
            last = info.AllocationBase;
        }
        const uint8_t *next = static_cast<const uint8_t *>(info.BaseAddress) + info.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    return r;
}

// ---- background requests ----

struct Completion {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int32_t> status{1};
    std::atomic<uint32_t> total{0};
    std::atomic<DWORD> thread{0};
    std::atomic<int32_t> closeResult{1};
    uint32_t closeHandle = 0; // closed from inside the completion when set
    ~Completion() { CloseHandle(event); }
};

void __stdcall OnDone(int32_t status, uint32_t total, uint32_t user) {
    auto *c = reinterpret_cast<Completion *>(static_cast<uintptr_t>(user));
    c->status = status;
    c->total = total;
    c->thread = GetCurrentThreadId();
    if (c->closeHandle)
        c->closeResult = Io(LOXIM_CLOSE, c->closeHandle, nullptr);
    SetEvent(c->event);
}

TEST_F(Loxim, BackgroundWrites) {
    Opened a = Open(LOXIM_TYPE_CHOOSE, nullptr, "LXBG:A");
    Opened b = Open(LOXIM_TYPE_CHOOSE, nullptr, "LXBG:B");
    ASSERT_EQ(a.result, LOXIM_OK);
    ASSERT_EQ(b.result, LOXIM_OK);
    Standin s = Standin::Of("jastin.DLL");
    s.reset();
    StandinScript partial = DefaultScript();
    partial.count = 300; // bytes per call
    s.Script(3, partial);
    auto deviceOf = [](uint32_t handle) {
        void *info = nullptr;
        uint32_t hl = 0, ps = 0;
        DeviceInfoRequestBlock rb{&info, &hl, &ps};
        Io(LOXIM_DEVICE_INFO, handle, &rb);
        uint32_t device;
        std::memcpy(&device, static_cast<uint8_t *>(info) + hl, 4);
        GlobalFree(GlobalHandle(info));
        return device;
    };
    std::vector<uint8_t> dataA(1000), dataB(2000);
    for (size_t i = 0; i < dataA.size(); ++i)
        dataA[i] = static_cast<uint8_t>(i * 7);
    for (size_t i = 0; i < dataB.size(); ++i)
        dataB[i] = static_cast<uint8_t>(i * 13 + 1);
    Completion ca, cb;
    uint32_t totalA = 5, totalB = 5;
    AsyncCallback callA{OnDone, loxim::U32(&ca)}, callB{OnDone, loxim::U32(&cb)};
    BackgroundBlock blockA{dataA.data(), 1000, &totalA, 5000, &callA};
    BackgroundBlock blockB{dataB.data(), 2000, &totalB, 5000, &callB};
    // Two requests at once, on two devices: each keeps its own record.
    ASSERT_EQ(Io(LOXIM_WRITE_BACKGROUND, a.handle, &blockA), LOXIM_OK);
    ASSERT_EQ(Io(LOXIM_WRITE_BACKGROUND, b.handle, &blockB), LOXIM_OK);
    // The library is in use: the close waits for the thread.
    EXPECT_EQ(Io(LOXIM_CLOSE, b.handle, nullptr), LOXIM_E_BUSY);
    dataA.assign(dataA.size(), 0xEE); // the request writes its own copy
    ASSERT_EQ(WaitForSingleObject(ca.event, 60000), WAIT_OBJECT_0);
    ASSERT_EQ(WaitForSingleObject(cb.event, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(ca.status, 0);
    EXPECT_EQ(ca.total, 1000u);
    EXPECT_EQ(totalA, 1000u);
    EXPECT_EQ(cb.status, 0);
    EXPECT_EQ(cb.total, 2000u);
    EXPECT_EQ(totalB, 2000u);
    EXPECT_NE(ca.thread, GetCurrentThreadId());
    EXPECT_NE(ca.thread, cb.thread);
    const std::vector<uint8_t> sinkA = s.Sink(deviceOf(a.handle)),
                               sinkB = s.Sink(deviceOf(b.handle));
    ASSERT_EQ(sinkA.size(), 1000u);
    ASSERT_EQ(sinkB.size(), 2000u);
    for (size_t i = 0; i < sinkA.size(); ++i)
        ASSERT_EQ(sinkA[i], static_cast<uint8_t>(i * 7)) << i;
    EXPECT_TRUE(sinkB == dataB);

    // A device that stops taking data: -132 with the total so far.
    s.reset();
    StandinScript stall = DefaultScript();
    stall.count = 100;
    stall.budget = 250;
    s.Script(3, stall);
    Completion cs;
    AsyncCallback callS{OnDone, loxim::U32(&cs)};
    BackgroundBlock blockS{dataB.data(), 2000, &totalA, 300, &callS};
    ASSERT_EQ(Io(LOXIM_WRITE_BACKGROUND, a.handle, &blockS), LOXIM_OK);
    ASSERT_EQ(WaitForSingleObject(cs.event, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(cs.status, LOXIM_E_TIMEOUT);
    EXPECT_EQ(cs.total, 250u);
    EXPECT_EQ(totalA, 250u);

    // A failing write ends with its result; a close from inside the completion works.
    s.reset();
    StandinScript fails = DefaultScript();
    fails.result = -9;
    s.Script(3, fails);
    Completion cf;
    cf.closeHandle = a.handle;
    AsyncCallback callF{OnDone, loxim::U32(&cf)};
    BackgroundBlock blockF{dataB.data(), 10, &totalA, 300, &callF};
    ASSERT_EQ(Io(LOXIM_WRITE_BACKGROUND, a.handle, &blockF), LOXIM_OK);
    ASSERT_EQ(WaitForSingleObject(cf.event, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(cf.status, -9);
    EXPECT_EQ(cf.total, 0u);
    EXPECT_EQ(cf.closeResult, 0);
    EXPECT_EQ(Io(LOXIM_CLOSE, b.handle, nullptr), LOXIM_OK);
}

TEST_F(Loxim, BackgroundRead) {
    Opened o = Open(LOXIM_TYPE_CHOOSE, nullptr, "USBLPTLX6");
    ASSERT_EQ(o.result, LOXIM_OK);
    Standin s = Standin::Of("mirovel.DLL");
    s.reset();
    StandinScript give = DefaultScript();
    give.count = 4;
    std::memcpy(give.data, "abcd", 4);
    give.dataLength = 4;
    s.Script(4, give);
    char buffer[10] = {};
    uint32_t total = 0;
    Completion c;
    AsyncCallback call{OnDone, loxim::U32(&c)};
    BackgroundBlock block{buffer, 10, &total, 5000, &call};
    ASSERT_EQ(Io(LOXIM_READ_BACKGROUND, o.handle, &block), LOXIM_OK);
    ASSERT_EQ(WaitForSingleObject(c.event, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(c.total, 10u);
    EXPECT_EQ(std::string(buffer, 10), "abcdabcdab");
    // Nothing comes: the read ends after its time-out with the last read result.
    StandinScript nothing = DefaultScript();
    s.Script(4, nothing);
    Completion c2;
    AsyncCallback call2{OnDone, loxim::U32(&c2)};
    BackgroundBlock block2{buffer, 10, &total, 300, &call2};
    ASSERT_EQ(Io(LOXIM_READ_BACKGROUND, o.handle, &block2), LOXIM_OK);
    ASSERT_EQ(WaitForSingleObject(c2.event, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(c2.status, 0);
    EXPECT_EQ(c2.total, 0u);
    s.reset();
    EXPECT_EQ(Io(LOXIM_CLOSE, o.handle, nullptr), LOXIM_OK);
}

TEST_F(Loxim, OpenUseCloseLeavesNothingBehind) {
    ASSERT_GT(HandleCount(), 0u) << "the system's handle table cannot be read";
    // The default path (a record named by its port) and the USB-to-parallel path (its
    // open-elsewhere scan maps every record in use). Each open loads the access library and
    // each close frees it: what the library's load takes, its unload gives back.
    for (const char *port : {"LXLEAK:A", "USBLPTLX8"}) {
        SCOPED_TRACE(port);
        const char data[] = "leak";
        auto cycle = [&](bool watch) {
            const Resources closed = watch ? Count() : Resources{};
            Opened o = Open(LOXIM_TYPE_CHOOSE, nullptr, port);
            ASSERT_EQ(o.result, LOXIM_OK);
            const Resources open = watch ? Count() : Resources{};
            uint32_t written = 0, ready = 0, hl = 0, ps = 0;
            void *info = nullptr;
            WriteBlock wb{data, 4, &written, 1000};
            ReadyBlock rb{&ready};
            DeviceInfoRequestBlock ib{&info, &hl, &ps};
            for (int i = 0; i < 3; ++i) {
                ASSERT_EQ(Io(LOXIM_WRITE, o.handle, &wb), LOXIM_OK);
                ASSERT_EQ(Io(LOXIM_IS_READY, o.handle, &rb), LOXIM_OK);
                ASSERT_EQ(Io(LOXIM_DEVICE_INFO, o.handle, &ib), LOXIM_OK);
                GlobalFree(GlobalHandle(info));
            }
            if (watch) {
                // One view while the device is open, the same one for every call.
                EXPECT_EQ(open.views, closed.views + 1);
                EXPECT_EQ(Count().views, open.views);
            }
            ASSERT_EQ(Io(LOXIM_CLOSE, o.handle, nullptr), LOXIM_OK);
        };
        cycle(false); // the first load of the access library and the runtime's own set-up
        const Resources before = Count();
        cycle(true);
        for (int i = 0; i < 1000 && !HasFatalFailure(); ++i)
            cycle(false);
        const Resources after = Count();
        EXPECT_EQ(after.handles, before.handles);
        EXPECT_EQ(after.views, before.views);
    }
}

// ---- registry reader, white-box ----

TEST_F(Loxim, PrinterSettingsFromTheRegistry) {
    PrinterSettings s{};
    loxim::ReadPrinterSettings(nullptr, s);
    const PrinterSettings defaults{0x300, 180000, 45000, 30000, 2048, 300, 1, 150};
    EXPECT_EQ(std::memcmp(&s, &defaults, sizeof s), 0);
    Printer bare("LoximTest Bare");
    loxim::ReadPrinterSettings(bare.name(), s);
    EXPECT_EQ(std::memcmp(&s, &defaults, sizeof s), 0);

    Printer p("LoximTest Settings");
    p.Dword("TransferMode", 0x207);
    p.Dword("TransferModeFlag", 0x10000);
    p.Dword("JobTimeOut", 11);
    p.Dword("BusyTimeOut", 12);
    p.Dword("BusyConeectChkTO", 13);
    p.Dword("ReceiveBufBlkSize", 4);
    p.Dword("UstatusTimeOut", 15);
    p.Dword("GoWaitBlockSize", 16);
    p.Dword("TransferRate", 17);
    loxim::ReadPrinterSettings(p.name(), s);
    const PrinterSettings expected{0x10207, 11, 12, 13, 2048, 15, 16, 17};
    EXPECT_EQ(std::memcmp(&s, &expected, sizeof s), 0);
    Printer flagOnly("LoximTest Flag");
    flagOnly.Dword("TransferModeFlag", 0x4000);
    loxim::ReadPrinterSettings(flagOnly.name(), s);
    EXPECT_EQ(s.transferMode, 0x4300u);

    // An 80-byte "Port" that fills the buffer comes back whole and terminated.
    const std::string port80(80, 'P');
    p.Bytes("Port", port80);
    char buffer[81];
    std::memset(buffer, 'z', sizeof buffer);
    ASSERT_TRUE(loxim::ReadPrinterRegText(p.name(), false, "Port", buffer, 80));
    EXPECT_EQ(std::string(buffer), port80);
    p.Text("Port", "LPT1");
    ASSERT_TRUE(loxim::ReadPrinterRegText(p.name(), false, "Port", buffer, 80));
    EXPECT_STREQ(buffer, "LPT1");
    EXPECT_FALSE(loxim::ReadPrinterRegText(bare.name(), false, "Port", buffer, 80));
    EXPECT_STREQ(buffer, "");
    uint32_t rate = 0;
    EXPECT_TRUE(loxim::ReadPrinterRegValue(p.name(), true, "TransferRate", &rate, 4));
    EXPECT_EQ(rate, 17u);
    EXPECT_FALSE(loxim::ReadPrinterRegValue(p.name(), true, "TransfarSpeedAdjust", &rate, 4));
}

// ---- other processes ----

TEST_F(Loxim, SecondProcess) {
    Opened mine = Open(LOXIM_TYPE_CHOOSE, nullptr, "LXXP:MINE");
    ASSERT_EQ(mine.result, LOXIM_OK);
    const std::string tag = "LoximTest." + std::to_string(GetCurrentProcessId());
    win::Handle ready(Event(tag + ".ready")), go(Event(tag + ".go"));
    Child child;
    ASSERT_TRUE(child.Start(SelfPath(), "--child=hold --tag=" + tag + " --loxim=\"" + g_loximPath +
                                            "\" LXXP:FILE USBLPTLX7"));
    HANDLE waits[] = {ready.get(), child.pi.hProcess};
    ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, 300000), WAIT_OBJECT_0)
        << "child exit " << child.Wait(0);

    EXPECT_EQ(*g_entryNo, 2);
    EXPECT_EQ(g_table->openCount, 3u);
    std::vector<uint32_t> foreign;
    for (uint32_t i = 0; i < loxim::core::kSlotCount; ++i)
        if (g_table->slots[i].mapping && g_table->slots[i].owner == child.pi.dwProcessId)
            foreign.push_back(i + 1);
    ASSERT_EQ(foreign.size(), 2u);

    // The child's ports: -131 by the record name and by the scan; our device still works.
    const Snapshot before = Snapshot::Take();
    EXPECT_EQ(Open(LOXIM_TYPE_CHOOSE, nullptr, "LXXP:FILE").result, LOXIM_E_ALREADY_OPEN);
    EXPECT_EQ(Open(LOXIM_TYPE_CHOOSE, nullptr, "USBLPTLX7").result, LOXIM_E_ALREADY_OPEN);
    EXPECT_EQ(Open(LOXIM_TYPE_USB_LPT, nullptr, "USBLPTLX7").result, LOXIM_E_ALREADY_OPEN);
    EXPECT_TRUE(Snapshot::Take() == before);
    EXPECT_EQ(GetModuleHandleA("mirovel.DLL"), nullptr);
    const char data[] = "abc";
    uint32_t written = 0;
    WriteBlock wb{data, 3, &written, 1000};
    EXPECT_EQ(Io(LOXIM_WRITE, mine.handle, &wb), LOXIM_OK);
    EXPECT_EQ(written, 3u);

    // Another process's handles mean nothing here.
    void *info = nullptr;
    uint32_t hl = 0, ps = 0;
    DeviceInfoRequestBlock rb{&info, &hl, &ps};
    for (uint32_t h : foreign) {
        EXPECT_EQ(Io(LOXIM_CLOSE, h, nullptr), LOXIM_E_HANDLE);
        EXPECT_EQ(Io(LOXIM_WRITE, h, &wb), LOXIM_E_HANDLE);
        EXPECT_EQ(Io(LOXIM_DEVICE_INFO, h, &rb), LOXIM_E_HANDLE);
    }
    EXPECT_EQ(g_table->openCount, 3u);

    SetEvent(go.get());
    EXPECT_EQ(child.Wait(300000), 0u);
    EXPECT_EQ(*g_entryNo, 1);
    Opened after = Open(LOXIM_TYPE_CHOOSE, nullptr, "USBLPTLX7");
    EXPECT_EQ(after.result, LOXIM_OK);
    if (after.result == LOXIM_OK) {
        EXPECT_EQ(Io(LOXIM_CLOSE, after.handle, nullptr), LOXIM_OK);
    }
    EXPECT_EQ(Io(LOXIM_CLOSE, mine.handle, nullptr), LOXIM_OK);
    ready.reset();
    go.reset();
}

// A device opened before the library was unloaded and loaded again (another process keeps the
// table): its calls map the record anew and its close releases everything.
TEST_F(Loxim, DeviceOpenedBeforeAReload) {
    const std::string tag = "LoximReload." + std::to_string(GetCurrentProcessId());
    win::Handle ready(Event(tag + ".ready")), go(Event(tag + ".go"));
    Child child;
    ASSERT_TRUE(child.Start(SelfPath(), "--child=hold --tag=" + tag + " --loxim=\"" + g_loximPath +
                                            "\" LXRELOAD:CHILD"));
    HANDLE waits[] = {ready.get(), child.pi.hProcess};
    ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, 300000), WAIT_OBJECT_0)
        << "child exit " << child.Wait(0);

    const size_t viewsBefore = Count().views;
    Opened o = Open(LOXIM_TYPE_CHOOSE, nullptr, "LXRELOAD:MINE");
    ASSERT_EQ(o.result, LOXIM_OK);
    const char data[] = "abcd";
    uint32_t written = 0;
    WriteBlock wb{data, 4, &written, 1000};
    EXPECT_EQ(Io(LOXIM_WRITE, o.handle, &wb), LOXIM_OK);

    FreeLibrary(g_loxim);
    EXPECT_EQ(Count().views, viewsBefore); // the unload let the slot's view go
    LoadLoxim();
    ASSERT_NE(g_io, nullptr);
    EXPECT_EQ(*g_entryNo, 2);
    ASSERT_EQ(g_table->slots[o.handle - 1].owner, GetCurrentProcessId());

    written = 0;
    EXPECT_EQ(Io(LOXIM_WRITE, o.handle, &wb), LOXIM_OK);
    EXPECT_EQ(written, 4u);
    void *info = nullptr;
    uint32_t hl = 0, ps = 0;
    DeviceInfoRequestBlock ib{&info, &hl, &ps};
    ASSERT_EQ(Io(LOXIM_DEVICE_INFO, o.handle, &ib), LOXIM_OK);
    EXPECT_EQ(std::string(static_cast<const char *>(info) + 29), "LXRELOAD:MINE");
    GlobalFree(GlobalHandle(info));
    EXPECT_EQ(Count().views, viewsBefore + 1);
    EXPECT_EQ(Io(LOXIM_CLOSE, o.handle, nullptr), LOXIM_OK);
    EXPECT_EQ(Count().views, viewsBefore);

    SetEvent(go.get());
    EXPECT_EQ(child.Wait(300000), 0u);
    ready.reset();
    go.reset();
}

TEST_F(Loxim, LoaderOrder) {
    const std::string root =
        suite::TestDataDir() + "\\loxim-loader-" + std::to_string(GetCurrentProcessId());
    const std::string exeDir = root + "\\exe", bareDir = root + "\\bare", regDir = root + "\\reg",
                      loximDir = root + "\\lib", noDir = root + "\\none";
    for (const std::string &d : {root, exeDir, bareDir, regDir, loximDir})
        CreateDirectoryA(d.c_str(), nullptr);
    const std::string jastin = AccessLibFolder() + "\\jastin.dll";
    ASSERT_TRUE(CopyFileA(SelfPath().c_str(), (exeDir + "\\loxim_child.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(SelfPath().c_str(), (bareDir + "\\loxim_child.exe").c_str(), FALSE));
    for (const std::string &d : {exeDir, regDir, loximDir})
        ASSERT_TRUE(CopyFileA(jastin.c_str(), (d + "\\jastin.DLL").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(g_loximPath.c_str(), (loximDir + "\\loxim.dll").c_str(), FALSE));

    struct Case {
        const char *what;
        std::string exe;
        std::string registry;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"host program folder first", exeDir, regDir, exeDir},
        {"then the registry folder", bareDir, regDir, regDir},
        {"then loxim's folder", bareDir, noDir, loximDir},
    };
    // The first two share the registry value and run at once.
    auto run = [&](std::vector<size_t> which) {
        std::vector<Child> children(which.size());
        SetLoaderFolder(cases[which[0]].registry);
        for (size_t i = 0; i < which.size(); ++i) {
            const Case &c = cases[which[i]];
            const std::string out = root + "\\result" + std::to_string(which[i]) + ".txt";
            DeleteFileA(out.c_str());
            ASSERT_TRUE(children[i].Start(c.exe + "\\loxim_child.exe",
                                          "--child=loader --loxim=\"" + loximDir +
                                              "\\loxim.dll\" --out=\"" + out +
                                              "\" LXLOAD:" + std::to_string(which[i])));
        }
        for (size_t i = 0; i < which.size(); ++i) {
            const Case &c = cases[which[i]];
            SCOPED_TRACE(c.what);
            EXPECT_EQ(children[i].Wait(300000), 0u);
            const std::string got = ReadText(root + "\\result" + std::to_string(which[i]) + ".txt");
            EXPECT_EQ(Lower(got), Lower(c.expected + "\\jastin.DLL"));
        }
    };
    run({0, 1});
    run({2});
    SetLoaderFolder(AccessLibFolder());
}

} // namespace

int main(int argc, char **argv) {
    std::string child, tag, out;
    std::vector<std::string> rest;
    g_loximPath = suite::BinPath("loxim.dll");
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--child=", 0) == 0)
            child = arg.substr(8);
        else if (arg.rfind("--tag=", 0) == 0)
            tag = arg.substr(6);
        else if (arg.rfind("--out=", 0) == 0)
            out = arg.substr(6);
        else if (arg.rfind("--loxim=", 0) == 0)
            g_loximPath = arg.substr(8);
        else if (!child.empty())
            rest.push_back(arg);
    }
    if (!child.empty()) {
        LoadLoxim();
        if (!g_io)
            return 2;
        if (child == "hold")
            return ChildHold(tag, rest);
        if (child == "loader" && rest.size() == 1)
            return ChildLoader(rest[0], out);
        return 3;
    }
    testing::InitGoogleTest(&argc, argv);
    LoadLoxim();
    if (g_table)
        g_firstTable = *g_table;
    return RUN_ALL_TESTS();
}

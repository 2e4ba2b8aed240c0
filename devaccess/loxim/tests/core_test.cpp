// The dispatcher's platform-neutral rules, natively under the sanitizers.
#include "loxim_core.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace loxim::core;

TEST(ClassifyPortName, Table) {
    struct Case {
        const char *port;
        uint32_t kind;
    };
    const Case cases[] = {
        {"LPT1", 1},      {"LPT", 1},     {"lpt1", 0},    {"USB001", 2},         {"KV1USB1", 2},
        {"USBLPT1", 4},   {"LPTUSB1", 4}, {"PRNUSB1", 4}, {"192.168.0.10", 128}, {"a.b", 0},
        {"a.b.c.d.e", 0}, {"FILE:", 0},   {"", 0},        {nullptr, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ClassifyPortName(c.port), c.kind) << (c.port ? c.port : "(null)");
}

TEST(ChooseConnectionType, Table) {
    const auto R = SettingsFrom::Registry, P36 = SettingsFrom::Params36,
               P44 = SettingsFrom::Params44, N = SettingsFrom::None;
    constexpr int64_t none = -1;
    struct Case {
        uint32_t type, kind;
        int64_t size;
        uint32_t tm;
        int32_t result;
        uint32_t chosen;
        SettingsFrom from;
    };
    const Case cases[] = {
        // type 1 on a parallel port: by the params' size, else by TransferMode
        {1, 1, none, 0, 0, 2, R},
        {1, 1, none, 8, 0, 4, R},
        {1, 1, none, 9, 0, 4, R},
        {1, 1, none, 7, 0, 2, R},
        {1, 1, 36, 9, 0, 2, P36},
        {1, 1, 44, 0, 0, 4, P44},
        {1, 1, 12, 0, 0, 4, R},
        {1, 1, 40, 0, kErrPortNotFound, 0, N},
        {1, 1, 0, 0, kErrPortNotFound, 0, N},
        // type 1 elsewhere
        {1, 2, none, 0, 0, 3, N},
        {1, 2, none, 8, 0, 5, N},
        {1, 2, 36, 9, 0, 5, N},
        {1, 4, 44, 8, 0, 256, N},
        {1, 128, none, 8, 0, 257, N},
        {1, 0, 12, 9, 0, 4096, N},
        // explicit types and their kinds
        {2, 1, none, 8, 0, 2, R},
        {2, 1, 36, 0, 0, 2, P36},
        {2, 1, 44, 0, kErrParam, 0, N},
        {2, 2, none, 0, kErrParam, 0, N},
        {3, 2, none, 0, 0, 3, N},
        {3, 1, none, 0, kErrParam, 0, N},
        {5, 2, none, 0, 0, 5, N},
        {5, 4, none, 0, kErrParam, 0, N},
        {4, 1, none, 0, 0, 4, R},
        {4, 1, 12, 0, 0, 4, R},
        {9, 1, 44, 0, 0, 9, P44},
        {10, 1, 36, 0, kErrParam, 0, N},
        {6, 2, none, 0, kErrParam, 0, N},
        {256, 4, none, 0, 0, 256, N},
        {256, 2, none, 0, kErrParam, 0, N},
        {257, 0, 12, 0, 0, 257, N},
        {4096, 1, 36, 0, 0, 4096, N},
        {4096, 128, none, 0, 0, 4096, N},
        {0, 0, none, 0, kErrParam, 0, N},
        {11, 1, none, 0, kErrParam, 0, N},
        {258, 0, none, 0, kErrParam, 0, N},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " kind " << c.kind << " size "
                                        << c.size << " mode " << c.tm);
        const TypeChoice got = ChooseConnectionType(c.type, c.kind, c.size, c.tm);
        EXPECT_EQ(got.result, c.result);
        if (c.result == kOk) {
            EXPECT_EQ(got.type, c.chosen);
            EXPECT_EQ(got.settings, c.from);
        }
    }
}

TEST(Record, LayoutByteForByte) {
    std::vector<uint8_t> record(64, 0);
    const uint32_t headerLength = RecordHeaderLength("P", "FILE:");
    ASSERT_EQ(headerLength, 28u + 1 + 1 + 5 + 1);
    ASSERT_TRUE(WriteRecord(record.data(), record.size(), 4096, "P", "FILE:", 4));
    const uint8_t expected[] = {
        36, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   0, 0,   0x10, 0,   0,   0,   0,
        0,  0, 0, 0, 0, 0, 4, 0, 0, 0, 'P', 0, 'F', 'I',  'L', 'E', ':', 0,
    };
    ASSERT_EQ(std::memcmp(record.data(), expected, sizeof expected), 0);

    RecordView view;
    ASSERT_TRUE(ReadRecord(record.data(), 40, view));
    EXPECT_EQ(view.printer, "P");
    EXPECT_EQ(view.port, "FILE:");
    EXPECT_EQ(view.header.type, 4096u);
    EXPECT_EQ(view.privateArea, record.data() + 36);

    // No printer name: empty text; a record that does not hold its private area is refused.
    ASSERT_TRUE(WriteRecord(record.data(), 53, 256, nullptr, "USBLPT1", 16));
    ASSERT_TRUE(ReadRecord(record.data(), 53, view));
    EXPECT_EQ(view.printer, "");
    EXPECT_EQ(view.port, "USBLPT1");
    EXPECT_FALSE(WriteRecord(record.data(), 52, 256, nullptr, "USBLPT1", 16));
}

TEST(Record, ReaderStaysWithinForeignRecords) {
    std::vector<uint8_t> record(48, 0);
    ASSERT_TRUE(WriteRecord(record.data(), record.size(), 256, "P", "USBLPT1", 8));
    RecordView view;
    struct Case {
        const char *what;
        size_t readable;
        uint32_t headerLength;
        uint32_t privateSize;
        bool ok;
    };
    const Case cases[] = {
        {"whole", 48, 38, 8, true},
        {"shorter than the header", 20, 38, 8, false},
        {"header length past the view", 37, 38, 0, false},
        {"private area past the view", 40, 38, 8, false},
        {"header length below the names", 48, 29, 0, false},
        {"port text not terminated within the header", 48, 37, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> copy = record;
        std::memcpy(copy.data(), &c.headerLength, 4);
        std::memcpy(copy.data() + 24, &c.privateSize, 4);
        EXPECT_EQ(ReadRecord(copy.data(), c.readable, view), c.ok);
    }
    EXPECT_FALSE(ReadRecord(nullptr, 48, view));
}

TEST(Table, SlotsAndHighWaterMark) {
    DeviceTable table{};
    // Three opens take slots 0, 1, 2.
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(ChooseSlot(table), static_cast<int>(i));
        RegisterSlot(table, i, 7, 100 + i);
    }
    EXPECT_EQ(table.openCount, 3u);
    EXPECT_EQ(table.highWater, 3u);
    // A lower slot keeps the mark; the next open reuses the lowest free slot.
    ReleaseSlot(table, 1);
    EXPECT_EQ(table.highWater, 3u);
    EXPECT_EQ(table.openCount, 2u);
    EXPECT_EQ(ChooseSlot(table), 1);
    ReleaseSlot(table, 0);
    EXPECT_EQ(ChooseSlot(table), 0);
    // The top slot lowers the mark by one.
    ReleaseSlot(table, 2);
    EXPECT_EQ(table.highWater, 2u);
    EXPECT_EQ(table.openCount, 0u);
    RegisterSlot(table, 0, 7, 200);
    EXPECT_EQ(table.highWater, 2u);
    EXPECT_EQ(ChooseSlot(table), 1);
    // Releasing a free slot changes nothing.
    ReleaseSlot(table, 5);
    EXPECT_EQ(table.openCount, 1u);
}

TEST(Table, FullTableHasNoSlot) {
    DeviceTable table{};
    for (uint32_t i = 0; i < kSlotCount; ++i) {
        ASSERT_EQ(ChooseSlot(table), static_cast<int>(i));
        RegisterSlot(table, i, 7, 100 + i);
    }
    EXPECT_EQ(ChooseSlot(table), -1);
    EXPECT_EQ(table.highWater, 64u);
    // A damaged open count cannot send the choice past the table either.
    table.openCount = 1000;
    EXPECT_EQ(ChooseSlot(table), -1);
}

TEST(Table, HandleCheck) {
    DeviceTable table{};
    RegisterSlot(table, 0, 7, 100);
    RegisterSlot(table, 1, 8, 101);
    RegisterSlot(table, 2, 7, 102);
    ReleaseSlot(table, 2);
    struct Case {
        uint32_t handle, owner;
        int slot;
    };
    const Case cases[] = {
        {1, 7, 0},
        {0, 7, -1},
        {2, 7, -1} /* another process's */,
        {2, 8, 1},
        {3, 7, -1} /* above the mark */,
        {65, 7, -1},
        {0xffffffff, 7, -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SlotOfHandle(table, c.handle, c.owner), c.slot) << c.handle << "/" << c.owner;
}

TEST(Names, MappingNamesAndPaths) {
    EXPECT_EQ(MappingName(4096, "FILE:"), "Devacc.FILE:");
    EXPECT_EQ(MappingName(256, "USBLPT1"), "Devacc.QUV_USBLPT1");
    EXPECT_EQ(MappingName(2, "LPT1"), "Devacc.QUV_LPT1");
    EXPECT_EQ(MappingName(9, "LPT1", 0x10241), "Devacc.QUVMFPI_LPT141");
    EXPECT_EQ(MappingName(4, "LPT1", 0x10205), "Devacc.QUVMFPI_LPT1 5");
    EXPECT_EQ(MappingName(5, "USB001"), "Devacc.QUVMFPI_USB001");
    EXPECT_EQ(MappingName(257, "10.0.0.1"), "");
    EXPECT_EQ(MappingName(4096, nullptr), "");
    // A name that does not fit is refused, never cut.
    const std::string fits(kMappingNameSize - 1 - 7, 'x'), over(kMappingNameSize - 7, 'x');
    EXPECT_EQ(MappingName(4096, fits.c_str()).size(), kMappingNameSize - 1);
    EXPECT_EQ(MappingName(4096, over.c_str()), "");

    EXPECT_EQ(PortNumber("LPT"), -1);
    EXPECT_EQ(PortNumber("USBLPT3"), 3);
    EXPECT_EQ(PortNumber("USB001"), 1);
    EXPECT_EQ(PortNumber(nullptr), -1);

    EXPECT_EQ(JoinPath("C:\\a", "\\", "jastin.DLL", 1024), "C:\\a\\jastin.DLL");
    EXPECT_EQ(JoinPath(std::string(1012, 'a'), "\\", "jastin.DLL", 1024).size(), 1023u);
    EXPECT_EQ(JoinPath(std::string(1013, 'a'), "\\", "jastin.DLL", 1024), "");
}

TEST(Dispatch, TableCells) {
    struct Case {
        uint32_t code, type;
        Routine routine;
    };
    const Case cases[] = {
        {3, 2, Routine::LptAllocJobBuffer},
        {3, 4096, Routine::Generic},
        {7, 256, Routine::Generic},
        {8, 4096, Routine::DefWrite},
        {8, 256, Routine::UsbLptWrite},
        {8, 5, Routine::Refused},
        {8, 7, Routine::MfpWrite},
        {9, 3, Routine::MfpRead},
        {9, 4096, Routine::MfpRead},
        {10, 256, Routine::DefSendBuffer},
        {11, 4096, Routine::UsbLptGetSendResult},
        {11, 10, Routine::UsbLptGetSendResult},
        {12, 4096, Routine::DefIsReady},
        {12, 257, Routine::Zero},
        {13, 256, Routine::UsbLptReadDeviceId},
        {14, 4096, Routine::DefProbe},
        {15, 257, Routine::Refused},
        {15, 4096, Routine::DefReadStatusByte},
        {16, 256, Routine::DefaultState},
        {16, 2, Routine::LptGetPrinterState},
        {17, 3, Routine::Refused},
        {18, 257, Routine::Zero},
        {19, 3, Routine::Zero},
        {100, 4096, Routine::Zero},
        {102, 257, Routine::TcpConnect},
        {104, 5, Routine::Background},
        {105, 4096, Routine::Background},
        {30000, 3, Routine::UsbPassThrough},
        {30000, 4096, Routine::PassMatch},
        // outside the table, and types no record holds
        {21, 4096, Routine::Zero},
        {101, 256, Routine::Zero},
        {8, 1, Routine::Zero},
        {8, 11, Routine::Zero},
        {104, 0, Routine::Zero},
    };
    for (const Case &c : cases)
        EXPECT_EQ(DispatchRoutine(c.code, c.type), c.routine)
            << c.code << " on " << c.type << ": " << RoutineName(DispatchRoutine(c.code, c.type));
}

TEST(Network, MapTcpResult) {
    struct Case {
        int32_t in, out;
    };
    const Case cases[] = {
        {0, 0},
        {-19, kErrAlreadyOpen},
        {-12, kErrAlreadyOpen},
        {-18, kErrDevice},
        {-17, kErrDevice},
        {-16, kErrDevice},
        {-6, kErrDevice},
        {-5, kErrDevice},
        {-15, kErrNetwork},
        {-14, kErrNetwork},
        {-13, kErrNetwork},
        {-11, kErrPortNotFound},
        {-10, kErrPortNotFound},
        {-4, kErrMemory},
        {-3, kErrLibrary},
        {-2, kErrLibrary},
        {-1, kErrLibrary},
        // everything else
        {-7, kErrParam},
        {-8, kErrParam},
        {-9, kErrParam},
        {-20, kErrParam},
        {1, kErrParam},
        {5, kErrParam},
        {INT32_MIN, kErrParam},
        {INT32_MAX, kErrParam},
    };
    for (const Case &c : cases)
        EXPECT_EQ(MapTcpResult(c.in), c.out) << c.in;
}

TEST(Network, MapTcpStatus) {
    struct Case {
        int32_t in, out;
    };
    const Case cases[] = {
        {0, 0},
        {1, 0},
        {2, 0},
        {3, 0},
        {4, 0},
        {-12, kErrDevice},
        {-11, kErrNetwork},
        {-10, kErrNetwork},
        {-9, kErrNetConnect},
        {-8, kErrNet8},
        {-7, kErrThread},
        {-6, kErrJobBuffer},
        {-5, kErrBusy},
        {-3, kErrMemory},
        {-2, kErrPortNotFound},
        {-1, kErrAlreadyOpen},
        // everything else
        {-4, kErrParam},
        {-13, kErrParam},
        {5, kErrParam},
        {10055, kErrParam},
        {INT32_MIN, kErrParam},
    };
    for (const Case &c : cases)
        EXPECT_EQ(MapTcpStatus(c.in), c.out) << c.in;
}

TEST(Parallel, ResultsByOperation) {
    struct Case {
        uint32_t op;
        int32_t in, out;
    };
    const Case cases[] = {
        {3, -1, kErrParam},        {4, -7, kErrParam},        {5, -1, kErrMemory},
        {9, -14, kErrMemory},      {6, -14, kErrBufferInUse}, {6, -2, kErrJobBuffer},
        {7, -14, kErrBufferInUse}, {8, -3, kErrJobBuffer},    {10, -14, kErrBufferInUse},
        {10, -9, kErrJobBuffer},   {12, -15, kErrSend},       {12, -4, kErrSend},
        {12, -14, kErrBusy},       {12, -7, kErrBusy},        {12, -8, kErrParam},
        {13, -7, kErrBusy},        {13, -8, kErrTransfer},    {13, -19, kErrTimeout},
        {13, -9, kErrDevice},      {13, -1, kErrParam},       {14, -17, kErrStatus},
        {14, -7, kErrParam},       {16, -7, kErrBusy},        {16, -19, kErrDevice},
        {16, -9, kErrParam},       {20, -7, kErrBusy},        {20, -9, kErrParam},
        {23, -7, kErrBusy},        {23, -9, kErrDevice},      {23, -19, kErrParam},
        {24, -7, kErrBusy},        {24, -9, kErrParam},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(MapLptResult(c.op, c.in), c.out) << "op " << c.op << " result " << c.in;
        EXPECT_EQ(MapLptResult(c.op, 0), 0) << "op " << c.op;
    }
}

TEST(Parallel, SendPacing) {
    EXPECT_EQ(SendPacing(true, 50, 300), 200u); // the floor
    EXPECT_EQ(SendPacing(true, 0, 300), 0u);
    EXPECT_EQ(SendPacing(true, 2000, 300), 300u); // above 1000: 100 %
    EXPECT_EQ(SendPacing(false, 0, 300), 300u);   // missing: 100 %
    EXPECT_EQ(SendPacing(true, 1000, 150), 1500u);
    EXPECT_EQ(SendPacing(true, 1000, 0xffffffffu), 0xffffffffu); // no 32-bit overflow
    EXPECT_EQ(SendPacing(true, 999, 0x20000000u), 0xffffffffu);
    EXPECT_EQ(SendPacing(true, 100, 0x12345678u), 0x12345678u);
}

TEST(Parallel, PrinterState) {
    struct Case {
        uint32_t mode, flags;
        uint8_t status;
        uint32_t state;
        uint8_t valid;
        bool reread;
    };
    const Case cases[] = {
        // re-read: mode 1 or 7 with bit 0 and not bit 1, status 0x40 set
        {1, 1, 0x40, 0x1000000, 0, true},
        {7, 5, 0x40, 0x1000000, 0, true},
        // ... otherwise bit 2 with status 0x40 clear
        {0, 4, 0x00, 0x1000000, 0, true},
        {1, 6, 0x10, 0x1000000, 0, true},
        // mode 1 or 7 without bit 0, or bit 1: by the bits 0x90
        {1, 0, 0x00, 0x1000100, 1, false},
        {7, 0, 0x80, 0x1000000, 1, false},
        {0, 2, 0x10, 0x1000000, 1, false},
        {2, 2, 0x40, 0x1000100, 1, false},
        {1, 1, 0x00, 0x3010100, 1, false}, // bit 0, status 0x40 clear: by the bits 0x30
        // by the bits 0x30
        {0, 0, 0x00, 0x3010100, 1, false},
        {2, 0, 0x10, 0x1000000, 1, false},
        {0, 0, 0x20, 0x3000200, 1, false},
        {0, 4, 0x70, 0x3000100, 1, false},
        {7, 1, 0x30, 0x3000100, 1, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "mode " << c.mode << " flags " << c.flags << " status " << int(c.status));
        const PrinterState got = LptPrinterState(c.mode, c.flags, c.status);
        EXPECT_EQ(got.state, c.state);
        EXPECT_EQ(got.valid, c.valid);
        EXPECT_EQ(got.reread, c.reread);
    }
}

TEST(Packet, ServiceCodeModeAndStatus) {
    const uint32_t codes[][2] = {{4, 0x10221}, {6, 0x10251},  {7, 0x10253}, {8, 0x10231},
                                 {9, 0x10241}, {10, 0x10243}, {5, 0},       {2, 0}};
    for (const auto &c : codes)
        EXPECT_EQ(PacketServiceCode(c[0]), c[1]) << c[0];
    EXPECT_EQ(PacketMode(9), 2u);
    EXPECT_EQ(PacketMode(0x309), 2u);
    EXPECT_EQ(PacketMode(8), 1u);
    EXPECT_EQ(PacketMode(0x900), 1u);
    EXPECT_EQ(PacketStatusByte(0xFF), 0xD8);
    EXPECT_EQ(PacketStatusByte(0x00), 0x50);
    EXPECT_EQ(PacketStatusByte(0x27), 0x50);
}

// The packet-over-USB column, which no live device can walk (such a device never opens).
TEST(Dispatch, PacketOverUsbColumn) {
    for (uint32_t code = 3; code <= 19; ++code) {
        Routine expected = Routine::Refused;
        if (code <= 7)
            expected = Routine::Generic;
        else if (code == kCodePrinterState)
            expected = Routine::DefaultState;
        else if (code == kCodeSetSettings)
            expected = Routine::Zero;
        EXPECT_EQ(DispatchRoutine(code, 5), expected) << code;
    }
    for (uint32_t code : {kCodeNetStatus, kCodeNetConnect, kCodeNetDisconnect})
        EXPECT_EQ(DispatchRoutine(code, 5), Routine::Zero) << code;
    for (uint32_t code : {kCodeWriteBackground, kCodeReadBackground})
        EXPECT_EQ(DispatchRoutine(code, 5), Routine::Background) << code;
    EXPECT_EQ(DispatchRoutine(kCodePassThrough, 5), Routine::PassMatch);
}

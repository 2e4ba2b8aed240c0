// A network printer from end to end: loxim, brevan, tessyn and dorvik as shipped in the bin
// folder, against the fake printer on its own loopback address: its 9100 sink is the raw port,
// its SNMP agent answers on UDP 161 of the same address, the port loxim's sessions ask.
#include <winsock.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "fake_printer.h"
#include "loxim.h"
#include "suite_paths.h"
#include "suite_pattern.h"

namespace {

constexpr char kAddress[] = "127.0.0.91";

using suite::Pattern;

void SetLoaderFolder(const std::string &folder) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Dranvel\\Common", 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(folder.c_str()),
                   static_cast<DWORD>(folder.size() + 1));
    RegCloseKey(key);
}

TEST(LoximPeers, NetworkPrinter) {
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &wsa), 0);
    sink9100::Options raw;
    raw.mode = sink9100::Mode::kTrack;
    fakeprinter::FakePrinter printer(kAddress, raw, 161);
    std::string error;
    ASSERT_TRUE(printer.Start(&error)) << error;

    // The shipped brevan, found through the loader's registry folder.
    SetLoaderFolder(suite::BinDir());
    HMODULE loxim = LoadLibraryA(suite::BinPath("loxim.dll").c_str());
    ASSERT_NE(loxim, nullptr);
    auto io = reinterpret_cast<int32_t(__stdcall *)(uint32_t, uint32_t, void *)>(
        reinterpret_cast<void *>(GetProcAddress(loxim, "DeviceIO_IF")));
    ASSERT_NE(io, nullptr);

    uint32_t h = 0;
    OpenDeviceBlock open{nullptr, kAddress, &h, nullptr, 0, nullptr, nullptr, nullptr};
    ASSERT_EQ(io(LOXIM_OPEN, LOXIM_TYPE_TCPIP, &open), LOXIM_OK);
    EXPECT_EQ(io(LOXIM_NET_CONNECT, h, nullptr), LOXIM_OK);

    // A synchronous write of 100 KB.
    const std::string first = Pattern(100 * 1024, 1);
    uint32_t written = 0;
    WriteBlock write{first.data(), static_cast<uint32_t>(first.size()), &written, 10000};
    EXPECT_EQ(io(LOXIM_WRITE, h, &write), LOXIM_OK);
    EXPECT_EQ(written, first.size());

    // A 64 KB job buffer sent in the background, polled until done.
    const std::string second = Pattern(64 * 1024, 2);
    void *job = nullptr;
    uint32_t granted = 0, copied = 0, done = 0, sent = 0;
    JobAllocBlock alloc{&job, static_cast<uint32_t>(second.size()), &granted};
    ASSERT_EQ(io(LOXIM_JOB_ALLOC, h, &alloc), LOXIM_OK);
    JobCopyInBlock in{job, 0, second.data(), static_cast<uint32_t>(second.size()), &copied, 0};
    ASSERT_EQ(io(LOXIM_JOB_COPY_IN, h, &in), LOXIM_OK);
    SendBlock send{job, 0, static_cast<uint32_t>(second.size()), 150, 10000};
    ASSERT_EQ(io(LOXIM_SEND, h, &send), LOXIM_OK);
    SendResultBlock result{job, &done, static_cast<uint32_t>(second.size()), &sent};
    for (int i = 0; i < 1000 && !done; ++i) {
        ASSERT_EQ(io(LOXIM_SEND_RESULT, h, &result), LOXIM_OK);
        if (!done)
            Sleep(20);
    }
    EXPECT_EQ(done, 1u);
    EXPECT_EQ(sent, second.size());
    ASSERT_TRUE(printer.Raw().WaitForCount(first.size() + second.size(), 10000));
    EXPECT_TRUE(printer.Raw().Received() == first + second);

    // The status value: each poll returns what the previous one read.
    uint32_t status = 0;
    NetStatusBlock net{&status};
    for (int i = 0; i < 50 && status != 17; ++i) {
        EXPECT_EQ(io(LOXIM_NET_STATUS, h, &net), LOXIM_OK);
        if (status != 17)
            Sleep(100);
    }
    EXPECT_EQ(status, 17u);

    // A pass-through Get of the same object.
    char reply[32] = {};
    uint32_t replyLength = 0;
    PassThroughBlock get{LoximPassThroughControl(LOXIM_TYPE_TCPIP, 1),
                         fakeprinter::kStatusOid,
                         0,
                         reply,
                         sizeof reply,
                         &replyLength,
                         nullptr};
    EXPECT_EQ(io(LOXIM_PASS_THROUGH, h, &get), LOXIM_OK);
    EXPECT_EQ(replyLength, 2u);
    EXPECT_EQ(std::string(reply, replyLength), "17");

    char id[16] = {};
    uint32_t idLength = 0;
    DeviceIdBlock idBlock{id, sizeof id, &idLength, 0};
    EXPECT_EQ(io(LOXIM_DEVICE_ID, h, &idBlock), LOXIM_OK);
    EXPECT_EQ(std::string(id, idLength), "CMD:TCPIP;");

    EXPECT_EQ(io(LOXIM_NET_DISCONNECT, h, nullptr), LOXIM_OK);
    EXPECT_TRUE(printer.Raw().WaitForClose(0, 5000));
    EXPECT_EQ(printer.Raw().Accepted(), 1);
    uint32_t cut = 0;
    JobFreeBlock free{&job, &cut};
    EXPECT_EQ(io(LOXIM_JOB_FREE, h, &free), LOXIM_OK);
    EXPECT_EQ(io(LOXIM_CLOSE, h, nullptr), LOXIM_OK);
    EXPECT_EQ(GetModuleHandleA("brevan.dll"), nullptr);
    FreeLibrary(loxim);
    WSACleanup();
}

} // namespace

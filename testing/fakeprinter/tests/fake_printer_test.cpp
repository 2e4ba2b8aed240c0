// The fake printer's network side, from a plain Winsock client.
#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include "fake_printer.h"
#include "snmp_agent.h"

namespace {

using snmpagent::Bytes;
using namespace fakeprinter;

constexpr const char *kAddress = sizeof(void *) == 8 ? "127.0.0.151" : "127.0.0.152";

// A UDP client on loopback that sends one request and waits (bounded) for one answer.
class Client {
  public:
    Client() {
        s_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = inet_addr("127.0.0.1");
        bind(s_, reinterpret_cast<sockaddr *>(&local), sizeof local);
    }
    ~Client() { closesocket(s_); }

    // The answer's first binding (empty record when none came).
    SnmpRequest Ask(uint16_t port, const std::string &community, uint8_t tag, const char *oid,
                    const Bytes &value = snmpagent::Tlv(0x05, {})) {
        Bytes pdu = snmpagent::Tlv(
            tag, snmpagent::Cat({snmpagent::Int(7), snmpagent::Int(0), snmpagent::Int(0),
                                 snmpagent::VarBindList({snmpagent::VarBind(oid, value)})}));
        Bytes message = snmpagent::Message(community, pdu);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = inet_addr(kAddress);
        sendto(s_, reinterpret_cast<const char *>(message.data()), static_cast<int>(message.size()),
               0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        // The wait is select's own time-out, not the socket's receive time-out.
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s_, &readable);
        timeval wait{1, 0};
        if (select(0, &readable, nullptr, nullptr, &wait) != 1)
            return {};
        std::vector<uint8_t> answer(2048);
        int got = recv(s_, reinterpret_cast<char *>(answer.data()), 2048, 0);
        if (got <= 0)
            return {};
        answer.resize(static_cast<size_t>(got));
        return ReadSnmpDatagram(answer);
    }

  private:
    SOCKET s_;
};

class FakePrinterNet : public ::testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        std::string error;
        ASSERT_TRUE(printer_.Start(&error)) << error;
    }
    void TearDown() override {
        printer_.Stop();
        WSACleanup();
    }
    FakePrinter printer_{kAddress};
};

TEST_F(FakePrinterNet, AnswersStatusTestObjectAndEchoes) {
    Client client;
    const uint16_t port = printer_.SnmpPort();
    SnmpRequest status = client.Ask(port, kCommunity, 0xA0, kStatusOid);
    ASSERT_TRUE(status.parsed);
    EXPECT_EQ(status.pduTag, 0xA2);
    EXPECT_EQ(status.requestId, 7);
    EXPECT_EQ(status.valueTag, 0x04);
    EXPECT_EQ(std::string(status.value.begin(), status.value.end()), "17");

    printer_.SetStatus("  -3 busy");
    status = client.Ask(port, kCommunity, 0xA0, kStatusOid);
    EXPECT_EQ(std::string(status.value.begin(), status.value.end()), "  -3 busy");

    SnmpRequest set = client.Ask(port, kCommunity, 0xA3, kTestOid, snmpagent::Int(1));
    EXPECT_EQ(set.valueTag, 0x02);
    EXPECT_EQ(set.value, Bytes{1});
    SnmpRequest get = client.Ask(port, kCommunity, 0xA0, kTestOid);
    EXPECT_EQ(get.value, Bytes{1});
    SnmpRequest next = client.Ask(port, kCommunity, 0xA1, kTestOidParent);
    EXPECT_EQ(next.value, Bytes{1});

    SnmpRequest echo = client.Ask(port, kCommunity, 0xA0, "1.3.6.1.2.1.1.5.0", snmpagent::Str("x"));
    EXPECT_EQ(echo.pduTag, 0xA2);
    EXPECT_EQ(std::string(echo.value.begin(), echo.value.end()), "x");

    std::vector<SnmpRequest> seen = printer_.SnmpRequests();
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[0].oid, kStatusOid);
    EXPECT_EQ(seen[0].community, kCommunity);
    EXPECT_EQ(seen[0].valueTag, 0x05);
    EXPECT_EQ(seen[2].pduTag, 0xA3);
}

TEST_F(FakePrinterNet, SilentAndForeignCommunityGetNoAnswer) {
    Client client;
    EXPECT_FALSE(client.Ask(printer_.SnmpPort(), "public", 0xA0, kStatusOid).parsed);
    printer_.SetSilent(true);
    EXPECT_FALSE(client.Ask(printer_.SnmpPort(), kCommunity, 0xA0, kStatusOid).parsed);
    EXPECT_EQ(printer_.SnmpRequests().size(), 2u);
}

TEST_F(FakePrinterNet, SinkRecordsBytesOnPort9100) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9100);
    to.sin_addr.s_addr = inet_addr(kAddress);
    ASSERT_EQ(connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    ASSERT_EQ(send(s, "%!PS\n", 5, 0), 5);
    EXPECT_TRUE(printer_.Raw().WaitForCount(5, 3000));
    closesocket(s);
    EXPECT_EQ(printer_.Raw().Received(), "%!PS\n");
}

} // namespace

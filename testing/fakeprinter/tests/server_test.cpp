#include "server.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "suite_paths.h"

namespace {

const std::string kUel = "\x1b%-12345X";

class Client {
  public:
    explicit Client(unsigned short port) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
        connected_ = connect(s_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
    }
    ~Client() {
        closesocket(s_);
        WSACleanup();
    }
    bool connected() const { return connected_; }
    void Send(const std::string &bytes) {
        send(s_, bytes.data(), static_cast<int>(bytes.size()), 0);
    }
    // Reads until the reply ends with FF (or EOT LF), the peer closes, or 5 s pass; counts reads.
    std::string ReadReply(int *reads = nullptr) {
        std::string out;
        for (int i = 0; i < 500; ++i) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(s_, &set);
            timeval tv{0, 10000};
            if (select(0, &set, nullptr, nullptr, &tv) <= 0)
                continue;
            char buf[4096];
            int n = recv(s_, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            out.append(buf, static_cast<std::size_t>(n));
            if (reads)
                ++*reads;
            if (out.back() == '\f')
                break;
        }
        return out;
    }
    void Close() { shutdown(s_, SD_SEND); }

  private:
    SOCKET s_;
    bool connected_ = false;
};

} // namespace

TEST(FakePrinterServer, ServesOneJobPerConnectionAndRecordsIt) {
    fakeprinter::Server server;
    const std::string log = "fakeprinter_server_test.log";
    std::remove(log.c_str());
    server.SetLog(log);
    ASSERT_TRUE(server.Start()) << server.error();
    ASSERT_NE(server.Port(), 0);
    {
        Client c(server.Port());
        ASSERT_TRUE(c.connected());
        c.Send(kUel + "@PJL ECHO TEST\r\n");
        EXPECT_EQ(c.ReadReply(), "@PJL ECHO TEST\r\n\f");
        c.Send("@PJL FSDOWNLOAD FORMAT:BINARY SIZE=4 NAME=\"0:\\pcl\\x\"\r\n\x1b\f\r\n" + kUel);
        c.Close();
    }
    ASSERT_TRUE(server.WaitForJobs(1, 5000));
    std::vector<fakeprinter::Job> jobs = server.Jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].received.substr(0, kUel.size()), kUel);
    server.With([](fakeprinter::Engine &e) {
        ASSERT_NE(e.Files().Find("0:\\pcl\\x"), nullptr);
        EXPECT_EQ(*e.Files().Find("0:\\pcl\\x"), "\x1b\f\r\n");
    });
    server.Stop();
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("job 1 ("), std::string::npos);
    EXPECT_NE(text.str().find("@PJL ECHO TEST\\r\\n"), std::string::npos);
}

TEST(FakePrinterServer, SendsRepliesInPiecesWhenAsked) {
    fakeprinter::Server server;
    server.With([](fakeprinter::Engine &e) { e.defaults.pieceSize = 5; });
    ASSERT_TRUE(server.Start()) << server.error();
    Client c(server.Port());
    c.Send(kUel + "@PJL ECHO TEST\r\n");
    int reads = 0;
    EXPECT_EQ(c.ReadReply(&reads), "@PJL ECHO TEST\r\n\f");
    EXPECT_GE(reads, 2);
}

TEST(FakePrinterServer, ClosesInsideAReplyWhenAsked) {
    fakeprinter::Server server;
    server.With([](fakeprinter::Engine &e) { e.defaults.closeInsideReply = true; });
    ASSERT_TRUE(server.Start()) << server.error();
    Client c(server.Port());
    c.Send(kUel + "@PJL ECHO TEST\r\n");
    EXPECT_EQ(c.ReadReply(), "@PJL ECH");
}

TEST(FakePrinterServer, RefusesConnectionsWhenAsked) {
    fakeprinter::Server server;
    server.With([](fakeprinter::Engine &e) { e.defaults.refuseConnections = true; });
    ASSERT_TRUE(server.Start()) << server.error();
    Client c(server.Port());
    EXPECT_FALSE(c.connected());
}

TEST(FakePrinterExe, PrintsItsPortAndServes) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE outRead, outWrite, inRead, inWrite;
    ASSERT_TRUE(CreatePipe(&outRead, &outWrite, &sa, 0));
    ASSERT_TRUE(CreatePipe(&inRead, &inWrite, &sa, 0));
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = outWrite;
    si.hStdInput = inRead;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    char cmd[] = "fakeprinter.exe";
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(
        CreateProcessA(nullptr, cmd, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(outWrite);
    CloseHandle(inRead);
    std::string line;
    char ch;
    DWORD got;
    while (line.size() < 32 && ReadFile(outRead, &ch, 1, &got, nullptr) && got == 1 && ch != '\n')
        line += ch;
    ASSERT_EQ(line.rfind("port ", 0), 0u) << line;
    const unsigned short port = static_cast<unsigned short>(std::stoi(line.substr(5)));
    {
        Client c(port);
        c.Send(kUel + "@PJL ECHO FROM EXE\r\n");
        EXPECT_EQ(c.ReadReply(), "@PJL ECHO FROM EXE\r\n\f");
    }
    DWORD written;
    WriteFile(inWrite, "quit\n", 5, &written, nullptr);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(inWrite);
    CloseHandle(outRead);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

// The SMTP session against the scripted server: transcripts, the DATA as it arrives, reply
// splitting, failures at every step, time-outs and the marfel path with AUTH.
#include <winsock.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "library_folder.h"
#include "mail_error.h"
#include "mail_message.h"
#include "message_text.h"
#include "smtp.h"
#include "smtp_control.h"
#include "suite_paths.h"
#include "suite_test_ca.h"

namespace {

const char *const kKeyPath = "Software\\Dranvel\\Common\\SMTP";

using Record = mailtest::SessionRecord;
using Control = mailtest::SmtpControl;

void WriteSettings(const char *server, DWORD port, DWORD timeout) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    RegSetValueExA(key, "Server", 0, REG_SZ, reinterpret_cast<const BYTE *>(server),
                   static_cast<DWORD>(std::strlen(server) + 1));
    RegSetValueExA(key, "Port", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&port), sizeof port);
    RegSetValueExA(key, "Timeout", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&timeout),
                   sizeof timeout);
    RegCloseKey(key);
}

// A message of `kind` with three To, two CC and the given parts.
std::unique_ptr<CMailMessage> MakeMessage(int kind, const std::vector<std::string> &bodies) {
    auto m = std::make_unique<CMailMessage>(kind);
    m->AddItem("from@sender.test", "Sender", kItemFrom);
    m->AddItem("a@to.test", "Ann", kItemTo);
    m->AddItem("b@to.test", nullptr, kItemTo);
    m->AddItem("c@to.test", "Cy", kItemTo);
    m->AddItem("d@cc.test", "Di", kItemCC);
    m->AddItem("e@cc.test", nullptr, kItemCC);
    m->AddItem("", "Subject line", kItemSubject);
    for (const std::string &body : bodies)
        m->AddBodyString(body.c_str(), kBodyReplace | kBodyMakePart);
    return m;
}

// What the server should have received: the renderer's text with the Date line it got.
std::string Expected(const CMailMessage &m, const std::string &received) {
    const std::size_t at = received.find("Date: ");
    const std::size_t end = received.find("\r\n", at);
    if (at == std::string::npos || end == std::string::npos)
        return "(no Date line)";
    return RenderMessageText(m, received.substr(at, end - at)) + "\r\n";
}

// Sessions that need no server: marfel's folder and the settings key put back after each.
class NoServer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        WSADATA data;
        WSAStartup(MAKEWORD(1, 1), &data);
    }
    static void TearDownTestSuite() { WSACleanup(); }
    void SetUp() override {
        const std::string bin = suite::BinDir();
        quenta::SetLibraryFolderForTesting(std::wstring(bin.begin(), bin.end()).c_str());
    }
    void TearDown() override {
        quenta::SetLibraryFolderForTesting(nullptr);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath);
    }
};

// Sessions against the scripted server; without its control connection each fails.
class Session : public NoServer {
  protected:
    void SetUp() override {
        NoServer::SetUp();
        ASSERT_TRUE(control.ok()) << "no scripted SMTP server: " << control.why();
    }
    // Runs one send against `script` and returns its code.
    int Send(const std::string &script, CMailMessage &m, int options = 0, DWORD timeout = 10,
             const char *server = "127.0.0.1") {
        const int port = control.SetCase(script);
        WriteSettings(server, static_cast<DWORD>(port), timeout);
        smtp.SetAuthOptions(options, "user", "secret");
        const int code = CatchMailError([&] {
            smtp.ConnectServer();
            smtp.SendMailTransaction(&m);
        });
        smtp.CloseServer();
        return code;
    }
    Control control;
    CSMTP smtp;
};

} // namespace

TEST_F(Session, PlainTranscriptAndData) {
    for (bool split : {false, true}) {
        SCOPED_TRACE(split);
        // Only CR LF ends a line: a dot after a form feed is no line's first character.
        auto m = MakeMessage(kCharsetUS, {"first body\r\n.\r\nafter dot\r\nform\f.feed\r\n"});
        ASSERT_EQ(Send(split ? R"({"split": true})" : "{}", *m), 0);
        const Record r = control.Take();
        const std::string local = smtp.GetLocalHostName();
        EXPECT_EQ(r.commands,
                  "HELO " + local +
                      "\r\nMAIL FROM:<from@sender.test>\r\nRCPT TO:<a@to.test>\r\n"
                      "RCPT TO:<b@to.test>\r\nRCPT TO:<c@to.test>\r\nRCPT TO:<d@cc.test>\r\n"
                      "RCPT TO:<e@cc.test>\r\nDATA\r\nQUIT\r\n");
        EXPECT_EQ(r.data, Expected(*m, r.data));
        EXPECT_NE(r.raw.find("\r\n..\r\n"), std::string::npos);
        EXPECT_NE(r.data.find("To: Ann <a@to.test>,\r\n\t<b@to.test>,\r\n\tCy <c@to.test>\r\n"),
                  std::string::npos);
    }
}

TEST_F(Session, DotLinesInEveryCharsetAndMultipart) {
    const std::string body = ".\r\n.leading\r\nplain\r\n..two\r\n";
    for (int kind : {kCharsetUS, kCharsetJP, kCharsetEU}) {
        SCOPED_TRACE(kind);
        // The third part's soft breaks in quoted-printable fall among dots.
        auto m = MakeMessage(kind, {body, "second part " + std::string(90, 'x') + "\r\n.end\r\n",
                                    std::string(200, '.') + "\r\n"});
        ASSERT_EQ(Send(R"({"split": true})", *m), 0);
        const Record r = control.Take();
        EXPECT_EQ(r.data, Expected(*m, r.data));
        EXPECT_NE(r.data.find("MIME-Version:1.0\r\n"), std::string::npos);
        // Every line of the raw DATA that begins with "." carries the extra one.
        int stuffed = 0;
        for (std::size_t at = 0; (at = r.raw.find("\r\n.", at)) != std::string::npos;
             at += 3, ++stuffed)
            EXPECT_EQ(r.raw.compare(at + 2, 2, ".."), 0) << r.raw.substr(at, 20);
        EXPECT_GE(stuffed, 3);
        if (kind == kCharsetEU) {
            EXPECT_NE(r.raw.find("=\r\n.."), std::string::npos) << "no dot line after a soft break";
        }
    }
}

TEST_F(Session, FailuresAtEachStep) {
    struct Case {
        const char *script;
        int code;
    };
    const Case cases[] = {
        {R"({"greeting": "554 go away"})", kMailRejected},
        {R"({"HELO": "501 no"})", kMailRejected},
        {R"({"MAIL": "550 no"})", kMailRejected},
        {R"({"RCPT": ["250-wait", "550 no"]})", kMailRejected},
        {R"({"DATA": "451 later"})", kMailRejected},
        {R"({"END": "552 too big"})", kMailRejected},
        {R"({"greeting": "garbage"})", kMailRejected},
        {R"({"close": "greeting"})", kMailRejected},
        {R"({"close": "RCPT"})", kMailRejected},
        // The message was accepted: QUIT's fate does not matter.
        {R"({"QUIT": "500 what"})", 0},
        {R"({"close": "QUIT"})", 0},
    };
    for (const Case &c : cases) {
        auto m = MakeMessage(kCharsetUS, {"body\r\n"});
        EXPECT_EQ(Send(c.script, *m), c.code) << c.script;
        control.Take();
    }
}

TEST_F(Session, SilenceTimesOut) {
    // A greeting of 300 lines 20 ms apart keeps data flowing for six seconds: the whole reply
    // must come within the two-second Timeout, not each piece of it.
    std::string trickle = R"({"split": true, "greeting": [)";
    for (int i = 0; i < 300; ++i)
        trickle += R"("220-wait", )";
    trickle += R"("220 ready"]})";
    for (const std::string &script : {std::string(R"({"silent": "greeting"})"), trickle})
        for (int options : {0, 0x2}) {
            SCOPED_TRACE(script.substr(0, 40) + " options " + std::to_string(options));
            auto m = MakeMessage(kCharsetUS, {"body\r\n"});
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(Send(script, *m, options, 2), options ? kMailRejected : kMailTimeout);
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                std::chrono::steady_clock::now() - start);
            EXPECT_LT(seconds.count(), 30);
            control.Take();
        }
}

TEST_F(Session, SettingsAndMessageRefusals) {
    auto m = MakeMessage(kCharsetUS, {"body\r\n"});
    // A port nobody listens on: bind one, learn it, close it.
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr *>(&address), &length);
    closesocket(s);
    struct Case {
        const char *server;
        DWORD port;
        int code;
    };
    const Case cases[] = {
        {"127.0.0.1", ntohs(address.sin_port), kMailConnect},
        {"", 25, kMailServerNotFound},
        {"127.0.0.1", 0, kMailConnect},
        {"127.0.0.1", 65536, kMailConnect},
    };
    for (int options : {0, 0x2})
        for (const Case &c : cases) {
            WriteSettings(c.server, c.port, 5);
            smtp.SetAuthOptions(options, nullptr, nullptr);
            const int code = CatchMailError([&] { smtp.ConnectServer(); });
            smtp.CloseServer();
            const int expected = options && c.code == kMailConnect && c.port > 0 && c.port < 65536
                                     ? kMailSocket
                                     : c.code;
            EXPECT_EQ(code, expected) << c.server << ":" << c.port << " options " << options;
        }
    // Messages missing a From, a To or a part.
    CMailMessage noFrom(kCharsetUS), noTo(kCharsetUS), noPart(kCharsetUS);
    noFrom.AddItem("a@to.test", nullptr, kItemTo);
    noFrom.AddBodyString("x", kBodyReplace | kBodyMakePart);
    noTo.AddItem("f@x.test", nullptr, kItemFrom);
    noTo.AddBodyString("x", kBodyReplace | kBodyMakePart);
    noPart.AddItem("f@x.test", nullptr, kItemFrom);
    noPart.AddItem("a@to.test", nullptr, kItemTo);
    for (CMailMessage *bad : {&noFrom, &noTo, &noPart})
        EXPECT_EQ(CatchMailError([&] { smtp.SendMailTransaction(bad); }), kMailIncomplete);
}

TEST_F(Session, MarfelPathWithAuth) {
    struct Case {
        int options;
        std::string script;
        int code;
        const char *auth;
    };
    const Case cases[] = {
        {0x1, R"({"EHLO": ["250-x", "250 AUTH PLAIN LOGIN"], "split": true})", 0, "AUTH LOGIN"},
        {0x2, R"({"EHLO": ["250-x", "250 AUTH PLAIN LOGIN"], "split": true})", 0, "AUTH PLAIN"},
        {0x4, R"({"EHLO": ["250-x", "250 AUTH CRAM-MD5 LOGIN"]})", 0, "AUTH CRAM-MD5"},
        {0x5, R"({"EHLO": ["250-x", "250 AUTH LOGIN"]})", 0, "AUTH LOGIN"},
        {0x4,
         R"({"EHLO": ["250-x", "250 AUTH CRAM-MD5"], "challenge": ")" + std::string(100, 'c') +
             R"("})",
         0, "AUTH CRAM-MD5"},
        {0x2, R"({"EHLO": ["250-x", "250 AUTH PLAIN"], "secret": ["user", "other"]})",
         kMailRejected, "AUTH PLAIN"},
        {0x4, R"({"EHLO": ["250-x", "250 AUTH CRAM-MD5"], "secret": ["user", "other"]})",
         kMailRejected, "AUTH CRAM-MD5"},
        {0x4, R"({"EHLO": ["250-x", "250 AUTH CRAM-MD5"], "AUTH": "334"})", kMailRejected,
         "AUTH CRAM-MD5"},
        {0x3, R"({"EHLO": ["250-x", "250 AUTH PLAIN"]})", kMailAuthNotSupported, nullptr},
        {0x2, R"({"EHLO": ["250-x", "250 HELP"]})", kMailAuthNotSupported, nullptr},
        {0x10, R"({"EHLO": ["250-x", "250 HELP"]})", kMailAuthNotSupported, nullptr},
        {0x2, R"({"EHLO": "550 no"})", kMailRejected, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script);
        auto m = MakeMessage(kCharsetEU, {".\r\nbody\r\n", "part two\r\n"});
        EXPECT_EQ(Send(c.script, *m, c.options), c.code);
        const Record r = control.Take();
        EXPECT_EQ(r.commands.rfind("EHLO ", 0), 0u) << r.commands;
        if (c.auth) {
            EXPECT_NE(r.commands.find(std::string(c.auth) + "\r\n"), std::string::npos)
                << r.commands;
        }
        if (c.code == 0) {
            EXPECT_EQ(r.data, Expected(*m, r.data)) << r.commands;
        }
    }
    // The same object sends twice.
    for (int i = 0; i < 2; ++i) {
        auto m = MakeMessage(kCharsetUS, {"again\r\n"});
        EXPECT_EQ(Send(R"({"EHLO": ["250-x", "250 AUTH LOGIN"], "split": true})", *m, 0x1), 0);
        control.Take();
    }
}

TEST_F(Session, ProbeReadsTheOptions) {
    const int port = control.SetCase(
        R"({"EHLO": ["250-x", "250-SIZE 100", "250-AUTH PLAIN LOGIN", "250 HELP"], "split": true})");
    WriteSettings("127.0.0.1", static_cast<DWORD>(port), 10);
    int bits = -1;
    EXPECT_EQ(CatchMailError([&] { bits = smtp.ProbeServerOptions(); }), 0);
    EXPECT_EQ(bits, 0x3009);
    const Record r = control.Take();
    EXPECT_NE(r.commands.find("QUIT\r\n"), std::string::npos);
}

TEST_F(NoServer, MarfelAbsentGivesSocketFailure) {
    const std::string empty = suite::TestDataDir() + "\\quenta_smtp_nomarfel";
    const std::string decoy = suite::TestDataDir() + "\\quenta_smtp_decoy";
    CreateDirectoryA(empty.c_str(), nullptr);
    CreateDirectoryA(decoy.c_str(), nullptr);
    CopyFileA(suite::BinPath("marfel.dll").c_str(), (decoy + "\\marfel.dll").c_str(), FALSE);
    // A marfel in the current folder is no substitute for one beside quenta.
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(decoy.c_str());
    quenta::SetLibraryFolderForTesting(std::wstring(empty.begin(), empty.end()).c_str());
    CSMTP bare;
    WriteSettings("127.0.0.1", 25, 5);
    bare.SetAuthOptions(0x2, "u", "p");
    EXPECT_EQ(CatchMailError([&] { bare.ConnectServer(); }), kMailSocket);
    EXPECT_EQ(CatchMailError([&] { bare.ProbeServerOptions(); }), kMailSocket);
    bare.CloseServer();
    EXPECT_EQ(GetModuleHandleA((decoy + "\\marfel.dll").c_str()), nullptr);
    SetCurrentDirectoryA(previous);
}

TEST_F(Session, StartTlsAndTlsFromTheConnect) {
    ASSERT_TRUE(suite::InstallTestCa("QUENTA_SMTP_CA"))
        << "the test CA did not go into the Root store";
    const std::string offer =
        R"("EHLO": ["250-x", "250-STARTTLS", "250 AUTH LOGIN PLAIN CRAM-MD5"])";
    struct Case {
        int options;
        std::string script;
        int code;
        const char *commands;
    };
    const Case cases[] = {
        {0x10, "{" + offer + R"(, "split": true})", 0, "STARTTLS\r\nEHLO "},
        {0x11, "{" + offer + "}", 0, "STARTTLS\r\nEHLO %\r\nAUTH LOGIN\r\n"},
        {0x12, "{" + offer + R"(, "split": true})", 0, "STARTTLS\r\nEHLO %\r\nAUTH PLAIN\r\n"},
        {0x14, "{" + offer + "}", 0, "STARTTLS\r\nEHLO %\r\nAUTH CRAM-MD5\r\n"},
        // Bytes that came with the 220 reply, before the handshake, are not taken as a reply.
        {0x10, "{" + offer + R"(, "STARTTLS": ["220 go ahead", "250 stray"]})", 0,
         "STARTTLS\r\nEHLO "},
        {0x20, "{" + offer + R"(, "tls": "implicit", "split": true})", 0, "MAIL FROM:"},
        {0x24, "{" + offer + R"(, "tls": "implicit"})", 0, "AUTH CRAM-MD5\r\n"},
        {0x22, "{" + offer + R"(, "tls": "implicit", "split": true})", 0, "AUTH PLAIN\r\n"},
        {0x10, "{" + offer + R"(, "cert": "wrongname"})", kMailAuthNotSupported, "STARTTLS\r\n"},
        {0x10, "{" + offer + R"(, "cert": "selfsigned"})", kMailAuthNotSupported, "STARTTLS\r\n"},
        {0x20, "{" + offer + R"(, "tls": "implicit", "cert": "wrongname"})", kMailSocket, ""},
        {0x10, R"({"EHLO": ["250-x", "250 HELP"]})", kMailAuthNotSupported, "EHLO "},
        {0x10, "{" + offer + R"(, "STARTTLS": "454 not now"})", kMailRejected, "STARTTLS\r\n"},
        {0x12, "{" + offer + R"(, "secret": ["user", "other"]})", kMailRejected, "AUTH PLAIN\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script);
        auto m = MakeMessage(kCharsetJP, {".\r\nbody\r\n", "part two\r\n.\r\n"});
        EXPECT_EQ(Send(c.script, *m, c.options, 10, "localhost"), c.code);
        const Record r = control.Take();
        std::string commands = c.commands;
        if (const std::size_t at = commands.find('%'); at != std::string::npos)
            commands.replace(at, 1, smtp.GetLocalHostName());
        if (commands.empty()) // refused before any command: none may reach the server
            EXPECT_EQ(r.commands, "");
        else
            EXPECT_NE(r.commands.find(commands), std::string::npos) << r.commands;
        if (c.code == 0) {
            EXPECT_EQ(r.data, Expected(*m, r.data)) << r.commands;
            EXPECT_NE(r.raw.find("\r\n..\r\n"), std::string::npos);
        }
    }
}

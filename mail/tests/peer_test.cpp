// The SMTP session against real peers (aiosmtpd and a private exim4, see testing/smtppeers):
// STARTTLS and TLS from the connect with each mechanism, refusals, the probe on exim's real
// EHLO reply, and every message as the peer holds it. Each message received is also written
// with its manifest for check_peer_mime.py.
#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "library_folder.h"
#include "mail_error.h"
#include "mail_message.h"
#include "message_text.h"
#include "mime_manifest.h"
#include "smtp.h"
#include "suite_paths.h"
#include "suite_test_ca.h"

namespace {

const char *const kKeyPath = "Software\\Dranvel\\Common\\SMTP";

std::string Env(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, const std::string &bytes, bool append = false) {
    std::ofstream out(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    out << bytes;
}

void WriteSettings(int port) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    const char server[] = "localhost";
    const DWORD values[] = {static_cast<DWORD>(port), 10};
    RegSetValueExA(key, "Server", 0, REG_SZ, reinterpret_cast<const BYTE *>(server), sizeof server);
    RegSetValueExA(key, "Port", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&values[0]),
                   sizeof(DWORD));
    RegSetValueExA(key, "Timeout", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&values[1]),
                   sizeof(DWORD));
    RegCloseKey(key);
}

struct Item {
    int kind;
    std::string address, name;
};

// A message and what the checker needs to know of it.
struct Sample {
    int charset;
    std::vector<Item> items;
    std::vector<std::string> bodies;
};

const std::string kJpName = "\x8e\x52\x93\x63\x20\x91\xbe\x98\x59";
const std::string kJpBody =
    "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\n.\r\n.x \x8a\xbf\x8e\x9a\r\n..two\r\nend\r\n";
// Every soft break of the quoted-printable lines falls among dots.
const std::string kEuBody = "caf\xe9\r\n.\r\n" + std::string(200, '.') + "\r\n.\xe9t\xe9\r\n";

Sample MakeSample(int charset, const std::string &from) {
    Sample s{charset,
             {{kItemFrom, from + "@sender.test", "Sender"},
              {kItemTo, "a@to.test", "Ann"},
              {kItemTo, "b@to.test", ""},
              {kItemCC, "c@cc.test", "Cy"}},
             {}};
    if (charset == kCharsetJP) {
        s.items.push_back({kItemSubject, "", kJpName + " report"});
        s.bodies = {kJpBody, "\x82\xa0\r\n.\r\n"};
    } else if (charset == kCharsetEU) {
        s.items.push_back({kItemSubject, "", "R\xe9sum\xe9"});
        s.bodies = {kEuBody};
    } else {
        s.items.push_back({kItemSubject, "", "Status"});
        s.bodies = {".\r\nfirst\r\n", "second\r\n.x\r\n", "third\r\n"};
    }
    return s;
}

std::unique_ptr<CMailMessage> Build(const Sample &s) {
    auto m = std::make_unique<CMailMessage>(s.charset);
    for (const Item &item : s.items)
        m->AddItem(item.address.c_str(), item.name.c_str(), item.kind);
    for (const std::string &body : s.bodies)
        m->AddBodyString(body.c_str(), kBodyReplace | kBodyMakePart);
    return m;
}

struct Case {
    const char *name; // local part of the sender, and the received file's name
    const char *port;
    int options;
    int charset;
    int code;
};

void RemoveOld(const char *folderVariable, const char *name) {
    DeleteFileA((Env(folderVariable) + "\\" + name + ".eml").c_str());
}

class Peers : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        WSADATA data;
        WSAStartup(MAKEWORD(1, 1), &data);
        CreateDirectoryA(CheckFolder().c_str(), nullptr);
        WriteFile(CheckFolder() + "\\messages.list", "");
    }
    static void TearDownTestSuite() { WSACleanup(); }
    static std::string CheckFolder() { return suite::TestDataDir() + "\\quenta_peer_mime"; }

    void SetUp() override {
        const std::string bin = suite::BinDir();
        quenta::SetLibraryFolderForTesting(std::wstring(bin.begin(), bin.end()).c_str());
        ASSERT_TRUE(suite::InstallTestCa("SMTP_PEER_CA"))
            << "the test CA did not go into the Root store";
    }
    void TearDown() override {
        quenta::SetLibraryFolderForTesting(nullptr);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath);
    }

    int Send(const char *portVariable, int options, CMailMessage &m,
             const char *password = nullptr) {
        const int port = std::atoi(Env(portVariable).c_str());
        if (port <= 0)
            return -1;
        WriteSettings(port);
        CSMTP smtp;
        const std::string secret = password ? password : Env("SMTP_PEER_PASSWORD");
        smtp.SetAuthOptions(options, Env("SMTP_PEER_USER").c_str(), secret.c_str());
        const int code = CatchMailError([&] {
            smtp.ConnectServer();
            smtp.SendMailTransaction(&m);
        });
        smtp.CloseServer();
        return code;
    }

    // Waits a bounded time for the peer to hold the message from `from`@sender.test, checks
    // it against the renderer and leaves it for the MIME checker.
    void CheckReceived(const char *folderVariable, const std::string &from, const Sample &sample,
                       const CMailMessage &m) {
        const std::string path = Env(folderVariable) + "\\" + from + ".eml";
        std::string received;
        for (int i = 0; i < 150 && received.empty(); ++i) {
            if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
                received = ReadFile(path);
            if (received.empty())
                Sleep(100);
        }
        ASSERT_FALSE(received.empty()) << "the peer holds no message from " << from;
        const std::size_t at = received.find("Date: ");
        const std::size_t end = received.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << received.substr(0, 400);
        const std::string text = RenderMessageText(m, received.substr(at, end - at));
        // The empty line before the end mark ends the data.
        EXPECT_EQ(received, text + "\r\n");

        const std::string folder = CheckFolder();
        std::string manifest = mailtest::ManifestCharset(sample.charset);
        for (const Item &item : sample.items)
            manifest += mailtest::ManifestItem(item.kind, item.address, item.name);
        for (std::size_t i = 0; i < sample.bodies.size(); ++i) {
            const std::string source = from + "_part" + std::to_string(i) + ".src";
            WriteFile(folder + "\\" + source, sample.bodies[i]);
            manifest += "text\tstring\t" + source + "\n";
        }
        WriteFile(folder + "\\" + from + ".eml", received.substr(0, received.size() - 2));
        WriteFile(folder + "\\" + from + ".manifest", manifest);
        WriteFile(folder + "\\messages.list", from + "\n", true);
    }

    // Sends each case's message; those that should arrive are checked in the folder that
    // `folderVariable` names.
    void SendCases(const char *folderVariable, std::span<const Case> cases) {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            RemoveOld(folderVariable, c.name);
            const Sample sample = MakeSample(c.charset, c.name);
            auto m = Build(sample);
            ASSERT_EQ(Send(c.port, c.options, *m), c.code);
            if (c.code == 0)
                CheckReceived(folderVariable, c.name, sample, *m);
        }
    }
};

} // namespace

TEST_F(Peers, Aiosmtpd) {
    const Case cases[] = {
        {"a_starttls_login", "SMTP_AIOSMTPD_STARTTLS", 0x11, kCharsetJP, 0},
        {"a_starttls_plain", "SMTP_AIOSMTPD_STARTTLS", 0x12, kCharsetEU, 0},
        {"a_starttls_cram", "SMTP_AIOSMTPD_STARTTLS", 0x14, kCharsetUS, 0},
        {"a_implicit_cram", "SMTP_AIOSMTPD_IMPLICIT", 0x24, kCharsetEU, 0},
        {"a_helo", "SMTP_AIOSMTPD_STARTTLS", 0, kCharsetJP, 0},
        {"a_tlsonly_starttls", "SMTP_AIOSMTPD_TLSONLYAUTH", 0x12, kCharsetUS, 0},
        // AUTH is offered only once the stream is encrypted.
        {"a_tlsonly_noauth", "SMTP_AIOSMTPD_TLSONLYAUTH", 0x1, kCharsetUS, kMailAuthNotSupported},
        {"a_wrongname", "SMTP_AIOSMTPD_WRONGNAME", 0x10, kCharsetUS, kMailAuthNotSupported},
        {"a_implicit_wrongname", "SMTP_AIOSMTPD_IMPLICIT_WRONGNAME", 0x20, kCharsetUS, kMailSocket},
    };
    ASSERT_NO_FATAL_FAILURE(SendCases("SMTP_AIOSMTPD_RECEIVED", cases));
    // A wrong password: the peer's 535.
    for (int options : {0x11, 0x12, 0x14}) {
        auto m = Build(MakeSample(kCharsetUS, "a_wrong_password"));
        EXPECT_EQ(Send("SMTP_AIOSMTPD_STARTTLS", options, *m, "not the secret"), kMailRejected)
            << options;
    }
}

TEST_F(Peers, Exim4) {
    const Case cases[] = {
        {"e_starttls_cram", "SMTP_EXIM4_PORT", 0x14, kCharsetJP, 0},
        {"e_implicit_plain", "SMTP_EXIM4_TLS_PORT", 0x22, kCharsetEU, 0},
        {"e_starttls_login", "SMTP_EXIM4_PORT", 0x11, kCharsetUS, 0},
    };
    ASSERT_NO_FATAL_FAILURE(SendCases("SMTP_EXIM4_RECEIVED", cases));
    auto m = Build(MakeSample(kCharsetUS, "e_wrong_password"));
    EXPECT_EQ(Send("SMTP_EXIM4_PORT", 0x14, *m, "not the secret"), kMailRejected);
}

TEST_F(Peers, ProbeOnExim) {
    WriteSettings(std::atoi(Env("SMTP_EXIM4_PORT").c_str()));
    CSMTP smtp;
    int bits = -1;
    ASSERT_EQ(CatchMailError([&] { bits = smtp.ProbeServerOptions(); }), 0);
    // SIZE, 8BITMIME, STARTTLS, AUTH with PLAIN LOGIN CRAM-MD5; PIPELINING, CHUNKING and the
    // like set nothing.
    EXPECT_EQ(bits, 0x1 | 0x2 | 0x4 | 0x8 | 0x1000 | 0x2000 | 0x4000);
}

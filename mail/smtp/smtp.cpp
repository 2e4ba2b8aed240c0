#include "smtp.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>

#include "library_folder.h"
#include "mail_error.h"
#include "message_text.h"
#include "windows_version.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kCommandBuffer = 1024;
constexpr int kPlainReceive = 1024;
// The DATA lines go out in writes of at least this many bytes (and the rest at the end).
constexpr std::size_t kDataBatch = 64 * 1024;

template <typename Fn> Fn ProcAs(HMODULE module, const char *name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

void FreeHeap(void *buffer) {
    if (buffer)
        HeapFree(GetProcessHeap(), 0, buffer);
}

void CopyCut(char *to, const char *from) {
    std::strncpy(to, from, 259);
    to[259] = '\0';
}

void CheckVersion() {
    quenta::WindowsVersion version;
    if (!quenta::ReadWindowsVersion(version) || version.IsNt4OrWin95())
        ThrowMailError(kMailDependentDll);
}

} // namespace

CSMTP::CSMTP() {
    std::memset(m_user, 0, sizeof m_user);
    std::memset(m_password, 0, sizeof m_password);
}

CSMTP::~CSMTP() {
    CloseServer();
}

void CSMTP::SetAuthOptions(int options, const char *user, const char *password) {
    m_options = (options & ~kSmtpEncrypted) | (m_options & kSmtpEncrypted);
    if (user)
        CopyCut(m_user, user);
    if (password)
        CopyCut(m_password, password);
}

void CSMTP::ReadSettings() {
    m_server = GetServer();
    m_timeout = GetTimeout();
    m_port = GetPort();
    // Nothing is looked up for an empty name, and a port outside 1 to 65535 reaches no server.
    if (m_server.empty())
        ThrowMailError(kMailServerNotFound);
    if (m_port < 1 || m_port > 65535)
        ThrowMailError(kMailConnect);
}

void CSMTP::ReadLocalHostName() {
    char name[128] = {};
    if (gethostname(name, sizeof name) != 0)
        ThrowMailError(kMailLocalHostName);
    name[sizeof name - 1] = '\0';
    m_localHost = name;
}

void CSMTP::LoadSslLibrary() {
    m_sslModule.reset(quenta::LoadCompanionLibrary(L"marfel.dll"));
    if (!m_sslModule)
        ThrowMailError(kMailSocket);
    auto init = ProcAs<InitSslLibraryFn>(m_sslModule.get(), "InitSslLibrary");
    if (!init || init(m_sslModule.get(), &m_ssl) != 0) {
        m_sslModule.reset();
        m_ssl = SslLibraryTable{};
        ThrowMailError(kMailSocket);
    }
}

void CSMTP::ConnectServer() {
    ReadSettings();
    m_reader.Clear();
    if (MarfelPath()) {
        CheckVersion();
        LoadSslLibrary();
        m_connection = (m_options & kSmtpImplicitTls)
                           ? m_ssl.SslOpenSSLSocket(m_server.c_str(), m_port, nullptr)
                           : m_ssl.SslOpenSocket(m_server.c_str(), m_port);
        if (!m_connection) {
            m_sslModule.reset();
            m_ssl = SslLibraryTable{};
            ThrowMailError(kMailSocket);
        }
        if (m_options & kSmtpImplicitTls)
            m_options |= kSmtpEncrypted;
        if (ReadReply() != kMailOk || m_reader.Code() != 220)
            ThrowMailError(kMailRejected);
        m_reader.TakeReply();
    } else {
        const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET)
            ThrowMailError(kMailSocket);
        m_socket.reset(s);
        const hostent *host = gethostbyname(m_server.c_str());
        if (!host || host->h_addrtype != AF_INET || !host->h_addr_list || !host->h_addr_list[0])
            ThrowMailError(kMailServerNotFound);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(m_port));
        std::memcpy(&address.sin_addr, host->h_addr_list[0], sizeof address.sin_addr);
        if (connect(m_socket.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) ==
            SOCKET_ERROR)
            ThrowMailError(kMailConnect);
        ExpectReply(220);
    }
    ReadLocalHostName();
}

MailErrorCode CSMTP::ReadReply() {
    m_reply.clear();
    const auto deadline = Clock::now() + std::chrono::seconds(m_timeout > 0 ? m_timeout : 0);
    const MailErrorCode timedOut = MarfelPath() ? kMailRejected : kMailTimeout;
    for (;;) {
        const auto status = m_reader.Poll();
        if (status == CSmtpReplyReader::Status::kComplete) {
            m_reply = m_reader.Text();
            return kMailOk;
        }
        if (status == CSmtpReplyReader::Status::kMalformed)
            return kMailRejected;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return timedOut;
        if (MarfelPath()) {
            const bool encrypted = (m_options & kSmtpEncrypted) != 0;
            auto receive = encrypted ? m_ssl.SslReceiveSSLDataStream : m_ssl.SslReceiveDataStream;
            if (!receive || !m_connection)
                return kMailRejected;
            int length = 0;
            void *data = receive(m_connection, static_cast<int>((left + 999) / 1000), &length, 2);
            if (!data)
                return kMailRejected;
            std::unique_ptr<void, void (*)(void *)> held(data, &FreeHeap);
            if (length <= 0)
                return kMailRejected; // the server closed the connection
            m_reader.Feed(static_cast<const char *>(data), static_cast<std::size_t>(length));
        } else {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(m_socket.get(), &readable);
            timeval wait{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
            const int ready = select(0, &readable, nullptr, nullptr, &wait);
            if (ready == SOCKET_ERROR || ready == 0)
                return kMailTimeout;
            char buffer[kPlainReceive];
            const int n = recv(m_socket.get(), buffer, sizeof buffer, 0);
            if (n == SOCKET_ERROR)
                return kMailTimeout;
            if (n == 0)
                return kMailRejected;
            m_reader.Feed(buffer, static_cast<std::size_t>(n));
        }
    }
}

void CSMTP::ExpectReply(int code) {
    const MailErrorCode failure = ReadReply();
    if (failure != kMailOk)
        ThrowMailError(failure);
    const int got = m_reader.Code();
    m_reader.TakeReply();
    if (got != code)
        ThrowMailError(kMailRejected);
}

void CSMTP::SendRaw(std::string_view bytes) {
    if (MarfelPath()) {
        const bool encrypted = (m_options & kSmtpEncrypted) != 0;
        auto send = encrypted ? m_ssl.SslSendSSLDataStream : m_ssl.SslSendDataStream;
        if (!send || !m_connection)
            ThrowMailError(kMailNotSent);
        int length = static_cast<int>(bytes.size());
        if (send(m_connection, bytes.data(), &length) != 0 ||
            length != static_cast<int>(bytes.size()))
            ThrowMailError(kMailNotSent);
        return;
    }
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int n =
            send(m_socket.get(), bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n == SOCKET_ERROR || n <= 0)
            ThrowMailError(kMailNotSent);
        sent += static_cast<std::size_t>(n);
    }
}

void CSMTP::SendLines(std::string_view block) {
    for (std::string_view line : SplitCrlfLines(block))
        SendRaw(line);
}

void CSMTP::SendData(const CMailMessage &message, std::string_view dateLine) {
    CDataBatcher batcher(kDataBatch, [this](std::string_view batch) { SendRaw(batch); });
    ForEachMessagePiece(message, dateLine,
                        [&batcher](std::string_view piece) { batcher.Put(piece); });
    batcher.Finish();
}

int CSMTP::SendSecureLine(const char *format, const char *argument) {
    if (!m_ssl.SslSendSSLDataStream)
        return kMailNotSent;
    std::string command = format;
    if (argument) {
        const std::size_t at = command.find("%s");
        if (at != std::string::npos)
            command.replace(at, 2, argument);
    }
    if (command.size() >= kCommandBuffer)
        return kMailNotSent;
    return CatchMailError([&] { SendRaw(command); });
}

void CSMTP::SendCommand(const char *format, const char *argument, int code) {
    if (const int failure = SendSecureLine(format, argument))
        ThrowMailError(static_cast<MailErrorCode>(failure));
    if (ReadReply() != kMailOk)
        ThrowMailError(kMailRejected);
    const int got = m_reader.Code();
    m_reader.TakeReply();
    if (got != code)
        ThrowMailError(kMailRejected);
}

void CSMTP::GreetSecure() {
    CheckVersion();
    SendCommand("EHLO %s\r\n", m_localHost.c_str(), 250);
    std::string ehlo = m_reply;
    if (m_options & kSmtpStartTls) {
        if (!OffersStartTls(ehlo))
            ThrowMailError(kMailAuthNotSupported);
        SendCommand("STARTTLS\r\n", nullptr, 220);
        // Bytes that came with the reply were not encrypted: none of them is taken.
        m_reader.Clear();
        if (!m_ssl.SslStartTls || m_ssl.SslStartTls(m_connection, m_server.c_str(), nullptr) != 0)
            ThrowMailError(kMailAuthNotSupported);
        m_options |= kSmtpEncrypted;
        SendCommand("EHLO %s\r\n", m_localHost.c_str(), 250);
        ehlo = m_reply;
    }
    if (m_options & kSmtpAuthAny) {
        AuthMechanism mechanism = AuthMechanism::kPlain;
        if (!ChooseAuthMechanism(m_options, ehlo, mechanism))
            ThrowMailError(kMailAuthNotSupported);
        Authenticate(mechanism);
    }
}

void CSMTP::Authenticate(AuthMechanism mechanism) {
    static const char *const kCommands[] = {"AUTH CRAM-MD5\r\n", "AUTH LOGIN\r\n",
                                            "AUTH PLAIN\r\n"};
    SendCommand(kCommands[static_cast<int>(mechanism)], nullptr, 334);
    const std::string challenge = CramChallenge(m_reply);

    const win::Module digestModule(quenta::LoadCompanionLibrary(L"marfel.dll"));
    if (!digestModule)
        ThrowMailError(kMailRejected);
    MsgDigestLibraryTable digest{};
    auto init = ProcAs<InitMsgDigestLibraryFn>(digestModule.get(), "InitMsgDigestLibrary");
    if (!init || init(digestModule.get(), &digest) != 0)
        ThrowMailError(kMailRejected);

    // Turns a binary result into text; null stays a failure.
    auto asText = [&](void *binary, int length) -> std::string {
        if (!binary || length < 0) {
            FreeHeap(binary);
            ThrowMailError(kMailRejected);
        }
        // The conversion frees its input only when it succeeds.
        void *text = digest.MdBinaryHeapToStringHeap(binary, static_cast<unsigned>(length));
        if (!text) {
            FreeHeap(binary);
            ThrowMailError(kMailRejected);
        }
        std::string out(static_cast<const char *>(text));
        FreeHeap(text);
        return out;
    };
    auto base64 = [&](const char *text) {
        unsigned length = static_cast<unsigned>(std::strlen(text));
        void *encoded = digest.MdBase64EncodeText(text, &length);
        return asText(encoded, static_cast<int>(length));
    };

    // The length is read only after the call that sets it.
    std::string response;
    int length = 0;
    if (mechanism == AuthMechanism::kCramMd5) {
        void *binary = digest.MdHashCramMD5(m_user, m_password, challenge.c_str(), &length);
        response = asText(binary, length);
    } else if (mechanism == AuthMechanism::kLogin) {
        SendCommand("%s\r\n", base64(m_user).c_str(), 334);
        response = base64(m_password);
    } else {
        void *binary = digest.MdHashPlain(m_user, m_password, &length);
        response = asText(binary, length);
    }
    SendCommand("%s\r\n", response.c_str(), 235);
}

void CSMTP::MakeDateLine(std::string &out) {
    const std::time_t now = std::time(nullptr);
    std::tm local{}, utc{};
    const std::tm *l = std::localtime(&now);
    if (!l)
        ThrowMailError(kMailDateLine);
    local = *l;
    const std::tm *u = std::gmtime(&now);
    if (!u)
        ThrowMailError(kMailDateLine);
    utc = *u;
    if (!FormatDateLine(local, UtcOffsetMinutes(local, utc), out))
        ThrowMailError(kMailDateLine);
}

void CSMTP::SendMailTransaction(CMailMessage *message) {
    if (!message || message->Parts().empty() || message->ToList().empty() || !message->From())
        ThrowMailError(kMailIncomplete);
    if (MarfelPath()) {
        GreetSecure();
    } else {
        SendLines("HELO " + m_localHost + "\r\n");
        ExpectReply(250);
    }
    auto envelope = [&](const CHeaderItem &item) {
        std::string command;
        item.GetEnvelopeCommand(command);
        SendLines(command + "\r\n");
        ExpectReply(250);
    };
    envelope(*message->From());
    for (const auto &to : message->ToList())
        envelope(*to);
    for (const auto &cc : message->CcList())
        envelope(*cc);
    SendLines("DATA\r\n");
    ExpectReply(354);

    std::string dateLine;
    MakeDateLine(dateLine);
    SendData(*message, dateLine);
    ExpectReply(250);
    // The message is delivered now: a failed QUIT must not make the caller send it again.
    CatchMailError([&] {
        SendLines("QUIT\r\n");
        ExpectReply(221);
    });
}

int CSMTP::ProbeServerOptions() {
    ReadSettings();
    ReadLocalHostName();
    CheckVersion();
    const int savedOptions = m_options;
    // The probe runs on marfel's plain stream, whatever the options say.
    m_options = kSmtpMarfelPath & ~kSmtpImplicitTls & ~kSmtpStartTls;
    struct Restore {
        CSMTP *self;
        int options;
        ~Restore() {
            self->CloseServer();
            self->m_options = options;
        }
    } restore{this, savedOptions};
    m_reader.Clear();
    LoadSslLibrary();
    m_connection = m_ssl.SslOpenSocket(m_server.c_str(), m_port);
    if (!m_connection)
        ThrowMailError(kMailSocket);
    if (ReadReply() != kMailOk || m_reader.Code() != 220)
        ThrowMailError(kMailRejected);
    m_reader.TakeReply();
    if (const int failure = SendSecureLine("EHLO %s\r\n", m_localHost.c_str()))
        ThrowMailError(static_cast<MailErrorCode>(failure));
    if (ReadReply() != kMailOk)
        ThrowMailError(kMailRejected);
    const int code = m_reader.Code();
    const std::string ehlo = m_reply;
    m_reader.TakeReply();
    if (code != 250) {
        if (SendSecureLine("QUIT\r\n", nullptr) == 0)
            ReadReply();
        ThrowMailError(kMailRejected);
    }
    const int bits = ParseServerOptions(ehlo);
    if (SendSecureLine("QUIT\r\n", nullptr) == 0)
        ReadReply();
    return bits;
}

void CSMTP::CloseServer() {
    m_socket.reset();
    if (m_connection && m_ssl.SslCloseSocket)
        m_ssl.SslCloseSocket(m_connection);
    m_connection = nullptr;
    m_sslModule.reset();
    m_ssl = SslLibraryTable{};
    m_options &= ~kSmtpEncrypted;
    m_reader.Clear();
}

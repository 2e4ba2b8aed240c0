// The SMTP client session: over a plain Windows Sockets stream, or through marfel's socket
// and TLS entries with EHLO, STARTTLS or TLS from the connect, and CRAM-MD5, LOGIN or PLAIN.
// Failures are thrown as a MailErrorCode; the caller runs CloseServer after every send.
#pragma once

#include <winsock.h>

#include <windows.h>

#include <string>
#include <string_view>

#include "mail_error.h"
#include "mail_message.h"
#include "marfel.h"
#include "parameter.h"
#include "smtp_protocol.h"
#include "win_socket_owner.h"

class CSMTP : public CParameter {
  public:
    CSMTP();
    ~CSMTP() override;

    // Stores the option word (0x100 stays the component's own) and, when given, the user
    // name and password, each cut to 259 characters.
    void SetAuthOptions(int options, const char *user, const char *password);
    void ConnectServer();
    void SendMailTransaction(CMailMessage *message);
    void CloseServer();
    int ProbeServerOptions();
    void MakeDateLine(std::string &out);
    const char *GetLocalHostName() const { return m_localHost.c_str(); }

    int Options() const { return m_options; }

  private:
    bool MarfelPath() const { return (m_options & kSmtpMarfelPath) != 0; }
    void ReadSettings();
    void LoadSslLibrary();
    void ReadLocalHostName();
    // Reads one whole reply into m_reply; the failure code when none came.
    MailErrorCode ReadReply();
    void ExpectReply(int code);
    // Each line of the block in a write of its own (commands).
    void SendLines(std::string_view block);
    // The message text (headers with the Date line, then the body) between the 354 reply and
    // the reply to its end: every CR LF line (one more "." before a line that begins with
    // "."), an empty line and the "." line, gathered into writes of at least 64 KiB; text after
    // the last CR LF is not sent.
    void SendData(const CMailMessage &message, std::string_view dateLine);
    void SendRaw(std::string_view bytes);
    int SendSecureLine(const char *format, const char *argument);
    void SendCommand(const char *format, const char *argument, int code);
    void GreetSecure();
    void Authenticate(AuthMechanism mechanism);

    int m_port = 0;
    int m_timeout = 0;
    std::string m_server;
    std::string m_localHost;
    win::Socket m_socket;
    int m_options = 0;
    char m_user[520];
    char m_password[520];
    win::Module m_sslModule;
    SslLibraryTable m_ssl{};
    SslSocketContext *m_connection = nullptr;
    CSmtpReplyReader m_reader;
    std::string m_reply;
};

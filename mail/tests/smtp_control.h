// The control connection of the scripted SMTP server (testing/smtpserver): sets the script of
// the next session and takes the record of the last one.
#pragma once

#include <winsock.h>

#include <cstdlib>
#include <string>

#include "win_socket_owner.h"

namespace mailtest {

struct SessionRecord {
    std::string commands, raw, data;
};

class SmtpControl {
  public:
    SmtpControl() {
        const char *port = std::getenv("QUENTA_SMTP_CONTROL");
        if (!port) {
            m_why = "QUENTA_SMTP_CONTROL is not set: run the test through run-with-server.sh";
            return;
        }
        m_socket.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        if (!m_socket) {
            m_why = "no socket for the control connection (error " +
                    std::to_string(WSAGetLastError()) + ")";
            return;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(m_socket.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) ==
            SOCKET_ERROR) {
            m_why = std::string("the scripted SMTP server's control port 127.0.0.1:") + port +
                    " does not answer (error " + std::to_string(WSAGetLastError()) + ")";
            m_socket.reset();
        }
    }
    SmtpControl(const SmtpControl &) = delete;
    SmtpControl &operator=(const SmtpControl &) = delete;
    bool ok() const { return static_cast<bool>(m_socket); }
    // Why there is no control connection, when there is none.
    const std::string &why() const { return m_why; }

    // The SMTP port of the next session, 0 when the server did not answer.
    int SetCase(const std::string &json) {
        Send("case " + json + "\n");
        const std::string answer = Line();
        return answer.rfind("ok ", 0) == 0 ? std::atoi(answer.c_str() + 3) : 0;
    }
    SessionRecord Take() {
        Send("record\n");
        SessionRecord r;
        r.commands = Field();
        r.raw = Field();
        r.data = Field();
        return r;
    }

  private:
    void Send(const std::string &text) {
        send(m_socket.get(), text.data(), static_cast<int>(text.size()), 0);
    }
    bool Byte(char &c) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_socket.get(), &readable);
        timeval wait{30, 0};
        return select(0, &readable, nullptr, nullptr, &wait) == 1 &&
               recv(m_socket.get(), &c, 1, 0) == 1;
    }
    std::string Line() {
        std::string line;
        char c = 0;
        while (line.size() < 100000 && Byte(c) && c != '\n')
            line += c;
        return line;
    }
    std::string Field() {
        const std::size_t length = static_cast<std::size_t>(std::atoll(Line().c_str()));
        std::string bytes;
        char c = 0;
        while (bytes.size() < length && Byte(c))
            bytes += c;
        return bytes;
    }
    win::Socket m_socket;
    std::string m_why;
};

} // namespace mailtest

#include "printer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "errors.h"
#include "framework.h"
#include "resource_ids.h"

#include "helpers.h"
#include "reply.h"
#include "text.h"

const char *const kAttributeKeys[10] = {
    "SPOOLJOBTYPE=", "NUMPRINT=",      "DEMOPAGE=", "HDDASSIGN=",  "FLASHASSIGN=",
    "PATHLENGTH=",   "PASSWORDRANGE=", "PSMENU=",   "INITIALIZE=", "REBOOT="};

namespace {

constexpr char kEcho[] = "\x1b%-12345X@PJL ECHO TEST\r\n";

// Keeps the thread's last-error code across calls whose own codes do not matter.
class KeepLastError {
  public:
    KeepLastError() : code_(GetLastError()) {}
    ~KeepLastError() { SetLastError(code_); }

  private:
    DWORD code_;
};

} // namespace

CAPrinter::CAPrinter(const DiscoveredPrinter &printer) {
    const char *name = printer.name ? printer.name : "";
    const char *port = printer.port ? printer.port : "";
    const std::size_t nameLength = std::strlen(name);
    m_names.assign(name, name + nameLength + 1);
    m_names.insert(m_names.end(), port, port + std::strlen(port) + 1);
    m_name = m_displayName = m_names.data();
    m_port = m_displayAddress = m_names.data() + nameLength + 1;
    m_replyBlock.assign(kReplySize, 0);
    m_reply = m_replyBlock.data();
    // A failed open is not reported: every later session reports the missing port.
    OpenPort(CompareFirstChars(m_port, "LPT", 3) == 0 ? 5000 : 40000);
    m_terminator = '\f';
    m_languages = 0;
    m_attrState = 0;
}

CAPrinter::~CAPrinter() {
    ClosePort();
}

BOOL CAPrinter::OpenPort(DWORD timeoutMs) {
    m_hPort = nullptr;
    const BOOL ok = QuvOpenPort(m_port, &m_hPort, 0);
    if (ok)
        SetTimeout(timeoutMs);
    return ok;
}

void CAPrinter::SetTimeout(DWORD ms) {
    KeepLastError keep;
    QuvSetPortTimeout(m_hPort, ms);
}

void CAPrinter::ClosePort() {
    if (!m_hPort)
        return;
    KeepLastError keep;
    QuvClosePort(m_hPort);
    m_hPort = nullptr;
}

BOOL CAPrinter::AskRetry() {
    char text[260];
    return AfxMessageBox(LoadResString(IDS_PRINTER_NOT_RESPONDING, text), MB_YESNO) == IDYES;
}

BOOL CAPrinter::StartSession() {
    if (!m_hPort) {
        CErrors report(kErrNoPort);
        SetLastError(kErrDeclined); // reported here: callers stay silent
        return FALSE;
    }
    if (!QuvStartJobPort(m_hPort))
        return FALSE;
    DWORD written = 0;
    if (!WriteString(kEcho, &written))
        return FALSE;
    const char saved = m_terminator;
    m_terminator = '\f';
    const BOOL read = ReadReply(m_reply, m_replySize, &m_received);
    m_terminator = saved;
    if (!read)
        return FALSE;
    if (FindBytes(m_reply, m_received, "@PJL ECHO TEST") == std::string::npos) {
        SetLastError(QUV_E_READ);
        return FALSE;
    }
    return TRUE;
}

BOOL CAPrinter::WriteData(const void *data, DWORD length, DWORD *written) {
    const char *pos = static_cast<const char *>(data);
    DWORD total = 0;
    BOOL last = TRUE;
    while (length > 0) {
        const DWORD piece = std::min(length, kChunk);
        DWORD taken = 0;
        last = QuvWritePort(m_hPort, pos, piece, &taken, 0);
        taken = std::min(taken, piece);
        total += taken;
        pos += taken;
        length -= taken;
        if (!last && total > 0)
            break; // a failure after part of the stream went out
        if (taken == 0 && !AskRetry()) {
            last = FALSE;
            SetLastError(kErrDeclined);
            break;
        }
    }
    m_written = total;
    if (written)
        *written = total;
    return last;
}

BOOL CAPrinter::WriteString(const char *text, DWORD *written) {
    return WriteData(text, static_cast<DWORD>(std::strlen(text)), written);
}

BOOL CAPrinter::ReadReply(char *buffer, DWORD capacity, DWORD *received) {
    std::memset(buffer, 0, capacity);
    *received = 0;
    const DWORD limit = capacity ? capacity - 1 : 0; // the parsers need a NUL behind the reply
    do {
        if (*received >= limit) {
            SetLastError(QUV_E_READ); // full and still not ended
            return FALSE;
        }
        DWORD got = 0;
        const BOOL ok = QuvReadPort(m_hPort, buffer + *received, limit - *received, &got, 0);
        *received += std::min(got, limit - *received);
        if ((!ok || got == 0) && !AskRetry()) {
            SetLastError(kErrDeclined);
            return FALSE;
        }
        std::uint32_t count = *received;
        CutTrailingUel(buffer, count);
        ::RemoveUStatus(buffer, count);
        *received = count;
    } while (::IsReplyIncomplete(buffer, *received, m_terminator));
    return TRUE;
}

BOOL CAPrinter::ReadChunk(char *buffer, DWORD capacity, DWORD *received) {
    std::memset(buffer, 0, capacity);
    const DWORD limit = capacity ? capacity - 1 : 0;
    for (;;) {
        DWORD got = 0;
        const BOOL ok = QuvReadPort(m_hPort, buffer, limit, &got, 0);
        std::uint32_t count = std::min(got, limit);
        CutTrailingUel(buffer, count);
        if (count == 0) {
            *received = 0;
            if (!AskRetry()) {
                SetLastError(kErrDeclined);
                return FALSE;
            }
            continue;
        }
        ::RemoveUStatus(buffer, count);
        *received = count;
        if (!ok)
            return FALSE;
        if (count > 0)
            return TRUE;
    }
}

bool CAPrinter::IsReplyIncomplete(const char *buffer) const {
    return ::IsReplyIncomplete(buffer, m_received, m_terminator);
}

void CAPrinter::RemoveUStatus(char *buffer) {
    std::uint32_t count = m_received;
    ::RemoveUStatus(buffer, count);
    m_received = count;
}

void CAPrinter::EndJob(BOOL ok) {
    if (!m_hPort)
        return;
    KeepLastError keep;
    if (ok) {
        DWORD written = 0;
        QuvWritePort(m_hPort, kUel, static_cast<DWORD>(kUelLength), &written, 0);
        m_written = written;
    }
    QuvEndJobPort(m_hPort, ok);
}

BOOL CAPrinter::SendStream(const void *data, DWORD length) {
    if (!CheckStreamLanguage(data, length))
        return FALSE;
    DWORD written = 0;
    if (StartSession() && WriteData(data, length, &written)) {
        EndJob(TRUE);
        return TRUE;
    }
    CErrors report(GetLastError());
    EndJob(FALSE);
    return FALSE;
}

BOOL CAPrinter::CheckStreamLanguage(const void *data, DWORD length) {
    if (SupportsPostScript())
        return TRUE;
    if (StreamEntersPostScript(static_cast<const char *>(data), length)) {
        AfxMessageBox("ENTER LANGUAGE=POSTSCRIPT !!", MB_OK | MB_ICONSTOP);
        return FALSE;
    }
    return TRUE;
}

const char *CAPrinter::QueryConfig() {
    DWORD written = 0;
    m_exchangeFailed = false;
    if (!WriteString("@PJL INFO CONFIG\r\n", &written) ||
        !ReadReply(m_reply, m_replySize, &m_received)) {
        m_exchangeFailed = true;
        CErrors report(GetLastError());
        return nullptr;
    }
    const std::size_t header = FindBytes(m_reply, m_received, "@PJL INFO CONFIG");
    if (header == std::string::npos)
        return nullptr;
    if (m_languages == 0)
        m_languages = ParseLanguageFlags(m_reply, m_received, header);
    return m_reply + header;
}

BOOL CAPrinter::EnsureLanguages() {
    if (m_languages)
        return TRUE;
    const char *config = nullptr;
    const BOOL started = StartSession();
    if (started) {
        config = QueryConfig();
    } else if (GetLastError() != kErrDeclined) {
        char text[260];
        AfxMessageBox(LoadResString(IDS_PRINTER_NO_ANSWER, text));
    }
    EndJob(config != nullptr);
    return started;
}

void CAPrinter::ReportMissingLanguage(BYTE bit) {
    const char *name = "PCL";
    switch (bit) {
    case 0x02:
        name = "PostScript";
        break;
    case 0x04:
        name = "TOLVAC";
        break;
    case 0x08:
        name = "SDL";
        break;
    case 0x10:
        name = "ESCP";
        break;
    case 0x20:
        name = "PCLXL";
        break;
    case 0x40:
        name = "IBMPPR";
        break;
    default:
        break;
    }
    char format[260], text[400];
    LoadResString(IDS_LANGUAGE_UNSUPPORTED, format);
    std::snprintf(text, sizeof text, format, name);
    AfxMessageBox(text, MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
}

int CAPrinter::QueryAttributes() {
    DWORD written = 0;
    if (!StartSession() || !WriteString("@PJL INFO QUVWYRATTRIBUTE\r\n", &written) ||
        !ReadReply(m_reply, m_replySize, &m_received)) {
        CErrors report(GetLastError());
        EndJob(FALSE);
        return 1;
    }
    const std::size_t header = FindBytes(m_reply, m_received, "@PJL INFO QUVWYRATTRIBUTE");
    if (header == std::string::npos) {
        EndJob(FALSE);
        return 1;
    }
    const std::size_t line = SkipToNextLineIn(m_reply, m_received, header);
    std::memset(m_attr, 0, sizeof m_attr);
    if (line < m_received && m_reply[line] == '"') {
        m_attrState = 1;
    } else {
        m_attrState = 2;
        for (int i = 0; i < 10; ++i) {
            const std::string value =
                GetReplyValueIn(m_reply, m_received, line, kAttributeKeys[i], 259);
            CopyStringN(m_attr[i], value.c_str(), 259);
        }
    }
    EndJob(TRUE);
    return 0;
}

void CAPrinter::GetReplyValue(const char *text, const char *key, char *value) const {
    value[0] = '\0';
    if (text < m_reply || text > m_reply + m_received)
        return;
    const std::string found =
        GetReplyValueIn(m_reply, m_received, static_cast<std::size_t>(text - m_reply), key, 259);
    CopyStringN(value, found.c_str(), 259);
}

const char *CAPrinter::FindLineEnd(const char *pos) const {
    return m_reply + FindLineEndIn(m_reply, m_received, static_cast<std::size_t>(pos - m_reply));
}

const char *CAPrinter::SkipToNextLine(const char *pos) const {
    return m_reply + SkipToNextLineIn(m_reply, m_received, static_cast<std::size_t>(pos - m_reply));
}

const char *CAPrinter::SkipBlanks(const char *pos) const {
    return m_reply + SkipBlanksIn(m_reply, m_received, static_cast<std::size_t>(pos - m_reply));
}

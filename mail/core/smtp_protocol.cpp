#include "smtp_protocol.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool Contains(std::string_view text, std::string_view word) {
    return text.find(word) != std::string_view::npos;
}

} // namespace

CSmtpReplyReader::Status CSmtpReplyReader::Feed(const char *data, std::size_t length) {
    if (m_status == Status::kNeedMore && length != 0)
        m_pending.append(data, length);
    return Poll();
}

CSmtpReplyReader::Status CSmtpReplyReader::Poll() {
    if (m_status != Status::kNeedMore)
        return m_status;
    std::size_t start = 0;
    for (;;) {
        const std::size_t lf = m_pending.find('\n', start);
        const std::size_t end = lf == std::string::npos ? m_pending.size() : lf;
        const std::string_view line(m_pending.data() + start, end - start);
        // Check what has come of the line so far, so that junk fails at once.
        for (std::size_t i = 0; i < 3 && i < line.size(); ++i)
            if (!IsDigit(line[i]))
                return m_status = Status::kMalformed;
        if (lf == std::string::npos) {
            if (m_pending.size() >= kMaxReplyBytes)
                return m_status = Status::kMalformed;
            return Status::kNeedMore;
        }
        if (lf + 1 > kMaxReplyBytes || line.size() < 3)
            return m_status = Status::kMalformed;
        const char separator = line.size() > 3 ? line[3] : '\n';
        if (separator == '-') {
            start = lf + 1;
            continue;
        }
        if (separator != ' ' && separator != '\r' && separator != '\n')
            return m_status = Status::kMalformed;
        if (separator == '\r' && line.size() > 4)
            return m_status = Status::kMalformed;
        m_code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
        m_reply.assign(m_pending, 0, lf + 1);
        return m_status = Status::kComplete;
    }
}

void CSmtpReplyReader::TakeReply() {
    if (m_status != Status::kComplete)
        return;
    m_pending.erase(0, m_reply.size());
    m_reply.clear();
    m_code = 0;
    m_status = Status::kNeedMore;
}

void CSmtpReplyReader::Clear() {
    m_pending.clear();
    m_reply.clear();
    m_code = 0;
    m_status = Status::kNeedMore;
}

int MatchReplyCode(const char *reply, const char *code) {
    if (!reply || !code)
        return 1;
    const std::size_t length = std::strlen(code);
    if (std::strlen(reply) < length)
        return 2;
    return std::strncmp(reply, code, length) == 0 ? 0 : 3;
}

std::vector<std::string_view> SplitCrlfLines(std::string_view block) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t at = block.find("\r\n"); at != std::string_view::npos;
         at = block.find("\r\n", start)) {
        lines.push_back(block.substr(start, at + 2 - start));
        start = at + 2;
    }
    return lines;
}

std::string StuffDataLine(std::string_view line) {
    std::string out;
    out.reserve(line.size() + 1);
    if (!line.empty() && line.front() == '.')
        out += '.';
    out += line;
    return out;
}

CDataBatcher::CDataBatcher(std::size_t batchBytes, std::function<void(std::string_view)> send)
    : m_batchBytes(batchBytes), m_send(std::move(send)) {
    m_batch.reserve(batchBytes + 1024);
}

void CDataBatcher::Put(std::string_view piece) {
    std::size_t at = 0;
    while (at < piece.size()) {
        if (m_atLineStart) {
            if (piece[at] == '.')
                m_batch += '.';
            m_atLineStart = false;
        }
        // Up to and with the next LF; a line ends at an LF that follows a CR.
        const void *lf = std::memchr(piece.data() + at, '\n', piece.size() - at);
        const std::size_t end =
            lf ? static_cast<std::size_t>(static_cast<const char *>(lf) - piece.data()) + 1
               : piece.size();
        m_batch.append(piece.data() + at, end - at);
        const bool crBefore = end - at >= 2 ? piece[end - 2] == '\r' : m_afterCr;
        m_afterCr = piece[end - 1] == '\r';
        at = end;
        if (lf && crBefore) {
            m_lineStart = m_batch.size();
            m_atLineStart = true;
            if (m_batch.size() >= m_batchBytes) {
                m_send(m_batch);
                m_batch.clear();
                m_lineStart = 0;
            }
        }
    }
}

void CDataBatcher::Finish() {
    m_batch.resize(m_lineStart);
    m_batch += "\r\n.\r\n";
    m_send(m_batch);
    m_batch.clear();
    m_lineStart = 0;
    m_atLineStart = true;
    m_afterCr = false;
}

void SendDataBatches(std::string_view text, std::size_t batchBytes,
                     const std::function<void(std::string_view)> &send) {
    CDataBatcher batcher(batchBytes, send);
    batcher.Put(text);
    batcher.Finish();
}

int UtcOffsetMinutes(const std::tm &local, const std::tm &utc) {
    // The two forms lie at most a day apart, which may cross a year's end.
    int days = 0;
    if (local.tm_year != utc.tm_year)
        days = local.tm_year > utc.tm_year ? 1 : -1;
    else
        days = local.tm_yday - utc.tm_yday;
    return days * 24 * 60 + (local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min);
}

bool FormatDateLine(const std::tm &local, int offsetMinutes, std::string &out) {
    static const char *const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11 ||
        local.tm_mday < 1 || local.tm_mday > 31 || local.tm_hour < 0 || local.tm_hour > 23 ||
        local.tm_min < 0 || local.tm_min > 59 || local.tm_sec < 0 || local.tm_sec > 60 ||
        local.tm_year < -1900 || local.tm_year > 8099)
        return false;
    if (offsetMinutes < -12 * 60 || offsetMinutes > 14 * 60)
        return false;
    const char sign = offsetMinutes < 0 ? '-' : '+';
    const int magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char line[64];
    const int n = std::snprintf(
        line, sizeof line, "Date: %s, %2d %s %02d %02d:%02d:%02d %c%02d%02d", kDays[local.tm_wday],
        local.tm_mday, kMonths[local.tm_mon], (local.tm_year + 1900) % 100, local.tm_hour,
        local.tm_min, local.tm_sec, sign, magnitude / 60, magnitude % 60);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof line)
        return false;
    out.assign(line, static_cast<std::size_t>(n));
    return true;
}

int ParseServerOptions(std::string_view reply) {
    static const struct {
        const char *word;
        int bit;
    } kKeywords[] = {{"SIZE", kServerSize},         {"8BITMIME", kServer8BitMime},
                     {"STARTTLS", kServerStartTls}, {"AUTH", kServerAuth},
                     {"EXPN", kServerExpn},         {"ETRN", kServerEtrn},
                     {"ATRN", kServerAtrn},         {"DSN", kServerDsn}};
    static const struct {
        const char *word;
        int bit;
    } kMechanisms[] = {{"LOGIN", kServerAuthLogin},
                       {"PLAIN", kServerAuthPlain},
                       {"CRAM-MD5", kServerAuthCramMd5},
                       {"DIGEST-MD5", kServerAuthDigestMd5}};
    int bits = 0;
    std::size_t start = 0;
    while (start < reply.size()) {
        const std::size_t lf = reply.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? reply.size() : lf;
        const std::string_view line = reply.substr(start, end - start);
        start = lf == std::string_view::npos ? reply.size() : lf + 1;
        if (line.size() > kMaxOptionLine || line.size() <= 3)
            continue;
        std::string rest(line.size() > 4 ? line.substr(4) : std::string_view());
        for (char &c : rest)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        for (const auto &keyword : kKeywords) {
            if (!Contains(rest, keyword.word))
                continue;
            bits |= keyword.bit;
            if (keyword.bit == kServerAuth)
                for (const auto &mechanism : kMechanisms)
                    if (Contains(rest, mechanism.word))
                        bits |= mechanism.bit;
            break;
        }
    }
    return bits;
}

bool OffersStartTls(std::string_view ehloReply) {
    return Contains(ehloReply, "250-STARTTLS") || Contains(ehloReply, "250 STARTTLS");
}

bool ChooseAuthMechanism(int options, std::string_view ehloReply, AuthMechanism &out) {
    if (!Contains(ehloReply, "250-AUTH") && !Contains(ehloReply, "250 AUTH"))
        return false;
    if ((options & kSmtpAuthCramMd5) && Contains(ehloReply, "CRAM-MD5")) {
        out = AuthMechanism::kCramMd5;
        return true;
    }
    if (options & kSmtpAuthLogin) {
        out = AuthMechanism::kLogin;
        return Contains(ehloReply, "LOGIN");
    }
    if (options & kSmtpAuthPlain) {
        out = AuthMechanism::kPlain;
        return Contains(ehloReply, "PLAIN");
    }
    return false;
}

std::string CramChallenge(std::string_view reply) {
    if (reply.size() <= 4)
        return std::string();
    std::string_view challenge = reply.substr(4);
    for (int i = 0;
         i < 2 && !challenge.empty() && (challenge.back() == '\r' || challenge.back() == '\n'); ++i)
        challenge.remove_suffix(1);
    return std::string(challenge);
}

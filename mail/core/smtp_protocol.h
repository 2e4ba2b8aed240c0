// The platform-neutral parts of the SMTP session: the reply reader, the lines sent after DATA,
// the Date line, the walk over an EHLO reply and the choice of an authentication mechanism.
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Collects the bytes of a server's replies. A reply is complete with its final line: three
// digits followed by a blank or by the line's end; earlier lines carry a '-' after the digits.
// Bytes after the final line stay for the next reply.
class CSmtpReplyReader {
  public:
    enum class Status { kNeedMore, kComplete, kMalformed };

    // Most bytes one reply may hold, its line ends counted.
    static constexpr std::size_t kMaxReplyBytes = 16 * 1024;

    // Appends received bytes and reports the state of the reply at the front.
    Status Feed(const char *data, std::size_t length);
    // The state of the reply at the front from the bytes already held.
    Status Poll();

    // The complete reply at the front: its final line's code and its whole text.
    int Code() const { return m_code; }
    const std::string &Text() const { return m_reply; }
    // Drops the complete reply; the bytes that followed it stay.
    void TakeReply();
    // Drops everything held (the bytes that came with the reply to STARTTLS).
    void Clear();
    bool Empty() const { return m_pending.empty(); }

  private:
    std::string m_pending;
    std::string m_reply;
    int m_code = 0;
    Status m_status = Status::kNeedMore;
};

// 1 when either is null, 2 when the reply is shorter than the code, 3 when its first
// characters differ, 0 on a match.
int MatchReplyCode(const char *reply, const char *code);

// The lines of a block, each with its CR LF; text after the last CR LF is not a line.
std::vector<std::string_view> SplitCrlfLines(std::string_view block);

// A line as it goes between the 354 reply and the end mark: one more "." when it begins
// with ".".
std::string StuffDataLine(std::string_view line);

// What goes between the 354 reply and the reply to the end of data, for a message text given
// in pieces: every CR LF line of the pieces joined, stuffed as StuffDataLine says, then an
// empty line and the "." line; text after the last CR LF is not sent. The bytes reach `send` in
// batches of whole lines, each of at least `batchBytes` bytes but the last.
class CDataBatcher {
  public:
    CDataBatcher(std::size_t batchBytes, std::function<void(std::string_view)> send);
    void Put(std::string_view piece);
    // Drops an unfinished line, adds the empty line and the "." line, sends what is held.
    void Finish();

  private:
    std::size_t m_batchBytes;
    std::function<void(std::string_view)> m_send;
    std::string m_batch;
    std::size_t m_lineStart = 0; // where the unfinished line begins in m_batch
    bool m_atLineStart = true;
    bool m_afterCr = false; // the last byte put was CR
};

// The same for a text in one piece.
void SendDataBatches(std::string_view text, std::size_t batchBytes,
                     const std::function<void(std::string_view)> &send);

// Minutes of local time minus UTC from the two broken-down forms of one instant.
int UtcOffsetMinutes(const std::tm &local, const std::tm &utc);

// "Date: Thu,  2 Jan 25 09:05:01 +0900" from the local broken-down time and its offset;
// false when a field is out of range or the offset lies outside -1200 to +1400.
bool FormatDateLine(const std::tm &local, int offsetMinutes, std::string &out);

// ServerOptionFlags of an EHLO reply.
enum ServerOptionFlags : int {
    kServerSize = 0x1,
    kServer8BitMime = 0x2,
    kServerStartTls = 0x4,
    kServerAuth = 0x8,
    kServerExpn = 0x10,
    kServerEtrn = 0x20,
    kServerAtrn = 0x40,
    kServerDsn = 0x80,
    kServerAuthLogin = 0x1000,
    kServerAuthPlain = 0x2000,
    kServerAuthCramMd5 = 0x4000,
    kServerAuthDigestMd5 = 0x8000,
};

// Longest reply line the walk examines, its CR counted.
constexpr std::size_t kMaxOptionLine = 128;

int ParseServerOptions(std::string_view reply);

// SmtpOptionFlags, the caller's choice of TLS and authentication.
enum SmtpOptionFlags : int {
    kSmtpAuthLogin = 0x1,
    kSmtpAuthPlain = 0x2,
    kSmtpAuthCramMd5 = 0x4,
    kSmtpStartTls = 0x10,
    kSmtpImplicitTls = 0x20,
    kSmtpEncrypted = 0x100,
    kSmtpMarfelPath = 0x3F,
    kSmtpAuthAny = 0x7,
};

// True when the EHLO reply offers STARTTLS ("250-STARTTLS" or "250 STARTTLS").
bool OffersStartTls(std::string_view ehloReply);

enum class AuthMechanism { kCramMd5, kLogin, kPlain };

// The mechanism for the options against an EHLO reply; false (101) when the reply offers no
// AUTH or not the mechanism the options lead to.
bool ChooseAuthMechanism(int options, std::string_view ehloReply, AuthMechanism &out);

// The CRAM-MD5 challenge of a 334 reply: the text from its fifth character on, at most two
// trailing CR or LF removed.
std::string CramChallenge(std::string_view reply);

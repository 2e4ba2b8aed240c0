#include "reply.h"

#include <cstring>

namespace {

constexpr char kUStatus[] = "@PJL USTATUS";
constexpr std::size_t kUStatusLength = 12;

// Offset just past the next CR LF FF at or after pos, or 0 when there is none.
std::size_t BlockEnd(const char *reply, std::uint32_t received, std::size_t pos) {
    for (std::size_t i = pos; i + 3 <= received; ++i) {
        if (reply[i] == '\r' && reply[i + 1] == '\n' && reply[i + 2] == '\f')
            return i + 3;
    }
    return 0;
}

} // namespace

bool CutTrailingUel(char *reply, std::uint32_t &received) {
    if (received <= 8 || std::memcmp(reply + received - kUelLength, kUel, kUelLength) != 0)
        return false;
    std::memset(reply + received - kUelLength, 0, kUelLength);
    received -= kUelLength;
    return true;
}

void RemoveUStatus(char *reply, std::uint32_t &received) {
    if (received < kUStatusLength)
        return;
    std::size_t pos = 0;
    while (pos < received) {
        const std::size_t end = BlockEnd(reply, received, pos);
        if (end == 0)
            return; // a last block without CR LF FF stays
        if (end - pos >= kUStatusLength &&
            std::memcmp(reply + pos, kUStatus, kUStatusLength) == 0) {
            const std::size_t removed = end - pos;
            std::memmove(reply + pos, reply + end, received - end);
            std::memset(reply + received - removed, 0, removed);
            received -= static_cast<std::uint32_t>(removed);
        } else {
            pos = end;
        }
    }
}

bool IsReplyIncomplete(const char *reply, std::uint32_t received, char terminator) {
    if (received == 0)
        return true;
    const std::uint32_t look = received < 3 ? received : 3;
    for (std::uint32_t i = received - look; i < received; ++i) {
        if (reply[i] == terminator)
            return false;
    }
    return true;
}

std::size_t FindBytes(const char *data, std::size_t length, const char *pattern) {
    const std::size_t n = std::strlen(pattern);
    if (n == 0 || n > length)
        return std::string::npos;
    for (std::size_t i = 0; i + n <= length; ++i) {
        if (std::memcmp(data + i, pattern, n) == 0)
            return i;
    }
    return std::string::npos;
}

bool StreamEntersPostScript(const char *data, std::size_t length) {
    std::size_t pos = 0;
    while (pos < length) {
        const char *nul = static_cast<const char *>(std::memchr(data + pos, '\0', length - pos));
        const std::size_t end = nul ? static_cast<std::size_t>(nul - data) : length;
        if (FindBytes(data + pos, end - pos, "ENTER LANGUAGE=POSTSCRIPT") != std::string::npos)
            return true;
        pos = end + 1;
    }
    return false;
}

std::size_t FindLineEndIn(const char *reply, std::uint32_t received, std::size_t pos) {
    while (pos < received && reply[pos] != '\r' && reply[pos] != '\n' && reply[pos] != '\f' &&
           reply[pos] != '\0')
        ++pos;
    return pos < received ? pos : received;
}

std::size_t SkipToNextLineIn(const char *reply, std::uint32_t received, std::size_t pos) {
    pos = FindLineEndIn(reply, received, pos);
    while (pos < received && (reply[pos] == '\r' || reply[pos] == '\n'))
        ++pos;
    return pos;
}

std::size_t SkipBlanksIn(const char *reply, std::uint32_t received, std::size_t pos) {
    while (pos < received) {
        const unsigned char c = static_cast<unsigned char>(reply[pos]);
        if (!((c >= 1 && c <= 32) || c >= 0x80))
            break;
        ++pos;
    }
    return pos < received ? pos : received;
}

std::uint8_t ParseLanguageFlags(const char *reply, std::uint32_t received, std::size_t header) {
    if (header >= received)
        return 0;
    const std::size_t at = FindBytes(reply + header, received - header, "LANGUAGES");
    if (at == std::string::npos)
        return 0;
    std::size_t pos = header + at + 11; // behind the word, a blank and the bracket
    unsigned count = 0;
    bool digits = false;
    while (pos < received && reply[pos] >= '0' && reply[pos] <= '9' && count < 1000) {
        count = count * 10 + static_cast<unsigned>(reply[pos] - '0');
        digits = true;
        ++pos;
    }
    if (!digits)
        return 0;
    static const struct {
        const char *word;
        std::uint8_t flag;
    } kWords[] = {{"PCLXL", 0x20},  {"PCL", 0x01}, {"POSTSCRIPT", 0x02}, {"IBMPPR", 0x40},
                  {"TOLVAC", 0x04}, {"SDL", 0x08}, {"ESCP", 0x10},       {"EPSONFX", 0x80}};
    std::uint8_t flags = 0;
    for (unsigned line = 0; line < count; ++line) {
        pos = SkipToNextLineIn(reply, received, pos);
        if (pos >= received)
            break;
        std::size_t start = pos + 1; // the leading tab
        std::size_t end = start;
        while (end<received &&static_cast<unsigned char>(reply[end])> ' ')
            ++end;
        if (start >= end)
            continue;
        const std::string word(reply + start, end - start);
        for (const auto &w : kWords) {
            if (word.find(w.word) != std::string::npos) {
                flags |= w.flag;
                break;
            }
        }
    }
    return flags;
}

std::string GetReplyValueIn(const char *reply, std::uint32_t received, std::size_t pos,
                            const char *key, std::size_t maxChars) {
    if (pos >= received)
        return {};
    const std::size_t at = FindBytes(reply + pos, received - pos, key);
    if (at == std::string::npos)
        return {};
    const std::size_t start = pos + at + std::strlen(key);
    const std::size_t end = FindLineEndIn(reply, received, start);
    std::string value(reply + start, end - start);
    if (value.size() > maxChars)
        value.resize(maxChars);
    return value;
}

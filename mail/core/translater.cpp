#include "translater.h"

namespace {
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;
} // namespace

// ---- CBase64 ----

void CBase64::Reset() {
    ClearOutput();
    m_lineBreaks = 1;
    m_outputCount = 0;
    m_state = 2;
    m_carry = 0;
}

void CBase64::AppendOutputChar(int value) {
    Put(kBase64Alphabet[value & 0x7F]);
    if (m_lineBreaks && ++m_outputCount == 76) {
        Put("\r\n");
        m_outputCount = 0;
    }
}

const char *CBase64::Translate(std::uint8_t byte, bool last) {
    // Indexed by state: 2 = first byte of a group, 1 = second, 0 = third.
    static constexpr int kRight[3] = {6, 4, 2};
    static constexpr int kLeft[3] = {0, 2, 4};
    static constexpr int kMask[3] = {0x3F, 0x3C, 0x30};
    ClearOutput();
    const int state = m_state;
    AppendOutputChar((byte >> kRight[state]) | m_carry);
    m_carry = (byte << kLeft[state]) & kMask[state];
    if (state == 0) {
        AppendOutputChar(m_carry);
        m_carry = 0;
        m_state = 2;
    } else if (last) {
        AppendOutputChar(m_carry);
        for (int pad = state; pad > 0; --pad)
            AppendOutputChar(64);
        m_carry = 0;
        m_state = 0;
    } else {
        m_state = state - 1;
    }
    return m_output;
}

void CBase64::TranslateRun(const std::uint8_t *bytes, std::size_t n, std::string &out) {
    std::size_t i = 0;
    auto single = [&](std::uint8_t byte) {
        Translate(byte, false);
        out.append(m_output, std::size_t(m_outputLength));
    };
    for (; i < n && m_state != 2; ++i)
        single(bytes[i]);
    const std::size_t groups = (n - i) / 3;
    // Four characters a group and at most one CR LF (a line holds 19 groups).
    const std::size_t at = out.size();
    out.resize(at + groups * 6);
    char *p = out.data() + at;
    auto put = [&](unsigned value) {
        *p++ = kBase64Alphabet[value];
        if (m_lineBreaks && ++m_outputCount == 76) {
            *p++ = '\r';
            *p++ = '\n';
            m_outputCount = 0;
        }
    };
    for (std::size_t g = 0; g < groups; ++g, i += 3) {
        const unsigned b0 = bytes[i], b1 = bytes[i + 1], b2 = bytes[i + 2];
        put(b0 >> 2);
        put(((b0 & 0x03) << 4) | (b1 >> 4));
        put(((b1 & 0x0F) << 2) | (b2 >> 6));
        put(b2 & 0x3F);
    }
    out.resize(std::size_t(p - out.data()));
    ClearOutput();
    for (; i < n; ++i)
        single(bytes[i]);
}

// ---- CQuotedPrintable ----

void CQuotedPrintable::Reset() {
    ClearOutput();
    m_softBreaks = 1;
    m_lineCount = 0;
    m_encodedWord = 0;
}

void CQuotedPrintable::PutHex(std::uint8_t byte) {
    Put('=');
    Put(kHexDigits[byte >> 4]);
    Put(kHexDigits[byte & 0x0F]);
}

const char *CQuotedPrintable::Translate(std::uint8_t byte, bool last) {
    ClearOutput();
    const bool printable = (byte >= 0x20 && byte <= 0x7E && byte != '=');
    if (m_encodedWord) {
        // In an encoded word a blank is "_"; what would end the word, split it, read back as
        // a blank, or stand out in an address phrase is written in hex.
        static constexpr char kWordSpecials[] = "?_\"(),.:;<>@[\\]";
        bool special = false;
        for (const char *s = kWordSpecials; *s; ++s)
            special = special || byte == std::uint8_t(*s);
        if (byte == ' ')
            Put('_');
        else if (printable && !special)
            Put(char(byte));
        else
            PutHex(byte);
    } else if ((printable || byte == 0x09) && !(last && (byte == ' ' || byte == 0x09))) {
        // A blank or TAB that may end the encoded text is written in hex: readers may delete
        // white space before a line end.
        Put(char(byte));
    } else {
        PutHex(byte);
    }
    m_lineCount += m_outputLength;
    if (m_softBreaks && m_lineCount >= 72) {
        Put("=\r\n");
        m_lineCount = 0;
    }
    return m_output;
}

// ---- CSJIStoJIS ----

void CSJIStoJIS::Reset() {
    ClearOutput();
    m_leadPending = 0;
    m_twoByte = 0;
    m_lead = m_trail = 0;
    m_afterCr = 0;
}

void CSJIStoJIS::ConvertPair(std::uint8_t &lead, std::uint8_t &trail) {
    unsigned t = trail;
    if (t > 0x7E)
        --t;
    unsigned first = (2u * lead - 0x62u - (lead < 0xA0 ? 0x80u : 0u)) & 0xFFu;
    first += (t < 0x9E) ? 1u : 2u;
    const unsigned second = (t < 0x9E) ? t - 0x1Fu : t - 0x7Du;
    lead = std::uint8_t(first);
    trail = std::uint8_t(second);
}

void CSJIStoJIS::LeaveTwoByte() {
    if (m_twoByte) {
        Put(kToAscii);
        m_twoByte = 0;
    }
}

void CSJIStoJIS::TranslateSingle(std::uint8_t byte, bool last) {
    if (IsLeadByte(byte)) {
        // A lead byte with no byte after it is no character; the text still ends in ASCII.
        if (last)
            LeaveTwoByte();
        else {
            m_lead = byte;
            m_leadPending = 1;
        }
        return;
    }
    LeaveTwoByte();
    if (byte == kLf) {
        if (!m_afterCr)
            Put(char(kCr));
        Put(char(kLf));
        m_afterCr = 0;
    } else {
        Put(char(byte));
        m_afterCr = (byte == kCr);
    }
}

const char *CSJIStoJIS::Translate(std::uint8_t byte, bool last) {
    ClearOutput();
    if (m_leadPending) {
        m_leadPending = 0;
        if (IsTrailByte(byte)) {
            std::uint8_t lead = m_lead;
            m_trail = byte;
            ConvertPair(lead, m_trail);
            if (!m_twoByte) {
                Put(kToTwoByte);
                m_twoByte = 1;
            }
            Put(char(lead));
            Put(char(m_trail));
            if (last)
                LeaveTwoByte();
            m_afterCr = 0;
            return m_output;
        }
        // Not a trail byte: the lone lead byte is dropped and this byte taken afresh.
    }
    TranslateSingle(byte, last);
    return m_output;
}

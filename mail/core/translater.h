// Byte-at-a-time encoders for message text: Base64, quoted-printable and the Shift_JIS to
// ISO-2022-JP converter. Each Translate call takes one byte and returns the object's own output
// piece (at most 15 characters, terminated), which the next call overwrites; nothing is
// allocated per byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CTranslater {
  public:
    virtual ~CTranslater() = default;
    // Encodes one byte; `last` marks the final byte of the stream (or of the line).
    virtual const char *Translate(std::uint8_t byte, bool last) = 0;

    const char *Output() const { return m_output; }
    int OutputLength() const { return m_outputLength; }

  protected:
    void ClearOutput() {
        m_outputLength = 0;
        m_output[0] = '\0';
    }
    void Put(char c) {
        m_output[m_outputLength++] = c;
        m_output[m_outputLength] = '\0';
    }
    void Put(const char *text) {
        while (*text)
            Put(*text++);
    }

    int m_outputLength = 0;
    char m_output[16] = {};
};

// Standard Base64 with CR LF after every 76 characters while line breaks are on.
class CBase64 : public CTranslater {
  public:
    CBase64() { Reset(); }
    const char *Translate(std::uint8_t byte, bool last) override;
    // Encodes n bytes, none of them flagged last, appending the output to out: the same text
    // as n calls of Translate, whole groups three bytes at a time.
    void TranslateRun(const std::uint8_t *bytes, std::size_t n, std::string &out);
    // Back to the start of a group with line breaks on; must follow a byte flagged last.
    void Reset();
    void SetLineBreaks(bool on) { m_lineBreaks = on ? 1 : 0; }

  private:
    void AppendOutputChar(int value);

    int m_lineBreaks = 1;
    int m_outputCount = 0;
    int m_state = 2;
    int m_carry = 0;
};

// Quoted-printable. Body mode writes soft line breaks after 72 characters; encoded-word mode
// (for header words) writes no breaks, a blank as "_" and encodes the characters that would
// end or split the word.
class CQuotedPrintable : public CTranslater {
  public:
    const char *Translate(std::uint8_t byte, bool last) override;
    // Line count 0, soft breaks on, body mode.
    void Reset();
    void SetSoftBreaks(bool on) { m_softBreaks = on ? 1 : 0; }
    void SetEncodedWord(bool on) { m_encodedWord = on ? 1 : 0; }

  private:
    void PutHex(std::uint8_t byte);

    int m_softBreaks = 1;
    int m_lineCount = 0;
    int m_encodedWord = 0;
};

// Shift_JIS to ISO-2022-JP (JIS X 0208 in two-byte mode, ASCII otherwise). Line ends go out
// as CR LF, whether the input has LF or CR LF.
class CSJIStoJIS : public CTranslater {
  public:
    const char *Translate(std::uint8_t byte, bool last) override;
    void Reset();
    bool InTwoByteMode() const { return m_twoByte != 0; }

    static bool IsLeadByte(std::uint8_t b) {
        return (b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
    }
    static bool IsTrailByte(std::uint8_t b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }
    // One Shift_JIS pair, converted in place to its JIS X 0208 pair.
    static void ConvertPair(std::uint8_t &lead, std::uint8_t &trail);

    static constexpr const char *kToTwoByte = "\x1b$B";
    static constexpr const char *kToAscii = "\x1b(B";

  private:
    void LeaveTwoByte();
    void TranslateSingle(std::uint8_t byte, bool last);

    int m_leadPending = 0;
    int m_twoByte = 0;
    std::uint8_t m_lead = 0;
    std::uint8_t m_trail = 0;
    int m_afterCr = 0;
};

// Header items of a message: From, To, CC, Subject and Reply-To, in the message's charset.
#pragma once

#include <string>

#include "translater.h"

// Charset of a message, fixed when it is created.
enum CharsetKind : int { kCharsetUS = 0, kCharsetJP = 1, kCharsetEU = 2 };

enum HeaderItemKind : int {
    kItemTo = 0,
    kItemCC = 1,
    kItemFrom = 2,
    kItemSubject = 3,
    kItemReplyTo = 4,
};

// Charset text of a kind: "us-ascii", "iso-2022-jp" or "iso-8859-1".
const char *CharsetText(CharsetKind kind);

class CHeaderItem {
  public:
    CHeaderItem(HeaderItemKind kind, const char *charset, std::string address, std::string name);
    virtual ~CHeaderItem() = default;
    CHeaderItem(const CHeaderItem &) = delete;
    CHeaderItem &operator=(const CHeaderItem &) = delete;

    // Appends the encoded form of `name` to `out`.
    virtual void Encode(const std::string &name, std::string &out) = 0;

    // "RCPT TO:<address>" for To and CC, "MAIL FROM:<address>" for From; other kinds leave
    // `out` unchanged.
    void GetEnvelopeCommand(std::string &out) const;
    // Appends the text that follows "From: ", "To: " and so on.
    void GetHeaderText(std::string &out);

    HeaderItemKind Kind() const { return m_kind; }
    const std::string &Charset() const { return m_charset; }
    const std::string &Address() const { return m_address; }
    const std::string &Name() const { return m_name; }

  private:
    HeaderItemKind m_kind;
    std::string m_charset;
    std::string m_address;
    std::string m_name;
};

class CHeaderItemUS : public CHeaderItem {
  public:
    CHeaderItemUS(HeaderItemKind kind, std::string address, std::string name);
    void Encode(const std::string &name, std::string &out) override;
};

// Shift_JIS names go out as B encoded words of ISO-2022-JP text, each word holding whole
// characters and ending in ASCII mode.
class CHeaderItemJP : public CHeaderItem {
  public:
    CHeaderItemJP(HeaderItemKind kind, std::string address, std::string name);
    void Encode(const std::string &name, std::string &out) override;

    // Most JIS bytes in one word, escape sequences included.
    static constexpr std::size_t kWordBytes = 37;

  private:
    CSJIStoJIS m_jis;
    CBase64 m_base64;
};

// ISO-8859-1 names go out as Q encoded words.
class CHeaderItemEU : public CHeaderItem {
  public:
    CHeaderItemEU(HeaderItemKind kind, std::string address, std::string name);
    void Encode(const std::string &name, std::string &out) override;

  private:
    CQuotedPrintable m_qp;
};

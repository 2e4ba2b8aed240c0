// The message an IMail client builds between Create and Send: header items, recipients and
// the ordered MIME parts. Every add either completes or leaves the message as it was, and
// throws a MailErrorCode on failure.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "header_item.h"
#include "mime_content.h"

// Flags of CMailMessage::AddBodyString.
enum BodyStringFlags : int {
    kBodyReplace = 0x1,    // the buffer becomes the text
    kBodyAppendOnly = 0x2, // append to the buffer and do nothing else
    kBodyMakePart = 0x4,   // make a text part of the whole buffer
};

class CMailMessage {
  public:
    explicit CMailMessage(int charsetKind);
    virtual ~CMailMessage() = default;
    CMailMessage(const CMailMessage &) = delete;
    CMailMessage &operator=(const CMailMessage &) = delete;

    // Adds a recipient (To, CC) or sets the From, Subject or Reply-To item; a null text
    // counts as empty. An address or name holding CR or LF is refused with 2.
    void AddItem(const char *address, const char *name, int kind);
    // A text part read from a file (3 when it cannot be opened, 4 on a read error).
    void AddBody(const char *path);
    void AddBodyString(const char *text, int flags);
    // An attachment; the name must end in "exe" or "csv" (2 otherwise).
    void AddContent(const char *path, const char *name);

    CharsetKind Kind() const { return m_kind; }
    CHeaderItem *Subject() const { return m_subject.get(); }
    CHeaderItem *From() const { return m_from.get(); }
    CHeaderItem *ReplyTo() const { return m_replyTo.get(); }
    const std::deque<std::unique_ptr<CHeaderItem>> &ToList() const { return m_to; }
    const std::deque<std::unique_ptr<CHeaderItem>> &CcList() const { return m_cc; }
    const std::deque<std::unique_ptr<CMIMEContent>> &Parts() const { return m_parts; }
    const std::string &BodyString() const { return m_bodyString; }

  private:
    std::unique_ptr<CHeaderItem> MakeItem(HeaderItemKind kind, std::string address,
                                          std::string name) const;
    std::unique_ptr<CTextPlain> MakeTextFromFile(std::string path) const;
    std::unique_ptr<CTextPlain> MakeTextFromString(std::string body) const;
    void AppendPart(std::unique_ptr<CMIMEContent> part);

    CharsetKind m_kind;
    std::unique_ptr<CHeaderItem> m_subject;
    std::unique_ptr<CHeaderItem> m_from;
    std::unique_ptr<CHeaderItem> m_replyTo;
    std::deque<std::unique_ptr<CHeaderItem>> m_to;
    std::deque<std::unique_ptr<CHeaderItem>> m_cc;
    std::deque<std::unique_ptr<CMIMEContent>> m_parts;
    std::string m_bodyString;
};

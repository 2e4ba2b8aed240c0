#include "mail_message.h"

#include <algorithm>
#include <cctype>

#include "mail_error.h"

namespace {

std::string TextOrEmpty(const char *text) {
    return text ? std::string(text) : std::string();
}

bool HoldsLineBreak(const std::string &text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

bool EqualsNoCase(const std::string &a, const char *b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && !b[i];
}

} // namespace

CMailMessage::CMailMessage(int charsetKind)
    : m_kind(charsetKind == kCharsetJP   ? kCharsetJP
             : charsetKind == kCharsetEU ? kCharsetEU
                                         : kCharsetUS) {}

std::unique_ptr<CHeaderItem> CMailMessage::MakeItem(HeaderItemKind kind, std::string address,
                                                    std::string name) const {
    switch (m_kind) {
    case kCharsetJP:
        return std::make_unique<CHeaderItemJP>(kind, std::move(address), std::move(name));
    case kCharsetEU:
        return std::make_unique<CHeaderItemEU>(kind, std::move(address), std::move(name));
    default:
        return std::make_unique<CHeaderItemUS>(kind, std::move(address), std::move(name));
    }
}

std::unique_ptr<CTextPlain> CMailMessage::MakeTextFromFile(std::string path) const {
    const CTextPlain::FromFile file;
    switch (m_kind) {
    case kCharsetJP:
        return std::make_unique<CTextPlainJP>(file, std::move(path));
    case kCharsetEU:
        return std::make_unique<CTextPlainEU>(file, std::move(path));
    default:
        return std::make_unique<CTextPlainUS>(file, std::move(path));
    }
}

std::unique_ptr<CTextPlain> CMailMessage::MakeTextFromString(std::string body) const {
    switch (m_kind) {
    case kCharsetJP:
        return std::make_unique<CTextPlainJP>(std::move(body));
    case kCharsetEU:
        return std::make_unique<CTextPlainEU>(std::move(body));
    default:
        return std::make_unique<CTextPlainUS>(std::move(body));
    }
}

void CMailMessage::AppendPart(std::unique_ptr<CMIMEContent> part) {
    // Built before it joins the message, so a failed part is never appended.
    part->Build();
    m_parts.push_back(std::move(part));
}

void CMailMessage::AddItem(const char *address, const char *name, int kind) {
    std::string addressText = TextOrEmpty(address);
    std::string nameText = TextOrEmpty(name);
    // Every header and envelope line is cut at its line ends: a CR or LF inside an item would
    // add header lines or SMTP commands.
    if (HoldsLineBreak(addressText) || HoldsLineBreak(nameText))
        ThrowMailError(kMailCannotAddItem);
    switch (kind) {
    case kItemTo:
        m_to.push_back(MakeItem(kItemTo, std::move(addressText), std::move(nameText)));
        break;
    case kItemCC:
        m_cc.push_back(MakeItem(kItemCC, std::move(addressText), std::move(nameText)));
        break;
    case kItemFrom:
        m_from = MakeItem(kItemFrom, std::move(addressText), std::move(nameText));
        break;
    case kItemSubject:
        m_subject = MakeItem(kItemSubject, std::move(addressText), std::move(nameText));
        break;
    case kItemReplyTo:
        m_replyTo = MakeItem(kItemReplyTo, std::move(addressText), std::move(nameText));
        break;
    default:
        ThrowMailError(kMailCannotAddItem);
    }
}

void CMailMessage::AddBody(const char *path) {
    if (!path)
        ThrowMailError(kMailFileNotFound);
    AppendPart(MakeTextFromFile(path));
}

void CMailMessage::AddBodyString(const char *text, int flags) {
    const std::string_view added = text ? std::string_view(text) : std::string_view();
    if (flags & kBodyAppendOnly) {
        m_bodyString += added;
        return;
    }
    if (!(flags & (kBodyReplace | kBodyMakePart)))
        return;
    // The new buffer is committed only once its part, if any, is built and appended.
    std::string buffer =
        (flags & kBodyReplace) ? std::string(added) : m_bodyString + std::string(added);
    if (flags & kBodyMakePart)
        AppendPart(MakeTextFromString(buffer));
    m_bodyString = std::move(buffer);
}

void CMailMessage::AddContent(const char *path, const char *name) {
    if (!path)
        ThrowMailError(kMailFileNotFound);
    const std::string nameText = TextOrEmpty(name);
    const std::size_t dot = nameText.rfind('.');
    const std::string extension = dot == std::string::npos ? nameText : nameText.substr(dot + 1);
    if (!EqualsNoCase(extension, "exe") && !EqualsNoCase(extension, "csv"))
        ThrowMailError(kMailCannotAddItem);
    // The name stands in quoted header parameters.
    if (nameText.find_first_of("\r\n\"") != std::string::npos)
        ThrowMailError(kMailCannotAddItem);
    auto part = std::make_unique<CAppOctetStream>(path);
    part->SetAttachmentName(nameText);
    AppendPart(std::move(part));
}

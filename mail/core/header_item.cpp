#include "header_item.h"

#include <vector>

namespace {
// Between two encoded words of one header.
constexpr const char *kWordFold = "\r\n\t";
// An encoded word's text is cut once it reaches this many characters.
constexpr std::size_t kWordTextCut = 48;
} // namespace

const char *CharsetText(CharsetKind kind) {
    switch (kind) {
    case kCharsetJP:
        return "iso-2022-jp";
    case kCharsetEU:
        return "iso-8859-1";
    default:
        return "us-ascii";
    }
}

CHeaderItem::CHeaderItem(HeaderItemKind kind, const char *charset, std::string address,
                         std::string name)
    : m_kind(kind), m_charset(charset), m_address(std::move(address)), m_name(std::move(name)) {}

void CHeaderItem::GetEnvelopeCommand(std::string &out) const {
    if (m_kind == kItemTo || m_kind == kItemCC)
        out = "RCPT TO:<" + m_address + ">";
    else if (m_kind == kItemFrom)
        out = "MAIL FROM:<" + m_address + ">";
}

void CHeaderItem::GetHeaderText(std::string &out) {
    if (m_kind == kItemSubject) {
        Encode(m_name, out);
        return;
    }
    if (!m_name.empty()) {
        Encode(m_name, out);
        out += ' ';
    }
    if (!m_address.empty())
        out += "<" + m_address + ">";
}

CHeaderItemUS::CHeaderItemUS(HeaderItemKind kind, std::string address, std::string name)
    : CHeaderItem(kind, CharsetText(kCharsetUS), std::move(address), std::move(name)) {}

void CHeaderItemUS::Encode(const std::string &name, std::string &out) {
    out += name;
}

CHeaderItemJP::CHeaderItemJP(HeaderItemKind kind, std::string address, std::string name)
    : CHeaderItem(kind, CharsetText(kCharsetJP), std::move(address), std::move(name)) {}

void CHeaderItemJP::Encode(const std::string &name, std::string &out) {
    // Split the text into characters, each converted through the JIS converter on its own,
    // then pack whole characters into words of at most kWordBytes JIS bytes. A word starts
    // in ASCII mode and is closed back to it.
    std::vector<std::string> words;
    std::string word;
    bool twoByte = false;
    auto closeWord = [&] {
        if (twoByte)
            word += CSJIStoJIS::kToAscii;
        words.push_back(std::move(word));
        word.clear();
        twoByte = false;
    };
    m_jis.Reset();
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto b = std::uint8_t(name[i]);
        if (CSJIStoJIS::IsLeadByte(b)) {
            if (i + 1 >= name.size() || !CSJIStoJIS::IsTrailByte(std::uint8_t(name[i + 1])))
                continue; // a lone lead byte is no character
            std::uint8_t lead = b, trail = std::uint8_t(name[++i]);
            CSJIStoJIS::ConvertPair(lead, trail);
            const std::size_t need = (twoByte ? 0 : 3) + 2 + 3;
            if (!word.empty() && word.size() + need > kWordBytes)
                closeWord();
            if (!twoByte)
                word += CSJIStoJIS::kToTwoByte;
            twoByte = true;
            word += char(lead);
            word += char(trail);
        } else {
            const char *piece = m_jis.Translate(b, true);
            const std::size_t length = std::size_t(m_jis.OutputLength());
            const std::size_t need = (twoByte ? 3 : 0) + length;
            if (!word.empty() && word.size() + need > kWordBytes)
                closeWord();
            if (twoByte)
                word += CSJIStoJIS::kToAscii;
            twoByte = false;
            word.append(piece, length);
        }
    }
    if (!word.empty())
        closeWord();

    for (std::size_t w = 0; w < words.size(); ++w) {
        if (w)
            out += kWordFold;
        out += "=?iso-2022-jp?B?";
        m_base64.Reset();
        m_base64.SetLineBreaks(false);
        const std::string &jis = words[w];
        for (std::size_t i = 0; i < jis.size(); ++i) {
            m_base64.Translate(std::uint8_t(jis[i]), i + 1 == jis.size());
            out.append(m_base64.Output(), std::size_t(m_base64.OutputLength()));
        }
        out += "?=";
    }
}

CHeaderItemEU::CHeaderItemEU(HeaderItemKind kind, std::string address, std::string name)
    : CHeaderItem(kind, CharsetText(kCharsetEU), std::move(address), std::move(name)) {}

void CHeaderItemEU::Encode(const std::string &name, std::string &out) {
    std::size_t i = 0;
    while (i < name.size()) {
        if (i)
            out += kWordFold;
        out += "=?iso-8859-1?Q?";
        m_qp.Reset();
        m_qp.SetSoftBreaks(false);
        m_qp.SetEncodedWord(true);
        std::size_t textLength = 0;
        while (i < name.size() && textLength < kWordTextCut) {
            const bool last = i + 1 == name.size();
            m_qp.Translate(std::uint8_t(name[i++]), last);
            out.append(m_qp.Output(), std::size_t(m_qp.OutputLength()));
            textLength += std::size_t(m_qp.OutputLength());
        }
        if (i < name.size()) {
            // One more byte closes the word, as the Base64 words do.
            m_qp.Translate(std::uint8_t(name[i]), i + 1 == name.size());
            ++i;
            out.append(m_qp.Output(), std::size_t(m_qp.OutputLength()));
        }
        out += "?=";
    }
}

#include "message_text.h"

namespace {

constexpr std::string_view kBoundary = "DRANVEL_SMTP_MAIL_SYSTEM_19690212";

bool HoldsLineStartingWith(const std::string &text, const std::string &prefix) {
    for (std::size_t start = 0; start < text.size();) {
        if (text.compare(start, prefix.size(), prefix) == 0)
            return true;
        const std::size_t lf = text.find('\n', start);
        if (lf == std::string::npos)
            break;
        start = lf + 1;
    }
    return false;
}

void AppendRecipients(std::string &out, const char *label,
                      const std::deque<std::unique_ptr<CHeaderItem>> &list) {
    if (list.empty())
        return;
    out += label;
    bool first = true;
    for (const auto &item : list) {
        if (!first)
            out += ",\r\n\t";
        first = false;
        item->GetHeaderText(out);
    }
    out += "\r\n";
}

} // namespace

std::string ChooseBoundary(const std::deque<std::unique_ptr<CMIMEContent>> &parts) {
    // Only a line that starts with "--" and a candidate rejects it, and a line starts with
    // finitely many candidates, so the search ends.
    std::string boundary(kBoundary);
    for (unsigned suffix = 1;; ++suffix) {
        bool clash = false;
        for (const auto &part : parts)
            clash = clash || HoldsLineStartingWith(part->GetContentText(), "--" + boundary);
        if (!clash)
            return boundary;
        boundary = std::string(kBoundary) + "_" + std::to_string(suffix);
    }
}

std::string RenderHeaderLines(const CMailMessage &message, std::string_view dateLine) {
    std::string out;
    auto line = [&out](const char *label, CHeaderItem *item) {
        if (!item)
            return;
        out += label;
        item->GetHeaderText(out);
        out += "\r\n";
    };
    line("From: ", message.From());
    line("Reply-To: ", message.ReplyTo());
    AppendRecipients(out, "To: ", message.ToList());
    AppendRecipients(out, "CC: ", message.CcList());
    line("Subject: ", message.Subject());
    out += dateLine;
    out += "\r\n";
    return out;
}

void ForEachBodyPiece(const CMailMessage &message,
                      const std::function<void(std::string_view)> &put) {
    const auto &parts = message.Parts();
    if (parts.empty())
        return;
    if (parts.size() == 1) {
        put(parts.front()->GetContentText());
        return;
    }
    const std::string boundary = ChooseBoundary(parts);
    put("MIME-Version:1.0\r\n"
        "Content-Type:multipart/mixed;boundary=" +
        boundary +
        "\r\n"
        "\r\n"
        "This is a multi-part message in MIME format.\r\n"
        "\r\n");
    const std::string open = "--" + boundary + "\r\n";
    for (const auto &part : parts) {
        put(open);
        put(part->GetContentText());
    }
    put("--" + boundary + "--\r\n");
}

void ForEachMessagePiece(const CMailMessage &message, std::string_view dateLine,
                         const std::function<void(std::string_view)> &put) {
    put(RenderHeaderLines(message, dateLine));
    ForEachBodyPiece(message, put);
}

namespace {

// The pieces joined, in a string sized once.
template <typename Walk> std::string Joined(Walk walk) {
    std::size_t size = 0;
    walk([&size](std::string_view piece) { size += piece.size(); });
    std::string out;
    out.reserve(size);
    walk([&out](std::string_view piece) { out += piece; });
    return out;
}

} // namespace

std::string RenderBody(const CMailMessage &message) {
    return Joined(
        [&](const std::function<void(std::string_view)> &put) { ForEachBodyPiece(message, put); });
}

std::string RenderMessageText(const CMailMessage &message, std::string_view dateLine) {
    return Joined([&](const std::function<void(std::string_view)> &put) {
        ForEachMessagePiece(message, dateLine, put);
    });
}

#include "message_text.h"

namespace {

constexpr std::string_view kBoundary = "DRANVEL_SMTP_MAIL_SYSTEM_19690212";

bool HoldsLineStartingWith(const std::string &text, const std::string &prefix) {
    for (std::size_t start = 0; start < text.size();) {
        if (text.compare(start, prefix.size(), prefix) == 0) return true;
        const std::size_t lf = text.find('\n', start);
        if (lf == std::string::npos) break;
        start = lf + 1;
    }
    return false;
}

void AppendRecipients(std::string &out, const char *label,
                      const std::deque<std::unique_ptr<CHeaderItem>> &list) {
    if (list.empty()) return;
    out += label;
    bool first = true;
    for (const auto &item : list) {
        if (!first) out += ",\r\n\t";
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
        if (!clash) return boundary;
        boundary = std::string(kBoundary) + "_" + std::to_string(suffix);
    }
}

std::string RenderHeaderLines(const CMailMessage &message, std::string_view dateLine) {
    std::string out;
    auto line = [&out](const char *label, CHeaderItem *item) {
        if (!item) return;
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

std::string RenderBody(const CMailMessage &message) {
    const auto &parts = message.Parts();
    if (parts.empty()) return std::string();
    if (parts.size() == 1) return parts.front()->GetContentText();
    const std::string boundary = ChooseBoundary(parts);
    std::string out = "MIME-Version:1.0\r\n"
                      "Content-Type:multipart/mixed;boundary=" + boundary + "\r\n"
                      "\r\n"
                      "This is a multi-part message in MIME format.\r\n"
                      "\r\n";
    for (const auto &part : parts) {
        out += "--" + boundary + "\r\n";
        out += part->GetContentText();
    }
    out += "--" + boundary + "--\r\n";
    return out;
}

std::string RenderMessageText(const CMailMessage &message, std::string_view dateLine) {
    return RenderHeaderLines(message, dateLine) + RenderBody(message);
}

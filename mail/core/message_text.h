// The text of a message as the SMTP session sends it after DATA: the header lines and the
// body, one part as it is or the multipart frame around all parts. Content only: no
// dot-stuffing and no end-of-data mark.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "mail_message.h"

// The multipart boundary: the component's fixed text, with "_1", "_2", ... appended while some
// part holds a line that begins with "--" and the candidate.
std::string ChooseBoundary(const std::deque<std::unique_ptr<CMIMEContent>> &parts);

// Header lines (From, Reply-To, To, CC, Subject, then `dateLine` + CR LF) of the items the
// message holds.
std::string RenderHeaderLines(const CMailMessage &message, std::string_view dateLine);
std::string RenderBody(const CMailMessage &message);
std::string RenderMessageText(const CMailMessage &message, std::string_view dateLine);

// The same texts in the pieces they are made of (the parts' own texts are not copied), in
// order; a piece is valid only during its call.
void ForEachBodyPiece(const CMailMessage &message,
                      const std::function<void(std::string_view)> &put);
void ForEachMessagePiece(const CMailMessage &message, std::string_view dateLine,
                         const std::function<void(std::string_view)> &put);

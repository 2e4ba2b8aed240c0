#include "mime_content.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "mail_error.h"

namespace {

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens a body file or attachment for binary reading; a path that names no readable file
// (missing, a folder) is 3.
File OpenSource(const std::string &path) {
    std::error_code ec;
    if (path.empty() || std::filesystem::is_directory(path, ec))
        ThrowMailError(kMailFileNotFound);
    File f(std::fopen(path.c_str(), "rb"));
    if (!f)
        ThrowMailError(kMailFileNotFound);
    return f;
}

// Reads up to `size` bytes; a read that stops before the end of the file is 4.
std::size_t ReadBlock(std::FILE *f, char *buffer, std::size_t size) {
    const std::size_t got = std::fread(buffer, 1, size, f);
    if (got < size && std::ferror(f))
        ThrowMailError(kMailFileRead);
    return got;
}

} // namespace

// ---- CTextPlain ----

CTextPlain::CTextPlain(FromFile, const char *charset, std::string path)
    : CMIMEContent(std::move(path)), m_charset(charset) {}

CTextPlain::CTextPlain(const char *charset, std::string body)
    : CMIMEContent(std::string()), m_charset(charset), m_body(std::move(body)) {}

void CTextPlain::Build() {
    m_text = "Content-Type:text/plain;charset=" + m_charset + "\r\n" +
             "Content-Transfer-Encoding:" + TransferEncoding() + "\r\n\r\n";
    if (!m_path.empty())
        ReadBodyFile();
    else
        ReadBodyString();
    m_text += "\r\n";
}

void CTextPlain::ReadBodyFile() {
    // Binary read, every byte kept (0x1A and NUL included); a CR LF pair becomes LF, as a
    // text-mode read would give.
    File f = OpenSource(m_path);
    std::string body;
    char buffer[4096];
    bool pendingCr = false;
    for (;;) {
        const std::size_t got = ReadBlock(f.get(), buffer, sizeof buffer);
        for (std::size_t i = 0; i < got; ++i) {
            const char c = buffer[i];
            if (pendingCr && c != '\n')
                body += '\r';
            pendingCr = (c == '\r');
            if (!pendingCr)
                body += c;
        }
        if (got < sizeof buffer)
            break;
    }
    if (pendingCr)
        body += '\r';
    m_body = std::move(body);
    ReadBodyString();
}

void CTextPlain::ReadBodyString() {
    const std::string_view body = m_body;
    std::size_t start = 0;
    while (start < body.size()) {
        std::size_t end = body.find('\n', start);
        end = (end == std::string_view::npos) ? body.size() : end + 1;
        if (end - start > kPieceBytes)
            end = start + kPieceBytes;
        EncodeLine(body.substr(start, end - start), end == body.size());
        start = end;
    }
}

void CTextPlainUS::EncodeLine(std::string_view piece, bool) {
    // The content itself: no dot is added here (the SMTP session stuffs transmitted lines).
    for (const char c : piece) {
        if (c == '\n') {
            if (m_text.empty() || m_text.back() != '\r')
                m_text += '\r';
        }
        m_text += c;
    }
}

void CTextPlainJP::EncodeLine(std::string_view piece, bool final) {
    for (std::size_t i = 0; i < piece.size(); ++i) {
        const bool lineEnd = i + 1 == piece.size() && (final || piece[i] == '\n');
        m_jis.Translate(std::uint8_t(piece[i]), lineEnd);
        m_text.append(m_jis.Output(), std::size_t(m_jis.OutputLength()));
    }
}

void CTextPlainEU::EncodeLine(std::string_view piece, bool final) {
    for (std::size_t i = 0; i < piece.size(); ++i) {
        const bool lineEnd = i + 1 == piece.size() && (final || piece[i] == '\n');
        m_qp.Translate(std::uint8_t(piece[i]), lineEnd);
        m_text.append(m_qp.Output(), std::size_t(m_qp.OutputLength()));
    }
}

// ---- CAppOctetStream ----

void CAppOctetStream::Build() {
    File f = OpenSource(m_path);
    std::string text = "Content-Type:application/octet-stream;name=\"" + m_name +
                       "\";type=exe\r\n"
                       "Content-Transfer-Encoding:base64\r\n"
                       "Content-Disposition:attachment;filename=\"" +
                       m_name + "\"\r\n\r\n";
    m_base64.Reset();
    // Room for the whole part at once, when the size can be read.
    if (std::fseek(f.get(), 0, SEEK_END) == 0) {
        const long size = std::ftell(f.get());
        if (size > 0) {
            const std::size_t chars = (std::size_t(size) + 2) / 3 * 4;
            text.reserve(text.size() + chars + chars / 76 * 2 + 4);
        }
    }
    if (std::fseek(f.get(), 0, SEEK_SET) != 0)
        ThrowMailError(kMailFileRead);
    // Whole blocks of the file; one is held back so that the file's last byte can be flagged.
    std::vector<char> blocks[2] = {std::vector<char>(kReadBytes), std::vector<char>(kReadBytes)};
    int current = 0;
    std::size_t held = ReadBlock(f.get(), blocks[current].data(), kReadBytes);
    while (held > 0) {
        const std::size_t next =
            held == kReadBytes ? ReadBlock(f.get(), blocks[current ^ 1].data(), kReadBytes) : 0;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(blocks[current].data());
        const std::size_t run = next == 0 ? held - 1 : held;
        m_base64.TranslateRun(bytes, run, text);
        if (next == 0) {
            m_base64.Translate(bytes[held - 1], true);
            text.append(m_base64.Output(), std::size_t(m_base64.OutputLength()));
        }
        current ^= 1;
        held = next;
    }
    text += "\r\n";
    m_text = std::move(text);
}

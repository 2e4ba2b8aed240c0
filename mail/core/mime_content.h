// MIME parts of a message: text parts in the message's charset and file attachments. A part
// is built (read and encoded) once, when it is added, and keeps its finished text.
#pragma once

#include <string>
#include <string_view>

#include "header_item.h"
#include "translater.h"

class CMIMEContent {
  public:
    explicit CMIMEContent(std::string path) : m_path(std::move(path)) {}
    virtual ~CMIMEContent() = default;
    CMIMEContent(const CMIMEContent &) = delete;
    CMIMEContent &operator=(const CMIMEContent &) = delete;

    // Produces the finished text: the part's header lines, an empty line, the encoded body
    // and a final CR LF. Throws a MailErrorCode.
    virtual void Build() = 0;
    const std::string &GetContentText() const { return m_text; }
    const std::string &Path() const { return m_path; }

  protected:
    std::string m_path;
    std::string m_text;
};

class CTextPlain : public CMIMEContent {
  public:
    // A part read from a file at Build, or one holding a copy of a text.
    struct FromFile {};
    CTextPlain(FromFile, const char *charset, std::string path);
    CTextPlain(const char *charset, std::string body);

    void Build() override;

    // Most bytes handed to EncodeLine at once.
    static constexpr std::size_t kPieceBytes = 999;

  protected:
    // Appends the encoded form of one piece of the body to the built text. A piece ends with
    // its LF, or is cut at kPieceBytes; `final` marks the last piece of the body.
    virtual void EncodeLine(std::string_view piece, bool final) = 0;
    virtual const char *TransferEncoding() const { return "7bit"; }

  private:
    void ReadBodyFile();
    void ReadBodyString();

    std::string m_charset;
    std::string m_body;
};

// ASCII text: every line ends with CR LF, whether the source has LF or CR LF.
class CTextPlainUS : public CTextPlain {
  public:
    CTextPlainUS(FromFile f, std::string path)
        : CTextPlain(f, CharsetText(kCharsetUS), std::move(path)) {}
    explicit CTextPlainUS(std::string body)
        : CTextPlain(CharsetText(kCharsetUS), std::move(body)) {}

  protected:
    void EncodeLine(std::string_view piece, bool final) override;
};

// Shift_JIS text, sent as ISO-2022-JP.
class CTextPlainJP : public CTextPlain {
  public:
    CTextPlainJP(FromFile f, std::string path)
        : CTextPlain(f, CharsetText(kCharsetJP), std::move(path)) {}
    explicit CTextPlainJP(std::string body)
        : CTextPlain(CharsetText(kCharsetJP), std::move(body)) {}

  protected:
    void EncodeLine(std::string_view piece, bool final) override;

  private:
    CSJIStoJIS m_jis;
};

// ISO-8859-1 text, sent quoted-printable.
class CTextPlainEU : public CTextPlain {
  public:
    CTextPlainEU(FromFile f, std::string path)
        : CTextPlain(f, CharsetText(kCharsetEU), std::move(path)) {}
    explicit CTextPlainEU(std::string body)
        : CTextPlain(CharsetText(kCharsetEU), std::move(body)) {}

  protected:
    void EncodeLine(std::string_view piece, bool final) override;
    const char *TransferEncoding() const override { return "quoted-printable"; }

  private:
    CQuotedPrintable m_qp;
};

// A file attachment, Base64 encoded.
class CAppOctetStream : public CMIMEContent {
  public:
    explicit CAppOctetStream(std::string path) : CMIMEContent(std::move(path)) {}
    void SetAttachmentName(std::string name) { m_name = std::move(name); }
    const std::string &AttachmentName() const { return m_name; }
    void Build() override;

    static constexpr std::size_t kBlockBytes = 285;
    // The file is read this many bytes at a time (a whole number of blocks).
    static constexpr std::size_t kReadBytes = kBlockBytes * 230;

  private:
    CBase64 m_base64;
    std::string m_name;
};

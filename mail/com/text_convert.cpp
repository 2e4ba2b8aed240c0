#include "text_convert.h"

#include "header_item.h"

namespace quenta {
namespace {

std::string FromWide(const wchar_t *text, UINT length, UINT codePage) {
    if (length == 0)
        return std::string();
    const int n = WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), out.data(), n, nullptr,
                        nullptr);
    return out;
}

} // namespace

NarrowText NarrowText::Ansi(BSTR text) {
    return ForCharset(text, kCharsetUS);
}

NarrowText NarrowText::ForCharset(BSTR text, int charsetKind) {
    NarrowText out;
    if (!text)
        return out;
    out.m_null = false;
    const UINT length = SysStringLen(text);
    if (charsetKind == kCharsetEU) {
        out.m_text.reserve(length);
        for (UINT i = 0; i < length; ++i)
            out.m_text += text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
        return out;
    }
    if (charsetKind == kCharsetJP && IsValidCodePage(932)) {
        out.m_text = FromWide(text, length, 932);
        return out;
    }
    out.m_text = FromWide(text, length, CP_ACP);
    return out;
}

BSTR AnsiToBstr(const char *text) {
    if (!text || !*text)
        return SysAllocString(L"");
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0)
        return SysAllocString(L"");
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n - 1));
    if (out)
        MultiByteToWideChar(CP_ACP, 0, text, -1, out, n);
    return out;
}

} // namespace quenta

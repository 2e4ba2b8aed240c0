// Conversions between the BSTRs of IMail and the narrow texts of the message and settings.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>

namespace quenta {

// A narrow copy of a BSTR that remembers whether the BSTR was null.
class NarrowText {
  public:
    NarrowText() = default;
    const char *get() const { return m_null ? nullptr : m_text.c_str(); }

    // In the ANSI code page.
    static NarrowText Ansi(BSTR text);
    // For a message of the given charset kind: code page 932 for JP, ISO-8859-1 for EU
    // (code units above 0xFF become '?'), the ANSI code page otherwise.
    static NarrowText ForCharset(BSTR text, int charsetKind);

  private:
    bool m_null = true;
    std::string m_text;
};

// A new BSTR from an ANSI text; null when out of memory.
BSTR AnsiToBstr(const char *text);

} // namespace quenta

// The manifest that check_mime.py reads beside each rendered or received message.
#pragma once

#include <string>

namespace mailtest {

// Lower-case hex of the bytes; "-" for none.
inline std::string Hex(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    if (bytes.empty())
        return "-";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

inline std::string ManifestCharset(int charset) {
    return "charset\t" + std::to_string(charset) + "\n";
}

// One address item of the message: its kind, address and display name.
inline std::string ManifestItem(int kind, const std::string &address, const std::string &name) {
    return "item\t" + std::to_string(kind) + "\t" + Hex(address) + "\t" + Hex(name) + "\n";
}

} // namespace mailtest

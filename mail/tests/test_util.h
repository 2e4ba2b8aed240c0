// Helpers shared by the mail core tests.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "suite_paths.h"
#include "translater.h"

namespace mailtest {

// Feeds every segment through the encoder, the last byte of each segment flagged last.
inline std::string Feed(CTranslater &encoder, const std::vector<std::string> &segments) {
    std::string out;
    for (const std::string &segment : segments)
        for (std::size_t i = 0; i < segment.size(); ++i) {
            encoder.Translate(static_cast<unsigned char>(segment[i]), i + 1 == segment.size());
            out.append(encoder.Output(), static_cast<std::size_t>(encoder.OutputLength()));
        }
    return out;
}

inline char Separator() {
#ifdef _WIN32
    return '\\';
#else
    return '/';
#endif
}

// A file in the test scratch folder.
inline std::string ScratchPath(const std::string &name) {
    return suite::TestDataDir() + Separator() + name;
}

inline std::string WriteFile(const std::string &name, const std::string &bytes) {
    const std::string path = ScratchPath(name);
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

inline std::string Base64Decode(const std::string &text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        const std::size_t v = alphabet.find(c);
        if (v == std::string::npos)
            continue;
        bits = (bits << 6) | unsigned(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += char((bits >> count) & 0xFF);
        }
    }
    return out;
}

} // namespace mailtest

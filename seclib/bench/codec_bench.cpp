// Speed of marfel's codec exports: each one over the same N MiB, best of 3.
//
//   codec_bench [--mib N] [--input BYTES_FILE] [--text BASE64_FILE] [--check]
//   build/win64/wine-run build/win64/tests/codec_bench.exe
//   seclib/bench/codec_bench.sh [MiB]      (adds coreutils' base64 on the same data)
//
// Without --input the bytes are a fixed pseudo-random pattern of N MiB. --text names a Base64
// text of those bytes made by another encoder; it gets a decode row of its own. MB/s is 10^6
// bytes a second of the binary side: bytes read by an encoder, bytes written by a decoder. Every
// decode is compared with the bytes; with --check the exit code is 1 when one differs (the
// figures themselves are never judged).
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "marfel.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    unsigned x = 2463534242u;
    for (char &c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

bool ReadFile(const std::string &path, std::string *out) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    out->clear();
    char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        out->append(chunk, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// The deliverables' folder: SUITE_BIN_DIR when set (wine-run sets it), else the program's own.
std::string Folder() {
    if (const char *bin = std::getenv("SUITE_BIN_DIR"))
        return std::string(bin) + "\\";
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    const std::size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

// One call of an export: returns its heap result (or nullptr) and its result length.
using Call = std::function<void *(std::size_t *length)>;

struct Row {
    std::string name;
    std::size_t binaryBytes = 0;
    double seconds = 0; // best of 3
    bool match = true;
};

// Best of three runs of call; the result of the last run stays in *result for checking.
double BestOf3(const Call &call, std::string *result) {
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        std::size_t length = 0;
        const Clock::time_point start = Clock::now();
        void *out = call(&length);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (run == 0 || seconds < best)
            best = seconds;
        result->assign(out ? static_cast<const char *>(out) : "", out ? length : 0);
        if (out)
            HeapFree(GetProcessHeap(), 0, out);
    }
    return best;
}

} // namespace

int main(int argc, char **argv) {
    std::size_t mib = 32;
    std::string inputPath, textPath;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--mib" && hasValue) {
            char *end = nullptr;
            const unsigned long v = std::strtoul(argv[++i], &end, 10);
            if (!end || *end || v == 0 || v > 256) {
                std::fprintf(stderr, "codec_bench: --mib takes 1 to 256\n");
                return 2;
            }
            mib = v;
        } else if (arg == "--input" && hasValue) {
            inputPath = argv[++i];
        } else if (arg == "--text" && hasValue) {
            textPath = argv[++i];
        } else if (arg == "--check") {
            check = true;
        } else {
            std::fprintf(stderr, "usage: codec_bench [--mib N] [--input BYTES_FILE] [--text "
                                 "BASE64_FILE] [--check]\n");
            return 2;
        }
    }

    std::string bytes, text;
    if (inputPath.empty()) {
        bytes = Pattern(mib << 20);
    } else if (!ReadFile(inputPath, &bytes) || bytes.empty() || bytes.size() > 0x7fffffffu / 2) {
        std::fprintf(stderr, "codec_bench: cannot read %s (or it is empty or too large)\n",
                     inputPath.c_str());
        return 1;
    }
    if (!textPath.empty() && !ReadFile(textPath, &text)) {
        std::fprintf(stderr, "codec_bench: cannot read %s\n", textPath.c_str());
        return 1;
    }

    const std::string dllPath = Folder() + "marfel.dll";
    HMODULE dll = LoadLibraryA(dllPath.c_str());
    auto initDigest = dll ? reinterpret_cast<InitMsgDigestLibraryFn>(reinterpret_cast<void *>(
                                GetProcAddress(dll, "InitMsgDigestLibrary")))
                          : nullptr;
    MsgDigestLibraryTable md{};
    if (!initDigest || initDigest(dll, &md) != 0) {
        std::fprintf(stderr, "codec_bench: cannot load or bind %s (%lu)\n", dllPath.c_str(),
                     GetLastError());
        return 1;
    }

    const std::size_t n = bytes.size();
    std::vector<Row> rows;
    std::string out, encodedText, encodedBinary, encodedQp;

    auto encodeRow = [&](const char *name, const Call &call, std::string *keep) {
        Row row;
        row.name = name;
        row.binaryBytes = n;
        row.seconds = BestOf3(call, keep);
        row.match = !keep->empty();
        rows.push_back(row);
    };
    auto decodeRow = [&](const std::string &name, const Call &call) {
        Row row;
        row.name = name;
        row.binaryBytes = n;
        row.seconds = BestOf3(call, &out);
        row.match = out == bytes;
        rows.push_back(row);
    };

    encodeRow(
        "MdBase64EncodeText",
        [&](std::size_t *length) {
            unsigned l = static_cast<unsigned>(n);
            void *r = md.MdBase64EncodeText(bytes.data(), &l);
            *length = l;
            return r;
        },
        &encodedText);
    encodeRow(
        "MdBase64EncodeBinary",
        [&](std::size_t *length) {
            unsigned l = static_cast<unsigned>(n);
            void *r = md.MdBase64EncodeBinary(bytes.data(), &l);
            *length = l;
            return r;
        },
        &encodedBinary);
    auto base64Decode = [&](const std::string &source) {
        return [&md, &source](std::size_t *length) {
            int l = static_cast<int>(source.size());
            void *r = md.MdBase64Decode(source.data(), &l);
            *length = static_cast<std::size_t>(l);
            return r;
        };
    };
    decodeRow("MdBase64Decode, no breaks", base64Decode(encodedText));
    decodeRow("MdBase64Decode, 80-character lines", base64Decode(encodedBinary));
    if (!textPath.empty())
        decodeRow("MdBase64Decode, --text", base64Decode(text));
    encodeRow(
        "MdQuoPrintEncodeBinary",
        [&](std::size_t *length) {
            int l = static_cast<int>(n);
            void *r = md.MdQuoPrintEncodeBinary(bytes.data(), &l);
            *length = static_cast<std::size_t>(l);
            return r;
        },
        &encodedQp);
    decodeRow("MdQuoPrintDecode", [&](std::size_t *length) {
        unsigned l = static_cast<unsigned>(encodedQp.size());
        void *r = md.MdQuoPrintDecode(encodedQp.data(), &l);
        *length = l;
        return r;
    });

    std::printf("marfel codecs, %zu bytes, best of 3 (MB/s of the binary side)\n", n);
    std::printf("%-40s %9s %10s  %s\n", "row", "seconds", "MB/s", "result");
    bool all = true;
    for (const Row &r : rows) {
        const double mbps =
            r.seconds > 0 ? static_cast<double>(r.binaryBytes) / r.seconds / 1e6 : 0;
        std::printf("%-40s %9.4f %10.1f  %s\n", r.name.c_str(), r.seconds, mbps,
                    r.match ? "match" : "MISMATCH");
        all = all && r.match;
    }
    FreeLibrary(dll);
    return check && !all ? 1 : 0;
}

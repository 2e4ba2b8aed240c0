// Sets or checks the checksum of a PE image, as the loader of kernel-mode images verifies it.
//   pe_checksum <image>          writes the checksum into the optional header
//   pe_checksum --check <image>  exits 1 unless the stored checksum is present and right
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

uint32_t Read32(const std::vector<unsigned char> &b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

bool ChecksumOffset(const std::vector<unsigned char> &image, size_t *offset) {
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') {
        return false;
    }
    size_t pe = Read32(image, 0x3C);
    if (pe > image.size() || image.size() - pe < 4 + 20 + 68 || Read32(image, pe) != 0x00004550) {
        return false;
    }
    *offset = pe + 4 + 20 + 64; // signature, file header, optional header up to CheckSum
    return true;
}

uint32_t Compute(const std::vector<unsigned char> &image, size_t offset) {
    uint64_t sum = 0;
    for (size_t i = 0; i < image.size(); i += 2) {
        if (i >= offset && i < offset + 4) {
            continue;
        }
        uint32_t word = image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + image.size());
}

} // namespace

int main(int argc, char **argv) {
    bool check = argc == 3 && std::string(argv[1]) == "--check";
    if (argc != (check ? 3 : 2)) {
        std::fprintf(stderr, "usage: pe_checksum [--check] <image>\n");
        return 2;
    }
    const char *path = argv[argc - 1];
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> image((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    size_t offset = 0;
    if (!in.eof() && !in.good()) {
        std::fprintf(stderr, "pe_checksum: cannot read %s\n", path);
        return 2;
    }
    if (!ChecksumOffset(image, &offset)) {
        std::fprintf(stderr, "pe_checksum: %s is not a PE image\n", path);
        return 2;
    }
    uint32_t sum = Compute(image, offset);
    if (check) {
        uint32_t stored = Read32(image, offset);
        if (stored == 0 || stored != sum) {
            std::fprintf(stderr, "pe_checksum: %s stores 0x%08x, its checksum is 0x%08x\n", path,
                         stored, sum);
            return 1;
        }
        return 0;
    }
    for (int i = 0; i < 4; ++i) {
        image[offset + i] = static_cast<unsigned char>(sum >> (8 * i));
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(image.data()),
              static_cast<std::streamsize>(image.size()));
    if (!out) {
        std::fprintf(stderr, "pe_checksum: cannot write %s\n", path);
        return 2;
    }
    return 0;
}

// Loading marfel.dll by name and checking its heap results, as its callers do.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "marfel.h"
#include "suite_paths.h"

namespace marfel_test {

inline HMODULE LoadMarfel() {
    static HMODULE dll = LoadLibraryA(suite::BinPath("marfel.dll").c_str());
    return dll;
}

// An export of `module` as the function type its table entry declares.
template <typename Fn> Fn ProcAs(HMODULE module, const char *name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The tables bound through the Init exports.
struct Tables {
    CryptDataLibraryTable crypt{};
    MsgDigestLibraryTable digest{};
    bool ok = false;
};

inline const Tables &Bound() {
    static const Tables tables = [] {
        Tables t;
        HMODULE dll = LoadMarfel();
        if (!dll)
            return t;
        auto initCrypt = ProcAs<InitCryptDataLibraryFn>(dll, "InitCryptDataLibrary");
        auto initDigest = ProcAs<InitMsgDigestLibraryFn>(dll, "InitMsgDigestLibrary");
        t.ok = initCrypt && initDigest && initCrypt(dll, &t.crypt) == 0 &&
               initDigest(dll, &t.digest) == 0;
        return t;
    }();
    return tables;
}

template <typename Fn> Fn Export(const char *name) {
    return ProcAs<Fn>(LoadMarfel(), name);
}

// A result's bytes, after checking that its heap block is exactly `blockSize` bytes; the
// block is freed with the process heap.
inline std::string Take(void *result, std::size_t length, std::size_t blockSize) {
    if (!result) {
        ADD_FAILURE() << "no result";
        return {};
    }
    EXPECT_EQ(HeapSize(GetProcessHeap(), 0, result), blockSize);
    std::string bytes(static_cast<const char *>(result), length);
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, result));
    return bytes;
}

inline std::string Hex(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

inline std::string Unhex(const std::string &hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// `bytes` placed flush against a PAGE_NOACCESS page: reading one byte past them faults.
class GuardedInput {
  public:
    explicit GuardedInput(const std::string &bytes) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page_ = info.dwPageSize;
        base_ = static_cast<char *>(
            VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        if (!base_ || !VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old)) {
            ADD_FAILURE() << "guard page not set up";
            return;
        }
        data_ = base_ + page_ - bytes.size();
        memcpy(data_, bytes.data(), bytes.size());
    }
    GuardedInput(const GuardedInput &) = delete;
    GuardedInput &operator=(const GuardedInput &) = delete;
    ~GuardedInput() {
        if (base_)
            VirtualFree(base_, 0, MEM_RELEASE);
    }
    char *data() const { return data_; }

  private:
    SIZE_T page_ = 0;
    char *base_ = nullptr;
    char *data_ = nullptr;
};

} // namespace marfel_test

// Scrambling through the crypto API and the user's default key container. These tests delete
// and recreate the container, so they hold the container lock; the program also runs itself as
// a second process to open data made by the first.
#include <windows.h>

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "crypt_local.h"
#include "marfel_test_util.h"

using namespace marfel_test;

namespace {

const char kChildFlag[] = "--decrypt-rc2";

void DeleteDefaultContainer() {
    HCRYPTPROV prov = 0;
    CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

bool ContainerExists() {
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, 0))
        return false;
    CryptReleaseContext(prov, 0);
    return true;
}

class Crypt : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(Bound().ok); }
    const CryptDataLibraryTable &cd = Bound().crypt;

    std::string EncryptRc2(const std::string &plain) {
        unsigned n = static_cast<unsigned>(plain.size());
        void *r = cd.CdEncryptRC2Data(plain.data(), &n);
        if (!r)
            return {};
        std::string out(static_cast<char *>(r), n);
        HeapFree(GetProcessHeap(), 0, r);
        return out;
    }
    // The plain bytes, or "<null>" when the export refused.
    std::string DecryptRc2(const std::string &wrapped) {
        unsigned n = static_cast<unsigned>(wrapped.size());
        void *r = cd.CdDecryptRC2Data(wrapped.data(), &n);
        if (!r)
            return "<null>";
        EXPECT_EQ(HeapSize(GetProcessHeap(), 0, r), wrapped.size() - 4 - BlobLength(wrapped) + 8);
        std::string out(static_cast<char *>(r), n);
        HeapFree(GetProcessHeap(), 0, r);
        return out;
    }
    static unsigned BlobLength(const std::string &wrapped) {
        unsigned n = 0;
        std::memcpy(&n, wrapped.data(), 4);
        return n;
    }
};

} // namespace

TEST_F(Crypt, Rc4UnderAPassPhrase) {
    const std::string plain = "user@example.com";
    unsigned n = static_cast<unsigned>(plain.size());
    void *r = cd.CdCryptRC4Data("tarnwex.dll", 11, plain.data(), &n, 1);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(n, plain.size());
    EXPECT_EQ(HeapSize(GetProcessHeap(), 0, r), plain.size() + 8);
    const std::string scrambled(static_cast<char *>(r), n);
    EXPECT_EQ(std::string(static_cast<char *>(r) + n, 8), std::string(8, '\0'));
    HeapFree(GetProcessHeap(), 0, r);
    EXPECT_EQ(Hex(scrambled), "b5d68e957125f3b6f5b9814a07d4abca");

    r = cd.CdCryptRC4Data("tarnwex.dll", 11, scrambled.data(), &n, 2);
    EXPECT_EQ(Take(r, n, plain.size() + 8), plain);

    struct Bad {
        const char *pass;
        int passLength;
        const void *data;
        unsigned length;
        bool nullLength;
        int mode;
    };
    const Bad bad[] = {
        {"tarnwex.dll", 11, "abc", 3, false, 3},
        {"tarnwex.dll", 11, "abc", 3, false, 0},
        {nullptr, 11, "abc", 3, false, 1},
        {"tarnwex.dll", 11, nullptr, 3, false, 1},
        {"tarnwex.dll", 11, "abc", 0, false, 1},
        {"tarnwex.dll", 11, "abc", 3, true, 1},            // NULL length pointer
        {"tarnwex.dll", -1, "abc", 3, false, 1},           // negative pass phrase length
        {"tarnwex.dll", 11, "abc", 0xFFFFFFF9u, false, 1}, // length + 8 wraps
    };
    for (const Bad &b : bad) {
        unsigned length = b.length;
        EXPECT_EQ(cd.CdCryptRC4Data(b.pass, b.passLength, b.data, b.nullLength ? nullptr : &length,
                                    b.mode),
                  nullptr)
            << "mode " << b.mode << " length " << b.length;
        EXPECT_EQ(length, b.length);
    }
}

TEST_F(Crypt, Rc2LayoutAndRoundTrip) {
    for (std::size_t size : {7u, 8u, 1u, 100u}) {
        const std::string plain(size, 'p');
        const std::string wrapped = EncryptRc2(plain);
        ASSERT_GE(wrapped.size(), 4u);
        const unsigned blob = BlobLength(wrapped);
        EXPECT_EQ(blob, 140u) << "a 1024-bit exchange key gives a 140-byte SIMPLEBLOB";
        EXPECT_EQ(wrapped.size(), 4 + blob + (size / 8 + 1) * 8) << size << " bytes";
        EXPECT_EQ(DecryptRc2(wrapped), plain);
    }
    std::string tampered = EncryptRc2("secret");
    tampered.back() ^= 0x01;
    EXPECT_EQ(DecryptRc2(tampered), "<null>");

    std::string truncated = EncryptRc2("secret");
    truncated.pop_back();
    EXPECT_EQ(DecryptRc2(truncated), "<null>");

    // Sizes that wrap in 32 bits (length + 8, then 4 + N + length + 8): refused before the
    // data is read.
    for (unsigned huge : {0xFFFFFFF9u, 0xFFFFFFF0u}) {
        unsigned length = huge;
        EXPECT_EQ(cd.CdEncryptRC2Data("x", &length), nullptr);
        EXPECT_EQ(length, huge);
    }
    unsigned n = 0;
    EXPECT_EQ(cd.CdEncryptRC2Data("x", &n), nullptr);
    EXPECT_EQ(cd.CdEncryptRC2Data(nullptr, &n), nullptr);
    EXPECT_EQ(cd.CdEncryptRC2Data("x", nullptr), nullptr);
    EXPECT_EQ(cd.CdDecryptRC2Data("x", nullptr), nullptr);
}

TEST_F(Crypt, PasswordsIntoTheCallersRoom) {
    auto encryptPW = Export<EncryptPWFn>("EncryptPW");
    auto decryptPW = Export<DecryptPWFn>("DecryptPW");
    ASSERT_NE(encryptPW, nullptr);
    ASSERT_NE(decryptPW, nullptr);
    const std::string plain = "password";
    const std::size_t need = EncryptRc2(plain).size();
    ASSERT_GT(need, 0u);

    std::vector<char> room(need + 16, '#');
    unsigned size = static_cast<unsigned>(need - 1);
    EXPECT_EQ(encryptPW(plain.data(), 8, room.data(), &size), 0);
    EXPECT_EQ(size, need - 1);
    EXPECT_EQ(room[0], '#');

    size = static_cast<unsigned>(need);
    ASSERT_EQ(encryptPW(plain.data(), 8, room.data(), &size), 1);
    EXPECT_EQ(size, need);

    std::vector<char> back(16, '#');
    unsigned backSize = 7;
    EXPECT_EQ(decryptPW(room.data(), static_cast<int>(size), back.data(), &backSize), 0);
    EXPECT_EQ(backSize, 7u);
    backSize = 8;
    ASSERT_EQ(decryptPW(room.data(), static_cast<int>(size), back.data(), &backSize), 1);
    EXPECT_EQ(backSize, 8u);
    EXPECT_EQ(std::string(back.data(), 8), plain);

    unsigned untouched = 100;
    EXPECT_EQ(encryptPW(plain.data(), -1, room.data(), &untouched), 0);
    EXPECT_EQ(encryptPW(plain.data(), 0, room.data(), &untouched), 0);
    EXPECT_EQ(encryptPW(nullptr, 8, room.data(), &untouched), 0);
    EXPECT_EQ(encryptPW(plain.data(), 8, nullptr, &untouched), 0);
    EXPECT_EQ(encryptPW(plain.data(), 8, room.data(), nullptr), 0);
    EXPECT_EQ(decryptPW(room.data(), -5, back.data(), &untouched), 0);
    EXPECT_EQ(untouched, 100u);
}

TEST_F(Crypt, DecryptedInASecondProcess) {
    const std::string plain = "across processes";
    const std::string wrapped = EncryptRc2(plain);
    ASSERT_FALSE(wrapped.empty());
    const std::string file = suite::TestDataDir() + "\\marfel_rc2.bin";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << wrapped;
    }
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    std::string command =
        "\"" + std::string(self) + "\" " + kChildFlag + " \"" + file + "\" " + Hex(plain);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 120000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    DeleteFileA(file.c_str());
    EXPECT_EQ(code, 0u) << "the second process could not open the data";
}

TEST_F(Crypt, FreshContainerGetsBothKeyPairs) {
    DeleteDefaultContainer();
    ASSERT_FALSE(ContainerExists());
    EXPECT_FALSE(EncryptRc2("x").empty());
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, 0));
    for (DWORD spec : {DWORD{AT_SIGNATURE}, DWORD{AT_KEYEXCHANGE}}) {
        HCRYPTKEY key = 0;
        EXPECT_TRUE(CryptGetUserKey(prov, spec, &key)) << "key pair " << spec;
        if (key)
            CryptDestroyKey(key);
    }
    CryptReleaseContext(prov, 0);
}

TEST_F(Crypt, DataOfARecreatedContainerIsRefused) {
    const std::string wrapped = EncryptRc2("before");
    ASSERT_FALSE(wrapped.empty());
    DeleteDefaultContainer();
    // Without an exchange key pair there is nothing to unwrap with.
    EXPECT_EQ(DecryptRc2(wrapped), "<null>");
    EXPECT_FALSE(EncryptRc2("after").empty()); // new key pairs
    EXPECT_EQ(DecryptRc2(wrapped), "<null>");
}

TEST_F(Crypt, ConcurrentFirstUseOfTheContainer) {
    DeleteDefaultContainer();
    const MsgDigestLibraryTable &md = Bound().digest;
    std::atomic<int> ok{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            while (!go)
                std::this_thread::yield();
            int n = 0;
            void *r = md.MdHashCramMD5("tim", "tanstaaftanstaaf", "eA==", &n);
            if (r) {
                ++ok;
                HeapFree(GetProcessHeap(), 0, r);
            }
        });
    }
    go = true;
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(ok.load(), 8);
}

TEST(CryptLocal, ImportDesKeyAndContainerName) {
    const marfel::CCryptLocal crypt;
    marfel::CryptProvider prov = crypt.AcquireContext();
    ASSERT_TRUE(prov);

    BYTE blob[marfel::kDesKeyBlobLength] = {};
    auto *header = reinterpret_cast<BLOBHEADER *>(blob);
    header->bType = PLAINTEXTKEYBLOB;
    header->bVersion = CUR_BLOB_VERSION;
    header->aiKeyAlg = CALG_DES;
    const DWORD keyLength = 8;
    std::memcpy(blob + sizeof(BLOBHEADER), &keyLength, 4);
    const std::string key = Unhex("0123456789abcdef"), iv = Unhex("1234567890abcdef");
    std::memcpy(blob + sizeof(BLOBHEADER) + 4, key.data(), 8);

    marfel::CryptKey des = crypt.ImportDesKey(prov.get(), blob, sizeof blob,
                                              reinterpret_cast<const BYTE *>(iv.data()), 8, true);
    ASSERT_TRUE(des);
    BYTE data[24] = {};
    std::memcpy(data, "0123456789abcdef", 16);
    DWORD n = 16;
    ASSERT_TRUE(CryptEncrypt(des.get(), 0, TRUE, 0, data, &n, sizeof data));
    EXPECT_EQ(Hex(std::string(reinterpret_cast<char *>(data), n)),
              "30dd50540ca3d12a6fb90956f0fef9f0b943584dd97237f1");

    // A short IV or a blob of the wrong size gives no key.
    EXPECT_FALSE(crypt.ImportDesKey(prov.get(), blob, sizeof blob,
                                    reinterpret_cast<const BYTE *>(iv.data()), 7, true));
    EXPECT_FALSE(crypt.ImportDesKey(prov.get(), blob, 19, reinterpret_cast<const BYTE *>(iv.data()),
                                    8, true));

    unsigned length = 0;
    char *name = static_cast<char *>(crypt.GetContainerName(prov.get(), &length));
    ASSERT_NE(name, nullptr);
    EXPECT_GT(length, 0u);
    EXPECT_EQ(std::strlen(name), length);
    char user[256];
    DWORD userLength = sizeof user;
    if (GetUserNameA(user, &userLength)) {
        EXPECT_STREQ(name, user);
    }
    HeapFree(GetProcessHeap(), 0, name);

    EXPECT_FALSE(crypt.CreateHash(prov.get(), 0));
    EXPECT_TRUE(crypt.CreateHash(prov.get(), marfel::CCryptLocal::kSha1));
}

// The second process of DecryptedInASecondProcess: exit 0 when the file opens to the text.
int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], kChildFlag) == 0) {
        std::ifstream in(argv[2], std::ios::binary);
        const std::string wrapped((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
        auto decrypt = Export<CdDecryptRC2DataFn>("CdDecryptRC2Data");
        if (!decrypt || wrapped.empty())
            return 2;
        unsigned n = static_cast<unsigned>(wrapped.size());
        void *r = decrypt(wrapped.data(), &n);
        if (!r)
            return 3;
        const bool same = Hex(std::string(static_cast<char *>(r), n)) == argv[3];
        HeapFree(GetProcessHeap(), 0, r);
        return same ? 0 : 4;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The SNMPv3 key functions through the table InitSnmpKeyLibrary fills. The program also runs
// itself as a child that reports its first salts.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "marfel_test_util.h"

using namespace marfel_test;

namespace {

const char kChildFlag[] = "--first-salts";

const SnmpKeyLibraryTable &Snmp() {
    static const SnmpKeyLibraryTable table = [] {
        SnmpKeyLibraryTable t{};
        HMODULE dll = LoadMarfel();
        auto init = dll ? ProcAs<InitSnmpKeyLibraryFn>(dll, "InitSnmpKeyLibrary") : nullptr;
        if (!init || init(dll, &t) != 0)
            t = SnmpKeyLibraryTable{};
        return t;
    }();
    return table;
}

class SnmpKeys : public testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(Snmp().SnmpGetPrivKey, nullptr) << "table not bound"; }
    const SnmpKeyLibraryTable &sk = Snmp();
};

std::string Bytes(const unsigned char *p, std::size_t n) {
    return std::string(reinterpret_cast<const char *>(p), n);
}

const std::string kDesKeyText = "0123456789abcdef";
const std::string kSalt = Unhex("1234567890abcdef");
const unsigned char *SaltBytes() {
    return reinterpret_cast<const unsigned char *>(kSalt.data());
}

// SnmpGetPrivKey on `data`; the written bytes, or "<0>".
std::string Privacy(const SnmpKeyLibraryTable &sk, int flags, const std::string &key,
                    const std::string &data, int mode, int outSize,
                    const std::string &salt = kSalt) {
    std::vector<unsigned char> out(static_cast<std::size_t>(outSize) + 8, 0xEE);
    const int n = sk.SnmpGetPrivKey(flags, key.c_str(), data.data(), static_cast<int>(data.size()),
                                    reinterpret_cast<const unsigned char *>(salt.data()),
                                    static_cast<int>(salt.size()), mode, out.data(), outSize);
    for (std::size_t i = static_cast<std::size_t>(outSize); i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xEE) << "written past out";
    if (n == 0)
        return "<0>";
    return Bytes(out.data(), static_cast<std::size_t>(n));
}

} // namespace

TEST_F(SnmpKeys, TableIsComplete) {
    SnmpKeyLibraryTable t;
    std::memset(&t, 0xA5, sizeof t);
    EXPECT_EQ(ProcAs<InitSnmpKeyLibraryFn>(LoadMarfel(), "InitSnmpKeyLibrary")(LoadMarfel(), &t),
              0);
    for (std::size_t i = 0; i < 5; ++i) {
        void *entry;
        std::memcpy(&entry, reinterpret_cast<char *>(&t) + i * sizeof entry, sizeof entry);
        EXPECT_EQ(entry, reinterpret_cast<void *>(
                             GetProcAddress(LoadMarfel(), marfel_names::kSnmpKey[i])));
    }
}

TEST_F(SnmpKeys, LocalizedKeysOfRfc3414) {
    const char *engine = "000000000000000000000002";
    unsigned char key[32];
    std::memset(key, 0xEE, sizeof key);
    ASSERT_EQ(sk.SnmpMakeLocalizedKey(SNMPKEY_AUTH_MD5, "maplesyrup", engine, key, sizeof key), 16);
    EXPECT_EQ(Hex(Bytes(key, 16)), "526f5eed9fcce26f8964c2930787d82b");
    EXPECT_EQ(key[16], 0xEE);
    ASSERT_EQ(sk.SnmpMakeLocalizedKey(SNMPKEY_AUTH_SHA1, "maplesyrup", engine, key, sizeof key),
              20);
    EXPECT_EQ(Hex(Bytes(key, 20)), "6695febc9288e36282235fc7151f128497b38f3f");
    EXPECT_EQ(key[20], 0xEE);

    GuardedInput longEngine(std::string(130, '0') + '\0');
    struct Bad {
        int flags;
        const char *password;
        const char *engine;
        int keySize;
    };
    const Bad bad[] = {
        {SNMPKEY_AUTH_MD5, "maplesyrup", engine, 20},
        {SNMPKEY_AUTH_SHA1, "maplesyrup", engine, 20},
        {0, "maplesyrup", engine, 32},
        {SNMPKEY_AUTH_MD5, "", engine, 32},
        {SNMPKEY_AUTH_MD5, "maplesyrup", "000", 32},
        {SNMPKEY_AUTH_MD5, "maplesyrup", "", 32},
        {SNMPKEY_AUTH_MD5, "maplesyrup", longEngine.data(), 32},
        {SNMPKEY_AUTH_MD5, nullptr, engine, 32},
        {SNMPKEY_AUTH_MD5, "maplesyrup", nullptr, 32},
    };
    for (const Bad &b : bad) {
        std::memset(key, 0xEE, sizeof key);
        EXPECT_EQ(sk.SnmpMakeLocalizedKey(b.flags, b.password, b.engine, key, b.keySize), 0)
            << "flags " << b.flags << " key size " << b.keySize;
        EXPECT_EQ(key[0], 0xEE);
    }
    EXPECT_EQ(sk.SnmpMakeLocalizedKey(SNMPKEY_AUTH_MD5, "maplesyrup", engine, nullptr, 32), 0);
}

TEST_F(SnmpKeys, HmacOfRfc2202) {
    const std::string message = "what do ya want for nothing?";
    struct Case {
        int flags;
        unsigned macLength;
        std::size_t written;
        std::string digest;
    };
    const std::string md5 = "750c783e6ab0b503eaa86e310a5db738";
    const std::string sha1 = "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79";
    const Case cases[] = {
        {SNMPKEY_AUTH_MD5, 0, 16, md5},
        {SNMPKEY_AUTH_MD5, 40, 16, md5},
        {SNMPKEY_AUTH_MD5, 12, 12, md5.substr(0, 24)},
        {SNMPKEY_AUTH_MD5 | SNMPKEY_AUTH_SHA1, 0, 16, md5},
        {SNMPKEY_AUTH_SHA1, 0, 20, sha1},
        {SNMPKEY_AUTH_SHA1, 40, 20, sha1},
        {SNMPKEY_AUTH_SHA1, 12, 12, sha1.substr(0, 24)},
    };
    for (const Case &c : cases) {
        unsigned char mac[48];
        std::memset(mac, 0xEE, sizeof mac);
        ASSERT_EQ(sk.SnmpGetAuthKey(c.flags, "4a656665", message.data(),
                                    static_cast<int>(message.size()), mac, c.macLength),
                  0);
        EXPECT_EQ(Hex(Bytes(mac, c.written)), c.digest)
            << "flags " << c.flags << " mac length " << c.macLength;
        EXPECT_EQ(mac[c.written], 0xEE) << "marker after the code";
    }

    GuardedInput longKey(std::string(130, 'a') + '\0');
    unsigned char mac[20];
    std::memset(mac, 0xEE, sizeof mac);
    EXPECT_EQ(sk.SnmpGetAuthKey(SNMPKEY_AUTH_MD5, longKey.data(), "m", 1, mac, 12), 1);
    EXPECT_EQ(sk.SnmpGetAuthKey(0, "4a656665", "m", 1, mac, 12), 1);
    EXPECT_EQ(sk.SnmpGetAuthKey(SNMPKEY_AUTH_MD5, "4a6", "m", 1, mac, 12), 1);
    EXPECT_EQ(sk.SnmpGetAuthKey(SNMPKEY_AUTH_MD5, "", "m", 1, mac, 12), 1);
    EXPECT_EQ(sk.SnmpGetAuthKey(SNMPKEY_AUTH_MD5, "4a656665", "m", -1, mac, 12), 1);
    EXPECT_EQ(sk.SnmpGetAuthKey(SNMPKEY_AUTH_MD5, nullptr, "m", 1, mac, 12), 1);
    EXPECT_EQ(sk.SnmpGetAuthKey(SNMPKEY_AUTH_MD5, "4a656665", nullptr, 1, mac, 12), 1);
    EXPECT_EQ(sk.SnmpGetAuthKey(SNMPKEY_AUTH_MD5, "4a656665", "m", 1, nullptr, 12), 1);
    EXPECT_EQ(mac[0], 0xEE);
    // An empty message is a message.
    EXPECT_EQ(sk.SnmpGetAuthKey(SNMPKEY_AUTH_MD5, "4a656665", "", 0, mac, 0), 0);
}

TEST_F(SnmpKeys, DesPrivacy) {
    const int des = SNMPKEY_PRIV_DES;
    const std::string plain = "0123456789abcdef";
    const std::string cipher = Unhex("30dd50540ca3d12a6fb90956f0fef9f0b943584dd97237f1");
    EXPECT_EQ(Privacy(sk, des, kDesKeyText, plain, 1, 24), cipher);
    EXPECT_EQ(Privacy(sk, des, kDesKeyText, plain, 1, 16), "<0>");

    // Decryption gives every byte, padding included.
    EXPECT_EQ(Privacy(sk, des, kDesKeyText, cipher, 2, 24), plain + std::string(8, '\x08'));
    EXPECT_EQ(Privacy(sk, des, kDesKeyText, cipher.substr(0, 16), 2, 16), plain);
    // As an agent pads: 13 bytes and three zero bytes, no PKCS #5 (from openssl enc -nopad).
    const std::string agent = Unhex("0b64e784e3c3cf54217ad08c3c98326c");
    EXPECT_EQ(Privacy(sk, des, kDesKeyText, agent, 0, 16), std::string("thirteen byte\0\0\0", 16));

    // 13 bytes encrypt with room for the padded block only.
    EXPECT_EQ(Privacy(sk, des, kDesKeyText, "thirteen byte", 1, 13), "<0>");
    EXPECT_EQ(Privacy(sk, des, kDesKeyText, "thirteen byte", 1, 16).size(), 16u);

    EXPECT_EQ(Privacy(sk, 0x21, kDesKeyText, plain, 1, 24), "<0>");
    EXPECT_EQ(Privacy(sk, des | SNMPKEY_PRIV_REFUSED, kDesKeyText, plain, 1, 24), "<0>");
    EXPECT_EQ(Privacy(sk, SNMPKEY_AUTH_MD5, kDesKeyText, plain, 1, 24), "<0>");
    EXPECT_EQ(Privacy(sk, des, kDesKeyText, cipher.substr(0, 12), 2, 24), "<0>");
    EXPECT_EQ(Privacy(sk, des, "01234567", plain, 1, 24), "<0>");
    EXPECT_EQ(Privacy(sk, des, kDesKeyText, plain, 1, 24, kSalt.substr(0, 7)), "<0>");

    unsigned char out[32];
    const auto *salt = SaltBytes();
    EXPECT_EQ(sk.SnmpGetPrivKey(des, kDesKeyText.c_str(), plain.data(), -16, salt, 8, 1, out, 24),
              0);
    EXPECT_EQ(sk.SnmpGetPrivKey(des, kDesKeyText.c_str(), plain.data(), 16, salt, 8, 1, out, -24),
              0);
    EXPECT_EQ(sk.SnmpGetPrivKey(des, kDesKeyText.c_str(), plain.data(), 0, salt, 8, 1, out, 24), 0);
    EXPECT_EQ(sk.SnmpGetPrivKey(des, nullptr, plain.data(), 16, salt, 8, 1, out, 24), 0);
    EXPECT_EQ(sk.SnmpGetPrivKey(des, kDesKeyText.c_str(), nullptr, 16, salt, 8, 1, out, 24), 0);
    EXPECT_EQ(sk.SnmpGetPrivKey(des, kDesKeyText.c_str(), plain.data(), 16, nullptr, 8, 1, out, 24),
              0);
    EXPECT_EQ(
        sk.SnmpGetPrivKey(des, kDesKeyText.c_str(), plain.data(), 16, salt, 8, 1, nullptr, 24), 0);
}

TEST_F(SnmpKeys, InitialisationVector) {
    const std::string preIv = "fedcba9876543210";
    const std::string key32 = kDesKeyText + preIv;
    unsigned char iv[9];
    std::memset(iv, 0xEE, sizeof iv);
    ASSERT_EQ(sk.SnmpMakeIvParSpec(iv, SaltBytes(), 8, key32.c_str()), 0);
    std::string want;
    const std::string pre = Unhex(preIv);
    for (int i = 0; i < 8; ++i)
        want += static_cast<char>(kSalt[i] ^ pre[i]);
    EXPECT_EQ(Bytes(iv, 8), want);
    EXPECT_EQ(iv[8], 0xEE);

    // The privacy functions use that IV: the same as the bare key with the salt replaced by it.
    const std::string plain = "scoped PDU bytes";
    EXPECT_EQ(Privacy(sk, SNMPKEY_PRIV_DES, key32, plain, 1, 24),
              Privacy(sk, SNMPKEY_PRIV_DES, kDesKeyText, plain, 1, 24, want));

    struct Code {
        std::string key;
        int saltLength;
        int result;
    };
    const Code codes[] = {
        {key32, 7, 1},
        {kDesKeyText, 8, 2},
        {kDesKeyText + "1", 8, 3},
        {kDesKeyText + std::string(98, '1'), 8, 3},
        {kDesKeyText + std::string(96, '1'), 8, 0},
    };
    for (const Code &c : codes)
        EXPECT_EQ(sk.SnmpMakeIvParSpec(iv, SaltBytes(), c.saltLength, c.key.c_str()), c.result)
            << c.key;
    EXPECT_EQ(sk.SnmpMakeIvParSpec(iv, SaltBytes(), 8, nullptr), 2);
    EXPECT_EQ(sk.SnmpMakeIvParSpec(nullptr, SaltBytes(), 8, key32.c_str()), 1);
    EXPECT_EQ(sk.SnmpMakeIvParSpec(iv, nullptr, 8, key32.c_str()), 1);

    // 18 digits: one pre-IV byte, the rest of the IV is the salt's.
    ASSERT_EQ(sk.SnmpMakeIvParSpec(iv, SaltBytes(), 8, (kDesKeyText + "ff").c_str()), 0);
    EXPECT_EQ(iv[0], static_cast<unsigned char>(kSalt[0] ^ 0xFF));
    EXPECT_EQ(Bytes(iv + 1, 7), kSalt.substr(1));
}

TEST_F(SnmpKeys, Salts) {
    unsigned char salt[9];
    std::memset(salt, 0xEE, sizeof salt);
    ASSERT_EQ(sk.SnmpMakeSalt(1, salt, 9), 8);
    EXPECT_EQ(Bytes(salt, 6), std::string("\0\0\0\x01\0\0", 6));
    const unsigned value = salt[6] << 8 | salt[7];
    EXPECT_EQ(value % 2, 0u);
    EXPECT_LT(value, 32768u);
    EXPECT_EQ(salt[8], 0xEE);
    EXPECT_EQ(sk.SnmpMakeSalt(1, salt, 7), 0);
    EXPECT_EQ(sk.SnmpMakeSalt(1, nullptr, 8), 0);

    std::string previous = Bytes(salt, 8);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(sk.SnmpMakeSalt(1, salt, 8), 8);
        const std::string current = Bytes(salt, 8);
        ASSERT_NE(current, previous) << "salt " << i << " repeats its predecessor";
        previous = current;
    }
}

TEST_F(SnmpKeys, SaltsFromManyThreads) {
    std::vector<std::thread> threads;
    std::vector<int> good(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            unsigned char salt[8];
            for (int i = 0; i < 1000; ++i) {
                if (sk.SnmpMakeSalt(t, salt, 8) == 8 && salt[3] == t && salt[7] % 2 == 0 &&
                    salt[6] < 0x80)
                    ++good[t];
            }
        });
    }
    for (auto &th : threads)
        th.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(good[t], 1000) << "thread " << t;
}

namespace {

// The first four salts of a new process running this program.
std::string ChildSalts(const std::string &file) {
    char self[MAX_PATH];
    if (!GetModuleFileNameA(nullptr, self, MAX_PATH))
        return {};
    std::string command = "\"" + std::string(self) + "\" " + kChildFlag + " \"" + file + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return {};
    const DWORD waited = WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (waited != WAIT_OBJECT_0 || code != 0)
        return {};
    std::ifstream in(file, std::ios::binary);
    std::string salts((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DeleteFileA(file.c_str());
    return salts;
}

} // namespace

TEST_F(SnmpKeys, SaltsDifferBetweenProcesses) {
    const std::string first = ChildSalts(suite::TestDataDir() + "\\marfel_salts_1.bin");
    const std::string second = ChildSalts(suite::TestDataDir() + "\\marfel_salts_2.bin");
    ASSERT_EQ(first.size(), 32u);
    ASSERT_EQ(second.size(), 32u);
    EXPECT_NE(first, second) << "two processes started the same salt sequence";
}

int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], kChildFlag) == 0) {
        auto makeSalt = Export<SnmpMakeSaltFn>("SnmpMakeSalt");
        if (!makeSalt)
            return 2;
        std::string salts;
        unsigned char salt[8];
        for (int i = 0; i < 4; ++i) {
            if (makeSalt(7, salt, 8) != 8)
                return 3;
            salts.append(reinterpret_cast<char *>(salt), 8);
        }
        std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
        out << salts;
        return out ? 0 : 4;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

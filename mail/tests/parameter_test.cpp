// The SMTP settings in the registry: defaults, round trips through the real marfel, bounds,
// the access each open asks for, and vantrel's choice of root.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "library_folder.h"
#include "mail_error.h"
#include "parameter.h"
#include "suite_paths.h"
#include "suite_process.h"

#undef GetUserName

using namespace std::string_literals;

namespace {

const char *const kKeyPath = "Software\\Dranvel\\Common\\SMTP";

std::wstring Wide(const std::string &text) {
    return std::wstring(text.begin(), text.end());
}

void DeleteSettings() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKeyPath);
    RegDeleteTreeA(HKEY_CURRENT_USER, kKeyPath);
    RegDeleteKeyA(HKEY_CURRENT_USER, kKeyPath);
}

bool KeyExists(HKEY root) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void WriteRaw(const char *value, DWORD type, const std::string &bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, value, 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

bool ReadRaw(const char *value, std::string &bytes) {
    std::vector<char> buffer(4096);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kKeyPath, value, RRF_RT_ANY, nullptr, buffer.data(),
                     &size) != ERROR_SUCCESS)
        return false;
    bytes.assign(buffer.data(), size);
    return true;
}

// marfel's own scrambling of `text`, for comparison with what is stored.
std::string MarfelScramble(const std::string &text) {
    HMODULE marfel = LoadLibraryA(suite::BinPath("marfel.dll").c_str());
    if (!marfel)
        return "no marfel";
    auto init = reinterpret_cast<InitCryptDataLibraryFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(marfel, "InitCryptDataLibrary")));
    CryptDataLibraryTable table{};
    if (!init || init(marfel, &table) != 0)
        return "no table";
    unsigned length = static_cast<unsigned>(text.size());
    void *out = table.CdCryptRC4Data("tarnwex.dll", 11, text.data(), &length, 1);
    std::string bytes(static_cast<const char *>(out), length);
    HeapFree(GetProcessHeap(), 0, out);
    return bytes;
}

template <typename Operation> int CodeOf(Operation &&operation) {
    return CatchMailError(std::forward<Operation>(operation));
}

std::vector<REGSAM> g_opens;
void RecordOpen(REGSAM access) {
    g_opens.push_back(access);
}

// A folder of the scratch area holding copies of the named deliverables.
std::string MakeFolder(const std::string &name,
                       const std::vector<std::pair<std::string, std::string>> &files) {
    const std::string folder = suite::TestDataDir() + "\\" + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    for (const auto &[from, to] : files)
        CopyFileA(from.c_str(), (folder + "\\" + to).c_str(), FALSE);
    return folder;
}

class Settings : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteSettings();
        quenta::SetLibraryFolderForTesting(Wide(suite::BinDir()).c_str());
        SetEnvironmentVariableA("VANTREL_TEST", nullptr);
        g_opens.clear();
    }
    void TearDown() override {
        CParameter::SetOpenObserverForTesting(nullptr);
        quenta::SetLibraryFolderForTesting(nullptr);
        SetEnvironmentVariableA("VANTREL_TEST", nullptr);
        DeleteSettings();
    }
};

} // namespace

TEST_F(Settings, EmptyRegistryGivesDefaultsAndCreatesNothing) {
    CParameter settings;
    ASSERT_TRUE(settings.HasMarfel());
    CParameter::SetOpenObserverForTesting(&RecordOpen);
    EXPECT_STREQ(settings.GetServer(), "");
    EXPECT_EQ(settings.GetPort(), 25);
    EXPECT_EQ(settings.GetTimeout(), 60);
    EXPECT_STREQ(settings.GetUserName(), "");
    EXPECT_STREQ(settings.GetPassword(), "");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE));
    ASSERT_FALSE(g_opens.empty());
    for (REGSAM access : g_opens)
        EXPECT_EQ(access, static_cast<REGSAM>(KEY_READ));
}

TEST_F(Settings, SettersCreateTheChainAndValuesRoundTrip) {
    CParameter settings;
    settings.SetServer("mail.example.test");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE));
    settings.SetPort(2525);
    settings.SetTimeout(7);
    EXPECT_STREQ(settings.GetServer(), "mail.example.test");
    EXPECT_EQ(settings.GetPort(), 2525);
    EXPECT_EQ(settings.GetTimeout(), 7);
    // Reads open for reading only, even with the key present.
    CParameter::SetOpenObserverForTesting(&RecordOpen);
    settings.GetServer();
    settings.GetPort();
    for (REGSAM access : g_opens)
        EXPECT_EQ(access, static_cast<REGSAM>(KEY_READ));
    // A null server writes an empty value; a name over 255 characters is not written.
    settings.SetServer(nullptr);
    EXPECT_STREQ(settings.GetServer(), "");
    const std::string longest(255, 's');
    settings.SetServer(longest.c_str());
    EXPECT_EQ(std::string(settings.GetServer()), longest);
    settings.SetServer(std::string(256, 't').c_str());
    EXPECT_EQ(std::string(settings.GetServer()), longest);
}

TEST_F(Settings, CredentialsRoundTripAsMarfelScramblesThem) {
    CParameter settings;
    for (const std::string &text :
         {std::string(), std::string("u"), std::string("p@ss word"), std::string(256, 'k')}) {
        SCOPED_TRACE(text.size());
        ASSERT_EQ(CodeOf([&] { settings.SetUserName(text.c_str()); }), 0);
        ASSERT_EQ(CodeOf([&] { settings.SetPassword(text.c_str()); }), 0);
        std::string raw;
        ASSERT_TRUE(ReadRaw("UserName", raw));
        EXPECT_EQ(raw, text.empty() ? std::string() : MarfelScramble(text));
        EXPECT_EQ(std::string(settings.GetUserName()), text);
        EXPECT_EQ(std::string(settings.GetPassword()), text);
        // A second object reads what the first stored.
        CParameter other;
        EXPECT_EQ(std::string(other.GetPassword()), text);
    }
    // A null text changes nothing; a 257-byte one is refused and nothing is written.
    settings.SetUserName("kept");
    EXPECT_EQ(CodeOf([&] { settings.SetUserName(nullptr); }), 0);
    EXPECT_EQ(CodeOf([&] { settings.SetUserName(std::string(257, 'x').c_str()); }), kMailRegistry);
    EXPECT_STREQ(settings.GetUserName(), "kept");
}

TEST_F(Settings, BadStoredValues) {
    CParameter settings;
    WriteRaw("UserName", REG_BINARY, std::string(257, 'x'));
    EXPECT_EQ(CodeOf([&] { settings.GetUserName(); }), kMailRegistry);
    WriteRaw("Password", REG_SZ, "plain\0"s);
    EXPECT_EQ(CodeOf([&] { settings.GetPassword(); }), kMailRegistry);
    WriteRaw("Port", REG_SZ, "2525\0"s);
    EXPECT_EQ(settings.GetPort(), 25);
    WriteRaw("Timeout", REG_BINARY, "\x05\0\0\0\0\0\0\0"s);
    EXPECT_EQ(settings.GetTimeout(), 60);
    WriteRaw("Server", REG_SZ, std::string(256, 'h'));
    EXPECT_STREQ(settings.GetServer(), "");
    WriteRaw("Server", REG_SZ, std::string(255, 'h'));
    EXPECT_EQ(std::string(settings.GetServer()), std::string(255, 'h'));
    WriteRaw("Server", REG_EXPAND_SZ, "%TEMP%\\x\0"s);
    EXPECT_STREQ(settings.GetServer(), "%TEMP%\\x");
    WriteRaw("Server", REG_DWORD, "\x01\0\0\0"s);
    EXPECT_STREQ(settings.GetServer(), "");
}

namespace {

// Gives the settings key the DACL of `sddl`.
bool SetKeyDacl(const char *sddl) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, WRITE_DAC, &key) != ERROR_SUCCESS)
        return false;
    PSECURITY_DESCRIPTOR sd = nullptr;
    bool ok =
        ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr) &&
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
    LocalFree(sd);
    RegCloseKey(key);
    return ok;
}

} // namespace

// A key that is there but cannot be read is a failure for the credentials, not an empty
// user name; the other settings fall back to their defaults.
TEST_F(Settings, UnreadableKeyIsNoEmptyCredential) {
    CParameter settings;
    settings.SetServer("mail.example.test");
    ASSERT_EQ(CodeOf([&] { settings.SetUserName("someone"); }), 0);
    struct Restore {
        ~Restore() { SetKeyDacl("D:(A;;KA;;;WD)"); }
    } restore;
    ASSERT_TRUE(SetKeyDacl("D:(D;;KR;;;WD)(A;;KA;;;WD)"));
    EXPECT_EQ(CodeOf([&] { settings.GetUserName(); }), kMailRegistry);
    EXPECT_EQ(CodeOf([&] { settings.GetPassword(); }), kMailRegistry);
    EXPECT_STREQ(settings.GetServer(), "");
    EXPECT_EQ(settings.GetPort(), 25);
    ASSERT_TRUE(SetKeyDacl("D:(A;;KA;;;WD)"));
    EXPECT_STREQ(settings.GetUserName(), "someone");
}

TEST_F(Settings, VantrelChoosesTheRoot) {
    const std::string marfel = suite::BinPath("marfel.dll");
    const std::string vantrel = suite::BinPath("vantrel.dll");
    const std::string noExport =
        suite::TestDataDir() + "\\..\\tests\\vantrel_noexport\\vantrel.dll";
    const std::string full =
        MakeFolder("quenta_full", {{marfel, "marfel.dll"}, {vantrel, "vantrel.dll"}});
    const std::string bare =
        MakeFolder("quenta_noexport", {{marfel, "marfel.dll"}, {noExport, "vantrel.dll"}});
    const std::string none = MakeFolder("quenta_novantrel", {{marfel, "marfel.dll"}});
    struct Case {
        const std::string *folder;
        const char *mode;
        HKEY root;
    };
    const Case cases[] = {
        {&full, nullptr, HKEY_LOCAL_MACHINE}, {&full, "3", HKEY_LOCAL_MACHINE},
        {&full, "1", HKEY_CURRENT_USER},      {&full, "fail", HKEY_LOCAL_MACHINE},
        {&full, "null", HKEY_LOCAL_MACHINE},  {&bare, "1", HKEY_LOCAL_MACHINE},
        {&none, "1", HKEY_LOCAL_MACHINE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(*c.folder + " " + (c.mode ? c.mode : "-"));
        quenta::SetLibraryFolderForTesting(Wide(*c.folder).c_str());
        SetEnvironmentVariableA("VANTREL_TEST", c.mode);
        CParameter settings;
        EXPECT_EQ(settings.Root(), c.root);
        EXPECT_TRUE(settings.HasMarfel());
        settings.SetPort(587);
        EXPECT_TRUE(KeyExists(c.root));
        EXPECT_EQ(settings.GetPort(), 587);
        DeleteSettings();
    }
}

TEST_F(Settings, MarfelOnlyFromTheLibraryFolder) {
    const std::string empty = MakeFolder("quenta_nomarfel", {});
    const std::string decoyFolder =
        MakeFolder("quenta_decoy", {{suite::BinPath("marfel.dll"), "marfel.dll"}});
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(decoyFolder.c_str());
    quenta::SetLibraryFolderForTesting(Wide(empty).c_str());
    {
        CParameter settings;
        EXPECT_FALSE(settings.HasMarfel());
        EXPECT_EQ(CodeOf([&] { settings.GetUserName(); }), kMailDependentDll);
        EXPECT_EQ(CodeOf([&] { settings.SetPassword("x"); }), kMailDependentDll);
        EXPECT_STREQ(settings.GetServer(), "");
    }
    EXPECT_EQ(GetModuleHandleA((decoyFolder + "\\marfel.dll").c_str()), nullptr);
    SetCurrentDirectoryA(previous);
}

namespace {

// Runs quenta_probe.exe with `arguments` under Wine's AppDefaults version `version`; its exit code.
DWORD RunProbeAs(const char *version, const char *arguments) {
    return suite::RunBesideSelfAs(version, "quenta_probe.exe", arguments, 1000);
}

} // namespace

// Windows XP asks no vantrel; NT 4.0 and Windows 95 load no marfel: credentials and the
// marfel path give 104 (quenta_probe prints what differed).
TEST_F(Settings, OlderWindowsVersions) {
    EXPECT_EQ(RunProbeAs("winxp", "version winxp"), 0u);
    EXPECT_EQ(RunProbeAs("nt40", "version old"), 0u);
    EXPECT_EQ(RunProbeAs("win95", "version old"), 0u);
}

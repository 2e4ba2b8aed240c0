// The registry script runner: keys, values and their modes in both directions, replacements,
// and scripts that do not parse, which write nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "registrar.h"

namespace {

const wchar_t *const kBase = L"Software\\QuentaRegistrarTest";

std::wstring Read(const std::wstring &path, const wchar_t *name = nullptr) {
    wchar_t data[512] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, (std::wstring(kBase) + path).c_str(), name, RRF_RT_REG_SZ,
                     nullptr, data, &size) != ERROR_SUCCESS)
        return L"(missing)";
    return data;
}

DWORD ReadDword(const std::wstring &path, const wchar_t *name) {
    DWORD data = 0, size = sizeof data;
    RegGetValueW(HKEY_CURRENT_USER, (std::wstring(kBase) + path).c_str(), name, RRF_RT_REG_DWORD,
                 nullptr, &data, &size);
    return data;
}

bool Exists(const std::wstring &path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kBase) + path).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void Make(const std::wstring &path) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kBase) + path).c_str(), 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (key)
        RegCloseKey(key);
}

class Registrar : public ::testing::Test {
  protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kBase); }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
        RegDeleteKeyW(HKEY_CURRENT_USER, kBase);
    }
};

const wchar_t *const kScript = LR"(HKCU
{
    NoRemove Software
    {
        NoRemove QuentaRegistrarTest
        {
            Plain = s 'plain %NAME%'
            {
                val Count = d '42'
                val Hex = d 0x10
                Inner = s 'it''s %PATH%'
            }
            ForceRemove Forced
            {
                Fresh = s ''
            }
            Delete Gone
            NoRemove Kept
            {
                Mine
            }
        }
    }
})";

TEST_F(Registrar, RegistersAndUnregistersEveryMode) {
    Make(L"\\Forced\\Stale");
    Make(L"\\Gone\\Below");
    const quenta::Replacements replacements = {{L"NAME", L"value"},
                                               {L"PATH", L"C:\\it's here\\x.dll"}};
    ASSERT_EQ(quenta::RunRegistryScript(kScript, replacements, true), S_OK);
    EXPECT_EQ(Read(L"\\Plain"), L"plain value");
    EXPECT_EQ(ReadDword(L"\\Plain", L"Count"), 42u);
    EXPECT_EQ(ReadDword(L"\\Plain", L"Hex"), 0x10u);
    EXPECT_EQ(Read(L"\\Plain\\Inner"), L"it's C:\\it's here\\x.dll");
    EXPECT_FALSE(Exists(L"\\Forced\\Stale"));
    EXPECT_TRUE(Exists(L"\\Forced\\Fresh"));
    EXPECT_FALSE(Exists(L"\\Gone"));
    EXPECT_TRUE(Exists(L"\\Kept\\Mine"));

    Make(L"\\Plain\\Foreign");
    ASSERT_EQ(quenta::RunRegistryScript(kScript, replacements, false), S_OK);
    EXPECT_TRUE(Exists(L"\\Plain\\Foreign")); // a key with a subkey it did not name stays
    EXPECT_FALSE(Exists(L"\\Plain\\Inner"));
    EXPECT_FALSE(Exists(L"\\Forced"));
    EXPECT_TRUE(Exists(L"\\Kept"));
    EXPECT_FALSE(Exists(L"\\Kept\\Mine"));
    EXPECT_TRUE(Exists(L""));
    // Twice leaves it as once.
    ASSERT_EQ(quenta::RunRegistryScript(kScript, replacements, false), S_OK);
    EXPECT_TRUE(Exists(L"\\Plain\\Foreign"));
}

TEST_F(Registrar, ScriptsThatDoNotParseWriteNothing) {
    const wchar_t *const bad[] = {
        L"HKCU { NoRemove Software { QuentaRegistrarTest = s 'open }}",
        L"HKCU { NoRemove Software { QuentaRegistrarTest = s '%UNKNOWN%' }}",
        L"HKCU { NoRemove Software { QuentaRegistrarTest = s '%NAME' }}",
        L"HKCU { NoRemove Software { QuentaRegistrarTest = x 'text' }}",
        L"HKCU { NoRemove Software { QuentaRegistrarTest = d 'ten' }}",
        L"HKCU { NoRemove Software { QuentaRegistrarTest { val V }}}",
        L"HKCU { NoRemove Software { QuentaRegistrarTest }",
        L"HKXX { Software }",
        L"HKCU { NoRemove Software { QuentaRegistrarTest } } }",
    };
    for (const wchar_t *script : bad) {
        SCOPED_TRACE(testing::Message() << std::string(script, script + wcslen(script)));
        EXPECT_EQ(quenta::RunRegistryScript(script, {{L"NAME", L"n"}}, true), E_INVALIDARG);
        EXPECT_FALSE(Exists(L""));
    }
    std::wstring deep = L"HKCU {";
    for (int i = 0; i < 100; ++i)
        deep += L" K {";
    for (int i = 0; i < 101; ++i)
        deep += L" }";
    EXPECT_EQ(quenta::RunRegistryScript(deep, {}, true), E_INVALIDARG);
}

} // namespace

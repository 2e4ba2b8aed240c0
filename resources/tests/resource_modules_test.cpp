// Both resource modules load as data files into the x64 process and give up a string.
#include <windows.h>

#include <gtest/gtest.h>

#include "suite_paths.h"

namespace {

struct DataModuleCase {
    const char *file;
    const char *expected;
};

class ResourceModule : public testing::TestWithParam<DataModuleCase> {};

} // namespace

TEST_P(ResourceModule, LoadsAsDataFileAndReadsString) {
    const std::string path = suite::BinPath(GetParam().file);
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << path << ": error " << GetLastError();
    char text[64] = {};
    EXPECT_GT(LoadStringA(module, 1, text, sizeof text), 0);
    EXPECT_STREQ(text, GetParam().expected);
    FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(Modules, ResourceModule,
                         testing::Values(DataModuleCase{"nimbrel.dll", "nimbrel"},
                                         DataModuleCase{"gorwin.dll", "gorwin"}));

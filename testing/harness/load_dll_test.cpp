// Loads one deliverable of the width (SUITE_DLL_FILE) from the build's bin folder.
#include <windows.h>

#include <gtest/gtest.h>

#include "suite_paths.h"

TEST(Deliverable, LoadsAndFrees) {
    const std::string path = suite::BinPath(SUITE_DLL_FILE);
    HMODULE dll = LoadLibraryA(path.c_str());
    ASSERT_NE(dll, nullptr) << path << ": LoadLibrary failed, error " << GetLastError();
    EXPECT_TRUE(FreeLibrary(dll));
}

// Loads one deliverable of the width (SUITE_DLL_FILE) from the build's bin folder.
#include <windows.h>

#include <gtest/gtest.h>

#include "suite_handles.h"
#include "suite_paths.h"

TEST(Deliverable, LoadsAndFrees) {
    const std::string path = suite::BinPath(SUITE_DLL_FILE);
    HMODULE dll = LoadLibraryA(path.c_str());
    ASSERT_NE(dll, nullptr) << path << ": LoadLibrary failed, error " << GetLastError();
    EXPECT_TRUE(FreeLibrary(dll));
}

// A program that loads and frees the DLL again and again (as the dispatcher does with an access
// library at every open and close) keeps what it had: more cycles than the process has TLS
// indexes, so an index kept per load would end the process.
TEST(Deliverable, EveryUnloadGivesBackWhatItsLoadTook) {
    const std::string path = suite::BinPath(SUITE_DLL_FILE);
    ASSERT_GT(suite::HandleCount(), 0u) << "the system's handle table cannot be read";
    auto cycle = [&] {
        HMODULE dll = LoadLibraryA(path.c_str());
        if (!dll)
            return false;
        return FreeLibrary(dll) != FALSE;
    };
    ASSERT_TRUE(cycle()) << path << ": error " << GetLastError(); // the first load's own set-up
    const DWORD handles = suite::HandleCount();
    const size_t indexes = suite::FreeTlsIndexes();
    ASSERT_GT(indexes, 0u);
    for (size_t done = 0; done < indexes + 200;) {
        for (int i = 0; i < 100; ++i, ++done)
            ASSERT_TRUE(cycle()) << "cycle " << done;
        ASSERT_EQ(suite::HandleCount(), handles) << "after " << done << " cycles";
        ASSERT_EQ(suite::FreeTlsIndexes(), indexes) << "after " << done << " cycles";
    }
}

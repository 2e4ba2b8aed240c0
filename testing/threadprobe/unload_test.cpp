#include <windows.h>

#include <gtest/gtest.h>

#include "suite_handles.h"

// Loading, using and freeing a DLL of the suite many times (more times than the process has
// TLS indexes) leaves the process's handles and TLS indexes as they were, however the DLL's
// thread library was used on the loading thread.
TEST(DllUnload, ThreadLibraryUseIsGivenBack) {
    ASSERT_GT(suite::HandleCount(), 0u) << "the system's handle table cannot be read";
    using UseFn = int(WINAPI *)();
    auto cycle = [] {
        HMODULE dll = LoadLibraryA("thread_probe.dll");
        if (!dll)
            return -100;
        const auto use = reinterpret_cast<UseFn>(
            reinterpret_cast<void *>(GetProcAddress(dll, "ThreadProbeUse")));
        const int result = use ? use() : -101;
        return FreeLibrary(dll) ? result : -102;
    };
    ASSERT_EQ(cycle(), 42) << "error " << GetLastError(); // the first load's own set-up
    const DWORD handles = suite::HandleCount();
    const size_t indexes = suite::FreeTlsIndexes();
    ASSERT_GT(indexes, 0u);
    for (size_t done = 0; done < indexes + 200;) {
        for (int i = 0; i < 100; ++i, ++done)
            ASSERT_EQ(cycle(), 42) << "cycle " << done;
        ASSERT_EQ(suite::HandleCount(), handles) << "after " << done << " cycles";
        ASSERT_EQ(suite::FreeTlsIndexes(), indexes) << "after " << done << " cycles";
    }
}

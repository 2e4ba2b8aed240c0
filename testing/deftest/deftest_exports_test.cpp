#include <windows.h>

#include <gtest/gtest.h>

TEST(DefExports, StdcallExportResolvesByUndecoratedName) {
    HMODULE dll = LoadLibraryA("deftest.dll");
    ASSERT_NE(dll, nullptr) << "LoadLibrary failed: " << GetLastError();
    using AddFn = int(WINAPI *)(int, int);
    auto add = reinterpret_cast<AddFn>(reinterpret_cast<void *>(GetProcAddress(dll, "DefTestAdd")));
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add(40, 2), 42);
    EXPECT_EQ(reinterpret_cast<void *>(GetProcAddress(dll, MAKEINTRESOURCEA(1))),
              reinterpret_cast<void *>(add));
    FreeLibrary(dll);
}

// tandrel.sys under Wine: its message table as the event log reads it, and its start as a
// kernel service on a system without parallel ports.
#include "suite_paths.h"

#include <gtest/gtest.h>
#include <windows.h>

typedef LONG NTSTATUS;
#include "tandrel_msg.h"

#include <string>

namespace {

// Not in mingw-w64's winerror.h: what StartService reports for STATUS_NO_SUCH_DEVICE.
constexpr DWORD kErrorNoSuchDevice = 433;

std::wstring Wide(const std::string &s) {
    return std::wstring(s.begin(), s.end());
}

TEST(Messages, TextsAsTheEventLogShowsThem) {
    HMODULE image = LoadLibraryExW(Wide(suite::BinPath("tandrel.sys")).c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr) << GetLastError();
    struct {
        DWORD code;
        const wchar_t *text;
    } const cases[] = {
        {static_cast<DWORD>(PAR_INSUFFICIENT_RESOURCES),
         L"Not enough memory was available to allocate internal storage needed for the device "
         L"%1.\r\n"},
        {static_cast<DWORD>(PAR_CANT_FIND_PORT_DRIVER),
         L"Unable to get device object pointer for port object.\r\n"},
        {static_cast<DWORD>(PAR_NO_SYMLINK), L"Unable to create the symbolic link for %1.\r\n"},
        {static_cast<DWORD>(PAR_NO_DEVICE_MAP_CREATED),
         L"Unable to create the device map entry for %1.\r\n"},
    };
    EXPECT_EQ(cases[0].code, 0xC0070003u);
    EXPECT_EQ(cases[1].code, 0xC0070015u);
    EXPECT_EQ(cases[2].code, 0x80070010u);
    EXPECT_EQ(cases[3].code, 0x80070011u);
    for (const auto &c : cases) {
        wchar_t buf[512] = {};
        DWORD n =
            FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, image,
                           c.code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buf, 512, nullptr);
        ASSERT_NE(n, 0u) << std::hex << c.code << " error " << GetLastError();
        EXPECT_EQ(std::wstring(buf, n), c.text) << std::hex << c.code;
    }
    // A code the table does not hold.
    wchar_t buf[64];
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, image,
                             0xC0070004, 0, buf, 64, nullptr),
              0u);
    FreeLibrary(image);
}

TEST(Service, StartFailsWithoutParallelPorts) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr) << GetLastError();
    const wchar_t *name = L"tandrel_smoke";
    // A service left by an interrupted run goes first.
    if (SC_HANDLE stale = OpenServiceW(manager, name, DELETE)) {
        DeleteService(stale);
        CloseServiceHandle(stale);
    }
    std::wstring path = Wide(suite::BinPath("tandrel.sys"));
    SC_HANDLE service = CreateServiceW(
        manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr) << GetLastError();
    SetLastError(0);
    BOOL started = StartServiceW(service, 0, nullptr);
    DWORD error = GetLastError();
    if (started) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
    }
    EXPECT_FALSE(started);
    EXPECT_EQ(error, kErrorNoSuchDevice);
    EXPECT_TRUE(DeleteService(service)) << GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

} // namespace

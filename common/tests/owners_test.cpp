// The owners close what they hold exactly once, whichever way their scope ends.
#include <winsock2.h>

#include <windows.h>

#include <stdexcept>
#include <utility>

#include <gtest/gtest.h>

#include "win_owners.h"
#include "win_socket_owner.h"

namespace {

bool IsOpen(HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}

bool IsOpen(HKEY k) {
    DWORD subkeys = 0;
    return RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool IsOpen(SOCKET s) {
    int type = 0;
    int length = sizeof type;
    return getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char *>(&type), &length) == 0;
}

HANDLE NewEvent() {
    HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(h, nullptr) << "CreateEvent failed, error " << GetLastError();
    return h;
}

TEST(Handle, ClosesAtScopeEndAndNotAfterRelease) {
    HANDLE raw = NewEvent();
    {
        win::Handle owner(raw);
        EXPECT_TRUE(owner);
        EXPECT_EQ(owner.get(), raw);
    }
    EXPECT_FALSE(IsOpen(raw));

    raw = NewEvent();
    {
        win::Handle owner(raw);
        EXPECT_EQ(owner.release(), raw);
        EXPECT_FALSE(owner);
        EXPECT_EQ(owner.get(), nullptr);
    }
    EXPECT_TRUE(IsOpen(raw));
    CloseHandle(raw);
}

TEST(Handle, MoveHandsOverAndAssignmentClosesTheOldOne) {
    HANDLE first = NewEvent();
    HANDLE second = NewEvent();
    win::Handle a(first);
    win::Handle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), first);

    win::Handle c(second);
    c = std::move(b);
    EXPECT_FALSE(IsOpen(second));
    EXPECT_TRUE(IsOpen(first));
    EXPECT_EQ(c.get(), first);

    auto &self = c;
    c = std::move(self);
    EXPECT_TRUE(IsOpen(first));
    c.reset();
    EXPECT_FALSE(IsOpen(first));
    EXPECT_FALSE(c);
}

TEST(Handle, ResetAndPutCloseWhatIsHeld) {
    HANDLE first = NewEvent();
    HANDLE second = NewEvent();
    win::Handle owner(first);
    owner.reset(second);
    EXPECT_FALSE(IsOpen(first));
    EXPECT_EQ(owner.get(), second);

    HANDLE *place = owner.put();
    EXPECT_FALSE(IsOpen(second));
    ASSERT_NE(place, nullptr);
    EXPECT_EQ(*place, nullptr);
    *place = NewEvent();
    EXPECT_TRUE(owner);
    EXPECT_TRUE(IsOpen(owner.get()));
}

TEST(Handle, EitherFailureValueHoldsNothing) {
    win::Handle none;
    EXPECT_FALSE(none);
    win::Handle invalid(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(invalid);
    invalid.reset(); // closes nothing
    EXPECT_EQ(invalid.get(), nullptr);
}

// The owner releases on an early return and while an exception unwinds.
HANDLE HeldUntilReturn(bool early) {
    HANDLE raw = NewEvent();
    win::Handle owner(raw);
    if (early)
        return raw;
    throw std::runtime_error("unwinding");
}

TEST(Handle, ReleasesOnEveryWayOut) {
    EXPECT_FALSE(IsOpen(HeldUntilReturn(true)));
    HANDLE seen = nullptr;
    try {
        seen = NewEvent();
        win::Handle owner(seen);
        throw std::runtime_error("unwinding");
    } catch (const std::runtime_error &) {
    }
    EXPECT_FALSE(IsOpen(seen));
    EXPECT_THROW(HeldUntilReturn(false), std::runtime_error);
}

TEST(RegKey, ClosesTheKeyOpenedThroughPut) {
    HKEY seen = nullptr;
    {
        win::RegKey key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()),
                  ERROR_SUCCESS);
        seen = key.get();
        EXPECT_TRUE(IsOpen(seen));
        win::RegKey moved(std::move(key));
        EXPECT_FALSE(key);
        EXPECT_TRUE(IsOpen(seen));
    }
    EXPECT_FALSE(IsOpen(seen));
}

TEST(Module, FreesItsReference) {
    ASSERT_EQ(GetModuleHandleA("deftest.dll"), nullptr) << "deftest.dll is loaded already";
    {
        win::Module dll(LoadLibraryA("deftest.dll"));
        ASSERT_TRUE(dll) << "LoadLibrary deftest.dll failed, error " << GetLastError();
        win::Module other(LoadLibraryA("deftest.dll"));
        other.reset();
        EXPECT_EQ(GetModuleHandleA("deftest.dll"), dll.get()) << "one reference is left";
    }
    EXPECT_EQ(GetModuleHandleA("deftest.dll"), nullptr);
}

TEST(Socket, ClosesTheSocket) {
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET raw = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(raw, INVALID_SOCKET) << "socket failed, error " << WSAGetLastError();
    {
        win::Socket s(raw);
        EXPECT_TRUE(s);
        win::Socket moved(std::move(s));
        EXPECT_FALSE(s);
        EXPECT_EQ(s.get(), INVALID_SOCKET);
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));
    WSACleanup();
}

DWORD WINAPI TryEnter(void *section) {
    auto *cs = static_cast<CRITICAL_SECTION *>(section);
    if (!TryEnterCriticalSection(cs))
        return 0;
    LeaveCriticalSection(cs);
    return 1;
}

// Whether another thread can enter the section now.
bool FreeForOthers(CRITICAL_SECTION &section) {
    HANDLE thread = CreateThread(nullptr, 0, TryEnter, &section, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    win::Handle owner(thread);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD entered = 0;
    GetExitCodeThread(thread, &entered);
    return entered == 1;
}

TEST(SectionLock, HoldsForItsScopeAndLeavesOnUnwinding) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    {
        win::SectionLock lock(section);
        EXPECT_FALSE(FreeForOthers(section));
    }
    EXPECT_TRUE(FreeForOthers(section));
    try {
        win::SectionLock lock(section);
        throw std::runtime_error("unwinding");
    } catch (const std::runtime_error &) {
    }
    EXPECT_TRUE(FreeForOthers(section));
    DeleteCriticalSection(&section);
}

} // namespace

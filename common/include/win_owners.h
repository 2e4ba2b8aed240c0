// Move-only owners of Windows resources: each closes what it holds when it goes out of scope,
// is reset or is assigned another. The socket owner is in win_socket_owner.h, which needs the
// caller's choice of Windows Sockets header.
#pragma once

#include <windows.h>

namespace win {

// Holds one value of Traits::Type; Traits gives the empty value, whether a value is held
// (Valid) and how it is released (Close).
template <class Traits> class Owner {
  public:
    using Type = typename Traits::Type;

    Owner() noexcept = default;
    explicit Owner(Type value) noexcept : value_(value) {}
    ~Owner() { reset(); }

    Owner(Owner &&other) noexcept : value_(other.release()) {}
    Owner &operator=(Owner &&other) noexcept {
        reset(other.release());
        return *this;
    }
    Owner(const Owner &) = delete;
    Owner &operator=(const Owner &) = delete;

    Type get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return Traits::Valid(value_); }

    // Gives the value up without closing it.
    Type release() noexcept {
        const Type value = value_;
        value_ = Traits::Empty();
        return value;
    }

    // Closes what is held, then holds `value`.
    void reset(Type value = Traits::Empty()) noexcept {
        const Type old = value_;
        value_ = value;
        if (Traits::Valid(old))
            Traits::Close(old);
    }

    // Closes what is held and gives the place for a function that returns a value through a
    // pointer (RegOpenKeyExW(..., key.put())).
    Type *put() noexcept {
        reset();
        return &value_;
    }

  private:
    Type value_ = Traits::Empty();
};

struct HandleTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return nullptr; }
    // Functions that fail give either of the two.
    static bool Valid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { CloseHandle(h); }
};

struct RegKeyTraits {
    using Type = HKEY;
    static Type Empty() noexcept { return nullptr; }
    static bool Valid(Type k) noexcept { return k != nullptr; }
    static void Close(Type k) noexcept { RegCloseKey(k); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type Empty() noexcept { return nullptr; }
    static bool Valid(Type m) noexcept { return m != nullptr; }
    static void Close(Type m) noexcept { FreeLibrary(m); }
};

// A kernel object handle (CloseHandle).
using Handle = Owner<HandleTraits>;
// An open registry key (RegCloseKey).
using RegKey = Owner<RegKeyTraits>;
// A reference to a loaded module (FreeLibrary).
using Module = Owner<ModuleTraits>;

// Holds a critical section, entered, for the guard's scope.
class SectionLock {
  public:
    explicit SectionLock(CRITICAL_SECTION &section) noexcept : section_(section) {
        EnterCriticalSection(&section_);
    }
    ~SectionLock() { LeaveCriticalSection(&section_); }
    SectionLock(const SectionLock &) = delete;
    SectionLock &operator=(const SectionLock &) = delete;

  private:
    CRITICAL_SECTION &section_;
};

} // namespace win

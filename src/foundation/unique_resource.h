#pragma once

#include <windows.h>

#include <utility>

namespace kvshake {

// Owns one handle-like value and closes it through Traits when it goes out of scope.
// Closing keeps the caller's last error, so a failure code read after cleanup is still the
// failure's own.
template <typename Traits>
class unique_any {
  public:
    using pointer = typename Traits::type;

    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }

    void reset(pointer value = Traits::invalid()) noexcept {
        pointer old = std::exchange(value_, value);
        if (old != Traits::invalid()) {
            const DWORD lastError = ::GetLastError();
            Traits::close(old);
            ::SetLastError(lastError);
        }
    }

    // Releases the current value before handing out its address to an out-parameter.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

  private:
    pointer value_ = Traits::invalid();
};

struct handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::CloseHandle(value); }
};

// CreateFileW reports failure with INVALID_HANDLE_VALUE rather than null.
struct file_handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type value) noexcept { ::CloseHandle(value); }
};

struct hkey_traits {
    using type = HKEY;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::RegCloseKey(value); }
};

// Memory that the system hands out to be freed with LocalFree (security descriptors and the like).
struct hlocal_traits {
    using type = HLOCAL;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::LocalFree(value); }
};

// A view of a file mapping, unmapped when it goes.
struct view_traits {
    using type = void*;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::UnmapViewOfFile(value); }
};

using unique_handle = unique_any<handle_traits>;
using unique_file = unique_any<file_handle_traits>;
using unique_hkey = unique_any<hkey_traits>;
using unique_hlocal = unique_any<hlocal_traits>;
using unique_view = unique_any<view_traits>;

}  // namespace kvshake

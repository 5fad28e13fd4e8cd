#pragma once

#include <windows.h>

#include "foundation/unique_resource.h"

namespace kvshake {

inline constexpr wchar_t kMutexForActive[] = L"mutexForActive";
inline constexpr wchar_t kMutexForChecking[] = L"mutexForChecking";
inline constexpr wchar_t kMutexForWrite[] = L"mutexForWrite";

// Opens the named mutex, or creates it when no process has yet, and waits for it without a
// time-out. The calling thread owns the mutex when this returns; a mutex abandoned by a thread
// that ended while owning it counts as acquired. Null only when the mutex could not be created.
[[nodiscard]] HANDLE LockNamedMutex(const wchar_t* name) noexcept;

// Releases a mutex taken with LockNamedMutex and closes the handle that it returned.
void UnlockNamedMutex(HANDLE mutex) noexcept;

// Holds a named mutex for the life of the object. While held, the handle is published in the
// mutex's shared handle variable (g_hMutexForActive and the like), which therefore only ever
// holds the current holder's handle; it is cleared before the mutex is given back.
class ScopedNamedMutex {
  public:
    ScopedNamedMutex(const wchar_t* name, HANDLE& sharedHandle) noexcept;
    ~ScopedNamedMutex();
    ScopedNamedMutex(const ScopedNamedMutex&) = delete;
    ScopedNamedMutex& operator=(const ScopedNamedMutex&) = delete;

    // Gives the mutex back before the end of the scope; the destructor then does nothing.
    void Unlock() noexcept;

  private:
    HANDLE& sharedHandle_;
    HANDLE mutex_;
};

}  // namespace kvshake

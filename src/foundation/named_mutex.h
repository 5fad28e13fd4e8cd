#pragma once

#include <windows.h>

#include <string>

#include "foundation/unique_resource.h"

namespace kvshake {

inline constexpr wchar_t kMutexForActive[] = L"mutexForActive";
inline constexpr wchar_t kMutexForChecking[] = L"mutexForChecking";
inline constexpr wchar_t kMutexForWrite[] = L"mutexForWrite";

// Any process of the session may open the mutexes and hold one for as long as it likes, so every
// wait has a bound: short on a thread that handles the user's windows, longer on a check thread.
inline constexpr DWORD kInterfaceLockWaitMs = 2000;
inline constexpr DWORD kCheckLockWaitMs = 10000;

// Opens the named mutex, or creates it when no process has yet, and waits for it at most waitMs.
// The calling thread owns the mutex when this returns a handle; a mutex abandoned by a thread
// that ended while owning it counts as acquired. A mutex is made so that every tab of the user,
// whatever its integrity level, can open it, and is opened with just the rights to wait for it
// and release it. Null when it could be neither opened nor created, or when the time was up
// (WAIT_TIMEOUT); the last error says which.
[[nodiscard]] HANDLE LockNamedMutex(const wchar_t* name, DWORD waitMs) noexcept;

// Releases a mutex taken with LockNamedMutex and closes the handle that it returned.
void UnlockNamedMutex(HANDLE mutex) noexcept;

// The security descriptor that the named mutexes are created with; null when none could be made.
unique_hlocal NamedMutexSecurity() noexcept;

// The log line of a named mutex that could not be had.
std::string LockFailureText(const wchar_t* name, DWORD error);

enum class OnLockFailure { WriteToLog, StayQuiet };

// Holds a named mutex for the life of the object. While held, the handle is kept in the mutex's
// holder variable of the process (g_hMutexForActive and the like), which therefore only ever
// holds the current holder's handle; it is cleared before the mutex is given back.
// A mutex that cannot be had leaves the scope unlocked, and the caller skips the work that needed
// it; that is written to the log with its error code, except by the log itself, whose lines take
// this very lock.
class ScopedNamedMutex {
  public:
    ScopedNamedMutex(const wchar_t* name, HANDLE& sharedHandle, DWORD waitMs = kInterfaceLockWaitMs,
                     OnLockFailure onFailure = OnLockFailure::WriteToLog) noexcept;
    ~ScopedNamedMutex();
    ScopedNamedMutex(const ScopedNamedMutex&) = delete;
    ScopedNamedMutex& operator=(const ScopedNamedMutex&) = delete;

    // Gives the mutex back before the end of the scope; the destructor then does nothing.
    void Unlock() noexcept;

    bool Held() const noexcept { return mutex_ != nullptr; }
    // Why the mutex could not be had; ERROR_SUCCESS when it was.
    DWORD Error() const noexcept { return error_; }

  private:
    HANDLE& sharedHandle_;
    HANDLE mutex_;
    DWORD error_ = ERROR_SUCCESS;
};

}  // namespace kvshake

#include "foundation/named_mutex.h"

#include <utility>

namespace kvshake {

HANDLE LockNamedMutex(const wchar_t* name) noexcept {
    HANDLE mutex = ::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name);
    if (!mutex) {
        mutex = ::CreateMutexW(nullptr, TRUE, name);
        // When another process created the mutex between our open and our create, we were handed
        // the existing mutex without owning it, so we wait for it like any other opener.
        if (!mutex || ::GetLastError() != ERROR_ALREADY_EXISTS) return mutex;
    }
    ::WaitForSingleObject(mutex, INFINITE);  // WAIT_ABANDONED also leaves us the owner
    return mutex;
}

void UnlockNamedMutex(HANDLE mutex) noexcept {
    if (!mutex) return;
    ::ReleaseMutex(mutex);
    unique_handle closer(mutex);
}

ScopedNamedMutex::ScopedNamedMutex(const wchar_t* name, HANDLE& sharedHandle) noexcept
    : sharedHandle_(sharedHandle), mutex_(LockNamedMutex(name)) {
    sharedHandle_ = mutex_;
}

ScopedNamedMutex::~ScopedNamedMutex() { Unlock(); }

void ScopedNamedMutex::Unlock() noexcept {
    if (!mutex_) return;
    sharedHandle_ = nullptr;
    UnlockNamedMutex(std::exchange(mutex_, nullptr));
}

}  // namespace kvshake

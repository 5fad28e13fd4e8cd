#include "foundation/named_mutex.h"

#include <sddl.h>

#include <utility>

#include "foundation/log.h"
#include "foundation/text.h"

namespace kvshake {

namespace {

// What a tab needs of a named mutex: to wait for it and to release it.
constexpr DWORD kMutexRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// Tabs of one user run at low integrity (Protected Mode) and at medium side by side: every one of
// them may wait for and release the mutex, whoever made it, and nobody may do more. Windows XP
// knows no integrity label and refuses the first form; the second serves it.
constexpr const wchar_t* kMutexSecurity[] = {
    L"D:(A;;0x00100001;;;WD)S:(ML;;NW;;;LW)",
    L"D:(A;;0x00100001;;;WD)",
};

// A new mutex is owned by its creator. When another process created it between our open and our
// create, we are refused the full rights that CreateMutexW asks of an existing mutex, or handed
// it unowned; either way it is opened and waited for again.
HANDLE OpenOrCreate(const wchar_t* name, bool& owned) noexcept {
    constexpr int kAttempts = 3;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (HANDLE mutex = ::OpenMutexW(kMutexRights, FALSE, name)) return mutex;
        const unique_hlocal descriptor = NamedMutexSecurity();
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
        HANDLE mutex = ::CreateMutexW(&attributes, TRUE, name);
        if (mutex) {
            owned = ::GetLastError() != ERROR_ALREADY_EXISTS;
            return mutex;
        }
        if (::GetLastError() != ERROR_ACCESS_DENIED) return nullptr;
    }
    return nullptr;
}

}  // namespace

unique_hlocal NamedMutexSecurity() noexcept {
    unique_hlocal descriptor;
    for (const wchar_t* form : kMutexSecurity) {
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(form, SDDL_REVISION_1,
                                                                   descriptor.put(), nullptr)) {
            break;
        }
    }
    return descriptor;
}

HANDLE LockNamedMutex(const wchar_t* name, DWORD waitMs) noexcept {
    bool owned = false;
    HANDLE mutex = OpenOrCreate(name, owned);
    if (!mutex || owned) return mutex;
    const DWORD wait = ::WaitForSingleObject(mutex, waitMs);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) return mutex;
    unique_handle closer(mutex);
    ::SetLastError(wait == WAIT_TIMEOUT ? WAIT_TIMEOUT : ::GetLastError());
    return nullptr;
}

void UnlockNamedMutex(HANDLE mutex) noexcept {
    if (!mutex) return;
    ::ReleaseMutex(mutex);
    unique_handle closer(mutex);
}

std::string LockFailureText(const wchar_t* name, DWORD error) {
    return StringPrintf("Lock %s fail, Error Code:%d", WideToAnsi(name).value_or("").c_str(),
                        static_cast<int>(error));
}

ScopedNamedMutex::ScopedNamedMutex(const wchar_t* name, HANDLE& sharedHandle, DWORD waitMs,
                                   OnLockFailure onFailure) noexcept
    : sharedHandle_(sharedHandle), mutex_(LockNamedMutex(name, waitMs)) {
    error_ = mutex_ ? ERROR_SUCCESS : ::GetLastError();
    sharedHandle_ = mutex_;
    if (mutex_ || onFailure == OnLockFailure::StayQuiet) return;
    try {
        WriteError(LockFailureText(name, error_));
    } catch (...) {
    }
}

ScopedNamedMutex::~ScopedNamedMutex() { Unlock(); }

void ScopedNamedMutex::Unlock() noexcept {
    if (!mutex_) return;
    sharedHandle_ = nullptr;
    UnlockNamedMutex(std::exchange(mutex_, nullptr));
}

}  // namespace kvshake

#pragma once

#include <windows.h>

namespace kvshake {

// The module object: one for the life of the loaded module. It keeps the module's instance
// handle, the lock count that DllCanUnloadNow reads, and the per-user registration switch.
class CMySolutionPluginModule {
  public:
    // Every live helper object, script bridge object, class factory held by a client and
    // LockServer(TRUE) holds one lock.
    LONG Lock() noexcept { return ::InterlockedIncrement(&lockCount_); }
    LONG Unlock() noexcept { return ::InterlockedDecrement(&lockCount_); }
    LONG GetLockCount() const noexcept { return lockCount_; }

    HINSTANCE Instance() const noexcept { return instance_; }
    void SetInstance(HINSTANCE instance) noexcept { instance_ = instance; }

    // Per-user registration writes the class keys under HKEY_CURRENT_USER\Software\Classes and
    // registers the type library for the current user. Once on, it stays on for the process.
    bool PerUserRegistration() const noexcept { return perUser_; }
    void SetPerUserRegistration(bool perUser) noexcept { perUser_ = perUser; }

  private:
    volatile LONG lockCount_ = 0;
    HINSTANCE instance_ = nullptr;
    bool perUser_ = false;
};

CMySolutionPluginModule& Module() noexcept;

}  // namespace kvshake

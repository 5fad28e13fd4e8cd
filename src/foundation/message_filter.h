#pragma once

#include <windows.h>

#include <initializer_list>

namespace kvshake {

// From Windows Vista on, a message above WM_USER that a process of lower integrity sends (a
// Protected Mode tab to a tab of the intranet zone, say) is dropped unless the receiver lets it
// through. ChangeWindowMessageFilterEx (Windows 7) lets it through to one window,
// ChangeWindowMessageFilter (Vista) to the whole process; Windows XP has neither and needs
// neither, so both are looked up at run time.
struct MessageFilterFunctions {
    BOOL(WINAPI* perWindow)(HWND window, UINT message, DWORD action, void* status);
    BOOL(WINAPI* perProcess)(UINT message, DWORD flag);
};

// The two functions as module exports them; null where it has none.
MessageFilterFunctions LookUpMessageFilterFunctions(HMODULE module) noexcept;

// Lets messages through to window, per window where the system can, else for the process.
// False at the first message the system refused (the last error says why); true also where the
// system has no such filter.
bool AllowMessagesFromLowerIntegrity(HWND window, std::initializer_list<UINT> messages) noexcept;

// Lets tests see the calls; null goes back to user32's functions.
void SetMessageFilterFunctionsForTesting(const MessageFilterFunctions* functions) noexcept;

}  // namespace kvshake

#pragma once

#include <windows.h>

#include <string>

namespace kvshake {

// Private messages handled by the window procedure of the tabs' hidden windows and the panel.
// All are sent with SendMessageW: the sender waits until the receiving tab's thread handled them.
inline constexpr UINT WM_UP_UPLOAD = WM_USER + 8;       // a shake: upload the page in front
inline constexpr UINT WM_RMTIP = WM_USER + 9;           // the tip's time is up
inline constexpr UINT WM_ICON_ACTIVE = WM_USER + 10;    // the button shows the active look
inline constexpr UINT WM_ICON_INACTIVE = WM_USER + 11;  // the button shows the inactive look
inline constexpr UINT WM_GOPAGE = WM_USER + 12;         // lParam: the URL the panel goes to
inline constexpr UINT WM_REFRESH_PAGE = WM_USER + 13;   // the panel's page follows the state
// A toolbar press in any tab, of any process: the panel moves its top left corner to the point
// that lParam carries (PanelCornerParam), keeps its size, follows the state, shows and comes
// forward, all on its own thread.
inline constexpr UINT WM_SHOW_PANEL = WM_USER + 15;
// From the activation thread to its own tab: its check thread takes the checker role at once
// (startCheckShake). Only the tab's thread may use the tab's browser.
inline constexpr UINT WM_KEEP_CHECK_THREAD = WM_USER + 14;

// The name of a tab's hidden window class: "HideWindow" and the tab number.
std::wstring HiddenWindowClassName(LONG tabNumber);

// True when window is one of the module's windows of a class named prefix and a tab number,
// such as a tab's hidden window. A window named by the shared block is acted on only then:
// any process of the user may write the block.
bool IsNumberedShakeWindow(HWND window, const wchar_t* prefix);
// A tab's hidden window ("HideWindow" and a tab number).
bool IsHiddenWindow(HWND window);

// Registers a class of the hidden and panel windows, with ShakeWindowProc, in the module.
bool RegisterShakeWindowClass(const wchar_t* className);

// Lets the private messages that other processes send reach window, from tabs of a lower
// integrity level too. WM_GOPAGE and WM_KEEP_CHECK_THREAD stay out: they never leave their
// process, and WM_GOPAGE carries a pointer into it.
void LetPrivateMessagesIn(HWND window) noexcept;

// The window procedure of the hidden windows and of the panel windows.
LRESULT CALLBACK ShakeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The tip's thread-timer callback: sends WM_RMTIP to the tab whose tip the timer was armed for.
void CALLBACK sendMsgRMTip(HWND window, UINT message, UINT_PTR timerId, DWORD time);

// The tab of hiddenWindow is the one the user sees: shakes go to it, and a tab opened behind it
// does not take them.
void BringTabToFront(HWND hiddenWindow) noexcept;

// Sends WM_GOPAGE with url to the panel; only from the panel's own process.
void SendGoPageMsg(const wchar_t* url);

// The wParam of every WM_GOPAGE: a value of this process that no other process knows. The
// message carries a pointer of its sender's process, so one without this key is dropped.
WPARAM GoPageKey() noexcept;

}  // namespace kvshake

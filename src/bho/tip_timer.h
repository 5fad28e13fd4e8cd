#pragma once

#include <windows.h>

namespace kvshake {

// The one-shot thread timers that hide the tips. Each tab has at most one, and each remembers
// the hidden window of its own tab, so that a timer hides its own tab's tip and no other: tips of
// several tabs, in one process or in several, each go about three seconds after they came.

// Arms the tab's timer on the calling thread, replacing one still pending for the same tab. The
// timer procedure is sendMsgRMTip. False on failure, with the system's error code kept.
bool ArmTipTimer(HWND tabWindow, UINT delayMs);

// Forgets the timer that fired, and gives the tab window it was armed for; null for a timer
// that is not a tip's.
HWND TakeTipTimerWindow(UINT_PTR timerId);

// Kills the tab's pending timer, if any; the tab's own thread calls it when the tab goes.
void DisarmTipTimer(HWND tabWindow);

}  // namespace kvshake

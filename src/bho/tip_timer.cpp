#include "bho/tip_timer.h"

#include <map>
#include <mutex>

#include "bho/hidden_window.h"
#include "foundation/critical_section.h"

namespace kvshake {

namespace {

// A thread timer's identifier is unique on its thread only, so the thread goes with it.
struct ThreadTimer {
    DWORD thread;
    UINT_PTR id;
};

// Tabs of a process live on several threads, each arming its timers on its own thread.
CriticalSection g_tipTimersLock;
std::map<HWND, ThreadTimer> g_tipTimers;  // tab window -> its pending timer

UINT_PTR ForgetTimerOf(HWND tabWindow) {
    std::lock_guard<CriticalSection> lock(g_tipTimersLock);
    const auto found = g_tipTimers.find(tabWindow);
    if (found == g_tipTimers.end()) return 0;
    const UINT_PTR timer = found->second.id;
    g_tipTimers.erase(found);
    return timer;
}

}  // namespace

bool ArmTipTimer(HWND tabWindow, UINT delayMs) {
    DisarmTipTimer(tabWindow);
    const UINT_PTR timer = ::SetTimer(nullptr, 0, delayMs, sendMsgRMTip);
    if (timer == 0) return false;
    std::lock_guard<CriticalSection> lock(g_tipTimersLock);
    g_tipTimers[tabWindow] = ThreadTimer{::GetCurrentThreadId(), timer};
    return true;
}

HWND TakeTipTimerWindow(UINT_PTR timerId) {
    const DWORD thread = ::GetCurrentThreadId();
    std::lock_guard<CriticalSection> lock(g_tipTimersLock);
    for (auto entry = g_tipTimers.begin(); entry != g_tipTimers.end(); ++entry) {
        if (entry->second.thread != thread || entry->second.id != timerId) continue;
        const HWND tabWindow = entry->first;
        g_tipTimers.erase(entry);
        return tabWindow;
    }
    return nullptr;
}

void DisarmTipTimer(HWND tabWindow) {
    if (const UINT_PTR timer = ForgetTimerOf(tabWindow)) ::KillTimer(nullptr, timer);
}

}  // namespace kvshake

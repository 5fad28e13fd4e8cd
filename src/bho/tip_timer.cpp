#include "bho/tip_timer.h"

#include <map>
#include <mutex>

#include "bho/hidden_window.h"
#include "com/module.h"
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
// Tab window -> its pending timer. Each holds a lock on the module, since the timer's procedure
// is the module's code.
std::map<HWND, ThreadTimer> g_tipTimers;

// Under g_tipTimersLock.
void ForgetTimer(std::map<HWND, ThreadTimer>::iterator entry) {
    g_tipTimers.erase(entry);
    Module().Unlock();
}

UINT_PTR ForgetTimerOf(HWND tabWindow) {
    std::lock_guard<CriticalSection> lock(g_tipTimersLock);
    const auto found = g_tipTimers.find(tabWindow);
    if (found == g_tipTimers.end()) return 0;
    const UINT_PTR timer = found->second.id;
    ForgetTimer(found);
    return timer;
}

}  // namespace

bool ArmTipTimer(HWND tabWindow, UINT delayMs) {
    DisarmTipTimer(tabWindow);
    const UINT_PTR timer = ::SetTimer(nullptr, 0, delayMs, sendMsgRMTip);
    if (timer == 0) return false;
    std::lock_guard<CriticalSection> lock(g_tipTimersLock);
    if (g_tipTimers.insert_or_assign(tabWindow, ThreadTimer{::GetCurrentThreadId(), timer})
            .second) {
        Module().Lock();
    }
    return true;
}

HWND TakeTipTimerWindow(UINT_PTR timerId) {
    const DWORD thread = ::GetCurrentThreadId();
    std::lock_guard<CriticalSection> lock(g_tipTimersLock);
    for (auto entry = g_tipTimers.begin(); entry != g_tipTimers.end(); ++entry) {
        if (entry->second.thread != thread || entry->second.id != timerId) continue;
        const HWND tabWindow = entry->first;
        ForgetTimer(entry);
        return tabWindow;
    }
    return nullptr;
}

void DisarmTipTimer(HWND tabWindow) {
    if (const UINT_PTR timer = ForgetTimerOf(tabWindow)) ::KillTimer(nullptr, timer);
}

}  // namespace kvshake

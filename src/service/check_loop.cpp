// The shake check loop: every tab of an activated browser runs check threads, and exactly one
// thread on the machine holds the checker role and sends check requests back to back.
#include "service/check_loop.h"

#include <memory>
#include <optional>
#include <string>

#include "bho/browser_properties.h"
#include "bho/hidden_window.h"
#include "bho/shake_bho.h"
#include "com/module_thread.h"
#include "foundation/log.h"
#include "foundation/named_mutex.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"
#include "service/active_state.h"
#include "service/http_transport.h"
#include "service/protocol.h"
#include "service/service_config.h"

namespace kvshake {

namespace {

constexpr DWORD kPauseActiveMs = 3000;
constexpr DWORD kPauseInactiveMs = 5000;

enum class Role { Decided, ThreadEnds };

bool MustEnd(const CheckThreadState& state, DWORD self) {
    return shake_da.g_dwDeadThreadId == self || state.StopRequested();
}

// Takes, keeps or gives up the checker role, under both locks (active before checking).
Role DecideRole(CheckThreadState& state, DWORD self) {
    ScopedNamedMutex active(kMutexForActive, shake_da.g_hMutexForActive);
    ScopedNamedMutex checking(kMutexForChecking, shake_da.g_hMutexForChecking);
    if (shake_da.g_bActive && !shake_da.g_bHasCheckThread) {
        if (MustEnd(state, self)) return Role::ThreadEnds;
        shake_da.g_bHasCheckThread = true;
        state.m_bCheckOwner = true;
        shake_da.g_nCheckTabNum = state.m_nTabNumber;
    } else if (shake_da.g_bActive) {
        if (state.m_bCheckOwner && shake_da.g_nCheckTabNum != state.m_nTabNumber) {
            state.m_bCheckOwner = false;
        }
    } else if (state.m_bCheckOwner) {
        state.m_bCheckOwner = false;
        shake_da.g_bHasCheckThread = false;
    }
    active.Unlock();
    return Role::Decided;
}

void SendUpload() {
    WriteLog("Send Msg:WM_UP_UPLOAD");
    const HWND front = shake_da.g_HideWindowHwnd;
    if (!front) {
        WriteError("g_HideWindowHwnd NULL");
        return;
    }
    ::SendMessageW(front, WM_UP_UPLOAD, 0, 0);  // the upload runs on the front tab's thread
}

// The checker's pass. Once the tab is stopping, an answer that arrives is not acted on.
void CheckAsOwner(const CheckThreadState& state) {
    const CheckOutcome outcome = checkShake();
    if (state.StopRequested()) return;
    if (outcome == CheckOutcome::Shake) {
        SendUpload();
    } else if (outcome == CheckOutcome::Failed) {
        SendToFrontTab(WM_ICON_INACTIVE);
        SetActive(false);
    }
}

void checkShakeThread(CheckThreadState& state) {
    const DWORD self = ::GetCurrentThreadId();
    if (MustEnd(state, self)) return;
    for (;;) {
        if (DecideRole(state, self) == Role::ThreadEnds) return;
        if (state.m_bCheckOwner) {
            CheckAsOwner(state);
        } else if (state.PauseOrStop(ReadActive() ? kPauseActiveMs : kPauseInactiveMs)) {
            return;
        }
        if (shake_da.g_dwDeadThreadId == self) {
            shake_da.g_dwDeadThreadId = 0;
            return;
        }
        if (state.StopRequested()) return;
    }
}

}  // namespace

CheckThreadState::CheckThreadState(LONG tabNumber) noexcept
    : m_nTabNumber(tabNumber), m_hStopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

bool CheckThreadState::StopRequested() const noexcept {
    return ::WaitForSingleObject(m_hStopEvent.get(), 0) == WAIT_OBJECT_0;
}

void CheckThreadState::RequestStop() noexcept { ::SetEvent(m_hStopEvent.get()); }

bool CheckThreadState::PauseOrStop(DWORD ms) const noexcept {
    if (!m_hStopEvent) {
        ::Sleep(ms);
        return false;
    }
    return ::WaitForSingleObject(m_hStopEvent.get(), ms) == WAIT_OBJECT_0;
}

CheckOutcome checkShake() {
    WriteLog("check start");
    const std::optional<std::wstring> response = GetData(kServiceHost, CheckPath().c_str());
    WriteWCharLog("check result: ", ResponseText(response));
    return CheckOutcomeOf(response);
}

HANDLE CShakeBHO::startCheckShake() {
    WriteLog("startCheckShake start");
    // The value 1, not VARIANT_TRUE: activate tests for exactly 1.
    PutBrowserProperty(m_spWebBrowser.Get(), kHasThreadCheckProperty, ScopedVariant::BoolValue(1));

    std::shared_ptr<CheckThreadState> state = checkState_;
    if (!state) return nullptr;  // the tab never got its browser
    DWORD threadId = 0;
    HANDLE thread = StartModuleThread([state] { checkShakeThread(*state); }, &threadId);
    if (!thread) return nullptr;
    m_dwCheckThreadId = threadId;
    WriteLog(
        StringPrintf("Create New Thread To Check, ThreadID :%ld", static_cast<long>(threadId)));
    return thread;
}

}  // namespace kvshake

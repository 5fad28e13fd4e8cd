// The shake check loop: every tab runs one check thread, and while the browser is activated
// exactly one thread on the machine holds the checker role and sends check requests back to back.
#include "service/check_loop.h"

#include <optional>
#include <string>

#include "com/module_thread.h"
#include "foundation/log.h"
#include "foundation/named_mutex.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"
#include "service/active_state.h"
#include "service/http_transport.h"
#include "service/service_config.h"

namespace kvshake {

namespace {

constexpr DWORD kPauseActiveMs = 3000;
constexpr DWORD kPauseInactiveMs = 5000;
// The service answers a check at once; a connection that stays silent longer is half open (as
// after a laptop resumes) and is given up.
constexpr DWORD kCheckTimeoutMs = 60000;

enum class Role { Decided, ThreadEnds };

bool MustEnd(const CheckThreadState& state, DWORD self) {
    return shake_da.g_dwDeadThreadId == self || state.StopRequested();
}

// A process that has ended leaves the role taken with nobody to use it. A process that cannot be
// opened for lack of rights still runs.
bool ProcessHasEnded(DWORD processId) {
    if (processId == 0 || processId == ::GetCurrentProcessId()) return false;
    unique_handle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process) return ::GetLastError() != ERROR_ACCESS_DENIED;
    return ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

Role DecideRoleLocked(CheckThreadState& state, DWORD self) {
    if (shake_da.g_bActive &&
        (!shake_da.g_bHasCheckThread || ProcessHasEnded(shake_da.g_dwCheckProcessId))) {
        if (MustEnd(state, self)) return Role::ThreadEnds;
        shake_da.g_bHasCheckThread = true;
        state.m_bCheckOwner = true;
        shake_da.g_nCheckTabNum = state.m_nTabNumber;
        shake_da.g_dwCheckProcessId = ::GetCurrentProcessId();
    } else if (shake_da.g_bActive) {
        if (state.m_bCheckOwner && shake_da.g_nCheckTabNum != state.m_nTabNumber) {
            state.m_bCheckOwner = false;
        }
    } else if (state.m_bCheckOwner) {
        state.m_bCheckOwner = false;
        shake_da.g_bHasCheckThread = false;
    }
    return Role::Decided;
}

// Takes, keeps or gives up the checker role, under both locks: "mutexForActive" is taken first
// and given back first.
Role DecideRole(CheckThreadState& state, DWORD self) {
    ScopedNamedMutex active(kMutexForActive, shake_da.g_hMutexForActive);
    ScopedNamedMutex checking(kMutexForChecking, shake_da.g_hMutexForChecking);
    const Role role = DecideRoleLocked(state, self);
    active.Unlock();
    return role;
}

// The checker's pass. Once the tab is stopping, an answer that arrives is not acted on. Only an
// answer of the service ends the activation: when none came, the checker keeps the activation and
// asks again after a pause that doubles with each failure in a row, up to a limit. True when the
// tab was stopped during that pause.
bool CheckAsOwner(const CheckThreadState& state, FrontTab& frontTab, RetryPause& retry) {
    const CheckOutcome outcome = checkShake();
    if (state.StopRequested()) return false;
    if (outcome == CheckOutcome::NoAnswer) {
        const DWORD pauseMs = retry.Next();
        WriteError(StringPrintf("Check No Answer, check again in %lu ms",
                                static_cast<unsigned long>(pauseMs)));
        return state.PauseOrStop(pauseMs);
    }
    retry.Reset();
    if (outcome == CheckOutcome::Shake) {
        frontTab.Upload();
    } else if (outcome == CheckOutcome::Failed) {
        frontTab.ShowActivation(false);
        SetActive(false);
    }
    return false;
}

// True when the stop was meant for this thread; the mark is then cleared, unless another tab has
// meanwhile named its own thread.
bool TakeOwnDeathMark(DWORD self) {
    static_assert(sizeof(shake_da.g_dwDeadThreadId) == sizeof(LONG));
    return ::InterlockedCompareExchange(
               reinterpret_cast<volatile LONG*>(&shake_da.g_dwDeadThreadId), 0,
               static_cast<LONG>(self)) == static_cast<LONG>(self);
}

void checkShakeThread(CheckThreadState& state, FrontTab& frontTab) {
    const DWORD self = ::GetCurrentThreadId();
    if (MustEnd(state, self)) return;
    RetryPause retry;
    for (;;) {
        if (DecideRole(state, self) == Role::ThreadEnds) return;
        bool stopped = false;
        if (state.m_bCheckOwner) {
            stopped = CheckAsOwner(state, frontTab, retry);
        } else {
            stopped = state.PauseOrStop(ReadActive() ? kPauseActiveMs : kPauseInactiveMs);
        }
        if (TakeOwnDeathMark(self) || stopped || state.StopRequested()) return;
    }
}

}  // namespace

CheckThreadState::CheckThreadState(LONG tabNumber) noexcept
    : m_nTabNumber(tabNumber),
      m_hStopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_hWakeEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

bool CheckThreadState::StopRequested() const noexcept {
    return ::WaitForSingleObject(m_hStopEvent.get(), 0) == WAIT_OBJECT_0;
}

void CheckThreadState::RequestStop() noexcept { ::SetEvent(m_hStopEvent.get()); }

void CheckThreadState::Wake() noexcept { ::SetEvent(m_hWakeEvent.get()); }

bool CheckThreadState::PauseOrStop(DWORD ms) const noexcept {
    if (!m_hStopEvent) {
        ::Sleep(ms);
        return false;
    }
    const HANDLE events[] = {m_hStopEvent.get(), m_hWakeEvent.get()};
    return ::WaitForMultipleObjects(m_hWakeEvent ? 2 : 1, events, FALSE, ms) == WAIT_OBJECT_0;
}

CheckOutcome checkShake() {
    WriteLog("check start");
    const std::optional<std::wstring> response =
        GetData(kServiceHost, CheckPath().c_str(), kCheckTimeoutMs);
    WriteWCharLog("check result: ", ResponseText(response));
    return CheckOutcomeOf(response);
}

DWORD RetryPause::Next() noexcept {
    const DWORD pauseMs = nextMs_;
    nextMs_ = nextMs_ >= kLongestMs / 2 ? kLongestMs : nextMs_ * 2;
    return pauseMs;
}

void RetryPause::Reset() noexcept { nextMs_ = kFirstMs; }

HANDLE StartCheckThread(std::shared_ptr<CheckThreadState> state, FrontTab& frontTab,
                        DWORD* threadId) {
    FrontTab* front = &frontTab;
    return StartModuleThread([state, front] { checkShakeThread(*state, *front); }, threadId);
}

}  // namespace kvshake

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
// after a laptop resumes) and is given up. The test build gives up sooner, so that a silent
// connection costs its case seconds, yet later than any answer that its cases delay.
#ifdef KVSHAKE_TEST_BUILD
constexpr DWORD kCheckTimeoutMs = 10000;
#else
constexpr DWORD kCheckTimeoutMs = 60000;
#endif

enum class Role { Decided, ThreadEnds };

// The creation time of a process, or 0 where it cannot be read (Windows XP without the right to
// query, a low-integrity tab asking about a medium process).
ULONGLONG CreationTimeOf(HANDLE process) noexcept {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// This process's creation time does not change: it is read once, not on every check pass.
ULONGLONG OwnCreationTime() noexcept {
    static const ULONGLONG created = CreationTimeOf(::GetCurrentProcess());
    return created;
}

ULONGLONG RecordedCreationTime(const SharedBlock& shared) noexcept {
    return (static_cast<ULONGLONG>(shared.g_dwCheckProcessCreatedHigh) << 32) |
           shared.g_dwCheckProcessCreatedLow;
}

// A process that has ended leaves the role taken with nobody to use it; so does one whose id a
// later process carries, told apart by its creation time where both times can be read. A
// process that cannot be opened for lack of rights still runs.
bool CheckerHasEnded(const SharedBlock& shared) {
    const DWORD processId = shared.g_dwCheckProcessId;
    if (processId == 0) return false;
    const ULONGLONG recorded = RecordedCreationTime(shared);
    if (processId == ::GetCurrentProcessId()) {
        const ULONGLONG mine = OwnCreationTime();
        return recorded != 0 && mine != 0 && recorded != mine;
    }
    constexpr DWORD kQueryLimited = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION, Vista on
    unique_handle process;
    const DWORD tries[] = {SYNCHRONIZE | kQueryLimited, SYNCHRONIZE | PROCESS_QUERY_INFORMATION,
                           SYNCHRONIZE};
    for (const DWORD rights : tries) {
        process.reset(::OpenProcess(rights, FALSE, processId));
        if (process || ::GetLastError() != ERROR_ACCESS_DENIED) break;
    }
    if (!process) return ::GetLastError() != ERROR_ACCESS_DENIED;
    if (::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return true;
    const ULONGLONG created = CreationTimeOf(process.get());
    return recorded != 0 && created != 0 && recorded != created;
}

void RecordChecker(SharedBlock& shared) noexcept {
    const ULONGLONG created = OwnCreationTime();
    shared.g_dwCheckProcessId = ::GetCurrentProcessId();
    shared.g_dwCheckProcessCreatedLow = static_cast<DWORD>(created);
    shared.g_dwCheckProcessCreatedHigh = static_cast<DWORD>(created >> 32);
}

Role DecideRoleLocked(CheckThreadState& state) {
    SharedBlock& shared = SharedState();
    if (shared.g_bActive && (!shared.g_bHasCheckThread || CheckerHasEnded(shared))) {
        if (state.StopRequested()) return Role::ThreadEnds;
        shared.g_bHasCheckThread = true;
        state.m_bCheckOwner = true;
        shared.g_nCheckTabNum = state.m_nTabNumber;
        RecordChecker(shared);
    } else if (shared.g_bActive) {
        if (state.m_bCheckOwner && shared.g_nCheckTabNum != state.m_nTabNumber) {
            state.m_bCheckOwner = false;
        }
    } else if (state.m_bCheckOwner) {
        state.m_bCheckOwner = false;
        shared.g_bHasCheckThread = false;
    }
    return Role::Decided;
}

// Takes, keeps or gives up the checker role, under both locks: "mutexForActive" is taken first
// and given back first.
Role DecideRole(CheckThreadState& state) {
    ScopedNamedMutex active(kMutexForActive, mutex_holders.g_hMutexForActive, kCheckLockWaitMs);
    if (!active.Held()) return Role::Decided;
    ScopedNamedMutex checking(kMutexForChecking, mutex_holders.g_hMutexForChecking,
                              kCheckLockWaitMs);
    if (!checking.Held()) return Role::Decided;
    const Role role = DecideRoleLocked(state);
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
        SetActive(false, kCheckLockWaitMs);
    }
    return false;
}

void checkShakeThread(CheckThreadState& state, FrontTab& frontTab) {
    if (state.StopRequested()) return;
    RetryPause retry;
    for (;;) {
        if (DecideRole(state) == Role::ThreadEnds) return;
        bool stopped = false;
        if (state.m_bCheckOwner) {
            stopped = CheckAsOwner(state, frontTab, retry);
        } else {
            stopped =
                state.PauseOrStop(ReadActive(kCheckLockWaitMs) ? kPauseActiveMs : kPauseInactiveMs);
        }
        if (stopped || state.StopRequested()) return;
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

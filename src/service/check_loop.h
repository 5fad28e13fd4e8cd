#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "foundation/unique_resource.h"
#include "service/front_tab.h"
#include "service/protocol.h"

namespace kvshake {

// What the check threads of one tab share. Each thread keeps it alive until it returns, so a
// thread never needs the tab's helper object, which belongs to the tab's thread and may be gone.
struct CheckThreadState {
    explicit CheckThreadState(LONG tabNumber) noexcept;

    // The tab's threads hold the checker role; all of the tab's threads share it.
    std::atomic<bool> m_bCheckOwner{false};
    const LONG m_nTabNumber;
    // Set when the tab detaches: every check thread of the tab ends at its next step.
    unique_handle m_hStopEvent;
    // Ends the tab's current pause early, so that an activation is acted on at once.
    unique_handle m_hWakeEvent;

    bool StopRequested() const noexcept;
    void RequestStop() noexcept;
    void Wake() noexcept;
    // Pauses for ms, until a wake or until a stop is requested; true when stopped.
    bool PauseOrStop(DWORD ms) const noexcept;
};

// Starts a check thread of the tab whose state is given. At any moment one check thread of the
// machine holds the checker role and asks the service back to back; it reports shakes and lost
// activations to frontTab. The others pause and take the role over when it is free, or when the
// process that holds it has ended. Returns the thread's handle (null on failure) and its id.
HANDLE StartCheckThread(std::shared_ptr<CheckThreadState> state, FrontTab& frontTab,
                        DWORD* threadId);

// One check request and its outcome.
CheckOutcome checkShake();

}  // namespace kvshake

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

// The pauses before asking the service again after failures of the transport in a row: the pause
// of a thread without the checker role at first, doubling, at most a minute.
class RetryPause {
  public:
    static constexpr DWORD kFirstMs = 3000;
    static constexpr DWORD kLongestMs = 60000;

    // The pause before the next attempt; each call doubles the one after.
    DWORD Next() noexcept;
    // An answer came: the next failure starts over from the first pause.
    void Reset() noexcept;

  private:
    DWORD nextMs_ = kFirstMs;
};

// Starts a check thread of the tab whose state is given. At any moment one check thread of the
// machine holds the checker role and asks the service back to back; it reports shakes and lost
// activations to frontTab. The others pause and take the role over when it is free, or when the
// process that holds it has ended. Returns the thread's handle (null on failure) and its id.
HANDLE StartCheckThread(std::shared_ptr<CheckThreadState> state, FrontTab& frontTab,
                        DWORD* threadId);

// One check request and its outcome; the exchange may take a minute at most.
CheckOutcome checkShake();

}  // namespace kvshake

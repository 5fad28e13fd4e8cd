#pragma once

#include <windows.h>

#include <atomic>

#include "foundation/unique_resource.h"
#include "service/protocol.h"

namespace kvshake {

// What a tab's check threads share. Each thread keeps it alive until it returns, so a thread
// never needs the helper object, which belongs to the tab's thread and may be gone.
struct CheckThreadState {
    explicit CheckThreadState(LONG tabNumber) noexcept;

    // The tab's threads hold the checker role; all of the tab's threads share it.
    std::atomic<bool> m_bCheckOwner{false};
    const LONG m_nTabNumber;
    // Set when the tab detaches: every check thread of the tab ends at its next step.
    unique_handle m_hStopEvent;

    bool StopRequested() const noexcept;
    void RequestStop() noexcept;
    // Pauses for ms or until a stop is requested; true when stopped.
    bool PauseOrStop(DWORD ms) const noexcept;
};

// One check request and its outcome.
CheckOutcome checkShake();

}  // namespace kvshake

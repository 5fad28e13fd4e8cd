#include "service/active_state.h"

#include "foundation/named_mutex.h"
#include "foundation/shared_state.h"

namespace kvshake {

bool ReadActive(DWORD waitMs) noexcept {
    ScopedNamedMutex lock(kMutexForActive, mutex_holders.g_hMutexForActive, waitMs);
    return lock.Held() && SharedState().g_bActive;
}

void SetActive(bool active, DWORD waitMs) noexcept {
    ScopedNamedMutex lock(kMutexForActive, mutex_holders.g_hMutexForActive, waitMs);
    if (lock.Held()) SharedState().g_bActive = active;
}

}  // namespace kvshake

#include "service/active_state.h"

#include "foundation/named_mutex.h"
#include "foundation/shared_state.h"

namespace kvshake {

bool ReadActive() noexcept {
    ScopedNamedMutex lock(kMutexForActive, shake_da.g_hMutexForActive);
    return shake_da.g_bActive;
}

void SetActive(bool active) noexcept {
    ScopedNamedMutex lock(kMutexForActive, shake_da.g_hMutexForActive);
    shake_da.g_bActive = active;
}

}  // namespace kvshake

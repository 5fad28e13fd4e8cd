#pragma once

#include "foundation/named_mutex.h"

namespace kvshake {

// The machine-wide activation flag g_bActive, read and written only under "mutexForActive".
// The lock is held for the one read or write and never across an exchange, a store operation
// or a message.
// A flag that cannot be read for want of the lock reads as inactive; a write that cannot be made
// is skipped (both logged).
bool ReadActive(DWORD waitMs = kInterfaceLockWaitMs) noexcept;
void SetActive(bool active, DWORD waitMs = kInterfaceLockWaitMs) noexcept;

}  // namespace kvshake

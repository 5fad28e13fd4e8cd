#pragma once

namespace kvshake {

// The machine-wide activation flag g_bActive, read and written only under "mutexForActive".
// The lock is held for the one read or write and never across an exchange, a store operation
// or a message.
bool ReadActive() noexcept;
void SetActive(bool active) noexcept;

}  // namespace kvshake

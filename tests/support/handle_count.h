#pragma once

#include <windows.h>

#include <optional>

namespace kvshake::testing {

// The number of handles this process holds, counted in the system's handle table (Wine's
// GetProcessHandleCount answers 0). Nothing when the table cannot be read.
std::optional<DWORD> HandleCountOfThisProcess();

// After asynchronous network work, WinINet settles a few handles of its own (connections kept for
// reuse, their worker) on its own schedule: counts taken then allow this many more.
inline constexpr DWORD kNetworkHandleSlack = 2;

}  // namespace kvshake::testing

#pragma once

#include <windows.h>

#include <optional>

namespace kvshake::testing {

// The number of handles this process holds, counted in the system's handle table (Wine's
// GetProcessHandleCount answers 0). Nothing when the table cannot be read.
std::optional<DWORD> HandleCountOfThisProcess();

}  // namespace kvshake::testing

#pragma once

#include <windows.h>

namespace kvshake::testing {

// The number of handles this process holds, counted in the system's handle table (Wine's
// GetProcessHandleCount answers 0). Zero when the table cannot be read.
DWORD HandleCountOfThisProcess();

}  // namespace kvshake::testing

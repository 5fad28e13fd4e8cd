#pragma once

#include <windows.h>

namespace kvshake::testing {

// Waits until no thread but the caller runs code of this program's image (the module's threads
// and the doubles', linked in), so that nothing a case started outlives it; false when one still
// runs after timeoutMs.
bool WaitForThreadsOfThisProgram(DWORD timeoutMs);

}  // namespace kvshake::testing

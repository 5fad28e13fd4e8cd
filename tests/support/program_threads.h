#pragma once

#include <windows.h>

#include <vector>

namespace kvshake::testing {

// The threads that run this program's code (the module's and the doubles', linked in) when it is
// made; Wait waits until every such thread started since has ended, so that nothing a case started
// outlives it, and is false when one still runs after timeoutMs.
class ProgramThreads {
  public:
    ProgramThreads();
    bool WaitForThoseStartedSince(DWORD timeoutMs) const;

  private:
    std::vector<DWORD> before_;
};

}  // namespace kvshake::testing

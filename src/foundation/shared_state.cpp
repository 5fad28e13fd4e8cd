#include "foundation/shared_state.h"

namespace kvshake {

// Both blocks go into the one shared section "shake_da"; the "$" suffixes keep them in this
// order inside it. A shared variable must be initialised for the linker to keep it out of .bss.
__attribute__((section("shake_da$1"), shared)) SharedBlock shake_da = {};
__attribute__((section("shake_da$2"), shared)) SharedWriteBlock shake_da_write = {};

}  // namespace kvshake

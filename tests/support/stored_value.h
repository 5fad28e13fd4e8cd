#pragma once

#include <string>

#include "foundation/settings_store.h"

namespace kvshake::testing {

// A stored value as ReadReg reads it; empty when it is missing.
inline std::wstring Stored(const wchar_t* name) {
    std::wstring value;
    ReadReg(name, value);
    return value;
}

}  // namespace kvshake::testing

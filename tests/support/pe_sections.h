#pragma once

#include <windows.h>

namespace kvshake::testing {

// A section of a module loaded in this process, found by name in its PE headers.
struct LoadedSection {
    BYTE* address = nullptr;
    DWORD size = 0;
    DWORD characteristics = 0;
};

LoadedSection FindLoadedSection(HMODULE module, const char* name);

}  // namespace kvshake::testing

#pragma once

#include <windows.h>

#include <string>

#include "support/child_process.h"

namespace kvshake::testing {

// kvshake_regtool.exe (beside this program) with the given arguments; its output trimmed.
ProgramRun RunRegTool(const std::wstring& arguments);

}  // namespace kvshake::testing

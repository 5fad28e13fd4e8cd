#pragma once

#include <windows.h>

#include <string>

namespace kvshake::testing {

// A program run to its end with its standard output and error captured.
struct ProgramRun {
    DWORD exitCode = STILL_ACTIVE;  // STILL_ACTIVE: it did not start, or did not end in time
    std::string output;
};

ProgramRun RunProgram(const std::wstring& commandLine, DWORD timeoutMs = 120000);

// kvshake_regtool.exe (beside this program) with the given arguments; its output trimmed.
ProgramRun RunRegTool(const std::wstring& arguments);

}  // namespace kvshake::testing

#pragma once

#include <windows.h>

#include <string>

namespace kvshake::testing {

// The module and the helper program are built into the folder of the test programs.
std::wstring BesideThisProgram(const wchar_t* fileName);
std::wstring ModulePath();    // KVShake.dll
std::wstring TestHostPath();  // kvshake_testhost.exe

// An export of a loaded module as a function pointer of the given type; null when missing.
template <typename Function>
Function ExportOf(HMODULE module, const char* name) {
    // Through the generic function pointer type, which every function pointer converts from.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

// A name no other test or run uses, for mutexes and events of one test.
std::wstring UniqueName(const wchar_t* prefix);

}  // namespace kvshake::testing

#pragma once

#include <string>

namespace kvshake::testing {

// The module and the helper program are built into the folder of the test programs.
std::wstring BesideThisProgram(const wchar_t* fileName);
std::wstring ModulePath();    // KVShake.dll
std::wstring TestHostPath();  // kvshake_testhost.exe

// A name no other test or run uses, for mutexes and events of one test.
std::wstring UniqueName(const wchar_t* prefix);

}  // namespace kvshake::testing

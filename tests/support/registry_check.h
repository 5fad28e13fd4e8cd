#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace kvshake::testing {

// A registry value as the tests expect it or read it back: REG_SZ text or a REG_DWORD number.
struct RegValue {
    std::wstring name;  // empty for the default value
    DWORD type = REG_NONE;
    std::wstring text;
    DWORD number = 0;
};

inline RegValue Sz(std::wstring name, std::wstring text) {
    return {std::move(name), REG_SZ, std::move(text), 0};
}
inline RegValue Dword(std::wstring name, DWORD number) {
    return {std::move(name), REG_DWORD, L"", number};
}

bool KeyExists(HKEY root, const std::wstring& path);

// The key exists and holds these values and no others, and this many subkeys.
::testing::AssertionResult KeyHoldsExactly(HKEY root, const std::wstring& path,
                                           const std::vector<RegValue>& values, DWORD subkeys);

void CreateKey(HKEY root, const std::wstring& path, DWORD options = 0);
void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text);
// Deletes the key with all below it; a missing key is fine.
void DeleteTree(HKEY root, const std::wstring& path);

}  // namespace kvshake::testing

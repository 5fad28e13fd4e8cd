#pragma once

#include <string>

namespace kvshake {

// Named text values of the current user under HKEY_CURRENT_USER\Software\AppDataLow. The key is
// only opened, never created. Every failure is written to the log with its error code.

inline constexpr wchar_t kTokenValue[] = L"kvshocktoken";
inline constexpr wchar_t kUinValue[] = L"kvshockuin";
inline constexpr wchar_t kSidValue[] = L"kvshocksid";
inline constexpr wchar_t kUserValue[] = L"kvshockuser";
inline constexpr wchar_t kNicknameValue[] = L"kvshocknickname";
inline constexpr wchar_t kDebugValue[] = L"kvshockdebug";

// Stores text as a string value, replacing any earlier value of that name.
bool WriteReg(const wchar_t* name, const std::wstring& value) noexcept;

// Reads at most 260 bytes: a value of up to 129 characters reads back whole, a longer one fails.
// The value's type is not looked at. On failure value is empty.
bool ReadReg(const wchar_t* name, std::wstring& value) noexcept;

// A token that is not empty is stored: the browser is bound to an account.
bool TokenStored() noexcept;

// Deletes the value; a value that does not exist is a failure.
bool DelReg(const wchar_t* name) noexcept;

// Deletes the five account values; a failure of one does not stop the others.
void ClearAccount() noexcept;

}  // namespace kvshake

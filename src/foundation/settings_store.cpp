#include "foundation/settings_store.h"

#include <windows.h>

#include <cwchar>

#include "foundation/log.h"
#include "foundation/text.h"
#include "foundation/unique_resource.h"

namespace kvshake {
namespace {

constexpr wchar_t kStoreKey[] = L"Software\\AppDataLow";
constexpr DWORD kReadLimitBytes = 260;

// The registry reports failures by return value only; putting the code into the thread's last
// error makes the code in the log line, and what a caller reads afterwards, the failure's own.
bool Succeeded(LSTATUS status) noexcept {
    if (status == ERROR_SUCCESS) return true;
    ::SetLastError(static_cast<DWORD>(status));
    return false;
}

bool OpenStore(REGSAM access, unique_hkey& key) noexcept {
    return Succeeded(::RegOpenKeyExW(HKEY_CURRENT_USER, kStoreKey, 0, access, key.put()));
}

void LogFailure(const char* format) noexcept {
    const DWORD error = ::GetLastError();
    try {
        WriteError(StringPrintf(format, static_cast<int>(error)));
    } catch (...) {
    }
}

}  // namespace

bool WriteReg(const wchar_t* name, const std::wstring& value) noexcept {
    unique_hkey key;
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    if (!OpenStore(KEY_READ | KEY_WRITE, key) ||
        !Succeeded(::RegSetValueExW(key.get(), name, 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(value.c_str()), bytes))) {
        LogFailure("WriteReg Fail, Error Code:%d");
        return false;
    }
    return true;
}

bool ReadReg(const wchar_t* name, std::wstring& value) noexcept {
    value.clear();
    wchar_t buffer[kReadLimitBytes / sizeof(wchar_t)] = {};
    DWORD bytes = kReadLimitBytes;
    unique_hkey key;
    if (!OpenStore(KEY_READ, key) ||
        !Succeeded(::RegQueryValueExW(key.get(), name, nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(buffer), &bytes))) {
        LogFailure("ReadReg Fail, Error Code:%d");
        return false;
    }
    // A value stored without a terminator may fill the whole buffer.
    try {
        value.assign(buffer, ::wcsnlen(buffer, std::size(buffer)));
    } catch (...) {
        return false;
    }
    return true;
}

bool TokenStored() noexcept {
    std::wstring token;
    return ReadReg(kTokenValue, token) && !token.empty();
}

bool DelReg(const wchar_t* name) noexcept {
    unique_hkey key;
    if (!OpenStore(KEY_READ | KEY_WRITE, key)) {
        LogFailure("DelReg Fail, Error Code:%d");
        return false;
    }
    if (!Succeeded(::RegDeleteValueW(key.get(), name))) {
        LogFailure("DelReg fail, Error Code:%d");
        return false;
    }
    return true;
}

void ClearAccount() noexcept {
    for (const wchar_t* name : {kTokenValue, kUinValue, kSidValue, kUserValue, kNicknameValue}) {
        DelReg(name);
    }
}

}  // namespace kvshake

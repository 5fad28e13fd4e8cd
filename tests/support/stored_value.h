#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/settings_store.h"
#include "foundation/unique_resource.h"

namespace kvshake::testing {

// A stored value as ReadReg reads it; empty when it is missing.
inline std::wstring Stored(const wchar_t* name) {
    std::wstring value;
    ReadReg(name, value);
    return value;
}

// A registry value set for as long as this lives; then what was there before is put back.
class ScopedRegValue {
  public:
    ScopedRegValue(HKEY root, const wchar_t* path, const wchar_t* name, DWORD type,
                   const void* data, size_t size)
        : name_(name) {
        ::RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                          key_.put(), nullptr);
        DWORD oldSize = 0;
        present_ = ::RegQueryValueExW(key_.get(), name, nullptr, &type_, nullptr, &oldSize) == 0;
        old_.resize(oldSize);
        if (present_) ::RegQueryValueExW(key_.get(), name, nullptr, &type_, old_.data(), &oldSize);
        ::RegSetValueExW(key_.get(), name, 0, type, static_cast<const BYTE*>(data),
                         static_cast<DWORD>(size));
    }
    ScopedRegValue(HKEY root, const wchar_t* path, const wchar_t* name, const std::wstring& text)
        : ScopedRegValue(root, path, name, REG_SZ, text.c_str(),
                         (text.size() + 1) * sizeof(wchar_t)) {}
    ~ScopedRegValue() {
        if (!present_) {
            ::RegDeleteValueW(key_.get(), name_);
        } else {
            ::RegSetValueExW(key_.get(), name_, 0, type_, old_.data(),
                             static_cast<DWORD>(old_.size()));
        }
    }

  private:
    unique_hkey key_;
    const wchar_t* name_;
    bool present_ = false;
    DWORD type_ = REG_NONE;
    std::vector<BYTE> old_;
};

}  // namespace kvshake::testing

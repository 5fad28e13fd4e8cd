#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "control_double/control_double.h"
#include "foundation/unique_resource.h"
#include "support/message_recorder.h"
#include "support/test_paths.h"

namespace kvshake::testing {

inline constexpr wchar_t kWebBrowserServer[] =
    L"Software\\Classes\\CLSID\\{8856F961-340A-11D0-A96B-00C04FD705A2}\\InprocServer32";

// One value of the WebBrowser control's server key, set for as long as this lives; then what
// was there before is put back. (Wine's COM reads classes from HKLM only.)
class ServerValue {
  public:
    ServerValue(const wchar_t* name, const std::wstring& text) : name_(name) {
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kWebBrowserServer, 0, nullptr, 0,
                          KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key_.put(), nullptr);
        DWORD size = 0;
        present_ = ::RegQueryValueExW(key_.get(), name, nullptr, &type_, nullptr, &size) == 0;
        old_.resize(size);
        if (present_) ::RegQueryValueExW(key_.get(), name, nullptr, &type_, old_.data(), &size);
        ::RegSetValueExW(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    ~ServerValue() {
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
    DWORD type_ = REG_SZ;
    std::vector<BYTE> old_;
};

// The control double loaded into this program and registered as the WebBrowser control for as
// long as this lives, its pages and calls forgotten. The module stays loaded: DllCanUnloadNow
// refuses.
class RegisteredControlDouble {
  public:
    RegisteredControlDouble()
        : path_(BesideThisProgram(L"kvshake_control_double.dll")),
          module_(::LoadLibraryW(path_.c_str())) {
        if (!module_) return;
        server_.emplace(nullptr, path_);
        threadingModel_.emplace(L"ThreadingModel", L"Apartment");
        Export<control_double::ResetFn>("ControlDoubleReset")();
    }
    void Unregister() {
        threadingModel_.reset();
        server_.reset();
    }

    HMODULE Module() const { return module_; }
    template <typename Function>
    Function Export(const char* name) const {
        return ExportOf<Function>(module_, name);
    }
    std::wstring Calls() const { return Export<control_double::CallsFn>("ControlDoubleCalls")(); }
    long LiveObjects() const {
        return Export<control_double::LiveObjectsFn>("ControlDoubleLiveObjects")();
    }

  private:
    const std::wstring path_;
    const HMODULE module_;
    std::optional<ServerValue> server_, threadingModel_;
};

}  // namespace kvshake::testing

#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "control_double/control_double.h"
#include "support/message_recorder.h"
#include "support/stored_value.h"
#include "support/test_paths.h"

namespace kvshake::testing {

inline constexpr wchar_t kWebBrowserServer[] =
    L"Software\\Classes\\CLSID\\{8856F961-340A-11D0-A96B-00C04FD705A2}\\InprocServer32";

// The control double loaded into this program and registered as the WebBrowser control for as
// long as this lives, its pages and calls forgotten. The module stays loaded: DllCanUnloadNow
// refuses.
class RegisteredControlDouble {
  public:
    RegisteredControlDouble()
        : path_(BesideThisProgram(L"kvshake_control_double.dll")),
          module_(::LoadLibraryW(path_.c_str())) {
        if (!module_) return;
        // Wine's COM reads classes from HKLM only.
        server_.emplace(HKEY_LOCAL_MACHINE, kWebBrowserServer, nullptr, path_);
        threadingModel_.emplace(HKEY_LOCAL_MACHINE, kWebBrowserServer, L"ThreadingModel",
                                L"Apartment");
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
    std::optional<ScopedRegValue> server_, threadingModel_;
};

}  // namespace kvshake::testing

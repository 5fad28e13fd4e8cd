#pragma once

#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "browser_double/connection_point_double.h"
#include "foundation/unique_resource.h"
#include "com_stubs.h"

namespace kvshake::testing {

struct bstr_traits {
    using type = BSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::SysFreeString(value); }
};
using unique_bstr = unique_any<bstr_traits>;

// A window is destroyed by the thread that made it; from any other thread it is asked to close.
struct window_traits {
    using type = HWND;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept;
};
using unique_window = unique_any<window_traits>;

// VariantCopy, which reads but does not change its source (mingw declares the source non-const).
inline HRESULT CopyVariant(VARIANT* target, const VARIANT& source) noexcept {
    return ::VariantCopy(target, const_cast<VARIANT*>(&source));
}

// Owns one VARIANT. Copies go through VariantCopy, so a copy owns its own strings and
// references.
class unique_variant {
  public:
    unique_variant() noexcept { ::VariantInit(&value_); }
    explicit unique_variant(const VARIANT& source) noexcept : unique_variant() {
        CopyVariant(&value_, source);
    }
    unique_variant(const unique_variant& other) noexcept : unique_variant(other.value_) {}
    unique_variant& operator=(const unique_variant& other) noexcept {
        if (this != &other) CopyVariant(&value_, other.value_);
        return *this;
    }
    unique_variant(unique_variant&& other) noexcept : value_(other.value_) {
        ::VariantInit(&other.value_);
    }
    unique_variant& operator=(unique_variant&& other) noexcept {
        if (this != &other) {
            ::VariantClear(&value_);
            value_ = other.value_;
            ::VariantInit(&other.value_);
        }
        return *this;
    }
    ~unique_variant() { ::VariantClear(&value_); }

    const VARIANT& get() const noexcept { return value_; }
    VARTYPE type() const noexcept { return value_.vt; }
    // Clears the current value before handing out its address to an out-parameter.
    VARIANT* put() noexcept {
        ::VariantClear(&value_);
        return &value_;
    }

  private:
    VARIANT value_;
};

unique_variant BoolVariant(bool value);
unique_variant I4Variant(LONG value);
unique_variant StringVariant(const std::wstring& value);

// Stands in for the browser object of one tab, as a helper object sees it through its site:
// IWebBrowser2 with its top-level window, address and named properties, and the
// DWebBrowserEvents2 connection point. Every other method answers E_NOTIMPL.
// Reference counts are thread-safe; sinks are called on the thread that fires an event.
class BrowserDouble final : public WebBrowser2Stubs, public IConnectionPointContainer {
  public:
    // A browser whose top-level window belongs to the calling thread; null when the window
    // cannot be made.
    static Microsoft::WRL::ComPtr<BrowserDouble> Create();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IWebBrowser, IWebBrowserApp
    HRESULT STDMETHODCALLTYPE get_LocationURL(BSTR* url) override;
    HRESULT STDMETHODCALLTYPE get_HWND(SHANDLE_PTR* window) override;
    HRESULT STDMETHODCALLTYPE PutProperty(BSTR name, VARIANT value) override;
    HRESULT STDMETHODCALLTYPE GetProperty(BSTR name, VARIANT* value) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // DWebBrowserEvents2::OnQuit.
    void FireQuit();
    // DWebBrowserEvents2::WindowStateChanged(dwWindowStateFlags, dwValidFlagsMask).
    void FireWindowStateChanged(DWORD flags, DWORD validMask);
    std::size_t SinkCount() const { return events_.SinkCount(); }

    // The calls received so far, such as L"Advise", L"Unadvise", L"PutProperty ClickBtn",
    // L"GetProperty HideWindow", L"get_LocationURL", L"get_HWND".
    std::vector<std::wstring> Calls() const { return calls_.Snapshot(); }
    void ClearCalls() { calls_.Clear(); }

    // A copy of a property; VT_EMPTY when it was never set.
    unique_variant Property(const std::wstring& name) const;
    void SetProperty(const std::wstring& name, const VARIANT& value);

    HWND TopWindow() const { return window_.get(); }
    void SetLocationUrl(std::wstring url);
    // The references held on the object, for checking that a client let go of it.
    ULONG References() const { return references_.load(); }

  private:
    explicit BrowserDouble(unique_window window);
    ~BrowserDouble();

    std::atomic<ULONG> references_{0};
    CallLog calls_;
    ConnectionPointDouble events_;
    unique_window window_;
    mutable std::mutex mutex_;
    std::wstring locationUrl_ = L"about:blank";
    std::map<std::wstring, unique_variant> properties_;
};

}  // namespace kvshake::testing

#pragma once

#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "browser_double/connection_point_double.h"
#include "browser_double/page_double.h"
#include "com/scoped_variant.h"
#include "foundation/unique_resource.h"
#include "foundation/critical_section.h"
#include "com_stubs.h"

namespace kvshake::testing {

// The module that holds the doubles' code: a test program, or a double's own DLL.
HINSTANCE ThisModule();

struct window_traits {
    using type = HWND;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept;
};
using unique_window = unique_any<window_traits>;

// A tab window with its page under a browser's window, made and kept by a thread of its own.
class OtherTab;

// VariantCopy, which reads but does not change its source (mingw declares the source non-const).
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
    HRESULT STDMETHODCALLTYPE get_Document(IDispatch** document) override;
    HRESULT STDMETHODCALLTYPE get_LocationURL(BSTR* url) override;
    HRESULT STDMETHODCALLTYPE get_HWND(SHANDLE_PTR* window) override;
    HRESULT STDMETHODCALLTYPE PutProperty(BSTR name, VARIANT value) override;
    HRESULT STDMETHODCALLTYPE GetProperty(BSTR name, VARIANT* value) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // DWebBrowserEvents2::OnQuit.
    void FireQuit();
    // DWebBrowserEvents2::WindowStateChanged(dwWindowStateFlags, dwValidFlagsMask), as VT_I4
    // like the browser, or as another integer type.
    void FireWindowStateChanged(DWORD flags, DWORD validMask, VARTYPE type = VT_I4);

    // A copy of a property; VT_EMPTY when it was never set.
    ScopedVariant Property(const std::wstring& name) const;
    void SetProperty(const std::wstring& name, const VARIANT& value);

    HWND TopWindow() const { return window_.get(); }
    // The page the tab shows: get_Document hands out its document; with none (the start),
    // get_Document answers S_OK and null.
    void ShowPage(std::shared_ptr<PageDouble> page);
    // Builds the browser's window tree under the top window as that version of the browser has
    // it (6; 7; 8 to 11), as real windows of the calling thread, and returns the
    // "Internet Explorer_Server" window. With otherTabs (7 to 11), a tab of the same browser
    // stands on either side of this one, each made by a thread of its own, as the browser's
    // other tabs are.
    HWND BuildWindowTree(int version, bool otherTabs = false);
    void SetLocationUrl(std::wstring url);
    // The references held on the object, for checking that a client let go of it.
    ULONG References() const { return references_.load(); }

  private:
    explicit BrowserDouble(unique_window window);
    ~BrowserDouble();

    std::atomic<ULONG> references_{0};
    CallLog calls_;  // the connection point's: Advise and Unadvise
    ConnectionPointDouble events_;
    unique_window window_;
    mutable CriticalSection mutex_;
    std::wstring locationUrl_ = L"about:blank";
    std::map<std::wstring, ScopedVariant> properties_;
    std::shared_ptr<PageDouble> page_;
    std::vector<std::unique_ptr<OtherTab>> otherTabs_;  // they go before the top window
};

}  // namespace kvshake::testing

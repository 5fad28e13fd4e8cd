#pragma once

#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "browser_double/com_object.h"
#include "browser_double/connection_point_double.h"
#include "browser_double/page_double.h"
#include "com/scoped_variant.h"
#include "foundation/unique_resource.h"
#include "foundation/critical_section.h"
#include "support/message_recorder.h"
#include "com_stubs.h"

namespace kvshake::testing {

struct window_traits {
    using type = HWND;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept;
};
using unique_window = unique_any<window_traits>;

// A tab window with its page under a browser's window, made and kept by a thread of its own.
class OtherTab;

// The browser object of a tab.
class BrowserDouble final : public ComObject<WebBrowser2Stubs, ConnectionPointContainerStubs> {
  public:
    // A browser whose top-level window belongs to the calling thread; null when the window
    // cannot be made.
    static Microsoft::WRL::ComPtr<BrowserDouble> Create();

    // IWebBrowser, IWebBrowserApp
    HRESULT STDMETHODCALLTYPE get_Document(IDispatch** document) override;
    HRESULT STDMETHODCALLTYPE get_LocationURL(BSTR* url) override;
    HRESULT STDMETHODCALLTYPE get_HWND(SHANDLE_PTR* window) override;
    HRESULT STDMETHODCALLTYPE PutProperty(BSTR name, VARIANT value) override;
    HRESULT STDMETHODCALLTYPE GetProperty(BSTR name, VARIANT* value) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
        return events_.HandOut(riid, point);
    }

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

  private:
    explicit BrowserDouble(unique_window window);
    void* Find(REFIID riid) override {
        return FindIn<AsBrowser, As<IConnectionPointContainer>>(this, riid);
    }

    ConnectionPointDouble events_;
    unique_window window_;
    mutable CriticalSection mutex_;
    std::wstring locationUrl_ = L"about:blank";
    std::map<std::wstring, ScopedVariant> properties_;
    std::shared_ptr<PageDouble> page_;
    std::vector<std::unique_ptr<OtherTab>> otherTabs_;  // they go before the top window
};

}  // namespace kvshake::testing

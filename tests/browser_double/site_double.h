#pragma once

#include <windows.h>
#include <oleidl.h>
#include <servprov.h>
#include <wrl/client.h>

#include <atomic>

#include "browser_double/browser_double.h"
#include "com_stubs.h"

namespace kvshake::testing {

// The site the browser hands a helper object in IObjectWithSite::SetSite. Its service
// SID_SWebBrowserApp is the browser of the tab; IOleClientSite is there, answering E_NOTIMPL.
class SiteDouble final : public OleClientSiteStubs, public IServiceProvider {
  public:
    static Microsoft::WRL::ComPtr<SiteDouble> Create(Microsoft::WRL::ComPtr<BrowserDouble> browser);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IServiceProvider: SID_SWebBrowserApp gives the browser's interface riid; any other
    // service, or any service of a site without a browser, gives E_NOINTERFACE.
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID riid, void** object) override;

    const Microsoft::WRL::ComPtr<BrowserDouble>& Browser() const { return browser_; }
    ULONG References() const { return references_.load(); }

  private:
    explicit SiteDouble(Microsoft::WRL::ComPtr<BrowserDouble> browser);
    ~SiteDouble() = default;

    std::atomic<ULONG> references_{0};
    const Microsoft::WRL::ComPtr<BrowserDouble> browser_;
};

}  // namespace kvshake::testing

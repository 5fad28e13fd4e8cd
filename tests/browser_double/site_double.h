#pragma once

#include <windows.h>
#include <oleidl.h>
#include <servprov.h>
#include <shlguid.h>
#include <wrl/client.h>

#include <utility>

#include "browser_double/browser_double.h"
#include "browser_double/com_object.h"
#include "com_stubs.h"

namespace kvshake::testing {

// The site the browser hands a helper object in IObjectWithSite::SetSite. Its service
// SID_SWebBrowserApp is the browser of the tab; IOleClientSite is there, answering E_NOTIMPL.
class SiteDouble final : public ComObject<OleClientSiteStubs, IServiceProvider> {
  public:
    static Microsoft::WRL::ComPtr<SiteDouble> Create(
        Microsoft::WRL::ComPtr<BrowserDouble> browser) {
        // The smart pointer takes the new object's first reference.
        return Microsoft::WRL::ComPtr<SiteDouble>(new SiteDouble(std::move(browser)));
    }

    // IServiceProvider: SID_SWebBrowserApp gives the browser's interface riid; any other
    // service gives E_NOINTERFACE.
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (service != SID_SWebBrowserApp || !browser_) return E_NOINTERFACE;
        return browser_->QueryInterface(riid, object);
    }

  private:
    explicit SiteDouble(Microsoft::WRL::ComPtr<BrowserDouble> browser)
        : browser_(std::move(browser)) {}
    void* Find(REFIID riid) override {
        return FindIn<As<IServiceProvider, IUnknown>, As<IOleClientSite>>(this, riid);
    }

    const Microsoft::WRL::ComPtr<BrowserDouble> browser_;
};

}  // namespace kvshake::testing

#include "browser_double/site_double.h"

#include <exdisp.h>
#include <shlguid.h>

#include <utility>

namespace kvshake::testing {

using Microsoft::WRL::ComPtr;

ComPtr<SiteDouble> SiteDouble::Create(ComPtr<BrowserDouble> browser) {
    // The smart pointer takes the new object's first reference.
    return ComPtr<SiteDouble>(new SiteDouble(std::move(browser)));
}

SiteDouble::SiteDouble(ComPtr<BrowserDouble> browser) : browser_(std::move(browser)) {}

HRESULT SiteDouble::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IServiceProvider) {
        *object = static_cast<IServiceProvider*>(this);
    } else if (riid == IID_IOleClientSite) {
        *object = static_cast<IOleClientSite*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG SiteDouble::AddRef() { return ++references_; }

ULONG SiteDouble::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

HRESULT SiteDouble::QueryService(REFGUID service, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (service != SID_SWebBrowserApp || !browser_) return E_NOINTERFACE;
    return browser_->QueryInterface(riid, object);
}

}  // namespace kvshake::testing

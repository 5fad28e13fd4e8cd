#include "bho/browser_properties.h"

namespace kvshake {

ScopedVariant GetBrowserProperty(IWebBrowser2* browser, const wchar_t* name) {
    ScopedVariant value;
    unique_bstr property(::SysAllocString(name));
    if (browser && property) browser->GetProperty(property.get(), value.put());
    return value;
}

HRESULT PutBrowserProperty(IWebBrowser2* browser, const wchar_t* name, const ScopedVariant& value) {
    if (!browser) return E_POINTER;
    unique_bstr property(::SysAllocString(name));
    if (!property) return E_OUTOFMEMORY;
    return browser->PutProperty(property.get(), value.get());
}

bool BrowserFlagIsSet(IWebBrowser2* browser, const wchar_t* name) {
    const ScopedVariant value = GetBrowserProperty(browser, name);
    return value.type() == VT_BOOL && value.get().boolVal != VARIANT_FALSE;
}

HWND HiddenWindowProperty(IWebBrowser2* browser) {
    const ScopedVariant window = GetBrowserProperty(browser, kHideWindowProperty);
    return window.type() == VT_I4 ? static_cast<HWND>(LongToHandle(window.get().lVal)) : nullptr;
}

}  // namespace kvshake

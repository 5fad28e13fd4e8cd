#include "panel/web_browser.h"

#include <exdispid.h>
#include <objbase.h>

#include <utility>

#include "com/scoped_variant.h"

namespace kvshake {

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kDefaultStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

// The argument at position from the left, as the event's declaration lists them (DISPPARAMS
// carries them the other way round), when it has the expected type.
VARIANT* Argument(DISPPARAMS* params, UINT position, VARTYPE type) {
    if (!params || position >= params->cArgs) return nullptr;
    VARIANT& argument = params->rgvarg[params->cArgs - 1 - position];
    return argument.vt == type ? &argument : nullptr;
}

}  // namespace

CWebBrowser::CWebBrowser() noexcept : eventSink_(this, DIID_DWebBrowserEvents2) {}

CWebBrowser::~CWebBrowser() {
    m_spExternal.Reset();
    m_spHostedBrowser.Reset();
}

HWND CWebBrowser::CreateBrowser(HWND parent, const RECT* rect, DWORD style, DWORD exStyle,
                                UINT id) {
    wchar_t clsid[39] = {};
    if (!::StringFromGUID2(CLSID_WebBrowser, clsid, ARRAYSIZE(clsid))) return nullptr;
    const HWND window =
        CreateAxHostWindow(clsid, parent, rect, style ? style : kDefaultStyle, exStyle, id, this);
    if (!window) return nullptr;
    m_hWnd = window;
    const ComPtr<IUnknown> control = HostedControl(window);
    if (control) {
        eventSink_.Advise(control.Get());
        control.As(&m_spHostedBrowser);
    }
    return window;
}

void CWebBrowser::DestroyWindow() {
    if (m_hWnd) ::DestroyWindow(m_hWnd);
}

void CWebBrowser::Navigate(const wchar_t* url) {
    if (!m_spHostedBrowser) return;
    // 1, like every flag this module sets on a browser, rather than VARIANT_TRUE.
    m_spHostedBrowser->put_Silent(static_cast<VARIANT_BOOL>(1));
    unique_bstr address(::SysAllocString(url));
    // An integer and empty values own nothing: plain VARIANTs need no clearing.
    VARIANT flags;
    ::VariantInit(&flags);
    flags.vt = VT_I4;
    flags.lVal = 0;
    VARIANT none;
    ::VariantInit(&none);
    m_spHostedBrowser->Navigate(address.get(), &flags, &none, &none, &none);
}

ComPtr<IHTMLDocument2> CWebBrowser::GetDocument() const {
    ComPtr<IDispatch> document;
    ComPtr<IHTMLDocument2> html;
    if (m_spHostedBrowser && SUCCEEDED(m_spHostedBrowser->get_Document(&document)) && document) {
        document.As(&html);
    }
    return html;
}

void CWebBrowser::SetExternal(ComPtr<IDispatch> external) noexcept {
    m_spExternal = std::move(external);
}

void CWebBrowser::OnHostDestroying(IUnknown* control) noexcept {
    if (control && eventSink_.Cookie() != DispatchEventSink::kNotAdvised) {
        eventSink_.Unadvise(control);
    }
}

void CWebBrowser::OnHostFinalMessage() noexcept { m_hWnd = nullptr; }

STDMETHODIMP CWebBrowser::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDocHostUIHandler) {
        *object = static_cast<IDocHostUIHandler*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CWebBrowser::ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) { return S_FALSE; }

STDMETHODIMP CWebBrowser::GetHostInfo(DOCHOSTUIINFO*) { return S_OK; }

STDMETHODIMP CWebBrowser::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*,
                                 IOleInPlaceFrame*, IOleInPlaceUIWindow*) {
    return S_FALSE;
}

STDMETHODIMP CWebBrowser::HideUI() { return S_OK; }

STDMETHODIMP CWebBrowser::UpdateUI() { return S_OK; }

STDMETHODIMP CWebBrowser::EnableModeless(BOOL) { return S_OK; }

STDMETHODIMP CWebBrowser::OnDocWindowActivate(BOOL) { return S_OK; }

STDMETHODIMP CWebBrowser::OnFrameWindowActivate(BOOL) { return S_OK; }

STDMETHODIMP CWebBrowser::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }

STDMETHODIMP CWebBrowser::TranslateAccelerator(LPMSG, const GUID*, DWORD) { return E_NOTIMPL; }

STDMETHODIMP CWebBrowser::GetOptionKeyPath(LPOLESTR*, DWORD) { return E_FAIL; }

// The control keeps its own drop target.
STDMETHODIMP CWebBrowser::GetDropTarget(IDropTarget*, IDropTarget** target) {
    if (target) *target = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CWebBrowser::GetExternal(IDispatch** external) {
    if (!external) return E_POINTER;
    if (!m_spExternal) return S_FALSE;
    return m_spExternal.CopyTo(external);
}

STDMETHODIMP CWebBrowser::TranslateUrl(DWORD, LPWSTR, LPWSTR*) { return S_FALSE; }

STDMETHODIMP CWebBrowser::FilterDataObject(IDataObject*, IDataObject**) { return S_FALSE; }

STDMETHODIMP CWebBrowser::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

STDMETHODIMP CWebBrowser::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

STDMETHODIMP CWebBrowser::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

STDMETHODIMP CWebBrowser::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                 EXCEPINFO*, UINT*) {
    try {
        switch (id) {
            case DISPID_DOCUMENTCOMPLETE:
                if (VARIANT* frame = Argument(params, 0, VT_DISPATCH)) {
                    OnDocumentComplete(frame->pdispVal);
                }
                break;
            case DISPID_NEWWINDOW2:
                if (VARIANT* cancel = Argument(params, 1, VT_BYREF | VT_BOOL)) {
                    *cancel->pboolVal = VARIANT_FALSE;
                }
                break;
            case DISPID_PROGRESSCHANGE:
            case DISPID_COMMANDSTATECHANGE:
            default:
                break;
        }
    } catch (...) {
    }
    return S_OK;
}

}  // namespace kvshake

#include "panel/ax_host.h"

#include <new>

#include "com/module.h"

namespace kvshake {

using Microsoft::WRL::ComPtr;

namespace {

RECT ClientArea(HWND window) noexcept {
    RECT area{};
    ::GetClientRect(window, &area);
    return area;
}

}  // namespace

ComPtr<AxHost> AxHost::Create(HWND window) noexcept {
    return ComPtr<AxHost>(new (std::nothrow) AxHost(window));
}

AxHost::AxHost(HWND window) noexcept : window_(window) { Module().Lock(); }

AxHost::~AxHost() { Module().Unlock(); }

HRESULT AxHost::CreateControl(REFCLSID clsid) noexcept {
    ComPtr<IOleObject> control;
    HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control));
    if (FAILED(hr)) return hr;
    hr = control->SetClientSite(this);
    if (FAILED(hr)) return hr;
    control_ = control;
    RECT area = ClientArea(window_);
    hr = control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, window_, &area);
    if (FAILED(hr)) Close();
    return hr;
}

void AxHost::Close() noexcept {
    ComPtr<IUnknown> control = std::move(control_);
    if (!control) return;
    ComPtr<IOleInPlaceObject> inPlace;
    if (SUCCEEDED(control.As(&inPlace))) inPlace->InPlaceDeactivate();
    ComPtr<IOleObject> object;
    if (SUCCEEDED(control.As(&object))) {
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
    }
}

void AxHost::FitControl() noexcept {
    ComPtr<IOleInPlaceObject> inPlace;
    if (!inPlaceActive_ || !control_ || FAILED(control_.As(&inPlace))) return;
    const RECT area = ClientArea(window_);
    inPlace->SetObjectRects(&area, &area);
}

STDMETHODIMP AxHost::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
        *object = static_cast<IOleClientSite*>(this);
    } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
        *object = static_cast<IOleInPlaceSite*>(this);
    } else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
        *object = static_cast<IOleInPlaceFrame*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) AxHost::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) AxHost::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP AxHost::SaveObject() { return E_NOTIMPL; }

STDMETHODIMP AxHost::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}

// No container: the control is alone in its window.
STDMETHODIMP AxHost::GetContainer(IOleContainer** container) {
    if (container) *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP AxHost::ShowObject() { return S_OK; }

STDMETHODIMP AxHost::OnShowWindow(BOOL) { return S_OK; }

STDMETHODIMP AxHost::RequestNewObjectLayout() { return E_NOTIMPL; }

STDMETHODIMP AxHost::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = window_;
    return S_OK;
}

STDMETHODIMP AxHost::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP AxHost::CanInPlaceActivate() { return S_OK; }

STDMETHODIMP AxHost::OnInPlaceActivate() {
    inPlaceActive_ = true;
    return S_OK;
}

STDMETHODIMP AxHost::OnUIActivate() { return S_OK; }

// The host window is the frame as well; the control has the whole client area.
STDMETHODIMP AxHost::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                      RECT* position, RECT* clip, OLEINPLACEFRAMEINFO* info) {
    if (!frame || !document || !position || !clip || !info) return E_POINTER;
    AddRef();
    *frame = this;
    *document = nullptr;
    *position = ClientArea(window_);
    *clip = *position;
    info->cb = sizeof(OLEINPLACEFRAMEINFO);
    info->fMDIApp = FALSE;
    info->hwndFrame = window_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

STDMETHODIMP AxHost::Scroll(SIZE) { return E_NOTIMPL; }

STDMETHODIMP AxHost::OnUIDeactivate(BOOL) { return S_OK; }

STDMETHODIMP AxHost::OnInPlaceDeactivate() {
    inPlaceActive_ = false;
    return S_OK;
}

STDMETHODIMP AxHost::DiscardUndoState() { return E_NOTIMPL; }

STDMETHODIMP AxHost::DeactivateAndUndo() { return E_NOTIMPL; }

STDMETHODIMP AxHost::OnPosRectChange(const RECT* position) {
    if (!position) return E_POINTER;
    ComPtr<IOleInPlaceObject> inPlace;
    if (control_ && SUCCEEDED(control_.As(&inPlace))) inPlace->SetObjectRects(position, position);
    return S_OK;
}

STDMETHODIMP AxHost::GetBorder(RECT* border) {
    if (border) ::SetRectEmpty(border);
    return INPLACE_E_NOTOOLSPACE;
}

STDMETHODIMP AxHost::RequestBorderSpace(const BORDERWIDTHS*) { return INPLACE_E_NOTOOLSPACE; }

STDMETHODIMP AxHost::SetBorderSpace(const BORDERWIDTHS*) { return INPLACE_E_NOTOOLSPACE; }

STDMETHODIMP AxHost::SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) { return S_OK; }

STDMETHODIMP AxHost::InsertMenus(HMENU, OLEMENUGROUPWIDTHS*) { return E_NOTIMPL; }

STDMETHODIMP AxHost::SetMenu(HMENU, HOLEMENU, HWND) { return S_OK; }

STDMETHODIMP AxHost::RemoveMenus(HMENU) { return E_NOTIMPL; }

STDMETHODIMP AxHost::SetStatusText(LPCOLESTR) { return S_OK; }

STDMETHODIMP AxHost::EnableModeless(BOOL) { return S_OK; }

STDMETHODIMP AxHost::TranslateAccelerator(MSG*, WORD) { return S_FALSE; }

}  // namespace kvshake

#include "com/dispatch_event_sink.h"

#include "com/connection_point.h"

namespace kvshake {

HRESULT DispatchEventSink::Advise(IUnknown* source) noexcept {
    DWORD cookie = kNotAdvised;
    const HRESULT hr = AdviseEvents(source, static_cast<IDispatch*>(this), events_, &cookie);
    if (SUCCEEDED(hr)) cookie_ = cookie;
    return hr;
}

HRESULT DispatchEventSink::Unadvise(IUnknown* source) noexcept {
    const HRESULT hr = UnadviseEvents(source, events_, cookie_);
    cookie_ = kNotAdvised;
    return hr;
}

STDMETHODIMP DispatchEventSink::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == events_ || iid == IID_IDispatch || iid == IID_IUnknown) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

}  // namespace kvshake

#include "com/connection_point.h"

#include <wrl/client.h>

namespace kvshake {
namespace {

HRESULT FindConnectionPoint(IUnknown* source, REFIID iid,
                            Microsoft::WRL::ComPtr<IConnectionPoint>& point) noexcept {
    if (!source) return E_INVALIDARG;
    Microsoft::WRL::ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_PPV_ARGS(&container));
    if (FAILED(hr)) return hr;
    return container->FindConnectionPoint(iid, &point);
}

}  // namespace

HRESULT AdviseEvents(IUnknown* source, IUnknown* sink, REFIID iid, DWORD* cookie) noexcept {
    Microsoft::WRL::ComPtr<IConnectionPoint> point;
    const HRESULT hr = FindConnectionPoint(source, iid, point);
    if (FAILED(hr)) return hr;
    return point->Advise(sink, cookie);
}

HRESULT UnadviseEvents(IUnknown* source, REFIID iid, DWORD cookie) noexcept {
    Microsoft::WRL::ComPtr<IConnectionPoint> point;
    const HRESULT hr = FindConnectionPoint(source, iid, point);
    if (FAILED(hr)) return hr;
    return point->Unadvise(cookie);
}

}  // namespace kvshake

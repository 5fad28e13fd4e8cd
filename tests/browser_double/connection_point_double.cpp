#include "browser_double/connection_point_double.h"

#include <olectl.h>

#include <mutex>
#include <utility>

namespace kvshake::testing {

using Microsoft::WRL::ComPtr;

ConnectionPointDouble::ConnectionPointDouble(IConnectionPointContainer& container,
                                             const IID& events, std::wstring* calls)
    : container_(container), events_(events), calls_(calls) {}

HRESULT ConnectionPointDouble::HandOut(REFIID riid, IConnectionPoint** point) {
    if (point == nullptr) return E_POINTER;
    *point = riid == events_ ? this : nullptr;
    if (*point == nullptr) return CONNECT_E_NOCONNECTION;
    AddRef();
    return S_OK;
}

HRESULT ConnectionPointDouble::Advise(IUnknown* sink, DWORD* cookie) {
    if (calls_) *calls_ += L"Advise\n";
    if (cookie == nullptr) return E_POINTER;
    *cookie = 0;
    if (sink == nullptr) return E_POINTER;
    // The browser takes sinks that answer the events' own interface or just IDispatch.
    ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(events_, reinterpret_cast<void**>(dispatch.GetAddressOf()))) &&
        FAILED(sink->QueryInterface(IID_PPV_ARGS(dispatch.ReleaseAndGetAddressOf())))) {
        return CONNECT_E_CANNOTCONNECT;
    }
    std::lock_guard<CriticalSection> lock(mutex_);
    std::size_t slot = 0;
    while (slot < slots_.size() && slots_[slot]) ++slot;
    if (slot == slots_.size()) slots_.emplace_back();
    slots_[slot] = std::move(dispatch);
    *cookie = static_cast<DWORD>(slot + 1);
    return S_OK;
}

HRESULT ConnectionPointDouble::Unadvise(DWORD cookie) {
    if (calls_) *calls_ += L"Unadvise\n";
    ComPtr<IDispatch> released;  // let go of once the lock is
    std::lock_guard<CriticalSection> lock(mutex_);
    if (cookie == 0 || cookie > slots_.size() || !slots_[cookie - 1]) return CONNECT_E_NOCONNECTION;
    released.Swap(slots_[cookie - 1]);
    return S_OK;
}

std::vector<ComPtr<IDispatch>> ConnectionPointDouble::SinksNow() const {
    std::lock_guard<CriticalSection> lock(mutex_);
    std::vector<ComPtr<IDispatch>> sinks;
    for (const auto& sink : slots_) {
        if (sink) sinks.push_back(sink);
    }
    return sinks;
}

void ConnectionPointDouble::Fire(DISPID dispid, std::vector<VARIANT> arguments) {
    DISPPARAMS params{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
    for (const auto& sink : SinksNow()) {
        sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                     nullptr, nullptr);
    }
}

}  // namespace kvshake::testing

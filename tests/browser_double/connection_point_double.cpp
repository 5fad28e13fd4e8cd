#include "browser_double/connection_point_double.h"

#include <olectl.h>

#include <utility>

namespace kvshake::testing {

using Microsoft::WRL::ComPtr;

void CallLog::Add(std::wstring call) {
    std::lock_guard<CriticalSection> lock(mutex_);
    calls_.push_back(std::move(call));
}

std::vector<std::wstring> CallLog::Snapshot() const {
    std::lock_guard<CriticalSection> lock(mutex_);
    return calls_;
}

void CallLog::Clear() {
    std::lock_guard<CriticalSection> lock(mutex_);
    calls_.clear();
}

ConnectionPointDouble::ConnectionPointDouble(IConnectionPointContainer& container,
                                             const IID& events, CallLog& log)
    : container_(container), events_(events), log_(log) {}

ConnectionPointDouble::~ConnectionPointDouble() {
    // A sink's last release may run code of its own; do it without holding the lock.
    std::vector<ComPtr<IDispatch>> sinks;
    {
        std::lock_guard<CriticalSection> lock(mutex_);
        sinks.swap(slots_);
    }
}

HRESULT ConnectionPointDouble::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG ConnectionPointDouble::AddRef() { return container_.AddRef(); }

ULONG ConnectionPointDouble::Release() { return container_.Release(); }

HRESULT ConnectionPointDouble::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = events_;
    return S_OK;
}

HRESULT ConnectionPointDouble::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (container == nullptr) return E_POINTER;
    container_.AddRef();
    *container = &container_;
    return S_OK;
}

HRESULT ConnectionPointDouble::Advise(IUnknown* sink, DWORD* cookie) {
    log_.Add(L"Advise");
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
    log_.Add(L"Unadvise");
    ComPtr<IDispatch> released;
    {
        std::lock_guard<CriticalSection> lock(mutex_);
        if (cookie == 0 || cookie > slots_.size() || !slots_[cookie - 1]) {
            return CONNECT_E_NOCONNECTION;
        }
        released.Swap(slots_[cookie - 1]);
    }
    return S_OK;
}

HRESULT ConnectionPointDouble::EnumConnections(IEnumConnections** connections) {
    if (connections != nullptr) *connections = nullptr;
    return E_NOTIMPL;
}

std::vector<ComPtr<IDispatch>> ConnectionPointDouble::SinksNow() const {
    std::lock_guard<CriticalSection> lock(mutex_);
    std::vector<ComPtr<IDispatch>> sinks;
    for (const auto& sink : slots_) {
        if (sink) sinks.push_back(sink);
    }
    return sinks;
}

void ConnectionPointDouble::Fire(DISPID dispid, DISPPARAMS& params) {
    for (const auto& sink : SinksNow()) {
        sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                     nullptr, nullptr);
    }
}

}  // namespace kvshake::testing

#pragma once

#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/critical_section.h"

namespace kvshake::testing {

// The calls a double received, in order, for tests that check what was called when.
class CallLog {
  public:
    void Add(std::wstring call);
    std::vector<std::wstring> Snapshot() const;
    void Clear();

  private:
    mutable CriticalSection mutex_;
    std::vector<std::wstring> calls_;
};

// The connection point of one outgoing dispatch interface. It is a part of its container: its
// references are the container's, so it lives exactly as long as the object that owns it.
// Sinks sit in slots; a cookie is the slot number counted from 1, and a freed slot is taken again
// by the next Advise, as the browser does.
class ConnectionPointDouble final : public IConnectionPoint {
  public:
    ConnectionPointDouble(IConnectionPointContainer& container, const IID& events, CallLog& log);
    ConnectionPointDouble(const ConnectionPointDouble&) = delete;
    ConnectionPointDouble& operator=(const ConnectionPointDouble&) = delete;
    ~ConnectionPointDouble();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IConnectionPoint
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

    const IID& Events() const { return events_; }
    // Calls IDispatch::Invoke of every sink on the calling thread, as a method call with the
    // given arguments. The sinks are taken before the first call, so a sink may unadvise itself.
    void Fire(DISPID dispid, DISPPARAMS& params);

  private:
    std::vector<Microsoft::WRL::ComPtr<IDispatch>> SinksNow() const;

    IConnectionPointContainer& container_;
    const IID events_;
    CallLog& log_;
    mutable CriticalSection mutex_;
    std::vector<Microsoft::WRL::ComPtr<IDispatch>> slots_;
};

}  // namespace kvshake::testing

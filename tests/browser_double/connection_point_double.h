#pragma once

#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "browser_double/com_object.h"
#include "foundation/critical_section.h"
#include "com_stubs.h"

namespace kvshake::testing {

// The connection point of one outgoing dispatch interface. It is a part of its container: its
// references are the container's, so it lives exactly as long as the object that owns it.
// Sinks sit in slots; a cookie is the slot number counted from 1, and a freed slot is taken again
// by the next Advise, as the browser does. With calls, each Advise and Unadvise adds its name and a
// line break to it.
class ConnectionPointDouble final : public ComObject<ConnectionPointStubs> {
  public:
    ConnectionPointDouble(IConnectionPointContainer& container, const IID& events,
                          std::wstring* calls = nullptr);

    ULONG STDMETHODCALLTYPE AddRef() override { return container_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return container_.Release(); }

    // IConnectionPoint
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;

    // The container's FindConnectionPoint.
    HRESULT HandOut(REFIID riid, IConnectionPoint** point);
    // Calls IDispatch::Invoke of every sink on the calling thread, as a method call with the
    // arguments given last first, as DISPPARAMS holds them. The sinks are taken before the first
    // call, so a sink may unadvise itself.
    void Fire(DISPID dispid, std::vector<VARIANT> arguments);

  private:
    void* Find(REFIID riid) override { return FindIn<As<IConnectionPoint, IUnknown>>(this, riid); }
    std::vector<Microsoft::WRL::ComPtr<IDispatch>> SinksNow() const;

    IConnectionPointContainer& container_;
    const IID events_;
    std::wstring* const calls_;
    mutable CriticalSection mutex_;
    std::vector<Microsoft::WRL::ComPtr<IDispatch>> slots_;
};

}  // namespace kvshake::testing

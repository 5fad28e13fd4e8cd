#pragma once

#include <oaidl.h>
#include <windows.h>

namespace kvshake {

// The sink that a connection point calls for one dispatch events interface. It is part of its
// owner: references are counted on the owner, and every IDispatch call goes to the owner's own
// IDispatch, so events and direct calls reach the same code.
class DispatchEventSink final : public IDispatch {
  public:
    static constexpr DWORD kNotAdvised = 0xFEFEFEFE;

    DispatchEventSink(IDispatch* owner, REFIID events) noexcept : owner_(owner), events_(events) {}

    HRESULT Advise(IUnknown* source) noexcept;
    HRESULT Unadvise(IUnknown* source) noexcept;
    DWORD Cookie() const noexcept { return cookie_; }

    // IUnknown: answers the events interface, IDispatch and IUnknown.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return owner_->GetTypeInfoCount(count); }
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return owner_->GetTypeInfo(index, locale, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                               DISPID* ids) override {
        return owner_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
        return owner_->Invoke(id, iid, locale, flags, params, result, exception, argumentError);
    }

  private:
    IDispatch* owner_;
    const IID& events_;
    DWORD cookie_ = kNotAdvised;
};

}  // namespace kvshake

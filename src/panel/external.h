#pragma once

#include <oaidl.h>
#include <windows.h>

#include <atomic>

namespace kvshake {

class PanelOwner;

// The script bridge of the panel's own pages: window.external of the status and settings pages.
// A plain IDispatch with six members and no properties. A page script reads a member before it
// calls it; the bridge acts on that read, whatever the kind of invocation, and gives back no
// value, so that every click runs its action exactly once. Every live object keeps the module
// loaded.
class External final : public IDispatch {
  public:
    enum Member : DISPID {
        kUnbind = 28000,
        kGoActive = 28001,
        kUnActive = 28002,
        kGoSetting = 28003,
        kGoLogin = 28004,
        kGoReminder = 28005,
    };

    // A new object with one reference, taken by the caller; null when out of memory.
    static External* Create() noexcept;

    void SetOwner(PanelOwner* owner) noexcept { m_pOwner = owner; }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // No type information: a page script needs none.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                               DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

  private:
    External() noexcept;
    ~External();

    void Perform(DISPID id);

    std::atomic<ULONG> references_{1};
    PanelOwner* m_pOwner = nullptr;
};

}  // namespace kvshake

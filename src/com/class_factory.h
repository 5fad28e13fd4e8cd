#pragma once

#include <unknwn.h>
#include <windows.h>

#include <atomic>

namespace kvshake {

// The class factory of one creatable class. DllGetClassObject creates it on first request and
// keeps it for the life of the module; while a client holds it, it holds one module lock.
class ClassFactory final : public IClassFactory {
  public:
    using Creator = HRESULT (*)(REFIID iid, void** object);
    explicit ClassFactory(Creator create) noexcept : create_(create) {}

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IClassFactory
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

  private:
    Creator create_;
    std::atomic<ULONG> references_{1};  // the module's own reference
};

}  // namespace kvshake

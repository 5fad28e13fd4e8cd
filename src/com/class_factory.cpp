#include "com/class_factory.h"

#include "com/module.h"

namespace kvshake {

STDMETHODIMP ClassFactory::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// The module's reference is the first; the first client reference locks the module and the
// last one gives the lock back.
STDMETHODIMP_(ULONG) ClassFactory::AddRef() {
    const ULONG references = ++references_;
    if (references == 2) Module().Lock();
    return references;
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
    const ULONG references = --references_;
    if (references == 1) Module().Unlock();
    if (references == 0) delete this;
    return references;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(iid, object);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
    if (lock) {
        Module().Lock();
    } else {
        Module().Unlock();
    }
    return S_OK;
}

}  // namespace kvshake

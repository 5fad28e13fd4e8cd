#pragma once

#include <windows.h>
#include <exdisp.h>
#include <oleauto.h>
#include <unknwn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <typeinfo>

namespace kvshake::testing {

// The doubles' out-parameters, as COM hands them out: E_POINTER for a null one.
inline std::wstring FromBstr(BSTR text) {
    return text == nullptr ? std::wstring() : std::wstring(text, ::SysStringLen(text));
}

inline HRESULT Give(const std::wstring& value, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = ::SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

inline HRESULT Give(long value, LONG* out) {
    if (out == nullptr) return E_POINTER;
    *out = value;
    return S_OK;
}

// A new reference to an object (or null).
template <typename Interface>
HRESULT Give(Interface* object, Interface** out) {
    if (out == nullptr) return E_POINTER;
    *out = object;
    if (object != nullptr) object->AddRef();
    return S_OK;
}

template <typename Interface>
HRESULT Refuse(HRESULT error, Interface** out) {
    if (out != nullptr) *out = nullptr;
    return error;
}

// One interface a double answers: the object as Interface when asked for it or for one of Also
// (its bases, IUnknown).
template <typename Interface, typename... Also>
struct As {
    template <typename Object>
    static void* In(Object* object, REFIID riid) {
        const bool named = riid == __uuidof(Interface) || ((riid == __uuidof(Also)) || ...);
        return named ? static_cast<Interface*>(object) : nullptr;
    }
};
using AsBrowser = As<IWebBrowser2, IUnknown, IDispatch, IWebBrowser, IWebBrowserApp>;

// The object as the first of the answers that names riid, or null.
template <typename... Answers, typename Object>
void* FindIn(Object* object, REFIID riid) {
    void* found = nullptr;
    static_cast<void>((((found = Answers::In(object, riid)) != nullptr) || ...));
    return found;
}

// IUnknown of every double: QueryInterface hands out what Find answers, and the references are
// counted. A release too many ends the process with a message, so that a test hears of it; the
// last release deletes the object unless LastReleased says otherwise.
template <typename... Bases>
class ComObject : public Bases... {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = Find(riid);
        if (*object == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (references_ == 0) {
            std::fprintf(stderr, "%s released more often than referenced\n", typeid(*this).name());
            std::abort();
        }
        const ULONG left = --references_;
        if (left == 0) LastReleased();
        return left;
    }
    // The references held on the object, for checking that a client let go of it.
    ULONG References() const { return references_; }

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    virtual void* Find(REFIID riid) = 0;
    virtual void LastReleased() { delete this; }

  private:
    std::atomic<ULONG> references_{0};
};

}  // namespace kvshake::testing

#pragma once

#include <oleauto.h>
#include <windows.h>

#include <optional>
#include <string>

#include "foundation/unique_resource.h"

namespace kvshake {

struct bstr_traits {
    using type = BSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::SysFreeString(value); }
};

// Owns a BSTR and frees it.
using unique_bstr = unique_any<bstr_traits>;

// Copies a VARIANT deeply. (The headers declare the source of VariantCopy as not const.)
inline HRESULT CopyVariant(VARIANT* target, const VARIANT& source) noexcept {
    return ::VariantCopy(target, const_cast<VARIANT*>(&source));
}

// The value of an integer VARIANT of any width or sign, also held by reference; nothing for any
// other type. Event arguments declared as DWORD come as VT_I4 from some senders, VT_UI4 from
// others.
inline std::optional<ULONG> IntegerOf(const VARIANT& value) noexcept {
    const bool byRef = (value.vt & VT_BYREF) != 0;
    switch (value.vt & ~VT_BYREF) {
        case VT_I4:
            return static_cast<ULONG>(byRef ? *value.plVal : value.lVal);
        case VT_UI4:
            return byRef ? *value.pulVal : value.ulVal;
        case VT_INT:
            return static_cast<ULONG>(byRef ? *value.pintVal : value.intVal);
        case VT_UINT:
            return byRef ? *value.puintVal : value.uintVal;
        case VT_I2:
            return static_cast<ULONG>(byRef ? *value.piVal : value.iVal);
        case VT_UI2:
            return byRef ? *value.puiVal : value.uiVal;
        default:
            return std::nullopt;
    }
}

// Owns a VARIANT and clears it; copies are deep.
class ScopedVariant {
  public:
    ScopedVariant() noexcept { ::VariantInit(&value_); }
    explicit ScopedVariant(const VARIANT& source) noexcept : ScopedVariant() {
        CopyVariant(&value_, source);
    }
    ScopedVariant(const ScopedVariant& other) noexcept : ScopedVariant(other.value_) {}
    ScopedVariant& operator=(const ScopedVariant& other) noexcept {
        if (this != &other) CopyVariant(&value_, other.value_);
        return *this;
    }
    ScopedVariant(ScopedVariant&& other) noexcept : value_(other.value_) {
        ::VariantInit(&other.value_);
    }
    ScopedVariant& operator=(ScopedVariant&& other) noexcept {
        if (this != &other) {
            ::VariantClear(&value_);
            value_ = other.value_;
            ::VariantInit(&other.value_);
        }
        return *this;
    }
    ~ScopedVariant() { ::VariantClear(&value_); }

    // VT_BOOL with exactly the given value, for readers that test a particular one.
    static ScopedVariant BoolValue(VARIANT_BOOL value) noexcept {
        ScopedVariant variant;
        variant.value_.vt = VT_BOOL;
        variant.value_.boolVal = value;
        return variant;
    }
    static ScopedVariant Int32(LONG value) noexcept {
        ScopedVariant variant;
        variant.value_.vt = VT_I4;
        variant.value_.lVal = value;
        return variant;
    }
    // VT_BSTR; stays VT_EMPTY when the string cannot be allocated.
    static ScopedVariant Text(const std::wstring& value) noexcept {
        ScopedVariant variant;
        BSTR text = ::SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
        if (text) {
            variant.value_.vt = VT_BSTR;
            variant.value_.bstrVal = text;
        }
        return variant;
    }

    const VARIANT& get() const noexcept { return value_; }
    VARTYPE type() const noexcept { return value_.vt; }
    // Clears the value before handing out its address to an out-parameter.
    VARIANT* put() noexcept {
        ::VariantClear(&value_);
        return &value_;
    }

  private:
    VARIANT value_;
};

}  // namespace kvshake

#pragma once

#include <oleauto.h>
#include <windows.h>

#include "foundation/unique_resource.h"

namespace kvshake {

struct bstr_traits {
    using type = BSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::SysFreeString(value); }
};

// Owns a BSTR and frees it.
using unique_bstr = unique_any<bstr_traits>;

// Owns a VARIANT and clears it.
class ScopedVariant {
  public:
    ScopedVariant() noexcept { ::VariantInit(&value_); }
    ~ScopedVariant() { ::VariantClear(&value_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;

    static ScopedVariant Bool(bool value) noexcept {
        ScopedVariant variant;
        variant.value_.vt = VT_BOOL;
        variant.value_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return variant;
    }
    static ScopedVariant Int32(LONG value) noexcept {
        ScopedVariant variant;
        variant.value_.vt = VT_I4;
        variant.value_.lVal = value;
        return variant;
    }

    const VARIANT& get() const noexcept { return value_; }
    VARIANT* Receive() noexcept {
        ::VariantClear(&value_);
        return &value_;
    }
    VARTYPE type() const noexcept { return value_.vt; }

    ScopedVariant(ScopedVariant&& other) noexcept : value_(other.value_) {
        ::VariantInit(&other.value_);
    }

  private:
    VARIANT value_;
};

}  // namespace kvshake

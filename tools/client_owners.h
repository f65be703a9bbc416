// Owners for what the library hands a client: automation strings, interface references
// and variants. Each frees what it holds on every path, early returns and throws included.
#pragma once

#include <cstddef>
#include <utility>

#include "quarrow2/quarrow2.h"

namespace quarrow2::tool {

// Owns one automation string.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(BSTR text) : text_(text) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
    ~Bstr() { SysFreeString(text_); }

    BSTR get() const { return text_; }
    // For an out-argument: frees what is held first.
    BSTR* out() {
        SysFreeString(std::exchange(text_, nullptr));
        return &text_;
    }
    size_t length() const { return SysStringLen(text_); }
    size_t byte_length() const { return SysStringByteLen(text_); }

private:
    BSTR text_ = nullptr;
};

// Holds one counted reference to an interface.
template <class Interface>
class Ref {
public:
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref old(std::move(*this));
        object_ = std::exchange(other.object_, nullptr);
        return *this;
    }
    ~Ref() { reset(); }

    Interface* operator->() const { return object_; }
    Interface* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // For an out-argument: releases what is held first.
    Interface** out() {
        reset();
        return &object_;
    }
    void** out_void() { return reinterpret_cast<void**>(out()); }
    void reset() {
        if (Interface* object = std::exchange(object_, nullptr)) object->Release();
    }

private:
    Interface* object_ = nullptr;
};

// Owns one variant, cleared at the end.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&value_); }

    VARIANT* get() { return &value_; }
    const VARIANT& value() const { return value_; }
    // For an out-argument: clears what is held first.
    VARIANT* out() {
        VariantClear(&value_);
        return &value_;
    }

private:
    VARIANT value_;
};

// Holds access to a safe array's data, ended at the end of the scope.
class ArrayAccess {
public:
    explicit ArrayAccess(SAFEARRAY* array) : array_(array) {
        if (FAILED(SafeArrayAccessData(array_, &data_))) array_ = nullptr;
    }
    ArrayAccess(const ArrayAccess&) = delete;
    ArrayAccess& operator=(const ArrayAccess&) = delete;
    ~ArrayAccess() {
        if (array_) SafeArrayUnaccessData(array_);
    }

    bool granted() const { return array_ != nullptr; }
    void* data() const { return data_; }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
};

}  // namespace quarrow2::tool

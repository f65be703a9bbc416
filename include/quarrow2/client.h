// Owners for what the library hands a client (automation strings, interface references,
// variants, access to a safe array's data) and the reader of the rich error a failed call
// leaves. Header-only, on the public interface alone: the same text serves a client of
// libquarrow2.so and a Windows client of Quarrow2.dll. Each owner frees what it holds on
// every path, early returns and throws included.
#pragma once

#include <cstddef>
#include <utility>

#include "quarrow2/quarrow2.h"

namespace quarrow2 {

// Owns one automation string.
class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(BSTR s) : s_(s) {}
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    UniqueBstr(UniqueBstr&& o) noexcept : s_(o.release()) {}
    UniqueBstr& operator=(UniqueBstr&& o) noexcept {
        reset(o.release());
        return *this;
    }
    ~UniqueBstr() { reset(); }

    BSTR get() const { return s_; }
    // For an out-argument: frees what is held first.
    BSTR* out() {
        reset();
        return &s_;
    }
    BSTR release() { return std::exchange(s_, nullptr); }
    void reset(BSTR s = nullptr) {
        if (s_ != s) SysFreeString(s_);
        s_ = s;
    }
    UINT length() const { return SysStringLen(s_); }
    UINT byte_length() const { return SysStringByteLen(s_); }

private:
    BSTR s_ = nullptr;
};

// Holds one counted reference to an interface.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over a reference the caller already holds.
    static ComPtr adopt(T* p) {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    // Adds a reference of its own.
    static ComPtr share(T* p) {
        if (p) p->AddRef();
        return adopt(p);
    }
    ComPtr(const ComPtr& o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr& operator=(const ComPtr& o) {
        ComPtr tmp(o);
        std::swap(p_, tmp.p_);
        return *this;
    }
    ComPtr(ComPtr&& o) noexcept : p_(o.detach()) {}
    ComPtr& operator=(ComPtr&& o) noexcept {
        ComPtr tmp(std::move(o));
        std::swap(p_, tmp.p_);
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For an out-argument: releases what is held first.
    T** out() {
        reset();
        return &p_;
    }
    void** out_void() { return reinterpret_cast<void**>(out()); }
    T* detach() { return std::exchange(p_, nullptr); }
    void reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }

private:
    T* p_ = nullptr;
};

// Owns one variant, cleared at the end.
class UniqueVariant {
public:
    UniqueVariant() { VariantInit(&v_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { VariantClear(&v_); }

    VARIANT* get() { return &v_; }
    const VARIANT& value() const { return v_; }
    const VARIANT& operator*() const { return v_; }
    const VARIANT* operator->() const { return &v_; }
    // For an out-argument: clears what is held first.
    VARIANT* out() {
        VariantClear(&v_);
        return &v_;
    }

private:
    VARIANT v_;
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

// The rich error a failed call left for the calling thread.
struct RichError {
    bool present = false;
    UniqueBstr description;
    UniqueBstr source;
    GUID guid{};
};

// Takes the calling thread's rich error (GetErrorInfo hands it over and clears it); not
// present when there is none.
inline RichError TakeRichError() {
    RichError error;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.out()) != S_OK || !info) return error;
    error.present = true;
    info->GetDescription(error.description.out());
    info->GetSource(error.source.out());
    info->GetGUID(&error.guid);
    return error;
}

// Whether a failed call on `object` through interface `iid` leaves a rich error: only then
// is the thread's current rich error that call's own.
inline bool OffersRichErrors(IUnknown* object, REFIID iid) {
    if (!object) return false;
    ComPtr<ISupportErrorInfo> support;
    if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, support.out_void()))) return false;
    return support->InterfaceSupportsErrorInfo(iid) == S_OK;
}

}  // namespace quarrow2

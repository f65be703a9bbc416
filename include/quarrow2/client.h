// Owners for what the library hands a client (automation strings, interface references,
// variants, access to a safe array's data, a table's cells, a byte array's bytes), the byte
// arrays a client hands it, the making of a File, and the reader of the rich error a failed
// call leaves. Header-only, on the public interface alone: the same text serves a client
// of libquarrow2.so and a Windows client of Quarrow2.dll. Each owner frees what it holds on every
// path, early returns and throws included.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "quarrow2/quarrow2.h"

namespace quarrow2 {

// What a close may overwrite that an owner keeps for its caller: nothing, unless an
// owner asks for more.
struct KeepNothing {};

// Keeps errno across a close, so a failure reported after the close of a POSIX descriptor
// still names its own cause.
class KeepErrno {
public:
    KeepErrno() : saved_(errno) {}
    KeepErrno(const KeepErrno&) = delete;
    KeepErrno& operator=(const KeepErrno&) = delete;
    ~KeepErrno() { errno = saved_; }

private:
    int saved_;
};

// The one owner of a handle, descriptor, key, lock or string: it closes what it holds on
// every path. `Kind` names the value (Kind::Value), the value that holds nothing
// (Kind::None()), which values are held (Kind::Held) and how one is closed (Kind::Close);
// `Keep` is saved before each close and restores what the close may change.
template <class Kind, class Keep = KeepNothing>
class UniqueOwner {
public:
    using Value = typename Kind::Value;

    UniqueOwner() = default;
    explicit UniqueOwner(Value value) : value_(value) {}
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;
    UniqueOwner(UniqueOwner&& o) noexcept : value_(o.release()) {}
    UniqueOwner& operator=(UniqueOwner&& o) noexcept {
        reset(o.release());
        return *this;
    }
    ~UniqueOwner() { reset(); }

    Value get() const { return value_; }
    bool valid() const { return Kind::Held(value_); }
    // For an out-argument: closes what is held first.
    Value* out() {
        reset();
        return &value_;
    }
    Value release() { return std::exchange(value_, Kind::None()); }
    void reset(Value value = Kind::None()) {
        const Value old = std::exchange(value_, value);
        if (old == value || !Kind::Held(old)) return;
        [[maybe_unused]] const Keep keep;
        Kind::Close(old);
    }

private:
    Value value_ = Kind::None();
};

// The kinds of value that null means none of.
template <class T>
struct NullMeansNone {
    using Value = T;
    static T None() { return nullptr; }
    static bool Held(T value) { return value != nullptr; }
};

// Owns one automation string.
struct BstrKind : NullMeansNone<BSTR> {
    static void Close(BSTR s) { SysFreeString(s); }
};
class UniqueBstr : public UniqueOwner<BstrKind> {
public:
    using UniqueOwner::UniqueOwner;
    UINT length() const { return SysStringLen(get()); }
    UINT byte_length() const { return SysStringByteLen(get()); }
};

// Text in the automation runtime's 16-bit unit (char16_t on Linux, wchar_t on Windows).
using WString = std::basic_string<OLECHAR>;

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

// The access SafeArrayAccessData opens, ended by SafeArrayUnaccessData.
struct ArrayAccessKind : NullMeansNone<SAFEARRAY*> {
    static void Close(SAFEARRAY* array) { SafeArrayUnaccessData(array); }
};

// Holds access to a safe array's data, ended at the end of the scope. A grant without a
// data pointer is none (E_POINTER); `checked` is a caller's earlier verdict on the array, and
// a failed one opens nothing. `Keep` is what ending the access keeps, as for UniqueOwner.
template <class Keep = KeepNothing>
class BasicArrayAccess {
public:
    explicit BasicArrayAccess(SAFEARRAY* array, HRESULT checked = S_OK)
        : result_(FAILED(checked) ? checked : SafeArrayAccessData(array, &data_)) {
        if (SUCCEEDED(result_)) access_.reset(array);
        if (SUCCEEDED(result_) && !data_) result_ = E_POINTER;
        if (FAILED(result_)) {
            access_.reset();
            data_ = nullptr;
        }
    }

    bool granted() const { return access_.valid(); }
    HRESULT result() const { return result_; }
    void* data() const { return data_; }

private:
    void* data_ = nullptr;
    HRESULT result_;
    UniqueOwner<ArrayAccessKind, Keep> access_;
};
using ArrayAccess = BasicArrayAccess<>;

// The cells of a two-dimensional array of variants, such as IFile2's Items hands out, read as
// a script reads a(row, column), each counted from 0 whatever the bounds; a one-dimensional
// one (IFile3's Names) reads as a single column. The access to the array's data lasts as long
// as this object. result() says why there are none: not such an array (E_INVALIDARG), or no
// access to its data.
class VariantTable {
public:
    explicit VariantTable(const VARIANT& value)
        : VariantTable(value.vt == (VT_ARRAY | VT_VARIANT) ? value.parray : nullptr) {}

    HRESULT result() const {
        return FAILED(shape_) || rows_ * columns_ == 0 ? shape_ : access_.result();
    }
    ULONG rows() const { return SUCCEEDED(result()) ? rows_ : 0; }
    ULONG columns() const { return SUCCEEDED(result()) ? columns_ : 0; }
    // Within rows() and columns(); the first index runs fastest, as in the array's data.
    const VARIANT& at(ULONG row, ULONG column) const {
        return static_cast<const VARIANT*>(access_.data())[column * rows_ + row];
    }

private:
    explicit VariantTable(SAFEARRAY* array)
        : shape_(array && (SafeArrayGetDim(array) == 1 || SafeArrayGetDim(array) == 2)
                     ? S_OK
                     : E_INVALIDARG),
          rows_(Extent(array, 1)),
          columns_(array && SafeArrayGetDim(array) == 1 ? 1 : Extent(array, 2)),
          // An array without cells may have no data to open.
          access_(array, FAILED(shape_) || rows_ * columns_ == 0 ? E_ABORT : S_OK) {}

    static ULONG Extent(SAFEARRAY* array, UINT dimension) {
        LONG lower = 0, upper = -1;
        if (!array || FAILED(SafeArrayGetLBound(array, dimension, &lower)) ||
            FAILED(SafeArrayGetUBound(array, dimension, &upper)) || upper < lower)
            return 0;
        return static_cast<ULONG>(upper - lower) + 1;
    }

    HRESULT shape_;
    ULONG rows_;
    ULONG columns_;
    ArrayAccess access_;
};

// The bytes of a variant byte array (VT_ARRAY | VT_UI1), read in place while this object
// lives. problem() says why there are none: not a byte array, an array without bounds, or
// no access to its data; an empty array reads as no bytes without opening its data.
class ByteArrayView {
public:
    enum Problem { kNone, kNotAByteArray, kNoBounds, kNoAccess };

    explicit ByteArrayView(const VARIANT& value)
        : ByteArrayView(value.vt == (VT_ARRAY | VT_UI1) ? value.parray : nullptr) {}

    Problem problem() const { return problem_; }
    const void* data() const { return access_.data(); }
    size_t size() const { return problem_ == kNone ? size_ : 0; }

private:
    explicit ByteArrayView(SAFEARRAY* array)
        : size_(0),
          problem_(Measure(array, size_)),
          access_(array, problem_ == kNone && size_ ? S_OK : E_ABORT) {
        if (problem_ == kNone && size_ && !access_.granted()) problem_ = kNoAccess;
    }

    static Problem Measure(SAFEARRAY* array, size_t& size) {
        LONG lower = 0, upper = -1;
        if (!array) return kNotAByteArray;
        if (FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
            FAILED(SafeArrayGetUBound(array, 1, &upper)))
            return kNoBounds;
        if (upper >= lower) size = static_cast<size_t>(upper) - static_cast<size_t>(lower) + 1;
        return kNone;
    }

    size_t size_;
    Problem problem_;
    ArrayAccess access_;
};

// Puts a new byte array holding the `size` bytes at `bytes` into `out`, which owns it from
// then on; E_OUTOFMEMORY when the runtime has no room for it or an array cannot count them.
inline HRESULT PutByteArray(const void* bytes, size_t size, UniqueVariant& out) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(size), 0};
    if (bound.cElements != size) return E_OUTOFMEMORY;
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    if (!array) return E_OUTOFMEMORY;
    VARIANT* value = out.out();
    value->vt = VT_ARRAY | VT_UI1;
    value->parray = array;
    if (size == 0) return S_OK;
    ArrayAccess access(array);
    if (!access.granted()) return E_OUTOFMEMORY;
    std::memcpy(access.data(), bytes, size);
    return S_OK;
}

// The rich error a failed call left for the calling thread.
struct RichError {
    bool present = false;
    UniqueBstr description;
    UniqueBstr source;
    GUID guid{};
    // The Windows code whose system text ends the description (ERROR_FILE_NOT_FOUND,
    // ERROR_SHARING_VIOLATION, ...), 0 when it ends with none: a cause to act on, where
    // the status is E_FAIL for every reported failure.
    DWORD code = 0;
};

// Takes the calling thread's rich error (GetErrorInfo hands it over and clears it) and the
// last error beside it; not present when there is none. Call it first after the failure.
inline RichError TakeRichError() {
    RichError error;
    const DWORD code = GetLastError();
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.out()) != S_OK || !info) return error;
    error.present = true;
    error.code = code;
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

// Which step making an object failed at: getting the class object, or making the object.
enum class MakeStep { kClassObject, kInstance };

// A new File answering `iid` in `out`, made by the class object `getClassObject` hands out
// (DllGetClassObject, or the one a loaded library exports); `failed`, when given, says
// which step a failure is from. Bind it to a path with SetFile.
template <class Interface, class GetClassObject>
inline HRESULT MakeFile(GetClassObject&& getClassObject, REFIID iid, ComPtr<Interface>& out,
                        MakeStep* failed = nullptr) {
    ComPtr<IClassFactory> factory;
    HRESULT status = getClassObject(CLSID_File, IID_IClassFactory, factory.out_void());
    if (failed) *failed = MakeStep::kClassObject;
    if (FAILED(status)) return status;
    if (failed) *failed = MakeStep::kInstance;
    return factory->CreateInstance(nullptr, iid, out.out_void());
}

}  // namespace quarrow2

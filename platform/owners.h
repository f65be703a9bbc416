// RAII owners for the handles, strings and interface references that cross the platform
// boundary: every one is released on every path, including early returns.
#pragma once

#include <string>
#include <utility>

#include "platform/platform.h"

namespace quarrow2 {

// A UTF-16 string in the platform's WCHAR.
using WString = std::basic_string<WCHAR>;

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

// Holds a critical section entered for the life of the scope.
class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;
    ~CriticalSectionGuard() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION& cs_;
};

// Owns one file handle; closing it keeps the thread's last error as it was, so a failure
// reported after the close still names its own cause.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        reset(o.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        HANDLE old = std::exchange(h_, h);
        if (old != INVALID_HANDLE_VALUE && old != nullptr) {
            DWORD saved = GetLastError();
            CloseHandle(old);
            SetLastError(saved);
        }
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace quarrow2

// RAII owners for the handles and locks that cross the platform boundary: every one is
// released on every path, including early returns. The owners of strings, interface
// references and variants are the ones every client uses, from the public interface.
#pragma once

#include <string>
#include <utility>

#include "platform/platform.h"
#include "quarrow2/client.h"

namespace quarrow2 {

// A UTF-16 string in the platform's WCHAR.
using WString = std::basic_string<WCHAR>;

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

// RAII owners for the handles and locks that cross the platform boundary: every one is
// released on every path, including early returns. They are kinds of the public client.h's
// one owner, UniqueOwner, as are the owners of strings, references and variants.
#pragma once

#include "platform/platform.h"
#include "quarrow2/client.h"

namespace quarrow2::platform {

// Keeps the thread's last error across clean-up calls that might overwrite it (a close, an
// ended access), so that a failure reported afterwards still names its own cause.
class KeepLastError {
public:
    KeepLastError() : saved_(GetLastError()) {}
    KeepLastError(const KeepLastError&) = delete;
    KeepLastError& operator=(const KeepLastError&) = delete;
    ~KeepLastError() { SetLastError(saved_); }

private:
    DWORD saved_;
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

// A file handle: INVALID_HANDLE_VALUE holds none. Null is held (the system refuses it,
// and a caller may rely on that) but never closed.
struct FileHandleKind {
    using Value = HANDLE;
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static bool Held(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) {
        if (h) CloseHandle(h);
    }
};
using UniqueHandle = UniqueOwner<FileHandleKind, KeepLastError>;

}  // namespace quarrow2::platform

// Windows error codes for the errno values the file layer meets.
#pragma once

#include <new>

#include "platform/platform.h"

namespace quarrow2::platform {

// The Windows code closest in meaning to errno `err` for a file or stream operation.
DWORD Win32ErrorFromErrno(int err);

// Records `code` as the thread's last error and returns `failure`, so that an API function
// can fail in one statement.
template <class T>
T FailWith(DWORD code, T failure) {
    SetLastError(code);
    return failure;
}

// Runs an API function's body so that no exception crosses the C boundary: running out of
// memory fails with ERROR_NOT_ENOUGH_MEMORY, anything else with ERROR_GEN_FAILURE.
template <class T, class Body>
T Guarded(T failure, Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return FailWith(ERROR_NOT_ENOUGH_MEMORY, failure);
    } catch (...) {
        return FailWith(ERROR_GEN_FAILURE, failure);
    }
}

// The same for a body that returns a Windows code (0 for success) rather than setting one.
template <class Body>
DWORD GuardedCode(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_GEN_FAILURE;
    }
}

}  // namespace quarrow2::platform

// Windows: the library calls the system directly.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

// The file a path names, for reading, as the library walks and probes it. Windows parses a
// path for streams itself; a folder needs backup semantics, which the library never asks for.
inline HANDLE OpenFileItself(LPCWSTR path) {
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// CreateFileW with OPEN_ALWAYS for a named stream, where a stream that has to be made is given
// the `initialBytes` bytes at `initial` before the handle is handed back. NTFS makes a stream
// empty, so the write follows the creation; other handles may only read meanwhile (the
// caller shares reading alone), and a write they refuse by a lock leaves the stream empty, for
// the caller's own writes to tell. The last error is ERROR_ALREADY_EXISTS when it was there.
inline HANDLE CreateStreamHolding(LPCWSTR path, DWORD access, DWORD share, LPCVOID initial,
                                  DWORD initialBytes) {
    HANDLE handle =
        CreateFileW(path, access, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE || GetLastError() == ERROR_ALREADY_EXISTS) return handle;
    DWORD written = 0;
    if ((access & GENERIC_WRITE) && initialBytes)
        WriteFile(handle, initial, initialBytes, &written, nullptr);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

// oleaut32 exports the per-user type library registration (Windows Vista and later), but
// MinGW-w64's oleauto.h does not declare it.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* fullPath, OLECHAR* helpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libraryId, WORD majorVersion, WORD minorVersion,
                                        LCID locale, SYSKIND system);
}

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

// oleaut32 exports the per-user type library registration (Windows Vista and later), but
// MinGW-w64's oleauto.h does not declare it.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* fullPath, OLECHAR* helpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libraryId, WORD majorVersion, WORD minorVersion,
                                        LCID locale, SYSKIND system);
}

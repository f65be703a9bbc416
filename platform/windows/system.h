// Windows: the library calls the system directly.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

// oleaut32 exports the per-user type library registration (Windows Vista and later), but
// MinGW-w64's oleauto.h does not declare it.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* fullPath, OLECHAR* helpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libraryId, WORD majorVersion, WORD minorVersion,
                                        LCID locale, SYSKIND system);
}

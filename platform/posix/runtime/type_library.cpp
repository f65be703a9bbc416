// Linux has no type-library registry and the library carries no type library file, so
// loading one fails as it does on a Windows system where the type library is not
// registered: early-bound calls work, late-bound calls report TYPE_E_LIBNOTREGISTERED.
#include "platform/platform.h"

HRESULT LoadRegTypeLib(REFGUID, WORD, WORD, LCID, ITypeLib** pptlib) {
    if (pptlib) *pptlib = nullptr;
    return TYPE_E_LIBNOTREGISTERED;
}

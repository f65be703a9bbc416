// Late binding on Linux (store/type_information.h). Linux has no type-library registry and
// the library carries no type library file, so every late-bound call fails as it does on a
// Windows system where the type library is not registered; early-bound calls are unaffected.
#include "store/type_information.h"

HRESULT quarrow2::store::DispatchGetTypeInfo(REFIID, LCID, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    return TYPE_E_LIBNOTREGISTERED;
}

HRESULT quarrow2::store::DispatchGetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                               DISPID* ids) {
    if (count > 0 && (!names || !ids)) return E_POINTER;
    return TYPE_E_LIBNOTREGISTERED;
}

HRESULT quarrow2::store::DispatchInvoke(REFIID, IDispatch*, DISPID, LCID, WORD, DISPPARAMS*,
                                        VARIANT*, EXCEPINFO*, UINT*) {
    return TYPE_E_LIBNOTREGISTERED;
}

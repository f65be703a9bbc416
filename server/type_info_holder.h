// Late binding for the three dual interfaces. One holder per interface, shared by every
// object of its class: the type information is loaded from the registered type library on
// the first late-bound call that succeeds, and kept until the library is unloaded.
#pragma once

#include "platform/platform.h"

namespace quarrow2::server {

class TypeInfoHolder;

// The holder of IID_IFile, IID_IMetaData or IID_IStrings.
TypeInfoHolder& TypeInfoFor(REFIID iid);

// IDispatch's three type-information members, for an object whose dual interface is
// `instance`.
HRESULT DispatchGetTypeInfo(TypeInfoHolder& holder, LCID lcid, ITypeInfo** ppTInfo);
HRESULT DispatchGetIDsOfNames(TypeInfoHolder& holder, LPOLESTR* names, UINT count, LCID lcid,
                              DISPID* ids);
HRESULT DispatchInvoke(TypeInfoHolder& holder, IDispatch* instance, DISPID member, LCID lcid,
                       WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                       UINT* argErr);

}  // namespace quarrow2::server

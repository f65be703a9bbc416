// Late binding for the dual interfaces: IDispatch's type-information members, answered
// through the type information that every object of a class shares. Declared here with the
// rest of the plumbing a class is built from. On Windows server/type_info_holder_win.cpp
// loads the type information from the registered type library on the first late-bound call
// that succeeds and keeps it until the library stops; Linux has no type library, and
// server/late_binding_posix.cpp answers every call as an unregistered one.
#pragma once

#include "platform/platform.h"

namespace quarrow2::store {

// `iid` is IID_IFile, IID_IFile2, IID_IFile3, IID_IMetaData or IID_IStrings; any other
// identifier has no type information, and the load's failure is the answer.
HRESULT DispatchGetTypeInfo(REFIID iid, LCID lcid, ITypeInfo** ppTInfo);
HRESULT DispatchGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
// Calls `member` of `instance`, the object's dual interface `iid`.
HRESULT DispatchInvoke(REFIID iid, IDispatch* instance, DISPID member, LCID lcid, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr);

}  // namespace quarrow2::store

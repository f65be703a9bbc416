// IDispatch for a class's dual interface, answered through the type information that all
// objects of the class share. A class derives from DualInterface<IFile, IID_IFile> in place
// of IFile; the interface's vtable is unchanged.
#pragma once

#include "platform/platform.h"
#include "store/type_information.h"

namespace quarrow2::store {

template <class Interface, const IID& InterfaceId>
class DualInterface : public Interface {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT /*iTInfo*/, LCID lcid,
                                          ITypeInfo** ppTInfo) override {
        return DispatchGetTypeInfo(InterfaceId, lcid, ppTInfo);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID /*riid*/, LPOLESTR* rgszNames, UINT cNames,
                                            LCID lcid, DISPID* rgDispId) override {
        return DispatchGetIDsOfNames(InterfaceId, rgszNames, cNames, lcid, rgDispId);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID /*riid*/, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                     EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
        return DispatchInvoke(InterfaceId, static_cast<Interface*>(this), dispIdMember, lcid,
                              wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
    }
};

}  // namespace quarrow2::store

// The interface plumbing shared by the classes that report rich errors (File, MetaData):
// ISupportErrorInfo first, then the class's dual interface, and QueryInterface over the
// two. The class itself supplies AddRef and Release.
#pragma once

#include "platform/platform.h"
#include "store/dual_interface.h"

namespace quarrow2 {

template <class Interface, const IID& InterfaceId>
class ErrorReportingObject : public ISupportErrorInfo,
                             public DualInterface<Interface, InterfaceId> {
public:
    virtual ~ErrorReportingObject() = default;

    // IUnknown and IDispatch answer with the dual interface itself.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        Interface* dual = this;
        if (IsEqualIID(riid, InterfaceId) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, IID_IUnknown)) {
            *ppv = dual;
        } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
            *ppv = static_cast<ISupportErrorInfo*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        dual->AddRef();
        return S_OK;
    }

    // Rich errors belong to the class's own dual interface alone.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, InterfaceId) ? S_OK : S_FALSE;
    }
};

}  // namespace quarrow2

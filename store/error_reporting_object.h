// The interface plumbing shared by the classes that report rich errors (File, MetaData):
// ISupportErrorInfo first, then the class's dual interface, with the dual interface
// standing for the object as IUnknown and IDispatch, and for the interfaces it extends.
#pragma once

#include "platform/com_object.h"
#include "platform/platform.h"
#include "store/dual_interface.h"

namespace quarrow2::store {

// `Earlier` names the interfaces that `Interface` extends, for which the object answers too:
// each stands for the same object, and rich errors belong to them as well.
template <class Derived, class Interface, const IID& InterfaceId, const IID&... Earlier>
class ErrorReportingObject : public platform::RefCounted<Derived, ISupportErrorInfo,
                                                         DualInterface<Interface, InterfaceId>> {
public:
    using Table = platform::InterfaceTable<
        platform::Answers<Interface, InterfaceId>, platform::Answers<Interface, Earlier>...,
        platform::Answers<Interface, IID_IDispatch>, platform::Answers<Interface, IID_IUnknown>,
        platform::Answers<ISupportErrorInfo, IID_ISupportErrorInfo>>;

    // Rich errors belong to the class's own dual interfaces alone.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, InterfaceId) || (IsEqualIID(riid, Earlier) || ...) ? S_OK : S_FALSE;
    }
};

}  // namespace quarrow2::store

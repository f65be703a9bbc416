// The read-only collection of strings through which the library hands lists to clients.
// Filled completely by its maker before anyone else sees it, never changed afterwards, so
// Count, Item and _NewEnum need no lock.
#pragma once

#include <vector>

#include "platform/com_object.h"
#include "platform/platform.h"
#include "quarrow2/quarrow2.h"
#include "store/dual_interface.h"
#include "store/module_lock.h"

namespace quarrow2::discovery {

class Strings final
    : public platform::RefCounted<Strings, store::DualInterface<IStrings, IID_IStrings>> {
public:
    using Table = platform::InterfaceTable<platform::Answers<IStrings, IID_IUnknown>,
                                           platform::Answers<IStrings, IID_IDispatch>,
                                           platform::Answers<IStrings, IID_IStrings>>;

    // Made empty with platform::New<Strings>(); its maker fills it before handing out a reference.
    Strings() = default;

    // IStrings
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** pVal) override;
    HRESULT STDMETHODCALLTYPE get_Item(LONG Index, VARIANT* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) override;

    // Adds a copy of the string at the end. When the copy cannot be had the entry holds
    // VT_ERROR / E_OUTOFMEMORY instead and still counts; E_OUTOFMEMORY only when the entry
    // array itself cannot grow, and then nothing is added.
    HRESULT Append(BSTR s);

    // The entries, shared with the collection's enumerators.
    const std::vector<VARIANT>& entries() const { return entries_; }

private:
    ~Strings() override;

    store::ModuleLock moduleLock_;
    std::vector<VARIANT> entries_;
};

}  // namespace quarrow2::discovery

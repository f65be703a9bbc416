// The enumerator that a Strings collection's _NewEnum hands out. It shares the collection's
// entry array and holds a reference to the collection, so a client may release the
// collection and still finish walking it. One consumer at a time: its position has no lock.
#pragma once

#include <cstddef>
#include <vector>

#include "discovery/strings.h"
#include "platform/com_object.h"
#include "platform/owners.h"
#include "store/module_lock.h"

namespace quarrow2::discovery {

class StringsEnumerator final : public platform::RefCounted<StringsEnumerator, IEnumVARIANT> {
public:
    using Table = platform::InterfaceTable<platform::Answers<IEnumVARIANT, IID_IUnknown>,
                                           platform::Answers<IEnumVARIANT, IID_IEnumVARIANT>>;

    // Made with platform::New<StringsEnumerator>(owner, position): a walk over owner's entries,
    // starting at position.
    StringsEnumerator(Strings* owner, size_t position);

    // IEnumVARIANT
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) override;

private:
    ~StringsEnumerator() override = default;

    store::ModuleLock moduleLock_;
    ComPtr<Strings> owner_;
    const std::vector<VARIANT>& entries_;
    size_t position_;
};

}  // namespace quarrow2::discovery

#include "discovery/strings_enumerator.h"

namespace quarrow2::discovery {

StringsEnumerator::StringsEnumerator(Strings* owner, size_t position)
    : owner_(ComPtr<Strings>::share(owner)), entries_(owner->entries()), position_(position) {}

HRESULT StringsEnumerator::Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) {
    if (!rgVar || (celt != 1 && !pCeltFetched)) return E_POINTER;
    ULONG fetched = 0;
    HRESULT copied = S_OK;
    while (fetched < celt && position_ < entries_.size()) {
        VARIANT* slot = &rgVar[fetched];
        // The array is an out-argument: whatever it held on entry is not ours to free.
        VariantInit(slot);
        // Some runtimes' headers take the source without const; it is only read.
        copied = VariantCopy(slot, const_cast<VARIANT*>(&entries_[position_]));
        if (FAILED(copied)) {
            // Hand out nothing from this call rather than part of it.
            for (ULONG i = 0; i < fetched; ++i) VariantClear(&rgVar[i]);
            fetched = 0;
            break;
        }
        ++position_;
        ++fetched;
    }
    if (pCeltFetched) *pCeltFetched = fetched;
    if (FAILED(copied)) return copied;
    return fetched < celt ? S_FALSE : S_OK;
}

HRESULT StringsEnumerator::Skip(ULONG celt) {
    for (ULONG i = 0; i < celt; ++i) {
        if (position_ >= entries_.size()) return S_FALSE;
        ++position_;
    }
    return S_OK;
}

HRESULT StringsEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

HRESULT StringsEnumerator::Clone(IEnumVARIANT** ppEnum) {
    if (!ppEnum) return E_POINTER;
    ComPtr<StringsEnumerator> copy = platform::New<StringsEnumerator>(owner_.get(), position_);
    *ppEnum = copy.detach();
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
}

}  // namespace quarrow2::discovery

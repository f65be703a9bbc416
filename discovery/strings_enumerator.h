// The enumerator that a Strings collection's _NewEnum hands out. It shares the collection's
// entry array and holds a reference to the collection, so a client may release the
// collection and still finish walking it. One consumer at a time: no lock, and a plain
// reference count.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "discovery/strings.h"
#include "platform/owners.h"
#include "server/module_lock.h"

namespace quarrow2::discovery {

class StringsEnumerator final : public IEnumVARIANT {
public:
    // A new enumerator over owner's entries, starting at position, handed out as riid into
    // *out (which stays null on failure). E_OUTOFMEMORY when it cannot be made.
    static HRESULT Create(Strings* owner, size_t position, REFIID riid, void** out);

    StringsEnumerator(const StringsEnumerator&) = delete;
    StringsEnumerator& operator=(const StringsEnumerator&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IEnumVARIANT
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) override;

private:
    friend struct std::default_delete<StringsEnumerator>;

    StringsEnumerator(Strings* owner, size_t position);
    ~StringsEnumerator() = default;

    server::ModuleLock moduleLock_;
    ULONG refCount_ = 0;
    ComPtr<Strings> owner_;
    const std::vector<VARIANT>& entries_;
    size_t position_;
};

}  // namespace quarrow2::discovery

// The read-only collection of strings through which the library hands lists to clients.
// Filled completely by its maker before anyone else sees it, never changed afterwards, so
// Count, Item and _NewEnum need no lock.
#pragma once

#include <memory>
#include <vector>

#include "platform/platform.h"
#include "quarrow2/quarrow2.h"
#include "store/dual_interface.h"
#include "server/module_lock.h"

namespace quarrow2::discovery {

class Strings;

// A new, empty collection with reference count 0; E_OUTOFMEMORY when none can be had.
// Until the maker hands out a reference, it owns the object outright (std::unique_ptr).
HRESULT CreateStrings(Strings** out);

class Strings final : public DualInterface<IStrings, IID_IStrings> {
public:
    Strings(const Strings&) = delete;
    Strings& operator=(const Strings&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;


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
    friend HRESULT CreateStrings(Strings** out);
    friend struct std::default_delete<Strings>;

    Strings() = default;
    ~Strings();

    server::ModuleLock moduleLock_;
    LONG volatile refCount_ = 0;
    std::vector<VARIANT> entries_;
};

}  // namespace quarrow2::discovery

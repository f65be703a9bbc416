#include "discovery/strings.h"

#include <limits>
#include <new>

#include "discovery/strings_enumerator.h"

namespace quarrow2::discovery {

HRESULT CreateStrings(Strings** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) Strings();
    return *out ? S_OK : E_OUTOFMEMORY;
}

Strings::~Strings() {
    for (VARIANT& entry : entries_) VariantClear(&entry);
}

HRESULT Strings::QueryInterface(REFIID riid, void** ppvObject) {
    if (!ppvObject) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID_IStrings)) {
        *ppvObject = static_cast<IStrings*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG Strings::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

ULONG Strings::Release() {
    LONG remaining = InterlockedDecrement(&refCount_);
    if (remaining == 0) delete this;
    return static_cast<ULONG>(remaining);
}


HRESULT Strings::get__NewEnum(IUnknown** pVal) {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    return StringsEnumerator::Create(this, 0, IID_IUnknown, reinterpret_cast<void**>(pVal));
}

HRESULT Strings::get_Item(LONG Index, VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    // Index counts from 1; 0 and below select the first entry. The predecessor of the
    // smallest index wraps round to the largest, past any real collection.
    const LONG steps = Index == std::numeric_limits<LONG>::min() ? std::numeric_limits<LONG>::max()
                                                                 : Index - 1;
    const size_t position = steps > 0 ? static_cast<size_t>(steps) : 0;
    if (position >= entries_.size()) return E_FAIL;
    return VariantCopy(pVal, &entries_[position]);
}

HRESULT Strings::get_Count(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = static_cast<LONG>(entries_.size());
    return S_OK;
}

HRESULT Strings::Append(BSTR s) {
    VARIANT entry;
    VariantInit(&entry);
    V_VT(&entry) = VT_BSTR;
    V_BSTR(&entry) = SysAllocStringLen(s ? s : OLESTR(""), SysStringLen(s));
    if (!V_BSTR(&entry)) {
        V_VT(&entry) = VT_ERROR;
        V_ERROR(&entry) = E_OUTOFMEMORY;
    }
    try {
        entries_.push_back(entry);
    } catch (const std::bad_alloc&) {
        VariantClear(&entry);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace quarrow2::discovery

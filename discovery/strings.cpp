#include "discovery/strings.h"

#include <limits>
#include <new>

#include "discovery/strings_enumerator.h"

namespace quarrow2::discovery {

Strings::~Strings() {
    for (VARIANT& entry : entries_) VariantClear(&entry);
}

HRESULT Strings::get__NewEnum(IUnknown** pVal) {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    ComPtr<StringsEnumerator> walk = platform::New<StringsEnumerator>(this, 0);
    *pVal = walk.detach();
    return *pVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT Strings::get_Item(LONG Index, VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    // Index counts from 1; 0 and below select the first entry. The predecessor of the
    // smallest index wraps round to the largest, past any real collection.
    const LONG steps =
        Index == std::numeric_limits<LONG>::min() ? std::numeric_limits<LONG>::max() : Index - 1;
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

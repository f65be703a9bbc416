#include "discovery/file_properties.h"

#include <memory>

#include "discovery/stream_walk.h"
#include "discovery/strings.h"

namespace quarrow2::discovery {
HRESULT FileLength(LPCWSTR path, LONG* pVal) {
    if (!pVal) return E_POINTER;
    LONG total = 0;
    TotalStreamLength(path, &total);
    *pVal = total;
    return S_OK;
}

HRESULT FileTypes(LPCWSTR path, VARIANT_BOOL supported, IStrings** pVal) {
    if (!pVal) return E_POINTER;
    TypeNameList names;

    Strings* made = nullptr;
    HRESULT hr = CreateStrings(&made);
    if (FAILED(hr)) return hr;
    // No reference is out yet: the collection is destroyed with this owner on a failure.
    std::unique_ptr<Strings> strings(made);

    if (supported == VARIANT_TRUE) {
        hr = ListStreamTypes(path, names);
        if (FAILED(hr)) return hr;
    }
    for (const UniqueBstr& name : names) {
        hr = strings->Append(name.get());
        if (FAILED(hr)) return hr;
    }

    hr = strings->QueryInterface(IID_IStrings, reinterpret_cast<void**>(pVal));
    if (FAILED(hr)) return hr;
    strings.release();  // *pVal holds the only reference now
    return S_OK;
}

}  // namespace quarrow2::discovery

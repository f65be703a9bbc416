#include "discovery/file_properties.h"

#include "discovery/stream_walk.h"
#include "discovery/strings.h"
#include "store/file.h"

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

    // No reference is out yet: the collection goes with this one on a failure.
    ComPtr<Strings> strings = platform::New<Strings>();
    if (!strings) return E_OUTOFMEMORY;
    HRESULT hr = S_OK;

    if (supported == VARIANT_TRUE) {
        hr = ListStreamTypes(path, names);
        if (FAILED(hr)) return hr;
    }
    for (const UniqueBstr& name : names) {
        hr = strings->Append(name.get());
        if (FAILED(hr)) return hr;
    }

    *pVal = strings.detach();
    return S_OK;
}

}  // namespace quarrow2::discovery

// File's own two properties, once it has checked that a path is bound.
HRESULT quarrow2::store::File::get_Length(LONG* pVal) {
    if (!pVal) return E_POINTER;
    if (!HasPath()) {
        const HRESULT hr = ReportNoPath();
        *pVal = 0;
        return hr;
    }
    return discovery::FileLength(path_.get(), pVal);
}

HRESULT quarrow2::store::File::get_Types(IStrings** pVal) {
    if (!pVal) return E_POINTER;
    if (!HasPath()) return ReportNoPath();
    return discovery::FileTypes(path_.get(), supportsStreams_, pVal);
}

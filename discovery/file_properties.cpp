#include "discovery/file_properties.h"

#include <algorithm>
#include <limits>

#include "discovery/stream_walk.h"
#include "discovery/strings.h"
#include "platform/item_streams.h"
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

HRESULT ItemTable(const std::vector<platform::StreamEntry>& streams, VARIANT* pVal) {
    const ULONG rows = static_cast<ULONG>(streams.size());
    // Rows first, as a script indexes it: a(i, 0) is the name, a(i, 1) the size.
    SAFEARRAYBOUND bounds[2] = {{rows, 0}, {2, 0}};
    UniqueVariant table;
    table.get()->parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
    if (!table->parray) return E_OUTOFMEMORY;
    table.get()->vt = VT_ARRAY | VT_VARIANT;
    {
        ArrayAccess access(table->parray);
        if (!access.granted()) return access.result();
        VARIANT* names = static_cast<VARIANT*>(access.data());
        VARIANT* sizes = names + rows;
        for (ULONG i = 0; i < rows; ++i) {
            const platform::StreamEntry& stream = streams[i];
            names[i].bstrVal =
                SysAllocStringLen(stream.name.data(), static_cast<UINT>(stream.name.size()));
            if (!names[i].bstrVal) return E_OUTOFMEMORY;
            names[i].vt = VT_BSTR;
            // Null: no item has such a name, so no item call would reach it.
            if (stream.foreign) {
                sizes[i].vt = VT_NULL;
            } else if (stream.size <= static_cast<ULONGLONG>(std::numeric_limits<LONG>::max())) {
                sizes[i].vt = VT_I4;
                sizes[i].lVal = static_cast<LONG>(stream.size);
            } else {
                sizes[i].vt = VT_R8;
                sizes[i].dblVal = static_cast<DOUBLE>(stream.size);
            }
        }
    }
    *pVal = *table.get();
    table.get()->vt = VT_EMPTY;
    return S_OK;
}

HRESULT NameList(const std::vector<platform::StreamEntry>& streams, VARIANT* pVal) {
    const ULONG count = static_cast<ULONG>(
        std::count_if(streams.begin(), streams.end(), [](const auto& s) { return !s.foreign; }));
    UniqueVariant list;
    list.get()->parray = SafeArrayCreateVector(VT_VARIANT, 0, count);
    if (!list->parray) return E_OUTOFMEMORY;
    list.get()->vt = VT_ARRAY | VT_VARIANT;
    {
        ArrayAccess access(list->parray);
        if (!access.granted()) return access.result();
        VARIANT* names = static_cast<VARIANT*>(access.data());
        for (const platform::StreamEntry& stream : streams) {
            if (stream.foreign) continue;
            names->bstrVal =
                SysAllocStringLen(stream.name.data(), static_cast<UINT>(stream.name.size()));
            if (!names->bstrVal) return E_OUTOFMEMORY;
            names->vt = VT_BSTR;
            ++names;
        }
    }
    *pVal = *list.get();
    list.get()->vt = VT_EMPTY;
    return S_OK;
}

}  // namespace quarrow2::discovery

// File's own properties, once it has checked that a path is bound.
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

HRESULT quarrow2::store::File::get_Items(VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    VariantInit(pVal);
    if (HRESULT hr = CheckStreamsReachable(); FAILED(hr)) return hr;
    std::vector<platform::StreamEntry> streams;
    if (DWORD error = platform::ListStreams(path_.get(), streams))
        return ReportCause(OLESTR("Unable to list metadata."), error);
    return discovery::ItemTable(streams, pVal);
}

HRESULT quarrow2::store::File::get_Names(VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    VariantInit(pVal);
    if (HRESULT hr = CheckStreamsReachable(IID_IFile3); FAILED(hr)) return hr;
    std::vector<platform::StreamEntry> streams;
    if (DWORD error = platform::ListStreams(path_.get(), streams, false))
        return ReportCause(OLESTR("Unable to list metadata."), error, IID_IFile3);
    return discovery::NameList(streams, pVal);
}

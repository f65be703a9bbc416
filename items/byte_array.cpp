#include "items/byte_array.h"

#include <cstring>

#include "store/diagnostic_trace.h"

namespace quarrow2::items {
namespace {

constexpr int kTraceLevel = 2;

bool IsByteArrayType(VARTYPE vt) {
    return (vt & VT_ARRAY) != 0 && (vt & ~(VT_ARRAY | VT_BYREF)) == VT_UI1;
}

// The array a byte-array variant refers to; null when it holds none.
SAFEARRAY* ArrayOf(const VARIANT& value) {
    if ((value.vt & VT_BYREF) == 0) return value.parray;
    return value.pparray ? *value.pparray : nullptr;
}

// SafeArrayAccessData, with a grant that comes without a data pointer treated as a failure
// (the access is ended again).
HRESULT OpenData(SAFEARRAY* array, void** data, const char* noPointerTrace) {
    HRESULT result = SafeArrayAccessData(array, data);
    if (SUCCEEDED(result) && *data == nullptr) {
        store::DiagnosticTrace(noPointerTrace, kTraceLevel);
        SafeArrayUnaccessData(array);
        result = E_POINTER;
    }
    return result;
}

}  // namespace

HRESULT PtrToVARIANT(const void* bytes, LONG count, VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    if (count < 0) return E_INVALIDARG;
    if (count > 0 && !bytes) return E_POINTER;

    SAFEARRAYBOUND bound;
    bound.cElements = static_cast<ULONG>(count);
    bound.lLbound = 0;
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    if (!array) return E_OUTOFMEMORY;

    void* data = nullptr;
    const HRESULT result =
        OpenData(array, &data, "SafeArrayAccessData in PtrToVARIANT failed without error");
    if (FAILED(result)) {
        SafeArrayDestroy(array);
        return result;
    }
    if (count > 0) std::memcpy(data, bytes, static_cast<size_t>(count));
    SafeArrayUnaccessData(array);
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = array;
    return S_OK;
}

ByteArray ByteArrayOf(const VARIANT& value) {
    ByteArray bytes;
    if (!IsByteArrayType(value.vt)) return bytes;
    SAFEARRAY* array = ArrayOf(value);
    if (!array || SafeArrayGetDim(array) != 1) return bytes;

    LONG lower = 0;
    LONG upper = 0;
    if (FAILED(bytes.checked = SafeArrayGetLBound(array, 1, &lower))) return bytes;
    if (FAILED(bytes.checked = SafeArrayGetUBound(array, 1, &upper))) return bytes;
    // Unsigned arithmetic gives the element count even where the bounds wrap; a count that
    // a signed 32-bit value cannot hold would read as "no elements", so it is refused.
    const ULONG elements = static_cast<ULONG>(upper) - static_cast<ULONG>(lower) + 1u;
    if (elements > 0x7FFFFFFFu) {
        bytes.checked = E_INVALIDARG;
        return bytes;
    }
    bytes.array = array;
    bytes.count = static_cast<LONG>(elements);
    return bytes;
}

HRESULT AccessVARIANT(const VARIANT& value, void** data, LONG* count) {
    if (!data || !count) return E_POINTER;
    *data = nullptr;
    *count = 0;
    const ByteArray bytes = ByteArrayOf(value);
    if (FAILED(bytes.checked)) return bytes.checked;
    *count = bytes.count;
    const HRESULT result =
        OpenData(bytes.array, data, "SafeArrayAccessData in AccessVARIANT failed without error");
    if (FAILED(result)) *data = nullptr;
    return result;
}

HRESULT UnaccessVARIANT(const VARIANT& value) {
    if (!IsByteArrayType(value.vt)) return E_INVALIDARG;
    if (SAFEARRAY* array = ArrayOf(value)) SafeArrayUnaccessData(array);
    return S_OK;
}

}  // namespace quarrow2::items

#include "items/stored_value.h"

#include <climits>
#include <cstring>

#include "items/byte_array.h"

namespace quarrow2::items {

bool IsEmptyValueMarker(const void* bytes, size_t size) {
    return size == kMarkerBytes && std::memcmp(bytes, kEmptyValueMarker, kMarkerBytes) == 0;
}

BSTR TextOfStoredValue(const void* bytes, size_t size) {
    if (IsEmptyValueMarker(bytes, size)) size = 0;
    return SysAllocStringByteLen(size ? static_cast<LPCSTR>(bytes) : "", static_cast<UINT>(size));
}

HRESULT DataOfStoredValue(const void* bytes, size_t size, VARIANT* out) {
    if (size > LONG_MAX) return E_INVALIDARG;
    return PtrToVARIANT(bytes, IsEmptyValueMarker(bytes, size) ? 0 : static_cast<LONG>(size), out);
}

}  // namespace quarrow2::items

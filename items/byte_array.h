// Conversions between raw bytes and byte-array variants: a VARIANT holding a
// one-dimensional SAFEARRAY of VT_UI1, by value or by reference. Status codes only; the
// caller decides what a client sees.
#pragma once

#include "platform/owners.h"

namespace quarrow2::items {

// Fills `out` with a new by-value byte-array variant (lower bound 0) holding a copy of
// `count` bytes. `out` is initialised, not cleared, first; on failure it stays VT_EMPTY.
HRESULT PtrToVARIANT(const void* bytes, LONG count, VARIANT* out);

// Opens access to the bytes of the caller's byte-array variant without copying: `data`
// points at the element of the lower bound, `count` is the number of elements. On success
// the array stays locked until the matching UnaccessVARIANT; on failure no access is open.
HRESULT AccessVARIANT(const VARIANT& value, void** data, LONG* count);

// Ends one access opened by AccessVARIANT on the same variant.
HRESULT UnaccessVARIANT(const VARIANT& value);

// The array a byte-array variant holds and its element count; `checked` says why it holds
// none that AccessVARIANT would open.
struct ByteArray {
    SAFEARRAY* array = nullptr;
    LONG count = 0;
    HRESULT checked = E_INVALIDARG;
};
ByteArray ByteArrayOf(const VARIANT& value);

// One access to the bytes of a byte-array variant, open while the object lives. Ending it
// leaves the thread's last error as it was, so a failure met while the bytes were in use
// can still be reported after.
class ByteArrayAccess : public BasicArrayAccess<platform::KeepLastError> {
public:
    explicit ByteArrayAccess(const VARIANT& value) : ByteArrayAccess(ByteArrayOf(value)) {}

    LONG count() const { return granted() ? count_ : 0; }

private:
    explicit ByteArrayAccess(const ByteArray& bytes)
        : BasicArrayAccess(bytes.array, bytes.checked), count_(bytes.count) {}

    LONG count_;
};

}  // namespace quarrow2::items

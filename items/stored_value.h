// The stored form of an item's value, as the item and File's one-shot reads both read it: the
// value's bytes as they are, an empty value as the empty-value marker.
#pragma once

#include <cstddef>

#include "platform/owners.h"

namespace quarrow2::items {

// An empty value is never stored as an empty stream: these 16 UTF-16LE units stand in for
// it, without a terminator.
constexpr WCHAR kEmptyValueMarker[] = OLESTR("---***NULL***---");
constexpr DWORD kMarkerBytes = 32;
static_assert(sizeof(kEmptyValueMarker) == kMarkerBytes + sizeof(WCHAR),
              "the marker is 32 bytes and its terminator");

bool IsEmptyValueMarker(const void* bytes, size_t size);

// The text a stored value holds, as a new string of its bytes (an odd last byte kept); the
// marker reads as the empty string. `size` fits an automation string; null when memory runs
// out.
BSTR TextOfStoredValue(const void* bytes, size_t size);

// The bytes a stored value holds, as a new byte-array variant in `out` (initialised first);
// the marker reads as no bytes. E_OUTOFMEMORY, or E_INVALIDARG for a value too large for an
// array.
HRESULT DataOfStoredValue(const void* bytes, size_t size, VARIANT* out);

}  // namespace quarrow2::items

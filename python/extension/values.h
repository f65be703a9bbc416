// The values that cross between Python and the library: text as automation strings, bytes
// as byte arrays. Each conversion runs with the GIL held; it owns what it makes on every
// path, so a failure half way frees everything.
#pragma once

#include <pybind11/pybind11.h>

#include "quarrow2/client.h"

namespace quarrow2::python {

// A Python string as an automation string, code point by code point: a lone surrogate
// (U+DC80-U+DCFF stands for a byte of a name that is not UTF-8) becomes its own unit.
UniqueBstr BstrFromStr(pybind11::handle text);
// The same for a path or a type name: ValueError for a zero unit, as os functions refuse
// one, since the library would take the name as ending there.
UniqueBstr BstrFromName(pybind11::handle name);

// UTF-16LE bytes as a Python string, lone surrogates kept; UnicodeDecodeError for an odd
// count of bytes (a value that is not text).
pybind11::str StrFromUtf16(const void* bytes, size_t count);
inline pybind11::str StrFromBstr(const UniqueBstr& text) {
    return StrFromUtf16(text.get(), text.byte_length());
}

// Bytes-like (bytes, bytearray, memoryview of contiguous bytes) as a variant byte array.
void ByteArrayFromBuffer(pybind11::handle value, UniqueVariant& out);

// A variant byte array as bytes; TypeError for any other variant.
pybind11::bytes BytesFromByteArray(const VARIANT& value);

}  // namespace quarrow2::python

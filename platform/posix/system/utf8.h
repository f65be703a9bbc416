// Lossless conversions between UTF-16 and UTF-8 for names that reach the file system: a
// name that cannot be carried over unchanged is refused, never patched with a stand-in.
#pragma once

#include <cstddef>
#include <string>

#include "platform/owners.h"

namespace quarrow2::posix {

// False when `s` holds a lone surrogate.
bool Utf8FromUtf16(const WCHAR* s, size_t units, std::string& out);

// False when `s` is not well-formed UTF-8 (stray or missing continuation bytes, overlong
// forms, encoded surrogates, code points past U+10FFFF).
bool Utf16FromUtf8(const char* s, size_t bytes, WString& out);

// How many UTF-16 units well-formed UTF-8 `s` takes.
size_t Utf16UnitCount(const std::string& s);

}  // namespace quarrow2::posix

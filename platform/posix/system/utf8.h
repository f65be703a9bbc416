// The one codec between the UTF-16 names of the interface and the byte names of Linux.
// Well-formed UTF-8 maps to its UTF-16 form; each byte that is not part of well-formed
// UTF-8 maps to one unit U+DC80-U+DCFF (byte 0x80-0xFF) and back, so that every file and
// every attribute another program made can be named, and comes back byte for byte.
#pragma once

#include <cstddef>
#include <string>

#include "platform/owners.h"

namespace quarrow2::platform {

// The bytes of the name `s`. False for a lone surrogate outside U+DC80-U+DCFF, and for
// units U+DC80-U+DCFF that would not come back as given (escapes that spell well-formed
// UTF-8 name another name, the one with the characters they spell).
bool NameBytesFromUtf16(const WCHAR* s, size_t units, std::string& out);

// The UTF-16 form of the byte name `s`; never fails.
WString NameUtf16FromBytes(const char* s, size_t bytes);

}  // namespace quarrow2::platform

// Copies of automation strings as the runtime makes them for variants, arrays and error
// information: byte for byte, so odd byte lengths and embedded zeros survive.
#pragma once

#include "platform/platform.h"

namespace quarrow2::platform {

// Null for a null source, and also when memory runs out: callers tell the two apart by the
// source.
inline BSTR CopyBstr(BSTR source) {
    return source
               ? SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source), SysStringByteLen(source))
               : nullptr;
}

}  // namespace quarrow2::platform

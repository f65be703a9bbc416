// The class registry of Linux: the library's own class table stands in for the system
// registry's CLSID and ProgID keys. The runtime asks; the library that carries the table
// answers (server/class_lookup_posix.cpp), so the runtime needs to know nothing of it.
#pragma once

#include "platform/platform.h"

namespace quarrow2::posix {

// The class identifier registered under a ProgID (versioned or version-independent,
// compared without regard to ASCII case as registry keys are), or false.
bool ClassIdFromProgId(LPCOLESTR progId, CLSID* clsid);

}  // namespace quarrow2::posix

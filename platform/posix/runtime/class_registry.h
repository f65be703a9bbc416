// The class registry of Linux, standing in for the system registry's CLSID and ProgID keys:
// the library that carries classes registers them when it loads (as registration writes
// the keys on Windows); the runtime answers ProgIDFromCLSID and CLSIDFromString from it.
#pragma once

#include "platform/platform.h"

namespace quarrow2::platform {

// Registers a class under its two ProgIDs, which must live as long as the process; false
// when the registry is full (it holds the few classes of one library).
bool RegisterClass(const CLSID& clsid, LPCOLESTR progId, LPCOLESTR versionIndependentProgId);

// The class identifier registered under a ProgID (versioned or version-independent,
// compared without regard to ASCII case as registry keys are), or false.
bool ClassIdFromProgId(LPCOLESTR progId, CLSID* clsid);

}  // namespace quarrow2::platform

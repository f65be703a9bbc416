// The one header that knows which platform the library is built for.
//
// The library's logic is written against the Windows API names and argument lists. On
// Windows this header brings in the system's declarations; on Linux it declares the same
// subset, which platform/posix/ implements on extended attributes and POSIX locks.
#pragma once

#include "quarrow2/automation.h"

#if defined(_WIN32)
#include "platform/windows/system.h"
#else
#include "platform/posix/win32.h"
#endif

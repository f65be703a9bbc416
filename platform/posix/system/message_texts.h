// The English texts Windows gives for the system error codes this platform layer produces.
#pragma once

#include "platform/platform.h"

namespace quarrow2::platform {

// The text for a system error code, line end included, or null for a code without one.
const OLECHAR* SystemMessageText(DWORD code);

}  // namespace quarrow2::platform

// The English texts Windows gives for the system error codes this platform layer produces.
#pragma once

#include "platform/owners.h"
#include "platform/platform.h"

namespace quarrow2::platform {

// The text for a system error code, line end included, or null for a code without one.
// For ERROR_LOCK_STORE_UNUSABLE, the text the calling thread was last given, which names
// the store; a general text on a thread that was given none.
const OLECHAR* SystemMessageText(DWORD code);

// The text of ERROR_LOCK_STORE_UNUSABLE for the calling thread, line end included, until
// the next call.
void SetLockStoreText(WString text);

}  // namespace quarrow2::platform

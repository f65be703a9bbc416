// Task memory: blocks that one side allocates and the other frees (ProgIDs, for instance).
#include <cstdlib>

#include "platform/platform.h"

// Zeroed, so that no caller ever sees memory it has not written; a request for 0 bytes still
// yields a block of its own, as on Windows.
LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::calloc(1, cb ? cb : 1); }

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

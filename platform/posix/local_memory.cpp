// Local memory: the fixed blocks FormatMessageW hands out and callers free with LocalFree.
// Movable blocks (handles that must be locked to reach the memory) are not offered.
#include <cstdlib>

#include "platform/platform.h"

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    if (uFlags & ~static_cast<UINT>(LMEM_FIXED | LMEM_ZEROINIT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Always zeroed: no caller ever sees memory it has not written.
    void* block = std::calloc(1, uBytes ? uBytes : 1);
    if (!block) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

HLOCAL LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}

// Diagnostic text. Windows hands it to an attached debugger; here it goes to standard error,
// and only when QUARROW2_DEBUG is set, so a library in someone else's process stays quiet.
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

void OutputDebugStringA(LPCSTR lpOutputString) {
    if (!lpOutputString || !std::getenv("QUARROW2_DEBUG")) return;
    std::fputs(lpOutputString, stderr);
    std::fflush(stderr);
}

#include "store/diagnostic_trace.h"

#include "platform/platform.h"

namespace quarrow2::store {

void DiagnosticTrace(const char* text, int /*level*/) {
    // A debugger shows every level; there is no filter of our own to configure.
    if (text) OutputDebugStringA(text);
}

}  // namespace quarrow2::store

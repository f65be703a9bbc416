#include "store/diagnostic_trace.h"

#include "platform/platform.h"

namespace quarrow2::store {

void DiagnosticTrace(const char* text, int /*level*/) {
    if (text) OutputDebugStringA(text);
}

}  // namespace quarrow2::store

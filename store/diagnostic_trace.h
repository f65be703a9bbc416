// A developer's window into conditions that clients never see: the text goes to the
// platform's debug output and changes no result, no error information and no state.
#pragma once

namespace quarrow2::store {

// Level 1 is the most severe; higher levels are finer detail.
void DiagnosticTrace(const char* text, int level);

}  // namespace quarrow2::store

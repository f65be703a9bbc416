// A developer's window into conditions that clients never see: the text goes to the
// platform's debug output and changes no result, no error information and no state.
#pragma once

namespace quarrow2::store {

// `level` ranks the text for whoever reads the call (1 the most severe, higher finer detail);
// every level reaches the debug output alike, as there is no filter to set.
void DiagnosticTrace(const char* text, int level);

}  // namespace quarrow2::store

// Reading what a failed call of the library reported.
#pragma once

#include <string>

#include "quarrow2/quarrow2.h"

namespace quarrow2::tool {

// The description of the rich error that a failed call on `object` (through interface
// `iid`) left for this thread, without its trailing line end; a plain account of the
// status when the object offers no rich error for that interface.
std::string take_error_description(IUnknown* object, REFIID iid, HRESULT status);

}  // namespace quarrow2::tool

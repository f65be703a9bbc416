// What restore refuses before it writes anything: every name in the input is checked as the
// library would check it, and every path must stay under the folder restored into.
#pragma once

#include <vector>

#include "tools/client/dump_input.h"

namespace quarrow2::tool {

// UsageError naming the first entry of `files` that restore must not write: a path that is
// empty, holds a zero byte, is absolute or climbs out with ".." (both allowed with
// `absolutePaths`); a type the library refuses or would store under another name; a file
// or an item named twice.
void CheckRestorable(const std::vector<RestoredFile>& files, bool absolutePaths);

}  // namespace quarrow2::tool

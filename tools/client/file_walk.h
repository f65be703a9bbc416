// The paths a command line names, and with -r the files and folders below them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/client/ordered_work.h"

namespace quarrow2::tool {

// Each path as given (`inFolder` false): a file, or a folder for its own items; with
// `recursive`, a folder (`inFolder` true) and each file and folder below it (`inFolder`
// true), raw paths that start with the folder named, each with whether it is a folder (or a
// link to one; the walk's answer, so nothing is looked up again). `read` runs for each on one of
// `jobs` threads (so it must keep to objects of its own) and the Emit it returns runs on the
// calling thread, in the walk's order. A path the tool does not carry (a special file named or met,
// a folder it cannot enter or list, a dangling link met in a walk) goes to `refuse`, also in order,
// with a one-line description, and the others go on.
void VisitPaths(
    const std::vector<std::string>& paths, bool recursive, unsigned jobs,
    const std::function<OrderedWork::Emit(const std::string& path, bool inFolder, bool folder)>&
        read,
    const std::function<void(const std::string& path, const std::string& description)>& refuse);

}  // namespace quarrow2::tool

// The paths a command line names, and with -r the files and folders below them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/client/ordered_work.h"

namespace quarrow2::tool {

// A path handed out by VisitPaths, with what the walk knows of it.
struct VisitedPath {
    std::string path;
    // Below a folder named with -r (or that folder itself), rather than named alone.
    bool inFolder = false;
    // A folder, or a link to one (the walk's answer, so nothing is looked up again).
    bool folder = false;
    // Met in its folder's listing under its own name, no symbolic link: its items follow the
    // layout of that folder (of itself, for a folder). False for a path named, whatever it is.
    bool plain = false;
};

// The folder whose layout the items of a plain path follow (itself, for a folder); empty
// when the walk does not know it.
std::string LayoutFolderOf(const VisitedPath& visited);

// Each path as given: a file, or a folder for its own items; with `recursive`, a folder and
// each file and folder below it, raw paths that start with the folder named. `read` runs for
// each on one of `jobs` threads (so it must keep to objects of its own) and the Emit it
// returns runs on the calling thread, in the walk's order. A path the tool does not carry (a
// special file named or met, a folder it cannot enter or list, a dangling link met in a walk)
// goes to `refuse`, also in order, with a one-line description, and the others go on.
void VisitPaths(
    const std::vector<std::string>& paths, bool recursive, unsigned jobs,
    const std::function<OrderedWork::Emit(const VisitedPath& visited)>& read,
    const std::function<void(const std::string& path, const std::string& description)>& refuse);

}  // namespace quarrow2::tool

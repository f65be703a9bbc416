// The files below a folder, in a stable order, for a recursive listing.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quarrow2::tool {

// Calls `visit` with every regular file below `folder` (UTF-8 paths that start with
// `folder`), depth first and by name within each folder. Symbolic links below the folder
// are not followed, so a link cannot lead the walk in circles or out of the tree. A folder
// that cannot be read is passed to `unreadable` with the reason, and the walk goes on.
void walk_folder(
    const std::string& folder, const std::function<void(const std::string&)>& visit,
    const std::function<void(const std::string& folder, const std::string& reason)>& unreadable);

// Whether the path names a folder (following a link given by name).
bool is_folder(const std::string& path);

// The files the command line names: each path that is no folder as given (`in_folder`
// false); with `recursive`, each file below a folder (`in_folder` true). A folder without
// `recursive`, or one that cannot be read, goes to `refuse` with a one-line description;
// `command` names the command in the hint to use -r.
void visit_paths(
    const std::vector<std::string>& paths, bool recursive, const std::string& command,
    const std::function<void(const std::string& path, bool in_folder)>& visit,
    const std::function<void(const std::string& path, const std::string& description)>& refuse);

}  // namespace quarrow2::tool

// The files below a folder, in a stable order, for a recursive listing.
#pragma once

#include <functional>
#include <string>

namespace quarrow2::tool {

// Calls `visit` with every regular file below `folder` (UTF-8 paths that start with
// `folder`), depth first and by name within each folder. Symbolic links below the folder
// are not followed, so a link cannot lead the walk in circles or out of the tree. A folder
// that cannot be read is passed to `unreadable` with the reason, and the walk goes on.
void walk_folder(const std::string& folder, const std::function<void(const std::string&)>& visit,
                 const std::function<void(const std::string& folder, const std::string& reason)>&
                     unreadable);

// Whether the path names a folder (following a link given by name).
bool is_folder(const std::string& path);

}  // namespace quarrow2::tool

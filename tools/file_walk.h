// The paths a command line names, and with -r the files and folders below them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quarrow2::tool {

// Each path as given (`in_folder` false): a file, or a folder for its own items; with
// `recursive`, a folder (`in_folder` true) and each file and folder below it (`in_folder`
// true), raw paths that start with the folder named. A path the tool does not carry (a special file
// named or met, a folder it cannot enter or list, a dangling link met in a walk) goes to `refuse`
// with a one-line description, and the others go on. `command` is kept for the callers' sake.
void visit_paths(
    const std::vector<std::string>& paths, bool recursive, const std::string& command,
    const std::function<void(const std::string& path, bool in_folder)>& visit,
    const std::function<void(const std::string& path, const std::string& description)>& refuse);

}  // namespace quarrow2::tool

// The file system as the tool meets it: what a path names, the path the library is handed
// for it, and the walk of a folder's tree. Paths are the tool's strings: the name's bytes
// on Linux, UTF-8 on Windows. Nothing here opens a file for reading, so a FIFO, socket or
// device never blocks the tool.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tools/text.h"

namespace quarrow2::tool {

// kUnreachable: the path cannot be looked at (a folder on the way may not be searched, a
// link loops); kSpecial: a FIFO, socket or device.
enum class PathKind { kMissing, kUnreachable, kFile, kFolder, kSpecial };

// What a path names, links followed; `reason` says why it is unreachable or which special
// file it is, as a sentence ("Permission denied.").
struct PathState {
    PathKind kind;
    std::string reason;
};
PathState PathStateOf(const std::string& path);

// Why the caller may not read (or write) the file, as a sentence ("Permission denied.",
// "Read-only file system."); empty when nothing in the way is known.
std::string AccessRefusal(const std::string& path, bool write);

// The path the library is handed: absolute, since only an absolute path names the volume
// whose support for named streams the library probes. On Linux a path too long for the
// system is named through its open parent folder (/proc/self/fd/N/NAME), which `holder`
// keeps open. Failure when the path cannot be reached.
struct LibraryPath {
    WString text;
    std::shared_ptr<void> holder;
};
LibraryPath LibraryPathOf(const std::string& path);

// Calls `visit` with every file and folder below `folder` (paths that start with `folder`),
// depth first and by name within each folder; a folder is visited before what it holds.
// A symbolic link is visited as what it points to, never walked into, so a link cannot
// lead the walk in circles. Each path the walk cannot enter, list or look at (and each
// special file or dangling link) goes to `problem` with the reason, and the walk goes on.
void WalkFolder(
    const std::string& folder, const std::function<void(const std::string&)>& visit,
    const std::function<void(const std::string& path, const std::string& reason)>& problem);

}  // namespace quarrow2::tool

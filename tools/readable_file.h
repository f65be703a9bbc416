// Binding a File to a path whose items are to be read, with a one-line reason when they
// cannot be: listing and totalling a file that is missing or on a volume without named
// streams would otherwise answer "no items", which is not the truth.
#pragma once

#include <string>
#include <vector>

#include "tools/host.h"
#include "tools/metadata_client.h"

namespace quarrow2::tool {

// Failure "Volume does not support streams.", "File not found.", "Access is denied."
// (with the system's reason), the reason a path cannot be reached or is a special file, or
// "File cannot be opened for reading." when the file's items cannot be read. A folder is
// read for its own items.
MetadataFile BindReadableFile(const Library& library, const std::string& path);

// The same, with the types present in the file system's order.
struct ReadableFile {
    MetadataFile file;
    std::vector<WString> types;
};
// Where the library cannot list a folder's items (on Windows it opens folders only with
// backup semantics), the first such folder of the run is said on standard error, and the
// folder is taken as having none.
ReadableFile BindReadableFileTypes(const Library& library, const std::string& path);

class Failure;
// True, after saying so once per run, when `path` is a folder whose items the library
// failed to list with `failure`; false for any other path.
bool FolderItemsUnlisted(const std::string& path, const Failure& failure);

}  // namespace quarrow2::tool

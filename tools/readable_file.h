// Binding a File to a path whose items are to be read, with a one-line reason when they
// cannot be: listing and totalling a file that is missing or on a volume without named
// streams would otherwise answer "no items", which is not the truth.
#pragma once

#include <string>
#include <vector>

#include "host.h"
#include "metadata_client.h"

namespace quarrow2::tool {

// Failure "Volume does not support streams.", "File not found.", "Is a folder, not a
// file.", "Access is denied." or "File cannot be opened for reading." when the file's items
// cannot be read.
MetadataFile bind_readable_file(const Library& library, const std::string& path);

// The same, with the types present in the file system's order.
struct ReadableFile {
    MetadataFile file;
    std::vector<WString> types;
};
ReadableFile bind_readable_file_types(const Library& library, const std::string& path);

}  // namespace quarrow2::tool

// Binding a File to a path whose items are to be read, with a one-line reason when they
// cannot be: a file that is missing, on a volume without named streams or that cannot be
// read is never listed or totalled as having no items.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/host/host.h"
#include "tools/client/metadata_client.h"

namespace quarrow2::tool {

// Failure "Volume does not support streams.", "File not found.", "Access is denied."
// (with the system's reason), the reason a path cannot be reached or is a special file, or
// "File cannot be opened for reading." when the file's items cannot be read. A folder is
// read for its own items.
MetadataFile BindReadableFile(const Library& library, const std::string& path);

// The same, with the items present and their sizes, in the file system's order: Failure
// with the library's reason when they cannot be listed, so that an empty listing is a file
// without items. `layoutFolder`: as MetadataFile::Items takes it.
struct ReadableItems {
    MetadataFile file;
    ItemListing listing;
};
ReadableItems BindReadableFileItems(const Library& library, const std::string& path,
                                    const std::string& layoutFolder = {});

// The value of one item, in one read: none when the file has no such item; Failure as the
// listing above fails when the file's items cannot be read.
std::optional<Bytes> ReadItemIfPresent(const Library& library, const std::string& path,
                                       const WString& type, const std::string& shownType);

// The same, with the items' types alone.
struct ReadableFile {
    MetadataFile file;
    std::vector<WString> types;
};
ReadableFile BindReadableFileTypes(const Library& library, const std::string& path,
                                   const std::string& layoutFolder = {});

// Names each of `listing`'s names that are no items as not carried (or as `outcome` says),
// as messages to report.
std::vector<std::string> ForeignNameFailures(const std::string& path, const ItemListing& listing,
                                             const char* outcome = "carried");

}  // namespace quarrow2::tool

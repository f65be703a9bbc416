// A file carrying one item of a given size, and the item opened through the library, with a
// plain descriptor of the same file beside it for the raw system calls, and one of a lock
// file of the raw side's own for the raw calls that take byte-range locks.
#pragma once

#include <string>

#include "bench/support/client.h"
#include "quarrow2/descriptor.h"
#include "bench/support/volumes.h"

namespace quarrow2::bench {

struct ItemFixture {
    std::string path;
    std::string type = "Value";
    std::string attribute = "user.Value";
    UniqueBstr wideType;  // `type` as the library takes it
    std::string value;    // the stored bytes
    ComPtr<IFile> file;   // bound to `path`
    ComPtr<IMetaData> item;
    UniqueFd fd;      // the file, read-only
    UniqueFd lockFd;  // `path` + ".lock", for reading and writing

    // Makes the file `name` in the volume's folder, stores a value of `valueBytes` bytes and,
    // when `openItem`, opens it through the library. False, saying why, when the volume
    // cannot hold the value or the library fails.
    bool Make(const Volume& volume, const std::string& name, size_t valueBytes, bool openItem,
              std::string& why);
};

}  // namespace quarrow2::bench

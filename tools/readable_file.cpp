#include "readable_file.h"

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "failure.h"

namespace quarrow2::tool {

MetadataFile bind_readable_file(const Library& library, const std::string& path) {
    MetadataFile file(library, path);
    if (!file.supports_streams()) throw Failure("Volume does not support streams.", path);
    if (!file.exists()) {
        namespace fs = std::filesystem;
        std::error_code error;
        fs::file_status status = fs::status(fs::u8path(path), error);
        if (!fs::exists(status)) throw Failure("File not found.", path);
        if (fs::is_directory(status)) throw Failure("Is a folder, not a file.", path);
        // The library answers only "not readable"; the file system says why.
        errno = 0;
        std::ifstream probe(fs::u8path(path), std::ios::binary);
        if (!probe && (errno == EACCES || errno == EPERM)) throw Failure("Access is denied.", path);
        throw Failure("File cannot be opened for reading.", path);
    }
    return file;
}

}  // namespace quarrow2::tool

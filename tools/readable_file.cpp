#include "readable_file.h"

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "failure.h"

namespace quarrow2::tool {
namespace {

MetadataFile bind_supported(const Library& library, const std::string& path) {
    MetadataFile file(library, path);
    if (!file.supports_streams()) throw Failure("Volume does not support streams.", path);
    return file;
}

void require_readable(MetadataFile& file) {
    if (file.exists()) return;
    namespace fs = std::filesystem;
    const std::string& path = file.path();
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

}  // namespace

MetadataFile bind_readable_file(const Library& library, const std::string& path) {
    MetadataFile file = bind_supported(library, path);
    require_readable(file);
    return file;
}

ReadableFile bind_readable_file_types(const Library& library, const std::string& path) {
    ReadableFile readable{bind_supported(library, path), {}};
    readable.types = readable.file.types();
    // The walk that found streams had the file open, so only an empty answer needs asking
    // about; that saves an open per file in a tree.
    if (readable.types.empty()) require_readable(readable.file);
    return readable;
}

}  // namespace quarrow2::tool

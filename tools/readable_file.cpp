#include "tools/readable_file.h"

#include <atomic>

#include "tools/console.h"
#include "tools/failure.h"
#include "tools/file_system.h"

namespace quarrow2::tool {
namespace {

// Why the file's items cannot be read, from the file system: the library answers only
// "not readable" (or, for a path it cannot reach, "no named streams").
[[noreturn]] void explain(const std::string& path, const char* otherwise) {
    PathState state = path_state(path);
    switch (state.kind) {
        case PathKind::kMissing:
            throw Failure("File not found.", path);
        case PathKind::kUnreachable:
        case PathKind::kSpecial:
            throw Failure(state.reason, path);
        default:
            break;
    }
    std::string refusal = access_refusal(path, false);
    if (!refusal.empty()) throw Failure("Access is denied. " + refusal, path);
    throw Failure(otherwise, path);
}

MetadataFile bind_supported(const Library& library, const std::string& path) {
    MetadataFile file(library, path);
    if (!file.supports_streams()) {
        PathState state = path_state(path);
        if (state.kind == PathKind::kUnreachable || state.kind == PathKind::kSpecial)
            throw Failure(state.reason, path);
        throw Failure("Volume does not support streams.", path);
    }
    return file;
}

void require_readable(MetadataFile& file) {
    if (file.exists()) return;
    if (path_state(file.path()).kind == PathKind::kFolder) return;
    explain(file.path(), "File cannot be opened for reading.");
}

}  // namespace

bool folder_items_unlisted(const std::string& path, const Failure& failure) {
    if (path_state(path).kind != PathKind::kFolder) return false;
    // Workers of one walk may meet folders at once; one of them says it.
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        report_failure(std::string("The items of folders cannot be listed here, so folders are "
                                   "taken as having none: ") +
                       failure.what());
    return true;
}

MetadataFile bind_readable_file(const Library& library, const std::string& path) {
    MetadataFile file = bind_supported(library, path);
    require_readable(file);
    return file;
}

ReadableFile bind_readable_file_types(const Library& library, const std::string& path) {
    ReadableFile readable{bind_supported(library, path), {}};
    try {
        readable.types = readable.file.types();
    } catch (const Failure& failure) {
        if (folder_items_unlisted(path, failure)) return readable;
        PathState state = path_state(path);
        if (state.kind != PathKind::kFile) explain(path, "");
        throw;
    }
    // The walk that found streams had the file open, so only an empty answer needs asking
    // about; that saves an open per file in a tree.
    if (readable.types.empty()) require_readable(readable.file);
    return readable;
}

}  // namespace quarrow2::tool

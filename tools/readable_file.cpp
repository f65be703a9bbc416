#include "tools/readable_file.h"

#include <atomic>

#include "tools/console.h"
#include "tools/failure.h"
#include "tools/file_system.h"

namespace quarrow2::tool {
namespace {

// Why the file's items cannot be read, from the file system: the library answers only
// "not readable" (or, for a path it cannot reach, "no named streams").
[[noreturn]] void Explain(const std::string& path, const char* otherwise) {
    PathState state = PathStateOf(path);
    switch (state.kind) {
        case PathKind::kMissing:
            throw Failure("File not found.", path);
        case PathKind::kUnreachable:
        case PathKind::kSpecial:
            throw Failure(state.reason, path);
        default:
            break;
    }
    std::string refusal = AccessRefusal(path, false);
    if (!refusal.empty()) throw Failure("Access is denied. " + refusal, path);
    throw Failure(otherwise, path);
}

MetadataFile BindSupported(const Library& library, const std::string& path) {
    MetadataFile file(library, path);
    if (!file.SupportsStreams()) {
        PathState state = PathStateOf(path);
        if (state.kind == PathKind::kUnreachable || state.kind == PathKind::kSpecial)
            throw Failure(state.reason, path);
        throw Failure("Volume does not support streams.", path);
    }
    return file;
}

void RequireReadable(MetadataFile& file) {
    if (file.Exists()) return;
    if (PathStateOf(file.Path()).kind == PathKind::kFolder) return;
    Explain(file.Path(), "File cannot be opened for reading.");
}

}  // namespace

bool FolderItemsUnlisted(const std::string& path, const Failure& failure) {
    if (PathStateOf(path).kind != PathKind::kFolder) return false;
    // Workers of one walk may meet folders at once; one of them says it.
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        ReportFailure(std::string("The items of folders cannot be listed here, so folders are "
                                  "taken as having none: ") +
                      failure.what());
    return true;
}

MetadataFile BindReadableFile(const Library& library, const std::string& path) {
    MetadataFile file = BindSupported(library, path);
    RequireReadable(file);
    return file;
}

ReadableFile BindReadableFileTypes(const Library& library, const std::string& path) {
    ReadableFile readable{BindSupported(library, path), {}};
    try {
        readable.types = readable.file.Types();
    } catch (const Failure& failure) {
        if (FolderItemsUnlisted(path, failure)) return readable;
        PathState state = PathStateOf(path);
        if (state.kind != PathKind::kFile) Explain(path, "");
        throw;
    }
    // The walk that found streams had the file open, so only an empty answer needs asking
    // about; that saves an open per file in a tree.
    if (readable.types.empty()) RequireReadable(readable.file);
    return readable;
}

}  // namespace quarrow2::tool

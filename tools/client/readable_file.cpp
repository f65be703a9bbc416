#include "tools/client/readable_file.h"

#include "tools/formats/console.h"
#include "tools/formats/failure.h"
#include "tools/client/file_system.h"

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

// Rethrows a failure to read the file's items, in the tool's own words where the file
// system tells more than the library's text.
[[noreturn]] void RethrowUnread(const std::string& path) {
    const PathState state = PathStateOf(path);
    if (state.kind == PathKind::kMissing) throw Failure("File not found.", path);
    if (state.kind == PathKind::kUnreachable || state.kind == PathKind::kSpecial)
        throw Failure(state.reason, path);
    throw;
}

void RequireReadable(MetadataFile& file) {
    if (file.Exists()) return;
    if (PathStateOf(file.Path()).kind == PathKind::kFolder) return;
    Explain(file.Path(), "File cannot be opened for reading.");
}

}  // namespace

MetadataFile BindReadableFile(const Library& library, const std::string& path) {
    MetadataFile file = BindSupported(library, path);
    RequireReadable(file);
    return file;
}

ReadableItems BindReadableFileItems(const Library& library, const std::string& path,
                                    const std::string& layoutFolder) {
    ReadableItems readable{BindSupported(library, path), {}};
    try {
        readable.listing = readable.file.Items(layoutFolder);
    } catch (const Failure&) {
        RethrowUnread(path);
    }
    return readable;
}

std::optional<Bytes> ReadItemIfPresent(const Library& library, const std::string& path,
                                       const WString& type, const std::string& shownType) {
    MetadataFile file = BindSupported(library, path);
    try {
        return file.ReadBytesIfPresent(type, shownType);
    } catch (const Failure&) {
        RethrowUnread(path);
    }
}

ReadableFile BindReadableFileTypes(const Library& library, const std::string& path,
                                   const std::string& layoutFolder) {
    auto [file, listing] = BindReadableFileItems(library, path, layoutFolder);
    ReadableFile readable{std::move(file), {}};
    for (ItemListing::Entry& entry : listing.items) readable.types.push_back(std::move(entry.type));
    return readable;
}

std::vector<std::string> ForeignNameFailures(const std::string& path, const ItemListing& listing,
                                             const char* outcome) {
    std::vector<std::string> failures;
    for (const WString& name : listing.foreign)
        failures.push_back(Failure(std::string("Not an item: another program's attribute, whose "
                                               "name holds a colon as no item's can; it is not ") +
                                       outcome + ".",
                                   path, NameForDisplay(name))
                               .what());
    return failures;
}

}  // namespace quarrow2::tool

// quarrow2 restore [--dry-run] [--create] [-C DIR] [--absolute-paths] [FILE | -]
#include <filesystem>
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/client/storage.h"
#include "tools/commands/command.h"
#include "tools/formats/console.h"
#include "tools/client/dump_input.h"
#include "tools/formats/failure.h"
#include "tools/client/file_system.h"
#include "tools/client/item_store.h"
#include "tools/client/restore_rules.h"
#include "tools/client/value_input.h"

namespace quarrow2::tool {
namespace {

struct RestoreOptions {
    bool dryRun = false;
    bool create = false;         // makes missing files and folders
    bool absolutePaths = false;  // lets paths leave the folder restored into
    std::string directory;       // -C: the folder paths are taken from; none: the current one
    std::string input = "-";     // "-" is standard input
};

namespace fs = std::filesystem;

// The stored size of a value: UTF-16 text takes two bytes a unit.
size_t StoredSize(const ItemValue& value) {
    return value.text ? value.text->size() * 2 : value.bytes.size();
}

// Returns whether every item of the file went on (or would). A dry run checks what the real
// run checks before it writes: the values' sizes, the path (followed beneath the folder, no
// link on the way, unless -P), and whether the target takes items at all.
bool RestoreFile(const Library& library, const TargetFolder& folder, const RestoredFile& restored,
                 const RestoreOptions& options) {
    std::string shown = (fs::u8path(options.directory) / fs::u8path(restored.path)).u8string();
    for (const RestoredItem& item : restored.items)
        if (StoredSize(item.value) > LargestValueBytes())
            throw Failure(ValueTooLarge(item.value.text.has_value()), shown, item.type);
    ReachRule rule;
    rule.beneath = !options.absolutePaths;
    rule.makeFolders = options.create;
    // A file is made for items only; a folder the dump saw is made as it was.
    rule.makeEnd = options.create && (restored.folder || !restored.items.empty());
    rule.folder = restored.folder;
    rule.dryRun = options.dryRun || (restored.items.empty() && !restored.folder);
    WriteTarget target = folder.Reach(restored.path, shown, rule);
    if (!restored.items.empty())
        if (std::string refusal = target.WriteRefusal(); !refusal.empty())
            throw Failure("The items cannot be written: " + refusal, shown);
    MetadataFile file(library, shown, target.ForLibrary());
    if (!file.SupportsStreams()) throw Failure("Volume does not support streams.", shown);
    if (options.dryRun) {
        std::string text = EscapedForDisplay(shown) + "\n";
        for (const RestoredItem& item : restored.items)
            text += "  " + EscapedForDisplay(item.type) + "\n";
        PrintRaw(text);
        return true;
    }
    std::vector<std::pair<WString, ItemValue>> values;
    for (const RestoredItem& item : restored.items)
        values.emplace_back(NameUtf16(item.type), item.value);
    return StoreTogether(file, target, values);
}

int RunRestore(const Library& library, const RestoreOptions& options) {
    // All of the input is read and checked before the first file is touched.
    std::vector<RestoredFile> files = ReadDump(ReadInput(options.input));
    CheckRestorable(files, options.absolutePaths);
    std::error_code error;
    if (!options.directory.empty() && !fs::is_directory(fs::u8path(options.directory), error))
        throw UsageError("Unable to restore under " + EscapedForDisplay(options.directory) +
                         ": it is not a folder.");
    // Opened once: every path is followed from here, whatever is renamed above it.
    const TargetFolder folder(options.directory);
    int status = kSuccess;
    size_t emptyValues = 0;
    for (const RestoredFile& file : files) {
        try {
            if (!RestoreFile(library, folder, file, options)) {
                status = kFailure;
                continue;
            }
            for (const RestoredItem& item : file.items) emptyValues += item.zeroBytes;
        } catch (const Failure& failure) {
            ReportFailure(failure.what());
            status = kFailure;
        }
    }
    ReportMarkerNote(emptyValues);
    return status;
}

CommandRun DefineRestore(CLI::App& command) {
    auto options = std::make_shared<RestoreOptions>();
    command.add_flag("--dry-run", options->dryRun,
                     "Show the files and types that would be written, and write nothing");
    command.add_flag("--create", options->create, "Create files and folders that are missing");
    command.add_option("-C,--directory", options->directory,
                       "Restore under this folder instead of the current one");
    command.add_flag(
        "-P,--absolute-paths", options->absolutePaths,
        "Write absolute paths and paths with '..' as they are, even outside the folder");
    command.add_option("FILE", options->input,
                       "The dump, or getfattr --dump text; - or none reads standard input");
    return {[options] {
                RequirePath(options->input);
                if (!options->directory.empty()) RequirePath(options->directory);
            },
            [options](const Library& library) { return RunRestore(library, *options); }};
}

}  // namespace

const Command kRestoreCommand{
    "restore", "Put back the items a dump (or the text of getfattr --dump) names; other items stay",
    DefineRestore};

}  // namespace quarrow2::tool

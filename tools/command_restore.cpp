// quarrow2 restore [--dry-run] [--create] [-C DIR] [--absolute-paths] [FILE | -]
#include <filesystem>
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/command.h"
#include "tools/console.h"
#include "tools/dump_input.h"
#include "tools/failure.h"
#include "tools/restore_rules.h"
#include "tools/value_input.h"

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

// Whether `target`, with every link on its way followed, is `base` or below it; Failure
// when the links on the way cannot be followed (a path longer than the system takes).
bool StaysUnder(const fs::path& base, const fs::path& target, const std::string& shown) {
    auto followed = [&shown](const fs::path& path) {
        std::error_code error;
        fs::path real = fs::weakly_canonical(fs::absolute(path, error), error);
        if (error)
            throw Failure(
                "Unable to follow the path to see where it leads: " + error.message() + ".", shown);
        return real;
    };
    fs::path realBase = followed(base);
    fs::path realTarget = followed(target);
    fs::path relative = realTarget.lexically_relative(realBase);
    return !relative.empty() && *relative.begin() != "..";
}

// What both runs check before a file is written; a dry run's verdict is the real run's.
void CheckTarget(const fs::path& target, const std::string& shown, const RestoreOptions& options) {
    fs::path base = options.directory.empty() ? fs::path(".") : fs::u8path(options.directory);
    if (!options.absolutePaths && !StaysUnder(base, target, shown))
        throw Failure("The path leads out of the folder restored into through a link.", shown);
    bool create = options.create;
    std::error_code error;
    fs::file_status status = fs::symlink_status(target, error);
    if (fs::is_symlink(status) && !fs::exists(fs::status(target, error)))
        throw Failure("The path is a link to nothing; restore makes no file through it.", shown);
    if (fs::exists(status)) return;
    if (!create) throw Failure("File not found.", shown);
    // Missing folders are made only under one that is there, never in place of a file.
    for (fs::path parent = target.parent_path(); !parent.empty() && parent != target;
         parent = parent.parent_path()) {
        fs::file_status above = fs::status(parent, error);
        if (fs::is_directory(above)) return;
        if (fs::exists(above))
            throw Failure("Unable to create the file: a part of its path is not a folder.", shown);
        if (parent == parent.parent_path()) break;
    }
}

void MakeMissing(const fs::path& target, bool folder, const std::string& shown) {
    std::error_code error;
    fs::path missing = folder ? target : target.parent_path();
    if (fs::exists(target, error) || missing.empty()) return;
    fs::create_directories(missing, error);
    if (error) throw Failure("Unable to create the folder: " + error.message() + ".", shown);
}

// Returns whether every item of the file went on (or would).
bool RestoreFile(const Library& library, const RestoredFile& restored,
                 const RestoreOptions& options) {
    fs::path target = fs::u8path(options.directory) / fs::u8path(restored.path);
    std::string shown = target.u8string();
    CheckTarget(target, shown, options);
    if (!options.dryRun && options.create) MakeMissing(target, restored.folder, shown);
    MetadataFile file(library, shown);
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
    return StoreTogether(file, values);
}

int RunRestore(const Library& library, const RestoreOptions& options) {
    // All of the input is read and checked before the first file is touched.
    std::vector<RestoredFile> files = ReadDump(ReadInput(options.input));
    CheckRestorable(files, options.absolutePaths);
    std::error_code error;
    if (!options.directory.empty() && !fs::is_directory(fs::u8path(options.directory), error))
        throw UsageError("Unable to restore under " + EscapedForDisplay(options.directory) +
                         ": it is not a folder.");
    int status = kSuccess;
    size_t emptyValues = 0;
    for (const RestoredFile& file : files) {
        try {
            if (!RestoreFile(library, file, options)) {
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

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
    bool dry_run = false;
    bool create = false;          // makes missing files and folders
    bool absolute_paths = false;  // lets paths leave the folder restored into
    std::string directory;        // -C: the folder paths are taken from; none: the current one
    std::string input = "-";      // "-" is standard input
};

namespace fs = std::filesystem;

// Whether `target`, with every link on its way followed, is `base` or below it; Failure
// when the links on the way cannot be followed (a path longer than the system takes).
bool stays_under(const fs::path& base, const fs::path& target, const std::string& shown) {
    auto followed = [&shown](const fs::path& path) {
        std::error_code error;
        fs::path real = fs::weakly_canonical(fs::absolute(path, error), error);
        if (error)
            throw Failure(
                "Unable to follow the path to see where it leads: " + error.message() + ".", shown);
        return real;
    };
    fs::path real_base = followed(base);
    fs::path real_target = followed(target);
    fs::path relative = real_target.lexically_relative(real_base);
    return !relative.empty() && *relative.begin() != "..";
}

// What both runs check before a file is written; a dry run's verdict is the real run's.
void check_target(const fs::path& target, const std::string& shown, const RestoreOptions& options) {
    fs::path base = options.directory.empty() ? fs::path(".") : fs::u8path(options.directory);
    if (!options.absolute_paths && !stays_under(base, target, shown))
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

void make_missing(const fs::path& target, bool folder, const std::string& shown) {
    std::error_code error;
    fs::path missing = folder ? target : target.parent_path();
    if (fs::exists(target, error) || missing.empty()) return;
    fs::create_directories(missing, error);
    if (error) throw Failure("Unable to create the folder: " + error.message() + ".", shown);
}

// Returns whether every item of the file went on (or would).
bool restore_file(const Library& library, const RestoredFile& restored,
                  const RestoreOptions& options) {
    fs::path target = fs::u8path(options.directory) / fs::u8path(restored.path);
    std::string shown = target.u8string();
    check_target(target, shown, options);
    if (!options.dry_run && options.create) make_missing(target, restored.folder, shown);
    MetadataFile file(library, shown);
    if (!file.supports_streams()) throw Failure("Volume does not support streams.", shown);
    if (options.dry_run) {
        std::string text = escaped_for_display(shown) + "\n";
        for (const RestoredItem& item : restored.items)
            text += "  " + escaped_for_display(item.type) + "\n";
        print_raw(text);
        return true;
    }
    std::vector<std::pair<WString, ItemValue>> values;
    for (const RestoredItem& item : restored.items)
        values.emplace_back(name_utf16(item.type), item.value);
    return store_together(file, values);
}

int run_restore(const Library& library, const RestoreOptions& options) {
    // All of the input is read and checked before the first file is touched.
    std::vector<RestoredFile> files =
        read_dump(options.input == "-" ? read_standard_input() : read_value_file(options.input));
    check_restorable(files, options.absolute_paths);
    std::error_code error;
    if (!options.directory.empty() && !fs::is_directory(fs::u8path(options.directory), error))
        throw UsageError("Unable to restore under " + escaped_for_display(options.directory) +
                         ": it is not a folder.");
    int status = kSuccess;
    size_t empty_values = 0;
    for (const RestoredFile& file : files) {
        try {
            if (!restore_file(library, file, options)) {
                status = kFailure;
                continue;
            }
            for (const RestoredItem& item : file.items) empty_values += item.zero_bytes;
        } catch (const Failure& failure) {
            report_failure(failure.what());
            status = kFailure;
        }
    }
    report_marker_note(empty_values);
    return status;
}

CommandRun define_restore(CLI::App& command) {
    auto options = std::make_shared<RestoreOptions>();
    command.add_flag("--dry-run", options->dry_run,
                     "Show the files and types that would be written, and write nothing");
    command.add_flag("--create", options->create, "Create files and folders that are missing");
    command.add_option("-C,--directory", options->directory,
                       "Restore under this folder instead of the current one");
    command.add_flag(
        "-P,--absolute-paths", options->absolute_paths,
        "Write absolute paths and paths with '..' as they are, even outside the folder");
    command.add_option("FILE", options->input,
                       "The dump, or getfattr --dump text; - or none reads standard input");
    return {[options] {
                require_path(options->input);
                if (!options->directory.empty()) require_path(options->directory);
            },
            [options](const Library& library) { return run_restore(library, *options); }};
}

}  // namespace

const Command kRestoreCommand{
    "restore", "Put back the items a dump (or the text of getfattr --dump) names; other items stay",
    define_restore};

}  // namespace quarrow2::tool

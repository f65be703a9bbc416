#include "cli.h"

#include <algorithm>
#include <cstdio>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "completion.h"
#include "console.h"
#include "failure.h"
#include "metadata_client.h"
#include "text.h"

namespace quarrow2::tool {
namespace {

constexpr const char* kFooter =
    "Exit status: 0 success, 1 an operation failed (the message says which file and type),\n"
    "2 the command line cannot be used (find: 0 found, 1 none found, 2 an error). A value,\n"
    "type or path starting with '-' follows '--'. Names are shown with control characters,\n"
    "bytes that are not UTF-8 and backslashes as \\ooo (octal), as getfattr shows them.\n";

void require_utf8(const std::string& value, const char* what) {
    if (find_invalid_utf8(value))
        throw UsageError(std::string("The ") + what + " is not valid UTF-8.");
}

// Paths and types are names as the file system keeps them,
// bytes that need not be UTF-8; they reach the library through name_utf16.
void require_path(const std::string& path) {
    if (path.empty()) throw UsageError("A path must not be empty.");
}

// Most jobs asked for: more threads than this only wait on one another and the disk.
constexpr unsigned kMostJobs = 256;

// -j N: how many files are read at once; the output is the same for any N.
void add_jobs_option(CLI::App* command, unsigned& jobs) {
    command
        ->add_option_function<std::string>(
            "-j,--jobs",
            [&jobs](const std::string& text) {
                unsigned long count = 0;
                size_t used = 0;
                try {
                    count = std::stoul(text, &used);
                } catch (const std::exception&) {
                    used = 0;
                }
                if (used == 0 || used != text.size() || text[0] == '-' || count < 1 ||
                    count > kMostJobs)
                    throw UsageError("-j takes a whole number of jobs from 1 to " +
                                     std::to_string(kMostJobs) + ", not '" + text + "'.");
                jobs = static_cast<unsigned>(count);
            },
            "Read this many files at once (default: one per core); the output is the same "
            "for any N")
        ->type_name("N");
}

struct Commands {
    ListOptions list;
    GetOptions get;
    SetOptions set;
    RemoveOptions remove;
    LengthOptions length;
    DumpOptions dump;
    RestoreOptions restore;
    CopyOptions copy;
    FindOptions find;
    std::string remove_path;
    double wait_seconds = kDefaultBusyWait.count() / 1000.0;
    bool get_bytes = false, get_hex = false, set_bytes = false, set_hex = false;
    CLI::App* list_command = nullptr;
    CLI::App* get_command = nullptr;
    CLI::App* set_command = nullptr;
    CLI::App* remove_command = nullptr;
    CLI::App* length_command = nullptr;
    CLI::App* dump_command = nullptr;
    CLI::App* restore_command = nullptr;
    CLI::App* copy_command = nullptr;
    CLI::App* find_command = nullptr;
};

void define_commands(CLI::App& app, Commands& c) {
    app.set_version_flag("--version", std::string("quarrow2 ") + QUARROW2_VERSION,
                         "Show the version and exit");
    app.require_subcommand(1);
    app.footer(kFooter);
    app.add_option("--wait", c.wait_seconds,
                   "Seconds to wait for an item another process holds before calling it busy "
                   "(default 5; 0 fails at once); before or after the command")
        ->check(CLI::NonNegativeNumber);
    // Lets the commands take --wait after their name too.
    app.fallthrough();

    c.list_command = app.add_subcommand(
        "list",
        "Show each file's item types with their lengths in bytes, in the file system's order");
    c.list_command->add_flag("-r,--recursive", c.list.recursive,
                             "List the files in folders and their subfolders (files without items "
                             "are left out of the text form)");
    c.list_command->add_flag("-l,--long", c.list.long_form,
                             "Show each value after its type: its text, or hex digits when it is "
                             "not text (cut short on a terminal)");
    c.list_command->add_flag("--json", c.list.json,
                             "Write one JSON document (with -l, whole values as text or hex)");
    add_jobs_option(c.list_command, c.list.jobs);
    c.list_command->add_option("PATH", c.list.paths, "Files, or folders with -r")->required();

    c.get_command = app.add_subcommand("get", "Show the value of one item");
    auto* bytes =
        c.get_command->add_flag("--bytes", c.get_bytes, "Write the stored bytes as they are");
    auto* hex = c.get_command->add_flag("--hex", c.get_hex, "Write the stored bytes as hex digits");
    bytes->excludes(hex);
    c.get_command->add_flag("--json", c.get.json,
                            "Write one JSON document (text, or hex with --bytes or --hex)");
    c.get_command->add_option("PATH", c.get.path, "The file")->required();
    c.get_command->add_option("TYPE", c.get.type, "The item's type name")->required();

    c.set_command = app.add_subcommand(
        "set", "Store the value of one item, creating the item (and the file) when missing");
    auto* set_bytes = c.set_command->add_flag("--bytes", c.set_bytes,
                                              "Store the value's bytes as they are, not as text");
    auto* set_hex = c.set_command->add_flag("--hex", c.set_hex,
                                            "The value is hex digits of the bytes to store");
    set_bytes->excludes(set_hex);
    auto* file =
        c.set_command->add_option("--file", c.set.value_file, "Read the value from this file")
            ->type_name("FILE");
    c.set_command->add_option("PATH", c.set.path, "The file")->required();
    c.set_command->add_option("TYPE", c.set.type, "The item's type name")->required();
    auto* value = c.set_command->add_option(
        "VALUE", c.set.value,
        "The value (UTF-8 text unless --bytes or --hex); - reads standard input");
    value->excludes(file);

    c.remove_command = app.add_subcommand("rm", "Remove items from a file, or every item of files");
    c.remove_command->add_flag("--all", c.remove.all,
                               "Remove every item of each file named (all arguments are files)");
    add_jobs_option(c.remove_command, c.remove.jobs);
    c.remove_command->add_option("PATH", c.remove_path, "The file")->required();
    c.remove_command->add_option("TYPE", c.remove.types,
                                 "Type names of the items to remove (with --all: more files)");

    c.length_command =
        app.add_subcommand("length", "Show the total size in bytes of each file's items");
    c.length_command->add_flag("--json", c.length.json, "Write one JSON document");
    add_jobs_option(c.length_command, c.length.jobs);
    c.length_command->add_option("PATH", c.length.paths, "Files")->required();

    c.dump_command = app.add_subcommand(
        "dump", "Write every item of the files as one JSON document, for restore");
    c.dump_command->add_flag("-r,--recursive", c.dump.recursive,
                             "Dump the files in folders and their subfolders (those with items)");
    c.dump_command
        ->add_option("-o,--output", c.dump.output,
                     "Write the document to this file, replaced only when the dump succeeds; - "
                     "is standard output")
        ->type_name("FILE");
    add_jobs_option(c.dump_command, c.dump.jobs);
    c.dump_command
        ->add_option("PATH", c.dump.paths, "Files, or folders with -r; paths are written as given")
        ->required();

    c.restore_command = app.add_subcommand(
        "restore",
        "Put back the items a dump (or the text of getfattr --dump) names; other items stay");
    c.restore_command->add_flag(
        "--dry-run", c.restore.dry_run,
        "Show the files and types that would be written, and write nothing");
    c.restore_command->add_flag("--create", c.restore.create,
                                "Create files and folders that are missing");
    c.restore_command->add_option("-C,--directory", c.restore.directory,
                                  "Restore under this folder instead of the current one");
    c.restore_command->add_flag(
        "-P,--absolute-paths", c.restore.absolute_paths,
        "Write absolute paths and paths with '..' as they are, even outside the folder");
    c.restore_command->add_option(
        "FILE", c.restore.input,
        "The dump, or getfattr --dump text; - or none reads standard input");

    c.copy_command = app.add_subcommand("cp", "Copy items from one file to another");
    c.copy_command->add_option("-t,--type", c.copy.types, "Copy only this item (may be repeated)")
        ->allow_extra_args(false);
    c.copy_command->add_option("SRC", c.copy.source, "The file whose items are copied")->required();
    c.copy_command->add_option("DEST", c.copy.destination, "The file that receives them")
        ->required();

    c.find_command = app.add_subcommand(
        "find",
        "Show the files that have an item of a type (and a value); exit status 1 when none has");
    c.find_command->add_flag("-r,--recursive", c.find.recursive,
                             "Search folders and their subfolders");
    c.find_command->add_option("--type", c.find.type, "The item's type name")->required();
    auto* equal = c.find_command->add_option("--value", c.find.value, "Its text is exactly this");
    auto* glob = c.find_command->add_option("--match", c.find.glob,
                                            "Its whole text matches this pattern (*, ?, [a-z])");
    auto* regex = c.find_command->add_option(
        "--regex", c.find.regex, "Its text holds a match of this regular expression (ECMAScript)");
    equal->excludes(glob)->excludes(regex);
    glob->excludes(regex);
    c.find_command->add_flag("--json", c.find.json, "Write one JSON document, with each value");
    c.find_command->add_flag("-0,--null", c.find.null_separated,
                             "End each path with a zero byte, for xargs -0");
    add_jobs_option(c.find_command, c.find.jobs);
    c.find_command->add_option("PATH", c.find.paths, "Files, or folders with -r")->required();
}

// CLI11 would say only that a command is required; a mistyped command is named instead.
void refuse_unknown_command(const CLI::App& app, const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments.front().empty() || arguments.front().front() == '-') return;
    for (const CLI::App* command : app.get_subcommands({}))
        if (command->check_name(arguments.front())) return;
    throw UsageError("unknown command '" + arguments.front() + "'");
}

ValueForm value_form(bool bytes, bool hex) {
    return bytes ? ValueForm::kBytes : hex ? ValueForm::kHex : ValueForm::kText;
}

// Checks that CLI11 cannot express, then the command's run.
int run_selected(Commands& c) {
    set_busy_wait(std::chrono::milliseconds(static_cast<long long>(c.wait_seconds * 1000)));
    if (*c.list_command) {
        for (const std::string& path : c.list.paths) require_path(path);
        Library library;
        return run_list(library, c.list);
    }
    if (*c.get_command) {
        require_path(c.get.path);
        c.get.form = value_form(c.get_bytes, c.get_hex);
        Library library;
        return run_get(library, c.get);
    }
    if (*c.set_command) {
        require_path(c.set.path);
        if (!c.set.value && !c.set.value_file)
            throw UsageError("set needs a VALUE, --file F or - for standard input.");
        c.set.form = value_form(c.set_bytes, c.set_hex);
        Library library;
        return run_set(library, c.set);
    }
    if (*c.remove_command) {
        c.remove.paths = {c.remove_path};
        if (c.remove.all) {
            c.remove.paths.insert(c.remove.paths.end(), c.remove.types.begin(),
                                  c.remove.types.end());
            c.remove.types.clear();
        } else if (c.remove.types.empty()) {
            throw UsageError("rm needs the TYPE of each item to remove, or --all.");
        }
        for (const std::string& path : c.remove.paths) require_path(path);
        Library library;
        return run_remove(library, c.remove);
    }
    if (*c.dump_command) {
        for (const std::string& path : c.dump.paths) require_path(path);
        if (c.dump.output) require_path(*c.dump.output);
        Library library;
        return run_dump(library, c.dump);
    }
    if (*c.restore_command) {
        require_path(c.restore.input);
        if (!c.restore.directory.empty()) require_path(c.restore.directory);
        Library library;
        return run_restore(library, c.restore);
    }
    if (*c.copy_command) {
        require_path(c.copy.source);
        require_path(c.copy.destination);
        Library library;
        return run_copy(library, c.copy);
    }
    if (*c.find_command) {
        for (const std::string& path : c.find.paths) require_path(path);
        if (std::optional<std::string> fault = type_name_fault(c.find.type))
            throw UsageError("find --type: " + *fault);
        for (const auto* text : {&c.find.value, &c.find.glob, &c.find.regex})
            if (*text) require_utf8(**text, "value or pattern");
        Library library;
        return run_find(library, c.find);
    }
    for (const std::string& path : c.length.paths) require_path(path);
    Library library;
    return run_length(library, c.length);
}

}  // namespace

int run_command_line(const std::vector<std::string>& arguments) {
    CLI::App app("Quarrow2: named items of metadata on files, stored as named data streams.",
                 "quarrow2");
    Commands commands;
    define_commands(app, commands);
    std::string layout;
    app.add_option("--layout", layout,
                   "Keep items in this layout on every file system: native (user.T) or samba "
                   "(Samba's streams_xattr); else as each file system is marked")
        ->check(CLI::IsMember({"native", "samba"}));
    add_completion_option(app);
    try {
        refuse_unknown_command(app, arguments);
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success))
            return app.exit(error);
        report_failure(std::string(error.what()) + "\nRun 'quarrow2 --help' for usage.");
        return kUsageError;
    } catch (const UsageError& error) {
        report_failure(error.what());
        return kUsageError;
    }
    try {
        if (!layout.empty()) choose_storage_layout(layout);
        return run_selected(commands);
    } catch (const UsageError& error) {
        report_failure(error.what());
        return kUsageError;
    } catch (const Failure& failure) {
        report_failure(failure.what());
        return kFailure;
    }
}

}  // namespace quarrow2::tool

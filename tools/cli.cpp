#include "cli.h"

#include <algorithm>
#include <cstdio>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "console.h"
#include "failure.h"
#include "text.h"

namespace quarrow2::tool {
namespace {

constexpr const char* kFooter =
    "Exit status: 0 success, 1 an operation failed (the message says which file and type),\n"
    "2 the command line cannot be used. A value, type or path starting with '-' follows '--'.\n";

void require_utf8(const std::string& value, const char* what) {
    if (find_invalid_utf8(value))
        throw UsageError(std::string("The ") + what + " is not valid UTF-8.");
}

void require_path(const std::string& path) {
    if (path.empty()) throw UsageError("A path must not be empty.");
    require_utf8(path, "path");
}

struct Commands {
    ListOptions list;
    GetOptions get;
    SetOptions set;
    RemoveOptions remove;
    LengthOptions length;
    bool get_bytes = false, get_hex = false, set_bytes = false, set_hex = false;
    CLI::App* list_command = nullptr;
    CLI::App* get_command = nullptr;
    CLI::App* set_command = nullptr;
    CLI::App* remove_command = nullptr;
    CLI::App* length_command = nullptr;
};

void define_commands(CLI::App& app, Commands& c) {
    app.set_version_flag("--version", std::string("quarrow2 ") + QUARROW2_VERSION,
                         "Show the version and exit");
    app.require_subcommand(1);
    app.footer(kFooter);

    c.list_command = app.add_subcommand(
        "list", "Show each file's item types with their lengths in bytes, in the file system's order");
    c.list_command->add_flag("-r,--recursive", c.list.recursive,
                             "List the files in folders and their subfolders (files without items "
                             "are left out of the text form)");
    c.list_command->add_flag("--json", c.list.json, "Write one JSON document");
    c.list_command->add_option("PATH", c.list.paths, "Files, or folders with -r")->required();

    c.get_command = app.add_subcommand("get", "Show the value of one item");
    auto* bytes = c.get_command->add_flag("--bytes", c.get_bytes, "Write the stored bytes as they are");
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
    auto* set_hex = c.set_command->add_flag("--hex", c.set_hex, "The value is hex digits of the bytes to store");
    set_bytes->excludes(set_hex);
    auto* file = c.set_command->add_option("--file", c.set.value_file, "Read the value from this file");
    c.set_command->add_option("PATH", c.set.path, "The file")->required();
    c.set_command->add_option("TYPE", c.set.type, "The item's type name")->required();
    auto* value = c.set_command->add_option(
        "VALUE", c.set.value, "The value (UTF-8 text unless --bytes or --hex); - reads standard input");
    value->excludes(file);

    c.remove_command = app.add_subcommand("rm", "Remove items from a file");
    c.remove_command->add_option("PATH", c.remove.path, "The file")->required();
    c.remove_command->add_option("TYPE", c.remove.types, "Type names of the items to remove")->required();

    c.length_command = app.add_subcommand("length", "Show the total size in bytes of each file's items");
    c.length_command->add_flag("--json", c.length.json, "Write one JSON document");
    c.length_command->add_option("PATH", c.length.paths, "Files")->required();
}

ValueForm value_form(bool bytes, bool hex) {
    return bytes ? ValueForm::kBytes : hex ? ValueForm::kHex : ValueForm::kText;
}

// Checks that CLI11 cannot express, then the command's run.
int run_selected(Commands& c) {
    if (*c.list_command) {
        for (const std::string& path : c.list.paths) require_path(path);
        Library library;
        return run_list(library, c.list);
    }
    if (*c.get_command) {
        require_path(c.get.path);
        require_utf8(c.get.type, "type");
        c.get.form = value_form(c.get_bytes, c.get_hex);
        Library library;
        return run_get(library, c.get);
    }
    if (*c.set_command) {
        require_path(c.set.path);
        require_utf8(c.set.type, "type");
        if (!c.set.value && !c.set.value_file)
            throw UsageError("set needs a VALUE, --file F or - for standard input.");
        if (c.set.value_file) require_utf8(*c.set.value_file, "file name");
        c.set.form = value_form(c.set_bytes, c.set_hex);
        Library library;
        return run_set(library, c.set);
    }
    if (*c.remove_command) {
        require_path(c.remove.path);
        for (const std::string& type : c.remove.types) require_utf8(type, "type");
        Library library;
        return run_remove(library, c.remove);
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
    try {
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(error);
        report_failure(std::string(error.what()) + "\nRun 'quarrow2 --help' for usage.");
        return kUsageError;
    }
    try {
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

// quarrow2 rm PATH TYPE...  |  quarrow2 rm --all PATH...
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/commands/command.h"
#include "tools/formats/console.h"
#include "tools/formats/failure.h"
#include "tools/client/metadata_client.h"
#include "tools/client/ordered_work.h"
#include "tools/client/readable_file.h"

namespace quarrow2::tool {
namespace {

struct RemoveOptions {
    unsigned jobs = DefaultJobs();  // -j: files read at once
    bool all = false;               // every item of each file in `paths`; `types` is empty
    std::string firstPath;          // PATH, before the check gathers `paths`
    std::vector<std::string> paths;
    std::vector<std::string> types;
};

// Each type on its own: one that cannot be removed does not keep the others. The failures'
// messages, in order.
std::vector<std::string> RemoveTypes(MetadataFile& file, const std::vector<WString>& types) {
    std::vector<std::string> failures;
    for (const WString& type : types) {
        std::string shown = NameForDisplay(type);
        try {
            // Open, never Add: removing must not create the file or the item first.
            file.Open(type, shown).Remove();
        } catch (const Failure& failure) {
            failures.push_back(failure.what());
        }
    }
    return failures;
}

// Every item of one file, on a worker: the messages of what could not be removed, another
// program's attributes that no item can alias among them, so that a file is never taken
// for bare when it is not.
std::vector<std::string> RemoveAll(const Library& library, const std::string& path) {
    try {
        auto [file, listing] = BindReadableFileItems(library, path);
        std::vector<WString> types;
        for (ItemListing::Entry& entry : listing.items) types.push_back(std::move(entry.type));
        std::vector<std::string> failures = RemoveTypes(file, types);
        for (std::string& kept : ForeignNameFailures(path, listing, "removed"))
            failures.push_back(std::move(kept));
        return failures;
    } catch (const Failure& failure) {
        return {failure.what()};
    }
}

int RunRemove(const Library& library, const RemoveOptions& options) {
    int status = kSuccess;
    auto report = [&status](const std::vector<std::string>& failures) {
        for (const std::string& message : failures) ReportFailure(message);
        if (!failures.empty()) status = kFailure;
    };
    if (!options.all) {
        MetadataFile file(library, options.paths.front());
        std::vector<WString> types;
        for (const std::string& type : options.types) types.push_back(NameUtf16(type));
        report(RemoveTypes(file, types));
        return status;
    }
    OrderedWork work(options.jobs);
    for (const std::string& path : options.paths)
        work.Add([&, path]() -> OrderedWork::Emit {
            return [&report, failures = RemoveAll(library, path)] { report(failures); };
        });
    work.Finish();
    return status;
}

CommandRun DefineRemove(CLI::App& command) {
    auto options = std::make_shared<RemoveOptions>();
    command.add_flag("--all", options->all,
                     "Remove every item of each file named (all arguments are files)");
    AddJobsOption(command, options->jobs);
    command.add_option("PATH", options->firstPath, "The file")->required();
    command.add_option("TYPE", options->types,
                       "Type names of the items to remove (with --all: more files)");
    return {[options] {
                options->paths = {options->firstPath};
                if (options->all) {
                    options->paths.insert(options->paths.end(), options->types.begin(),
                                          options->types.end());
                    options->types.clear();
                } else if (options->types.empty()) {
                    throw UsageError("rm needs the TYPE of each item to remove, or --all.");
                }
                for (const std::string& path : options->paths) RequirePath(path);
            },
            [options](const Library& library) { return RunRemove(library, *options); }};
}

}  // namespace

const Command kRemoveCommand{"rm", "Remove items from a file, or every item of files",
                             DefineRemove};

}  // namespace quarrow2::tool

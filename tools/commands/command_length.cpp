// quarrow2 length [--json] PATH...
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/commands/command.h"
#include "tools/formats/console.h"
#include "tools/formats/failure.h"
#include "tools/client/ordered_work.h"
#include "tools/client/readable_file.h"

namespace quarrow2::tool {
namespace {

struct LengthOptions {
    unsigned jobs = DefaultJobs();  // -j: files read at once
    bool json = false;
    std::vector<std::string> paths;
};

int RunLength(const Library& library, const LengthOptions& options) {
    int status = kSuccess;
    Json files = Json::array();
    OrderedWork work(options.jobs);
    for (const std::string& path : options.paths) {
        work.Add([&, path]() -> OrderedWork::Emit {
            try {
                auto [file, listing] = BindReadableFileItems(library, path);
                std::uint64_t length = 0;
                for (const ItemListing::Entry& entry : listing.items) length += entry.size;
                return [&, path, length] {
                    if (options.json)
                        files.push_back({{"path", path}, {"length", length}});
                    else if (options.paths.size() == 1)
                        PrintRaw(std::to_string(length) + "\n");
                    else
                        PrintRaw(std::to_string(length) + "  " + EscapedForDisplay(path) + "\n");
                };
            } catch (const Failure& failure) {
                return [&, path, failure] {
                    ReportFailure(failure.what());
                    if (options.json)
                        files.push_back({{"path", path}, {"error", failure.Description()}});
                    status = kFailure;
                };
            }
        });
    }
    work.Finish();
    if (options.json) PrintJson(Json{{"files", std::move(files)}});
    return status;
}

CommandRun DefineLength(CLI::App& command) {
    auto options = std::make_shared<LengthOptions>();
    command.add_flag("--json", options->json, "Write one JSON document");
    AddJobsOption(command, options->jobs);
    command.add_option("PATH", options->paths, "Files")->required();
    return {[options] {
                for (const std::string& path : options->paths) RequirePath(path);
            },
            [options](const Library& library) { return RunLength(library, *options); }};
}

}  // namespace

const Command kLengthCommand{"length", "Show the total size in bytes of each file's items",
                             DefineLength};

}  // namespace quarrow2::tool

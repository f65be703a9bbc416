// quarrow2 length [--json] PATH...
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/command.h"
#include "tools/console.h"
#include "tools/failure.h"
#include "tools/ordered_work.h"
#include "tools/readable_file.h"

namespace quarrow2::tool {
namespace {

struct LengthOptions {
    unsigned jobs = default_jobs();  // -j: files read at once
    bool json = false;
    std::vector<std::string> paths;
};

int run_length(const Library& library, const LengthOptions& options) {
    int status = kSuccess;
    Json files = Json::array();
    OrderedWork work(options.jobs);
    for (const std::string& path : options.paths) {
        work.add([&, path]() -> OrderedWork::Emit {
            try {
                std::uint32_t length = bind_readable_file(library, path).total_length();
                return [&, path, length] {
                    if (options.json)
                        files.push_back({{"path", path}, {"length", length}});
                    else if (options.paths.size() == 1)
                        print_raw(std::to_string(length) + "\n");
                    else
                        print_raw(std::to_string(length) + "  " + escaped_for_display(path) + "\n");
                };
            } catch (const Failure& failure) {
                return [&, path, failure] {
                    report_failure(failure.what());
                    if (options.json)
                        files.push_back({{"path", path}, {"error", failure.description()}});
                    status = kFailure;
                };
            }
        });
    }
    work.finish();
    if (options.json) print_json(Json{{"files", std::move(files)}});
    return status;
}

CommandRun define_length(CLI::App& command) {
    auto options = std::make_shared<LengthOptions>();
    command.add_flag("--json", options->json, "Write one JSON document");
    add_jobs_option(command, options->jobs);
    command.add_option("PATH", options->paths, "Files")->required();
    return {[options] {
                for (const std::string& path : options->paths) require_path(path);
            },
            [options](const Library& library) { return run_length(library, *options); }};
}

}  // namespace

const Command kLengthCommand{"length", "Show the total size in bytes of each file's items",
                             define_length};

}  // namespace quarrow2::tool

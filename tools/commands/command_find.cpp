// quarrow2 find [-r] PATH... --type T [--value TEXT | --match GLOB | --regex RE] [--json] [-0]
#include <algorithm>
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/commands/command.h"
#include "tools/formats/console.h"
#include "tools/formats/failure.h"
#include "tools/client/file_walk.h"
#include "tools/client/readable_file.h"
#include "tools/formats/value_match.h"
#include "tools/formats/value_text.h"

namespace quarrow2::tool {
namespace {

struct FindOptions {
    unsigned jobs = DefaultJobs();  // -j: files read at once
    bool recursive = false;
    bool json = false;
    bool nullSeparated = false;
    std::vector<std::string> paths;
    std::string type;
    std::optional<std::string> value;  // the whole text equals this
    std::optional<std::string> glob;   // the whole text matches this pattern
    std::optional<std::string> regex;  // some of the text matches this regular expression
};

constexpr int kSearchFailed = 2;

struct Found {
    std::string path;
    std::optional<Bytes> value;  // read only when a condition on it was given
};

class Search {
public:
    Search(const Library& library, const FindOptions& options)
        : library_(library),
          options_(options),
          type_(NameUtf16(options.type)),
          match_(options.value, options.glob, options.regex) {}

    // Whether the file has the item (with the value asked for), read on a worker: what to
    // show, or the message that it could not be searched.
    struct Look {
        std::optional<Found> found;
        std::optional<std::string> failure;
    };
    Look LookAt(const VisitedPath& visited) const {
        const std::string& path = visited.path;
        try {
            Found found{path, std::nullopt};
            if (match_.NeedsValue() || options_.json) {
                // One read tells a file without the item from one that cannot be read.
                found.value = ReadItemIfPresent(library_, path, type_, options_.type);
                if (!found.value) return {};
                if (!match_.Matches(MatchedTexts(options_.type, *found.value))) return {};
                return {std::move(found), std::nullopt};
            }
            // The listing tells a file without the item from one that cannot be read.
            auto [file, types] = BindReadableFileTypes(library_, path, LayoutFolderOf(visited));
            if (std::find(types.begin(), types.end(), type_) == types.end()) return {};
            return {std::move(found), std::nullopt};
        } catch (const Failure& failure) {
            // As grep does: a file that cannot be searched is an error, not a non-match.
            return {std::nullopt, failure.what()};
        }
    }

    void Add(const Look& look) {
        if (look.failure) Fail(*look.failure);
        if (look.found) Show(*look.found);
    }

    void Fail(const std::string& message) {
        ReportFailure(message);
        failed_ = true;
    }

    // As grep: 0 found, 1 none found, 2 something could not be searched (found or not).
    int Finish() {
        if (options_.json) PrintJson(Json{{"files", std::move(files_)}});
        if (failed_) return kSearchFailed;
        return matched_ ? kSuccess : kFailure;
    }

private:
    void Show(const Found& found) {
        matched_ = true;
        if (options_.json) {
            auto [form, value] = JsonTextOrHex(options_.type, *found.value);
            files_.push_back({{"path", found.path}, {"type", options_.type}, {form, value}});
        } else {
            PrintRaw(options_.nullSeparated ? found.path + '\0'
                                            : EscapedForDisplay(found.path) + '\n');
        }
    }

    const Library& library_;
    const FindOptions& options_;
    WString type_;
    ValueMatch match_;
    Json files_ = Json::array();
    bool matched_ = false;
    bool failed_ = false;
};

int RunFind(const Library& library, const FindOptions& options) {
    Search search(library, options);
    VisitPaths(
        options.paths, options.recursive, options.jobs,
        [&](const VisitedPath& visited) -> OrderedWork::Emit {
            return [&search, look = search.LookAt(visited)] { search.Add(look); };
        },
        [&](const std::string& path, const std::string& description) {
            search.Fail(Failure(description, path).what());
        });
    return search.Finish();
}

CommandRun DefineFind(CLI::App& command) {
    auto options = std::make_shared<FindOptions>();
    command.add_flag("-r,--recursive", options->recursive, "Search folders and their subfolders");
    command.add_option("--type", options->type, "The item's type name")->required();
    auto* equal = command.add_option("--value", options->value, "Its text is exactly this");
    auto* glob = command.add_option("--match", options->glob,
                                    "Its whole text matches this pattern (*, ?, [a-z])");
    auto* regex =
        command.add_option("--regex", options->regex,
                           "Its text holds a match of this regular expression (ECMAScript)");
    equal->excludes(glob)->excludes(regex);
    glob->excludes(regex);
    command.add_flag("--json", options->json, "Write one JSON document, with each value");
    command.add_flag("-0,--null", options->nullSeparated,
                     "End each path with a zero byte, for xargs -0");
    AddJobsOption(command, options->jobs);
    command.add_option("PATH", options->paths, "Files, or folders with -r")->required();
    command.footer(TextRuleHelp() +
                   " A value of another name also matches when its bytes, read as UTF-8, do.");
    return {[options] {
                for (const std::string& path : options->paths) RequirePath(path);
                if (std::optional<std::string> fault = TypeNameFault(options->type))
                    throw UsageError("find --type: " + *fault);
                for (const auto* text : {&options->value, &options->glob, &options->regex})
                    if (*text) RequireUtf8(**text, "value or pattern");
            },
            [options](const Library& library) { return RunFind(library, *options); }};
}

}  // namespace

const Command kFindCommand{
    "find", "Show the files that have an item of a type (and a value); exit status 1 when none has",
    DefineFind};

}  // namespace quarrow2::tool

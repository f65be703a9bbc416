// quarrow2 dump [-r] [--output F|-] PATH...
#include <functional>
#include <string>
#include <vector>
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/commands/command.h"
#include "tools/formats/console.h"
#include "tools/client/dump_input.h"
#include "tools/formats/failure.h"
#include "tools/client/file_system.h"
#include "tools/client/file_walk.h"
#include "tools/client/output_file.h"
#include "tools/client/readable_file.h"
#include "tools/formats/value_text.h"

namespace quarrow2::tool {
namespace {

struct DumpOptions {
    unsigned jobs = DefaultJobs();  // -j: files read at once
    bool recursive = false;
    std::optional<std::string> output;  // standard output when none
    std::vector<std::string> paths;
};

// A name as the file system's bytes: as text when they are UTF-8, else as base64 under
// `key`_bytes, so that restore gets back the very same bytes.
void PutName(Json& object, const std::string& key, const std::string& name) {
    if (FindInvalidUtf8(name))
        object[key + "_bytes"] = Base64FromBytes(Bytes(name.begin(), name.end()));
    else
        object[key] = name;
}

// The value as the text it is by its name (ExactText): UTF-16 text under "text", UTF-8 text
// under "utf8", anything else as base64 "bytes". The empty-value marker reads back as no
// bytes and is written as the empty text; an item of 0 bytes (made by another program) as
// empty bytes, so restore can say what becomes of it.
Json ItemJson(const std::string& type, const Bytes& value, std::uint64_t storedSize) {
    Json json = Json::object();
    PutName(json, "type", type);
    ValueText text = ExactText(type, value);
    if (text.form == TextForm::kNone || (value.empty() && storedSize == 0))
        json["bytes"] = Base64FromBytes(value);
    else
        json[text.form == TextForm::kUtf8 ? "utf8" : "text"] = std::move(text.text);
    return json;
}

// A file as read on a worker: its entry, none when its items could not be read, and the
// failures to report.
struct DumpedFile {
    std::optional<Json> entry;
    std::vector<std::string> failures;
};

DumpedFile ReadDumpedFile(const Library& library, const VisitedPath& visited) {
    const std::string& path = visited.path;
    DumpedFile dumped;
    Json file = Json::object();
    PutName(file, "path", path);
    if (visited.folder) file["folder"] = true;
    Json items = Json::array();
    try {
        auto [bound, listing] = BindReadableFileItems(library, path, LayoutFolderOf(visited));
        for (const ItemListing::Entry& entry : listing.items) {
            std::string shown = NameForDisplay(entry.type);
            try {
                std::optional<std::string> name = NameBytes(entry.type);
                if (!name)
                    throw Failure(
                        "The type name holds an unpaired surrogate, which no name on "
                        "this system can carry.",
                        path, shown);
                items.push_back(ItemJson(*name, bound.ReadBytes(entry.type, shown), entry.size));
            } catch (const Failure& failure) {
                dumped.failures.push_back(failure.what());
            }
        }
        for (std::string& failure : ForeignNameFailures(path, listing))
            dumped.failures.push_back(std::move(failure));
    } catch (const Failure& failure) {
        dumped.failures.push_back(failure.what());
        return dumped;
    }
    file["items"] = std::move(items);
    dumped.entry = std::move(file);
    return dumped;
}

// The document written as it grows, one file's entry at a time, in exactly the bytes that
// dumping it whole would give: a tree of any size costs the memory of one file.
class StreamedDocument {
public:
    explicit StreamedDocument(std::function<void(const std::string&)> write)
        : write_(std::move(write)) {
        std::string empty = JsonText(
            Json{{"format", kDumpFormat}, {"version", kDumpVersion}, {"files", Json::array()}});
        size_t brackets = empty.rfind("[]");
        write_(empty.substr(0, brackets + 1));
        closing_ = empty.substr(brackets + 1);
    }

    void Add(const Json& file) {
        // Inside the document's "files" array, two levels in; a string in JSON holds no
        // line end of its own, so every line of the entry is indented alike.
        std::string entry = JsonText(file);
        std::string indented = first_ ? "\n    " : ",\n    ";
        for (char c : entry) {
            indented += c;
            if (c == '\n') indented += "    ";
        }
        write_(indented);
        first_ = false;
    }

    void Finish() { write_((first_ ? "" : "\n  ") + closing_ + "\n"); }

private:
    static std::string JsonText(const Json& json) {
        return json.dump(2, ' ', false, Json::error_handler_t::replace);
    }

    std::function<void(const std::string&)> write_;
    std::string closing_;
    bool first_ = true;
};

int RunDump(const Library& library, const DumpOptions& options) {
    // Opened first, so a place that cannot be written fails before the walk.
    std::optional<OutputFile> output;
    if (options.output && *options.output != "-") output.emplace(*options.output);
    StreamedDocument document([&output](const std::string& text) {
        if (output)
            output->Write(text);
        else
            PrintRaw(text);
    });
    bool failed = false;
    VisitPaths(
        options.paths, options.recursive, options.jobs,
        [&](const VisitedPath& visited) -> OrderedWork::Emit {
            return [&, dumped = ReadDumpedFile(library, visited), inFolder = visited.inFolder] {
                for (const std::string& message : dumped.failures) ReportFailure(message);
                failed = failed || !dumped.failures.empty();
                // A tree's files without items carry nothing to restore.
                if (dumped.entry && !(inFolder && dumped.entry->at("items").empty()))
                    document.Add(*dumped.entry);
            };
        },
        [&](const std::string& path, const std::string& description) {
            ReportFailure(Failure(description, path).what());
            failed = true;
        });
    document.Finish();
    if (output && failed)
        ReportFailure(Failure("The dump is incomplete, so it was not saved; the file is left as "
                              "it was.",
                              *options.output)
                          .what());
    else if (output)
        output->Commit();
    return failed ? kFailure : kSuccess;
}

CommandRun DefineDump(CLI::App& command) {
    auto options = std::make_shared<DumpOptions>();
    command.add_flag("-r,--recursive", options->recursive,
                     "Dump the files in folders and their subfolders (those with items)");
    command
        .add_option("-o,--output", options->output,
                    "Write the document to this file, replaced only when the dump succeeds; - is "
                    "standard output")
        ->type_name("FILE");
    AddJobsOption(command, options->jobs);
    command
        .add_option("PATH", options->paths, "Files, or folders with -r; paths are written as given")
        ->required();
    command.footer(TextRuleHelp() +
                   " UTF-8 text is written as \"utf8\", UTF-16 text as \"text\", "
                   "other values as base64 \"bytes\".");
    return {[options] {
                for (const std::string& path : options->paths) RequirePath(path);
                if (options->output) RequirePath(*options->output);
            },
            [options](const Library& library) { return RunDump(library, *options); }};
}

}  // namespace

const Command kDumpCommand{
    "dump", "Write every item of the files as one JSON document, for restore", DefineDump};

}  // namespace quarrow2::tool

// quarrow2 list [-r] [-l] [--json] PATH...
#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <optional>
#include <utility>
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/commands/command.h"
#include "tools/formats/console.h"
#include "tools/formats/failure.h"
#include "tools/client/file_walk.h"
#include "tools/formats/progress.h"
#include "tools/client/readable_file.h"
#include "tools/formats/value_text.h"

namespace quarrow2::tool {
namespace {

struct ListOptions {
    unsigned jobs = DefaultJobs();  // -j: files read at once
    bool recursive = false;
    bool json = false;
    bool longForm = false;  // -l: each value after its type
    std::vector<std::string> paths;
};

// Values longer than this many characters are cut on a terminal, so one item is one line.
constexpr size_t kShownValueCharacters = 60;

struct ListedItem {
    std::string type;
    std::uint64_t length = 0;
    std::optional<Bytes> value;  // with -l, when it could be read
    std::string error;           // why it could not be
};

// Before a value list -l shows as UTF-8 on its bytes alone, its name saying nothing.
constexpr const char* kGuessedUtf8Mark = "(UTF-8) ";

std::string CutForTerminal(const std::string& utf8) {
    size_t characters = 0;
    size_t cut = utf8.size();
    for (size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
        if (characters == kShownValueCharacters - 1) cut = i;
        if (++characters > kShownValueCharacters) return utf8.substr(0, cut) + "\u2026";
    }
    return utf8;
}

struct ListedFile {
    std::string path;
    std::vector<ListedItem> items;
    std::optional<std::string> error;   // set when the file's items could not be listed
    std::vector<std::string> failures;  // the messages to report, in order
};

// Each item the listing holds, in its order; with -l its value, read by its exact UTF-16
// name.
std::vector<ListedItem> ListItems(ReadableItems& readable, bool withValues,
                                  std::vector<std::string>& failures) {
    std::vector<ListedItem> items;
    for (const ItemListing::Entry& entry : readable.listing.items) {
        ListedItem item{NameForDisplay(entry.type), entry.size, std::nullopt, {}};
        if (withValues) {
            try {
                item.value = readable.file.ReadBytes(entry.type, item.type);
            } catch (const Failure& failure) {
                item.error = failure.Description();
                failures.push_back(failure.what());
            }
        }
        items.push_back(std::move(item));
    }
    return items;
}

Json FileJson(const ListedFile& file) {
    Json entry{{"path", file.path}};
    if (file.error) {
        entry["error"] = *file.error;
        return entry;
    }
    entry["items"] = Json::array();
    for (const ListedItem& item : file.items) {
        Json row{{"type", item.type}, {"length", item.length}};
        if (item.value) {
            auto [form, value] = JsonTextOrHex(item.type, *item.value);
            row[form] = std::move(value);
        } else if (!item.error.empty()) {
            row["error"] = item.error;
        }
        entry["items"].push_back(std::move(row));
    }
    return entry;
}

size_t Characters(const std::string& utf8) {
    size_t count = 0;
    for (char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

// Names and values escaped (EscapedForDisplay), so a listing is safe on a terminal and a
// name cannot forge a line of its own.
std::string FileText(const ListedFile& file, bool cutValues) {
    std::string text = EscapedForDisplay(file.path) + "\n";
    if (file.items.empty()) return text + "  (no items)\n";
    size_t width = 1;
    size_t typeWidth = 0;
    for (const ListedItem& item : file.items) {
        width = std::max(width, std::to_string(item.length).size());
        typeWidth = std::max(typeWidth, Characters(EscapedForDisplay(item.type)));
    }
    for (const ListedItem& item : file.items) {
        std::string length = std::to_string(item.length);
        std::string type = EscapedForDisplay(item.type);
        text +=
            "  " + std::string(width - std::min(width, length.size()), ' ') + length + "  " + type;
        if (item.value && !item.value->empty()) {
            ValueText shown = ShownText(item.type, *item.value);
            std::string value = shown.form == TextForm::kNone ? HexFromBytes(*item.value)
                                                              : EscapedForDisplay(shown.text);
            text += std::string(typeWidth - Characters(type) + 2, ' ') +
                    (shown.guessed ? kGuessedUtf8Mark : "") +
                    (cutValues ? CutForTerminal(value) : value);
        }
        text += "\n";
    }
    return text;
}

class Listing {
public:
    Listing(const Library& library, const ListOptions& options)
        : library_(library),
          options_(options),
          progress_(options.recursive && AttendedTerminal()),
          cutValues_(OutputIsTerminal()) {}

    // The file's items, read on a worker; nothing is written yet.
    ListedFile Read(const VisitedPath& visited) const {
        const std::string& path = visited.path;
        ListedFile listed{path, {}, std::nullopt, {}};
        try {
            ReadableItems file = BindReadableFileItems(library_, path, LayoutFolderOf(visited));
            listed.items = ListItems(file, options_.longForm, listed.failures);
            for (std::string& failure : ForeignNameFailures(path, file.listing))
                listed.failures.push_back(std::move(failure));
        } catch (const Failure& failure) {
            listed.error = failure.Description();
            listed.failures.push_back(failure.what());
        }
        return listed;
    }

    // `inFolder`: found by the walk rather than named on the command line; such files are
    // shown as text only when they carry items, so that a tree lists what it holds.
    void AddFile(const ListedFile& listed, bool inFolder) {
        progress_.FileSeen(listed.items.size());
        for (const std::string& message : listed.failures) Fail(message);
        if (options_.json)
            files_.push_back(FileJson(listed));
        else if (!listed.error && !(inFolder && listed.items.empty()))
            Show(FileText(listed, cutValues_));
    }

    // A path named or found that is no file to list.
    void Refuse(const std::string& path, const std::string& description) {
        Fail(Failure(description, path).what());
        if (options_.json) files_.push_back(Json{{"path", path}, {"error", description}});
    }

    int Finish() {
        progress_.Clear();
        if (options_.json) PrintJson(Json{{"files", std::move(files_)}});
        return status_;
    }

private:
    void Fail(const std::string& message) {
        progress_.Clear();
        ReportFailure(message);
        status_ = kFailure;
    }

    void Show(const std::string& text) {
        progress_.Clear();
        PrintRaw(text);
        // Out before the progress line is drawn again below it.
        if (progress_.Shown()) std::fflush(stdout);
    }

    const Library& library_;
    const ListOptions& options_;
    Progress progress_;
    bool cutValues_;
    Json files_ = Json::array();
    int status_ = kSuccess;
};

int RunList(const Library& library, const ListOptions& options) {
    Listing listing(library, options);
    VisitPaths(
        options.paths, options.recursive, options.jobs,
        [&](const VisitedPath& visited) -> OrderedWork::Emit {
            return [&listing, listed = listing.Read(visited), inFolder = visited.inFolder] {
                listing.AddFile(listed, inFolder);
            };
        },
        [&](const std::string& path, const std::string& description) {
            listing.Refuse(path, description);
        });
    return listing.Finish();
}

CommandRun DefineList(CLI::App& command) {
    auto options = std::make_shared<ListOptions>();
    command.add_flag("-r,--recursive", options->recursive,
                     "List the files in folders and their subfolders (files without items are "
                     "left out of the text form)");
    command.add_flag("-l,--long", options->longForm,
                     "Show each value after its type: its text, or hex digits when it is not "
                     "text (cut short on a terminal); (UTF-8) marks text read as UTF-8 from its "
                     "bytes alone");
    command.add_flag("--json", options->json,
                     "Write one JSON document (with -l, whole values as text or hex)");
    AddJobsOption(command, options->jobs);
    command.add_option("PATH", options->paths, "Files, or folders with -r")->required();
    command.footer(TextRuleHelp());
    return {[options] {
                for (const std::string& path : options->paths) RequirePath(path);
            },
            [options](const Library& library) { return RunList(library, *options); }};
}

}  // namespace

const Command kListCommand{
    "list", "Show each file's item types with their lengths in bytes, in the file system's order",
    DefineList};

}  // namespace quarrow2::tool

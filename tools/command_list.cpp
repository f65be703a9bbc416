// quarrow2 list [-r] [-l] [--json] PATH...
#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <optional>
#include <utility>
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/command.h"
#include "tools/console.h"
#include "tools/failure.h"
#include "tools/file_walk.h"
#include "tools/progress.h"
#include "tools/readable_file.h"

namespace quarrow2::tool {
namespace {

struct ListOptions {
    unsigned jobs = default_jobs();  // -j: files read at once
    bool recursive = false;
    bool json = false;
    bool long_form = false;  // -l: each value after its type
    std::vector<std::string> paths;
};

// Values longer than this many characters are cut on a terminal, so one item is one line.
constexpr size_t kShownValueCharacters = 60;

struct ListedItem {
    std::string type;
    std::optional<std::uint32_t> length;  // none when the item could not be opened
    std::optional<Bytes> value;           // with -l
    std::string error;
};

// The value as text, or as hex when its bytes are not text; "hex" or "text" says which.
std::pair<const char*, std::string> text_or_hex(const Bytes& value) {
    if (std::optional<std::string> text = text_of_value(value)) return {"text", std::move(*text)};
    return {"hex", hex_from_bytes(value)};
}

std::string cut_for_terminal(const std::string& utf8) {
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

// Each type the file system reports, opened by its exact UTF-16 name for its length.
std::vector<ListedItem> list_items(ReadableFile& readable, bool with_values,
                                   std::vector<std::string>& failures) {
    MetadataFile& file = readable.file;
    std::vector<ListedItem> items;
    for (const WString& type : readable.types) {
        ListedItem item{name_for_display(type), std::nullopt, std::nullopt, {}};
        try {
            MetadataItem opened = file.open(type, item.type);
            item.length = opened.length();
            if (with_values) item.value = opened.bytes();
        } catch (const Failure& failure) {
            item.error = failure.description();
            failures.push_back(failure.what());
        }
        items.push_back(std::move(item));
    }
    return items;
}

Json file_json(const ListedFile& file) {
    Json entry{{"path", file.path}};
    if (file.error) {
        entry["error"] = *file.error;
        return entry;
    }
    entry["items"] = Json::array();
    for (const ListedItem& item : file.items) {
        Json row{{"type", item.type}};
        if (!item.length) {
            row["error"] = item.error;
        } else {
            row["length"] = *item.length;
            if (item.value) {
                auto [form, value] = text_or_hex(*item.value);
                row[form] = std::move(value);
            }
        }
        entry["items"].push_back(std::move(row));
    }
    return entry;
}

size_t characters(const std::string& utf8) {
    size_t count = 0;
    for (char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

// Names and values escaped (escaped_for_display), so a listing is safe on a terminal and a
// name cannot forge a line of its own.
std::string file_text(const ListedFile& file, bool cut_values) {
    std::string text = escaped_for_display(file.path) + "\n";
    if (file.items.empty()) return text + "  (no items)\n";
    size_t width = 1;
    size_t type_width = 0;
    for (const ListedItem& item : file.items) {
        if (item.length) width = std::max(width, std::to_string(*item.length).size());
        type_width = std::max(type_width, characters(escaped_for_display(item.type)));
    }
    for (const ListedItem& item : file.items) {
        std::string length = item.length ? std::to_string(*item.length) : "?";
        std::string type = escaped_for_display(item.type);
        text +=
            "  " + std::string(width - std::min(width, length.size()), ' ') + length + "  " + type;
        if (item.value && !item.value->empty()) {
            std::string value = escaped_for_display(text_or_hex(*item.value).second);
            text += std::string(type_width - characters(type) + 2, ' ') +
                    (cut_values ? cut_for_terminal(value) : value);
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
          progress_(options.recursive && attended_terminal()),
          cut_values_(output_is_terminal()) {}

    // The file's items, read on a worker; nothing is written yet.
    ListedFile read(const std::string& path) const {
        ListedFile listed{path, {}, std::nullopt, {}};
        try {
            ReadableFile file = bind_readable_file_types(library_, path);
            listed.items = list_items(file, options_.long_form, listed.failures);
        } catch (const Failure& failure) {
            listed.error = failure.description();
            listed.failures.push_back(failure.what());
        }
        return listed;
    }

    // `in_folder`: found by the walk rather than named on the command line; such files are
    // shown as text only when they carry items, so that a tree lists what it holds.
    void add_file(const ListedFile& listed, bool in_folder) {
        progress_.file_seen(listed.items.size());
        for (const std::string& message : listed.failures) fail(message);
        if (options_.json)
            files_.push_back(file_json(listed));
        else if (!listed.error && !(in_folder && listed.items.empty()))
            show(file_text(listed, cut_values_));
    }

    // A path named or found that is no file to list.
    void refuse(const std::string& path, const std::string& description) {
        fail(Failure(description, path).what());
        if (options_.json) files_.push_back(Json{{"path", path}, {"error", description}});
    }

    int finish() {
        progress_.clear();
        if (options_.json) print_json(Json{{"files", std::move(files_)}});
        return status_;
    }

private:
    void fail(const std::string& message) {
        progress_.clear();
        report_failure(message);
        status_ = kFailure;
    }

    void show(const std::string& text) {
        progress_.clear();
        print_raw(text);
        // Out before the progress line is drawn again below it.
        if (progress_.shown()) std::fflush(stdout);
    }

    const Library& library_;
    const ListOptions& options_;
    Progress progress_;
    bool cut_values_;
    Json files_ = Json::array();
    int status_ = kSuccess;
};

int run_list(const Library& library, const ListOptions& options) {
    Listing listing(library, options);
    visit_paths(
        options.paths, options.recursive, options.jobs,
        [&](const std::string& path, bool in_folder) -> OrderedWork::Emit {
            return [&listing, listed = listing.read(path), in_folder] {
                listing.add_file(listed, in_folder);
            };
        },
        [&](const std::string& path, const std::string& description) {
            listing.refuse(path, description);
        });
    return listing.finish();
}

CommandRun define_list(CLI::App& command) {
    auto options = std::make_shared<ListOptions>();
    command.add_flag("-r,--recursive", options->recursive,
                     "List the files in folders and their subfolders (files without items are "
                     "left out of the text form)");
    command.add_flag("-l,--long", options->long_form,
                     "Show each value after its type: its text, or hex digits when it is not "
                     "text (cut short on a terminal)");
    command.add_flag("--json", options->json,
                     "Write one JSON document (with -l, whole values as text or hex)");
    add_jobs_option(command, options->jobs);
    command.add_option("PATH", options->paths, "Files, or folders with -r")->required();
    return {[options] {
                for (const std::string& path : options->paths) require_path(path);
            },
            [options](const Library& library) { return run_list(library, *options); }};
}

}  // namespace

const Command kListCommand{
    "list", "Show each file's item types with their lengths in bytes, in the file system's order",
    define_list};

}  // namespace quarrow2::tool

// quarrow2 list [-r] [--json] PATH...
#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <optional>

#include "commands.h"
#include "console.h"
#include "failure.h"
#include "file_walk.h"
#include "progress.h"
#include "readable_file.h"

namespace quarrow2::tool {
namespace {

struct ListedItem {
    std::string type;
    std::optional<std::uint32_t> length;  // none when the item could not be opened
    std::string error;
};

struct ListedFile {
    std::string path;
    std::vector<ListedItem> items;
    std::optional<std::string> error;  // set when the file's items could not be listed
};

// Each type the file system reports, opened by its exact UTF-16 name for its length.
std::vector<ListedItem> list_items(MetadataFile& file, std::vector<std::string>& failures) {
    std::vector<ListedItem> items;
    for (const WString& type : file.types()) {
        ListedItem item{displayable_utf8(type), std::nullopt, {}};
        try {
            item.length = file.open(type, item.type).length();
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
        if (item.length)
            row["length"] = *item.length;
        else
            row["error"] = item.error;
        entry["items"].push_back(std::move(row));
    }
    return entry;
}

std::string file_text(const ListedFile& file) {
    std::string text = file.path + "\n";
    if (file.items.empty()) return text + "  (no items)\n";
    size_t width = 1;
    for (const ListedItem& item : file.items)
        if (item.length) width = std::max(width, std::to_string(*item.length).size());
    for (const ListedItem& item : file.items) {
        std::string length = item.length ? std::to_string(*item.length) : "?";
        text += "  " + std::string(width - std::min(width, length.size()), ' ') + length + "  " +
                item.type + "\n";
    }
    return text;
}

class Listing {
public:
    Listing(const Library& library, const ListOptions& options)
        : library_(library), options_(options), progress_(options.recursive && attended_terminal()) {}

    // `in_folder`: found by the walk rather than named on the command line; such files are
    // shown as text only when they carry items, so that a tree lists what it holds.
    void add_file(const std::string& path, bool in_folder) {
        ListedFile listed{path, {}, std::nullopt};
        std::vector<std::string> failures;
        try {
            MetadataFile file = bind_readable_file(library_, path);
            listed.items = list_items(file, failures);
        } catch (const Failure& failure) {
            listed.error = failure.description();
            failures.push_back(failure.what());
        }
        progress_.file_seen(listed.items.size());
        for (const std::string& message : failures) fail(message);
        if (options_.json)
            files_.push_back(file_json(listed));
        else if (!listed.error && !(in_folder && listed.items.empty()))
            show(file_text(listed));
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
    Json files_ = Json::array();
    int status_ = kSuccess;
};

}  // namespace

int run_list(const Library& library, const ListOptions& options) {
    Listing listing(library, options);
    for (const std::string& path : options.paths) {
        if (!is_folder(path)) {
            listing.add_file(path, false);
        } else if (options.recursive) {
            walk_folder(
                path, [&](const std::string& file) { listing.add_file(file, true); },
                [&](const std::string& folder, const std::string& reason) {
                    listing.refuse(folder, "Unable to read the folder: " + reason + ".");
                });
        } else {
            listing.refuse(path, "Is a folder; use list -r to list the files in it.");
        }
    }
    return listing.finish();
}

}  // namespace quarrow2::tool

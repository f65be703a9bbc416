// quarrow2 find [-r] PATH... --type T [--value TEXT | --match GLOB | --regex RE] [--json] [-0]
#include <algorithm>

#include "commands.h"
#include "console.h"
#include "failure.h"
#include "file_walk.h"
#include "readable_file.h"
#include "value_match.h"

namespace quarrow2::tool {
namespace {

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
          type_(name_utf16(options.type)),
          match_(options.value, options.glob, options.regex) {}

    // Whether the file has the item (with the value asked for), read on a worker: what to
    // show, or the message that it could not be searched.
    struct Look {
        std::optional<Found> found;
        std::optional<std::string> failure;
    };
    Look look_at(const std::string& path) const {
        try {
            // The walk tells a missing item from one that cannot be opened.
            auto [file, types] = bind_readable_file_types(library_, path);
            if (std::find(types.begin(), types.end(), type_) == types.end()) return {};
            Found found{path, std::nullopt};
            if (match_.needs_value() || options_.json) {
                found.value = file.open(type_, options_.type).bytes();
                if (!match_.matches(text_of_value(*found.value))) return {};
            }
            return {std::move(found), std::nullopt};
        } catch (const Failure& failure) {
            // As grep does: a file that cannot be searched is an error, not a non-match.
            return {std::nullopt, failure.what()};
        }
    }

    void add(const Look& look) {
        if (look.failure) fail(*look.failure);
        if (look.found) show(*look.found);
    }

    void fail(const std::string& message) {
        report_failure(message);
        failed_ = true;
    }

    // As grep: 0 found, 1 none found, 2 something could not be searched (found or not).
    int finish() {
        if (options_.json) print_json(Json{{"files", std::move(files_)}});
        if (failed_) return kSearchFailed;
        return matched_ ? kSuccess : kFailure;
    }

private:
    void show(const Found& found) {
        matched_ = true;
        if (options_.json) {
            Json entry{{"path", found.path}, {"type", options_.type}};
            if (std::optional<std::string> text = text_of_value(*found.value))
                entry["text"] = std::move(*text);
            else
                entry["hex"] = hex_from_bytes(*found.value);
            files_.push_back(std::move(entry));
        } else {
            print_raw(options_.null_separated ? found.path + '\0'
                                              : escaped_for_display(found.path) + '\n');
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

}  // namespace

int run_find(const Library& library, const FindOptions& options) {
    Search search(library, options);
    visit_paths(
        options.paths, options.recursive, options.jobs,
        [&](const std::string& path, bool) -> OrderedWork::Emit {
            return [&search, look = search.look_at(path)] { search.add(look); };
        },
        [&](const std::string& path, const std::string& description) {
            search.fail(Failure(description, path).what());
        });
    return search.finish();
}

}  // namespace quarrow2::tool

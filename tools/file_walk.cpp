#include "file_walk.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace quarrow2::tool {
namespace {

namespace fs = std::filesystem;

struct Entry {
    fs::path path;
    bool folder;
};

}  // namespace

bool is_folder(const std::string& path) {
    std::error_code error;
    return fs::is_directory(fs::u8path(path), error);
}

void walk_folder(const std::string& folder, const std::function<void(const std::string&)>& visit,
                 const std::function<void(const std::string&, const std::string&)>& unreadable) {
    // An explicit stack, so that depth costs heap, not the call stack.
    std::vector<Entry> pending{{fs::u8path(folder), true}};
    while (!pending.empty()) {
        Entry next = std::move(pending.back());
        pending.pop_back();
        if (!next.folder) {
            visit(next.path.u8string());
            continue;
        }
        std::error_code error;
        fs::directory_iterator entries(next.path, error);
        std::vector<Entry> children;
        for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
            std::error_code vanished;
            fs::file_status status = entries->symlink_status(vanished);
            if (vanished) continue;
            if (fs::is_directory(status))
                children.push_back({entries->path(), true});
            else if (fs::is_regular_file(status))
                children.push_back({entries->path(), false});
        }
        if (error) unreadable(next.path.u8string(), error.message());
        std::sort(children.begin(), children.end(), [](const Entry& a, const Entry& b) {
            return a.path.filename().native() > b.path.filename().native();
        });
        for (Entry& child : children) pending.push_back(std::move(child));
    }
}

void visit_paths(const std::vector<std::string>& paths, bool recursive, const std::string& command,
                 const std::function<void(const std::string&, bool)>& visit,
                 const std::function<void(const std::string&, const std::string&)>& refuse) {
    for (const std::string& path : paths) {
        if (!is_folder(path)) {
            visit(path, false);
        } else if (recursive) {
            walk_folder(
                path, [&](const std::string& file) { visit(file, true); },
                [&](const std::string& folder, const std::string& reason) {
                    refuse(folder, "Unable to read the folder: " + reason + ".");
                });
        } else {
            refuse(path, "Is a folder; use " + command + " -r for the files in it.");
        }
    }
}

}  // namespace quarrow2::tool

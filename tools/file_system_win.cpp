// Windows: paths are UTF-8 in the tool and UTF-16 for the system; std::filesystem walks.
#include "tools/host.h"  // brings in the system headers first

#include <io.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "tools/failure.h"
#include "tools/file_system.h"

namespace quarrow2::tool {
namespace {

namespace fs = std::filesystem;

std::string ReasonOf(const std::error_code& error) { return error.message() + "."; }

struct Entry {
    fs::path path;
    bool folder;
};

}  // namespace

PathState PathStateOf(const std::string& path) {
    std::error_code error;
    fs::file_status status = fs::status(fs::u8path(path), error);
    if (status.type() == fs::file_type::not_found) return {PathKind::kMissing, ReasonOf(error)};
    if (error) return {PathKind::kUnreachable, ReasonOf(error)};
    if (fs::is_directory(status)) return {PathKind::kFolder, {}};
    if (fs::is_regular_file(status)) return {PathKind::kFile, {}};
    return {PathKind::kSpecial, "Is not a file or folder; its items are not read."};
}

std::string AccessRefusal(const std::string& path, bool write) {
    std::wstring wide = fs::u8path(path).wstring();
    if (_waccess(wide.c_str(), write ? 2 : 4) == 0) return {};
    return std::error_code(errno, std::generic_category()).message() + ".";
}

LibraryPath LibraryPathOf(const std::string& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(fs::u8path(path), error);
    if (error) throw Failure("Unable to resolve the path: " + ReasonOf(error), path);
    std::wstring text = absolute.wstring();
    return {WString(text.begin(), text.end()), nullptr};
}

void WalkFolder(const std::string& folder, const std::function<void(const std::string&)>& visit,
                const std::function<void(const std::string&, const std::string&)>& problem) {
    // An explicit stack, so that depth costs heap, not the call stack.
    std::vector<Entry> pending{{fs::u8path(folder), true}};
    bool root = true;
    while (!pending.empty()) {
        Entry next = std::move(pending.back());
        pending.pop_back();
        if (!std::exchange(root, false)) visit(next.path.u8string());
        if (!next.folder) continue;
        std::error_code error;
        fs::directory_iterator entries(next.path, error);
        std::vector<Entry> children;
        for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
            std::error_code vanished;
            fs::file_status own = entries->symlink_status(vanished);
            if (vanished) continue;
            fs::file_status target = entries->status(vanished);
            if (vanished)
                problem(entries->path().u8string(), ReasonOf(vanished));
            else if (fs::is_directory(target) || fs::is_regular_file(target))
                children.push_back({entries->path(), fs::is_directory(own)});
            else
                problem(entries->path().u8string(), "Is not a file or folder; skipped.");
        }
        if (error) problem(next.path.u8string(), ReasonOf(error));
        std::sort(children.begin(), children.end(), [](const Entry& a, const Entry& b) {
            return a.path.filename().native() > b.path.filename().native();
        });
        for (Entry& child : children) pending.push_back(std::move(child));
    }
}

}  // namespace quarrow2::tool

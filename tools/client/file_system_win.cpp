// Windows: paths are UTF-8 in the tool and UTF-16 for the system; std::filesystem walks.
#include "tools/host/host.h"  // brings in the system headers first

#include <io.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "tools/formats/failure.h"
#include "tools/client/file_system.h"

namespace quarrow2::tool {
namespace {

namespace fs = std::filesystem;

std::string ReasonOf(const std::error_code& error) { return error.message() + "."; }

struct Entry {
    fs::path path;
    bool folder;         // entered by the walk: a folder itself, not a link to one
    bool leadsToFolder;  // a folder, or a link to one
    bool link;
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

// Windows keeps the checks on paths: the file system is not walked a name at a time here.
struct TargetFolder::State {
    fs::path folder;
};

struct WriteTarget::State {
    fs::path path;
    bool missing = false;
    bool made = false;  // missing when reached; the library makes it with its first item
    bool kept = false;

    void Discard() {
        std::error_code error;
        if (made && !kept && fs::is_regular_file(path, error) && fs::file_size(path, error) == 0 &&
            !error && fs::remove(path, error))
            made = false;
    }
    ~State() { Discard(); }
};

TargetFolder::TargetFolder(const std::string& folder) : state_(std::make_shared<State>()) {
    state_->folder = fs::u8path(folder.empty() ? "." : folder);
}

WriteTarget TargetFolder::Reach(const std::string& path, const std::string& shown,
                                const ReachRule& rule) const {
    auto failed = [&shown](const std::string& why) { return Failure(why, shown); };
    auto target = std::make_shared<WriteTarget::State>();
    target->path = state_->folder / fs::u8path(path);
    std::error_code error;
    if (rule.beneath) {
        fs::path base = fs::weakly_canonical(fs::absolute(state_->folder, error), error);
        fs::path real = fs::weakly_canonical(fs::absolute(target->path, error), error);
        if (error) throw failed("Unable to reach the file: " + ReasonOf(error));
        fs::path relative = real.lexically_relative(base);
        if (relative.empty() || *relative.begin() == "..")
            throw failed(
                "The path leads through a symbolic link, which restore does not "
                "follow: nothing is written outside the folder restored into.");
    }
    fs::file_status status = fs::symlink_status(target->path, error);
    if (fs::is_symlink(status) && !fs::exists(fs::status(target->path, error)))
        throw failed("The path is a link to nothing; no file or folder is made through it.");
    if (fs::exists(status)) return WriteTarget(target);
    if (!rule.makeEnd) throw failed("File not found.");
    fs::path parent = target->path.parent_path();
    for (fs::path above = parent; !above.empty(); above = above.parent_path()) {
        fs::file_status kind = fs::status(above, error);
        if (fs::is_directory(kind)) break;
        if (fs::exists(kind))
            throw failed("Unable to reach the file: a part of its path is not a folder.");
        if (!rule.makeFolders)
            throw failed("Unable to create the file: its folder does not exist.");
        if (above == above.parent_path()) break;
    }
    target->missing = rule.dryRun;
    if (rule.dryRun) return WriteTarget(target);
    fs::create_directories(rule.folder ? target->path : parent, error);
    if (error) throw failed("Unable to create the folder: " + ReasonOf(error));
    target->made = !rule.folder;
    return WriteTarget(target);
}

WriteTarget::WriteTarget(std::shared_ptr<State> state) : state_(std::move(state)) {}

LibraryPath WriteTarget::ForLibrary() const {
    fs::path named = state_->path;
    std::error_code error;
    while (state_->missing && !named.empty() && !fs::exists(named, error))
        named = named.parent_path();
    return LibraryPathOf(named.empty() ? "." : named.u8string());
}

bool WriteTarget::Missing() const { return state_->missing; }

bool WriteTarget::Made() const { return state_->made; }

std::string WriteTarget::WriteRefusal() const {
    fs::path checked = state_->path;
    std::error_code error;
    while (!checked.empty() && !fs::exists(checked, error)) checked = checked.parent_path();
    return AccessRefusal(checked.empty() ? "." : checked.u8string(), true);
}

void WriteTarget::Discard() { state_->Discard(); }

void WriteTarget::Keep() { state_->kept = true; }

void WalkFolder(const std::string& folder,
                const std::function<void(const std::string&, bool, bool)>& visit,
                const std::function<void(const std::string&, const std::string&)>& problem) {
    // An explicit stack, so that depth costs heap, not the call stack.
    std::vector<Entry> pending{{fs::u8path(folder), true, true, false}};
    bool root = true;
    while (!pending.empty()) {
        Entry next = std::move(pending.back());
        pending.pop_back();
        if (!std::exchange(root, false)) visit(next.path.u8string(), next.leadsToFolder, next.link);
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
                children.push_back({entries->path(), fs::is_directory(own),
                                    fs::is_directory(target), fs::is_symlink(own)});
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

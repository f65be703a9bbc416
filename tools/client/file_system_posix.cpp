// Linux: paths are bytes, walked through open folders (openat, fdopendir), so neither a
// name that is not UTF-8 nor a path longer than PATH_MAX is out of reach.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "quarrow2/descriptor.h"
#include "tools/formats/failure.h"
#include "tools/client/file_system.h"

namespace quarrow2::tool {
namespace {

std::string ReasonOf(int error) { return std::string(std::strerror(error)) + "."; }

std::string SpecialReason(mode_t mode, const char* outcome = "its items are not read.") {
    const char* kind = S_ISFIFO(mode) ? "a FIFO" : S_ISSOCK(mode) ? "a socket" : "a device";
    return std::string("Is ") + kind + ", not a file or folder; " + outcome;
}

// A path no longer than the system takes, held as a folder and a name in it: the folder
// stays open while the name is used. Short paths need no folder (AT_FDCWD).
struct Reached {
    UniqueFd folder;
    std::string name;
    int at() const { return folder.valid() ? folder.get() : AT_FDCWD; }
};

// Opens the folders of a long path one component at a time; errno on failure.
bool reach(const std::string& path, Reached& out) {
    if (path.size() < PATH_MAX) {
        out.name = path;
        return true;
    }
    size_t last = path.find_last_not_of('/');
    size_t slash = path.rfind('/', last);
    if (last == std::string::npos || slash == std::string::npos) {
        errno = ENAMETOOLONG;
        return false;
    }
    UniqueFd folder(::open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (size_t start = 0; folder.valid() && start < slash;) {
        size_t end = std::min(path.find('/', start), slash);
        if (end > start) {
            std::string component = path.substr(start, end - start);
            folder = UniqueFd(
                ::openat(folder.get(), component.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        }
        start = end + 1;
    }
    if (!folder.valid()) return false;
    out.folder = std::move(folder);
    out.name = path.substr(slash + 1, last - slash);
    return true;
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

struct Child {
    std::string name;
    bool folder;         // entered by the walk: a folder itself, not a link to one
    bool leadsToFolder;  // a folder, or a link to one
    bool link;
};

// A folder being walked: its descriptor, for opening what it holds, and what is left.
struct Frame {
    UniqueFd fd;
    std::string path;
    std::vector<Child> children;
    size_t next = 0;
};

using Problem = std::function<void(const std::string&, const std::string&)>;

// The folder's entries, read from the walk's own descriptor of it (a DIR stream would cost
// a copy of the descriptor and fdopendir's checks of it, four calls a folder); errno and
// false on failure.
bool ReadEntries(int folder, const std::function<void(const dirent64&)>& each) {
    alignas(dirent64) char buffer[32768];
    for (;;) {
        const ssize_t got = ::getdents64(folder, buffer, sizeof buffer);
        if (got < 0) return false;
        if (got == 0) return true;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            each(*entry);
        }
    }
}

// The names in the folder `fd`, sorted, each with whether the walk enters it; files and
// folders a link points to are visited but not entered. Others go to `problem`.
std::vector<Child> ReadChildren(const Frame& frame, const Problem& problem) {
    std::vector<Child> children;
    const bool read = ReadEntries(frame.fd.get(), [&](const dirent64& entry) {
        std::string name = entry.d_name;
        if (name == "." || name == "..") return;
        // The folder's own word on a file or folder is enough: it is what lstat would say.
        if (entry.d_type == DT_REG || entry.d_type == DT_DIR) {
            const bool folder = entry.d_type == DT_DIR;
            children.push_back({std::move(name), folder, folder, false});
            return;
        }
        struct stat own;
        if (::fstatat(frame.fd.get(), name.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) problem(joined(frame.path, name), ReasonOf(errno));
            return;  // gone since it was listed
        }
        struct stat target = own;
        if (S_ISLNK(own.st_mode) && ::fstatat(frame.fd.get(), name.c_str(), &target, 0) != 0) {
            problem(joined(frame.path, name), ReasonOf(errno));  // a dangling link
            return;
        }
        if (!S_ISDIR(target.st_mode) && !S_ISREG(target.st_mode)) {
            problem(joined(frame.path, name), SpecialReason(target.st_mode));
            return;
        }
        children.push_back(
            {std::move(name), S_ISDIR(own.st_mode), S_ISDIR(target.st_mode), S_ISLNK(own.st_mode)});
    });
    // What was read before a failure is walked still, as a listing cut short is.
    if (!read) problem(frame.path, ReasonOf(errno));
    std::sort(children.begin(), children.end(),
              [](const Child& a, const Child& b) { return a.name < b.name; });
    return children;
}

// The tool never changes its working folder, so it is asked once, for the first relative
// path; a failure is not kept, so each path says it.
const std::string& WorkingFolder(const std::string& path) {
    static std::mutex mutex;
    static std::string known;
    std::lock_guard<std::mutex> guard(mutex);
    if (known.empty()) {
        std::vector<char> folder(PATH_MAX);
        if (!::getcwd(folder.data(), folder.size()))
            throw Failure("Unable to resolve the path: " + ReasonOf(errno), path);
        known = folder.data();
    }
    return known;
}

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;

constexpr const char* kNotFound = "File not found.";
constexpr const char* kNoFolder = "Unable to create the file: its folder does not exist.";

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The names of a path, without empty ones and ".", in order.
std::vector<std::string> NamesOf(const std::string& path) {
    std::vector<std::string> names;
    for (size_t start = 0; start <= path.size();) {
        size_t end = std::min(path.find('/', start), path.size());
        if (end > start && path.compare(start, end - start, ".") != 0)
            names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

}  // namespace

struct TargetFolder::State {
    UniqueFd folder;
};

struct WriteTarget::State {
    UniqueFd folder;   // holds the end (or, when missing, is the deepest folder there)
    std::string name;  // the end's name in `folder`; empty when the end is that folder
    UniqueFd end;      // the end itself, when there
    bool made = false;
    bool kept = false;

    // Removes the file this run made while it is still empty, holds no items and is still
    // the one under its name.
    void Discard() {
        struct stat own, named;
        if (!made || kept || !end.valid() || ::fstat(end.get(), &own) != 0 ||
            !S_ISREG(own.st_mode) || own.st_size != 0 || ::flistxattr(end.get(), nullptr, 0) != 0 ||
            ::fstatat(folder.get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            named.st_dev != own.st_dev || named.st_ino != own.st_ino)
            return;
        if (::unlinkat(folder.get(), name.c_str(), 0) == 0) made = false;
    }
    ~State() { Discard(); }
};

TargetFolder::TargetFolder(const std::string& folder) : state_(std::make_shared<State>()) {
    const std::string path = folder.empty() ? "." : folder;
    Reached reached;
    if (reach(path, reached))
        state_->folder = UniqueFd(
            ::openat(reached.at(), reached.name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!state_->folder.valid())
        throw Failure("Unable to open the folder: " + ReasonOf(errno), path);
}

WriteTarget TargetFolder::Reach(const std::string& path, const std::string& shown,
                                const ReachRule& rule) const {
    auto failed = [&shown](const std::string& why) { return Failure(why, shown); };
    const char* const throughLink =
        "The path leads through a symbolic link, which restore does not follow: nothing is "
        "written outside the folder restored into.";
    const int follow = rule.beneath ? O_NOFOLLOW : 0;
    auto target = std::make_shared<WriteTarget::State>();
    const bool absolute = !path.empty() && path.front() == '/';
    target->folder = UniqueFd(::openat(absolute ? AT_FDCWD : state_->folder.get(),
                                       absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!target->folder.valid()) throw failed("Unable to reach the file: " + ReasonOf(errno));
    std::vector<std::string> names = NamesOf(path);
    // A name is made again only a few times; another process that keeps removing what was
    // made gets a failure, not an endless loop.
    constexpr int kMostRetries = 8;
    int retries = 0;
    // The end is the folder itself ("." or "/"): there is no name to make or remove.
    if (names.empty()) {
        target->end = UniqueFd(::fcntl(target->folder.get(), F_DUPFD_CLOEXEC, 0));
        return WriteTarget(target);
    }
    for (size_t at = 0; at < names.size(); ++at) {
        const std::string& name = names[at];
        const bool last = at + 1 == names.size();
        const bool folder = !last || rule.folder;
        if (rule.beneath && name == "..")
            throw failed("The path climbs out of the folder with \"..\".");
        struct stat status;
        if (::fstatat(target->folder.get(), name.c_str(), &status,
                      rule.beneath ? AT_SYMLINK_NOFOLLOW : 0) != 0) {
            if (errno != ENOENT) throw failed("Unable to reach the file: " + ReasonOf(errno));
            if (!(last ? rule.makeEnd : rule.makeFolders))
                throw failed(last || !rule.makeEnd ? kNotFound : kNoFolder);
            // Missing as followed: a link to nothing is no place to make anything.
            if (!rule.beneath &&
                ::fstatat(target->folder.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0)
                throw failed(
                    "The path is a link to nothing; no file or folder is made through it.");
            if (rule.dryRun) return WriteTarget(target);  // the rest would be made
            if (folder) {
                if (::mkdirat(target->folder.get(), name.c_str(), 0777) != 0 && errno != EEXIST)
                    throw failed("Unable to create the folder: " + ReasonOf(errno));
            } else {
                UniqueFd made(::openat(
                    target->folder.get(), name.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                    0666));
                if (!made.valid() && errno != EEXIST)
                    throw failed("Unable to create the file: " + ReasonOf(errno));
                if (made.valid()) {
                    target->name = name;
                    target->end = std::move(made);
                    target->made = true;
                    return WriteTarget(target);
                }
            }
            // Made now, by this run or, in a race, by another: looked at again.
            if (++retries > kMostRetries)
                throw failed("Unable to create the file: " + ReasonOf(EEXIST));
            --at;
            continue;
        }
        if (S_ISLNK(status.st_mode)) throw failed(throughLink);
        if (!last && !S_ISDIR(status.st_mode))
            throw failed("Unable to reach the file: a part of its path is not a folder.");
        if (!S_ISDIR(status.st_mode) && !S_ISREG(status.st_mode))
            throw failed(SpecialReason(status.st_mode, "no items are written to it."));
        UniqueFd next(::openat(target->folder.get(), name.c_str(),
                               O_PATH | O_CLOEXEC | follow | (last ? 0 : O_DIRECTORY)));
        // Swapped for a link or a file since it was looked at.
        if (!next.valid())
            throw failed(errno == ENOTDIR && rule.beneath
                             ? throughLink
                             : "Unable to reach the file: " + ReasonOf(errno));
        struct stat opened;
        if (::fstat(next.get(), &opened) != 0 ||
            (S_ISLNK(opened.st_mode) || (!last && !S_ISDIR(opened.st_mode))))
            throw failed(throughLink);
        retries = 0;
        if (last) {
            target->name = name;
            target->end = std::move(next);
        } else {
            target->folder = std::move(next);
        }
    }
    return WriteTarget(target);
}

WriteTarget::WriteTarget(std::shared_ptr<State> state) : state_(std::move(state)) {}

LibraryPath WriteTarget::ForLibrary() const {
    const UniqueFd& named = state_->end.valid() ? state_->end : state_->folder;
    return {NameUtf16(DescriptorPath(named.get())), state_};
}

bool WriteTarget::Missing() const { return !state_->end.valid(); }

bool WriteTarget::Made() const { return state_->made; }

std::string WriteTarget::WriteRefusal() const {
    // A file to be made needs a folder that takes it; one that is there, its own leave.
    const UniqueFd& checked = state_->end.valid() ? state_->end : state_->folder;
    const int access = state_->end.valid() ? W_OK : W_OK | X_OK;
    if (::faccessat(AT_FDCWD, DescriptorPath(checked.get()).c_str(), access, AT_EACCESS) != 0)
        return ReasonOf(errno);
    struct statx attributes;
    constexpr auto kFixed = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
    if (state_->end.valid() &&
        ::statx(state_->end.get(), "", AT_EMPTY_PATH, STATX_BASIC_STATS, &attributes) == 0 &&
        (attributes.stx_attributes & attributes.stx_attributes_mask & kFixed) != 0)
        return ReasonOf(EPERM);
    return {};
}

void WriteTarget::Discard() { state_->Discard(); }

void WriteTarget::Keep() { state_->kept = true; }

PathState PathStateOf(const std::string& path) {
    Reached reached;
    struct stat status;
    if (!reach(path, reached) || ::fstatat(reached.at(), reached.name.c_str(), &status, 0) != 0)
        return {errno == ENOENT || errno == ENOTDIR ? PathKind::kMissing : PathKind::kUnreachable,
                ReasonOf(errno)};
    if (S_ISDIR(status.st_mode)) return {PathKind::kFolder, {}};
    if (S_ISREG(status.st_mode)) return {PathKind::kFile, {}};
    return {PathKind::kSpecial, SpecialReason(status.st_mode)};
}

std::string AccessRefusal(const std::string& path, bool write) {
    Reached reached;
    if (reach(path, reached) &&
        ::faccessat(reached.at(), reached.name.c_str(), write ? W_OK : R_OK, AT_EACCESS) == 0)
        return {};
    return ReasonOf(errno);
}

LibraryPath LibraryPathOf(const std::string& path) {
    std::string absolute = path;
    if (path.front() != '/') absolute = joined(WorkingFolder(path), path);
    auto reached = std::make_shared<Reached>();
    if (!reach(absolute, *reached))
        throw Failure("Unable to reach the file: " + ReasonOf(errno), path);
    if (!reached->folder.valid()) return {NameUtf16(absolute), nullptr};
    std::string through =
        "/proc/self/fd/" + std::to_string(reached->folder.get()) + "/" + reached->name;
    return {NameUtf16(through), std::move(reached)};
}

void WalkFolder(const std::string& folder,
                const std::function<void(const std::string&, bool, bool)>& visit,
                const Problem& problem) {
    Reached root;
    Frame first;
    first.path = folder;
    if (reach(folder, root))
        first.fd = UniqueFd(::openat(root.at(), root.name.c_str(), kFolderFlags));
    if (!first.fd.valid()) {
        problem(folder, ReasonOf(errno));
        return;
    }
    first.children = ReadChildren(first, problem);
    // One open folder per level below the root: depth costs descriptors, never the stack.
    std::vector<Frame> frames;
    frames.push_back(std::move(first));
    while (!frames.empty()) {
        Frame& top = frames.back();
        if (top.next == top.children.size()) {
            frames.pop_back();
            continue;
        }
        const Child& child = top.children[top.next++];
        std::string path = joined(top.path, child.name);
        visit(path, child.leadsToFolder, child.link);
        if (!child.folder) continue;
        Frame inner;
        inner.fd = UniqueFd(::openat(top.fd.get(), child.name.c_str(), kFolderFlags | O_NOFOLLOW));
        inner.path = std::move(path);
        if (!inner.fd.valid()) {
            problem(inner.path, ReasonOf(errno));
            continue;
        }
        inner.children = ReadChildren(inner, problem);
        frames.push_back(std::move(inner));
    }
}

}  // namespace quarrow2::tool

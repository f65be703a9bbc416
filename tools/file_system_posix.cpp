// Linux: paths are bytes, walked through open folders (openat, fdopendir), so neither a
// name that is not UTF-8 nor a path longer than PATH_MAX is out of reach.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "tools/failure.h"
#include "tools/file_system.h"

namespace quarrow2::tool {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

std::string ReasonOf(int error) { return std::string(std::strerror(error)) + "."; }

std::string SpecialReason(mode_t mode) {
    const char* kind = S_ISFIFO(mode) ? "a FIFO" : S_ISSOCK(mode) ? "a socket" : "a device";
    return std::string("Is ") + kind + ", not a file or folder; its items are not read.";
}

// A path no longer than the system takes, held as a folder and a name in it: the folder
// stays open while the name is used. Short paths need no folder (AT_FDCWD).
struct Reached {
    Descriptor folder;
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
    Descriptor folder(::open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (size_t start = 0; folder.valid() && start < slash;) {
        size_t end = std::min(path.find('/', start), slash);
        if (end > start) {
            std::string component = path.substr(start, end - start);
            folder = Descriptor(
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
    bool folder;
};

// A folder being walked: its descriptor, for opening what it holds, and what is left.
struct Frame {
    Descriptor fd;
    std::string path;
    std::vector<Child> children;
    size_t next = 0;
};

using Problem = std::function<void(const std::string&, const std::string&)>;

// The names in the folder `fd`, sorted, each with whether the walk enters it; files and
// folders a link points to are visited but not entered. Others go to `problem`.
std::vector<Child> ReadChildren(const Frame& frame, const Problem& problem) {
    std::vector<Child> children;
    int copy = ::fcntl(frame.fd.get(), F_DUPFD_CLOEXEC, 0);
    std::unique_ptr<DIR, DirectoryCloser> directory(copy >= 0 ? ::fdopendir(copy) : nullptr);
    if (!directory) {
        if (copy >= 0) ::close(copy);
        problem(frame.path, ReasonOf(errno));
        return children;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory.get());
        if (!entry) {
            if (errno) problem(frame.path, ReasonOf(errno));
            break;
        }
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat own;
        if (::fstatat(frame.fd.get(), name.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) problem(joined(frame.path, name), ReasonOf(errno));
            continue;  // gone since it was listed
        }
        struct stat target = own;
        if (S_ISLNK(own.st_mode) && ::fstatat(frame.fd.get(), name.c_str(), &target, 0) != 0) {
            problem(joined(frame.path, name), ReasonOf(errno));  // a dangling link
            continue;
        }
        if (!S_ISDIR(target.st_mode) && !S_ISREG(target.st_mode)) {
            problem(joined(frame.path, name), SpecialReason(target.st_mode));
            continue;
        }
        children.push_back({std::move(name), S_ISDIR(own.st_mode)});
    }
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

}  // namespace

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

void WalkFolder(const std::string& folder, const std::function<void(const std::string&)>& visit,
                const Problem& problem) {
    Reached root;
    Frame first;
    first.path = folder;
    if (reach(folder, root))
        first.fd = Descriptor(::openat(root.at(), root.name.c_str(), kFolderFlags));
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
        visit(path);
        if (!child.folder) continue;
        Frame inner;
        inner.fd =
            Descriptor(::openat(top.fd.get(), child.name.c_str(), kFolderFlags | O_NOFOLLOW));
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

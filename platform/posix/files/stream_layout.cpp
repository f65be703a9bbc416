#include "platform/posix/files/stream_layout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/posix/files/stream_path.h"
#include "quarrow2/descriptor.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

// Samba's defaults: streams_xattr:prefix = user.DosStream., and store_stream_type = yes
// appends the stream type. Samba keeps its own file attributes beside them.
constexpr std::string_view kSambaPrefix = "user.DosStream.";
constexpr std::string_view kSambaSuffix = ":$DATA";
constexpr std::string_view kSambaAttributes = "user.DOSATTRIB";
constexpr size_t kMaxAttributeName = 255;

bool StartsWith(std::string_view s, std::string_view start) {
    return s.size() >= start.size() && s.compare(0, start.size(), start) == 0;
}

bool EndsWith(std::string_view s, std::string_view end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

bool ParseLayout(std::string_view word, StreamLayout& layout) {
    if (word == "native")
        layout = StreamLayout::kNative;
    else if (word == "samba")
        layout = StreamLayout::kSamba;
    else
        return false;
    return true;
}

// Folders whose answers a process keeps; past this many it starts over, so that a walk of
// a huge tree holds bounded memory.
constexpr size_t kMaxKeptFolders = size_t{1} << 16;

// "\040" and the like stand for the spaces, tabs and backslashes of a mount point.
std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            out.push_back(
                static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8)));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

// A folder, whatever mount it is seen through. Its birth time, where the file system keeps
// one, tells it from a later folder given the inode number of a removed one.
struct FolderKey {
    dev_t device;
    ino_t inode;
    int64_t bornSeconds;
    uint32_t bornNanoseconds;
    bool operator==(const FolderKey& other) const {
        return device == other.device && inode == other.inode && bornSeconds == other.bornSeconds &&
               bornNanoseconds == other.bornNanoseconds;
    }
};

struct FolderKeyHash {
    size_t operator()(const FolderKey& key) const {
        return std::hash<uint64_t>()(static_cast<uint64_t>(key.device) * 0x9E3779B97F4A7C15ULL ^
                                     static_cast<uint64_t>(key.inode) ^
                                     static_cast<uint64_t>(key.bornNanoseconds));
    }
};

FolderKey KeyOf(const struct statx& st) {
    const bool born = (st.stx_mask & STATX_BTIME) != 0;
    return {makedev(st.stx_dev_major, st.stx_dev_minor), static_cast<ino_t>(st.stx_ino),
            born ? st.stx_btime.tv_sec : 0, born ? st.stx_btime.tv_nsec : 0};
}

// What a folder's tree keeps: a layout, or the error of a marker that names none.
struct Decision {
    DWORD error = 0;
    StreamLayout layout = StreamLayout::kNative;
};

// statx of `path` at `at`, with the mount id where the system tells it. Where statx is not
// let through, stat tells the rest, and the mount is judged by the device.
DWORD Look(int at, const char* path, int flags, struct statx& st) {
    if (::statx(at, path, flags, STATX_TYPE | STATX_INO | STATX_BTIME | STATX_MNT_ID, &st) == 0)
        return 0;
    struct stat old;
    if (errno != ENOSYS || ::fstatat(at, path, &old, flags) != 0) return Win32ErrorFromErrno(errno);
    st = {};
    st.stx_mask = STATX_TYPE | STATX_INO;
    st.stx_mode = static_cast<uint16_t>(old.st_mode);
    st.stx_ino = old.st_ino;
    st.stx_dev_major = major(old.st_dev);
    st.stx_dev_minor = minor(old.st_dev);
    return 0;
}

// Each folder's answer, by its identity, and by the absolute path text it was reached by,
// which a file's folder is known by without a system call. A path's entry holds only while
// its files lie on the folder's device (or on the one its files were last found on: an
// overlay's files report their layer's), so a file system mounted over it meanwhile is
// looked at afresh.
class LayoutCache {
public:
    static LayoutCache& Instance() {
        // Never destroyed: lookups may come from other static destructors.
        static LayoutCache* cache = new LayoutCache;
        return *cache;
    }

    bool Find(const FolderKey& key, Decision& decision) {
        std::lock_guard<std::mutex> guard(mutex_);
        auto known = folders_.find(key);
        if (known == folders_.end()) return false;
        decision = known->second;
        return true;
    }

    bool FindNamed(std::string_view folder, dev_t fileDevice, Decision& decision) {
        std::lock_guard<std::mutex> guard(mutex_);
        auto named = names_.find(folder);
        if (named == names_.end()) return false;
        const Named& entry = named->second;
        if (fileDevice != entry.folder.device && fileDevice != entry.fileDevice) return false;
        auto known = folders_.find(entry.folder);
        if (known == folders_.end()) return false;
        decision = known->second;
        return true;
    }

    void Keep(const std::vector<FolderKey>& chain, const Decision& decision) {
        std::lock_guard<std::mutex> guard(mutex_);
        StartOverWhenFull();
        for (const FolderKey& key : chain) folders_[key] = decision;
    }

    void KeepNamed(std::string_view folder, const FolderKey& key, dev_t fileDevice) {
        std::lock_guard<std::mutex> guard(mutex_);
        StartOverWhenFull();
        auto named = names_.find(folder);
        if (named == names_.end()) named = names_.emplace(std::string(folder), Named{}).first;
        named->second = {key, fileDevice};
    }

private:
    struct Named {
        FolderKey folder;
        dev_t fileDevice;
    };

    LayoutCache() {
        // A child forked while another thread held the lock gets it free.
        pthread_atfork([] { Instance().mutex_.lock(); }, [] { Instance().mutex_.unlock(); },
                       [] { Instance().mutex_.unlock(); });
    }

    void StartOverWhenFull() {
        if (folders_.size() < kMaxKeptFolders && names_.size() < kMaxKeptFolders) return;
        folders_.clear();
        names_.clear();
    }

    std::mutex mutex_;
    std::unordered_map<FolderKey, Decision, FolderKeyHash> folders_;
    std::map<std::string, Named, std::less<>> names_;
};

enum class Marker { kNone, kFound, kFailed };

// The marker of the folder `path` names, into `decision`. None where the file system keeps
// no "user." attributes and where the caller may not read the folder's: the tree above may
// still say. kFailed with the system's error in `error`.
Marker ReadMarker(const std::string& path, Decision& decision, DWORD& error) {
    char word[16];
    const ssize_t got = ::getxattr(path.c_str(), kLayoutMarker, word, sizeof word);
    if (got >= 0) {
        decision.error =
            ParseLayout(std::string_view(word, static_cast<size_t>(got)), decision.layout)
                ? 0
                : ERROR_BAD_ENVIRONMENT;
        return Marker::kFound;
    }
    switch (errno) {
        case ERANGE:  // longer than any layout's name
            decision.error = ERROR_BAD_ENVIRONMENT;
            return Marker::kFound;
        case ENODATA:
        case EOPNOTSUPP:
        case EACCES:
        case EPERM:
        case ENOENT:  // the folder went meanwhile, or there is no /proc to name it by
            return Marker::kNone;
        default:
            error = Win32ErrorFromErrno(errno);
            return Marker::kFailed;
    }
}

struct MountLine {
    std::string id, device, root, point;
};

// The same folder as `st` (the root of a mount of one folder of a file system) seen through
// another visible mount of more of that file system, the one showing the most first, whose
// parent a walk up can go on to; invalid when no mount shows more of it here.
UniqueFd WiderView(const struct statx& st) {
    if (!(st.stx_mask & STATX_MNT_ID)) return UniqueFd();
    std::ifstream mounts("/proc/self/mountinfo");
    std::vector<MountLine> lines;
    for (std::string text; std::getline(mounts, text);) {
        std::istringstream fields(text);
        MountLine line;
        std::string parent;
        if (!(fields >> line.id >> parent >> line.device >> line.root >> line.point)) continue;
        line.root = Unescape(line.root);
        line.point = Unescape(line.point);
        lines.push_back(std::move(line));
    }
    const std::string ownId = std::to_string(st.stx_mnt_id);
    auto own = std::find_if(lines.begin(), lines.end(),
                            [&](const MountLine& line) { return line.id == ownId; });
    if (own == lines.end() || own->root == "/") return UniqueFd();
    const MountLine mount = *own;
    std::vector<MountLine> wider;
    for (const MountLine& line : lines)
        if (line.device == mount.device &&
            (line.root == "/" || StartsWith(mount.root, line.root + "/")))
            wider.push_back(line);
    std::sort(wider.begin(), wider.end(),
              [](const MountLine& a, const MountLine& b) { return a.root.size() < b.root.size(); });
    for (const MountLine& line : wider) {
        const std::string below = mount.root.substr(line.root == "/" ? 0 : line.root.size());
        UniqueFd view(::open((line.point + below).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct statx seen;
        // A mount over that path shows another folder there.
        if (view.valid() && !Look(view.get(), "", AT_EMPTY_PATH, seen) && KeyOf(seen) == KeyOf(st))
            return view;
    }
    return UniqueFd();
}

// Past this length a walk up goes on from a descriptor of the folder, so that ".." after ".."
// never outgrows what the system takes.
constexpr size_t kMaxWalkedPath = 1024;

// The folder above the one `path` names (of `st`) on its file system: `up` names it, through
// `held` where it needs a descriptor, and `upSt` describes it; `up` is empty at the top, and
// where the caller may not look further up.
void Parent(const std::string& path, const struct statx& st, UniqueFd& held, std::string& up,
            struct statx& upSt) {
    up.clear();
    std::string parent = path + "/..";
    if (parent.size() > kMaxWalkedPath) {
        UniqueFd anchor(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!anchor.valid()) return;
        held = std::move(anchor);
        parent = DescriptorPath(held.get());
    }
    if (Look(AT_FDCWD, parent.c_str(), 0, upSt)) return;
    const bool mountIds = (st.stx_mask & upSt.stx_mask & STATX_MNT_ID) != 0;
    const bool mountRoot = (st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
                               ? (st.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0
                           : mountIds ? st.stx_mnt_id != upSt.stx_mnt_id
                                      : KeyOf(st).device != KeyOf(upSt).device;
    if (KeyOf(upSt) == KeyOf(st)) return;  // the root of everything
    if (!mountRoot) {
        up = std::move(parent);
        return;
    }
    UniqueFd view = WiderView(st);
    if (!view.valid()) return;
    held = std::move(view);
    parent = DescriptorPath(held.get()) + "/..";
    if (!Look(AT_FDCWD, parent.c_str(), 0, upSt)) up = std::move(parent);
}

// Walks up from the folder `path` names (of `st`) to the nearest folder whose answer is known
// or that holds a marker, by paths, with no descriptor held on the usual way, and keeps the
// answer in `decision` for every folder on the way. An error of the system is returned and
// kept nowhere.
DWORD Decide(std::string path, struct statx st, Decision& decision) {
    LayoutCache& cache = LayoutCache::Instance();
    std::vector<FolderKey> chain;
    UniqueFd held;
    for (;;) {
        const FolderKey key = KeyOf(st);
        if (cache.Find(key, decision)) break;
        chain.push_back(key);
        DWORD error = 0;
        const Marker marker = ReadMarker(path, decision, error);
        if (marker == Marker::kFailed) return error;
        if (marker == Marker::kFound) break;
        std::string up;
        struct statx upSt;
        Parent(path, st, held, up, upSt);
        if (up.empty()) {
            decision = Decision();
            break;
        }
        path = std::move(up);
        st = upSt;
    }
    cache.Keep(chain, decision);
    return 0;
}

// The answer for the folder `path` names (of `st`).
DWORD DecideFolder(const std::string& path, const struct statx& st, Decision& decision) {
    if (LayoutCache::Instance().Find(KeyOf(st), decision)) return 0;
    return Decide(path, st, decision);
}

// The answer for a folder met by its path text; `fileDevice` (0: none) is that of the file
// in it the caller asks for.
DWORD FolderLayoutByPath(const std::string& folder, dev_t fileDevice, Decision& decision) {
    LayoutCache& cache = LayoutCache::Instance();
    // A relative path depends on the working folder, and /proc's on descriptors that come
    // and go: only other absolute paths name a folder for long.
    const bool lasting =
        fileDevice != 0 && StartsWith(folder, "/") && !StartsWith(folder, "/proc/");
    if (lasting && cache.FindNamed(folder, fileDevice, decision)) return decision.error;
    struct statx st;
    if (DWORD error = Look(AT_FDCWD, folder.c_str(), 0, st)) return error;
    if (DWORD error = DecideFolder(folder, st, decision)) return error;
    if (lasting) cache.KeepNamed(folder, KeyOf(st), fileDevice);
    return decision.error;
}

// The folder that holds the file `path` names: its target's, for a symbolic link.
std::string FolderOf(const StreamPath& path) {
    std::string file = path.file;
    if (path.through_link && path.file_fd.valid()) {
        char target[PATH_MAX];
        const ssize_t got =
            ::readlink(DescriptorPath(path.file_fd.get()).c_str(), target, sizeof target);
        if (got > 0 && static_cast<size_t>(got) < sizeof target && target[0] == '/')
            file.assign(target, static_cast<size_t>(got));
    }
    const size_t slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

bool OverridingLayout(DWORD& error, StreamLayout& layout) {
    const char* chosen = std::getenv(kLayoutVariable);
    if (!chosen || !*chosen) return false;
    error = ParseLayout(chosen, layout) ? 0 : ERROR_BAD_ENVIRONMENT;
    return true;
}

}  // namespace

DWORD ListAttributeNames(int fd, std::vector<char>& list) {
    // Most files' names fit this, and then one call answers; the size is asked only when
    // they do not.
    constexpr size_t kFirstTry = 1024;
    list.resize(std::max(list.capacity(), kFirstTry));
    for (;;) {
        ssize_t got = ::flistxattr(fd, list.data(), list.size());
        if (got >= 0) {
            list.resize(static_cast<size_t>(got));
            return 0;
        }
        if (errno != ERANGE) {
            list.clear();
            return errno == EOPNOTSUPP ? 0 : Win32ErrorFromErrno(errno);
        }
        ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0) {
            list.clear();
            return errno == EOPNOTSUPP ? 0 : Win32ErrorFromErrno(errno);
        }
        // Names added between the two calls make the next read fail with ERANGE again.
        list.resize(static_cast<size_t>(size));
        if (size == 0) return 0;
    }
}

DWORD StreamLayoutOf(StreamPath& path, StreamLayout& layout) {
    layout = StreamLayout::kNative;
    DWORD error = 0;
    if (OverridingLayout(error, layout)) return error;
    Decision decision;
    dev_t fileDevice = 0;
    // A file looked at without opening it (its stat known) is told as an open one is.
    if (path.file_fd.valid() || path.file_stat_known) {
        if ((error = FileStat(path))) return error;
        fileDevice = path.file_stat.st_dev;
        // A folder's own items follow its own marker, then its tree's.
        if (S_ISDIR(path.file_stat.st_mode)) {
            error = FolderLayoutByPath(path.file, fileDevice, decision);
            layout = decision.layout;
            return error;
        }
    }
    error = FolderLayoutByPath(FolderOf(path), fileDevice, decision);
    layout = decision.layout;
    return error;
}

DWORD FolderStreamLayout(int folder, StreamLayout& layout) {
    layout = StreamLayout::kNative;
    DWORD error = 0;
    if (OverridingLayout(error, layout)) return error;
    struct statx st;
    Decision decision;
    if ((error = Look(folder, "", AT_EMPTY_PATH, st)) ||
        (error = DecideFolder(DescriptorPath(folder), st, decision)))
        return error;
    layout = decision.layout;
    return decision.error;
}

DWORD PlaceInLayout(StreamPath& path) {
    if (!path.named()) return 0;
    if (DWORD error = StreamLayoutOf(path, path.layout)) return error;
    if (path.layout == StreamLayout::kNative)
        return path.attribute == kLayoutMarker ? ERROR_INVALID_NAME : 0;
    const std::string name = path.attribute.substr(sizeof kStreamAttributePrefix - 1);
    path.attribute.assign(kSambaPrefix).append(name).append(kSambaSuffix);
    return path.attribute.size() > kMaxAttributeName ? ERROR_FILENAME_EXCED_RANGE : 0;
}

bool StreamNameOf(StreamLayout layout, const std::string& attribute, std::string& name) {
    const std::string_view prefix =
        layout == StreamLayout::kSamba ? kSambaPrefix : std::string_view(kStreamAttributePrefix);
    const std::string_view suffix = layout == StreamLayout::kSamba ? kSambaSuffix : "";
    if (attribute.size() <= prefix.size() + suffix.size() || !StartsWith(attribute, prefix) ||
        !EndsWith(attribute, suffix) || attribute == kLayoutMarker)
        return false;
    name = attribute.substr(prefix.size(), attribute.size() - prefix.size() - suffix.size());
    return true;
}

const unsigned char* StoredForm(StreamLayout layout, const unsigned char* data, size_t size,
                                std::vector<unsigned char>& scratch, size_t& storedSize) {
    storedSize = size + StoredSuffixBytes(layout);
    if (layout == StreamLayout::kNative) return data;
    scratch.assign(data, data + size);
    scratch.push_back(0);
    return scratch.data();
}

DWORD RefuseMixing(int fd, StreamLayout layout) {
    std::vector<char> list;
    if (DWORD error = ListAttributeNames(fd, list)) return error;
    for (size_t at = 0; at < list.size();) {
        const std::string name(list.data() + at);
        at += name.size() + 1;
        std::string stream;
        const bool samba = StreamNameOf(StreamLayout::kSamba, name, stream);
        const bool native = !samba && StartsWith(name, kStreamAttributePrefix) &&
                            !StartsWith(name, kSambaPrefix) && name != kSambaAttributes &&
                            name != kLayoutMarker;
        if (layout == StreamLayout::kSamba ? native : samba) return ERROR_EA_LIST_INCONSISTENT;
    }
    return 0;
}

}  // namespace quarrow2::platform

// Linux: the partial file is made beside F with mode 0600 (the values it holds are nobody
// else's business until F's own mode is put on it), and named in a signal handler that
// removes it when the tool is stopped.
#include "tools/client/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>
#include <utility>

#include "tools/formats/failure.h"

namespace quarrow2::tool {
namespace {

std::string ReasonOf(int error) { return std::string(std::strerror(error)) + "."; }

// Closes a descriptor it holds.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int value) : fd(value) {}
    Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd, other.fd);
        return *this;
    }
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// The partial file the stop signals remove: one at a time, named by a folder descriptor and
// a name that the handler reads without a lock.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile std::sig_atomic_t armed = 0;
int armedFolder = -1;
char armedName[NAME_MAX + 1];
struct sigaction previous[sizeof kStopSignals / sizeof kStopSignals[0]];

void RemoveAndStop(int signal) {
    if (armed) ::unlinkat(armedFolder, armedName, 0);
    // SA_RESETHAND restored the default action: the signal, blocked until this returns,
    // then stops the tool as it would have.
    ::raise(signal);
}

void Arm(int folder, const std::string& name) {
    armedFolder = folder;
    std::memcpy(armedName, name.c_str(), name.size() + 1);
    armed = 1;
    struct sigaction action {};
    action.sa_handler = RemoveAndStop;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i) {
        ::sigaction(kStopSignals[i], nullptr, &previous[i]);
        // A signal the caller ignores (nohup) stays ignored.
        if (previous[i].sa_handler != SIG_IGN) ::sigaction(kStopSignals[i], &action, nullptr);
    }
}

void Disarm() {
    for (size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i)
        ::sigaction(kStopSignals[i], &previous[i], nullptr);
    armed = 0;
}

// The file a path finally names, its links followed as a shell's `>` follows them: the
// folder that holds it and its name there. A link to nothing names the file to make.
std::pair<std::string, std::string> FollowLinks(std::string path, const std::string& shown) {
    for (int hops = 0;; ++hops) {
        struct stat status;
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) break;
        if (hops == 40)
            throw Failure("Unable to create the output file: " + ReasonOf(ELOOP), shown);
        std::string target(PATH_MAX, '\0');
        ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0)
            throw Failure("Unable to create the output file: " + ReasonOf(errno), shown);
        target.resize(static_cast<size_t>(length));
        size_t slash = path.rfind('/');
        path = target.front() == '/' || slash == std::string::npos
                   ? target
                   : path.substr(0, slash + 1) + target;
    }
    size_t last = path.find_last_not_of('/');
    size_t slash = last == std::string::npos ? std::string::npos : path.rfind('/', last);
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1,
                                   last == std::string::npos ? 0 : last - slash);
    std::string folder = slash == std::string::npos ? "."
                         : slash == 0               ? "/"
                                                    : path.substr(0, slash);
    if (name.empty() || name == "." || name == ".." || last + 1 != path.size())
        throw Failure("Unable to create the output file: it is a folder.", shown);
    return {folder, name};
}

}  // namespace

struct OutputFile::State {
    std::string shown;
    Fd folder;
    std::string name;
    Fd fd;                // the partial file, or the FIFO or device written directly
    std::string partial;  // its name; empty when writing directly
    bool existed = false;
    struct stat kept {};  // F's, when it existed
    mode_t newMode = 0;   // 0666 less the umask
    std::string pending;  // written in pieces of 64 KiB
    int writeError = 0;
    bool committed = false;

    void Flush() {
        if (!writeError && !WriteAll(fd.fd, pending.data(), pending.size()))
            writeError = errno ? errno : EIO;
        pending.clear();
    }

    // The document copied into F itself, which keeps its owner, links and all.
    void CopyInto() {
        Fd into(::openat(folder.fd, name.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
        if (into.fd < 0)
            throw Failure("Unable to replace the output file: " + ReasonOf(errno), shown);
        char buffer[65536];
        for (off_t at = 0;;) {
            ssize_t got = ::pread(fd.fd, buffer, sizeof buffer, at);
            if (got < 0 && errno == EINTR) continue;
            if (got == 0) break;
            if (got < 0 || !WriteAll(into.fd, buffer, static_cast<size_t>(got)))
                throw Failure("Unable to write the output file: " + ReasonOf(errno), shown);
            at += got;
        }
        if (::fsync(into.fd) != 0)
            throw Failure("Unable to write the output file: " + ReasonOf(errno), shown);
        ::unlinkat(folder.fd, partial.c_str(), 0);
    }
};

OutputFile::OutputFile(const std::string& path) : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.shown = path;
    auto [folder, name] = FollowLinks(path, path);
    state.name = name;
    state.folder = Fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (state.folder.fd < 0)
        throw Failure(errno == ENOENT
                          ? "Unable to create the output file: its folder does not exist."
                          : "Unable to create the output file: " + ReasonOf(errno),
                      path);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    state.newMode = 0666 & ~mask;
    state.existed = ::fstatat(state.folder.fd, name.c_str(), &state.kept, AT_SYMLINK_NOFOLLOW) == 0;
    if (state.existed && S_ISDIR(state.kept.st_mode))
        throw Failure("Unable to create the output file: it is a folder.", path);
    if (state.existed && !S_ISREG(state.kept.st_mode)) {
        state.fd = Fd(::openat(state.folder.fd, name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
        if (state.fd.fd < 0)
            throw Failure("Unable to open the output file: " + ReasonOf(errno), path);
        return;
    }
    std::random_device random;
    // A name of at most 255 bytes, whatever the length of F's.
    const std::string stem = "." + name.substr(0, 200) + ".";
    // A stop signal that comes while the file is made waits until the handler knows it.
    sigset_t stops, before;
    sigemptyset(&stops);
    for (int stop : kStopSignals) sigaddset(&stops, stop);
    ::pthread_sigmask(SIG_BLOCK, &stops, &before);
    do {
        state.partial = stem + std::to_string(random()) + ".partial";
        state.fd = Fd(::openat(state.folder.fd, state.partial.c_str(),
                               O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    } while (state.fd.fd < 0 && errno == EEXIST);
    const int error = errno;
    if (state.fd.fd >= 0) Arm(state.folder.fd, state.partial);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (state.fd.fd < 0)
        throw Failure("Unable to create the output file: " + ReasonOf(error), path);
}

OutputFile::~OutputFile() {
    if (state_->partial.empty()) return;
    if (!state_->committed) ::unlinkat(state_->folder.fd, state_->partial.c_str(), 0);
    Disarm();
}

void OutputFile::Write(const std::string& text) {
    state_->pending += text;
    if (state_->pending.size() >= 65536) state_->Flush();
}

void OutputFile::Commit() {
    State& state = *state_;
    state.Flush();
    if (!state.writeError && !state.partial.empty() && ::fsync(state.fd.fd) != 0)
        state.writeError = errno;
    if (state.writeError)
        throw Failure("Unable to write the output file: " + ReasonOf(state.writeError),
                      state.shown);
    if (state.partial.empty()) return;
    bool copy = false;
    if (state.existed) {
        struct stat own;
        // An owner this process cannot give, or other names of the same file, stay only
        // when the file itself is written.
        copy = state.kept.st_nlink > 1 ||
               (::fstat(state.fd.fd, &own) == 0 &&
                (own.st_uid != state.kept.st_uid || own.st_gid != state.kept.st_gid) &&
                ::fchown(state.fd.fd, state.kept.st_uid, state.kept.st_gid) != 0);
    }
    if (copy) {
        state.CopyInto();
    } else {
        if (::fchmod(state.fd.fd, state.existed ? state.kept.st_mode & 07777 : state.newMode) != 0)
            throw Failure("Unable to give the output file its mode: " + ReasonOf(errno),
                          state.shown);
        if (::renameat(state.folder.fd, state.partial.c_str(), state.folder.fd,
                       state.name.c_str()) != 0)
            throw Failure("Unable to replace the output file: " + ReasonOf(errno), state.shown);
    }
    state.committed = true;
}

}  // namespace quarrow2::tool

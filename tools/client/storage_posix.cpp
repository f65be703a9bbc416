// Linux: the layouts are the library's; the tool sets its variable, reads the markers and a
// file's attribute names, and runs testparm for Samba's configuration.
#include <fcntl.h>
#include <linux/limits.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "quarrow2/descriptor.h"
#include "tools/client/storage.h"
#include "tools/formats/failure.h"

extern char** environ;

namespace quarrow2::tool {
namespace {

constexpr char kLayoutMarker[] = "user.quarrow2.layout";
constexpr char kLayoutVariable[] = "QUARROW2_LAYOUT";
// A Samba item's attribute is user.DosStream.T:$DATA; the native layout lists it as the
// item DosStream.T:$DATA, foreign for its colon.
constexpr char kSambaItemStart[] = "DosStream.";
constexpr char kSambaItemEnd[] = ":$DATA";

std::string Reason(int error) { return std::string(std::strerror(error)) + "."; }

// The marker's word; empty for none, and for a folder whose marker the caller may not read
// when `unreadableIsNone`.
std::string MarkerWord(const std::string& folder, bool unreadableIsNone) {
    char word[64];
    const ssize_t got = ::getxattr(folder.c_str(), kLayoutMarker, word, sizeof word);
    if (got >= 0) return std::string(word, static_cast<size_t>(got));
    if (errno == ENODATA || errno == EOPNOTSUPP) return std::string();
    if (unreadableIsNone && (errno == EACCES || errno == EPERM)) return std::string();
    throw Failure("Unable to read the layout marker: " + Reason(errno), folder);
}

// Everything a child wrote to `fd`, read to its end.
std::string Drain(int fd) {
    std::string text;
    char chunk[4096];
    for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        text.append(chunk, static_cast<size_t>(got));
    }
    return text;
}

}  // namespace

size_t LargestValueBytes() { return XATTR_SIZE_MAX; }

void ChooseStorageLayout(const std::string& layout) {
    ::setenv(kLayoutVariable, layout.c_str(), 1);
}

bool CarriesBothLayouts(const std::string& path) {
    // One call for the usual few names; their size is asked only when they do not fit.
    std::string names(1024, '\0');
    ssize_t size = ::listxattr(path.c_str(), names.data(), names.size());
    if (size < 0 && errno == ERANGE) {
        size = ::listxattr(path.c_str(), nullptr, 0);
        names.assign(static_cast<size_t>(std::max<ssize_t>(size, 0)), '\0');
        if (size > 0) size = ::listxattr(path.c_str(), names.data(), names.size());
    }
    bool native = false, samba = false;
    for (size_t at = 0; size > 0 && at < static_cast<size_t>(size);) {
        const std::string name(names.c_str() + at);
        at += name.size() + 1;
        const bool sambaOwn = name.rfind("user.DosStream.", 0) == 0 || name == "user.DOSATTRIB";
        samba = samba || (name.size() > 21 && name.rfind("user.DosStream.", 0) == 0 &&
                          name.compare(name.size() - 6, 6, ":$DATA") == 0);
        native =
            native || (!sambaOwn && name.rfind("user.", 0) == 0 && name != "user.quarrow2.layout");
    }
    return native && samba;
}

bool MayCarryBothLayouts(bool listedAny, const std::vector<WString>& foreign,
                         const std::function<bool()>& keptNatively) {
    // Listed in neither layout: no Samba item (listed in its own layout, a foreign name in
    // the native one) and so not both.
    if (!listedAny) return false;
    static const WString sambaStart = NameUtf16(kSambaItemStart);
    static const WString sambaEnd = NameUtf16(kSambaItemEnd);
    for (const WString& name : foreign)
        if (name.size() > sambaStart.size() + sambaEnd.size() &&
            name.compare(0, sambaStart.size(), sambaStart) == 0 &&
            name.compare(name.size() - sambaEnd.size(), sambaEnd.size(), sambaEnd) == 0)
            return true;
    if (const char* chosen = std::getenv(kLayoutVariable); chosen && *chosen)
        return std::strcmp(chosen, "native") != 0;
    return !keptNatively();
}

std::string LayoutMarkerOf(const std::string& folder) { return MarkerWord(folder, false); }

std::string NearestLayoutMarker(const std::string& folder, std::string& holder) {
    char real[PATH_MAX];
    if (!::realpath(folder.c_str(), real))
        throw Failure("Unable to resolve the path: " + Reason(errno), folder);
    std::string path = real;
    struct stat start;
    if (::stat(path.c_str(), &start) != 0)
        throw Failure("Unable to resolve the path: " + Reason(errno), folder);
    for (;;) {
        std::string word = MarkerWord(path, true);
        if (!word.empty()) {
            holder = path;
            return word;
        }
        if (path == "/") return std::string();
        const size_t slash = path.rfind('/');
        const std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
        struct stat above;
        if (::stat(parent.c_str(), &above) != 0 || above.st_dev != start.st_dev)
            return std::string();
        path = parent;
    }
}

void MarkLayout(const std::string& folder, const std::string& layout) {
    const int done =
        layout.empty() ? ::removexattr(folder.c_str(), kLayoutMarker)
                       : ::setxattr(folder.c_str(), kLayoutMarker, layout.data(), layout.size(), 0);
    if (done != 0 && !(layout.empty() && errno == ENODATA))
        throw Failure("Unable to " + std::string(layout.empty() ? "remove" : "set") +
                          " the layout marker: " + Reason(errno),
                      folder);
}

int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               std::string& output, std::string& errors) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw Failure("Unable to run " + program + ": " + Reason(errno));
    UniqueFd reading(ends[0]), writing(ends[1]);
    // Standard error goes to a file, so that neither stream can hold the other up.
    std::unique_ptr<FILE, int (*)(FILE*)> errorFile(std::tmpfile(), std::fclose);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writing.get(), STDOUT_FILENO);
    if (errorFile)
        posix_spawn_file_actions_adddup2(&actions, fileno(errorFile.get()), STDERR_FILENO);
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child = -1;
    const int spawned =
        ::posix_spawnp(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    writing.reset();  // the child's copy alone is left, so its end is the pipe's end
    if (spawned == ENOENT) return -1;
    if (spawned != 0) throw Failure("Unable to run " + program + ": " + Reason(spawned));
    output = Drain(reading.get());
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    errors.clear();
    if (errorFile) {
        std::rewind(errorFile.get());
        errors = Drain(fileno(errorFile.get()));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace quarrow2::tool

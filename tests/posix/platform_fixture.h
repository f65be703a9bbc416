// Helpers for the tests of the Linux file layer: stream paths in a fresh folder, raw
// attribute access that bypasses the layer, whole-value puts and gets made the way the
// library makes them, and child processes that hold handles of their own.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/inotify.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/files/unique_fd.h"
#include "support/test_support.h"

namespace quarrow2::test {

using posix::UniqueFd;

// A file path with an optional stream part appended, as CreateFileW takes it.
inline WString StreamW(const fs::path& file, const std::string& stream = std::string()) {
    return stream.empty() ? PathW(file) : PathW(file) + W(":" + stream);
}

// The raw attribute "user." + name, read past the layer; nothing when absent.
inline std::optional<std::string> RawStream(const fs::path& file, const std::string& name) {
    std::string attribute = "user." + name;
    std::string value(65536, '\0');
    ssize_t got = getxattr(file.c_str(), attribute.c_str(), value.data(), value.size());
    if (got < 0) return std::nullopt;
    value.resize(static_cast<size_t>(got));
    return value;
}

inline void SetRawStream(const fs::path& file, const std::string& name, const std::string& value) {
    std::string attribute = "user." + name;
    ASSERT_EQ(setxattr(file.c_str(), attribute.c_str(), value.data(), value.size(), 0), 0)
        << attribute << " on " << file;
}

// Every attribute name of the file, in the order the file system lists them.
inline std::vector<std::string> RawAttributeNames(const fs::path& file) {
    std::vector<std::string> names;
    std::string list(65536, '\0');
    ssize_t got = listxattr(file.c_str(), list.data(), list.size());
    for (size_t at = 0; got > 0 && at < static_cast<size_t>(got);) {
        names.emplace_back(list.c_str() + at);
        at += names.back().size() + 1;
    }
    return names;
}

// Every name below a folder, relative to it, so a test can see that nothing appeared.
inline std::vector<std::string> Tree(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

// An open, with the last error it left.
struct Opened {
    UniqueHandle handle;
    DWORD error = 0;
    bool ok() const { return handle.valid(); }
};

inline Opened Open(const WString& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    SetLastError(0xBAD);
    Opened opened;
    opened.handle.reset(
        CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr));
    opened.error = GetLastError();
    return opened;
}

// The library's own opens: an item for reading and writing that shares reading only, and
// its read-only fallback.
inline Opened OpenItem(const WString& path, DWORD disposition = OPEN_ALWAYS) {
    return Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, disposition);
}
inline Opened OpenReader(const WString& path, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
    return Open(path, GENERIC_READ, share, OPEN_EXISTING);
}

// A whole-value put as an item makes it: lock the new length, write, cut, unlock. 0 or
// the error of the step that failed.
inline DWORD PutValue(HANDLE h, const std::string& value) {
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    DWORD length = static_cast<DWORD>(value.size());
    if (!LockFile(h, 0, 0, length, 0)) return GetLastError();
    DWORD written = 0;
    DWORD error = 0;
    if (!WriteFile(h, value.data(), length, &written, nullptr))
        error = GetLastError();
    else if (!SetEndOfFile(h))
        error = GetLastError();
    UnlockFile(h, 0, 0, length, 0);
    return error;
}

// A whole-value get as an item makes it: size, then one read from the start.
inline std::optional<std::string> GetValue(HANDLE h, DWORD* error = nullptr) {
    DWORD size = GetFileSize(h, nullptr);
    if (size == INVALID_FILE_SIZE) {
        if (error) *error = GetLastError();
        return std::nullopt;
    }
    std::string value(size, '\0');
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    DWORD got = 0;
    if (!ReadFile(h, value.data(), size, &got, nullptr) || got != size) {
        if (error) *error = GetLastError();
        return std::nullopt;
    }
    return value;
}

// The last error a failed call left, or 0 when it succeeded.
inline long ErrorOf(BOOL ok) { return ok ? 0 : static_cast<long>(GetLastError()); }

// Reads `size` bytes at `offset`: the bytes read, or "error N".
inline std::string ReadAt(HANDLE h, LONG offset, DWORD size) {
    SetFilePointer(h, offset, nullptr, FILE_BEGIN);
    std::string out(size, '\0');
    DWORD got = 0;
    if (!ReadFile(h, out.data(), size, &got, nullptr))
        return "error " + std::to_string(GetLastError());
    out.resize(got);
    return out;
}

// Writes at `offset`: "ok", "short", or "error N".
inline std::string WriteAt(HANDLE h, LONG offset, const std::string& bytes) {
    SetFilePointer(h, offset, nullptr, FILE_BEGIN);
    DWORD put = 0;
    if (!WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr))
        return "error " + std::to_string(GetLastError());
    return put == bytes.size() ? "ok" : "short";
}

// A process of its own, forked from the test, that talks to it in lines. It keeps no
// descriptor of the test's, so the locks it holds are its own alone. Killed at the end of
// the scope if it is still running.
class Child {
public:
    using Body = std::function<int(Child&)>;

    explicit Child(Body body) {
        int down[2], up[2];
        if (pipe2(down, O_CLOEXEC) != 0 || pipe2(up, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            in_ = down[0];
            out_ = up[1];
            CloseAllBut(in_, out_);
            _exit(body(*this));
        }
        in_ = up[0];
        out_ = down[1];
        close(down[0]);
        close(up[1]);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        Kill();
        close(in_);
        close(out_);
    }

    bool started() const { return pid_ > 0; }

    void Send(const std::string& line) {
        std::string text = line + "\n";
        for (size_t done = 0; done < text.size();) {
            ssize_t put = write(out_, text.data() + done, text.size() - done);
            if (put <= 0) return;
            done += static_cast<size_t>(put);
        }
    }

    // The next line; empty when the other side has gone.
    std::string Receive() {
        std::string line;
        char c;
        while (read(in_, &c, 1) == 1) {
            if (c == '\n') return line;
            line += c;
        }
        return line;
    }

    // Ends the child at once, the way a crash would, and waits for it.
    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    // Waits for the child to finish; its exit code, or -1 when a signal ended it.
    int Wait() {
        if (pid_ <= 0) return -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    static void CloseAllBut(int a, int b) {
        if (a > b) std::swap(a, b);
        close_range(3, static_cast<unsigned>(a - 1), 0);
        close_range(static_cast<unsigned>(a + 1), static_cast<unsigned>(b - 1), 0);
        close_range(static_cast<unsigned>(b + 1), ~0U, 0);
    }

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
};

// Tells whether processes forked from the test ever hold something at the same time that
// only one may hold: each calls Hold() while it holds it.
class ExclusionCheck {
public:
    ExclusionCheck()
        : shared_(mmap(nullptr, sizeof(Counters), PROT_READ | PROT_WRITE,
                       MAP_SHARED | MAP_ANONYMOUS, -1, 0)) {
        if (shared_ != MAP_FAILED) counters_ = new (shared_) Counters();
    }
    ExclusionCheck(const ExclusionCheck&) = delete;
    ExclusionCheck& operator=(const ExclusionCheck&) = delete;
    ~ExclusionCheck() {
        if (shared_ != MAP_FAILED) munmap(shared_, sizeof(Counters));
    }

    bool ready() const { return counters_ != nullptr; }
    void Hold() {
        if (counters_->holders.fetch_add(1) != 0) counters_->overlaps.fetch_add(1);
        sched_yield();
        counters_->holders.fetch_sub(1);
    }
    int overlaps() const { return counters_->overlaps.load(); }

private:
    struct Counters {
        std::atomic<int> holders{0};
        std::atomic<int> overlaps{0};
    };
    void* shared_;
    Counters* counters_ = nullptr;
};

// Runs `check` in a child process and returns what it reports: empty for success, else
// what went wrong. For tests that change what only a child may change (its user, its
// mounts), or that must be able to end without taking the test run with them.
inline std::string RunInChild(std::function<std::string()> check) {
    Child child([&](Child& self) {
        std::string report = check();
        self.Send(report.empty() ? "ok" : report);
        return 0;
    });
    std::string report = child.Receive();
    child.Wait();
    return report == "ok" ? std::string() : report.empty() ? "the child died" : report;
}

// Makes a file immutable for the life of the scope: root may write anything else.
class Immutable {
public:
    explicit Immutable(const fs::path& file) : fd_(open(file.c_str(), O_RDONLY | O_CLOEXEC)) {
        int immutable = 0;
        set_ = ioctl(fd_.get(), FS_IOC_GETFLAGS, &flags_) == 0 &&
               (immutable = flags_ | FS_IMMUTABLE_FL,
                ioctl(fd_.get(), FS_IOC_SETFLAGS, &immutable) == 0);
        if (!set_) error_ = errno;
    }
    Immutable(const Immutable&) = delete;
    Immutable& operator=(const Immutable&) = delete;
    ~Immutable() {
        if (set_) ioctl(fd_.get(), FS_IOC_SETFLAGS, &flags_);
    }
    bool set() const { return set_; }
    std::string reason() const { return std::strerror(error_); }

private:
    UniqueFd fd_;
    int flags_ = 0;
    int error_ = 0;
    bool set_ = false;
};

// For a child process: remounts `folder` read-only in a private mount namespace, which goes
// with the child. Empty, or why it cannot be done.
inline std::string MountReadOnly(const fs::path& folder) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        return std::strerror(errno);
    return std::string();
}

// Watches a file for inotify events of `mask` (IN_OPEN, IN_ACCESS); an O_PATH look and
// attribute calls cause neither.
class FileWatch {
public:
    FileWatch(const fs::path& file, uint32_t mask) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        ok_ = fd_.get() >= 0 && inotify_add_watch(fd_.get(), file.c_str(), mask) >= 0;
    }
    bool ok() const { return ok_; }
    // Whether such an event came since the last call.
    bool Saw() {
        char events[4096];
        bool any = false;
        while (read(fd_.get(), events, sizeof events) > 0) any = true;
        return any;
    }

private:
    UniqueFd fd_;
    bool ok_ = false;
};

}  // namespace quarrow2::test

// The Linux file layer seen by tests: raw attributes, opens, call tables, child processes.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "file_attributes.h"
#include "quarrow2/descriptor.h"
#include "support/test_support.h"

namespace quarrow2::test {

// A file path with an optional stream part appended, as CreateFileW takes it.
inline WString StreamW(const fs::path& file, const std::string& stream = std::string()) {
    return stream.empty() ? PathW(file) : PathW(file) + W(":" + stream);
}

// The raw attribute "user." + name; nothing when absent.
inline std::optional<std::string> RawStream(const fs::path& file, const std::string& name) {
    const std::optional<Bytes> value = UserAttribute(file, name);
    return value ? std::optional<std::string>(Raw(*value)) : std::nullopt;
}

inline void SetRawStream(const fs::path& file, const std::string& name, const std::string& value) {
    ASSERT_TRUE(SetUserAttribute(file, name, Bytes(value.begin(), value.end())))
        << name << " on " << file;
}

// Every name below a folder, relative to it, so a test can see that nothing appeared.
inline std::vector<std::string> Tree(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Everything a test could change on disk below a folder: entries, contents, "user." values.
inline std::string Snapshot(const fs::path& folder) {
    std::string state;
    for (const std::string& name : Tree(folder)) {
        const fs::path path = folder / name;
        state += name;
        if (fs::is_regular_file(fs::symlink_status(path))) state += " [" + FileContent(path) + "]";
        for (const std::string& attribute : UserAttributeNames(path))
            state += " " + attribute + "=" + RawStream(path, attribute).value_or("?");
        state += "\n";
    }
    return state;
}

// An open, with the last error it left.
struct Opened {
    platform::UniqueHandle handle;
    DWORD error = 0;
    bool ok() const { return handle.valid(); }
};

inline Opened Open(const WString& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    SetLastError(0xBAD);
    Opened opened{platform::UniqueHandle(
        CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr))};
    opened.error = GetLastError();
    return opened;
}

// The library's own opens: an item shares reading only; its fallback only reads.
inline Opened OpenItem(const WString& path, DWORD disposition = OPEN_ALWAYS) {
    return Open(path, kReadWrite, FILE_SHARE_READ, disposition);
}
inline Opened OpenReader(const WString& path, DWORD share = kShareAll) {
    return Open(path, GENERIC_READ, share, OPEN_EXISTING);
}

// A whole-value put as an item makes it; 0 or the error of the step that failed.
inline DWORD PutValue(HANDLE h, const std::string& value) {
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    DWORD length = static_cast<DWORD>(value.size());
    if (!LockFile(h, 0, 0, length, 0)) return GetLastError();
    DWORD written = 0, error = 0;
    if (!WriteFile(h, value.data(), length, &written, nullptr) || !SetEndOfFile(h))
        error = GetLastError();
    UnlockFile(h, 0, 0, length, 0);
    return error;
}

// A whole-value get as an item makes it: size, then one read from the start.
inline std::optional<std::string> GetValue(HANDLE h, DWORD* error = nullptr) {
    DWORD size = GetFileSize(h, nullptr), got = 0;
    std::string value(size == INVALID_FILE_SIZE ? 0 : size, '\0');
    if (size == INVALID_FILE_SIZE || SetFilePointer(h, 0, nullptr, FILE_BEGIN) != 0 ||
        !ReadFile(h, value.data(), size, &got, nullptr) || got != size) {
        if (error) *error = GetLastError();
        return std::nullopt;
    }
    return value;
}

// The last error a failed call left, or 0 when it succeeded.
inline long ErrorOf(BOOL ok) { return ok ? 0 : static_cast<long>(GetLastError()); }

const std::string kOk = "ok";

inline std::string Err(DWORD error) { return "error " + std::to_string(error); }

// One call on one of a test's handles and what it must give: "ok", the bytes read or
// "error N". L locks and U unlocks [at, at + n); R reads n bytes at `at`; W writes `bytes`
// at `at`; E sets the end at `at`; G gets and P puts the whole value; C closes; O opens
// again; V sets the stream's value past the layer and opens again.
struct Step {
    size_t h;
    char op;
    uint64_t at, n;
    std::string bytes, expected;
    std::optional<std::string> stored = std::nullopt;  // what the stream then holds
};

class Steps {
public:
    Steps(const fs::path& file, const std::string& stream, std::vector<DWORD> accesses)
        : file_(file), stream_(stream), accesses_(std::move(accesses)) {
        for (size_t h = 0; h < accesses_.size(); ++h) Do({h, 'O', 0, 0, "", ""});
    }

    void Run(const std::vector<Step>& steps) {
        for (size_t i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i));
            EXPECT_EQ(Do(steps[i]), steps[i].expected);
            if (steps[i].stored) {
                EXPECT_EQ(stream_.empty() ? FileContent(file_)
                                          : RawStream(file_, stream_).value_or("none"),
                          steps[i].stored);
            }
        }
    }

private:
    std::string Do(const Step& s) {
        handles_.resize(std::max(handles_.size(), s.h + 1));
        HANDLE h = handles_[s.h].get();
        const DWORD low = static_cast<DWORD>(s.at), high = static_cast<DWORD>(s.at >> 32);
        const DWORD n = static_cast<DWORD>(s.n), nHigh = static_cast<DWORD>(s.n >> 32);
        std::string read(n, '\0');
        DWORD done = 0, error = 0;
        SetFilePointer(h, static_cast<LONG>(low), nullptr, FILE_BEGIN);
        BOOL ok = TRUE;
        if (s.op == 'L') ok = LockFile(h, low, high, n, nHigh);
        if (s.op == 'U') ok = UnlockFile(h, low, high, n, nHigh);
        const DWORD size = static_cast<DWORD>(s.bytes.size());
        if (s.op == 'R') ok = ReadFile(h, read.data(), n, &done, nullptr);
        if (s.op == 'R' && ok) return read.substr(0, done);
        if (s.op == 'W') ok = WriteFile(h, s.bytes.data(), size, &done, nullptr);
        if (s.op == 'W' && ok && done != size) return "short";
        if (s.op == 'E') ok = SetEndOfFile(h);
        std::optional<std::string> value;
        if (s.op == 'G' && !(value = GetValue(h, &error))) ok = FALSE;
        if (value) return *value;
        if (s.op == 'P') ok = (error = PutValue(h, s.bytes)) == 0;
        if (s.op == 'C') ok = CloseHandle(handles_[s.h].release());
        if (s.op == 'V') handles_[s.h].reset();
        if (s.op == 'V') SetRawStream(file_, stream_, s.bytes);
        if (s.op == 'V' || s.op == 'O') {
            Opened opened = Open(StreamW(file_, stream_), accesses_[s.h], kShareAll, OPEN_ALWAYS);
            handles_[s.h] = std::move(opened.handle);
            ok = handles_[s.h].valid();
            error = opened.error;
        }
        return ok ? "ok" : Err(error ? error : GetLastError());
    }

    fs::path file_;
    std::string stream_;
    std::vector<DWORD> accesses_;
    std::vector<platform::UniqueHandle> handles_;
};

// A forked process talking in lines, with no descriptor (nor lock) of ours; killed at scope end.
class Child {
public:
    using Body = std::function<int(Child&)>;

    explicit Child(Body body) {
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
        pid_ = fork();
        fd_ = ends[pid_ == 0 ? 1 : 0];
        close(ends[pid_ == 0 ? 0 : 1]);
        if (pid_ == 0) {
            close_range(3, static_cast<unsigned>(fd_ - 1), 0);
            close_range(static_cast<unsigned>(fd_ + 1), ~0U, 0);
            _exit(body(*this));
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        Kill();
        close(fd_);
    }

    bool started() const { return pid_ > 0; }

    // A blocking stream socket takes the whole line in one write.
    void Send(const std::string& line) { (void)!write(fd_, (line + "\n").data(), line.size() + 1); }

    // The next line; empty when the other side has gone.
    std::string Receive() {
        std::string line;
        for (char c; read(fd_, &c, 1) == 1 && c != '\n';) line += c;
        return line;
    }

    void Kill() {
        if (pid_ > 0) kill(pid_, SIGKILL);
        Wait();
    }

    // The exit code, or -1 when a signal ended the child.
    int Wait() {
        int status = 0;
        if (pid_ <= 0) return -1;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
};

// A child reports in lines: the line ends of the system's texts become '/'.
inline std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', '/');
    return text;
}

// Runs `check` in a child process, which may change its user or mounts: empty, or what failed.
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

// Watches a file for inotify events of `mask`; an O_PATH look and attribute calls cause none.
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

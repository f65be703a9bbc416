// A file that cannot be written: its items open for reading, and every put says why it
// failed. Root may write anywhere, so the file is made immutable, or its folder is mounted
// read-only in a mount namespace of a child process.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "file_attributes.h"
#include "portable/file_fixture.h"

namespace quarrow2::test {
namespace {

namespace fs = std::filesystem;

std::string HexOf(const std::optional<Bytes>& bytes) {
    if (!bytes) return "absent";
    std::string hex;
    for (unsigned char b : *bytes) {
        const char digits[] = "0123456789abcdef";
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

// Line ends shown as text, so that every outcome is one line.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

// The items of `report` (which holds Author = "Jane"), tried every way, one line each.
std::vector<std::string> ItemsOfAnUnwritableFile(const fs::path& report) {
    std::vector<std::string> lines;
    ComPtr<IFile> file = NewFile();
    if (!file) return {"no File"};
    lines.push_back(std::string("streams=") + (Bind(file.get(), report) ? "yes" : "no"));

    ItemOutcome author = Add(file.get(), "Author");
    lines.push_back("add=" + (author.hr == S_OK ? "ok" : Escaped(author.error.description)));
    if (author.item) {
        lines.push_back("text=" + TextOf(author.item.get()));
        SetErrorInfo(0, nullptr);
        const HRESULT put = PutText(author.item.get(), "Joan");
        RichError error = TakeRichError();
        lines.push_back("put=" + std::to_string(put) + " " + Escaped(error.description) +
                        " from " + error.source);
    }
    lines.push_back("value=" + HexOf(UserAttribute(report, "Author")));
    author.item.reset();

    ItemOutcome opened = Open(file.get(), "Author");
    lines.push_back("open=" + (opened.hr == S_OK ? TextOf(opened.item.get())
                                                 : Escaped(opened.error.description)));
    opened.item.reset();

    ItemOutcome fresh = Add(file.get(), "Fresh");
    lines.push_back("fresh=" +
                    (fresh.hr == S_OK ? std::string("ok") : Escaped(fresh.error.description)));
    lines.push_back("fresh value=" + HexOf(UserAttribute(report, "Fresh")));
    return lines;
}

std::vector<std::string> ExpectedLines() {
    const std::string denied = Escaped(Narrow(SystemText(ERROR_ACCESS_DENIED)));
    return {"streams=yes",
            "add=ok",
            "text=Jane",
            "put=" + std::to_string(E_FAIL) + " Unable to put text. " + denied +
                " from Quarrow2.MetaData.1",
            "value=" + HexOf(Utf16Bytes("Jane")),
            "open=Jane",
            "fresh=Unable to add metadata. " + denied,
            "fresh value=absent"};
}

// Sets the immutable flag for the life of the scope.
class ImmutableFlag {
public:
    explicit ImmutableFlag(const fs::path& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        int flags = 0;
        if (fd_ < 0 || ioctl(fd_, FS_IOC_GETFLAGS, &flags) != 0) {
            error_ = errno;
            return;
        }
        flags |= FS_IMMUTABLE_FL;
        if (ioctl(fd_, FS_IOC_SETFLAGS, &flags) != 0) {
            error_ = errno;
            return;
        }
        set_ = true;
    }
    ImmutableFlag(const ImmutableFlag&) = delete;
    ImmutableFlag& operator=(const ImmutableFlag&) = delete;
    ~ImmutableFlag() {
        int flags = 0;
        if (set_ && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ioctl(fd_, FS_IOC_SETFLAGS, &flags);
        }
        if (fd_ >= 0) close(fd_);
    }
    bool set() const { return set_; }
    std::string reason() const { return std::strerror(error_); }

private:
    int fd_;
    int error_ = 0;
    bool set_ = false;
};

fs::path ReportWithAuthorJane(const TempDir& dir) {
    const fs::path report = dir / "report.doc";
    WriteContents(report, "contents");
    EXPECT_TRUE(SetUserAttribute(report, "Author", Utf16Bytes("Jane")));
    return report;
}

TEST(FileReadOnly, ImmutableFileOpensItsItemsForReading) {
    TempDir dir;
    const fs::path report = ReportWithAuthorJane(dir);
    ImmutableFlag immutable(report);
    if (!immutable.set())
        GTEST_SKIP() << "cannot make a file immutable here: " << immutable.reason();
    EXPECT_EQ(ItemsOfAnUnwritableFile(report), ExpectedLines());
}

TEST(FileReadOnly, ReadOnlyMountOpensItsItemsForReading) {
    TempDir dir;
    const fs::path report = ReportWithAuthorJane(dir);
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A private mount namespace: the read-only mount is gone when this process is.
        close(channel[0]);
        std::string report_text;
        const char* folder = dir.path().c_str();
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(folder, folder, nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, folder, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            report_text = std::string("skip:") + std::strerror(errno);
        } else {
            for (const std::string& line : ItemsOfAnUnwritableFile(report)) report_text += line + "\n";
        }
        const char* at = report_text.data();
        for (size_t left = report_text.size(); left > 0;) {
            const ssize_t n = write(channel[1], at, left);
            if (n <= 0) break;
            at += n;
            left -= static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(channel[1]);
    std::string received;
    char chunk[512];
    for (ssize_t n; (n = read(channel[0], chunk, sizeof chunk)) > 0;) received.append(chunk, n);
    close(channel[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    if (received.rfind("skip:", 0) == 0)
        GTEST_SKIP() << "cannot mount a folder read-only here: " << received.substr(5);

    std::vector<std::string> lines;
    std::istringstream in(received);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    EXPECT_EQ(lines, ExpectedLines());
    // Outside the child's namespace nothing changed.
    EXPECT_EQ(UserAttributeNames(report), std::set<std::string>{"Author"});
}

}  // namespace
}  // namespace quarrow2::test

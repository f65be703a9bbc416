// Items on a real NTFS volume: an image made with mkntfs and mounted with ntfs-3g. The
// library works through the default mount, where named streams are "user." attributes;
// a mount with streams_interface=windows shows the same streams as "file:stream" files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "file_attributes.h"
#include "portable/file_fixture.h"

namespace quarrow2::test {
namespace {

namespace fs = std::filesystem;

constexpr long kFuseMagic = 0x65735546;

// Runs a program with its output discarded; its exit status, or -1.
int RunQuietly(const std::vector<std::string>& argv) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

bool OnPath(const std::string& program) {
    return RunQuietly({"sh", "-c", "command -v " + program}) == 0;
}

bool IsFuseMount(const fs::path& where) {
    struct statfs info {};
    return statfs(where.c_str(), &info) == 0 && static_cast<long>(info.f_type) == kFuseMagic;
}

// One ntfs-3g mount of an image, ended (and its driver waited for) at the end of the scope,
// so that the next mount of the same image sees everything written through this one.
class NtfsMount {
public:
    NtfsMount(const fs::path& image, const fs::path& where, const std::string& options)
        : where_(where) {
        driver_ = fork();
        if (driver_ < 0) {
            failure_ = "fork failed";
            return;
        }
        if (driver_ == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            const std::string opts = "no_detach" + (options.empty() ? "" : "," + options);
            execlp("ntfs-3g", "ntfs-3g", "-o", opts.c_str(), image.c_str(), where.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        // The driver mounts in the background; wait for it, or for its end.
        for (int tries = 0; tries < 1000; ++tries) {
            if (IsFuseMount(where_)) {
                mounted_ = true;
                return;
            }
            int status = 0;
            if (waitpid(driver_, &status, WNOHANG) == driver_) {
                driver_ = -1;
                failure_ = "ntfs-3g ended with status " + std::to_string(status);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        failure_ = "ntfs-3g did not mount in time";
    }
    NtfsMount(const NtfsMount&) = delete;
    NtfsMount& operator=(const NtfsMount&) = delete;
    ~NtfsMount() {
        if (mounted_) {
            bool done = false;
            for (int tries = 0; tries < 100 && !done; ++tries) {
                done = umount2(where_.c_str(), 0) == 0;
                if (!done && errno != EBUSY) break;
                if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (!done) umount2(where_.c_str(), MNT_DETACH);
        }
        if (driver_ > 0) {
            if (!mounted_) kill(driver_, SIGTERM);
            int status = 0;
            waitpid(driver_, &status, 0);
        }
    }
    bool mounted() const { return mounted_; }
    const std::string& failure() const { return failure_; }

private:
    fs::path where_;
    pid_t driver_ = -1;
    bool mounted_ = false;
    std::string failure_;
};

class NtfsRoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"mkntfs", "ntfs-3g"})
            if (!OnPath(program)) GTEST_SKIP() << program << " is not installed (package ntfs-3g)";
        if (access("/dev/fuse", R_OK | W_OK) != 0)
            GTEST_SKIP() << "/dev/fuse is not usable: " << std::strerror(errno);
        image_ = dir_ / "volume.ntfs";
        mountPoint_ = dir_ / "mnt";
        fs::create_directory(mountPoint_);
        {
            std::ofstream sparse(image_, std::ios::binary);
        }
        fs::resize_file(image_, 16 << 20);
        ASSERT_EQ(RunQuietly({"mkntfs", "-F", "-Q", "-q", image_.string()}), 0) << "mkntfs failed";
        NtfsMount probe(image_, mountPoint_, "");
        if (!probe.mounted()) GTEST_SKIP() << "cannot mount with ntfs-3g: " << probe.failure();
    }

    std::unique_ptr<NtfsMount> Mount(const std::string& options = "") {
        auto m = std::make_unique<NtfsMount>(image_, mountPoint_, options);
        EXPECT_TRUE(m->mounted()) << m->failure();
        return m;
    }

    TempDir dir_;
    fs::path image_;
    fs::path mountPoint_;
};

TEST_F(NtfsRoundTrip, ItemsAddedThroughFileAreNamedStreamsOfTheFile) {
    const fs::path report = mountPoint_ / "report.doc";
    {
        auto mounted = Mount();
        ASSERT_TRUE(mounted->mounted());
        WriteContents(report, "contents");
        ComPtr<IFile> file = NewFile();
        ASSERT_TRUE(file);
        ASSERT_TRUE(Bind(file.get(), report));
        ItemOutcome author = Add(file.get(), "Author");
        ASSERT_EQ(author.hr, S_OK) << author.error.description;
        ASSERT_EQ(PutText(author.item.get(), "Jane"), S_OK);
        ItemOutcome empty = Add(file.get(), "Empty");
        ASSERT_EQ(empty.hr, S_OK) << empty.error.description;
        EXPECT_EQ(UserAttribute(report, "Author"), Utf16Bytes("Jane"));
    }
    {
        auto windows = Mount("streams_interface=windows");
        ASSERT_TRUE(windows->mounted());
        EXPECT_EQ(Contents(report), "contents");
        const std::string author = Contents(mountPoint_ / "report.doc:Author");
        EXPECT_EQ(Bytes(author.begin(), author.end()), Utf16Bytes("Jane"));
        const std::string empty = Contents(mountPoint_ / "report.doc:Empty");
        EXPECT_EQ(Bytes(empty.begin(), empty.end()), EmptyValueMarker());
    }
}

TEST_F(NtfsRoundTrip, StreamsWrittenAsWindowsDoesAreOpenedAsItems) {
    const fs::path report = mountPoint_ / "report.doc";
    const Bytes stored = Utf16Bytes("From elsewhere");
    {
        auto windows = Mount("streams_interface=windows");
        ASSERT_TRUE(windows->mounted());
        WriteContents(report, "contents");
        WriteContents(mountPoint_ / "report.doc:Comment",
                      std::string(stored.begin(), stored.end()));
    }
    auto mounted = Mount();
    ASSERT_TRUE(mounted->mounted());
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    ASSERT_TRUE(Bind(file.get(), report));
    {
        ItemOutcome comment = Open(file.get(), "Comment");
        ASSERT_EQ(comment.hr, S_OK) << comment.error.description;
        EXPECT_EQ(TextOf(comment.item.get()), "From elsewhere");
        EXPECT_EQ(LengthOf(comment.item.get()), static_cast<LONG>(stored.size()));
        ExpectFileFailure(Open(file.get(), "Missing"),
                          WithSystemText("Unable to open metadata.", ERROR_FILE_NOT_FOUND));
    }
    EXPECT_EQ(Contents(report), "contents");
}

}  // namespace
}  // namespace quarrow2::test

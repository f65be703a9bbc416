// A real NTFS image mounted with ntfs-3g: streams as "user." attributes or "file:stream" files.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <thread>

#include "support/test_support.h"

namespace quarrow2::test {

// Starts a program with its output discarded; its process id, or -1.
inline pid_t StartQuietly(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp(args[0], args.data());
        _exit(127);
    }
    return child;
}

// Runs a program with its output discarded; its exit status, or -1.
inline int RunQuietly(const std::vector<std::string>& argv) {
    const pid_t child = StartQuietly(argv);
    int status = 0;
    const bool ended = child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status);
    return ended ? WEXITSTATUS(status) : -1;
}

// One ntfs-3g mount; its driver is waited for, so the next mount sees all written through it.
class NtfsMount {
public:
    NtfsMount(const std::filesystem::path& image, const std::filesystem::path& where,
              const std::string& options)
        : where_(where),
          driver_(StartQuietly(
              {"ntfs-3g", "-o", "no_detach" + options, image.string(), where.string()})) {
        struct statfs info {};
        for (int tries = 0; driver_ > 0 && !mounted_ && tries < 1000; ++tries) {
            mounted_ = statfs(where.c_str(), &info) == 0 && info.f_type == 0x65735546;  // FUSE
            if (!mounted_ && waitpid(driver_, nullptr, WNOHANG) == driver_) driver_ = -1;
            if (!mounted_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    NtfsMount(const NtfsMount&) = delete;
    NtfsMount& operator=(const NtfsMount&) = delete;
    ~NtfsMount() {
        // A busy mount is given 5 s to become free, then detached.
        for (int tries = 0;
             mounted_ && umount2(where_.c_str(), tries < 100 ? 0 : MNT_DETACH) != 0 &&
             errno == EBUSY;
             ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (driver_ > 0 && !mounted_) kill(driver_, SIGTERM);
        if (driver_ > 0) waitpid(driver_, nullptr, 0);
    }
    bool mounted() const { return mounted_; }
    std::string failure() const { return driver_ > 0 ? "ntfs-3g did not mount" : "ntfs-3g ended"; }

private:
    std::filesystem::path where_;
    pid_t driver_;
    bool mounted_ = false;
};

// A fresh 16 MiB image, mounted one at a time; skips where NTFS cannot be mounted.
class NtfsVolumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (RunQuietly({"which", "mkntfs", "ntfs-3g"}) != 0)
            GTEST_SKIP() << "mkntfs or ntfs-3g is not installed (package ntfs-3g)";
        if (access("/dev/fuse", R_OK | W_OK) != 0)
            GTEST_SKIP() << "/dev/fuse is not usable: " << std::strerror(errno);
        std::filesystem::create_directory(mountPoint_);
        ASSERT_EQ(RunQuietly({"sh", "-c", "truncate -s 16M \"$0\" && mkntfs -F -Q -q \"$0\"",
                              image_.string()}),
                  0);
        if (NtfsMount probe(image_, mountPoint_, ""); !probe.mounted())
            GTEST_SKIP() << "cannot mount with ntfs-3g: " << probe.failure();
    }

    std::unique_ptr<NtfsMount> Mount(const std::string& options = "") {
        auto m =
            std::make_unique<NtfsMount>(image_, mountPoint_, options.empty() ? "" : "," + options);
        EXPECT_TRUE(m->mounted()) << m->failure();
        return m;
    }

    TempDir dir_;
    std::filesystem::path image_ = dir_ / "volume.ntfs";
    std::filesystem::path mountPoint_ = dir_ / "mnt";
};

}  // namespace quarrow2::test

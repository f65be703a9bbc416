// A real NTFS volume for tests: an image made with mkntfs, mounted with ntfs-3g (FUSE).
// Through the default mount named streams are "user." attributes; a mount with
// streams_interface=windows shows the same streams as "file:stream" files.
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
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "support/test_support.h"

namespace quarrow2::test {

inline bool OnPath(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// One ntfs-3g mount; its driver is waited for, so the next mount sees all written through it.
class NtfsMount {
public:
    NtfsMount(const std::filesystem::path& image, const std::filesystem::path& where,
              const std::string& options)
        : where_(where), driver_(fork()) {
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
        int status = 0;
        for (int tries = 0; driver_ > 0 && !mounted_ && tries < 1000; ++tries) {
            struct statfs info {};
            constexpr long kFuseMagic = 0x65735546;
            mounted_ = statfs(where.c_str(), &info) == 0 && info.f_type == kFuseMagic;
            if (!mounted_ && waitpid(driver_, &status, WNOHANG) == driver_) driver_ = -1;
            if (!mounted_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!mounted_)
            failure_ = driver_ > 0
                           ? "ntfs-3g did not mount"
                           : "ntfs-3g did not start or ended with " + std::to_string(status);
    }
    NtfsMount(const NtfsMount&) = delete;
    NtfsMount& operator=(const NtfsMount&) = delete;
    ~NtfsMount() {
        // A busy mount is given 5 s to become free, then detached.
        int tries = 0;
        while (mounted_ && umount2(where_.c_str(), tries++ < 100 ? 0 : MNT_DETACH) != 0 &&
               errno == EBUSY)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (driver_ > 0 && !mounted_) kill(driver_, SIGTERM);
        if (driver_ > 0) waitpid(driver_, nullptr, 0);
    }
    bool mounted() const { return mounted_; }
    const std::string& failure() const { return failure_; }

private:
    std::filesystem::path where_;
    pid_t driver_;
    bool mounted_ = false;
    std::string failure_;
};

// A fresh 16 MiB image, mounted by each test as it needs, one mount at a time; skips where
// NTFS cannot be mounted.
class NtfsVolumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"mkntfs", "ntfs-3g"})
            if (!OnPath(program)) GTEST_SKIP() << program << " is not installed (package ntfs-3g)";
        if (access("/dev/fuse", R_OK | W_OK) != 0)
            GTEST_SKIP() << "/dev/fuse is not usable: " << std::strerror(errno);
        std::filesystem::create_directory(mountPoint_);
        const std::string image = image_.string();
        const std::string make =
            "truncate -s 16M " + image + " && mkntfs -F -Q -q " + image + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(make.c_str()), 0) << "mkntfs failed";
        NtfsMount probe(image_, mountPoint_, "");
        if (!probe.mounted()) GTEST_SKIP() << "cannot mount with ntfs-3g: " << probe.failure();
    }

    std::unique_ptr<NtfsMount> Mount(const std::string& options = "") {
        auto m = std::make_unique<NtfsMount>(image_, mountPoint_, options);
        EXPECT_TRUE(m->mounted()) << m->failure();
        return m;
    }

    TempDir dir_;
    std::filesystem::path image_ = dir_ / "volume.ntfs";
    std::filesystem::path mountPoint_ = dir_ / "mnt";
};

}  // namespace quarrow2::test

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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace quarrow2::test {

// Runs a program with its output discarded; its exit status, or -1.
inline int RunQuietly(const std::vector<std::string>& argv) {
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

inline bool OnPath(const std::string& program) {
    return RunQuietly({"sh", "-c", "command -v " + program}) == 0;
}

inline bool IsFuseMount(const std::filesystem::path& where) {
    constexpr long kFuseMagic = 0x65735546;
    struct statfs info {};
    return statfs(where.c_str(), &info) == 0 && static_cast<long>(info.f_type) == kFuseMagic;
}

// One ntfs-3g mount of an image, ended (and its driver waited for) at the end of the scope,
// so that the next mount of the same image sees everything written through this one.
class NtfsMount {
public:
    NtfsMount(const std::filesystem::path& image, const std::filesystem::path& where,
              const std::string& options)
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
    std::filesystem::path where_;
    pid_t driver_ = -1;
    bool mounted_ = false;
    std::string failure_;
};

// Why this machine cannot mount NTFS images, or nothing when it can.
inline std::string NtfsUnavailable() {
    for (const char* program : {"mkntfs", "ntfs-3g"})
        if (!OnPath(program)) return std::string(program) + " is not installed (package ntfs-3g)";
    if (access("/dev/fuse", R_OK | W_OK) != 0)
        return std::string("/dev/fuse is not usable: ") + std::strerror(errno);
    return std::string();
}

// A fresh, empty 16 MiB NTFS image; false when mkntfs failed.
inline bool MakeNtfsImage(const std::filesystem::path& image) {
    { std::ofstream sparse(image, std::ios::binary); }
    std::filesystem::resize_file(image, 16 << 20);
    return RunQuietly({"mkntfs", "-F", "-Q", "-q", image.string()}) == 0;
}

// A fresh image in a folder of its own, mounted by each test as it needs: one mount at a
// time, each one seeing what the one before it wrote. Skips where NTFS cannot be mounted.
class NtfsVolumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string unavailable = NtfsUnavailable();
        if (!unavailable.empty()) GTEST_SKIP() << unavailable;
        image_ = dir_ / "volume.ntfs";
        mountPoint_ = dir_ / "mnt";
        std::filesystem::create_directory(mountPoint_);
        ASSERT_TRUE(MakeNtfsImage(image_)) << "mkntfs failed";
        NtfsMount probe(image_, mountPoint_, "");
        if (!probe.mounted()) GTEST_SKIP() << "cannot mount with ntfs-3g: " << probe.failure();
    }

    std::unique_ptr<NtfsMount> Mount(const std::string& options = "") {
        auto m = std::make_unique<NtfsMount>(image_, mountPoint_, options);
        EXPECT_TRUE(m->mounted()) << m->failure();
        return m;
    }

    TempDir dir_;
    std::filesystem::path image_;
    std::filesystem::path mountPoint_;
};

}  // namespace quarrow2::test

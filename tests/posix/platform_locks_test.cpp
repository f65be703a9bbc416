// Share modes, byte-range locks and the writes they hold back, and removing streams.
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "platform/posix/files/lock_files.h"
#include "platform_fixture.h"
#include "portable/file_properties_fixture.h"

namespace quarrow2::test {
namespace {

const std::string violation = Err(ERROR_LOCK_VIOLATION), unheld = Err(ERROR_NOT_LOCKED);

TEST(PlatformLocks, ExclusiveMandatoryForOtherHandlesAndHoldingBackOwnWrites) {
    TempDir dir;
    MakeFile(dir / "doc", "0123456789");
    SetRawStream(dir / "doc", "T", "0123456789abcdef");
    Steps(dir / "doc", "T", {kReadWrite, kReadWrite, 0})
        .Run({
            {0, 'L', 0, 8, "", kOk},
            {1, 'R', 0, 4, "", violation},
            {1, 'R', 6, 4, "", violation},
            {1, 'R', 8, 8, "", "89abcdef"},
            {0, 'R', 0, 4, "", "0123"},
            {1, 'G', 0, 0, "", violation},
            {1, 'W', 2, 0, "XY", violation},
            {1, 'P', 0, 0, "whole", violation, "0123456789abcdef"},
            {1, 'W', 10, 0, "XY", kOk, "0123456789XYcdef"},
            {1, 'L', 4, 1, "", violation},
            {1, 'L', 0, 100, "", violation},
            {1, 'L', 8, 8, "", kOk},
            // Not even the holder may lock a byte twice.
            {0, 'L', 0, 8, "", violation},
            {0, 'L', 7, 2, "", violation},
            // Zero-length locks exist and conflict with nothing.
            {0, 'L', 4, 0, "", kOk},
            {1, 'L', 4, 0, "", kOk},
            {0, 'U', 4, 0, "", kOk},
            {0, 'U', 4, 0, "", unheld},
            // Unlocking must name a held range exactly.
            {0, 'U', 0, 4, "", unheld},
            {0, 'U', 8, 8, "", unheld},
            {0, 'U', 0, 8, "", kOk},
            {1, 'L', 0, 8, "", kOk},
            // Closing a handle gives back its locks.
            {1, 'C', 0, 0, "", kOk},
            {0, 'L', 0, 16, "", kOk},
            {2, 'L', 100, 1, "", Err(ERROR_ACCESS_DENIED)},
        });

    // The main stream has locks of its own, mandatory in the same way, as far as 64 bits go.
    const uint64_t tera = uint64_t{1} << 40, exa = uint64_t{1} << 62;
    Steps(dir / "doc", "", {kReadWrite, kReadWrite, GENERIC_READ, GENERIC_READ})
        .Run({
            {0, 'L', 2, 2, "", kOk},
            {1, 'R', 0, 10, "", violation},
            {1, 'W', 3, 0, "x", violation},
            {1, 'R', 4, 6, "", "456789"},
            {1, 'L', 0, 8, "", violation, "0123456789"},
            {0, 'L', tera, 16, "", kOk},
            {1, 'L', tera + 15, 1, "", violation},
            {1, 'L', tera + 16, 1, "", kOk},
            {1, 'L', UINT64_MAX - 4, 4, "", kOk},
            {0, 'L', UINT64_MAX - 1, 1, "", violation},
            // Giving back one of two ranges past any file's end keeps the other.
            {0, 'C', 0, 0, "", kOk},
            {1, 'C', 0, 0, "", kOk},
            {2, 'L', exa, 1, "", kOk},
            {2, 'L', exa * 2, 1, "", kOk},
            {2, 'U', exa, 1, "", kOk},
            {3, 'L', exa * 2, 1, "", violation},
        });

    // Writes inside the handle's own lock are held back.
    SetRawStream(dir / "doc", "T", "old value here");
    const std::string zeros("\0\0", 2);
    Steps(dir / "doc", "T", {kReadWrite, GENERIC_READ})
        .Run({
            {0, 'L', 0, 3, "", kOk},
            {0, 'W', 0, 0, "new", kOk, "old value here"},
            // The writer sees its own bytes; nobody else may look where they are.
            {0, 'G', 0, 0, "", "new value here"},
            {1, 'G', 0, 0, "", violation},
            {0, 'E', 3, 0, "", kOk, "new"},
            {0, 'U', 0, 3, "", kOk},
            {1, 'G', 0, 0, "", "new"},
            // Unlocking stores them; past the end the gap reads as zeros.
            {0, 'V', 0, 0, "0123456789", kOk},
            {0, 'L', 0, 100, "", kOk},
            {0, 'W', 0, 0, "abc", kOk},
            {0, 'W', 12, 0, "Z", kOk},
            {0, 'G', 0, 0, "", "abc3456789" + zeros + "Z", "0123456789"},
            {0, 'U', 0, 100, "", kOk, "abc3456789" + zeros + "Z"},
            // So does closing.
            {0, 'L', 0, 2, "", kOk},
            {0, 'W', 0, 0, "XY", kOk, "abc3456789" + zeros + "Z"},
            {0, 'C', 0, 0, "", kOk, "XYc3456789" + zeros + "Z"},
            // Outside the own locks, stored at once, and the held bytes along with them.
            {0, 'V', 0, 0, "0123456789", kOk},
            {0, 'W', 2, 0, "AB", kOk, "01AB456789"},
            {0, 'L', 0, 2, "", kOk},
            {0, 'W', 0, 0, "ab", kOk},
            {0, 'W', 8, 0, "!", kOk, "abAB4567!9"},
            {0, 'E', 4, 0, "", kOk, "abAB"},
            {0, 'E', 6, 0, "", kOk, "abAB" + zeros},
        });
}

TEST(PlatformLocks, WritesRefusedWholeWhenTheAttributeSpaceIsFull) {
    TempDir dir;
    MakeFile(dir / "doc");
    // ext4 without large attributes refuses 5000 bytes.
    const std::string big(5000, 'x');
    if (setxattr((dir / "doc").c_str(), "user.probe", big.data(), big.size(), 0) == 0)
        GTEST_SKIP() << "the temporary folder's file system takes attributes of 5000 bytes";
    SetRawStream(dir / "doc", "T", "old");
    const std::string full = Err(ERROR_EA_TABLE_FULL), tooLarge = Err(ERROR_FILE_TOO_LARGE);
    Steps steps(dir / "doc", "T", {kReadWrite});
    steps.Run({
        {0, 'P', 0, 0, big, full, "old"},
        {0, 'G', 0, 0, "", "old"},  // nothing of the refused value stays held
        {0, 'W', 0, 0, big, full, "old"},
        // Past what any Linux attribute holds.
        {0, 'P', 0, 0, std::string(70000, 'z'), tooLarge},
        {0, 'W', 65536, 0, "z", tooLarge, "old"},
        // Held back, then refused at close, which says so and leaves the stream free.
        {0, 'L', 0, 5000, "", kOk},
        {0, 'W', 0, 0, big, kOk},
        {0, 'C', 0, 0, "", full, "old"},
        {0, 'O', 0, 0, "", kOk},
    });
    // The space is shared by all of a file's attributes.
    SetRawStream(dir / "doc", "Other", std::string(3500, 'o'));
    steps.Run({
        {0, 'P', 0, 0, std::string(1000, 'x'), full, "old"},
        {0, 'P', 0, 0, "fits", kOk, "fits"},
    });
}

// Exclusive opens made at the same instant (both racers spin until both are there): each
// round grants exactly one, not both and not neither; then overlapping ranges [0, 4) and
// [2, 6) are never both held.
TEST(PlatformLocks, RacingProcessesNeitherBothHoldNorBothAreRefused) {
    TempDir dir;
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "0123456789");
    const WString item = StreamW(dir / "doc", "T");
    constexpr int kRounds = 100;
    // In memory both processes share: holders now, overlaps seen, and per round the racers
    // there, those granted and those done.
    struct Shared {
        std::atomic<int> holders, overlaps, there[kRounds + 1], granted[kRounds], done[kRounds];
    };
    auto* shared = static_cast<Shared*>(
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(shared, MAP_FAILED);
    auto meet = [](std::atomic<int>& count) {
        for (count.fetch_add(1); count.load() < 2;) {
        }
    };
    auto race = [&](DWORD at, Child& self) {
        for (int round = 0; round < kRounds; ++round) {
            meet(shared->there[round]);
            Opened exclusive = Open(item, kReadWrite, 0, OPEN_EXISTING);
            if (exclusive.ok()) shared->granted[round].fetch_add(1);
            meet(shared->done[round]);
        }
        meet(shared->there[kRounds]);
        Opened opened = Open(item, kReadWrite, kShareAll, OPEN_EXISTING);
        for (int i = 0; opened.ok() && i < 2000; ++i)
            if (LockFile(opened.handle.get(), at, 0, 4, 0)) {
                if (shared->holders.fetch_add(1) != 0) shared->overlaps.fetch_add(1);
                sched_yield();
                shared->holders.fetch_sub(1);
                UnlockFile(opened.handle.get(), at, 0, 4, 0);
            }
        self.Send("done");
        return 0;
    };
    Child first([&](Child& self) { return race(0, self); });
    Child second([&](Child& self) { return race(2, self); });
    EXPECT_EQ(first.Receive() + second.Receive(), "donedone");
    int neither = 0, both = 0;
    for (const auto& granted : shared->granted) {
        neither += granted.load() == 0;
        both += granted.load() == 2;
    }
    EXPECT_EQ(neither, 0);
    EXPECT_EQ(both, 0);
    EXPECT_EQ(shared->overlaps.load(), 0);
    munmap(shared, sizeof(Shared));
}

// Windows' rule: a second open fails when it asks for an access the first does not share,
// or refuses to share an access the first holds. Opens without data access take no part.
DWORD SharingError(DWORD access1, DWORD share1, DWORD access2, DWORD share2) {
    auto kinds = [](DWORD access) {
        return ((access & GENERIC_READ) ? FILE_SHARE_READ : 0u) |
               ((access & GENERIC_WRITE) ? FILE_SHARE_WRITE : 0u) |
               ((access & DELETE) ? FILE_SHARE_DELETE : 0u);
    };
    DWORD held1 = kinds(access1), held2 = kinds(access2);
    const bool conflict = held1 && held2 && ((held2 & ~share1) || (held1 & ~share2));
    return conflict ? ERROR_SHARING_VIOLATION : 0u;
}

TEST(PlatformLocks, ShareModesOnMainAndNamedStreams) {
    TempDir dir;
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "v");
    const WString stream = StreamW(dir / "doc", "T");
    const DWORD accesses[] = {0, GENERIC_READ, GENERIC_WRITE, kReadWrite, DELETE};
    const DWORD shares[] = {0, 1, 2, 4, 3, 7};  // FILE_SHARE_READ 1, WRITE 2, DELETE 4
    for (const WString& path : {stream, PathW(dir / "doc")})
        for (DWORD access1 : accesses)
            for (DWORD share1 : shares) {
                Opened first = Open(path, access1, share1, OPEN_EXISTING);
                ASSERT_TRUE(first.ok()) << first.error;
                for (DWORD access2 : accesses)
                    for (DWORD share2 : shares)
                        EXPECT_EQ(Open(path, access2, share2, OPEN_EXISTING).error,
                                  SharingError(access1, share1, access2, share2))
                            << Narrow(path) << " first " << std::hex << access1 << "/" << share1
                            << " second " << access2 << "/" << share2;
            }

    // Streams of one file are independent; a refused open leaves nothing behind.
    Opened exclusive = Open(stream, kReadWrite | DELETE, 0, OPEN_EXISTING);
    EXPECT_TRUE(Open(StreamW(dir / "doc", "U"), kReadWrite, 0, OPEN_ALWAYS).ok());
    EXPECT_TRUE(Open(PathW(dir / "doc"), kReadWrite, 0, OPEN_EXISTING).ok());
    EXPECT_EQ(Open(stream, GENERIC_READ, 7, OPEN_EXISTING).error, DWORD{ERROR_SHARING_VIOLATION});
    exclusive.handle.reset();
    EXPECT_TRUE(Open(stream, kReadWrite, 0, OPEN_EXISTING).ok());

    // Another program's locks on the file itself (whole-file POSIX locks, shared or
    // exclusive, and flocks) stop nothing: items still list, open, read, write and go, and
    // the layer's own share modes still hold.
    struct ForeignLock {
        const char* name;
        int mode;
        std::function<int(int)> take;
    };
    const auto wholeFile = [](short type) {
        return [type](int fd) {
            struct flock all = {};
            all.l_type = type;
            return fcntl(fd, F_SETLK, &all);
        };
    };
    const ForeignLock foreignLocks[] = {
        {"fcntl F_RDLCK, l_len 0", O_RDONLY, wholeFile(F_RDLCK)},
        {"fcntl F_WRLCK, l_len 0", O_RDWR, wholeFile(F_WRLCK)},
        {"lockf F_LOCK 0", O_RDWR, [](int fd) { return lockf(fd, F_LOCK, 0); }},
        {"flock LOCK_SH", O_RDONLY, [](int fd) { return flock(fd, LOCK_SH); }},
        {"flock LOCK_EX", O_RDONLY, [](int fd) { return flock(fd, LOCK_EX); }},
    };
    for (const ForeignLock& foreign : foreignLocks) {
        Child holder([&](Child& self) {
            UniqueFd fd(open((dir / "doc").c_str(), foreign.mode | O_CLOEXEC));
            self.Send(foreign.take(fd.get()) == 0 ? "held" : "not held");
            self.Receive();  // holds until killed
            return 0;
        });
        ASSERT_EQ(holder.Receive(), "held") << foreign.name;
        SetRawStream(dir / "doc", "Gone", "x");
        std::vector<std::string> types = TypesOf(PathW(dir / "doc"));
        std::sort(types.begin(), types.end());
        EXPECT_EQ(types, (std::vector<std::string>{"Gone", "T", "U"})) << foreign.name;
        Opened item = OpenItem(stream);
        EXPECT_EQ(OpenItem(stream).error, DWORD{ERROR_SHARING_VIOLATION}) << foreign.name;
        EXPECT_EQ(PutValue(item.handle.get(), foreign.name), 0u) << foreign.name;
        EXPECT_EQ(GetValue(item.handle.get()), foreign.name);
        EXPECT_EQ(RawStream(dir / "doc", "T"), foreign.name);
        EXPECT_TRUE(DeleteFileW(StreamW(dir / "doc", "Gone").c_str())) << foreign.name;
        EXPECT_FALSE(RawStream(dir / "doc", "Gone")) << foreign.name;
    }
}

// The lock file that claims on `file` use.
std::string LockFileOf(const fs::path& file) {
    struct stat st = {};
    stat(file.c_str(), &st);
    char name[96];
    snprintf(name, sizeof name, "/dev/shm/quarrow2-locks/%llx-%llx",
             static_cast<unsigned long long>(st.st_dev),
             static_cast<unsigned long long>(st.st_ino));
    return name;
}

// Claims live in a lock file of the file's own, made for the first handle with data access
// and removed once the last descriptor of it goes (the process keeps those its handles let
// go of until LetGoOfKeptLockFiles or exit); whatever else is found under its name refuses
// the claim.
TEST(PlatformLocks, LockFilesGoWithTheLastDescriptorAndHostileEntriesRefuseClaims) {
    TempDir dir;
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "v");
    const WString stream = StreamW(dir / "doc", "T");
    const std::string lockFile = LockFileOf(dir / "doc");
    const char* name = lockFile.c_str();
    {
        Opened first = OpenItem(stream),
               second = Open(stream, GENERIC_READ, kShareAll, OPEN_EXISTING);
        ASSERT_TRUE(first.ok() && second.ok());
        EXPECT_TRUE(fs::is_regular_file(name));
        first.handle.reset();
        EXPECT_TRUE(fs::is_regular_file(name));
    }
    EXPECT_TRUE(fs::is_regular_file(name));
    platform::LetGoOfKeptLockFiles();
    EXPECT_FALSE(fs::exists(fs::symlink_status(name)));
    {
        // A child closing a handle it inherited (descriptors and all) leaves the parent's
        // claim in force.
        Opened held = OpenItem(stream);
        const pid_t child = fork();
        if (child == 0) _exit(CloseHandle(held.handle.get()) ? 0 : 1);
        int status = -1;
        waitpid(child, &status, 0);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(OpenItem(stream).error, DWORD{ERROR_SHARING_VIOLATION});
    }

    const std::function<void(const char*)> hostile[] = {
        [&](const char* at) { fs::create_symlink(dir / "doc", at); },
        [](const char* at) { mkfifo(at, 0666); },
        [](const char* at) { fs::create_directory(at); },
    };
    for (const auto& plant : hostile) {
        platform::LetGoOfKeptLockFiles();
        plant(name);
        EXPECT_EQ(OpenItem(stream).error, DWORD{ERROR_ACCESS_DENIED}) << name;
        EXPECT_TRUE(Open(stream, 0, 0, OPEN_EXISTING).ok());  // no data access, no claim
        EXPECT_TRUE(fs::exists(fs::symlink_status(name)));    // left alone
        fs::remove(name);
    }
    EXPECT_TRUE(OpenItem(stream).ok());

    // Without a fit folder for lock files (a file in its place, or a folder others may not
    // write), claims fail clearly and nothing opens unlocked.
    const std::string unfit = RunInChild([&]() -> std::string {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", "/dev/shm", "tmpfs", 0, nullptr) != 0)
            return "skip: no private /dev/shm: " + std::string(std::strerror(errno));
        MakeFile("/dev/shm/quarrow2-locks");
        std::string errors = std::to_string(OpenItem(stream).error);
        fs::remove("/dev/shm/quarrow2-locks");
        fs::create_directory("/dev/shm/quarrow2-locks");
        fs::permissions("/dev/shm/quarrow2-locks", fs::perms::owner_all);
        return errors + " " + std::to_string(OpenItem(stream).error);
    });
    if (unfit.rfind("skip: ", 0) == 0)
        std::cout << "[ skipped  ] " << unfit.substr(6) << std::endl;
    else
        EXPECT_EQ(unfit, "50 50");
}

// A child process that holds `stream` open for reading and writing until it is killed.
std::unique_ptr<Child> HolderOf(const WString& stream) {
    auto holder = std::make_unique<Child>([&](Child& self) {
        Opened held = OpenItem(stream, OPEN_EXISTING);
        self.Send(held.ok() ? "held" : "refused " + std::to_string(held.error));
        self.Receive();
        return 0;
    });
    EXPECT_EQ(holder->Receive(), "held");
    return holder;
}

// The lock file descriptors a process keeps for later handles: each serves the same file
// alone, holds no lock, keeps its lock file under its name, is never used by a child, and
// there are at most kKeptLockFiles of them.
TEST(PlatformLocks, KeptLockFileDescriptorsServeTheirOwnFileAlone) {
    TempDir dir;
    std::vector<WString> streams;
    for (int i = 0; i < 12; ++i) {
        const fs::path file = dir / ("doc" + std::to_string(i));
        MakeFile(file);
        SetRawStream(file, "T", "v");
        streams.push_back(StreamW(file, "T"));
    }
    const WString &a = streams[0], &b = streams[1];
    const auto keepOne = [](const WString& stream) {
        platform::LetGoOfKeptLockFiles();
        EXPECT_TRUE(OpenItem(stream, OPEN_EXISTING).ok());
    };

    // Another file's kept descriptor is not this file's lock file.
    keepOne(a);
    {
        auto holder = HolderOf(b);
        EXPECT_EQ(OpenItem(b, OPEN_EXISTING).error, DWORD{ERROR_SHARING_VIOLATION});
    }
    // A kept descriptor gave back the handle's marks.
    keepOne(a);
    EXPECT_EQ(RunInChild([&] {
                  Opened opened = OpenItem(a, OPEN_EXISTING);
                  return opened.ok() ? "" : "refused " + std::to_string(opened.error);
              }),
              "");
    // While kept here, the lock file stays under its name, whoever else lets go of it.
    keepOne(a);
    EXPECT_EQ(RunInChild([&] {
                  const bool opened = OpenItem(a, OPEN_EXISTING).ok();
                  platform::LetGoOfKeptLockFiles();
                  return opened ? "" : "refused";
              }),
              "");
    {
        auto holder = HolderOf(a);
        EXPECT_EQ(OpenItem(a, OPEN_EXISTING).error, DWORD{ERROR_SHARING_VIOLATION});
    }
    // A child keeps its inherited descriptors (shared with this process) out of its claims.
    keepOne(a);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        Opened held = OpenItem(a, OPEN_EXISTING);
        (void)!write(ready[1], held.ok() ? "h" : "r", 1);
        pause();
        _exit(0);
    }
    char answer = 0;
    (void)!read(ready[0], &answer, 1);
    EXPECT_EQ(answer, 'h');
    EXPECT_EQ(OpenItem(a, OPEN_EXISTING).error, DWORD{ERROR_SHARING_VIOLATION});
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);

    // At most kKeptLockFiles are kept; dropping one removes its lock file.
    platform::LetGoOfKeptLockFiles();
    for (const WString& stream : streams) EXPECT_TRUE(OpenItem(stream, OPEN_EXISTING).ok());
    size_t present = 0;
    for (int i = 0; i < 12; ++i)
        present += fs::exists(LockFileOf(dir / ("doc" + std::to_string(i))));
    EXPECT_EQ(present, platform::kKeptLockFiles);
    platform::LetGoOfKeptLockFiles();
    for (int i = 0; i < 12; ++i)
        EXPECT_FALSE(fs::exists(LockFileOf(dir / ("doc" + std::to_string(i))))) << i;
}

TEST(PlatformLocks, RemovingHeldStreamsButNeverFiles) {
    TempDir dir;
    MakeFile(dir / "doc", "main");
    SetRawStream(dir / "doc", "T", "value");
    const WString item = StreamW(dir / "doc", "T");

    // A holder that shares deletion (holders that do not: the item-level tests).
    Opened sharing = Open(item, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    EXPECT_TRUE(DeleteFileW(item.c_str()));
    EXPECT_FALSE(RawStream(dir / "doc", "T"));
    EXPECT_EQ(GetValue(sharing.handle.get()), std::string());  // gone, so empty
    EXPECT_EQ(ErrorOf(DeleteFileW(item.c_str())), ERROR_FILE_NOT_FOUND);

    // Only streams go: the file itself, or a symbolic link to it, is refused and stays.
    MakeFile(dir / "target", "kept");
    fs::create_symlink(dir / "target", dir / "link");
    for (const char* name : {"doc", "link"})
        EXPECT_EQ(ErrorOf(DeleteFileW(PathW(dir / name).c_str())), ERROR_ACCESS_DENIED) << name;
    EXPECT_EQ(FileContent(dir / "doc"), "main");
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
}

}  // namespace
}  // namespace quarrow2::test

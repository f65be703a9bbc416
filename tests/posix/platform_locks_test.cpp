// Share modes, byte-range locks and the writes they hold back, and removing streams.
#include <sched.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "platform/posix/files/lock_store.h"
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

// Descriptors of the store's lock file that this process has open.
size_t LockFileDescriptors() {
    const std::string lockFile = platform::LockStoreFile();
    size_t open = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code gone;  // the iterator's own descriptor, closed by now
        open += !lockFile.empty() && fs::read_symlink(entry.path(), gone) == lockFile;
    }
    return open;
}

// Every claim, on any file, lives in the store's one lock file: handles opened and closed on
// thousands of files, and a holder killed, make and remove nothing there; a child closing a
// handle it inherited leaves the parent's claim in force.
TEST(PlatformLocks, OneLockFileServesEveryFileAndNothingIsMadeOrLeftPerFile) {
    TempDir dir;
    std::vector<WString> items;
    for (int i = 0; i < 2000; ++i) {
        const fs::path file = dir / ("doc" + std::to_string(i));
        MakeFile(file);
        SetRawStream(file, "T", "v");
        items.push_back(StreamW(file, "T"));
    }
    ASSERT_TRUE(OpenItem(items[0]).ok());
    const fs::path store = fs::path(platform::LockStoreFile()).parent_path();
    ASSERT_FALSE(store.empty());
    FileWatch watch(store, IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO);
    ASSERT_TRUE(watch.ok());
    for (const WString& item : items) {
        const WString file = item.substr(0, item.size() - 2);
        EXPECT_TRUE(platform::UniqueHandle(OpenFileItself(file.c_str())).valid());
        EXPECT_TRUE(OpenItem(item).ok());
    }
    {
        Child holder([&](Child& self) {
            std::vector<Opened> held;
            for (int i = 0; i < 20; ++i) held.push_back(OpenItem(items[i]));
            self.Send("held");
            self.Receive();
            return 0;
        });
        ASSERT_EQ(holder.Receive(), "held");
        EXPECT_EQ(OpenItem(items[19]).error, DWORD{ERROR_SHARING_VIOLATION});
    }
    EXPECT_TRUE(OpenItem(items[19]).ok()) << "a killed holder's claims go with it";
    EXPECT_FALSE(watch.Saw());
    EXPECT_EQ(Tree(store), std::vector<std::string>{"locks"});

    Opened held = OpenItem(items[0]);
    const pid_t child = fork();
    if (child == 0) _exit(CloseHandle(held.handle.get()) ? 0 : 1);
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(OpenItem(items[0]).error, DWORD{ERROR_SHARING_VIOLATION});
}

// Who a child becomes: root, or a user with a runtime folder of its own (/run/user/UID,
// named by XDG_RUNTIME_DIR) or none, in these supplementary groups.
struct Who {
    uid_t uid;
    bool runtime;
    std::vector<gid_t> groups;
};
const Who kRoot{0, false, {}}, kUser{64000, true, {}}, kBareUser{64000, false, {}},
    kMember{64000, true, {64010}}, kOtherMember{64001, false, {64010}}, kOther{64002, true, {}};

// In a child: a private /run and /dev/shm (empty tmpfs), so that the stores are made anew.
std::string PrivateStoreFolders(const char* runOptions = "mode=0755") {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/run", "tmpfs", 0, runOptions) != 0 ||
        mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777") != 0)
        return "skip: no private /run and /dev/shm: " + std::string(std::strerror(errno));
    return "";
}

std::string Become(const Who& who) {
    unsetenv("XDG_RUNTIME_DIR");
    if (who.uid == 0) return "";
    const std::string runtime = "/run/user/" + std::to_string(who.uid);
    if (who.runtime) {
        fs::create_directories(runtime);
        if (chown(runtime.c_str(), who.uid, who.uid) != 0 || chmod(runtime.c_str(), 0700) != 0)
            return "cannot make " + runtime;
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    // Dumpable again, as after an exec, so that /proc/self/fd stays its own.
    if (setgroups(who.groups.size(), who.groups.data()) != 0 || setgid(who.uid) != 0 ||
        setuid(who.uid) != 0 || prctl(PR_SET_DUMPABLE, 1) != 0)
        return "cannot become user " + std::to_string(who.uid);
    return "";
}

// A file any user may open, with an item.
WString SharedItem(const TempDir& dir) {
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "v");
    fs::permissions(dir.path(), fs::perms::all);
    fs::permissions(dir / "doc", fs::perms::all);
    return StreamW(dir / "doc", "T");
}

void ReportSkip(const std::string& outcome) {
    if (outcome.rfind("skip: ", 0) == 0) std::cout << "[ skipped  ] " << outcome.substr(6) << "\n";
}

// Share modes hold among the processes that use one store: a user's own, whether its
// runtime folder is named or found, and the one root shares with the members of the
// group an administrator gave /run/quarrow2; never across other users.
TEST(PlatformLocks, ProcessesArbitrateWithThoseOfTheirStoreAlone) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to be other users";
    TempDir dir;
    const WString item = SharedItem(dir);
    const struct Row {
        Who holder, other;
        bool shared;  // /run/quarrow2 2770 with group 64010
        DWORD error;
    } rows[] = {
        {kRoot, kRoot, false, ERROR_SHARING_VIOLATION},
        {kUser, kBareUser, false, ERROR_SHARING_VIOLATION},
        {kUser, kRoot, false, 0},
        {kRoot, kOther, false, 0},
        {kMember, kRoot, true, ERROR_SHARING_VIOLATION},
        {kRoot, kOtherMember, true, ERROR_SHARING_VIOLATION},
        {kMember, kOther, true, 0},
    };
    for (const Row& row : rows) {
        const std::string outcome = RunInChild([&]() -> std::string {
            if (std::string skip = PrivateStoreFolders(); !skip.empty()) return skip;
            if (row.shared &&
                (mkdir("/run/quarrow2", 02770) != 0 || chown("/run/quarrow2", 0, 64010) != 0 ||
                 chmod("/run/quarrow2", 02770) != 0))
                return "cannot make the shared store";
            Child holder([&](Child& self) {
                const std::string became = Become(row.holder);
                Opened held = OpenItem(item, OPEN_EXISTING);
                self.Send(!became.empty() ? became : held.ok() ? "held" : Err(held.error));
                self.Receive();
                return 0;
            });
            if (std::string said = holder.Receive(); said != "held") return "holder: " + said;
            Child other([&](Child& self) {
                const std::string became = Become(row.other);
                self.Send(!became.empty() ? became : Err(OpenItem(item, OPEN_EXISTING).error));
                return 0;
            });
            return other.Receive();
        });
        ReportSkip(outcome);
        if (outcome.rfind("skip: ", 0) == 0) break;
        EXPECT_EQ(outcome, Err(row.error)) << row.holder.uid << " then " << row.other.uid;
    }
}

// A store that is not as expected (owner, mode, type) or cannot be made is never used: every
// claim fails at once with a text that names it and what to do, and nothing opens unlocked.
TEST(PlatformLocks, UnfitStoresRefuseClaimsWithTextsNamingThem) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make stores of other users";
    TempDir dir;
    const WString item = SharedItem(dir);
    const std::string root = "The share-mode store /run/quarrow2 cannot be used: ",
                      rootDo =
                          ". An administrator must make it a folder of root's with mode 2770 "
                          "(systemd-tmpfiles --create quarrow2.conf), or remove it.\r\n",
                      fallback = "The share-mode store /dev/shm/quarrow2-64000 ",
                      fallbackDo =
                          ". Set XDG_RUNTIME_DIR to a folder of your own (mode 0700), "
                          "or have it removed.\r\n";
    const auto folder = [](std::vector<const char*> paths, mode_t mode, uid_t owner) {
        return [=] {
            for (const char* path : paths) {
                fs::create_directory(path);
                (void)!chown(path, owner, owner);
                (void)!chmod(path, mode);
            }
        };
    };
    const struct Row {
        Who who;
        const char* runOptions;
        std::function<void()> plant;
        std::string said;
    } rows[] = {
        {kRoot, "mode=0755", [] { MakeFile("/run/quarrow2"); },
         root + "it is not a folder" + rootDo},
        {kRoot, "mode=0755", [] { fs::create_directory_symlink("/tmp", "/run/quarrow2"); },
         root + "it is a symbolic link" + rootDo},
        {kRoot, "mode=0755", folder({"/run/quarrow2"}, 0755, 0),
         root + "its mode is 0755, not 2770 or 0700" + rootDo},
        {kRoot, "mode=0755", folder({"/run/quarrow2"}, 02770, 64000),
         root + "it belongs to user 64000, not to root" + rootDo},
        {kRoot, "mode=0755", folder({"/run/quarrow2", "/run/quarrow2/locks"}, 0700, 0),
         root + "its lock file cannot be opened or made (Is a directory)" + rootDo},
        {kRoot, "mode=0755",
         [] {
             mkdir("/run/quarrow2", 0700);
             MakeFile("/run/quarrow2/locks");
         },
         root + "its lock file is not 0600 with the folder's owner" + rootDo},
        {kRoot, "mode=0755,nr_inodes=1", [] {},
         "The share-mode store /run/quarrow2 is full: it cannot be made (No space left on "
         "device). Free space on its file system.\r\n"},
        {kUser, "mode=0755",
         folder({"/run/user", "/run/user/64000", "/run/user/64000/quarrow2"}, 0755, 64000),
         "The share-mode store /run/user/64000/quarrow2 cannot be used: its mode is 0755, not "
         "0700. Remove it, or set XDG_RUNTIME_DIR to a folder of your own.\r\n"},
        {kBareUser, "mode=0755", folder({"/dev/shm/quarrow2-64000"}, 0700, 65534),
         fallback + "cannot be used: it belongs to user 65534" + fallbackDo},
        {kBareUser, "mode=0755",
         [] { (void)!mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777,nr_inodes=1"); },
         fallback + "is full: it cannot be made (No space left on device). Free space on its "
                    "file system.\r\n"},
    };
    for (const Row& row : rows) {
        const std::string outcome = RunInChild([&]() -> std::string {
            if (std::string skip = PrivateStoreFolders(row.runOptions); !skip.empty()) return skip;
            row.plant();
            if (std::string became = Become(row.who); !became.empty()) return became;
            std::string seen = Err(OpenItem(item, OPEN_EXISTING).error) + " ";
            seen += Narrow(SystemText(ERROR_LOCK_STORE_UNUSABLE));
            // Opens without data access claim nothing; a second claim is refused the same way.
            if (!Open(item, 0, 0, OPEN_EXISTING).ok()) seen += " / no open without data access";
            if (DeleteFileW(item.c_str()) || GetLastError() != ERROR_LOCK_STORE_UNUSABLE)
                seen += " / removal not refused";
            return OneLine(seen);
        });
        ReportSkip(outcome);
        if (outcome.rfind("skip: ", 0) == 0) break;
        EXPECT_EQ(outcome, OneLine(Err(ERROR_LOCK_STORE_UNUSABLE) + " " + row.said));
    }
}

// The descriptors a process keeps for later handles hold no lock, are never used by a
// child, and there are at most kKeptDescriptors of them.
TEST(PlatformLocks, KeptDescriptorsHoldNoLockAndStayWithTheirProcess) {
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
        platform::LetGoOfKeptDescriptors();
        EXPECT_TRUE(OpenItem(stream, OPEN_EXISTING).ok());
    };

    // A kept descriptor gave back the handle's marks, and serves the next file as any other.
    keepOne(a);
    EXPECT_EQ(RunInChild([&] {
                  Opened opened = OpenItem(a, OPEN_EXISTING);
                  return opened.ok() ? "" : "refused " + std::to_string(opened.error);
              }),
              "");
    {
        Child holder([&](Child& self) {
            Opened held = OpenItem(b, OPEN_EXISTING);
            self.Send(held.ok() ? "held" : "refused");
            self.Receive();
            return 0;
        });
        ASSERT_EQ(holder.Receive(), "held");
        EXPECT_EQ(OpenItem(b, OPEN_EXISTING).error, DWORD{ERROR_SHARING_VIOLATION});
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

    // At most kKeptDescriptors are kept; letting go of them closes them all.
    platform::LetGoOfKeptDescriptors();
    {
        std::vector<Opened> all;
        for (const WString& stream : streams) all.push_back(OpenItem(stream, OPEN_EXISTING));
        EXPECT_EQ(LockFileDescriptors(), streams.size());
    }
    EXPECT_EQ(LockFileDescriptors(), platform::kKeptDescriptors);
    platform::LetGoOfKeptDescriptors();
    EXPECT_EQ(LockFileDescriptors(), 0u);
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

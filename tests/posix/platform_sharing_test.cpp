// Share modes among all handles on the machine: in one process and between racing
// processes; and removal of streams and files that others hold. (A holder in another
// process, alive or killed: metadata_xattr_test.cpp and the stress suites.)
#include <sys/file.h>

#include "platform_fixture.h"

namespace quarrow2::test {
namespace {

constexpr DWORD kAccesses[] = {0, GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE,
                               DELETE};
constexpr DWORD kShares[] = {0,
                             FILE_SHARE_READ,
                             FILE_SHARE_WRITE,
                             FILE_SHARE_DELETE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE};

// Windows' rule: a second open fails when it asks for an access the first does not share,
// or refuses to share an access the first holds. Opens without data access take no part.
bool Conflict(DWORD access1, DWORD share1, DWORD access2, DWORD share2) {
    auto kinds = [](DWORD access) {
        return ((access & GENERIC_READ) ? FILE_SHARE_READ : 0u) |
               ((access & GENERIC_WRITE) ? FILE_SHARE_WRITE : 0u) |
               ((access & DELETE) ? FILE_SHARE_DELETE : 0u);
    };
    DWORD held1 = kinds(access1), held2 = kinds(access2);
    if (!held1 || !held2) return false;
    return (held2 & ~share1) || (held1 & ~share2);
}

TEST(PlatformSharing, MatrixInOneProcess) {
    TempDir dir;
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "v");
    for (const std::string& stream : {std::string("T"), std::string()}) {
        const WString path = StreamW(dir / "doc", stream);
        for (DWORD access1 : kAccesses)
            for (DWORD share1 : kShares) {
                Opened first = Open(path, access1, share1, OPEN_EXISTING);
                ASSERT_TRUE(first.ok()) << first.error;
                for (DWORD access2 : kAccesses)
                    for (DWORD share2 : kShares) {
                        Opened second = Open(path, access2, share2, OPEN_EXISTING);
                        bool conflict = Conflict(access1, share1, access2, share2);
                        EXPECT_EQ(second.ok(), !conflict)
                            << "stream '" << stream << "' first " << std::hex << access1 << "/"
                            << share1 << " second " << access2 << "/" << share2;
                        if (conflict) {
                            EXPECT_EQ(second.error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
                        }
                    }
            }
    }
}

TEST(PlatformSharing, StreamsOfOneFileAreIndependent) {
    TempDir dir;
    MakeFile(dir / "doc");
    Opened exclusive =
        Open(StreamW(dir / "doc", "T"), GENERIC_READ | GENERIC_WRITE | DELETE, 0, OPEN_ALWAYS);
    ASSERT_TRUE(exclusive.ok());
    EXPECT_TRUE(Open(StreamW(dir / "doc", "U"), GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS).ok());
    EXPECT_TRUE(Open(PathW(dir / "doc"), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING).ok());
    EXPECT_EQ(Open(StreamW(dir / "doc", "T"), GENERIC_READ, 7, OPEN_EXISTING).error,
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // A refused open leaves nothing behind: once the holder goes, the stream is free.
    exclusive.handle.reset();
    EXPECT_TRUE(
        Open(StreamW(dir / "doc", "T"), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING).ok());
}

TEST(PlatformSharing, RacingExclusiveOpensNeverBothSucceed) {
    TempDir dir;
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "v");
    const WString item = StreamW(dir / "doc", "T");
    ExclusionCheck exclusion;
    ASSERT_TRUE(exclusion.ready());
    auto racer = [&](Child& self) {
        for (int i = 0; i < 400; ++i) {
            Opened opened = Open(item, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
            if (opened.ok()) exclusion.Hold();
        }
        self.Send("done");
        return 0;
    };
    Child first(racer), second(racer);
    EXPECT_EQ(first.Receive(), "done");
    EXPECT_EQ(second.Receive(), "done");
    EXPECT_EQ(exclusion.overlaps(), 0);
}

TEST(PlatformSharing, AnotherProgramsFlockDoesNotStopOpens) {
    TempDir dir;
    MakeFile(dir / "doc");
    UniqueFd foreign(open((dir / "doc").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(flock(foreign.get(), LOCK_EX), 0);
    Opened item = OpenItem(StreamW(dir / "doc", "T"));
    ASSERT_TRUE(item.ok()) << item.error;
    EXPECT_EQ(OpenItem(StreamW(dir / "doc", "T")).error,
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(PutValue(item.handle.get(), "value"), 0u);
    EXPECT_EQ(RawStream(dir / "doc", "T"), "value");
}

TEST(PlatformSharing, RemovingHeldStreamsButNeverFiles) {
    TempDir dir;
    MakeFile(dir / "doc", "main");
    SetRawStream(dir / "doc", "T", "value");
    const WString item = StreamW(dir / "doc", "T");

    Opened held = Open(item, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    EXPECT_EQ(ErrorOf(DeleteFileW(item.c_str())), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(RawStream(dir / "doc", "T"), "value");
    held.handle.reset();

    Opened sharing = Open(item, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    EXPECT_TRUE(DeleteFileW(item.c_str()));
    EXPECT_FALSE(RawStream(dir / "doc", "T"));
    EXPECT_EQ(GetValue(sharing.handle.get()), std::string());  // gone, so empty
    EXPECT_EQ(ErrorOf(DeleteFileW(item.c_str())), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ErrorOf(DeleteFileW(StreamW(dir / "nofile", "T").c_str())), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ErrorOf(DeleteFileW(StreamW(dir / "nodir" / "doc", "T").c_str())),
              ERROR_PATH_NOT_FOUND);

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

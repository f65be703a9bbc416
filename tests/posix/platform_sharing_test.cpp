// Share modes among all handles on the machine (racing processes: platform_locks_test.cpp),
// and removal of streams that others hold, never of files. (A holder in another process,
// alive or killed: metadata_xattr_test.cpp and the stress suites.)
#include <sys/file.h>

#include "platform_fixture.h"

namespace quarrow2::test {
namespace {

// Windows' rule: a second open fails when it asks for an access the first does not share,
// or refuses to share an access the first holds. Opens without data access take no part.
bool Conflict(DWORD access1, DWORD share1, DWORD access2, DWORD share2) {
    auto kinds = [](DWORD access) {
        return ((access & GENERIC_READ) ? FILE_SHARE_READ : 0u) |
               ((access & GENERIC_WRITE) ? FILE_SHARE_WRITE : 0u) |
               ((access & DELETE) ? FILE_SHARE_DELETE : 0u);
    };
    DWORD held1 = kinds(access1), held2 = kinds(access2);
    return held1 && held2 && ((held2 & ~share1) || (held1 & ~share2));
}

TEST(PlatformSharing, MatrixOnMainAndNamedStreams) {
    TempDir dir;
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "v");
    const DWORD accesses[] = {0, GENERIC_READ, GENERIC_WRITE, kReadWrite, DELETE};
    const DWORD shares[] = {0,
                            FILE_SHARE_READ,
                            FILE_SHARE_WRITE,
                            FILE_SHARE_DELETE,
                            kShareAll,
                            kShareAll | FILE_SHARE_DELETE};
    for (const std::string& stream : {std::string("T"), std::string()})
        for (DWORD access1 : accesses)
            for (DWORD share1 : shares) {
                Opened first = Open(StreamW(dir / "doc", stream), access1, share1, OPEN_EXISTING);
                ASSERT_TRUE(first.ok()) << first.error;
                for (DWORD access2 : accesses)
                    for (DWORD share2 : shares) {
                        bool conflict = Conflict(access1, share1, access2, share2);
                        EXPECT_EQ(Open(StreamW(dir / "doc", stream), access2, share2, OPEN_EXISTING)
                                      .error,
                                  conflict ? ERROR_SHARING_VIOLATION : 0u)
                            << "stream '" << stream << "' first " << std::hex << access1 << "/"
                            << share1 << " second " << access2 << "/" << share2;
                    }
            }

    // Streams of one file are independent; a refused open leaves nothing behind.
    Opened exclusive = Open(StreamW(dir / "doc", "T"), kReadWrite | DELETE, 0, OPEN_EXISTING);
    EXPECT_TRUE(Open(StreamW(dir / "doc", "U"), kReadWrite, 0, OPEN_ALWAYS).ok());
    EXPECT_TRUE(Open(PathW(dir / "doc"), kReadWrite, 0, OPEN_EXISTING).ok());
    EXPECT_EQ(Open(StreamW(dir / "doc", "T"), GENERIC_READ, 7, OPEN_EXISTING).error,
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    exclusive.handle.reset();
    EXPECT_TRUE(Open(StreamW(dir / "doc", "T"), kReadWrite, 0, OPEN_EXISTING).ok());

    // Another program's flock on the file stops no open.
    UniqueFd foreign(open((dir / "doc").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(flock(foreign.get(), LOCK_EX), 0);
    Opened item = OpenItem(StreamW(dir / "doc", "T"));
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

    Opened held = Open(item, GENERIC_READ, kShareAll, OPEN_EXISTING);
    EXPECT_EQ(ErrorOf(DeleteFileW(item.c_str())), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(RawStream(dir / "doc", "T"), "value");
    held.handle.reset();

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

// Byte-range locks: exclusive, refused at once, mandatory for every other handle's reads
// and writes, and never held twice by racing processes. (A holder in another process,
// alive or killed: metadata_xattr_test.cpp.)
#include "platform_fixture.h"

namespace quarrow2::test {
namespace {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

DWORD LockError(HANDLE h, uint64_t offset, uint64_t length) {
    SetLastError(0);
    BOOL ok = LockFile(h, static_cast<DWORD>(offset), static_cast<DWORD>(offset >> 32),
                       static_cast<DWORD>(length), static_cast<DWORD>(length >> 32));
    return ok ? 0 : GetLastError();
}

DWORD UnlockError(HANDLE h, uint64_t offset, uint64_t length) {
    SetLastError(0);
    BOOL ok = UnlockFile(h, static_cast<DWORD>(offset), static_cast<DWORD>(offset >> 32),
                         static_cast<DWORD>(length), static_cast<DWORD>(length >> 32));
    return ok ? 0 : GetLastError();
}

TEST(PlatformRangeLocks, ExclusiveAndRefusedAtOnce) {
    TempDir dir;
    MakeFile(dir / "doc");
    const WString item = StreamW(dir / "doc", "T");
    Opened a = Open(item, kReadWrite, kShareAll, OPEN_ALWAYS);
    Opened b = Open(item, kReadWrite, kShareAll, OPEN_ALWAYS);
    ASSERT_TRUE(a.ok() && b.ok());

    EXPECT_EQ(LockError(a.handle.get(), 0, 8), 0u);
    EXPECT_EQ(LockError(b.handle.get(), 4, 1), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(LockError(b.handle.get(), 0, 100), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(LockError(b.handle.get(), 8, 8), 0u);
    // Not even the holder may lock a byte twice.
    EXPECT_EQ(LockError(a.handle.get(), 0, 8), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(LockError(a.handle.get(), 7, 2), static_cast<DWORD>(ERROR_LOCK_VIOLATION));

    // Zero-length locks exist and conflict with nothing.
    EXPECT_EQ(LockError(a.handle.get(), 4, 0), 0u);
    EXPECT_EQ(LockError(b.handle.get(), 4, 0), 0u);
    EXPECT_EQ(UnlockError(a.handle.get(), 4, 0), 0u);
    EXPECT_EQ(UnlockError(a.handle.get(), 4, 0), static_cast<DWORD>(ERROR_NOT_LOCKED));

    // Unlocking must name a held range exactly.
    EXPECT_EQ(UnlockError(a.handle.get(), 0, 4), static_cast<DWORD>(ERROR_NOT_LOCKED));
    EXPECT_EQ(UnlockError(a.handle.get(), 8, 8), static_cast<DWORD>(ERROR_NOT_LOCKED));
    EXPECT_EQ(UnlockError(a.handle.get(), 0, 8), 0u);
    EXPECT_EQ(LockError(b.handle.get(), 0, 8), 0u);

    // Closing a handle gives back its locks.
    b.handle.reset();
    EXPECT_EQ(LockError(a.handle.get(), 0, 16), 0u);

    Opened noData = Open(item, 0, kShareAll, OPEN_EXISTING);
    ASSERT_TRUE(noData.ok());
    EXPECT_EQ(LockError(noData.handle.get(), 100, 1), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(PlatformRangeLocks, MandatoryForOtherHandles) {
    TempDir dir;
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "0123456789abcdef");
    const WString item = StreamW(dir / "doc", "T");
    Opened a = Open(item, kReadWrite, kShareAll, OPEN_EXISTING);
    Opened b = Open(item, kReadWrite, kShareAll, OPEN_EXISTING);
    ASSERT_TRUE(a.ok() && b.ok());
    ASSERT_EQ(LockError(a.handle.get(), 0, 8), 0u);

    const std::string violation = "error " + std::to_string(ERROR_LOCK_VIOLATION);
    EXPECT_EQ(ReadAt(b.handle.get(), 0, 4), violation);
    EXPECT_EQ(ReadAt(b.handle.get(), 6, 4), violation);
    EXPECT_EQ(ReadAt(b.handle.get(), 8, 8), "89abcdef");
    EXPECT_EQ(ReadAt(a.handle.get(), 0, 4), "0123");
    DWORD error = 0;
    EXPECT_FALSE(GetValue(b.handle.get(), &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_LOCK_VIOLATION));

    EXPECT_EQ(WriteAt(b.handle.get(), 2, "XY"), violation);
    EXPECT_EQ(PutValue(b.handle.get(), "whole"), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(RawStream(dir / "doc", "T"), "0123456789abcdef");
    EXPECT_EQ(WriteAt(b.handle.get(), 10, "XY"), "ok");
    EXPECT_EQ(RawStream(dir / "doc", "T"), "0123456789XYcdef");

    // The main stream has locks of its own, mandatory in the same way.
    MakeFile(dir / "main", "0123456789");
    Opened m1 = Open(PathW(dir / "main"), kReadWrite, kShareAll, OPEN_EXISTING);
    Opened m2 = Open(PathW(dir / "main"), kReadWrite, kShareAll, OPEN_EXISTING);
    ASSERT_EQ(LockError(m1.handle.get(), 2, 2), 0u);
    EXPECT_EQ(ReadAt(m2.handle.get(), 0, 10), violation);
    EXPECT_EQ(WriteAt(m2.handle.get(), 3, "x"), violation);
    EXPECT_EQ(ReadAt(m2.handle.get(), 4, 6), "456789");
    EXPECT_EQ(LockError(m2.handle.get(), 0, 8), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(FileContent(dir / "main"), "0123456789");
}

TEST(PlatformRangeLocks, RacingLocksNeverBothSucceed) {
    TempDir dir;
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "0123456789");
    const WString item = StreamW(dir / "doc", "T");
    ExclusionCheck exclusion;
    ASSERT_TRUE(exclusion.ready());
    auto racer = [&](DWORD offset) {
        return [&, offset](Child& self) {
            Opened opened = Open(item, kReadWrite, kShareAll, OPEN_EXISTING);
            for (int i = 0; opened.ok() && i < 2000; ++i) {
                if (!LockFile(opened.handle.get(), offset, 0, 4, 0)) continue;
                exclusion.Hold();
                UnlockFile(opened.handle.get(), offset, 0, 4, 0);
            }
            self.Send("done");
            return 0;
        };
    };
    // Overlapping ranges, [0, 4) and [2, 6).
    Child first(racer(0)), second(racer(2));
    EXPECT_EQ(first.Receive(), "done");
    EXPECT_EQ(second.Receive(), "done");
    EXPECT_EQ(exclusion.overlaps(), 0);
}

TEST(PlatformRangeLocks, FarOffsets) {
    TempDir dir;
    MakeFile(dir / "doc");
    Opened a = Open(PathW(dir / "doc"), GENERIC_READ, kShareAll, OPEN_EXISTING);
    Opened b = Open(PathW(dir / "doc"), GENERIC_READ, kShareAll, OPEN_EXISTING);
    const uint64_t tera = uint64_t{1} << 40;
    EXPECT_EQ(LockError(a.handle.get(), tera, 16), 0u);
    EXPECT_EQ(LockError(b.handle.get(), tera + 15, 1), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(LockError(b.handle.get(), tera + 16, 1), 0u);
    EXPECT_EQ(LockError(b.handle.get(), UINT64_MAX - 4, 4), 0u);
    EXPECT_EQ(LockError(a.handle.get(), UINT64_MAX - 1, 1),
              static_cast<DWORD>(ERROR_LOCK_VIOLATION));

    // Two ranges of one handle past what any file system stores; giving back one keeps
    // the other.
    a.handle.reset();
    b.handle.reset();
    Opened c = Open(PathW(dir / "doc"), GENERIC_READ, kShareAll, OPEN_EXISTING);
    Opened d = Open(PathW(dir / "doc"), GENERIC_READ, kShareAll, OPEN_EXISTING);
    const uint64_t exa = uint64_t{1} << 62;
    EXPECT_EQ(LockError(c.handle.get(), exa, 1), 0u);
    EXPECT_EQ(LockError(c.handle.get(), exa * 2, 1), 0u);
    EXPECT_EQ(UnlockError(c.handle.get(), exa, 1), 0u);
    EXPECT_EQ(LockError(d.handle.get(), exa * 2, 1), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
}

}  // namespace
}  // namespace quarrow2::test

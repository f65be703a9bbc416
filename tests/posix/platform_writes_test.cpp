// Writes: held back inside the handle's own lock until the end is set, the range unlocked
// or the handle closed; stored at once elsewhere; and refused whole where the file system
// says no. (Killed writers and readers in other processes: the stress suites.)
#include "platform_fixture.h"

namespace quarrow2::test {
namespace {

TEST(PlatformWrites, HeldBackInsideTheOwnLockUntilTheEndIsSet) {
    TempDir dir;
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "old value here");
    const WString item = StreamW(dir / "doc", "T");
    Opened writer = OpenItem(item);
    Opened reader = OpenReader(item);
    ASSERT_TRUE(writer.ok() && reader.ok());
    HANDLE w = writer.handle.get();

    ASSERT_TRUE(LockFile(w, 0, 0, 3, 0));
    EXPECT_EQ(WriteAt(w, 0, "new"), "ok");
    EXPECT_EQ(RawStream(dir / "doc", "T"), "old value here");
    // The writer sees its own bytes; nobody else may look where they are.
    EXPECT_EQ(GetValue(w), "new value here");
    DWORD error = 0;
    EXPECT_FALSE(GetValue(reader.handle.get(), &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_LOCK_VIOLATION));

    SetFilePointer(w, 3, nullptr, FILE_BEGIN);
    ASSERT_TRUE(SetEndOfFile(w));
    EXPECT_EQ(RawStream(dir / "doc", "T"), "new");
    ASSERT_TRUE(UnlockFile(w, 0, 0, 3, 0));
    EXPECT_EQ(GetValue(reader.handle.get()), "new");
    EXPECT_EQ(GetFileSize(reader.handle.get(), nullptr), 3u);
}

TEST(PlatformWrites, HeldWritesReachTheStreamOnUnlockAndClose) {
    TempDir dir;
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "0123456789");
    Opened writer = OpenItem(StreamW(dir / "doc", "T"));
    HANDLE w = writer.handle.get();

    ASSERT_TRUE(LockFile(w, 0, 0, 100, 0));
    EXPECT_EQ(WriteAt(w, 0, "abc"), "ok");
    EXPECT_EQ(WriteAt(w, 12, "Z"), "ok");  // past the end: the gap reads as zeros
    EXPECT_EQ(GetFileSize(w, nullptr), 13u);
    EXPECT_EQ(RawStream(dir / "doc", "T"), "0123456789");
    ASSERT_TRUE(UnlockFile(w, 0, 0, 100, 0));
    EXPECT_EQ(RawStream(dir / "doc", "T"), std::string("abc3456789\0\0Z", 13));

    ASSERT_TRUE(LockFile(w, 0, 0, 2, 0));
    EXPECT_EQ(WriteAt(w, 0, "XY"), "ok");
    EXPECT_EQ(RawStream(dir / "doc", "T"), std::string("abc3456789\0\0Z", 13));
    writer.handle.reset();
    EXPECT_EQ(RawStream(dir / "doc", "T"), std::string("XYc3456789\0\0Z", 13));
}

TEST(PlatformWrites, StoredAtOnceOutsideOwnLocks) {
    TempDir dir;
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "0123456789");
    Opened writer = OpenItem(StreamW(dir / "doc", "T"));
    HANDLE w = writer.handle.get();

    EXPECT_EQ(WriteAt(w, 2, "AB"), "ok");
    EXPECT_EQ(RawStream(dir / "doc", "T"), "01AB456789");
    ASSERT_TRUE(LockFile(w, 0, 0, 2, 0));
    EXPECT_EQ(WriteAt(w, 0, "ab"), "ok");  // held back ...
    EXPECT_EQ(WriteAt(w, 8, "!"), "ok");   // ... and stored along with this one
    EXPECT_EQ(RawStream(dir / "doc", "T"), "abAB4567!9");
    SetFilePointer(w, 4, nullptr, FILE_BEGIN);
    ASSERT_TRUE(SetEndOfFile(w));
    EXPECT_EQ(RawStream(dir / "doc", "T"), "abAB");
    SetFilePointer(w, 6, nullptr, FILE_BEGIN);
    ASSERT_TRUE(SetEndOfFile(w));
    EXPECT_EQ(RawStream(dir / "doc", "T"), std::string("abAB\0\0", 6));
}

// Whether the file system under `dir` refuses a 5000-byte attribute, as ext4 without
// large attributes does.
bool HasSmallAttributeSpace(const fs::path& dir) {
    MakeFile(dir / "probe");
    std::string big(5000, 'p');
    bool refused =
        setxattr((dir / "probe").c_str(), "user.probe", big.data(), big.size(), 0) != 0 &&
        errno == ENOSPC;
    fs::remove(dir / "probe");
    return refused;
}

TEST(PlatformWrites, RefusedWholeWhenTheAttributeSpaceIsFull) {
    TempDir dir;
    if (!HasSmallAttributeSpace(dir.path()))
        GTEST_SKIP() << "the temporary folder's file system takes attributes of 5000 bytes";
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "old");
    Opened writer = OpenItem(StreamW(dir / "doc", "T"));
    HANDLE w = writer.handle.get();

    EXPECT_EQ(PutValue(w, std::string(5000, 'x')), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(RawStream(dir / "doc", "T"), "old");
    EXPECT_EQ(GetValue(w), "old");  // nothing of the refused value stays held
    EXPECT_EQ(WriteAt(w, 0, std::string(5000, 'y')), "error " + std::to_string(ERROR_DISK_FULL));
    EXPECT_EQ(RawStream(dir / "doc", "T"), "old");

    // Past what any Linux attribute holds.
    EXPECT_EQ(PutValue(w, std::string(70000, 'z')), static_cast<DWORD>(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(WriteAt(w, 65536, "z"), "error " + std::to_string(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(RawStream(dir / "doc", "T"), "old");

    // Held back, then refused when the handle closes: the close says so.
    ASSERT_TRUE(LockFile(w, 0, 0, 5000, 0));
    EXPECT_EQ(WriteAt(w, 0, std::string(5000, 'c')), "ok");
    Opened closing = OpenItem(StreamW(dir / "doc", "T"));
    EXPECT_EQ(closing.error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(ErrorOf(CloseHandle(writer.handle.release())), ERROR_DISK_FULL);
    EXPECT_EQ(RawStream(dir / "doc", "T"), "old");
    writer = OpenItem(StreamW(dir / "doc", "T"));
    ASSERT_TRUE(writer.ok()) << "the refused close left the stream held";
    w = writer.handle.get();

    // The space is shared by all of a file's attributes.
    SetRawStream(dir / "doc", "Other", std::string(3500, 'o'));
    EXPECT_EQ(PutValue(w, std::string(1000, 'x')), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(RawStream(dir / "doc", "T"), "old");
    EXPECT_EQ(PutValue(w, "fits"), 0u);
    EXPECT_EQ(RawStream(dir / "doc", "T"), "fits");
}

}  // namespace
}  // namespace quarrow2::test

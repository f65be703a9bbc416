// Byte-range locks and the writes they hold back: locks exclusive, refused at once and
// mandatory for every other handle; writes inside the handle's own lock held until the end
// is set, the range unlocked or the handle closed, stored at once elsewhere, and refused
// whole where the file system says no. (A holder or writer in another process, alive or
// killed: metadata_xattr_test.cpp and the stress suites.)
#include "platform_fixture.h"

namespace quarrow2::test {
namespace {

const std::string violation = Err(ERROR_LOCK_VIOLATION), unheld = Err(ERROR_NOT_LOCKED);

TEST(PlatformLocks, ExclusiveRefusedAtOnceAndMandatoryForOtherHandles) {
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
            {1, 'P', 0, 0, "whole", violation},
            {0, 'S', 0, 0, "", "0123456789abcdef"},
            {1, 'W', 10, 0, "XY", kOk},
            {0, 'S', 0, 0, "", "0123456789XYcdef"},
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
            {1, 'L', 0, 8, "", violation},
            {1, 'S', 0, 0, "", "0123456789"},
            {0, 'L', tera, 16, "", kOk},
            {1, 'L', tera + 15, 1, "", violation},
            {1, 'L', tera + 16, 1, "", kOk},
            {1, 'L', UINT64_MAX - 4, 4, "", kOk},
            {0, 'L', UINT64_MAX - 1, 1, "", violation},
            // Two ranges of one handle past what any file system stores; giving back one
            // keeps the other.
            {0, 'C', 0, 0, "", kOk},
            {1, 'C', 0, 0, "", kOk},
            {2, 'L', exa, 1, "", kOk},
            {2, 'L', exa * 2, 1, "", kOk},
            {2, 'U', exa, 1, "", kOk},
            {3, 'L', exa * 2, 1, "", violation},
        });
}

TEST(PlatformLocks, WritesInsideTheOwnLockAreHeldBack) {
    TempDir dir;
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "old value here");
    const std::string zeros("\0\0", 2);
    Steps(dir / "doc", "T", {kReadWrite, GENERIC_READ})
        .Run({
            {0, 'L', 0, 3, "", kOk},
            {0, 'W', 0, 0, "new", kOk},
            {0, 'S', 0, 0, "", "old value here"},
            // The writer sees its own bytes; nobody else may look where they are.
            {0, 'G', 0, 0, "", "new value here"},
            {1, 'G', 0, 0, "", violation},
            {0, 'E', 3, 0, "", kOk},
            {0, 'S', 0, 0, "", "new"},
            {0, 'U', 0, 3, "", kOk},
            {1, 'G', 0, 0, "", "new"},
            // Unlocking stores them; past the end the gap reads as zeros.
            {0, 'V', 0, 0, "0123456789", kOk},
            {0, 'L', 0, 100, "", kOk},
            {0, 'W', 0, 0, "abc", kOk},
            {0, 'W', 12, 0, "Z", kOk},
            {0, 'G', 0, 0, "", "abc3456789" + zeros + "Z"},
            {0, 'S', 0, 0, "", "0123456789"},
            {0, 'U', 0, 100, "", kOk},
            {0, 'S', 0, 0, "", "abc3456789" + zeros + "Z"},
            // So does closing.
            {0, 'L', 0, 2, "", kOk},
            {0, 'W', 0, 0, "XY", kOk},
            {0, 'S', 0, 0, "", "abc3456789" + zeros + "Z"},
            {0, 'C', 0, 0, "", kOk},
            {0, 'S', 0, 0, "", "XYc3456789" + zeros + "Z"},
            // Outside the own locks, stored at once, and the held bytes along with them.
            {0, 'V', 0, 0, "0123456789", kOk},
            {0, 'W', 2, 0, "AB", kOk},
            {0, 'S', 0, 0, "", "01AB456789"},
            {0, 'L', 0, 2, "", kOk},
            {0, 'W', 0, 0, "ab", kOk},
            {0, 'W', 8, 0, "!", kOk},
            {0, 'S', 0, 0, "", "abAB4567!9"},
            {0, 'E', 4, 0, "", kOk},
            {0, 'S', 0, 0, "", "abAB"},
            {0, 'E', 6, 0, "", kOk},
            {0, 'S', 0, 0, "", "abAB" + zeros},
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
    const std::string full = Err(ERROR_DISK_FULL), tooLarge = Err(ERROR_FILE_TOO_LARGE);
    Steps steps(dir / "doc", "T", {kReadWrite});
    steps.Run({
        {0, 'P', 0, 0, big, full},
        {0, 'S', 0, 0, "", "old"},
        {0, 'G', 0, 0, "", "old"},  // nothing of the refused value stays held
        {0, 'W', 0, 0, big, full},
        {0, 'S', 0, 0, "", "old"},
        // Past what any Linux attribute holds.
        {0, 'P', 0, 0, std::string(70000, 'z'), tooLarge},
        {0, 'W', 65536, 0, "z", tooLarge},
        {0, 'S', 0, 0, "", "old"},
        // Held back, then refused when the handle closes: the close says so, and leaves
        // the stream free.
        {0, 'L', 0, 5000, "", kOk},
        {0, 'W', 0, 0, big, kOk},
        {0, 'C', 0, 0, "", full},
        {0, 'S', 0, 0, "", "old"},
        {0, 'O', 0, 0, "", kOk},
    });
    // The space is shared by all of a file's attributes.
    SetRawStream(dir / "doc", "Other", std::string(3500, 'o'));
    steps.Run({
        {0, 'P', 0, 0, std::string(1000, 'x'), full},
        {0, 'S', 0, 0, "", "old"},
        {0, 'P', 0, 0, "fits", kOk},
        {0, 'S', 0, 0, "", "fits"},
    });
}

TEST(PlatformLocks, RacingProcessesNeverBothHold) {
    TempDir dir;
    MakeFile(dir / "doc");
    SetRawStream(dir / "doc", "T", "0123456789");
    const WString item = StreamW(dir / "doc", "T");
    // Exclusive opens, then overlapping ranges [0, 4) and [2, 6).
    EXPECT_EQ(RaceOverlaps([&](int, const std::function<void()>& hold) {
                  for (int i = 0; i < 400; ++i) {
                      Opened opened = Open(item, kReadWrite, 0, OPEN_EXISTING);
                      if (opened.ok()) hold();
                  }
              }),
              0);
    EXPECT_EQ(RaceOverlaps([&](int which, const std::function<void()>& hold) {
                  Opened opened = Open(item, kReadWrite, kShareAll, OPEN_EXISTING);
                  for (int i = 0; opened.ok() && i < 2000; ++i) {
                      if (!LockFile(opened.handle.get(), 2 * which, 0, 4, 0)) continue;
                      hold();
                      UnlockFile(opened.handle.get(), 2 * which, 0, 4, 0);
                  }
              }),
              0);
}

}  // namespace
}  // namespace quarrow2::test

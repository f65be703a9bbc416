// Opening and creating: dispositions and the last errors they leave, main streams,
// directories, and handles that were never handed out or are closed. (What cannot carry
// streams: hostile_special_files_test.cpp; unwritable files: file_read_only_test.cpp.)
#include <sys/stat.h>

#include "platform_fixture.h"

namespace quarrow2::test {
namespace {

TEST(PlatformOpen, DispositionsOnNamedStreams) {
    TempDir dir;
    MakeFile(dir / "doc", "main");
    const WString stream = StreamW(dir / "doc", "T");
    const DWORD rw = GENERIC_READ | GENERIC_WRITE;

    EXPECT_EQ(Open(stream, rw, 0, OPEN_EXISTING).error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(RawStream(dir / "doc", "T"));

    Opened created = Open(stream, rw, 0, OPEN_ALWAYS);
    ASSERT_TRUE(created.ok());
    EXPECT_EQ(created.error, 0u);
    EXPECT_EQ(PutValue(created.handle.get(), "content"), 0u);
    created.handle.reset();

    Opened existing = Open(stream, rw, 0, OPEN_EXISTING);
    ASSERT_TRUE(existing.ok());
    EXPECT_EQ(existing.error, 0u);
    EXPECT_EQ(GetValue(existing.handle.get()), "content");
    existing.handle.reset();

    Opened always = Open(stream, rw, 0, OPEN_ALWAYS);
    EXPECT_EQ(always.error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    always.handle.reset();
    EXPECT_EQ(RawStream(dir / "doc", "T"), "content");

    // Only the two dispositions the library opens with; none that replaces or empties.
    for (DWORD refused :
         {DWORD(CREATE_NEW), DWORD(CREATE_ALWAYS), DWORD(TRUNCATE_EXISTING), 0u, 6u})
        EXPECT_EQ(Open(stream, rw, 0, refused).error, static_cast<DWORD>(ERROR_INVALID_PARAMETER))
            << refused;
    EXPECT_EQ(Open(stream, rw, 8, OPEN_ALWAYS).error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RawStream(dir / "doc", "T"), "content");

    // Names are case-sensitive, as attribute names are.
    EXPECT_EQ(Open(StreamW(dir / "doc", "t"), rw, 0, OPEN_ALWAYS).error, 0u);
    EXPECT_EQ(RawStream(dir / "doc", "t"), std::string());
    EXPECT_EQ(Tree(dir.path()), std::vector<std::string>{"doc"});
    EXPECT_EQ(FileContent(dir / "doc"), "main");
}

TEST(PlatformOpen, MainStreams) {
    TempDir dir;
    MakeFile(dir / "doc", "0123456789");
    Opened reader = OpenReader(PathW(dir / "doc"));
    ASSERT_TRUE(reader.ok());
    HANDLE h = reader.handle.get();
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(h, &high), 10u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
    char part[4] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(h, part, 4, &got, nullptr));
    EXPECT_EQ(std::string(part, got), "4567");
    ASSERT_TRUE(ReadFile(h, part, 4, &got, nullptr));
    EXPECT_EQ(std::string(part, got), "89");
    ASSERT_TRUE(ReadFile(h, part, 4, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(ErrorOf(WriteFile(h, "x", 1, &got, nullptr)), ERROR_ACCESS_DENIED);

    // Written through a handle opened for writing.
    MakeFile(dir / "out");
    Opened writer = Open(PathW(dir / "out"), GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_TRUE(writer.ok());
    ASSERT_TRUE(WriteFile(writer.handle.get(), "abcdef", 6, &got, nullptr));
    EXPECT_EQ(SetFilePointer(writer.handle.get(), -2, nullptr, FILE_CURRENT), 4u);
    ASSERT_TRUE(SetEndOfFile(writer.handle.get()));
    writer.handle.reset();
    EXPECT_EQ(FileContent(dir / "out"), "abcd");

    // Sizes past 32 bits come with their high half.
    {
        UniqueFd sparse(open((dir / "big").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
        ASSERT_EQ(ftruncate(sparse.get(), (int64_t{5} << 32) + 3), 0);
    }
    Opened big = OpenReader(PathW(dir / "big"));
    ASSERT_TRUE(big.ok());
    EXPECT_EQ(GetFileSize(big.handle.get(), &high), 3u);
    EXPECT_EQ(high, 5u);
    LONG moveHigh = -1;  // the high half of a 64-bit distance of -1
    EXPECT_EQ(SetFilePointer(big.handle.get(), -1, &moveHigh, FILE_END), 2u);
    EXPECT_EQ(moveHigh, 5);
    EXPECT_EQ(SetFilePointer(big.handle.get(), 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetFilePointer(big.handle.get(), -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
}

TEST(PlatformOpen, HandlesAreCheckedBeforeUse) {
    char buffer[4];
    DWORD count = 0;
    for (HANDLE bad : {INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr),
                       reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x10004)),
                       reinterpret_cast<HANDLE>(buffer)}) {
        EXPECT_EQ(ErrorOf(ReadFile(bad, buffer, 4, &count, nullptr)), ERROR_INVALID_HANDLE);
        EXPECT_EQ(GetFileSize(bad, nullptr), INVALID_FILE_SIZE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(ErrorOf(LockFile(bad, 0, 0, 1, 0)), ERROR_INVALID_HANDLE);
        EXPECT_EQ(ErrorOf(CloseHandle(bad)), ERROR_INVALID_HANDLE);
    }
    // A closed handle stays invalid: its value is never handed out again.
    TempDir dir;
    MakeFile(dir / "doc");
    HANDLE h = CreateFileW(PathW(dir / "doc").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(h) % 4, 0u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(ErrorOf(CloseHandle(h)), ERROR_INVALID_HANDLE);
    UniqueHandle next(CreateFileW(PathW(dir / "doc").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_NE(next.get(), h);
}

TEST(PlatformOpen, FoldersOpenOnlyWithBackupSemantics) {
    TempDir dir;
    fs::create_directory(dir / "folder");
    Opened plain = OpenReader(PathW(dir / "folder"));
    EXPECT_FALSE(plain.ok());
    EXPECT_EQ(plain.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));

    Opened backup = Open(PathW(dir / "folder"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_TRUE(backup.ok()) << backup.error;
    EXPECT_EQ(GetFileSize(backup.handle.get(), nullptr), 0u);
    char byte;
    DWORD got = 0;
    EXPECT_EQ(ErrorOf(ReadFile(backup.handle.get(), &byte, 1, &got, nullptr)),
              ERROR_INVALID_FUNCTION);

    // Folders carry named streams, as on NTFS, and those need no backup semantics.
    Opened item = OpenItem(StreamW(dir / "folder", "T"));
    ASSERT_TRUE(item.ok()) << item.error;
    EXPECT_EQ(PutValue(item.handle.get(), "on a folder"), 0u);
    EXPECT_EQ(RawStream(dir / "folder", "T"), "on a folder");

    EXPECT_EQ(ErrorOf(DeleteFileW(PathW(dir / "folder").c_str())), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
}

}  // namespace
}  // namespace quarrow2::test

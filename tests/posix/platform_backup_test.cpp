// The backup stream of a file: the main stream, then every "user." attribute as a named
// stream, in the file system's order; contents read in any pieces, or skipped without
// ever being read; read contexts freed by the abort call.
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cstddef>

#include "platform_fixture.h"

namespace quarrow2::test {
namespace {

constexpr DWORD kHeaderBytes = 20;

struct Record {
    DWORD id = 0;
    uint64_t size = 0;
    std::string name;     // UTF-8
    std::string content;  // when read
};

// A walk of the kind the library makes: a header, the name, then the content skipped or
// read. Empty with `error` set when a call fails.
struct Walk {
    std::vector<Record> records;
    DWORD error = 0;
};

Walk WalkStreams(HANDLE h, bool readContents, DWORD piece = 1 << 20) {
    Walk walk;
    LPVOID context = nullptr;
    auto read = [&](void* into, DWORD wanted) -> DWORD {
        DWORD got = 0;
        if (!BackupRead(h, static_cast<LPBYTE>(into), wanted, &got, FALSE, FALSE, &context)) {
            walk.error = GetLastError();
            return 0;
        }
        return got;
    };
    for (;;) {
        unsigned char header[kHeaderBytes];
        DWORD got = read(header, kHeaderBytes);
        if (got != kHeaderBytes) break;
        Record record;
        DWORD nameBytes = 0;
        std::memcpy(&record.id, header, 4);
        std::memcpy(&record.size, header + 8, 8);
        std::memcpy(&nameBytes, header + 16, 4);
        WString name(nameBytes / 2, 0);
        if (nameBytes && read(name.data(), nameBytes) != nameBytes) break;
        record.name = Narrow(name);
        if (readContents) {
            std::string chunk(piece, '\0');
            while (record.content.size() < record.size) {
                DWORD n = read(chunk.data(), piece);
                if (n == 0) break;
                record.content.append(chunk, 0, n);
            }
        } else {
            DWORD low = 0, high = 0;
            if (!BackupSeek(h, static_cast<DWORD>(record.size),
                            static_cast<DWORD>(record.size >> 32), &low, &high, &context)) {
                walk.error = GetLastError();
                break;
            }
        }
        walk.records.push_back(std::move(record));
    }
    EXPECT_TRUE(BackupRead(nullptr, nullptr, 0, nullptr, TRUE, FALSE, &context));
    EXPECT_EQ(context, nullptr);
    return walk;
}

// A file with a large main stream and attributes the walk must report, skip or pass by.
struct SampleFile {
    fs::path path;
    std::string main;
    std::vector<std::pair<std::string, std::string>> streams;  // in the file system's order
};

SampleFile MakeSample(const fs::path& path) {
    SampleFile sample{path, std::string(1 << 20, '\0'), {}};
    for (size_t i = 0; i < sample.main.size(); ++i)
        sample.main[i] = static_cast<char>(i * 7 + i / 251);
    MakeFile(path, sample.main);
    SetRawStream(path, "Zeta", "last letter");
    SetRawStream(path, "alpha", "");
    SetRawStream(path, "\xC3\xA9t\xC3\xA9", std::string(300, 'e'));
    SetRawStream(path, "\xF0\x9F\x98\x80", "beyond the basic plane");
    // Not streams: another namespace, and a name UTF-16 cannot carry.
    setxattr(path.c_str(), "trusted.hidden", "x", 1, 0);
    setxattr(path.c_str(), "user.\xFF\xFE", "bad name", 8, 0);
    for (const std::string& name : RawAttributeNames(path)) {
        if (name.rfind("user.", 0) != 0 || name == "user.\xFF\xFE") continue;
        sample.streams.emplace_back(name.substr(5), *RawStream(path, name.substr(5)));
    }
    return sample;
}

void ExpectSample(const Walk& walk, const SampleFile& sample, bool withContents) {
    ASSERT_EQ(walk.error, 0u);
    ASSERT_EQ(walk.records.size(), sample.streams.size() + 1);
    EXPECT_EQ(walk.records[0].id, static_cast<DWORD>(BACKUP_DATA));
    EXPECT_EQ(walk.records[0].name, "");
    EXPECT_EQ(walk.records[0].size, sample.main.size());
    if (withContents) {
        EXPECT_TRUE(walk.records[0].content == sample.main);
    }
    for (size_t i = 0; i < sample.streams.size(); ++i) {
        const Record& record = walk.records[i + 1];
        EXPECT_EQ(record.id, static_cast<DWORD>(BACKUP_ALTERNATE_DATA));
        EXPECT_EQ(record.name, ":" + sample.streams[i].first + ":$DATA");
        EXPECT_EQ(record.size, sample.streams[i].second.size());
        if (withContents) {
            EXPECT_EQ(record.content, sample.streams[i].second);
        }
    }
}

TEST(PlatformBackup, StreamsInTheFileSystemsOrder) {
    TempDir dir;
    SampleFile sample = MakeSample(dir / "doc");
    ASSERT_EQ(sample.streams.size(), 4u);
    Opened file = OpenReader(PathW(sample.path), FILE_SHARE_READ);
    ASSERT_TRUE(file.ok());
    ExpectSample(WalkStreams(file.handle.get(), false), sample, false);
    ExpectSample(WalkStreams(file.handle.get(), true), sample, true);
    ExpectSample(WalkStreams(file.handle.get(), true, 7), sample, true);

    // A file with nothing: one empty main stream, then the end.
    MakeFile(dir / "empty");
    Walk walk = WalkStreams(OpenReader(PathW(dir / "empty")).handle.get(), true);
    ASSERT_EQ(walk.records.size(), 1u);
    EXPECT_EQ(walk.records[0].size, 0u);

    // Folders have only named streams.
    fs::create_directory(dir / "folder");
    SetRawStream(dir / "folder", "A", "on the folder");
    Opened folder = Open(PathW(dir / "folder"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_TRUE(folder.ok());
    walk = WalkStreams(folder.handle.get(), true);
    ASSERT_EQ(walk.records.size(), 1u);
    EXPECT_EQ(walk.records[0].id, static_cast<DWORD>(BACKUP_ALTERNATE_DATA));
    EXPECT_EQ(walk.records[0].name, ":A:$DATA");
    EXPECT_EQ(walk.records[0].content, "on the folder");
}

TEST(PlatformBackup, ReadsAndSeeksStayWithinOneStream) {
    TempDir dir;
    MakeFile(dir / "doc", "0123456789");
    SetRawStream(dir / "doc", "A", "first");
    SetRawStream(dir / "doc", "B", "second");
    Opened file = OpenReader(PathW(dir / "doc"));
    HANDLE h = file.handle.get();
    LPVOID context = nullptr;
    std::vector<DWORD> sizes;
    unsigned char buffer[4096];
    for (DWORD got = 1; got;) {
        ASSERT_TRUE(BackupRead(h, buffer, sizeof buffer, &got, FALSE, FALSE, &context));
        sizes.push_back(got);
    }
    // Header and content of the main stream; then header, ":A:$DATA" and "first"; ...
    EXPECT_EQ(sizes, (std::vector<DWORD>{20 + 10, 20 + 16 + 5, 20 + 16 + 6, 0}));
    ASSERT_TRUE(BackupRead(nullptr, nullptr, 0, nullptr, TRUE, FALSE, &context));

    DWORD low = 9, high = 9, got = 0;
    EXPECT_EQ(ErrorOf(BackupSeek(h, 1, 0, &low, &high, &context)), ERROR_SEEK);  // no stream begun
    ASSERT_TRUE(BackupRead(h, buffer, 10, &got, FALSE, FALSE, &context));        // half a header
    EXPECT_EQ(ErrorOf(BackupSeek(h, 1, 0, &low, &high, &context)), ERROR_SEEK);
    ASSERT_TRUE(BackupRead(h, buffer, 10, &got, FALSE, FALSE, &context));
    EXPECT_TRUE(BackupSeek(h, 3, 0, &low, &high, &context));
    EXPECT_EQ(low, 3u);
    ASSERT_TRUE(BackupRead(h, buffer, 2, &got, FALSE, FALSE, &context));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "34");
    // Past the end: as far as the end, then the next header.
    EXPECT_EQ(ErrorOf(BackupSeek(h, 100, 0, &low, &high, &context)), ERROR_SEEK);
    EXPECT_EQ(low, 5u);
    EXPECT_EQ(high, 0u);
    ASSERT_TRUE(BackupRead(h, buffer, 20, &got, FALSE, FALSE, &context));
    DWORD id = 0;
    std::memcpy(&id, buffer, 4);
    EXPECT_EQ(id, static_cast<DWORD>(BACKUP_ALTERNATE_DATA));
    ASSERT_TRUE(BackupRead(nullptr, nullptr, 0, nullptr, TRUE, FALSE, &context));
}

// Installs a filter in the calling process under which reading a main stream or the value
// of an attribute fails with EIO; size queries still work.
bool ForbidContentReads() {
#if defined(__x86_64__)
    struct sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_pread64, 6, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fgetxattr, 0, 4),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[3])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[3]) + 4),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
    };
    struct sock_fprog filter = {static_cast<unsigned short>(sizeof program / sizeof program[0]),
                                program};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) == 0;
#else
    return false;
#endif
}

TEST(PlatformBackup, SkippedContentsAreNeverRead) {
    TempDir dir;
    SampleFile sample = MakeSample(dir / "doc");
    const WString path = PathW(sample.path);
    // In a child whose every content read fails: a walk that skips must still see it all,
    // and one that reads must fail, which shows the filter works.
    std::string report = RunInChild([&]() -> std::string {
        Opened file = OpenReader(path, FILE_SHARE_READ);
        if (!file.ok()) return "open failed";
        if (!ForbidContentReads()) return "skip: no system-call filter on this machine";
        Walk skipped = WalkStreams(file.handle.get(), false);
        if (skipped.error || skipped.records.size() != sample.streams.size() + 1)
            return "the skipping walk failed with " + std::to_string(skipped.error);
        Walk reading = WalkStreams(file.handle.get(), true);
        if (reading.error != ERROR_IO_DEVICE) return "a content was read under the filter";
        return std::string();
    });
    if (report.rfind("skip: ", 0) == 0) GTEST_SKIP() << report.substr(6);
    EXPECT_EQ(report, "");
}

TEST(PlatformBackup, ContextsAndHandles) {
    TempDir dir;
    MakeFile(dir / "doc", "main");
    SetRawStream(dir / "doc", "A", "value");
    Opened file = OpenReader(PathW(dir / "doc"));
    HANDLE h = file.handle.get();
    unsigned char buffer[kHeaderBytes];
    DWORD got = 0;

    // Walks ended early, their contexts freed by the abort call (a leak would show in the
    // sanitised build).
    for (int i = 0; i < 100; ++i) {
        LPVOID context = nullptr;
        ASSERT_TRUE(BackupRead(h, buffer, kHeaderBytes, &got, FALSE, FALSE, &context));
        ASSERT_NE(context, nullptr);
        ASSERT_TRUE(BackupRead(nullptr, nullptr, 0, nullptr, TRUE, FALSE, &context));
        EXPECT_EQ(context, nullptr);
    }
    LPVOID unknown = buffer;
    EXPECT_EQ(ErrorOf(BackupRead(h, buffer, kHeaderBytes, &got, FALSE, FALSE, &unknown)),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ErrorOf(BackupRead(nullptr, nullptr, 0, nullptr, TRUE, FALSE, &unknown)),
              ERROR_INVALID_PARAMETER);
    LPVOID context = nullptr;
    EXPECT_TRUE(BackupRead(nullptr, nullptr, 0, nullptr, TRUE, FALSE, &context));

    // A context belongs to the handle it started on.
    Opened other = OpenReader(PathW(dir / "doc"));
    ASSERT_TRUE(BackupRead(h, buffer, kHeaderBytes, &got, FALSE, FALSE, &context));
    EXPECT_EQ(
        ErrorOf(BackupRead(other.handle.get(), buffer, kHeaderBytes, &got, FALSE, FALSE, &context)),
        ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(BackupRead(nullptr, nullptr, 0, nullptr, TRUE, FALSE, &context));

    // Handles that cannot be walked.
    Opened noRead = Open(PathW(dir / "doc"), 0, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_EQ(ErrorOf(BackupRead(noRead.handle.get(), buffer, kHeaderBytes, &got, FALSE, FALSE,
                                 &context)),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(ErrorOf(BackupRead(INVALID_HANDLE_VALUE, buffer, kHeaderBytes, &got, FALSE, FALSE,
                                 &context)),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(context, nullptr);
}

}  // namespace
}  // namespace quarrow2::test

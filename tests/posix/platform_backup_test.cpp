// Backup streams: the main stream, then "user." attributes in the file system's order.
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cstddef>

#include "platform_fixture.h"

namespace quarrow2::test {
namespace {

// A walk as the library makes it: "id name size", contents read in pieces of `piece` bytes
// (or skipped when 0), the failed call's error.
struct Walk {
    std::vector<std::string> records, contents;
    DWORD error = 0;
};

Walk WalkStreams(HANDLE h, DWORD piece = 1 << 20) {
    Walk walk;
    LPVOID context = nullptr;
    auto read = [&](void* into, DWORD wanted) -> DWORD {
        DWORD got = 0;
        if (BackupRead(h, static_cast<LPBYTE>(into), wanted, &got, FALSE, FALSE, &context))
            return got;
        walk.error = GetLastError();
        return DWORD{0};
    };
    struct {
        DWORD id, attributes;
        uint64_t size;
        DWORD nameBytes;
    } header;
    static_assert(sizeof header == 24 && offsetof(decltype(header), nameBytes) == 16);
    while (read(&header, 20) == 20) {
        WString name(header.nameBytes / 2, 0);
        if (header.nameBytes && read(name.data(), header.nameBytes) != header.nameBytes) break;
        walk.records.push_back(std::to_string(header.id) + " " + Narrow(name) + " " +
                               std::to_string(header.size));
        std::string content, chunk(piece, '\0');
        while (piece && content.size() < header.size) {
            DWORD n = read(chunk.data(), piece);
            if (n == 0) break;
            content.append(chunk, 0, n);
        }
        walk.contents.push_back(content);
        DWORD low = 0, high = 0;
        if (!piece && !BackupSeek(h, static_cast<DWORD>(header.size),
                                  static_cast<DWORD>(header.size >> 32), &low, &high, &context)) {
            walk.error = GetLastError();
            break;
        }
    }
    EXPECT_TRUE(BackupRead(nullptr, nullptr, 0, nullptr, TRUE, FALSE, &context));
    EXPECT_EQ(context, nullptr);
    return walk;
}

// A file with a large main stream and attributes to report, skip or pass by; its walk.
Walk MakeSample(const fs::path& path) {
    std::string main(1 << 20, '\0');
    for (size_t i = 0; i < main.size(); ++i) main[i] = static_cast<char>(i * 7 + i / 251);
    MakeFile(path, main);
    SetRawStream(path, "Zeta", "last letter");
    SetRawStream(path, "alpha", "");
    SetRawStream(path, "\xC3\xA9t\xC3\xA9", std::string(300, 'e'));
    SetRawStream(path, "\xF0\x9F\x98\x80", "beyond the basic plane");
    // Not a stream: another namespace. A name that is not UTF-8 is one, its stray bytes as
    // U+DC80-U+DCFF.
    setxattr(path.c_str(), "trusted.hidden", "x", 1, 0);
    setxattr(path.c_str(), "user.\xFF\xFE", "bad name", 8, 0);
    Walk sample{{"1  " + std::to_string(main.size())}, {main}, 0};
    for (const std::string& name : RawAttributeNames(path)) {
        if (name.rfind("user.", 0) != 0) continue;
        std::string value = *RawStream(path, name.substr(5));
        const std::string shown =
            name == "user.\xFF\xFE" ? Narrow(WString{0xDCFF, 0xDCFE}) : name.substr(5);
        sample.records.push_back("4 :" + shown + ":$DATA " + std::to_string(value.size()));
        sample.contents.push_back(value);
    }
    EXPECT_EQ(sample.records.size(), 6u);
    return sample;
}

// From now on reading a main stream or an attribute's value fails with EIO; sizes still come.
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

TEST(PlatformBackup, StreamsInTheFileSystemsOrderWithContentsSkippedUnread) {
    TempDir dir;
    const Walk sample = MakeSample(dir / "doc");
    const WString path = PathW(dir / "doc");
    Opened file = OpenReader(path, FILE_SHARE_READ);
    for (DWORD piece : {0u, 1u << 20, 7u}) {
        Walk walk = WalkStreams(file.handle.get(), piece);
        EXPECT_EQ(walk.error, 0u) << piece;
        EXPECT_EQ(walk.records, sample.records) << piece;
        EXPECT_TRUE(!piece || walk.contents == sample.contents) << piece;
    }
    // A file with nothing: one empty main stream. Folders have only named streams.
    MakeFile(dir / "empty");
    EXPECT_EQ(WalkStreams(OpenReader(PathW(dir / "empty")).handle.get()).records,
              std::vector<std::string>{"1  0"});
    fs::create_directory(dir / "folder");
    SetRawStream(dir / "folder", "A", "on the folder");
    Opened folder = Open(PathW(dir / "folder"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS);
    Walk walk = WalkStreams(folder.handle.get());
    EXPECT_EQ(walk.records, std::vector<std::string>{"4 :A:$DATA 13"});
    EXPECT_EQ(walk.contents, std::vector<std::string>{"on the folder"});

    // Where every content read fails, a skipping walk sees all; a reading one shows the filter.
    std::string report = RunInChild([&]() -> std::string {
        Opened own = OpenReader(path, FILE_SHARE_READ);  // the child keeps no descriptor of ours
        if (!own.ok()) return "open failed";
        if (!ForbidContentReads()) return "skip: no system-call filter on this machine";
        Walk skipped = WalkStreams(own.handle.get(), 0);
        if (skipped.error || skipped.records != sample.records)
            return "the skipping walk failed with " + std::to_string(skipped.error);
        if (WalkStreams(own.handle.get()).error != ERROR_IO_DEVICE)
            return "a content was read under the filter";
        return std::string();
    });
    if (report.rfind("skip: ", 0) == 0) GTEST_SKIP() << report.substr(6);
    EXPECT_EQ(report, "");
}

TEST(PlatformBackup, ReadsSeeksAndContexts) {
    TempDir dir;
    MakeFile(dir / "doc", "0123456789");
    SetRawStream(dir / "doc", "A", "first");
    SetRawStream(dir / "doc", "B", "second");
    Opened file = OpenReader(PathW(dir / "doc")), other = OpenReader(PathW(dir / "doc"));
    Opened noRead = Open(PathW(dir / "doc"), 0, FILE_SHARE_READ, OPEN_EXISTING);
    HANDLE h = file.handle.get();
    LPVOID context = nullptr, unknown = &context;
    char buffer[4096];
    DWORD got = 0, low = 9, high = 9;
    auto read = [&](HANDLE from, DWORD size, LPVOID* walk) {
        BOOL ok =
            BackupRead(from, reinterpret_cast<LPBYTE>(buffer), size, &got, FALSE, FALSE, walk);
        return ok ? std::string(buffer, got) : Err(GetLastError());
    };
    auto end = [&](LPVOID* walk) {
        return ErrorOf(BackupRead(nullptr, nullptr, 0, nullptr, TRUE, FALSE, walk));
    };
    auto seek = [&](DWORD size) { return ErrorOf(BackupSeek(h, size, 0, &low, &high, &context)); };

    // Header and content of the main stream; then header, ":A:$DATA" and "first"; ...
    std::vector<size_t> sizes;
    for (got = 1; got;) sizes.push_back(read(h, sizeof buffer, &context).size());
    EXPECT_EQ(sizes, (std::vector<size_t>{20 + 10, 20 + 16 + 5, 20 + 16 + 6, 0}));
    EXPECT_EQ(end(&context), 0);
    EXPECT_EQ(seek(1), ERROR_SEEK);  // no stream begun
    read(h, 10, &context);           // half a header
    EXPECT_EQ(seek(1), ERROR_SEEK);
    read(h, 10, &context);
    EXPECT_EQ(seek(3), 0);
    EXPECT_EQ(low, 3u);
    EXPECT_EQ(read(h, 2, &context), "34");
    // Past the end: as far as the end, then the next header.
    EXPECT_EQ(seek(100), ERROR_SEEK);
    EXPECT_EQ(uint64_t{high} << 32 | low, 5u);
    EXPECT_EQ(read(h, 20, &context).substr(0, 4), std::string("\4\0\0\0", 4));
    // A context belongs to the handle it started on.
    EXPECT_EQ(read(other.handle.get(), 20, &context), Err(ERROR_INVALID_PARAMETER));
    // A walk ended early: the abort call frees its context (a leak shows in the sanitised build).
    EXPECT_EQ(end(&context), 0);
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(read(h, 20, &unknown), Err(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(end(&unknown), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(end(&context), 0);
    // Handles that cannot be walked.
    EXPECT_EQ(read(noRead.handle.get(), 20, &context), Err(ERROR_ACCESS_DENIED));
    EXPECT_EQ(read(INVALID_HANDLE_VALUE, 20, &context), Err(ERROR_INVALID_HANDLE));
    EXPECT_EQ(context, nullptr);
}

}  // namespace
}  // namespace quarrow2::test

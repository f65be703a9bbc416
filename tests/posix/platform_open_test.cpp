// Which file and stream a path names, how it opens, the errors it leaves; handles, volumes.
#include <sched.h>
#include <sys/mount.h>
#include <sys/xattr.h>

#include <atomic>
#include <cstring>
#include <iostream>
#include <optional>
#include <thread>
#include <vector>

#include "platform_fixture.h"

namespace quarrow2::test {
namespace {

struct OpenCase {
    WString path;  // below the test's folder
    DWORD error;
    const char* value;  // read through the handle
    DWORD disposition = OPEN_ALWAYS;
    DWORD share = FILE_SHARE_READ;
    DWORD access = kReadWrite;
};

TEST(PlatformOpen, PathsAndDispositions) {
    TempDir dir;
    MakeFile(dir / "doc", "main content");
    SetRawStream(dir / "doc", "T", "value of T");
    MakeFile(dir / "a:b", "colon file");
    MakeFile(dir / "doc2:Author", "precious");
    // Not UTF-8: each stray byte is one unit U+DC80-U+DCFF.
    MakeFile(dir / "\xFF\xFEraw", "raw");
    SetRawStream(dir / "\xFF\xFEraw", "\xE9t\xE9", "latin");
    const WString raw = WString{0xDCFF, 0xDCFE} + W("raw");
    for (const char* name : {"x", "x:y", "back\\slash"}) MakeFile(dir / name);
    fs::create_directory(dir / "folder");
    const WString lone(1, static_cast<WCHAR>(0xD800));
    const DWORD exists = ERROR_ALREADY_EXISTS, bad = ERROR_INVALID_NAME;
    const DWORD tooLong = ERROR_FILENAME_EXCED_RANGE, invalid = ERROR_INVALID_PARAMETER;
    std::vector<OpenCase> cases = {
        {W("doc:U"), ERROR_FILE_NOT_FOUND, nullptr, OPEN_EXISTING},
        {W("doc:T"), 0, "value of T", OPEN_EXISTING},
        {W("doc:T"), exists, "value of T"},
        {W("doc:T:$DATA"), exists, "value of T"},
        {W("doc:T:$DaTa"), exists, "value of T"},
        // Names are case-sensitive, as attribute names are.
        {W("doc:t"), 0, ""},
        // "F::$DATA" is the main stream; "F:$DATA" the stream named "$DATA".
        {W("doc::$DATA"), exists, "main content"},
        {W("doc:$DATA"), 0, ""},
        // The last colon separates, whatever exists: never the file "a:b" or "doc2:Author"
        // itself, whose main streams open as "::$DATA" (and by OpenFileItself, below).
        {W("a:b"), ERROR_FILE_NOT_FOUND, nullptr, OPEN_EXISTING},
        {W("doc2:Author"), ERROR_FILE_NOT_FOUND, nullptr, OPEN_EXISTING},
        {W("doc2:Author"), 0, ""},
        {W("doc:a:b"), 0, ""},
        {W("a:b:T"), 0, ""},
        {W("a:b::$DATA"), 0, "colon file", OPEN_EXISTING},
        // Both "x" and "x:y" exist.
        {W("x:y:T"), 0, ""},
        {W("x:y"), 0, ""},
        // Nothing exists: the last colon separates, after a ":$DATA" suffix is dropped.
        {W("new:T"), 0, ""},
        {W("new2:a:b"), 0, ""},
        {W("new3:T:$DATA"), 0, ""},
        // A missing name without a colon is the file itself, made where it was named.
        {W("made"), 0, ""},
        // Backslashes are ordinary characters of Linux names.
        {W("back\\slash:T"), 0, ""},
        // Folders carry named streams, as on NTFS, and those need no backup semantics.
        {W("folder:T"), 0, ""},
        {W("folder"), ERROR_ACCESS_DENIED, nullptr, OPEN_EXISTING, FILE_SHARE_READ, GENERIC_READ},
        // Legal for NTFS, too long for an attribute name; then the longest that fit.
        {W("doc:" + std::string(251, 'n')), tooLong, nullptr},
        {W("doc:") + WString(126, u'\u00e9'), tooLong, nullptr},
        {W("doc:" + std::string(250, 'n')), 0, ""},
        {W("doc:\xF0\x9F\x98\x80\xC3\xA9"), 0, ""},
        {raw + W(":") + WString{0xDCE9, 't', 0xDCE9}, 0, "latin", OPEN_EXISTING},
        {raw + W(":") + WString{0xDCFF}, 0, ""},
        {W("doc/inner:T"), ERROR_PATH_NOT_FOUND, nullptr},
        {W("nofile"), ERROR_FILE_NOT_FOUND, nullptr, OPEN_EXISTING},
        {W("nofile:T"), ERROR_FILE_NOT_FOUND, nullptr, OPEN_EXISTING},
    };
    // Only the two dispositions the library opens with; none that replaces or empties.
    for (DWORD disposition : std::vector<DWORD>{CREATE_NEW, CREATE_ALWAYS, TRUNCATE_EXISTING, 0, 6})
        cases.push_back({W("doc:T"), invalid, nullptr, disposition});
    cases.push_back({W("doc:T"), invalid, nullptr, OPEN_ALWAYS, 8});
    // Names NTFS refuses; separators never lead to another file, made or opened. Escapes
    // that spell UTF-8 ("\xC3\xA9") would come back as the character they spell.
    for (const WString& name : {W("doc:"), W("doc:") + WString{0xDCC3, 0xDCA9}, W("doc:../victim"),
                                W("doc:x/../../victim"), W("doc:/victim"), W("doc:../victim:T"),
                                W("doc:a\\b"), W("doc:."), W("doc:.."), W("doc:x") + lone,
                                W("f") + lone + W(":T"), W("doc:" + std::string(256, 'n'))})
        cases.push_back({name, bad, nullptr});
    for (const OpenCase& c : cases) {
        const WString path = PathW(dir.path()) + W("/") + c.path;
        SCOPED_TRACE(Narrow(c.path) + " disposition " + std::to_string(c.disposition));
        Opened opened = Open(path, c.access, c.share, c.disposition);
        EXPECT_EQ(opened.error, c.error);
        EXPECT_EQ(opened.ok(), c.value != nullptr);
        if (c.value) {
            EXPECT_EQ(GetValue(opened.handle.get()), c.value);
        } else if (c.error != invalid && c.path.find(u':') != WString::npos) {
            EXPECT_EQ(ErrorOf(DeleteFileW(path.c_str())), c.error);
        }
    }
    EXPECT_EQ(Snapshot(dir.path()),
              "a:b [colon file] T=\nback\\slash [] T=\ndoc [main content] $DATA= "
              "T=value of T " +
                  std::string(250, 'n') +
                  "= t= \xF0\x9F\x98\x80\xC3\xA9=\ndoc2 [] Author=\ndoc2:Author [precious]\n"
                  "doc:a [] b=\nfolder T=\nmade []\nnew [] T=\nnew2:a [] b=\nnew3 [] T=\nx [] "
                  "y=\nx:y [] T=\n\xFF\xFEraw [raw] \xE9t\xE9=latin \xFF=\n");
    // The file or folder itself, whole, as the walk and Exists open it; nothing that waits.
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0666), 0);
    for (const auto& [name, error] :
         std::vector<std::pair<WString, DWORD>>{{W("a:b"), 0},
                                                {W("doc2:Author"), 0},
                                                {W("folder"), 0},
                                                {raw, 0},
                                                {W("a"), ERROR_FILE_NOT_FOUND},
                                                {W("fifo"), ERROR_ACCESS_DENIED},
                                                {W("x") + lone, ERROR_INVALID_NAME}}) {
        SetLastError(0xBAD);
        platform::UniqueHandle whole(OpenFileItself((PathW(dir.path()) + W("/") + name).c_str()));
        EXPECT_EQ(GetLastError(), error) << Narrow(name);
        EXPECT_EQ(whole.valid(), error == 0) << Narrow(name);
    }
    EXPECT_EQ(Open(W(""), GENERIC_READ, 0, OPEN_EXISTING).error, DWORD{ERROR_PATH_NOT_FOUND});
    SetLastError(0);
    EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});

    // A stream made holding its first content; one that is there keeps its own; a file is
    // never made holding one, nor a content an attribute cannot hold.
    const std::string first = "first", huge(65536, 'h');
    struct Holding {
        const char* path;
        const std::string& initial;
        DWORD error;
        std::optional<std::string> stored;  // the attribute afterwards, of "held" or "doc"
    };
    for (const Holding& c :
         {Holding{"held:T", first, 0, first}, Holding{"doc:T", first, exists, "value of T"},
          Holding{"held2", first, invalid, std::nullopt},
          Holding{"doc:Big", huge, invalid, std::nullopt}}) {
        SCOPED_TRACE(c.path);
        const WString path = PathW(dir.path()) + W("/") + W(c.path);
        SetLastError(0xBAD);
        platform::UniqueHandle held(CreateStreamHolding(path.c_str(), kReadWrite, FILE_SHARE_READ,
                                                        c.initial.data(),
                                                        static_cast<DWORD>(c.initial.size())));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(held.valid(), c.error != invalid);
        if (held.valid()) {
            EXPECT_EQ(GetValue(held.get()), *c.stored);
        }
        const std::string name(c.path);
        const size_t colon = name.find(':');
        if (colon != name.npos) {
            EXPECT_EQ(RawStream(dir / name.substr(0, colon), name.substr(colon + 1)), c.stored);
        } else {
            EXPECT_FALSE(fs::exists(dir / name));
        }
    }
}

TEST(PlatformOpen, MainStreamsFoldersAndHandles) {
    TempDir dir;
    MakeFile(dir / "doc", "0123456789");
    Steps(dir / "doc", "", {GENERIC_READ, GENERIC_WRITE})
        .Run({
            {0, 'R', 4, 4, "", "4567"},
            {0, 'R', 8, 4, "", "89"},
            {0, 'R', 10, 4, "", ""},
            {1, 'W', 0, 0, "abcdef", kOk},
            {1, 'E', 4, 0, "", kOk, "abcd"},
        });
    Opened writer = Open(PathW(dir / "doc"), GENERIC_WRITE, 0, OPEN_EXISTING);
    DWORD got = 0;
    ASSERT_TRUE(WriteFile(writer.handle.get(), "abcdef", 6, &got, nullptr));
    EXPECT_EQ(SetFilePointer(writer.handle.get(), -2, nullptr, FILE_CURRENT), 4u);
    writer.handle.reset();

    // Sizes past 32 bits come with their high half.
    MakeFile(dir / "big");
    fs::resize_file(dir / "big", (uint64_t{5} << 32) + 3);
    Opened big = OpenReader(PathW(dir / "big"));
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(big.handle.get(), &high), 3u);
    EXPECT_EQ(high, 5u);
    LONG moveHigh = -1;  // the high half of a 64-bit distance of -1
    EXPECT_EQ(SetFilePointer(big.handle.get(), -1, &moveHigh, FILE_END), 2u);
    EXPECT_EQ(moveHigh, 5);
    EXPECT_EQ(SetFilePointer(big.handle.get(), 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(SetFilePointer(big.handle.get(), -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NEGATIVE_SEEK});

    // Folders open only with backup semantics, have no content, and are never removed.
    fs::create_directory(dir / "folder");
    Opened folder = Open(PathW(dir / "folder"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS);
    EXPECT_EQ(GetFileSize(folder.handle.get(), nullptr), 0u);
    char buffer[4];
    EXPECT_EQ(ErrorOf(ReadFile(folder.handle.get(), buffer, 1, &got, nullptr)),
              ERROR_INVALID_FUNCTION);
    EXPECT_EQ(PutValue(OpenItem(StreamW(dir / "folder", "T")).handle.get(), "on a folder"), 0u);
    EXPECT_EQ(RawStream(dir / "folder", "T"), "on a folder");
    EXPECT_EQ(ErrorOf(DeleteFileW(PathW(dir / "folder").c_str())), ERROR_ACCESS_DENIED);

    for (HANDLE bad : {INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr),
                       reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x10004)),
                       reinterpret_cast<HANDLE>(buffer)}) {
        EXPECT_EQ(ErrorOf(ReadFile(bad, buffer, 4, &got, nullptr)), ERROR_INVALID_HANDLE);
        EXPECT_EQ(ErrorOf(WriteFile(bad, buffer, 4, &got, nullptr)), ERROR_INVALID_HANDLE);
        EXPECT_EQ(GetFileSize(bad, nullptr), INVALID_FILE_SIZE);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
        EXPECT_EQ(ErrorOf(LockFile(bad, 0, 0, 1, 0)), ERROR_INVALID_HANDLE);
        EXPECT_EQ(ErrorOf(CloseHandle(bad)), ERROR_INVALID_HANDLE);
    }
    // Handles are multiples of 4; a closed one stays invalid, its value never handed out again.
    Opened first = OpenReader(PathW(dir / "doc")), second = OpenReader(PathW(dir / "doc"));
    HANDLE h = first.handle.get();
    EXPECT_EQ(
        (reinterpret_cast<uintptr_t>(h) | reinterpret_cast<uintptr_t>(second.handle.get())) % 4,
        0u);
    first.handle.reset();
    EXPECT_EQ(ErrorOf(CloseHandle(h)), ERROR_INVALID_HANDLE);
    EXPECT_NE(OpenReader(PathW(dir / "doc")).handle.get(), h);

    // A named stream's handle stays with its file when another takes its path, and holds the
    // same descriptors however many calls it makes.
    const auto descriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    MakeFile(dir / "kept");
    SetRawStream(dir / "kept", "T", "zero");
    Opened kept = OpenItem(StreamW(dir / "kept", "T"), OPEN_EXISTING);
    ASSERT_TRUE(kept.ok());
    const auto held = descriptors();
    fs::rename(dir / "kept", dir / "moved");
    MakeFile(dir / "kept");
    SetRawStream(dir / "kept", "T", "impostor");
    for (const std::string value : {"one", "two", "three", "four"}) {
        EXPECT_EQ(PutValue(kept.handle.get(), value), 0u);
        EXPECT_EQ(GetValue(kept.handle.get()), value);
        EXPECT_EQ(RawStream(dir / "moved", "T"), value);
        EXPECT_EQ(descriptors(), held) << value;
    }
    EXPECT_EQ(RawStream(dir / "kept", "T"), "impostor");
}

// The error and flags of a volume query; a success must give streams, case, 255 and no label.
std::pair<long, DWORD> Query(const WCHAR* root, DWORD nameSize = MAX_PATH) {
    WCHAR name[MAX_PATH] = {}, label[MAX_PATH] = {u'x'};
    DWORD maxComponent = 0, flags = 0;
    long error = ErrorOf(GetVolumeInformationW(root, label, MAX_PATH, nullptr, &maxComponent,
                                               &flags, name, nameSize));
    const DWORD expected = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES |
                           FILE_UNICODE_ON_DISK | FILE_NAMED_STREAMS;
    EXPECT_TRUE(error || (label[0] == 0 && maxComponent == 255 && name[0] &&
                          (flags & expected) == expected));
    return {error, flags};
}

// Roots that name a Linux path, and drive, UNC and relative roots, which name none.
TEST(PlatformOpen, Volumes) {
    TempDir dir;
    MakeFile(dir / "doc");
    const WString doc = PathW(dir / "doc"), surrogate(1, static_cast<WCHAR>(0xDC00));
    for (const auto& [root, error] : std::vector<std::pair<WString, long>>{
             {doc + W("\\"), 0},
             {PathW(dir / "missing" / "deeper" / "file.txt") + W("\\"), 0},
             // Cut in the middle of a name, as a 244-character root can be.
             {doc.substr(0, doc.size() - 1) + W("\\"), 0},
             {W("C:\\"), ERROR_PATH_NOT_FOUND},
             {W("relative\\"), ERROR_PATH_NOT_FOUND},
             {W("\\\\server\\share\\"), ERROR_PATH_NOT_FOUND},
             {W("C:"), ERROR_INVALID_NAME},
             {W("C:r"), ERROR_INVALID_NAME},
             {PathW(dir.path()), ERROR_INVALID_NAME},
             {W("/tmp/") + surrogate + W("\\"), ERROR_INVALID_NAME},
         }) {
        const auto [got, flags] = Query(root.c_str());
        EXPECT_TRUE(got == error && (!error || !flags)) << Narrow(root) << " " << got;
    }
    // An empty root probes the current folder; a name buffer too small for the name.
    const WString here = PathW(fs::current_path()) + W("\\"), empty = W("\\");
    EXPECT_EQ(Query(nullptr), Query(here.c_str()));
    EXPECT_EQ(Query(empty.c_str()), Query(here.c_str()));
    EXPECT_EQ(Query(here.c_str(), 2).first, ERROR_MORE_DATA);
    // A file system without user attributes is named, and has no named streams.
    WCHAR name[MAX_PATH] = {};
    DWORD flags = FILE_NAMED_STREAMS;
    EXPECT_TRUE(GetVolumeInformationW(W("/proc/self/status\\").c_str(), nullptr, 0, nullptr,
                                      nullptr, &flags, name, MAX_PATH));
    EXPECT_EQ(Narrow(WString(name)) + " " + std::to_string(flags & FILE_NAMED_STREAMS), "proc 0");

    // Threads asking at once, of one mount and of others, get what one thread gets.
    const WString roots[] = {doc + W("\\"), here, W("/proc/self/status\\")};
    const auto flagsOf = [](const WString& root) {
        DWORD flags = 0;
        GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0);
        return flags;
    };
    std::vector<DWORD> alone;
    for (const WString& root : roots) alone.push_back(flagsOf(root));
    std::atomic<int> differing{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int round = 0; round < 200; ++round)
                for (size_t i = 0; i < std::size(roots); ++i)
                    if (flagsOf(roots[i]) != alone[i]) ++differing;
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(differing.load(), 0);

    // platform::Answers are kept per mount, yet a read-only bind mount of the same device answers
    // for itself, and a remount read-only and back is seen at once.
    const std::string remounts = RunInChild([&]() -> std::string {
        const fs::path rw = dir / "rw", ro = dir / "ro";
        fs::create_directory(rw);
        fs::create_directory(ro);
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", rw.c_str(), "tmpfs", 0, nullptr) != 0 ||
            mount(rw.c_str(), ro.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, ro.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            return "skip: no private tmpfs mounts: " + std::string(std::strerror(errno));
        const auto seen = [](const fs::path& at) -> std::string {
            DWORD flags = 0;
            const WString root = PathW(at / "file") + W("\\");
            GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0);
            return flags & FILE_READ_ONLY_VOLUME ? "ro " : "rw ";
        };
        std::string answers = seen(rw) + seen(ro) + seen(rw) + seen(ro);
        mount(nullptr, rw.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
        answers += seen(rw);
        mount(nullptr, rw.c_str(), nullptr, MS_REMOUNT, nullptr);
        return answers + seen(rw) + seen(ro);
    });
    if (remounts.rfind("skip: ", 0) == 0)
        std::cout << "[ skipped  ] " << remounts.substr(6) << std::endl;
    else
        EXPECT_EQ(remounts, "rw ro rw ro ro rw ro ");
}

// Where a new item lands, by the markers of a folder tree on a tmpfs of its own, reached
// directly, through links, bind mounts and an overlay: "user.T", Samba's attribute, or the
// error. Each row runs in a process of its own, so that no answer kept from another path to
// the same folder decides it.
struct LayoutCase {
    const char* path;  // below the test's folder
    const char* landed;
    const char* variable = nullptr;  // QUARROW2_LAYOUT
    bool hideWhole = false;          // the tmpfs's own mount covered first, as in a container
};

TEST(PlatformOpen, LayoutsFollowTheNearestMarkedFolderThroughEveryMount) {
    TempDir dir;
    const char *native = "user.T", *samba = "user.DosStream.T:$DATA";
    const std::string refused = Err(ERROR_BAD_ENVIRONMENT);
    const std::vector<LayoutCase> cases = {
        {"fs/srv/share/doc.txt", samba},
        {"fs/srv/share", samba},  // a folder, by its own marker
        {"fs/srv/share/sub/deep.txt", samba},
        {"fs/srv/share/sub/new.txt", samba},  // made in its folder
        {"fs/srv/share/plain", native},
        {"fs/srv/share/plain/p.txt", native},
        {"fs/home/alice/notes.txt", native},
        {"fs/home/alice/link", samba},  // to fs/srv/share/linked.txt
        {"fs/home/bad/b.txt", refused.c_str()},
        {"fs/home/alice/env.txt", samba, "samba"},
        {"fs/srv/share/env.txt", native, "native"},
        {"view/deep2.txt", samba},                          // a bind mount of fs/srv/share/sub
        {"container/sub/deep3.txt", samba, nullptr, true},  // one of fs/srv/share
        {"view/deep4.txt", samba, nullptr, true},           // seen through container/sub
        {"merged/lower.txt", samba},  // overlayfs over fs/lower, marked through the overlay
        {"merged/dir", samba},
        {"merged/new.txt", samba},
    };
    const fs::path whole = dir / "fs";
    const std::string report = RunInChild([&]() -> std::string {
        for (const char* folder : {"fs", "view", "container", "merged"})
            fs::create_directory(dir / folder);
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", whole.c_str(), "tmpfs", 0, nullptr) != 0 ||
            setxattr(whole.c_str(), "user.probe", "x", 1, 0) != 0)
            return "skip: no private tmpfs with user attributes: " + std::string(strerror(errno));
        for (const char* folder : {"srv/share/sub", "srv/share/plain", "home/alice", "home/bad",
                                   "lower/dir", "upper", "work"})
            fs::create_directories(whole / folder);
        for (const char* file :
             {"srv/share/doc.txt", "srv/share/sub/deep.txt", "srv/share/linked.txt",
              "srv/share/plain/p.txt", "home/alice/notes.txt", "home/bad/b.txt",
              "home/alice/env.txt", "srv/share/env.txt", "srv/share/sub/deep2.txt",
              "srv/share/sub/deep3.txt", "srv/share/sub/deep4.txt", "lower/lower.txt"})
            MakeFile(whole / file);
        fs::create_symlink("../../srv/share/linked.txt", whole / "home/alice/link");
        for (const auto& [folder, word] : {std::pair{"srv/share", "samba"},
                                           {"srv/share/plain", "native"},
                                           {"home/bad", "Samba"}})
            setxattr((whole / folder).c_str(), "user.quarrow2.layout", word, strlen(word), 0);
        const std::string layers = "lowerdir=" + (whole / "lower").string() +
                                   ",upperdir=" + (whole / "upper").string() +
                                   ",workdir=" + (whole / "work").string();
        const bool overlay =
            mount("overlay", (dir / "merged").c_str(), "overlay", 0, layers.c_str()) == 0 &&
            setxattr((dir / "merged").c_str(), "user.quarrow2.layout", "samba", 5, 0) == 0;
        if (mount((whole / "srv/share/sub").c_str(), (dir / "view").c_str(), nullptr, MS_BIND,
                  nullptr) != 0 ||
            mount((whole / "srv/share").c_str(), (dir / "container").c_str(), nullptr, MS_BIND,
                  nullptr) != 0)
            return "skip: no bind mounts: " + std::string(strerror(errno));
        std::string wrong;
        for (const LayoutCase& c : cases) {
            if (!overlay && std::string(c.path).rfind("merged", 0) == 0) continue;
            const std::string landed = RunInChild([&]() -> std::string {
                if (c.variable) setenv("QUARROW2_LAYOUT", c.variable, 1);
                if (c.hideWhole && (unshare(CLONE_NEWNS) != 0 ||
                                    mount("tmpfs", whole.c_str(), "tmpfs", 0, nullptr) != 0))
                    return "the tmpfs could not be hidden";
                const Opened opened = OpenItem(StreamW(dir / c.path, "T"));
                if (!opened.ok()) return Err(opened.error);
                for (const char* name : {"user.T", "user.DosStream.T:$DATA"})
                    if (getxattr((dir / c.path).c_str(), name, nullptr, 0) >= 0) return name;
                return "nowhere";
            });
            if (landed != c.landed) wrong += std::string(c.path) + ": " + landed + "; ";
        }
        return wrong + (overlay ? "" : "skip: overlayfs cannot be mounted here");
    });
    if (report.find("skip: ") != std::string::npos)
        std::cout << "[ skipped  ] " << report.substr(report.find("skip: ") + 6) << std::endl;
    EXPECT_EQ(report.substr(0, report.find("skip: ")), "");
}

}  // namespace
}  // namespace quarrow2::test

// Items, Types and Length on real and read-only files: the "user." attributes, the failures.
#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

#include "platform_fixture.h"
#include "store/module_lock.h"
#include "portable/file_fixture.h"
#include "portable/file_properties_fixture.h"
#include "portable/metadata_fixture.h"

namespace quarrow2::test {
namespace {

using FileItems = BoundFileTest;

TEST_F(FileItems, AddOpenAndTheirFailuresOnRealFiles) {
    ComPtr<IFile> other = NewFile();
    ASSERT_TRUE(Bind(other.get(), path));

    // Add of a new type stores the empty value; of an existing one, keeps its bytes (below).
    ComPtr<IMetaData> author = Add(file.get(), "Author").item;
    ASSERT_TRUE(author);
    EXPECT_EQ(UserAttribute(path, "Author"), EmptyValueMarker());
    EXPECT_EQ(TextOf(author.get()), "");
    EXPECT_EQ(LengthOf(author.get()), 32);

    // A held item keeps out other items of its stream, also of another File, until let go.
    ExpectFileFailure(Add(other.get(), "Author"), "Unable to add metadata.",
                      ERROR_SHARING_VIOLATION);
    ASSERT_EQ(PutText(author.get(), "Jane"), S_OK);
    author.reset();
    ComPtr<IMetaData> again = Add(other.get(), "Author").item;
    ASSERT_TRUE(again);
    EXPECT_EQ(TextOf(again.get()), "Jane");
    // Items outlive Close and release of their File.
    ASSERT_EQ(other->Close(), S_OK);
    ExpectFileFailure(Open(other.get(), "Author"), "No file path assigned.");
    ASSERT_EQ(PutText(again.get(), "after close"), S_OK);
    other.reset();
    EXPECT_EQ(TextOf(again.get()), "after close");
    EXPECT_EQ(UserAttribute(path, "Author"), Utf16Bytes("after close"));
    EXPECT_EQ(FileContent(path), "contents");

    // Neither makes a missing folder; Add makes a missing file (Open: tests of hostile input).
    ASSERT_TRUE(Bind(file.get(), dir / "no-folder" / "missing.doc"));
    ExpectFileFailure(Open(file.get(), "Author"), "Unable to open metadata.", ERROR_PATH_NOT_FOUND);
    ExpectFileFailure(Add(file.get(), "Author"), "Unable to add metadata.", ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Tree(dir.path()), std::vector<std::string>{"report.doc"});
    const fs::path fresh = dir / "fresh.doc";
    ASSERT_TRUE(Bind(file.get(), fresh));
    const mode_t old = umask(027);
    ComPtr<IMetaData> added = Add(file.get(), "Author").item;
    umask(old);
    ASSERT_TRUE(added);
    EXPECT_EQ(fs::symlink_status(fresh).type(), fs::file_type::regular);
    EXPECT_EQ(fs::status(fresh).permissions(), fs::perms(0640));
    EXPECT_EQ(FileContent(fresh), "");
    EXPECT_EQ(UserAttribute(fresh, "Author"), EmptyValueMarker());
}

// Another program that polls the attribute while items are added and deleted finds it
// missing or holding the empty value's stored form, never empty: Add makes it holding that.
TEST_F(FileItems, AnAddedItemIsNeverSeenEmptyByAnotherReader) {
    constexpr int kRounds = 2000;
    Bytes sambaMarker = EmptyValueMarker();
    sambaMarker.push_back(0);
    const struct {
        const char* layout;
        const char* attribute;
        Bytes stored;
    } rows[] = {{"native", "T", EmptyValueMarker()}, {"samba", "DosStream.T:$DATA", sambaMarker}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.layout);
        const fs::path folder = dir / row.layout, doc = folder / "doc";
        fs::create_directory(folder);
        SetRawStream(folder, "quarrow2.layout", row.layout);
        MakeFile(doc);
        ComPtr<IFile> bound = NewFile();
        ASSERT_TRUE(Bind(bound.get(), doc));
        std::atomic<bool> adding{true};
        size_t present = 0;
        std::optional<Bytes> wrong;
        std::thread reader([&] {
            while (adding && !wrong) {
                std::optional<Bytes> value = UserAttribute(doc, row.attribute);
                if (value && *value != row.stored) wrong = std::move(value);
                present += value.has_value();
            }
        });
        HRESULT failed = S_OK;
        for (int round = 0; round < kRounds && failed == S_OK; ++round) {
            ItemOutcome added = Add(bound.get(), "T");
            failed = added.item ? added.item->Delete() : added.hr;
        }
        adding = false;
        reader.join();
        EXPECT_EQ(failed, S_OK);
        EXPECT_FALSE(wrong) << "a value of " << wrong->size() << " bytes, the item seen " << present
                            << " times";
        EXPECT_EQ(UserAttribute(doc, row.attribute), std::nullopt);
    }
}

const std::string kJane("J\0a\0n\0e\0", 8);

// Author = "Jane" and T = "stored" of `report`, tried every way: one line, as a child reports.
std::string TryEveryWay(const fs::path& report) {
    // One call with effects a statement, so that they come in this order.
    const WString stream = StreamW(report, "T");
    std::string line = "rw open=" + std::to_string(OpenItem(stream).error) +
                       " | delete=" + std::to_string(ErrorOf(DeleteFileW(stream.c_str())));
    line += " | T=" + RawStream(report, "T").value_or("absent");

    ComPtr<IFile> file = NewFile();
    line += std::string(" | streams=") + (Bind(file.get(), report) ? "yes" : "no");
    ItemOutcome author = Add(file.get(), "Author");
    line += " | add=" +
            (author.item ? "ok | text=" + TextOf(author.item.get()) : author.error.description);
    if (author.item) {
        SetErrorInfo(0, nullptr);
        line += " | put=" + std::to_string(PutText(author.item.get(), "Joan"));
        const RichError error = TakeRichError();
        line += " " + error.description + " from " + error.source;
    }
    author.item.reset();
    ItemOutcome opened = Open(file.get(), "Author");
    line += " | open=" + (opened.item ? TextOf(opened.item.get()) : opened.error.description);
    opened.item.reset();
    line += " | fresh=" + Add(file.get(), "Fresh").error.description;
    line += " | Author kept=" + std::to_string(RawStream(report, "Author") == kJane) +
            " Fresh=" + RawStream(report, "Fresh").value_or("absent");
    return OneLine(line);
}

// Every change refused for the reason `code`.
std::string Expected(DWORD code) {
    const std::string denied = std::to_string(code), text = Narrow(SystemText(code));
    return OneLine("rw open=" + denied + " | delete=" + denied +
                   " | T=stored | streams=yes | add=ok | text=Jane | put=" +
                   std::to_string(E_FAIL) + " Unable to put text. " + text +
                   " from Quarrow2.MetaData.1 | open=Jane | fresh=Unable to add metadata. " + text +
                   " | Author kept=1 Fresh=absent");
}

// Root writes anywhere, so a child makes the file immutable, mounts it read-only, or gives up root.
using FileReadOnly = BoundFileTest;

TEST_F(FileReadOnly, ImmutableFileReadOnlyMountAndNoWritePermission) {
    SetRawStream(path, "Author", kJane);
    SetRawStream(path, "T", "stored");
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    const std::function<std::string()> ways[] = {
        [&]() -> std::string {
            // The flag stays on disk after the child, so it is taken back.
            UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
            int flags = 0, immutable = 0;
            if (ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0 ||
                (immutable = flags | FS_IMMUTABLE_FL,
                 ioctl(fd.get(), FS_IOC_SETFLAGS, &immutable) != 0))
                return "skip: cannot make a file immutable: " + std::string(std::strerror(errno));
            const std::string outcome = TryEveryWay(path);
            ioctl(fd.get(), FS_IOC_SETFLAGS, &flags);
            return outcome;
        },
        [&]() -> std::string {
            // A bind mount in a private namespace, which goes with the child.
            const char* folder = dir.path().c_str();
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount(folder, folder, nullptr, MS_BIND, nullptr) != 0 ||
                mount(nullptr, folder, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
                return "skip: no read-only bind mount: " + std::string(std::strerror(errno));
            DWORD flags = 0;
            const WString root = PathW(path) + W("\\");
            GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0);
            return flags & FILE_READ_ONLY_VOLUME ? TryEveryWay(path) : "no read-only volume";
        },
        [&]() -> std::string {
            // An ordinary user may not write another's file.
            if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                return "skip: cannot become an ordinary user";
            return TryEveryWay(path);
        }};
    size_t skipped = 0;
    for (size_t i = 0; i < std::size(ways); ++i) {
        SCOPED_TRACE("way " + std::to_string(i));
        const std::string outcome = RunInChild(ways[i]);
        if (outcome.rfind("skip: ", 0) == 0 && ++skipped)
            std::cout << "[ skipped  ] " << outcome.substr(6) << std::endl;
        else
            EXPECT_EQ(outcome, Expected(i == 1 ? ERROR_WRITE_PROTECT : ERROR_ACCESS_DENIED));
        EXPECT_EQ(UserAttributeNames(path), (std::set<std::string>{"Author", "T"}));
    }
    if (skipped == std::size(ways)) GTEST_SKIP() << "no way to make a file read-only here";
}

// IFile2 on real files: each cause its own status, "no item" only for a missing item, a
// folder however spelt (never the file ":T" in it), names no item can have listed as such
// and never read as another, an item held open elsewhere read all the same.
TEST(FileExtension, ListingAndReadsNameEveryCause) {
    TempDir dir;
    const fs::path report = dir / "report.doc", folder = dir / "folder", secret = dir / "secret";
    MakeFile(report, "contents");
    if (!SetUserAttribute(report, "Text", Utf16Bytes("Jane")))
        GTEST_SKIP() << "no user extended attributes on " << dir.path();
    for (const auto& [name, value] : {std::pair<std::string, std::string>{"Bytes", "\x01\x02\x03"},
                                      {"Empty", Raw(EmptyValueMarker())},
                                      {"x", std::string("B\0", 2)},
                                      {"x:$DATA", "A"},
                                      {"a:b", "A"}})
        SetRawStream(report, name, value);
    std::string listing;  // the file system's order, sizes as stored
    std::vector<std::string> types;
    for (const std::string& raw : RawAttributeNames(report)) {
        const std::string name = raw.substr(5);
        const size_t size = UserAttribute(report, name)->size();
        const bool item = name.find(':') == name.npos;
        listing +=
            (listing.empty() ? "" : ", ") + name + " " + (item ? std::to_string(size) : "null");
        if (item) types.push_back(name);
    }
    // IFile's Types leaves the names that no item can have out.
    EXPECT_EQ(TypesOf(PathW(report)), types);
    MakeFile(dir / "empty.doc");
    fs::create_directory(folder);
    SetRawStream(folder, "T", std::string("F\0", 2));
    MakeFile(folder / ":T", "precious");
    MakeFile(secret, "s");
    SetRawStream(secret, "T", std::string("S\0", 2));
    ASSERT_EQ(chmod(secret.c_str(), 0), 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0666), 0);
    // Links at the end of a path: read through what they name, in its folder's layout.
    const fs::path samba = dir / "samba";
    fs::create_directory(samba);
    SetRawStream(samba, "quarrow2.layout", "samba");
    MakeFile(samba / "shared.doc");
    SetRawStream(samba / "shared.doc", "DosStream.T:$DATA", std::string("S\0\0", 3));
    for (const auto& [link, target] : {std::pair<const char*, fs::path>{"link.doc", report},
                                       {"to-samba.doc", samba / "shared.doc"},
                                       {"to-fifo", dir / "fifo"},
                                       {"dangling", dir / "gone"}})
        fs::create_symlink(target, dir / link);
    const std::string before = Snapshot(dir.path());

    const char kText[] = "Unable to get text.", kList[] = "Unable to list metadata.";
    const std::string noItem =
        FailedFor(ERROR_NOT_FOUND, kText, "The file has no item of this type.");
    auto both = [&](DWORD code) {
        return std::pair{FailedFor(code, kText), FailedFor(code, kList)};
    };
    struct Row {
        WString path;
        std::string type;
        std::pair<std::string, std::string> expected;  // ReadText's, Items'
        const char* layout = nullptr;
    };
    const std::vector<Row> rows = {
        {PathW(report), "Text", {"Jane", listing}},
        {PathW(report), "Empty", {"", listing}},
        // Never the other program's "x:$DATA": its ":$DATA" is the kind of the stream x.
        {PathW(report), "x", {"B", listing}},
        {PathW(report), "x:$DATA", {"B", listing}},
        {PathW(report), "Missing", {noItem, listing}},
        {PathW(report), "a/b", {FailedFor(ERROR_INVALID_NAME, kText), listing}},
        {PathW(dir / "empty.doc"), "T", {noItem, ""}},
        {PathW(dir / "missing.doc"), "T", both(ERROR_FILE_NOT_FOUND)},
        {PathW(dir / "none" / "missing.doc"), "T", both(ERROR_PATH_NOT_FOUND)},
        {PathW(dir / "fifo"), "T", both(ERROR_ACCESS_DENIED)},
        {PathW(folder), "T", {"F", "T 2"}},
        {PathW(folder) + W("/"), "T", {"F", "T 2"}},
        {PathW(folder) + W("/."), "T", {"F", "T 2"}},
        {PathW(folder) + W("//"), "T", {"F", "T 2"}},
        {PathW(folder) + W("/"), "T:$DATA", {"F", "T 2"}},
        {PathW(report) + W("/"), "T", both(ERROR_PATH_NOT_FOUND)},
        {PathW(dir / "link.doc"), "Text", {"Jane", listing}},
        {PathW(dir / "to-samba.doc"), "T", {"S", "T 2"}},
        {PathW(dir / "to-fifo"), "T", both(ERROR_ACCESS_DENIED)},
        {PathW(dir / "dangling"), "T", both(ERROR_FILE_NOT_FOUND)},
        // A layout word that names no layout: nothing is listed as empty.
        {PathW(report), "Text", both(ERROR_BAD_ENVIRONMENT), "Samba"},
        {PathW(folder), "T", both(ERROR_BAD_ENVIRONMENT), "samba\n"}};
    ComPtr<IFile> file = NewFile();
    const ComPtr<IFile2> extended = Extended(file.get());
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.path) + " " + row.type + " " + (row.layout ? row.layout : ""));
        if (row.layout) setenv("QUARROW2_LAYOUT", row.layout, 1);
        ASSERT_TRUE(Bind(file.get(), row.path));
        EXPECT_EQ(ReadTextOf(extended.get(), W(row.type)), row.expected.first);
        EXPECT_EQ(ItemsOf(extended.get()), row.expected.second);
        // The same bytes as data (the texts here are whole UTF-16), or the same failure.
        UniqueVariant data;
        std::string asData = row.expected.first;
        if (asData.find(kText) == 9) asData.replace(9, sizeof kText - 1, "Unable to get data.");
        EXPECT_EQ(Outcome(extended->ReadData(Bstr(row.type).get(), data.out()),
                          [&] { return Raw(metadata::ArrayBytes(*data)); }),
                  asData == row.expected.first ? Raw(Utf16Bytes(asData)) : asData);
        unsetenv("QUARROW2_LAYOUT");
    }

    // An item held open here, the file unreadable to an ordinary user: in another process.
    ASSERT_TRUE(Bind(file.get(), report));
    ComPtr<IMetaData> held = Open(file.get(), "Text").item;
    ASSERT_TRUE(held);
    const std::string elsewhere = RunInChild([&]() -> std::string {
        ComPtr<IFile> other = NewFile();
        const ComPtr<IFile2> reader = Extended(other.get());
        Bind(other.get(), report);
        std::string seen = ReadTextOf(reader.get(), W("Text")) + " | " +
                           Open(other.get(), "Text").error.description;
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return "cannot become an ordinary user";
        Bind(other.get(), secret);
        return OneLine(seen + " | " + ReadTextOf(reader.get(), W("T")) + " | " +
                       ItemsOf(reader.get()));
    });
    EXPECT_EQ(elsewhere,
              OneLine("Jane | " +
                      WithSystemText("Unable to open metadata.", ERROR_SHARING_VIOLATION) + " | " +
                      both(ERROR_ACCESS_DENIED).first + " | " + both(ERROR_ACCESS_DENIED).second));
    held.reset();
    EXPECT_EQ(Snapshot(dir.path()), before);
}

// A read right after a listing on the same thread, of the same path or another, whatever the
// path names by then: the answer a read with no listing before it gives, in the layout of
// the file read, never through a link a read would not follow, never from a FIFO.
TEST(FileExtension, ReadsAfterAListingWhateverTookTheFilesPlace) {
    TempDir dir;
    const fs::path native = dir / "native", samba = dir / "samba", report = native / "report.doc";
    const fs::path other = native / "other.doc", shared = samba / "shared.doc", made = dir / "made";
    fs::create_directory(native);
    MakeFile(other);
    if (!SetUserAttribute(other, "T", Utf16Bytes("Other")))
        GTEST_SKIP() << "no user extended attributes on " << dir.path();
    fs::create_directory(samba);
    SetRawStream(samba, "quarrow2.layout", "samba");
    SetRawStream(samba, "DosStream.T:$DATA", Raw(Utf16Bytes("Share")) + '\0');
    // Samba's item, and beside it an attribute of the native name, which is no item there.
    MakeFile(shared);
    SetRawStream(shared, "DosStream.T:$DATA", Raw(Utf16Bytes("Samba")) + '\0');
    SetRawStream(shared, "T", Raw(Utf16Bytes("Native")));
    auto replace = [&](auto make) {
        fs::remove(report);
        make();
        fs::rename(made, report);
    };
    auto withItem = [&](const fs::path& at, const char* value) {
        SetRawStream(at, "T", Raw(Utf16Bytes(value)));
    };
    const char kText[] = "Unable to get text.";
    struct Row {
        const char* change;
        fs::path listed, read;
        std::function<void()> swap;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"nothing", report, report, [] {}, "Jane"},
        {"the item removed", report, report, [&] { removexattr(report.c_str(), "user.T"); },
         FailedFor(ERROR_NOT_FOUND, kText, "The file has no item of this type.")},
        {"the file removed", report, report, [&] { fs::remove(report); },
         FailedFor(ERROR_FILE_NOT_FOUND, kText)},
        {"another file", report, report,
         [&] {
             replace([&] {
                 MakeFile(made);
                 withItem(made, "Another");
             });
         },
         "Another"},
        {"a folder", report, report,
         [&] {
             replace([&] {
                 fs::create_directory(made);
                 withItem(made, "Folder");
             });
         },
         "Folder"},
        {"a link to a file", report, report,
         [&] { replace([&] { fs::create_symlink(other, made); }); }, "Other"},
        {"a link to a Samba file", report, report,
         [&] { replace([&] { fs::create_symlink(shared, made); }); }, "Samba"},
        {"a FIFO", report, report, [&] { replace([&] { mkfifo(made.c_str(), 0666); }); },
         FailedFor(ERROR_ACCESS_DENIED, kText)},
        {"a link to a FIFO", report, report,
         [&] { replace([&] { fs::create_symlink(dir / "fifo", made); }); },
         FailedFor(ERROR_ACCESS_DENIED, kText)},
        // A Samba tree beside a native one: each file read in its own folder's layout.
        {"nothing", shared, shared, [] {}, "Samba"},
        {"nothing", samba, samba, [] {}, "Share"},
        {"nothing", shared, report, [] {}, "Jane"},
        {"nothing", report, shared, [] {}, "Samba"},
        {"nothing", samba, shared, [] {}, "Samba"}};
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0666), 0);
    ComPtr<IFile> lister = NewFile(), reader = NewFile();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.listed.string() + " listed, " + row.change + ", " + row.read.string() +
                     " read");
        fs::remove(report);
        MakeFile(report, "contents");
        withItem(report, "Jane");
        ASSERT_TRUE(Bind(lister.get(), row.listed) && Bind(reader.get(), row.read));
        EXPECT_NE(ItemsOf(Extended(lister.get()).get()), "");
        row.swap();
        EXPECT_EQ(ReadTextOf(Extended(reader.get()).get(), W("T")), row.expected);
        // The next read of the same path, and one with no listing before it, agree.
        EXPECT_EQ(ReadTextOf(Extended(reader.get()).get(), W("T")), row.expected);
        ASSERT_TRUE(Bind(lister.get(), dir / "fifo"));
        ItemsOf(Extended(lister.get()).get());
        EXPECT_EQ(ReadTextOf(Extended(reader.get()).get(), W("T")), row.expected);
    }
}

// In the file system's order, names whole up to the longest, the main stream never read.
TEST(DiscoveryRealFiles, ItemsOfOtherProgramsInListOrderWithTheirTotal) {
    TempDir dir;
    const auto file = dir / "report.doc";
    const WString path = PathW(file);
    MakeFile(file, std::string(1024 * 1024, 'M'));
    const LONG locks = store::ModuleLockCount();

    // Items as setfattr makes them: the empty-value marker counts 32 bytes, nothing 0.
    if (!SetUserAttribute(file, "Author", Bytes(10, 'j')))
        GTEST_SKIP() << "no user extended attributes on " << dir.path();
    ASSERT_TRUE(SetUserAttribute(file, "Keywords", Utf16Bytes("abc")));
    ASSERT_TRUE(SetUserAttribute(file, "Empty", EmptyValueMarker()));
    ASSERT_TRUE(SetUserAttribute(file, "Nothing", Bytes{}));
    // The longest names, 250 bytes after "user.", of one-, two- and four-byte characters;
    // all the names together longer than the listing's first read takes.
    std::string accented, wide = "ab";
    for (int i = 0; i < 125; ++i) accented += "\xC3\xA9";
    for (int i = 0; i < 62; ++i) wide += "\xF0\x9F\x93\x84";
    for (const std::string& name : {std::string(250, 'n'), std::string(250, 'o'), accented, wide})
        ASSERT_TRUE(SetUserAttribute(file, name, Bytes{'v'})) << "errno " << errno;
    std::vector<std::string> listed;
    for (const std::string& name : RawAttributeNames(file))
        if (name.rfind("user.", 0) == 0) listed.push_back(name.substr(5));

    // While another handle writes the main stream: no items, no error.
    {
        Opened writer = Open(path, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
        ASSERT_TRUE(writer.ok()) << "error " << writer.error;
        EXPECT_EQ(TypesOf(path), std::vector<std::string>{});
        EXPECT_EQ(LengthOf(path), 0);
    }
    EXPECT_EQ(store::ModuleLockCount(), locks);

    FileWatch watch(file, IN_ACCESS);
    if (!watch.ok()) GTEST_SKIP() << "inotify is not available";
    EXPECT_EQ(TypesOf(path), listed);
    EXPECT_EQ(LengthOf(path), 10 + 6 + 32 + 0 + 4);
    EXPECT_FALSE(watch.Saw()) << "the walk read the main stream";

    // The watch does see a read of the contents.
    std::ifstream(file, std::ios::binary).get();
    EXPECT_TRUE(watch.Saw());
}

}  // namespace
}  // namespace quarrow2::test

// What is not a regular file as the bound path: a FIFO without a writer, a socket, device
// nodes, a folder and symbolic links (to a file, to nothing, to a FIFO). No call waits,
// no call opens, reads or writes a FIFO, socket or device (inotify would see it), and
// each gives a clear answer; a link to a file is that file, a link to nothing stays so.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <list>

#include "file_attributes.h"
#include "platform_fixture.h"
#include "portable/file_fixture.h"

namespace quarrow2::test {
namespace {

// How long the calls on one kind of file may take before the child doing them is ended:
// far more than they need; only a call that waits forever reaches it.
constexpr unsigned kWatchdogSeconds = 60;

struct Expected {
    std::string label;
    fs::path path;
    bool exists;
    DWORD openCode;  // 0: Open succeeds
    DWORD addCode;   // 0: Add succeeds
    std::vector<std::string> types;
};

std::string Hr(HRESULT hr) {
    return std::to_string(static_cast<unsigned long>(static_cast<uint32_t>(hr)));
}

// Every call of File on the path, and of an item where one is handed out. Empty when each
// answer is the expected one, else the first that was not.
std::string CheckEveryCall(const Expected& e) {
    ComPtr<IFile> file = NewFile();
    UniqueBstr path = Bstr(e.path.string());
    VARIANT_BOOL supported = VARIANT_FALSE;
    if (file->SetFile(path.get(), &supported) != S_OK || supported != VARIANT_TRUE)
        return "SetFile: no named streams";
    VARIANT_BOOL exists = VARIANT_FALSE;
    if (file->get_Exists(&exists) != S_OK || (exists == VARIANT_TRUE) != e.exists)
        return "Exists answered " + std::to_string(exists);

    ItemOutcome opened = Open(file.get(), "T");
    const std::string openExpected =
        e.openCode ? WithSystemText("Unable to open metadata.", e.openCode) : "";
    if (opened.error.description != openExpected)
        return "Open: \"" + opened.error.description + "\"";
    ItemOutcome added = Add(file.get(), "T");
    const std::string addExpected =
        e.addCode ? WithSystemText("Unable to add metadata.", e.addCode) : "";
    if (added.error.description != addExpected) return "Add: \"" + added.error.description + "\"";
    if (added.item) {
        if (PutText(added.item.get(), "x") != S_OK) return "put on the added item failed";
        if (TextOf(added.item.get()) != "x") return "the added item reads another value";
    }

    ComPtr<IStrings> strings;
    if (HRESULT hr = file->get_Types(strings.out()); hr != S_OK) return "Types: " + Hr(hr);
    LONG count = -1;
    strings->get_Count(&count);
    std::vector<std::string> types;
    for (LONG i = 1; i <= count; ++i) {
        UniqueVariant v;
        strings->get_Item(i, v.out());
        types.push_back(v->vt == VT_BSTR ? Narrow(v->bstrVal) : "?");
    }
    if (types != e.types) return "Types listed " + std::to_string(types.size()) + " names";
    LONG length = -1;
    const LONG expectedLength = e.types.empty() ? 0 : 2;
    if (file->get_Length(&length) != S_OK || length != expectedLength)
        return "Length: " + std::to_string(length);
    if (added.item && added.item->Delete() != S_OK) return "Delete: " + TakeRichError().description;
    return std::string();
}

TEST(HostileSpecialFiles, NothingWaitsNothingTouchesADeviceEachAnswersClearly) {
    TempDir dir;
    const fs::path fifo = dir / "fifo";
    const fs::path socketPath = dir / "socket";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    {
        UniqueFd s(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    MakeFile(dir / "file", "contents");
    fs::create_directory(dir / "folder");
    fs::create_symlink("file", dir / "to-file");
    fs::create_symlink("nothing", dir / "to-nothing");
    fs::create_symlink("fifo", dir / "to-fifo");
    fs::create_symlink("loop-b", dir / "loop-a");
    fs::create_symlink("loop-a", dir / "loop-b");

    std::vector<Expected> kinds = {
        {"FIFO", fifo, false, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, {}},
        {"socket", socketPath, false, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, {}},
        {"link to a FIFO", dir / "to-fifo", false, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, {}},
        {"folder", dir / "folder", false, ERROR_FILE_NOT_FOUND, 0, {}},
        {"link to a file", dir / "to-file", true, ERROR_FILE_NOT_FOUND, 0, {"T"}},
        // Creating the item would create the link's target, a file the path does not name.
        {"link to nothing",
         dir / "to-nothing",
         false,
         ERROR_FILE_NOT_FOUND,
         ERROR_FILE_NOT_FOUND,
         {}},
        {"/dev/null", "/dev/null", false, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, {}},
        {"/dev/zero", "/dev/zero", false, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, {}},
    };
    std::vector<fs::path> watched = {fifo, socketPath};
    // Device nodes of our own, so that inotify sees only what this test does to them.
    for (const auto& [name, minor] : {std::pair<const char*, unsigned>{"null", 3}, {"zero", 5}}) {
        const fs::path node = dir / ("device-" + std::string(name));
        if (mknod(node.c_str(), S_IFCHR | 0666, makedev(1, minor)) != 0) {
            std::cout << "[ skipped  ] " << node.filename() << ": mknod needs root ("
                      << strerror(errno) << ")" << std::endl;
            continue;
        }
        kinds.push_back({"character device " + std::string(name),
                         node,
                         false,
                         ERROR_ACCESS_DENIED,
                         ERROR_ACCESS_DENIED,
                         {}});
        watched.push_back(node);
    }
    std::list<FileWatch> watches;
    for (const fs::path& path : watched) {
        watches.emplace_back(path, IN_ALL_EVENTS);
        ASSERT_TRUE(watches.back().ok()) << path;
    }

    for (const Expected& kind : kinds) {
        SCOPED_TRACE(kind.label);
        const std::string report = RunInChild([&] {
            alarm(kWatchdogSeconds);
            return CheckEveryCall(kind);
        });
        EXPECT_EQ(report, "");
    }
    for (FileWatch& watch : watches)
        EXPECT_FALSE(watch.Saw()) << "a FIFO, socket or device was opened, read or written";
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "nothing")));

    // A loop of links names no volume, so the File refuses items before any open; the
    // layer below refuses the stream for the loop's own reason.
    ComPtr<IFile> looped = NewFile();
    EXPECT_FALSE(Bind(looped.get(), dir / "loop-a"));
    for (DWORD disposition : {DWORD{OPEN_EXISTING}, DWORD{OPEN_ALWAYS}}) {
        Opened stream = OpenItem(StreamW(dir / "loop-a", "T"), disposition);
        EXPECT_FALSE(stream.ok());
        EXPECT_EQ(stream.error, disposition == OPEN_ALWAYS ? DWORD{ERROR_CANT_RESOLVE_FILENAME}
                                                           : DWORD{ERROR_FILE_NOT_FOUND});
    }
    EXPECT_EQ(FileContent(dir / "file"), "contents");
    EXPECT_TRUE(UserAttributeNames(dir / "file").empty());
    EXPECT_TRUE(UserAttributeNames(dir / "folder").empty());
}

}  // namespace
}  // namespace quarrow2::test

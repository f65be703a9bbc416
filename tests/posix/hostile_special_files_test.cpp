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

// Far more than the calls on one kind of file need; only a call that waits forever reaches it.
constexpr unsigned kWatchdogSeconds = 60;

// Every call of File on the path, and of the item Add hands out, as one line.
std::string EveryCall(const fs::path& path) {
    ComPtr<IFile> file = NewFile();
    std::string line = Bind(file.get(), path) ? "" : "no streams ";
    line += Exists(file.get()) ? "exists" : "absent";
    line += " | open: " + Open(file.get(), "T").error.description;
    ItemOutcome added = Add(file.get(), "T");
    line += " | add: " + added.error.description;
    if (added.item && (PutText(added.item.get(), "x") != S_OK || TextOf(added.item.get()) != "x"))
        line += " | the added item does not keep its value";
    ComPtr<IStrings> types;
    LONG count = -1, length = -1;
    if (file->get_Types(types.out()) != S_OK) return line + " | Types failed";
    types->get_Count(&count);
    line += " | types:";
    for (LONG i = 1; i <= count; ++i) {
        UniqueVariant v;
        types->get_Item(i, v.out());
        line += " " + (v->vt == VT_BSTR ? Narrow(v->bstrVal) : "?");
    }
    file->get_Length(&length);
    line += " | length " + std::to_string(length);
    if (added.item && added.item->Delete() != S_OK) line += " | Delete failed";
    return line;
}

// A child reports in lines: the line ends of the system's texts become '/'.
std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', '/');
    return text;
}

std::string Expected(bool exists, DWORD openCode, DWORD addCode, const std::string& types) {
    return std::string(exists ? "exists" : "absent") +
           " | open: " + (openCode ? WithSystemText("Unable to open metadata.", openCode) : "") +
           " | add: " + (addCode ? WithSystemText("Unable to add metadata.", addCode) : "") +
           " | types:" + types + " | length " + (types.empty() ? "0" : "2");
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

    const std::string denied = Expected(false, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, "");
    std::vector<std::pair<fs::path, std::string>> kinds = {
        {fifo, denied},
        {socketPath, denied},
        {dir / "to-fifo", denied},
        {dir / "folder", Expected(false, ERROR_FILE_NOT_FOUND, 0, "")},
        {dir / "to-file", Expected(true, ERROR_FILE_NOT_FOUND, 0, " T")},
        // Creating the item would create the link's target, a file the path does not name.
        {dir / "to-nothing", Expected(false, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND, "")},
        {"/dev/null", denied},
        {"/dev/zero", denied}};
    std::vector<fs::path> watched = {fifo, socketPath};
    // Device nodes of our own, so that inotify sees only what this test does to them.
    for (const auto& [name, minor] : {std::pair<const char*, unsigned>{"null", 3}, {"zero", 5}}) {
        const fs::path node = dir / ("device-" + std::string(name));
        if (mknod(node.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0) {
            kinds.emplace_back(node, denied);
            watched.push_back(node);
        } else {
            std::cout << "[ skipped  ] " << node << ": mknod needs root (" << strerror(errno) << ")"
                      << std::endl;
        }
    }
    std::list<FileWatch> watches;
    for (const fs::path& path : watched) {
        watches.emplace_back(path, IN_ALL_EVENTS);
        ASSERT_TRUE(watches.back().ok()) << path;
    }

    for (const auto& [path, expected] : kinds) {
        SCOPED_TRACE(path.string());
        EXPECT_EQ(RunInChild([&] {
                      alarm(kWatchdogSeconds);
                      return OneLine(EveryCall(path));
                  }),
                  OneLine(expected));
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

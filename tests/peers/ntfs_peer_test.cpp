// ntfs-3g as the peer: an NTFS image, written by Quarrow2 through the default mount (named
// streams as "user." attributes) and by the peer through a second mount with
// streams_interface=windows (named streams as "file:stream" files, listed by the
// "ntfs.streams.list" attribute), and each read back through the other.
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "peer_items.h"
#include "posix/ntfs_mount.h"

namespace quarrow2::test::peers {
namespace {

namespace fs = std::filesystem;

class WindowsStreams final : public Peer {
public:
    void Write(const fs::path& file, const std::string& type, const Bytes& value) override {
        std::ofstream out(file.string() + ":" + type, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(value.data()),
                  static_cast<std::streamsize>(value.size()));
        EXPECT_TRUE(out.good()) << "writing " << file << ":" << type;
    }

    std::optional<Bytes> Read(const fs::path& file, const std::string& type) override {
        std::ifstream in(file.string() + ":" + type, std::ios::binary);
        if (!in) return std::nullopt;
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::vector<std::string> List(const fs::path& file) override {
        std::string list(65536, '\0');
        const ssize_t got = getxattr(file.c_str(), "ntfs.streams.list", list.data(), list.size());
        EXPECT_GE(got, 0) << "ntfs.streams.list: " << std::strerror(errno);
        std::vector<std::string> types;
        for (size_t at = 0; got > 0 && at < static_cast<size_t>(got);) {
            types.emplace_back(list.c_str() + at);
            at += types.back().size() + 1;
        }
        return types;
    }
};

class PeerNtfs : public NtfsVolumeTest {
protected:
    WindowsStreams peer_;
};

TEST_F(PeerNtfs, StreamsWrittenThroughTheWindowsInterfaceAreItems) {
    const fs::path file = mountPoint_ / "report.doc";
    {
        auto windows = Mount("streams_interface=windows");
        ASSERT_TRUE(windows->mounted());
        WriteAsPeer(peer_, file);
    }
    auto mounted = Mount("");
    ASSERT_TRUE(mounted->mounted());
    ExpectQuarrow2ReadsPeerItems(file);
}

TEST_F(PeerNtfs, ItemsAreStreamsThroughTheWindowsInterface) {
    const fs::path file = mountPoint_ / "report.doc";
    {
        auto mounted = Mount("");
        ASSERT_TRUE(mounted->mounted());
        WriteAsQuarrow2(file);
    }
    auto windows = Mount("streams_interface=windows");
    ASSERT_TRUE(windows->mounted());
    ExpectPeerReadsQuarrow2Items(peer_, file);
}

}  // namespace
}  // namespace quarrow2::test::peers

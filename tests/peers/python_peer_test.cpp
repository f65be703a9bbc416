// Python's os.getxattr, os.setxattr and os.listxattr as the peer (tests/peers/xattr_peer.py).
#include "hex_peer.h"
#include "posix/ntfs_mount.h"

namespace quarrow2::test::peers {
namespace {

class PeerPython : public ::testing::Test {
protected:
    void SetUp() override {
        if (!OnPath("python3")) GTEST_SKIP() << "python3 is not installed";
        const ProgramRun probe = RunProgram({"python3", "-c", "import os; os.getxattr"});
        if (probe.status != 0) GTEST_SKIP() << "this Python has no os.getxattr: " << probe.err;
    }
    TempDir dir_;
    HexPeer peer_{{"python3", QUARROW2_PEERS_SOURCE_DIR "/xattr_peer.py"}, {}};
};

TEST_F(PeerPython, SetxattrItemsAreListedAndReadByQuarrow2) {
    const std::filesystem::path file = dir_ / "report.doc";
    WriteAsPeer(peer_, file);
    ExpectQuarrow2ReadsPeerItems(file);
}

TEST_F(PeerPython, Quarrow2ItemsAreListedAndReadByGetxattr) {
    const std::filesystem::path file = dir_ / "report.doc";
    WriteAsQuarrow2(file);
    ExpectPeerReadsQuarrow2Items(peer_, file);
}

}  // namespace
}  // namespace quarrow2::test::peers

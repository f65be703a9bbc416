// The JDK's UserDefinedFileAttributeView as the peer: tests/peers/XattrPeer.java, compiled
// by the test into the build folder (once; later runs reuse the class while it is newer
// than its source).
#include <sys/file.h>
#include <sys/stat.h>

#include "hex_peer.h"
#include "posix/ntfs_mount.h"

namespace quarrow2::test::peers {
namespace {

const std::string kSource = QUARROW2_PEERS_SOURCE_DIR "/XattrPeer.java";
const std::string kClasses = QUARROW2_PEERS_BUILD_DIR "/java";

bool Newer(const std::string& path, const std::string& than) {
    struct stat a {
    }, b{};
    return stat(path.c_str(), &a) == 0 && stat(than.c_str(), &b) == 0 &&
           a.st_mtim.tv_sec >= b.st_mtim.tv_sec;
}

// Compiles the peer unless an up-to-date class is there. Tests of several build trees may
// run at once, so the compiler runs under a lock. Empty on success, else why not.
std::string CompilePeer() {
    std::filesystem::create_directories(kClasses);
    const std::string lockPath = kClasses + "/.lock";
    const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) return "cannot lock " + lockPath;
    std::string failure;
    if (!Newer(kClasses + "/XattrPeer.class", kSource)) {
        const ProgramRun run = RunProgram({"javac", "-encoding", "UTF-8", "-d", kClasses, kSource});
        if (run.status != 0) failure = "javac failed: " + run.Describe();
    }
    close(lock);
    return failure;
}

class PeerJava : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"java", "javac"})
            if (!OnPath(program))
                GTEST_SKIP() << program << " is not installed (package openjdk-17-jdk-headless)";
        const std::string failure = CompilePeer();
        ASSERT_EQ(failure, "");
    }
    TempDir dir_;
    // The JDK turns attribute names into bytes with the locale's character set; under the
    // C locale every character outside ASCII would become '?'.
    HexPeer peer_{{"java", "-Xshare:auto", "-XX:TieredStopAtLevel=1", "-cp", kClasses, "XattrPeer"},
                  {"LC_ALL=C.UTF-8"}};
};

TEST_F(PeerJava, UserDefinedAttributesAreListedAndReadByQuarrow2) {
    const std::filesystem::path file = dir_ / "report.doc";
    WriteAsPeer(peer_, file);
    ExpectQuarrow2ReadsPeerItems(file);
}

TEST_F(PeerJava, Quarrow2ItemsAreUserDefinedAttributes) {
    const std::filesystem::path file = dir_ / "report.doc";
    WriteAsQuarrow2(file);
    ExpectPeerReadsQuarrow2Items(peer_, file);
}

}  // namespace
}  // namespace quarrow2::test::peers

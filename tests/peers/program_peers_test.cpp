// Programs as peers on real files, both ways: getfattr and setfattr (package attr), the
// JDK's UserDefinedFileAttributeView (XattrPeer.java, compiled by the test into the build
// folder once; later runs reuse the class while it is newer than its source) and Python's
// os.getxattr, os.setxattr and os.listxattr (xattr_peer.py). The last two take and give
// names and values as hex: "list FILE", "read FILE NAME" (exit status 2 when there is no
// such stream) and "write FILE NAME VALUE".
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "peer_items.h"
#include "posix/ntfs_mount.h"

namespace quarrow2::test::peers {
namespace {

class AttrTools final : public Peer {
public:
    static constexpr const char* kName = "Attr";
    static std::string Unavailable() {
        for (const char* program : {"getfattr", "setfattr"})
            if (!OnPath(program)) return std::string(program) + " is not installed (package attr)";
        return "";
    }

    void Write(const std::filesystem::path& file, const std::string& type,
               const Bytes& value) override {
        // An empty -v stores an empty value; "0x" with nothing after it is refused.
        const std::string encoded = value.empty() ? std::string() : "0x" + Hex(value);
        const ProgramRun run =
            RunProgram({"setfattr", "-n", "user." + type, "-v", encoded, file.string()});
        EXPECT_EQ(run.status, 0) << "setfattr " << type << ": " << run.Describe();
    }

    std::optional<Bytes> Read(const std::filesystem::path& file, const std::string& type) override {
        const ProgramRun run = RunProgram(
            {"getfattr", "--absolute-names", "--only-values", "-n", "user." + type, file.string()});
        if (run.status != 0) return std::nullopt;
        return BytesOf(run.out);
    }

    std::vector<std::string> List(const std::filesystem::path& file) override {
        const ProgramRun run =
            RunProgram({"getfattr", "--absolute-names", "-m", "^user\\.", file.string()});
        EXPECT_EQ(run.status, 0) << run.Describe();
        std::vector<std::string> types;
        for (const std::string& line : Lines(run.out))
            if (line.rfind("user.", 0) == 0) types.push_back(line.substr(5));
        return types;
    }
};

class HexPeer : public Peer {
public:
    void Write(const std::filesystem::path& file, const std::string& type,
               const Bytes& value) override {
        const ProgramRun run = Run({"write", file.string(), Hex(type), Hex(value)});
        EXPECT_EQ(run.status, 0) << "write " << type << ": " << run.Describe();
    }

    std::optional<Bytes> Read(const std::filesystem::path& file, const std::string& type) override {
        const ProgramRun run = Run({"read", file.string(), Hex(type)});
        if (run.status == 2) return std::nullopt;
        EXPECT_EQ(run.status, 0) << "read " << type << ": " << run.Describe();
        return FromHex(run.out);
    }

    std::vector<std::string> List(const std::filesystem::path& file) override {
        const ProgramRun run = Run({"list", file.string()});
        EXPECT_EQ(run.status, 0) << "list: " << run.Describe();
        std::vector<std::string> types;
        for (const std::string& line : Lines(run.out)) {
            const Bytes name = FromHex(line);
            types.emplace_back(name.begin(), name.end());
        }
        return types;
    }

protected:
    HexPeer(std::vector<std::string> command, std::vector<std::string> environment)
        : command_(std::move(command)), environment_(std::move(environment)) {}

private:
    ProgramRun Run(const std::vector<std::string>& arguments) const {
        std::vector<std::string> argv = command_;
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return RunProgram(argv, environment_);
    }

    std::vector<std::string> command_;
    std::vector<std::string> environment_;
};

const std::string kJavaSource = QUARROW2_PEERS_SOURCE_DIR "/XattrPeer.java";
const std::string kJavaClasses = QUARROW2_PEERS_BUILD_DIR "/java";

class JavaPeer final : public HexPeer {
public:
    static constexpr const char* kName = "Java";
    // The JDK turns attribute names into bytes with the locale's character set; under the
    // C locale every character outside ASCII would become '?'.
    JavaPeer()
        : HexPeer(
              {"java", "-Xshare:auto", "-XX:TieredStopAtLevel=1", "-cp", kJavaClasses, "XattrPeer"},
              {"LC_ALL=C.UTF-8"}) {}

    // Compiles the peer unless an up-to-date class is there. Tests of several build trees
    // may run at once, so the compiler runs under a lock.
    static std::string Unavailable() {
        for (const char* program : {"java", "javac"})
            if (!OnPath(program))
                return std::string(program) + " is not installed (package openjdk-17-jdk-headless)";
        std::filesystem::create_directories(kJavaClasses);
        const std::string lockPath = kJavaClasses + "/.lock";
        const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lock < 0 || flock(lock, LOCK_EX) != 0) {
            ADD_FAILURE() << "cannot lock " << lockPath;
            return "";
        }
        struct stat source {
        }, compiled{};
        if (stat((kJavaClasses + "/XattrPeer.class").c_str(), &compiled) != 0 ||
            stat(kJavaSource.c_str(), &source) != 0 ||
            compiled.st_mtim.tv_sec < source.st_mtim.tv_sec) {
            const ProgramRun run =
                RunProgram({"javac", "-encoding", "UTF-8", "-d", kJavaClasses, kJavaSource});
            EXPECT_EQ(run.status, 0) << "javac failed: " << run.Describe();
        }
        close(lock);
        return "";
    }
};

class PythonPeer final : public HexPeer {
public:
    static constexpr const char* kName = "Python";
    PythonPeer() : HexPeer({"python3", QUARROW2_PEERS_SOURCE_DIR "/xattr_peer.py"}, {}) {}

    static std::string Unavailable() {
        if (!OnPath("python3")) return "python3 is not installed";
        const ProgramRun probe = RunProgram({"python3", "-c", "import os; os.getxattr"});
        return probe.status == 0 ? "" : "this Python has no os.getxattr";
    }
};

template <class P>
class ProgramPeer : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string reason = P::Unavailable();
        if (!reason.empty()) GTEST_SKIP() << reason;
        ASSERT_FALSE(HasFailure());
    }
    TempDir dir_;
    P peer_;
};

using Programs = ::testing::Types<AttrTools, JavaPeer, PythonPeer>;
struct ProgramName {
    template <class P>
    static std::string GetName(int) {
        return P::kName;
    }
};
TYPED_TEST_SUITE(ProgramPeer, Programs, ProgramName);

TYPED_TEST(ProgramPeer, WhatThePeerWritesQuarrow2ListsAndReads) {
    const std::filesystem::path file = this->dir_ / "report.doc";
    WriteAsPeer(this->peer_, file);
    ExpectQuarrow2ReadsPeerItems(file);
}

TYPED_TEST(ProgramPeer, WhatQuarrow2WritesThePeerListsAndReads) {
    const std::filesystem::path file = this->dir_ / "report.doc";
    WriteAsQuarrow2(file);
    ExpectPeerReadsQuarrow2Items(this->peer_, file);
}

}  // namespace
}  // namespace quarrow2::test::peers

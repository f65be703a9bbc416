// getfattr and setfattr (package attr) as the peer: the same "user." attributes, both ways.
#include "peer_items.h"
#include "posix/ntfs_mount.h"

namespace quarrow2::test::peers {
namespace {

class AttrTools final : public Peer {
public:
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

class PeerAttr : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"getfattr", "setfattr"})
            if (!OnPath(program)) GTEST_SKIP() << program << " is not installed (package attr)";
    }
    TempDir dir_;
    AttrTools peer_;
};

TEST_F(PeerAttr, SetfattrItemsAreListedAndReadByQuarrow2) {
    const std::filesystem::path file = dir_ / "report.doc";
    WriteAsPeer(peer_, file);
    ExpectQuarrow2ReadsPeerItems(file);
}

TEST_F(PeerAttr, Quarrow2ItemsAreListedAndReadByGetfattr) {
    const std::filesystem::path file = dir_ / "report.doc";
    WriteAsQuarrow2(file);
    ExpectPeerReadsQuarrow2Items(peer_, file);
}

}  // namespace
}  // namespace quarrow2::test::peers

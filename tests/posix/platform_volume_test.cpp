// Volume information: named streams where the file system takes "user." attributes, none
// elsewhere (file_items_test.cpp), and roots that name no Linux volume.
#include "platform_fixture.h"

namespace quarrow2::test {
namespace {

struct Volume {
    bool ok = false;
    DWORD error = 0;
    DWORD flags = 0;
    DWORD maxComponent = 0;
    std::string fileSystem;
};

Volume Query(const WString& root, bool nullRoot = false) {
    Volume v;
    WCHAR name[MAX_PATH] = {};
    WCHAR label[MAX_PATH] = {u'x'};
    DWORD serial = 0;
    SetLastError(0);
    v.ok = GetVolumeInformationW(nullRoot ? nullptr : root.c_str(), label, MAX_PATH, &serial,
                                 &v.maxComponent, &v.flags, name, MAX_PATH);
    v.error = GetLastError();
    v.fileSystem = Narrow(name, std::char_traits<WCHAR>::length(name));
    if (v.ok) {
        EXPECT_EQ(label[0], 0);
    }
    return v;
}

constexpr DWORD kCaseFlags =
    FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;

TEST(PlatformVolume, FoldersThatTakeUserAttributes) {
    TempDir dir;
    MakeFile(dir / "doc");
    for (const fs::path& path :
         {dir / "doc", dir.path(), dir / "missing" / "deeper" / "file.txt"}) {
        Volume v = Query(PathW(path) + W("\\"));
        ASSERT_TRUE(v.ok) << path << " " << v.error;
        EXPECT_EQ(v.flags & (kCaseFlags | FILE_NAMED_STREAMS), kCaseFlags | FILE_NAMED_STREAMS)
            << path;
        EXPECT_EQ(v.maxComponent, 255u);
        EXPECT_FALSE(v.fileSystem.empty());
    }
    // A root cut in the middle of a name, as a 244-character root can be, still probes the
    // folder that holds it.
    Volume cut = Query(PathW(dir / "doc").substr(0, PathW(dir / "doc").size() - 1) + W("\\"));
    EXPECT_TRUE(cut.ok && (cut.flags & FILE_NAMED_STREAMS));

    // Outputs left out, or too small for the file system's name.
    const WString root = PathW(dir.path()) + W("\\");
    DWORD flags = 0;
    EXPECT_TRUE(
        GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0));
    EXPECT_TRUE(flags & FILE_NAMED_STREAMS);
    WCHAR tiny[2];
    EXPECT_EQ(ErrorOf(GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr,
                                            tiny, 2)),
              ERROR_MORE_DATA);

    // An empty root probes the current folder.
    Volume here = Query(PathW(fs::current_path()) + W("\\"));
    ASSERT_TRUE(here.ok);
    for (bool nullRoot : {false, true}) {
        Volume empty = Query(W("\\"), nullRoot);
        ASSERT_TRUE(empty.ok) << empty.error;
        EXPECT_EQ(empty.flags, here.flags);
        EXPECT_EQ(empty.fileSystem, here.fileSystem);
    }
}

TEST(PlatformVolume, RootsThatNameNoLinuxVolume) {
    TempDir dir;
    struct Case {
        WString root;
        DWORD error;
    };
    const std::vector<Case> cases = {
        {W("C:\\"), ERROR_PATH_NOT_FOUND},
        {W("relative\\"), ERROR_PATH_NOT_FOUND},
        {W("\\\\server\\share\\"), ERROR_PATH_NOT_FOUND},
        {W("C:"), ERROR_INVALID_NAME},
        {W("C:r"), ERROR_INVALID_NAME},
        {PathW(dir.path()), ERROR_INVALID_NAME},
        {W("/tmp/") + WString(1, static_cast<WCHAR>(0xDC00)) + W("\\"), ERROR_INVALID_NAME},
    };
    for (const Case& c : cases) {
        Volume v = Query(c.root);
        EXPECT_FALSE(v.ok) << Narrow(c.root);
        EXPECT_EQ(v.error, c.error) << Narrow(c.root);
        EXPECT_EQ(v.flags, 0u) << Narrow(c.root);
    }
}

}  // namespace
}  // namespace quarrow2::test

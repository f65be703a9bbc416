// Types and Length of real files whose items are "user." extended attributes, made by the
// library or by other programs: listed in the order the file system lists them, counted by
// size, names whole up to the longest Linux allows, the main stream never read.
#include <gtest/gtest.h>

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "file_attributes.h"
#include "platform_fixture.h"
#include "server/module_lock.h"
#include "portable/file_properties_fixture.h"

namespace quarrow2::test {
namespace {

// Types and Length of a file by its Linux path.
std::vector<std::string> TypesAt(const std::filesystem::path& file,
                                 VARIANT_BOOL supported = VARIANT_TRUE) {
    return TypesOf(PathW(file), supported);
}
LONG LengthAt(const std::filesystem::path& file) { return LengthOf(PathW(file)); }

// The "user." names of the file without the prefix, in the order the file system lists them.
std::vector<std::string> UserNamesInListOrder(const std::filesystem::path& file) {
    std::vector<std::string> names;
    for (const std::string& name : RawAttributeNames(file))
        if (name.rfind("user.", 0) == 0) names.push_back(name.substr(5));
    return names;
}

Bytes Ascii(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Whether the folder's file system keeps "user." attributes.
bool KeepsUserAttributes(const std::filesystem::path& folder) {
    const auto probe = folder / "probe";
    MakeFile(probe, "");
    const bool kept = SetUserAttribute(probe, "probe", Ascii("x"));
    std::filesystem::remove(probe);
    return kept;
}

// A fresh folder whose file system keeps "user." attributes.
class DiscoveryRealFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!KeepsUserAttributes(dir.path()))
            GTEST_SKIP() << "no user extended attributes on " << dir.path().string();
    }
    TempDir dir;
};

TEST_F(DiscoveryRealFiles, ItemsOfOtherProgramsAndOurOwnInListOrderWithTheirTotal) {
    const auto file = dir / "report.doc";
    MakeFile(file, "main stream");
    EXPECT_EQ(TypesAt(file), std::vector<std::string>{});
    EXPECT_EQ(LengthAt(file), 0);

    // Another program's item, as setfattr makes it (setfattr itself: tests/peers).
    ASSERT_TRUE(SetUserAttribute(file, "Author", Ascii("JaneDoe123")));
    ASSERT_TRUE(SetUserAttribute(file, "Keywords", Utf16Bytes("abc")));
    // An item holding the empty-value marker counts its 32 bytes; an empty attribute, 0.
    ASSERT_TRUE(SetUserAttribute(file, "Empty", EmptyValueMarker()));
    ASSERT_TRUE(SetUserAttribute(file, "Nothing", Bytes{}));
    {
        // One of our own, through the platform's stream path.
        Opened mine = OpenItem(StreamW(file, "Mine"));
        ASSERT_TRUE(mine.ok()) << "error " << mine.error;
        ASSERT_EQ(PutValue(mine.handle.get(), "xyz"), 0u);
    }
    const std::vector<std::string> listed = UserNamesInListOrder(file);
    ASSERT_EQ(listed.size(), 5u);
    EXPECT_EQ(TypesAt(file), listed);
    EXPECT_EQ(LengthAt(file), 10 + 6 + 32 + 0 + 3);

    // Where the volume reads as without named streams, Types does not walk; Length does.
    EXPECT_EQ(TypesAt(file, VARIANT_FALSE), std::vector<std::string>{});
    EXPECT_EQ(LengthAt(file), 51);
}

TEST_F(DiscoveryRealFiles, TheMainStreamIsNeverRead) {
    const auto file = dir / "large.bin";
    MakeFile(file, std::string(1024 * 1024, 'M'));
    ASSERT_TRUE(SetUserAttribute(file, "Item", Ascii("12345")));

    FileWatch watch(file, IN_ACCESS);
    if (!watch.ok()) GTEST_SKIP() << "inotify is not available";
    EXPECT_EQ(LengthAt(file), 5);
    EXPECT_EQ(TypesAt(file), std::vector<std::string>{"Item"});
    EXPECT_FALSE(watch.Saw()) << "the walk read the main stream";

    // The watch does see a read of the contents.
    {
        std::ifstream in(file, std::ios::binary);
        char c = 0;
        in.read(&c, 1);
    }
    EXPECT_TRUE(watch.Saw());
}

TEST_F(DiscoveryRealFiles, WhatCannotBeOpenedHasNoItemsAndIsNoError) {
    const LONG start = server::ModuleLockCount();

    // (Missing files: the portable stream walk suite.)
    // (Folders, which carry items but are not walked: hostile_special_files_test.cpp.)
    // A file whose main stream another handle holds open for writing.
    const auto file = dir / "busy.doc";
    MakeFile(file, "main");
    ASSERT_TRUE(SetUserAttribute(file, "Author", Ascii("abcd")));
    const WString path = PathW(file);
    {
        UniqueHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!writer.valid()) {
            // Held with no sharing at all where the main stream cannot be opened for writing.
            writer.reset(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        }
        ASSERT_TRUE(writer.valid()) << "error " << GetLastError();
        EXPECT_EQ(TypesAt(file), std::vector<std::string>{});
        EXPECT_EQ(LengthAt(file), 0);
    }
    EXPECT_EQ(TypesAt(file), std::vector<std::string>{"Author"}) << "once the other handle is gone";
    EXPECT_EQ(LengthAt(file), 4);
    EXPECT_EQ(server::ModuleLockCount(), start);
}

TEST_F(DiscoveryRealFiles, TheLongestNamesLinuxAllowsComeBackWhole) {
    const auto file = dir / "names.doc";
    MakeFile(file, "");

    // 250 bytes after "user.": in one-, two- and four-byte characters.
    const std::string ascii(250, 'n');
    std::string accented;
    for (int i = 0; i < 125; ++i) accented += "\xC3\xA9";
    std::string wide;
    for (int i = 0; i < 62; ++i) wide += "\xF0\x9F\x93\x84";
    wide += "ab";
    const std::vector<std::string> longest = {ascii, accented, wide};
    for (const std::string& name : longest) {
        ASSERT_EQ(name.size(), 250u);
        ASSERT_TRUE(SetUserAttribute(file, name, Ascii("v"))) << "errno " << errno;
    }
    // One byte more is refused by the file system itself.
    EXPECT_FALSE(SetUserAttribute(file, ascii + "n", Ascii("v")));

    EXPECT_EQ(TypesAt(file), UserNamesInListOrder(file));
    std::vector<std::string> types = TypesAt(file);
    ASSERT_EQ(types.size(), 3u);
    for (const std::string& name : longest)
        EXPECT_NE(std::find(types.begin(), types.end(), name), types.end())
            << "missing a name of " << W(name).size() << " units";
    EXPECT_EQ(LengthAt(file), 3);
}

}  // namespace
}  // namespace quarrow2::test

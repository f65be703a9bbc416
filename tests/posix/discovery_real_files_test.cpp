// Types and Length of real files whose items are "user." extended attributes, made by the
// library or by other programs: listed in the order the file system lists them, counted by
// size, names whole up to the longest Linux allows, the main stream never read.
#include <gtest/gtest.h>

#include <fstream>

#include "file_attributes.h"
#include "platform_fixture.h"
#include "server/module_lock.h"
#include "portable/file_properties_fixture.h"

namespace quarrow2::test {
namespace {

Bytes Ascii(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(DiscoveryRealFiles, ItemsOfOtherProgramsAndOurOwnInListOrderWithTheirTotal) {
    TempDir dir;
    const auto file = dir / "report.doc";
    const WString path = PathW(file);
    MakeFile(file, std::string(1024 * 1024, 'M'));
    EXPECT_EQ(TypesOf(path), std::vector<std::string>{});
    EXPECT_EQ(LengthOf(path), 0);
    const LONG locks = server::ModuleLockCount();

    // Items of another program, as setfattr makes them (setfattr itself: tests/peers). One
    // holding the empty-value marker counts its 32 bytes; an empty attribute, 0.
    if (!SetUserAttribute(file, "Author", Ascii("JaneDoe123")))
        GTEST_SKIP() << "no user extended attributes on " << dir.path();
    ASSERT_TRUE(SetUserAttribute(file, "Keywords", Utf16Bytes("abc")));
    ASSERT_TRUE(SetUserAttribute(file, "Empty", EmptyValueMarker()));
    ASSERT_TRUE(SetUserAttribute(file, "Nothing", Bytes{}));
    // The longest names Linux allows, 250 bytes after "user.", in one-, two- and four-byte
    // characters.
    std::string accented, wide = "ab";
    for (int i = 0; i < 125; ++i) accented += "\xC3\xA9";
    for (int i = 0; i < 62; ++i) wide += "\xF0\x9F\x93\x84";
    for (const std::string& name : {std::string(250, 'n'), accented, wide})
        ASSERT_TRUE(SetUserAttribute(file, name, Ascii("v"))) << "errno " << errno;
    {
        // One of our own, through the platform's stream path.
        Opened mine = OpenItem(StreamW(file, "Mine"));
        ASSERT_TRUE(mine.ok()) << "error " << mine.error;
        ASSERT_EQ(PutValue(mine.handle.get(), "xyz"), 0u);
    }
    std::vector<std::string> listed;
    for (const std::string& name : RawAttributeNames(file))
        if (name.rfind("user.", 0) == 0) listed.push_back(name.substr(5));
    ASSERT_EQ(listed.size(), 8u);

    // A file whose main stream another handle holds open for writing has no items, and that
    // is no error; where it cannot be opened for writing, it is held with no sharing at all.
    {
        UniqueHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!writer.valid())
            writer.reset(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(writer.valid()) << "error " << GetLastError();
        EXPECT_EQ(TypesOf(path), std::vector<std::string>{});
        EXPECT_EQ(LengthOf(path), 0);
    }
    EXPECT_EQ(LengthOf(path), 54) << "once the other handle is gone";
    EXPECT_EQ(server::ModuleLockCount(), locks);

    FileWatch watch(file, IN_ACCESS);
    if (!watch.ok()) GTEST_SKIP() << "inotify is not available";
    EXPECT_EQ(TypesOf(path), listed);
    EXPECT_EQ(LengthOf(path), 10 + 6 + 32 + 0 + 3 + 3);
    // Where the volume reads as without named streams, Types does not walk; Length does.
    EXPECT_EQ(TypesOf(path, VARIANT_FALSE), std::vector<std::string>{});
    EXPECT_EQ(LengthOf(path), 54);
    EXPECT_FALSE(watch.Saw()) << "the walk read the main stream";

    // The watch does see a read of the contents.
    std::ifstream(file, std::ios::binary).get();
    EXPECT_TRUE(watch.Saw());
}

}  // namespace
}  // namespace quarrow2::test

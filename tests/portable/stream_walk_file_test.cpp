// Types and Length of real files, on whatever the platform stores: what holds everywhere
// (no items, no file, no walk), and agreement with what the platform made of an item.
#include <gtest/gtest.h>

#include <filesystem>

#include "server/module_lock.h"
#include "file_properties_fixture.h"

namespace quarrow2::test {
namespace {

TEST(StreamWalkFile, NothingToWalkGivesNothingAndItemsThePlatformMadeAreFound) {
    const LONG start = server::ModuleLockCount();
    TempDir dir;
    MakeFile(dir / "report.doc", "contents that are never read");
    const WString file = PathW(dir / "report.doc");
    for (const WString& path : {file, PathW(dir / "missing.txt"), PathW(dir.path())}) {
        EXPECT_EQ(TypesOf(path), std::vector<std::string>{}) << Narrow(path);
        EXPECT_EQ(LengthOf(path), 0) << Narrow(path);
    }
    EXPECT_EQ(discovery::FileTypes(file.c_str(), VARIANT_TRUE, nullptr), E_POINTER);
    EXPECT_EQ(discovery::FileLength(file.c_str(), nullptr), E_POINTER);
    EXPECT_EQ(server::ModuleLockCount(), start) << "every collection made here was freed";

    UniqueHandle h(CreateFileW((file + W(":Author")).c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    DWORD written = 0;
    ASSERT_TRUE(h.valid() && WriteFile(h.get(), "Jane!", 5, &written, nullptr)) << GetLastError();
    h.reset();
    // Where "report.doc:Author" became a file of its own, the platform keeps no named
    // streams and reads none back (Wine); otherwise the walk finds the item, unless told
    // the volume has no streams.
    const bool streams = !std::filesystem::exists(dir / "report.doc:Author");
    EXPECT_EQ(TypesOf(file),
              streams ? std::vector<std::string>{"Author"} : std::vector<std::string>{});
    EXPECT_EQ(LengthOf(file), streams ? 5 : 0);
    EXPECT_EQ(TypesOf(file, VARIANT_FALSE), std::vector<std::string>{});
}

}  // namespace
}  // namespace quarrow2::test

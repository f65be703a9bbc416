// Types and Length of real files, on whatever the platform stores: what holds everywhere
// (no items, no file, no walk), and agreement with what the platform made of an item.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "server/module_lock.h"
#include "file_properties_fixture.h"

namespace quarrow2::test {
namespace {

using discovery::FileLength;
using discovery::FileTypes;

TEST(StreamWalkFile, NothingToWalkGivesAnEmptyCollectionAndZero) {
    const LONG start = server::ModuleLockCount();
    TempDir dir;
    MakeFile(dir / "plain.txt", "contents that are never read");
    const WString plain = PathW(dir / "plain.txt");
    const WString missing = PathW(dir / "missing.txt");
    const WString folder = PathW(dir.path());

    for (const WString& path : {plain, missing, folder}) {
        EXPECT_EQ(TypesOf(path), std::vector<std::string>{}) << Narrow(path);
        EXPECT_EQ(LengthOf(path), 0) << Narrow(path);
    }
    EXPECT_EQ(TypesOf(plain, VARIANT_FALSE), std::vector<std::string>{});

    EXPECT_EQ(FileTypes(plain.c_str(), VARIANT_TRUE, nullptr), E_POINTER);
    EXPECT_EQ(FileLength(plain.c_str(), nullptr), E_POINTER);
    EXPECT_EQ(server::ModuleLockCount(), start) << "every collection made here was freed";
}

TEST(StreamWalkFile, AgreesWithWhatThePlatformMadeOfAnItem) {
    TempDir dir;
    MakeFile(dir / "report.doc", "main stream");
    const WString file = PathW(dir / "report.doc");
    const WString item = file + W(":Author");
    {
        UniqueHandle h(CreateFileW(item.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(h.valid()) << "error " << GetLastError();
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(h.get(), "Jane!", 5, &written, nullptr));
    }

    // Where "report.doc:Author" became a file of its own, the platform keeps no named
    // streams and reads none back (Wine); otherwise the walk finds the item.
    if (std::filesystem::exists(dir / "report.doc:Author")) {
        EXPECT_EQ(TypesOf(file), std::vector<std::string>{});
        EXPECT_EQ(LengthOf(file), 0);
    } else {
        EXPECT_EQ(TypesOf(file), std::vector<std::string>{"Author"});
        EXPECT_EQ(LengthOf(file), 5);
        EXPECT_EQ(TypesOf(file, VARIANT_FALSE), std::vector<std::string>{})
            << "no walk unless the volume supports streams";
    }
}

}  // namespace
}  // namespace quarrow2::test

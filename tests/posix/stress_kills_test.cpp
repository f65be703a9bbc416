// A writer killed at any moment leaves one whole value: a child process puts a short and a
// long value in turn through an item, as fast as it can, and is killed with SIGKILL at
// seeded random moments; after each kill the item holds one of the two values, whole, and
// opens again for writing at once.
//
// QUARROW2_STRESS_SEED picks another seed; the seed in use is printed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <random>

#include "platform_fixture.h"
#include "portable/file_fixture.h"
#include "portable/metadata_fixture.h"

namespace quarrow2::test::stress {
namespace {

constexpr int kKills = 200;
constexpr uint32_t kDefaultSeed = 20240612;
// How long after the first put the kill may come, at the most.
constexpr unsigned kLongestWaitMicroseconds = 3000;

uint32_t Seed() {
    const char* chosen = std::getenv("QUARROW2_STRESS_SEED");
    return chosen && *chosen ? static_cast<uint32_t>(std::strtoul(chosen, nullptr, 10))
                             : kDefaultSeed;
}

// 10 bytes, put as Data; 3,000 bytes (1,500 UTF-16 units), put as Text.
const metadata::Bytes kShort = {'s', 'h', 'o', 'r', 't', '-', 'v', 'a', 'l', '!'};
const WString kLongText(1500, OLESTR('L'));

TEST(StressKills, AWriterKilledAtRandomMomentsLeavesOneWholeValue) {
    TempDir dir;
    const std::filesystem::path path = dir / "doc";
    MakeFile(path, "contents");
    const std::string shortValue(kShort.begin(), kShort.end());
    const metadata::Bytes longBytes = metadata::Utf16Bytes(kLongText);
    const std::string longValue(longBytes.begin(), longBytes.end());
    const uint32_t seed = Seed();
    std::cout << "[ kills    ] seed " << seed << " (QUARROW2_STRESS_SEED)" << std::endl;
    std::mt19937 random(seed);

    int leftShort = 0, leftLong = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        Child writer([&](Child& self) {
            ComPtr<IFile> file = NewFile();
            if (!file || !Bind(file.get(), path)) return 1;
            ItemOutcome item = Add(file.get(), "T");
            if (item.hr != S_OK) {
                self.Send("cannot add: " + item.error.description);
                return 1;
            }
            for (long i = 0;; ++i) {
                const HRESULT hr = i % 2 ? metadata::PutText(item.item.get(), kLongText)
                                         : metadata::PutData(item.item.get(), kShort);
                if (hr != S_OK) {
                    self.Send("put failed: " + TakeRichError().description);
                    return 1;
                }
                if (i == 0) self.Send("writing");
            }
        });
        ASSERT_TRUE(writer.started());
        ASSERT_EQ(writer.Receive(), "writing");
        usleep(random() % kLongestWaitMicroseconds);
        writer.Kill();

        const std::optional<std::string> left = RawStream(path, "T");
        ASSERT_TRUE(left.has_value());
        ASSERT_TRUE(*left == shortValue || *left == longValue) << left->size() << " bytes";
        (*left == shortValue ? leftShort : leftLong)++;

        // The killed writer's share mode and range locks went with it.
        ComPtr<IFile> file = NewFile();
        ASSERT_TRUE(file && Bind(file.get(), path));
        ItemOutcome item = Open(file.get(), "T");
        ASSERT_EQ(item.hr, S_OK) << item.error.description;
        EXPECT_EQ(metadata::PutData(item.item.get(), kShort), S_OK);
    }
    EXPECT_EQ(FileContent(path), "contents");
    EXPECT_EQ(RawAttributeNames(path), std::vector<std::string>{"user.T"});
    std::cout << "[ kills    ] " << kKills << " writers killed: " << leftShort
              << " left the short value, " << leftLong << " the long one" << std::endl;
    RecordProperty("kills", kKills);
}

}  // namespace
}  // namespace quarrow2::test::stress

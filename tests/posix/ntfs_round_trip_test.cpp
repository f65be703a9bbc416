// Items on a real NTFS volume: an image made with mkntfs and mounted with ntfs-3g. The
// library works through the default mount, where named streams are "user." attributes;
// a mount with streams_interface=windows shows the same streams as "file:stream" files.
#include <gtest/gtest.h>

#include "file_attributes.h"
#include "ntfs_mount.h"
#include "portable/file_fixture.h"

namespace quarrow2::test {
namespace {

namespace fs = std::filesystem;

class NtfsRoundTrip : public NtfsVolumeTest {};

TEST_F(NtfsRoundTrip, ItemsAddedThroughFileAreNamedStreamsOfTheFile) {
    const fs::path report = mountPoint_ / "report.doc";
    {
        auto mounted = Mount();
        ASSERT_TRUE(mounted->mounted());
        WriteContents(report, "contents");
        ComPtr<IFile> file = NewFile();
        ASSERT_TRUE(file);
        ASSERT_TRUE(Bind(file.get(), report));
        ItemOutcome author = Add(file.get(), "Author");
        ASSERT_EQ(author.hr, S_OK) << author.error.description;
        ASSERT_EQ(PutText(author.item.get(), "Jane"), S_OK);
        ItemOutcome empty = Add(file.get(), "Empty");
        ASSERT_EQ(empty.hr, S_OK) << empty.error.description;
        EXPECT_EQ(UserAttribute(report, "Author"), Utf16Bytes("Jane"));
    }
    {
        auto windows = Mount("streams_interface=windows");
        ASSERT_TRUE(windows->mounted());
        EXPECT_EQ(Contents(report), "contents");
        const std::string author = Contents(mountPoint_ / "report.doc:Author");
        EXPECT_EQ(Bytes(author.begin(), author.end()), Utf16Bytes("Jane"));
        const std::string empty = Contents(mountPoint_ / "report.doc:Empty");
        EXPECT_EQ(Bytes(empty.begin(), empty.end()), EmptyValueMarker());
    }
}

TEST_F(NtfsRoundTrip, StreamsWrittenAsWindowsDoesAreOpenedAsItems) {
    const fs::path report = mountPoint_ / "report.doc";
    const Bytes stored = Utf16Bytes("From elsewhere");
    {
        auto windows = Mount("streams_interface=windows");
        ASSERT_TRUE(windows->mounted());
        WriteContents(report, "contents");
        WriteContents(mountPoint_ / "report.doc:Comment",
                      std::string(stored.begin(), stored.end()));
    }
    auto mounted = Mount();
    ASSERT_TRUE(mounted->mounted());
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    ASSERT_TRUE(Bind(file.get(), report));
    {
        ItemOutcome comment = Open(file.get(), "Comment");
        ASSERT_EQ(comment.hr, S_OK) << comment.error.description;
        EXPECT_EQ(TextOf(comment.item.get()), "From elsewhere");
        EXPECT_EQ(LengthOf(comment.item.get()), static_cast<LONG>(stored.size()));
        ExpectFileFailure(Open(file.get(), "Missing"),
                          WithSystemText("Unable to open metadata.", ERROR_FILE_NOT_FOUND));
    }
    EXPECT_EQ(Contents(report), "contents");
}

}  // namespace
}  // namespace quarrow2::test

// Opening and adding items on real files: what lands in the "user." attributes, and what
// each failure says. (The bytes as getfattr and ntfs-3g show them: tests/peers.)
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "file_attributes.h"
#include "portable/file_fixture.h"

namespace quarrow2::test {
namespace {

// The item that Add hands out; null (and a failure recorded) when Add failed.
ComPtr<IMetaData> AddedItem(IFile* file, const char* type) {
    ItemOutcome added = Add(file, type);
    EXPECT_EQ(added.hr, S_OK) << type << ": " << added.error.description;
    return added.item;
}

// A file with contents and no items, and a File bound to it.
class FileItems : public ::testing::Test {
protected:
    void SetUp() override {
        MakeFile(report_, "main stream");
        ASSERT_TRUE(file_ && Bind(file_.get(), report_));
    }

    TempDir dir_;
    const fs::path report_ = dir_ / "report.doc";
    ComPtr<IFile> file_ = NewFile();
};

TEST_F(FileItems, AddStoresTheEmptyValueOrKeepsTheBytesAndItemsOutliveTheirFile) {
    const Bytes keywords = {'k', 0, 'e', 0, 'y', 0, 0x01};
    ASSERT_TRUE(SetUserAttribute(report_, "Keywords", keywords));
    ComPtr<IMetaData> author = AddedItem(file_.get(), "Author");
    ASSERT_TRUE(author);
    EXPECT_EQ(UserAttribute(report_, "Author"), EmptyValueMarker());
    EXPECT_EQ(TextOf(author.get()), "");
    EXPECT_EQ(LengthOf(author.get()), 32);
    ComPtr<IMetaData> existing = AddedItem(file_.get(), "Keywords");
    ASSERT_TRUE(existing);
    EXPECT_EQ(UserAttribute(report_, "Keywords"), keywords);
    EXPECT_EQ(LengthOf(existing.get()), 7);
    UniqueBstr name;
    ASSERT_EQ(existing->get_Name(name.out()), S_OK);
    EXPECT_EQ(Narrow(name.get()), "Keywords");

    // A held item keeps other items of its stream out, also of another File.
    ComPtr<IFile> other = NewFile();
    ASSERT_TRUE(Bind(other.get(), report_));
    ExpectFileFailure(Add(other.get(), "Author"),
                      WithSystemText("Unable to add metadata.", ERROR_SHARING_VIOLATION));
    // Adding the Author item again keeps the value written in between.
    ASSERT_EQ(PutText(author.get(), "Jane"), S_OK);
    author.reset();
    ComPtr<IMetaData> again = AddedItem(other.get(), "Author");
    ASSERT_TRUE(again);
    EXPECT_EQ(TextOf(again.get()), "Jane");

    ASSERT_EQ(other->Close(), S_OK);
    ExpectFileFailure(Open(other.get(), "Author"), "No file path assigned.");
    ASSERT_EQ(PutText(again.get(), "after close"), S_OK);
    other.reset();
    EXPECT_EQ(TextOf(again.get()), "after close");
    EXPECT_EQ(UserAttribute(report_, "Author"), Utf16Bytes("after close"));
    EXPECT_EQ(FileContent(report_), "main stream");
}

TEST_F(FileItems, MissingItemsFilesFoldersAndVolumesWithoutStreams) {
    ExpectFileFailure(Open(file_.get(), "Author"),
                      WithSystemText("Unable to open metadata.", ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(UserAttributeNames(report_).empty());

    // Open makes no missing file, nor a missing folder; Add makes the file, but no folder.
    ASSERT_TRUE(Bind(file_.get(), dir_ / "missing.doc"));
    EXPECT_FALSE(Exists(file_.get()));
    ExpectFileFailure(Open(file_.get(), "Author"),
                      WithSystemText("Unable to open metadata.", ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(Bind(file_.get(), dir_ / "no-folder" / "missing.doc"));
    ExpectFileFailure(Open(file_.get(), "Author"),
                      WithSystemText("Unable to open metadata.", ERROR_PATH_NOT_FOUND));
    ExpectFileFailure(Add(file_.get(), "Author"),
                      WithSystemText("Unable to add metadata.", ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Entries(dir_.path()), std::set<std::string>{"report.doc"});

    const fs::path fresh = dir_ / "fresh.doc";
    ASSERT_TRUE(Bind(file_.get(), fresh));
    const mode_t old = umask(027);
    ComPtr<IMetaData> added = AddedItem(file_.get(), "Author");
    umask(old);
    ASSERT_TRUE(added);
    struct stat st;
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(UserAttribute(fresh, "Author"), EmptyValueMarker());
    EXPECT_EQ(TextOf(added.get()), "");
    EXPECT_TRUE(Exists(file_.get()));

    // A file system without "user." attributes has no streams; the path is bound all the same.
    EXPECT_FALSE(Bind(file_.get(), fs::path("/proc/self/status")));
    ExpectFileFailure(Open(file_.get(), "Author"), "Volume does not support streams.");
    ExpectFileFailure(Add(file_.get(), "Author"), "Volume does not support streams.");
    EXPECT_TRUE(Exists(file_.get()));
}

}  // namespace
}  // namespace quarrow2::test

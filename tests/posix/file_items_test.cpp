// Opening and adding items on real files: what lands in the "user." attributes, and what
// each failure says. (The bytes as getfattr and ntfs-3g show them: tests/peers.)
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "file_attributes.h"
#include "portable/file_fixture.h"

namespace quarrow2::test {
namespace {

// A File bound to `path` on a volume with named streams.
ComPtr<IFile> BoundFile(const fs::path& path) {
    ComPtr<IFile> file = NewFile();
    EXPECT_TRUE(file && Bind(file.get(), path)) << path;
    return file;
}

// The item that Add hands out; null (and a failure recorded) when Add failed.
ComPtr<IMetaData> AddedItem(IFile* file, const WString& type) {
    ItemOutcome added = Add(file, type);
    EXPECT_EQ(added.hr, S_OK) << Narrow(type) << ": " << added.error.description;
    return added.item;
}

// A file with contents and no items, and a File bound to it.
class FileItems : public ::testing::Test {
protected:
    void SetUp() override {
        MakeFile(report_, "main stream");
        file_ = BoundFile(report_);
        ASSERT_TRUE(file_);
    }

    TempDir dir_;
    const fs::path report_ = dir_ / "report.doc";
    ComPtr<IFile> file_;
};

TEST_F(FileItems, AddOfANewTypeStoresTheEmptyValueAndAnExistingTypeKeepsItsBytes) {
    const Bytes keywords = {'k', 0, 'e', 0, 'y', 0, 0x01};
    ASSERT_TRUE(SetUserAttribute(report_, "Keywords", keywords));

    ComPtr<IMetaData> author = AddedItem(file_.get(), W("Author"));
    ASSERT_TRUE(author);
    EXPECT_EQ(UserAttribute(report_, "Author"), EmptyValueMarker());
    EXPECT_EQ(TextOf(author.get()), "");
    EXPECT_EQ(LengthOf(author.get()), 32);

    ComPtr<IMetaData> existing = AddedItem(file_.get(), W("Keywords"));
    ASSERT_TRUE(existing);
    EXPECT_EQ(UserAttribute(report_, "Keywords"), keywords);
    EXPECT_EQ(LengthOf(existing.get()), 7);
    UniqueBstr name;
    ASSERT_EQ(existing->get_Name(name.out()), S_OK);
    EXPECT_EQ(Narrow(name.get()), "Keywords");

    // Adding the Author item again keeps the value written in between.
    ASSERT_EQ(PutText(author.get(), "Jane"), S_OK);
    author.reset();
    ComPtr<IMetaData> again = AddedItem(file_.get(), W("Author"));
    ASSERT_TRUE(again);
    EXPECT_EQ(TextOf(again.get()), "Jane");
    EXPECT_EQ(FileContent(report_), "main stream");
}

TEST_F(FileItems, OpenOfAMissingItemFailsAndCreatesNothing) {
    ExpectFileFailure(Open(file_.get(), "Author"),
                      WithSystemText("Unable to open metadata.", ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(UserAttributeNames(report_).empty());

    // A missing file is not made by Open either, nor a missing folder.
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
}

TEST_F(FileItems, AddOnAMissingFileCreatesTheEmptyFile) {
    const fs::path fresh = dir_ / "fresh.doc";
    ASSERT_TRUE(Bind(file_.get(), fresh));
    const mode_t old = umask(027);
    ComPtr<IMetaData> added = AddedItem(file_.get(), W("Author"));
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
}

TEST_F(FileItems, AHeldItemKeepsOtherItemsOfItsStreamOut) {
    ComPtr<IMetaData> held = AddedItem(file_.get(), W("Author"));
    ASSERT_TRUE(held);
    ExpectFileFailure(Add(BoundFile(report_).get(), "Author"),
                      WithSystemText("Unable to add metadata.", ERROR_SHARING_VIOLATION));
}

TEST_F(FileItems, ItemsOutliveCloseAndReleaseOfTheirFile) {
    ComPtr<IMetaData> item = AddedItem(file_.get(), W("Author"));
    ASSERT_TRUE(item);
    ASSERT_EQ(file_->Close(), S_OK);
    ExpectFileFailure(Open(file_.get(), "Author"), "No file path assigned.");
    ASSERT_EQ(PutText(item.get(), "after close"), S_OK);
    file_.reset();
    EXPECT_EQ(TextOf(item.get()), "after close");
    EXPECT_EQ(UserAttribute(report_, "Author"), Utf16Bytes("after close"));
}

TEST_F(FileItems, AFileSystemWithoutUserAttributesHasNoStreams) {
    EXPECT_FALSE(Bind(file_.get(), fs::path("/proc/self/status")));
    ExpectFileFailure(Open(file_.get(), "Author"), "Volume does not support streams.");
    ExpectFileFailure(Add(file_.get(), "Author"), "Volume does not support streams.");
    // The path is bound all the same.
    EXPECT_TRUE(Exists(file_.get()));
}

}  // namespace
}  // namespace quarrow2::test

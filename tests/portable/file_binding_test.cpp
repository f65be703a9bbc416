// Binding a File to a path: the streams answer, Exists on real files, Close.
#include <gtest/gtest.h>

#include <fstream>

#include "file_fixture.h"

namespace quarrow2::test {
namespace {

namespace fs = std::filesystem;

TEST(FileBinding, UnboundObjectAnswersFalseAndCloseUnbinds) {
    TempDir dir;
    const fs::path report = dir / "report.doc";
    MakeFile(report, "contents");

    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    EXPECT_FALSE(Supported(file.get()));
    EXPECT_FALSE(Exists(file.get()));

    const bool streams = Bind(file.get(), report);
    EXPECT_EQ(Supported(file.get()), streams);
    EXPECT_TRUE(Exists(file.get()));

    ASSERT_EQ(file->Close(), S_OK);
    EXPECT_FALSE(Supported(file.get()));
    EXPECT_FALSE(Exists(file.get()));
    ASSERT_EQ(file->Close(), S_OK);
}

// Wine reports no named streams on its drives, so there the bound file refuses items; a
// volume with named streams hands them out.
TEST(FileBinding, ItemsFollowTheVolumesAnswer) {
    TempDir dir;
    const fs::path report = dir / "report.doc";
    MakeFile(report, "contents");

    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    const bool streams = Bind(file.get(), report);
    RecordProperty("named_streams", streams ? "yes" : "no");
    if (!streams) {
        ExpectFileFailure(Open(file.get(), "Author"), "Volume does not support streams.");
        ExpectFileFailure(Add(file.get(), "Author"), "Volume does not support streams.");
        // Nothing was created beside the file (Wine keeps F:T as a file of its own).
        size_t entries = 0;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            EXPECT_EQ(entry.path().filename(), report.filename());
            ++entries;
        }
        EXPECT_EQ(entries, 1u);
        EXPECT_TRUE(Exists(file.get()));
        return;
    }
    ItemOutcome added = Add(file.get(), "Author");
    ASSERT_EQ(added.hr, S_OK) << added.error.description;
    EXPECT_EQ(TextOf(added.item.get()), "");
    ASSERT_EQ(PutText(added.item.get(), "Jane"), S_OK);
    added.item.reset();
    ItemOutcome opened = Open(file.get(), "Author");
    ASSERT_EQ(opened.hr, S_OK) << opened.error.description;
    EXPECT_EQ(TextOf(opened.item.get()), "Jane");
}

TEST(FileBinding, WithoutNamedStreamsTypesIsEmptyAndLengthStillAnswers) {
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    // A relative path reads as a volume without named streams; no such file exists.
    EXPECT_FALSE(Bind(file.get(), W("quarrow2-file-binding-missing.doc")));
    ComPtr<IStrings> types;
    ASSERT_EQ(file->get_Types(types.out()), S_OK);
    LONG count = -1;
    ASSERT_EQ(types->get_Count(&count), S_OK);
    EXPECT_EQ(count, 0);
    LONG length = -1;
    EXPECT_EQ(file->get_Length(&length), S_OK);
    EXPECT_EQ(length, 0);
}

TEST(FileBinding, ExistsAsksAboutExactlyTheBoundPath) {
    TempDir dir;
    const fs::path plain = dir / "plain.txt";
    MakeFile(plain, "x");
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);

    Bind(file.get(), plain);
    EXPECT_TRUE(Exists(file.get()));
    Bind(file.get(), dir / "missing.txt");
    EXPECT_FALSE(Exists(file.get()));
    // A folder is not a file that opens for reading.
    Bind(file.get(), dir.path());
    EXPECT_FALSE(Exists(file.get()));
    // The path ends at its first zero unit.
    Bind(file.get(), PathW(plain) + WString{0} + OLESTR(".missing"));
    EXPECT_TRUE(Exists(file.get()));

    // Names that no ANSI code page holds, and a fullwidth solidus that a best-fit mapping
    // would turn into a separator: the UTF-16 path is opened as it is.
    const fs::path cyrillic =
        dir.path() / fs::u8path("\xd0\xbe\xd1\x82\xd1\x87\xd1\x91\xd1\x82.txt");
    MakeFile(cyrillic, "y");
    Bind(file.get(), cyrillic);
    EXPECT_TRUE(Exists(file.get()));

    const fs::path fullwidth = dir.path() / fs::u8path(
                                                "a\xef\xbc\x8f"
                                                "b.txt");
    MakeFile(fullwidth, "z");
    Bind(file.get(), fullwidth);
    EXPECT_TRUE(Exists(file.get()));

    // With only a/c.txt present, the fullwidth name must not find it.
    fs::create_directory(dir / "a");
    MakeFile(dir / "a" / "c.txt", "w");
    Bind(file.get(), dir.path() / fs::u8path("a\xef\xbc\x8f"
                                             "c.txt"));
    EXPECT_FALSE(Exists(file.get()));
}

TEST(FileBinding, ExistsIsFalseWhileAnotherHandleWritesWithoutSharing) {
    TempDir dir;
    const fs::path held = dir / "held.txt";
    MakeFile(held, "x");
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    Bind(file.get(), held);
    {
        UniqueHandle writer(CreateFileW(PathW(held).c_str(), GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(writer.valid()) << GetLastError();
        EXPECT_FALSE(Exists(file.get()));
    }
    EXPECT_TRUE(Exists(file.get()));
}

TEST(FileBinding, EmptyPathIsStoredAndCountsAsNoPath) {
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    const bool streams = Bind(file.get(), WString());
    // The answer is that of the current drive's volume, repeated by Supported.
    EXPECT_EQ(Supported(file.get()), streams);
    EXPECT_FALSE(Exists(file.get()));
    ExpectFileFailure(Add(file.get(), "Author"), "No file path assigned.");

    VARIANT_BOOL answer = 1;
    EXPECT_EQ(file->SetFile(nullptr, &answer), S_OK);
    EXPECT_EQ(answer == VARIANT_TRUE, streams);
    ExpectFileFailure(Open(file.get(), "Author"), "No file path assigned.");
}

}  // namespace
}  // namespace quarrow2::test

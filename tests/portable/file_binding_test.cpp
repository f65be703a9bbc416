// Binding a File to a path: the streams answer, Exists on real files, Close; and what a
// File refuses before it touches the file system, and in which order.
#include <gtest/gtest.h>

#include <fstream>

#include "file_fixture.h"

namespace quarrow2::test {
namespace {

namespace fs = std::filesystem;

const char kForbidden[] = "Access to this data type forbidden.";
const char kNoPath[] = "No file path assigned.";
const char kNoStreams[] = "Volume does not support streams.";

// Names that reach the file's main stream on NTFS, where stream types ignore case and the
// system trims dots and blanks from the end of a path.
const char* const kMainStreamNames[] = {
    "$DATA",    "",  ":$DATA", ":", ":$data", ":$Data", ":$DATA ", "::$DATA", ":Author",
    ":x:$DATA", ".", "..",     " ", ". .",    " .. ",   ".:$DATA", " :$data"};

TEST(FileChecks, ForbiddenNameBeforeNoPathBeforeUnsupportedVolume) {
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);

    // Unbound: a forbidden name wins over the missing path.
    ExpectFileFailure(Open(file.get(), "$DATA"), kForbidden);
    ExpectFileFailure(Add(file.get(), ""), kForbidden);
    ExpectFileFailure(Open(file.get(), "Author"), kNoPath);
    ExpectFileFailure(Add(file.get(), "Author"), kNoPath);

    // A relative path's root cannot be queried: bound, but without named streams.
    EXPECT_FALSE(Bind(file.get(), W("report.doc")));
    ExpectFileFailure(Add(file.get(), ":$DATA"), kForbidden);
    ExpectFileFailure(Open(file.get(), "Author"), kNoStreams);
    ExpectFileFailure(Add(file.get(), "Author"), kNoStreams);

    // Close returns to the unbound state.
    ASSERT_EQ(file->Close(), S_OK);
    ExpectFileFailure(Add(file.get(), "Author"), kNoPath);
    ExpectFileFailure(Open(file.get(), ":"), kForbidden);
}

TEST(FileChecks, EveryNameOfTheMainStreamIsForbiddenAndLookalikesAreNot) {
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    EXPECT_FALSE(Bind(file.get(), W("report.doc")));
    for (const char* name : kMainStreamNames) {
        SCOPED_TRACE(name);
        ExpectFileFailure(Open(file.get(), name), kForbidden);
        ExpectFileFailure(Add(file.get(), name), kForbidden);
    }
    // An absent name is the empty name; a name is read up to its first zero unit.
    ExpectFileFailure(OpenOrAdd(file.get(), true, nullptr), kForbidden);
    ExpectFileFailure(Add(file.get(), WString{0, 'A', 'u'}), kForbidden);
    ExpectFileFailure(Add(file.get(), WString{':', 0, 'x'}), kForbidden);
    ExpectFileFailure(Add(file.get(), WString{'$', 'D', 'A', 'T', 'A', 0, 'x'}), kForbidden);

    // Case matters without a colon, and so does a trailing blank: these pass the name check
    // and meet the volume check.
    for (const char* name :
         {"$data", "$DATA ", "$Data", "DATA", "a:b", "Author:$DATA", "Author.", ". a", ".:x"}) {
        SCOPED_TRACE(name);
        ExpectFileFailure(Add(file.get(), name), kNoStreams);
    }
}

TEST(FileChecks, LengthAndTypesNeedAPath) {
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    SetErrorInfo(0, nullptr);
    LONG length = 77;
    EXPECT_EQ(file->get_Length(&length), E_FAIL);
    EXPECT_EQ(length, 0);
    RichError error = TakeRichError();
    EXPECT_EQ(error.description, kNoPath);
    EXPECT_EQ(error.source, ExpectedFileSource());

    IStrings* untouched = reinterpret_cast<IStrings*>(static_cast<uintptr_t>(0x20));
    EXPECT_EQ(file->get_Types(&untouched), E_FAIL);
    EXPECT_EQ(untouched, reinterpret_cast<IStrings*>(static_cast<uintptr_t>(0x20)));
    EXPECT_EQ(TakeRichError().description, kNoPath);
}

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
        ExpectFileFailure(Open(file.get(), "Author"), kNoStreams);
        ExpectFileFailure(Add(file.get(), "Author"), kNoStreams);
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
    ExpectFileFailure(Add(file.get(), "Author"), kNoPath);

    VARIANT_BOOL answer = 1;
    EXPECT_EQ(file->SetFile(nullptr, &answer), S_OK);
    EXPECT_EQ(answer == VARIANT_TRUE, streams);
    ExpectFileFailure(Open(file.get(), "Author"), kNoPath);
}

}  // namespace
}  // namespace quarrow2::test

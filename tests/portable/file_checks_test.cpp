// What a File refuses before it touches the file system, and in which order.
#include <gtest/gtest.h>

#include "file_fixture.h"

namespace quarrow2::test {
namespace {

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

}  // namespace
}  // namespace quarrow2::test

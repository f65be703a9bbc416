// Which file and which stream a path names: colons in file names, the ":$DATA" forms,
// and names NTFS refuses, among them names that try to reach another file.
#include <sys/stat.h>

#include "platform_fixture.h"

namespace quarrow2::test {
namespace {

TEST(PlatformStreamPath, DataSuffixForms) {
    TempDir dir;
    MakeFile(dir / "doc", "main content");
    SetRawStream(dir / "doc", "T", "value of T");

    for (const char* form : {"T:$DATA", "T:$data", "T:$DaTa"}) {
        Opened opened = OpenReader(StreamW(dir / "doc", form));
        ASSERT_TRUE(opened.ok()) << form << " " << opened.error;
        EXPECT_EQ(GetValue(opened.handle.get()), "value of T") << form;
    }

    // "F::$DATA" is the main stream; "F:$DATA" the stream named "$DATA".
    Opened main = OpenReader(StreamW(dir / "doc", ":$DATA"));
    ASSERT_TRUE(main.ok()) << main.error;
    EXPECT_EQ(GetValue(main.handle.get()), "main content");
    Opened dollar = OpenItem(StreamW(dir / "doc", "$DATA"));
    ASSERT_TRUE(dollar.ok()) << dollar.error;
    EXPECT_EQ(RawStream(dir / "doc", "$DATA"), std::string());

    // A colon with nothing after it names no stream.
    Opened bare = OpenItem(PathW(dir / "doc") + W(":"));
    EXPECT_FALSE(bare.ok());
    EXPECT_EQ(bare.error, static_cast<DWORD>(ERROR_INVALID_NAME));
}

TEST(PlatformStreamPath, ColonsInFileNames) {
    TempDir dir;
    MakeFile(dir / "a:b", "colon file");

    // No "a": the file "a:b" itself, and its streams.
    Opened whole = OpenReader(PathW(dir / "a:b"));
    ASSERT_TRUE(whole.ok()) << whole.error;
    EXPECT_EQ(GetValue(whole.handle.get()), "colon file");
    Opened stream = OpenItem(StreamW(dir / "a:b", "T"));
    ASSERT_TRUE(stream.ok()) << stream.error;
    EXPECT_EQ(RawStream(dir / "a:b", "T"), std::string());
    Opened explicitMain = OpenReader(StreamW(dir / "a:b", ":$DATA"));
    ASSERT_TRUE(explicitMain.ok()) << explicitMain.error;
    EXPECT_EQ(GetValue(explicitMain.handle.get()), "colon file");

    // Both "x" and "x:y" exist: the rightmost existing prefix carries the stream.
    MakeFile(dir / "x");
    MakeFile(dir / "x:y");
    ASSERT_TRUE(OpenItem(StreamW(dir / "x:y", "T")).ok());
    EXPECT_EQ(RawStream(dir / "x:y", "T"), std::string());
    EXPECT_FALSE(RawStream(dir / "x", "y:T"));
    ASSERT_TRUE(OpenItem(PathW(dir / "x:y")).ok());
    EXPECT_EQ(RawStream(dir / "x", "y"), std::string());

    // Nothing exists: the last colon separates, after a ":$DATA" suffix is dropped.
    ASSERT_TRUE(OpenItem(StreamW(dir / "new", "T")).ok());
    EXPECT_EQ(RawStream(dir / "new", "T"), std::string());
    ASSERT_TRUE(OpenItem(StreamW(dir / "new2:a", "b")).ok());
    EXPECT_EQ(RawStream(dir / "new2:a", "b"), std::string());
    ASSERT_TRUE(OpenItem(StreamW(dir / "new3", "T:$DATA")).ok());
    EXPECT_EQ(RawStream(dir / "new3", "T"), std::string());

    // Backslashes are ordinary characters of Linux names.
    MakeFile(dir / "back\\slash");
    ASSERT_TRUE(OpenItem(StreamW(dir / "back\\slash", "T")).ok());
    EXPECT_EQ(RawStream(dir / "back\\slash", "T"), std::string());

    EXPECT_EQ(Tree(dir.path()), (std::vector<std::string>{"a:b", "back\\slash", "new", "new2:a",
                                                          "new3", "x", "x:y"}));
}

TEST(PlatformStreamPath, NamesNtfsRefuses) {
    TempDir dir;
    MakeFile(dir / "doc");
    const WString doc = PathW(dir / "doc");

    struct Case {
        WString stream;
        DWORD error;
    };
    const WString loneSurrogate(1, static_cast<WCHAR>(0xD800));
    const std::vector<Case> refused = {
        {W("a:b"), ERROR_INVALID_NAME},
        // Separators: never a way to another file, made or opened.
        {W("../victim"), ERROR_INVALID_NAME},
        {W("x/../../victim"), ERROR_INVALID_NAME},
        {W("/victim"), ERROR_INVALID_NAME},
        {W("../victim:T"), ERROR_INVALID_NAME},
        {W("a\\b"), ERROR_INVALID_NAME},
        {W("."), ERROR_INVALID_NAME},
        {W(".."), ERROR_INVALID_NAME},
        {W("x") + loneSurrogate, ERROR_INVALID_NAME},
        {W(std::string(256, 'n')), ERROR_INVALID_NAME},
        // Legal for NTFS, too long for an attribute name.
        {W(std::string(251, 'n')), ERROR_FILENAME_EXCED_RANGE},
        {W(std::string(252, 'n')), ERROR_FILENAME_EXCED_RANGE},
        {WString(126, u'\u00e9'), ERROR_FILENAME_EXCED_RANGE},
    };
    for (const Case& c : refused) {
        Opened opened = OpenItem(doc + W(":") + c.stream);
        EXPECT_FALSE(opened.ok()) << Narrow(c.stream);
        EXPECT_EQ(opened.error, c.error) << Narrow(c.stream);
        SetLastError(0);
        EXPECT_FALSE(DeleteFileW((doc + W(":") + c.stream).c_str()));
        EXPECT_EQ(GetLastError(), c.error) << Narrow(c.stream);
    }
    EXPECT_TRUE(RawAttributeNames(dir / "doc").empty());
    EXPECT_EQ(Tree(dir.path()), std::vector<std::string>{"doc"});

    // The longest names that fit, and characters beyond the basic plane.
    ASSERT_TRUE(OpenItem(doc + W(":" + std::string(250, 'n'))).ok());
    EXPECT_EQ(RawStream(dir / "doc", std::string(250, 'n')), std::string());
    ASSERT_TRUE(OpenItem(doc + W(":\xF0\x9F\x98\x80\xC3\xA9")).ok());
    EXPECT_EQ(RawStream(dir / "doc", "\xF0\x9F\x98\x80\xC3\xA9"), std::string());

    // A file part that UTF-8 cannot carry.
    Opened badFile = OpenItem(PathW(dir.path()) + W("/f") + loneSurrogate + W(":T"));
    EXPECT_EQ(badFile.error, static_cast<DWORD>(ERROR_INVALID_NAME));
}

TEST(PlatformStreamPath, MissingFilesAndFolders) {
    TempDir dir;
    MakeFile(dir / "doc");

    EXPECT_EQ(OpenItem(StreamW(dir / "doc" / "inner", "T")).error,
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(OpenItem(StreamW(dir / "doc", "Missing"), OPEN_EXISTING).error,
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(OpenReader(PathW(dir / "nofile")).error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Open(W(""), GENERIC_READ, 0, OPEN_EXISTING).error,
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Tree(dir.path()), std::vector<std::string>{"doc"});
    EXPECT_TRUE(RawAttributeNames(dir / "doc").empty());
}

}  // namespace
}  // namespace quarrow2::test

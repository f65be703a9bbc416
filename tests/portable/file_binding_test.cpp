// Binding a File: the volume root its streams probe asks about, the answer, Exists on real
// files, Close; what a File refuses before it touches the file system, and in which order.
#include <algorithm>
#include <iterator>

#include "file_fixture.h"
#include "store/volume_probe.h"

namespace quarrow2::test {
using store::GetVolumeRoot;
using store::kVolumeRootCapacity;
namespace {

const char kForbidden[] = "Access to this data type forbidden.";
const char kNoPath[] = "No file path assigned.";
const char kNoStreams[] = "Volume does not support streams.";

TEST(FileChecks, EveryNameOfTheMainStreamIsForbiddenBeforeNoPathBeforeUnsupportedVolume) {
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    EXPECT_FALSE(Supported(file.get()) || Exists(file.get()));
    // Unbound: a forbidden name wins over the missing path.
    ExpectFileFailure(Open(file.get(), "$DATA"), kForbidden);
    ExpectFileFailure(Add(file.get(), ""), kForbidden);
    ExpectFileFailure(Open(file.get(), "Author"), kNoPath);
    ExpectFileFailure(Add(file.get(), "Author"), kNoPath);
    // A relative path's root cannot be queried: no named streams, so no items.
    EXPECT_FALSE(Bind(file.get(), W("report.doc")));
    // On NTFS stream types ignore case and the system trims dots and blanks from the end of
    // a path; an absent name is the empty name; a name ends at its first zero unit.
    const WString mainStream[] = {
        W("$DATA"),   W(""),         W(":$DATA"),   W(":"),
        W(":$data"),  W(":$Data"),   W(":$DATA "),  W("::$DATA"),
        W(":Author"), W(":x:$DATA"), W("."),        W(".."),
        W(" "),       W(". ."),      W(" .. "),     W(".:$DATA"),
        W(" :$data"), {0, 'A', 'u'}, {':', 0, 'x'}, {'$', 'D', 'A', 'T', 'A', 0, 'x'}};
    for (const WString& name : mainStream) {
        SCOPED_TRACE(Narrow(name));
        ExpectFileFailure(Open(file.get(), name), kForbidden);
        ExpectFileFailure(Add(file.get(), name), kForbidden);
    }
    ExpectFileFailure(OpenOrAdd(file.get(), true, nullptr), kForbidden);
    // Case matters without a colon, as does a trailing blank: past the name check.
    for (const char* name :
         {"$data", "$DATA ", "$Data", "DATA", "a:b", "Author:$DATA", "Author.", ". a", ".:x"}) {
        SCOPED_TRACE(name);
        ExpectFileFailure(Add(file.get(), name), kNoStreams);
    }
    ExpectFileFailure(Open(file.get(), "Author"), kNoStreams);
    LONG length = 77;
    EXPECT_EQ(file->get_Length(&length), S_OK);
    EXPECT_EQ(length, 0);

    // Close returns to the unbound state, where Length and Types need a path too.
    ASSERT_EQ(file->Close(), S_OK);
    ExpectFileFailure(Add(file.get(), "Author"), kNoPath);
    ExpectFileFailure(Open(file.get(), ":"), kForbidden);
    SetErrorInfo(0, nullptr);
    ExpectFileFailure({file->get_Length(&length), {}, TakeRichError()}, kNoPath);
    EXPECT_EQ(length, 0);
    IStrings* untouched = reinterpret_cast<IStrings*>(static_cast<uintptr_t>(0x20));
    ExpectFileFailure({file->get_Types(&untouched), {}, TakeRichError()}, kNoPath);
    EXPECT_EQ(untouched, reinterpret_cast<IStrings*>(static_cast<uintptr_t>(0x20)));

    // IFile2 refuses in the same order, each cause with a status of its own; a relative
    // path's volume has no named streams.
    const ComPtr<IFile2> extended = Extended(file.get());
    ASSERT_TRUE(extended);
    const std::string forbidden = Failed(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), kForbidden);
    for (const auto& [bound, refusal] :
         {std::pair{false, Failed(OLE_E_BLANK, kNoPath)},
          {true, Failed(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), kNoStreams)}}) {
        SCOPED_TRACE(bound);
        EXPECT_FALSE(bound ? Bind(file.get(), W("report.doc")) : file->Close() != S_OK);
        EXPECT_EQ(ReadTextOf(extended.get(), W("$DATA")), forbidden);
        EXPECT_EQ(ReadTextOf(extended.get(), W("Author")), refusal);
        EXPECT_EQ(ItemsOf(extended.get()), refusal);
        UniqueVariant data;
        EXPECT_EQ(Outcome(extended->ReadData(Bstr(":").get(), data.out()), [] { return ""; }),
                  forbidden);
        EXPECT_EQ(data->vt, VT_EMPTY);
    }

    // An empty or absent path counts as none; the answer is the current drive's volume's.
    const bool streams = Bind(file.get(), WString());
    EXPECT_EQ(Supported(file.get()), streams);
    EXPECT_FALSE(Exists(file.get()));
    ExpectFileFailure(Add(file.get(), "Author"), kNoPath);
    EXPECT_EQ(Answer(file.get(), &IFile::SetFile, BSTR{}), streams);
    ExpectFileFailure(Open(file.get(), "Author"), kNoPath);
}

// Wine reports no named streams on its drives, so there the bound file refuses items and
// creates nothing beside the file (Wine would keep F:T as a file of its own); items of a
// volume with named streams: tests/posix.
TEST(FileBinding, ExistsAsksAboutExactlyTheBoundPathAndItemsFollowTheVolumesAnswer) {
    TempDir dir;
    const fs::path plain = dir / "plain.txt";
    // Names that no ANSI code page holds, and a fullwidth solidus that a best-fit mapping
    // would turn into a separator: the UTF-16 path is opened as it is.
    const fs::path cyrillic = dir.path() / fs::u8path("\xd0\xbe\xd1\x82\xd1\x87\xd1\x91\xd1\x82");
    const fs::path fullwidth = dir.path() / fs::u8path("a\xef\xbc\x8f\x62.txt");
    for (const fs::path& made : {plain, cyrillic, fullwidth}) MakeFile(made, "x");
    fs::create_directory(dir / "a");
    MakeFile(dir / "a" / "c.txt", "w");
    const std::pair<WString, bool> cases[] = {
        {PathW(plain), true},
        {PathW(dir / "missing.txt"), false},
        {PathW(plain) + WString{0} + OLESTR(".missing"), true},  // the path ends at a zero unit
        {PathW(cyrillic), true},
        {PathW(fullwidth), true},
        {PathW(dir.path() / fs::u8path("a\xef\xbc\x8f\x63.txt")), false}};
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    for (const auto& c : cases) {
        Bind(file.get(), c.first);
        EXPECT_EQ(Exists(file.get()), c.second) << Narrow(c.first);
    }
    // Not while another handle writes without sharing.
    Bind(file.get(), plain);
    platform::UniqueHandle writer(CreateFileW(PathW(plain).c_str(), GENERIC_WRITE, 0, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.valid()) << GetLastError();
    EXPECT_FALSE(Exists(file.get()));
    writer.reset();
    EXPECT_TRUE(Exists(file.get()));

    const size_t entries = std::distance(fs::directory_iterator(dir.path()), {});
    const bool streams = Bind(file.get(), plain);
    RecordProperty("named_streams", streams ? "yes" : "no");
    EXPECT_EQ(Supported(file.get()), streams);
    if (!streams) {
        ExpectFileFailure(Open(file.get(), "Author"), kNoStreams);
        ExpectFileFailure(Add(file.get(), "Author"), kNoStreams);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), entries);
    }
    ASSERT_EQ(file->Close(), S_OK);
    EXPECT_FALSE(Supported(file.get()) || Exists(file.get()));
}

TEST(VolumeRoot, DrivesUncPathsRelativePathsZeroUnitsAndLongPaths) {
    const WString deep = OLESTR("\\\\s\\") + WString(300, OLESTR('y')) + OLESTR("\\z");
    const std::pair<WString, WString> cases[] = {
        {W("C:\\data\\report.doc"), W("C:\\")},
        {W("C:"), W("C:")},
        {W("C:report.doc"), W("C:r")},
        {W("\\\\server\\share\\dir\\file.txt"), W("\\\\server\\share\\")},
        {W("\\\\server\\share"), W("\\\\server\\share\\")},
        {W("report.doc"), W("report.doc\\")},
        {W(""), W("\\")},
        {W("C"), W("C\\")},
        // Counting stops at the fourth backslash, whatever kind of path it is.
        {W("a\\b\\c\\d\\e\\f"), W("a\\b\\c\\d\\")},
        // A POSIX path carries no backslash: the whole path, for the platform to resolve.
        {W("/tmp/dir/file.txt"), W("/tmp/dir/file.txt\\")},
        // "C", zero, ":\": the path "C", not a drive, however the units after it look.
        {WString{'C', 0, ':', '\\', 'x'}, W("C\\")},
        // "C:" then a zero: the two units alone, and nothing read past the zero.
        {WString{'C', ':', 0, 'X'}, W("C:")},
        // Long paths stop at 244 units, also where the fourth backslash comes later.
        {WString(1000, OLESTR('x')), WString(244, OLESTR('x')) + OLESTR("\\")},
        {deep, deep.substr(0, 244) + OLESTR("\\")}};
    for (const auto& c : cases) {
        WCHAR root[kVolumeRootCapacity];  // a write past its end: AddressSanitizer
        std::fill(std::begin(root), std::end(root), 0x5A5A);
        GetVolumeRoot(c.first.c_str(), root);
        EXPECT_EQ(Narrow(WString(root)), Narrow(c.second)) << Narrow(c.first);
        for (size_t i = 246; i < kVolumeRootCapacity; ++i) EXPECT_EQ(root[i], 0x5A5A) << i;
    }
    WCHAR root[kVolumeRootCapacity];
    GetVolumeRoot(nullptr, root);
    EXPECT_EQ(Narrow(WString(root)), "\\") << "an absent path";
}

}  // namespace
}  // namespace quarrow2::test

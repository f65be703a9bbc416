// Quarrow2.dll on a real NTFS volume: an ntfs-3g mount with Windows stream names, reached
// under Wine through the Z: drive. ntfs_wine_test.py makes the volume, prepares its files
// from Linux, runs this program and checks afterwards, from Linux, what it left.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "../client_support.h"
#include "named_streams_hook.h"
#include "portable/file_fixture.h"
#include "portable/metadata_fixture.h"

namespace quarrow2::test {
namespace {

using metadata::ArrayBytes;
using metadata::BytesOf;
using metadata::ExpectEmptyByteArray;
using metadata::PutData;

// The values both sides write and expect; ntfs_wine_test.py spells the same ones.
const char kText[] = "Quarrow2 \xC3\xA9\xE4\xB8\xAD \xF0\x9D\x84\x9E";  // é, a CJK unit, U+1D11E
Bytes AllByteValues() {
    Bytes bytes;
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<unsigned char>(b));
    return bytes;
}

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"); }

// The folder on the volume, as ntfs_wine_test.py passes it.
WString Folder() {
    const wchar_t* folder = _wgetenv(L"QUARROW2_NTFS_DIR");
    return folder ? WString(folder) : WString();
}
WString OnVolume(const char* name) { return Folder() + OLESTR("\\") + W(name); }

// The bytes of a file or stream read past any item that holds it, or nothing with the
// system's code in `error`.
std::optional<Bytes> Read(const WString& path, DWORD* error = nullptr) {
    UniqueHandle h(CreateFileW(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) {
        if (error) *error = GetLastError();
        return std::nullopt;
    }
    Bytes bytes(GetFileSize(h.get(), nullptr));
    DWORD got = 0;
    if (!bytes.empty() &&
        !ReadFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
        return std::nullopt;
    bytes.resize(got);
    return bytes;
}

class NtfsClientTest : public client::ClientTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(Folder().empty()) << "run by ntfs_wine_test.py, which sets QUARROW2_NTFS_DIR";
        ASSERT_TRUE(client::ReportNamedStreamsTo(client::Library::Get().module()))
            << "Quarrow2.dll imports no GetVolumeInformationW";
        client::ClientTest::SetUp();
    }

    // A File of the DLL bound to a file of the volume, which must read as one with streams.
    ComPtr<IFile> BoundTo(const char* name) {
        ComPtr<IFile> file = client::NewFileDirect();
        EXPECT_TRUE(file && Bind(file.get(), OnVolume(name))) << name;
        return file;
    }
};

TEST_F(NtfsClientTest, ItemsLiveInNamedStreamsAndRoundTrip) {
    ComPtr<IFile> file = BoundTo("doc.txt");
    ASSERT_TRUE(file);
    EXPECT_TRUE(Supported(file.get()));
    EXPECT_TRUE(Exists(file.get()));
    const std::optional<Bytes> body = Read(OnVolume("doc.txt"));
    ASSERT_TRUE(body);

    ItemOutcome author = Add(file.get(), "Author");
    ASSERT_EQ(author.hr, S_OK) << author.error.description;
    EXPECT_EQ(Read(OnVolume("doc.txt:Author")), EmptyValueMarker());
    EXPECT_EQ(LengthOf(author.item.get()), 32);

    ASSERT_EQ(PutText(author.item.get(), kText), S_OK);
    EXPECT_EQ(Read(OnVolume("doc.txt:Author")), Utf16Bytes(W(kText)));
    EXPECT_EQ(TextOf(author.item.get()), kText);
    EXPECT_EQ(LengthOf(author.item.get()), static_cast<LONG>(Utf16Bytes(W(kText)).size()));

    ASSERT_EQ(PutData(author.item.get(), AllByteValues()), S_OK);
    EXPECT_EQ(Read(OnVolume("doc.txt:Author")), AllByteValues());
    UniqueVariant data;
    ASSERT_EQ(author.item->get_Data(data.get()), S_OK);
    EXPECT_EQ(ArrayBytes(*data), AllByteValues());
    EXPECT_EQ(LengthOf(author.item.get()), 256);

    // The empty value, put as text and as bytes, is the marker on disk.
    ASSERT_EQ(PutText(author.item.get(), ""), S_OK);
    EXPECT_EQ(Read(OnVolume("doc.txt:Author")), EmptyValueMarker());
    EXPECT_EQ(TextOf(author.item.get()), "");
    ASSERT_EQ(PutData(author.item.get(), Bytes()), S_OK);
    EXPECT_EQ(Read(OnVolume("doc.txt:Author")), EmptyValueMarker());
    UniqueVariant empty;
    ExpectEmptyByteArray(author.item->get_Data(empty.get()), *empty);

    // Types and Length walk the streams with BackupRead, which Wine does not implement:
    // there the walk finds nothing. Windows lists Keep (made from Linux) and Author.
    ComPtr<IStrings> types;
    ASSERT_EQ(file->get_Types(types.out()), S_OK);
    LONG count = -1, length = -1;
    EXPECT_EQ(types->get_Count(&count), S_OK);
    EXPECT_EQ(file->get_Length(&length), S_OK);
    if (UnderWine()) {
        EXPECT_EQ(count, 0);
        EXPECT_EQ(length, 0);
    } else {
        EXPECT_EQ(count, 2);
        EXPECT_EQ(length, static_cast<LONG>(Read(OnVolume("doc.txt:Keep"))->size() + 32));
    }

    // Close lets go of the stream: it opens for writing again at once.
    ASSERT_EQ(author.item->Close(), S_OK);
    ItemOutcome again = Open(file.get(), "Author");
    ASSERT_EQ(again.hr, S_OK) << again.error.description;
    ASSERT_EQ(again.item->Delete(), S_OK);
    EXPECT_EQ(Read(OnVolume("doc.txt")), body);
}

TEST_F(NtfsClientTest, FailedOpensCarryTheSystemsTextAndDeleteTakesOneStream) {
    ComPtr<IFile> file = BoundTo("doc.txt");
    ASSERT_TRUE(file);
    const std::optional<Bytes> body = Read(OnVolume("doc.txt"));
    const std::optional<Bytes> keep = Read(OnVolume("doc.txt:Keep"));
    ASSERT_TRUE(body && keep);

    ExpectFileFailure(Open(file.get(), "Missing"),
                      WithSystemText("Unable to open metadata.", ERROR_FILE_NOT_FOUND));
    DWORD error = 0;
    EXPECT_FALSE(Read(OnVolume("doc.txt:Missing"), &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "Open created the stream";

    // An item holds its stream for writing and admits readers only.
    ItemOutcome held = Add(file.get(), "Held");
    ASSERT_EQ(held.hr, S_OK);
    ExpectFileFailure(Open(file.get(), "Held"),
                      WithSystemText("Unable to open metadata.", ERROR_SHARING_VIOLATION));
    ExpectFileFailure(Add(file.get(), "Held"),
                      WithSystemText("Unable to add metadata.", ERROR_SHARING_VIOLATION));

    ASSERT_EQ(held.item->Delete(), S_OK);
    EXPECT_FALSE(Read(OnVolume("doc.txt:Held"), &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Read(OnVolume("doc.txt")), body);
    EXPECT_EQ(Read(OnVolume("doc.txt:Keep")), keep);
}

// "T:$DATA" names the stream T on Windows. Wine keeps the suffix as part of the name.
TEST_F(NtfsClientTest, WhatTheSystemMakesOfTheEndOfAName) {
    ComPtr<IFile> file = BoundTo("doc.txt");
    ASSERT_TRUE(file);
    ItemOutcome kind = Add(file.get(), "Kind:$DATA");
    ASSERT_EQ(kind.hr, S_OK) << kind.error.description;
    ASSERT_EQ(PutText(kind.item.get(), "k"), S_OK);
    EXPECT_EQ(Read(OnVolume("doc.txt:Kind")).has_value(), !UnderWine());
    EXPECT_EQ(kind.item->Delete(), S_OK);
    EXPECT_FALSE(Read(OnVolume("doc.txt:Kind:$DATA")));

    // The system trims trailing dots and blanks: "Trail. " is the stream Trail.
    ItemOutcome trail = Add(file.get(), "Trail. ");
    ASSERT_EQ(trail.hr, S_OK) << trail.error.description;
    ASSERT_EQ(PutText(trail.item.get(), "t"), S_OK);
    EXPECT_EQ(Read(OnVolume("doc.txt:Trail")), Utf16Bytes(W("t")));
    EXPECT_EQ(trail.item->Delete(), S_OK);
}

// Every write of an item holds a byte-range lock, which on Windows keeps readers on other
// handles out of the locked bytes.
TEST_F(NtfsClientTest, ALockedRangeAndReadersOnOtherHandles) {
    const WString stream = OnVolume("doc.txt:Locked");
    const DWORD everyone = FILE_SHARE_READ | FILE_SHARE_WRITE;
    UniqueHandle writer(CreateFileW(stream.c_str(), GENERIC_READ | GENERIC_WRITE, everyone, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.valid()) << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer.get(), "0123456789abcdef", 16, &written, nullptr));
    ASSERT_TRUE(LockFile(writer.get(), 0, 0, 8, 0));

    UniqueHandle reader(CreateFileW(stream.c_str(), GENERIC_READ, everyone, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader.valid()) << GetLastError();
    char buffer[8] = {};
    DWORD got = 0;
    const BOOL read = ReadFile(reader.get(), buffer, 8, &got, nullptr);
    const DWORD readError = read ? 0 : GetLastError();
    // A second lock of the same bytes is refused everywhere.
    EXPECT_FALSE(LockFile(reader.get(), 0, 0, 8, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    if (UnderWine()) {
        // Wine keeps byte-range locks among its own handles for LockFile, but does not
        // enforce them on ReadFile: the read inside the locked range succeeds.
        EXPECT_TRUE(read) << readError;
        EXPECT_EQ(std::string(buffer, got), "01234567");
    } else {
        EXPECT_FALSE(read);
        EXPECT_EQ(readError, static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    }
    EXPECT_TRUE(UnlockFile(writer.get(), 0, 0, 8, 0));
    writer.reset();
    reader.reset();
    EXPECT_TRUE(DeleteFileW(stream.c_str()));
}

// Names that reach the file itself on Windows are refused; every other one fails with the
// system's reason or lands in a stream of its own, which is deleted again. ntfs_wine_test.py
// then checks from Linux that hostile.txt keeps its bytes and exactly its two items.
TEST_F(NtfsClientTest, HostileTypeNamesNeverReachTheFileOrItsOtherItems) {
    ComPtr<IFile> file = BoundTo("hostile.txt");
    ASSERT_TRUE(file);
    const std::optional<Bytes> body = Read(OnVolume("hostile.txt"));
    const std::optional<Bytes> keep = Read(OnVolume("hostile.txt:Keep"));
    const std::optional<Bytes> other = Read(OnVolume("hostile.txt:Other"));
    ASSERT_TRUE(body && keep && other);

    // The names of each kind, apart by '|'; then those that text cannot spell.
    std::vector<std::pair<WString, bool>> cases;
    auto named = [&cases](const std::string& names, bool forbidden) {
        for (size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
            end = names.find('|', at);
            cases.emplace_back(W(names.substr(at, end - at)), forbidden);
        }
    };
    named(".|..|...| |. .| . |.:$DATA|:$DATA|:$data|::$DATA|:|:x|$DATA", true);
    named(
        "$data|$DATA |x:$DATA|x:$data|Author.|Author |a/b|a\\b|../doc.txt|..\\doc.txt|/|\\|a:b|"
        "Keep:Other",
        false);
    cases.emplace_back(WString{0, 'K', 'e', 'e', 'p'}, true);
    for (const WString& type :
         {WString{'T', 0, '/', '.', '.'}, WString(300, OLESTR('n')), WString(65535, OLESTR('n')),
          WString{'a', 0xD800, 'b'}, WString{0xDC00}, WString(200, static_cast<WCHAR>(0xE9))})
        cases.emplace_back(type, false);
    for (const auto& [type, forbidden] : cases) {
        SCOPED_TRACE(Narrow(type.substr(0, 20)));
        for (bool add : {true, false}) {
            ItemOutcome outcome = add ? Add(file.get(), type) : Open(file.get(), type);
            if (outcome.hr == S_OK) {
                // Whatever the name, writes land in the item's own stream, which then goes.
                EXPECT_EQ(PutText(outcome.item.get(), "hostile"), S_OK);
                EXPECT_EQ(outcome.item->Delete(), S_OK);
            }
            if (forbidden) {
                ExpectFileFailure(outcome, "Access to this data type forbidden.");
            } else if (outcome.hr != S_OK) {
                const std::string prefix =
                    add ? "Unable to add metadata. " : "Unable to open metadata. ";
                EXPECT_EQ(outcome.error.description.rfind(prefix, 0), 0u)
                    << outcome.error.description;
            }
            ASSERT_EQ(Read(OnVolume("hostile.txt")), body);
            ASSERT_EQ(Read(OnVolume("hostile.txt:Keep")), keep);
            ASSERT_EQ(Read(OnVolume("hostile.txt:Other")), other);
        }
    }
    ExpectFileFailure(OpenOrAdd(file.get(), true, nullptr), "Access to this data type forbidden.");
}

// Two items of one file, each open for writing. Windows keeps share modes per stream. Wine
// keeps them per file, and ntfs-3g gives a file's streams the file's own inode, so under
// Wine the second item is refused as if it were the first one's stream.
TEST_F(NtfsClientTest, TwoItemsOfOneFileOpenAtOnce) {
    ComPtr<IFile> file = BoundTo("doc.txt");
    ASSERT_TRUE(file);
    ItemOutcome first = Add(file.get(), "First");
    ASSERT_EQ(first.hr, S_OK) << first.error.description;
    ItemOutcome second = Add(file.get(), "Second");
    if (UnderWine()) {
        ExpectFileFailure(second,
                          WithSystemText("Unable to add metadata.", ERROR_SHARING_VIOLATION));
    } else {
        ASSERT_EQ(second.hr, S_OK) << second.error.description;
        EXPECT_EQ(second.item->Delete(), S_OK);
    }
    EXPECT_EQ(first.item->Delete(), S_OK);
    const WString secondStream = OnVolume("doc.txt:Second");
    if (UnderWine()) {
        // Wine creates the stream before it checks the share modes, and leaves it, empty.
        EXPECT_EQ(Read(secondStream), Bytes());
        EXPECT_TRUE(DeleteFileW(secondStream.c_str()));
    }
    DWORD error = 0;
    EXPECT_FALSE(Read(secondStream, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// ntfs_wine_test.py wrote linux.txt's items with the Linux library before this run, and
// reads dll.txt's items with it after. One item at a time, for Wine's sake (see above).
TEST_F(NtfsClientTest, ReadsWhatTheLinuxLibraryWroteAndWritesTheSameForIt) {
    ComPtr<IFile> linux = BoundTo("linux.txt");
    ComPtr<IFile> windows = BoundTo("dll.txt");
    ASSERT_TRUE(linux && windows);
    const struct {
        const char* type;
        Bytes value;
    } items[] = {{"Text", Utf16Bytes(W(kText))}, {"Bytes", AllByteValues()}, {"Empty", Bytes()}};
    for (const auto& [type, value] : items) {
        SCOPED_TRACE(type);
        ItemOutcome read = Open(linux.get(), type);
        ASSERT_EQ(read.hr, S_OK) << read.error.description;
        UniqueVariant data;
        if (value.empty()) {
            ExpectEmptyByteArray(read.item->get_Data(data.get()), *data);
        } else {
            ASSERT_EQ(read.item->get_Data(data.get()), S_OK);
            EXPECT_EQ(ArrayBytes(*data), value);
        }
        EXPECT_EQ(read.item->Close(), S_OK);

        ItemOutcome written = Add(windows.get(), type);
        ASSERT_EQ(written.hr, S_OK) << written.error.description;
        EXPECT_EQ(PutData(written.item.get(), BytesOf("x")), S_OK);
        EXPECT_EQ(PutData(written.item.get(), value), S_OK);
        EXPECT_EQ(written.item->Close(), S_OK);
    }
    ItemOutcome text = Open(linux.get(), "Text");
    ASSERT_EQ(text.hr, S_OK);
    EXPECT_EQ(TextOf(text.item.get()), kText);
}

}  // namespace
}  // namespace quarrow2::test

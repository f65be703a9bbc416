// Quarrow2.dll on the ntfs-3g volume that ntfs_wine_test.py prepares and checks from Linux.
#include <numeric>
#include <optional>

#include "../client_support.h"
#include "portable/metadata_fixture.h"
#include "windows/ntfs/named_streams.h"

namespace quarrow2::test {
namespace {

// The values both sides write and expect; ntfs_wine_test.py spells the same ones.
const char kText[] = "Quarrow2 \xC3\xA9\xE4\xB8\xAD \xF0\x9D\x84\x9E";  // é, a CJK unit, U+1D11E
const Bytes kAllBytes = [] {
    Bytes bytes(256);
    std::iota(bytes.begin(), bytes.end(), 0);
    return bytes;
}();

WString OnVolume(const char* name) { return _wgetenv(L"QUARROW2_NTFS_DIR") + (L"\\" + W(name)); }

// Shared past any item that holds it; nothing where it cannot be opened, GetLastError says why.
std::optional<Bytes> Read(const char* name) {
    platform::UniqueHandle h(CreateFileW(OnVolume(name).c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    Bytes bytes(4096);
    DWORD got = 0;
    if (!h.valid() || !ReadFile(h.get(), bytes.data(), 4096, &got, nullptr)) return std::nullopt;
    bytes.resize(got);
    return bytes;
}
bool Gone(const char* name) { return !Read(name) && GetLastError() == ERROR_FILE_NOT_FOUND; }

class NtfsClientTest : public ClientTest {
protected:
    void SetUp() override {
        ASSERT_NE(_wgetenv(L"QUARROW2_NTFS_DIR"), nullptr) << "run by ntfs_wine_test.py";
        static const bool hooked = ReportNamedStreams(Dll());
        ASSERT_TRUE(hooked) << "Quarrow2.dll imports no GetVolumeInformationW";
        ClientTest::SetUp();
    }

    ComPtr<IFile> BoundTo(const char* name) {
        ComPtr<IFile> file = NewFileDirect();
        EXPECT_TRUE(file && Bind(file.get(), OnVolume(name))) << name;
        return file;
    }
};

// ntfs_wine_test.py checks from Linux afterwards that doc.txt keeps its bytes and only Keep.
TEST_F(NtfsClientTest, FailuresCarryTheSystemsTextAndDeleteTakesOneStream) {
    ComPtr<IFile> file = BoundTo("doc.txt");
    ASSERT_TRUE(file);
    EXPECT_TRUE(Exists(file.get()));
    // Types and Length walk the streams with BackupRead, which Wine lacks: nothing, no failure.
    ComPtr<IStrings> types;
    LONG count = -1, length = -1;
    ASSERT_EQ(file->get_Types(types.out()), S_OK);
    EXPECT_EQ(types->get_Count(&count), S_OK);
    EXPECT_EQ(file->get_Length(&length), S_OK);
    EXPECT_EQ(std::make_pair(count, length), std::make_pair(0L, 0L));
    // Items walks the same way and says why it could not, never answering "no items".
    EXPECT_EQ(ItemsOf(Extended(file.get()).get()),
              FailedFor(ERROR_NOT_SUPPORTED, "Unable to list metadata."));
    ExpectFileFailure(Open(file.get(), "Missing"), "Unable to open metadata.",
                      ERROR_FILE_NOT_FOUND);

    // An item admits readers only. Wine keeps share modes per inode, one for all of ntfs-3g's
    // streams of a file: a second item is refused too, its stream made and left empty.
    ItemOutcome held = Add(file.get(), "Held");
    ASSERT_EQ(held.hr, S_OK);
    for (const auto& [add, type] : {std::pair{false, "Held"}, {true, "Held"}, {true, "Second"}}) {
        ExpectFileFailure(add ? Add(file.get(), type) : Open(file.get(), type),
                          add ? "Unable to add metadata." : "Unable to open metadata.",
                          ERROR_SHARING_VIOLATION);
    }
    ASSERT_EQ(held.item->Close(), S_OK);
    held = Open(file.get(), "Held");
    ASSERT_EQ(held.hr, S_OK) << held.error.description;
    ASSERT_EQ(held.item->Delete(), S_OK);
    EXPECT_EQ(Read("doc.txt:Second"), Bytes());
    EXPECT_TRUE(DeleteFileW(OnVolume("doc.txt:Second").c_str()));

    // Trailing dots and blanks are trimmed; a type's ":$DATA", which Wine would keep as part
    // of the name, is left out of the path, as Windows takes it for the stream kind.
    for (const auto& [type, stream] :
         {std::pair{"Trail. ", "doc.txt:Trail"}, std::pair{"Kind:$DATA", "doc.txt:Kind"}}) {
        ItemOutcome added = Add(file.get(), type);
        ASSERT_EQ(added.hr, S_OK) << added.error.description;
        ASSERT_EQ(PutText(added.item.get(), "t"), S_OK);
        EXPECT_EQ(Read(stream), Utf16Bytes(W("t"))) << type;
        EXPECT_EQ(added.item->Delete(), S_OK);
        EXPECT_TRUE(Gone(stream)) << type;
    }
}

// Every write of an item holds a byte-range lock, which on Windows keeps other handles' reads
// out. Wine enforces it on LockFile but not on ReadFile: the read inside the range succeeds.
TEST_F(NtfsClientTest, ALockedRangeAndReadersOnOtherHandles) {
    const WString stream = OnVolume("doc.txt:Locked");
    auto open = [&stream](DWORD access, DWORD how) {
        return platform::UniqueHandle(CreateFileW(stream.c_str(), access,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, how,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    platform::UniqueHandle writer = open(GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer.get(), "0123456789abcdef", 16, &written, nullptr));
    ASSERT_TRUE(LockFile(writer.get(), 0, 0, 8, 0));
    platform::UniqueHandle reader = open(GENERIC_READ, OPEN_EXISTING);
    char buffer[8] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(reader.get(), buffer, 8, &got, nullptr)) << GetLastError();
    EXPECT_EQ(std::string(buffer, got), "01234567");
    EXPECT_FALSE(LockFile(reader.get(), 0, 0, 8, 0)) << "a second lock of the same bytes";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_TRUE(UnlockFile(writer.get(), 0, 0, 8, 0));
    writer.reset();
    reader.reset();
    EXPECT_TRUE(DeleteFileW(stream.c_str()));
}

// A folder bound with a trailing backslash reaches its own items, never a file in it.
TEST_F(NtfsClientTest, AFolderBoundWithATrailingBackslashIsTheFolder) {
    ComPtr<IFile> plain = BoundTo("folder"), slashed = BoundTo("folder\\");
    ASSERT_TRUE(plain && slashed);
    const ComPtr<IFile2> reader = Extended(plain.get());
    EXPECT_EQ(ReadTextOf(Extended(slashed.get()).get(), W("Kept")), "kept");
    ItemOutcome added = Add(slashed.get(), "Added");
    ASSERT_EQ(added.hr, S_OK) << added.error.description;
    ASSERT_EQ(PutText(added.item.get(), "added"), S_OK);
    added.item.reset();
    EXPECT_EQ(ReadTextOf(reader.get(), W("Added")), "added");
}

// linux.txt's items come from the Linux library; dll.txt's go to it. One item open at a time.
TEST_F(NtfsClientTest, ItemsInNamedStreamsSharedWithTheLinuxLibrary) {
    ComPtr<IFile> linux = BoundTo("linux.txt"), windows = BoundTo("dll.txt");
    ASSERT_TRUE(linux && windows);
    const std::pair<std::string, Bytes> items[] = {
        {"Text", Utf16Bytes(W(kText))}, {"Bytes", kAllBytes}, {"Empty", Bytes()}};
    for (const auto& [type, value] : items) {
        SCOPED_TRACE(type);
        const Bytes stored = value.empty() ? EmptyValueMarker() : value;
        ItemOutcome read = Open(linux.get(), type.c_str());
        ASSERT_EQ(read.hr, S_OK) << read.error.description;
        EXPECT_EQ(LengthOf(read.item.get()), static_cast<LONG>(stored.size()));
        // IFile2 reads the same one shot, beside the item held open.
        const ComPtr<IFile2> reader = Extended(linux.get());
        for (bool oneShot : {false, true}) {
            UniqueVariant data;
            const HRESULT got = oneShot ? reader->ReadData(Bstr(type).get(), data.out())
                                        : read.item->get_Data(data.get());
            if (value.empty())
                metadata::ExpectEmptyByteArray(got, *data);
            else
                EXPECT_EQ(got == S_OK ? metadata::ArrayBytes(*data) : Bytes{'!'}, value);
        }
        if (type == "Text") {
            EXPECT_EQ(TextOf(read.item.get()), kText);
        }
        if (type != "Bytes") {
            EXPECT_EQ(ReadTextOf(reader.get(), W(type)), value.empty() ? "" : kText);
        }
        EXPECT_EQ(read.item->Close(), S_OK);
        // A new item holds the empty value; text is put as text, the rest as bytes.
        const std::string stream = "dll.txt:" + type;
        ItemOutcome written = Add(windows.get(), type.c_str());
        ASSERT_EQ(written.hr, S_OK) << written.error.description;
        EXPECT_EQ(Read(stream.c_str()), EmptyValueMarker());
        EXPECT_EQ(type == "Text" ? PutText(written.item.get(), kText)
                                 : metadata::PutData(written.item.get(), value),
                  S_OK);
        EXPECT_EQ(Read(stream.c_str()), stored);
        EXPECT_EQ(written.item->Close(), S_OK);
    }
    // "No item" only where the file is there.
    EXPECT_EQ(
        ReadTextOf(Extended(linux.get()).get(), W("Missing")),
        FailedFor(ERROR_NOT_FOUND, "Unable to get text.", "The file has no item of this type."));
    EXPECT_EQ(ReadTextOf(Extended(BoundTo("none.txt").get()).get(), W("Text")),
              FailedFor(ERROR_FILE_NOT_FOUND, "Unable to get text."));
}

}  // namespace
}  // namespace quarrow2::test

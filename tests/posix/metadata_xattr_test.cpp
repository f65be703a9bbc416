// Items on Linux: the bytes they leave in "user." attributes, the file system's size limits,
// and other processes that hold the same stream.
#include <gtest/gtest.h>

#include <sys/statfs.h>

#include "platform_fixture.h"
#include "portable/metadata_fixture.h"

namespace quarrow2::test::metadata {
namespace {

std::string Raw(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(MetaDataXattr, ValuesAreTheAttributesBytesExactly) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();

    ASSERT_EQ(PutText(item.get(), WString()), S_OK);
    EXPECT_EQ(RawStream(file.file(), "T"), Raw(EmptyValueMarker()));
    EXPECT_EQ(RawStream(file.file(), "T")->size(), 32u);

    ASSERT_EQ(PutText(item.get(), W("AB")), S_OK);
    EXPECT_EQ(RawStream(file.file(), "T"), std::string("\x41\x00\x42\x00", 4));

    ASSERT_EQ(PutData(item.get(), {0x01, 0x02, 0x03}), S_OK);
    EXPECT_EQ(RawStream(file.file(), "T"), std::string("\x01\x02\x03", 3));

    ASSERT_EQ(PutText(item.get(), W("---***NULL***---")), S_OK);
    EXPECT_EQ(RawStream(file.file(), "T"), Raw(EmptyValueMarker()));

    // A value written by another program is read as it stands.
    ASSERT_EQ(item->Close(), S_OK);
    SetRawStream(file.file(), "T", std::string("x\0y", 3));
    item = file.Item();
    UniqueBstr text;
    ASSERT_EQ(item->get_Text(text.out()), S_OK);
    EXPECT_EQ(BstrBytes(text.get()), (Bytes{'x', 0, 'y'}));
    EXPECT_EQ(RawAttributeNames(file.file()), std::vector<std::string>{"user.T"});
}

TEST(MetaDataXattr, RichErrorsNameTheClassAndKeepTheSystemTextsLineEnd) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();
    ASSERT_EQ(item->Close(), S_OK);
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(PutText(item.get(), W("x")), E_FAIL);
    const RichError error = TakeRichError();
    EXPECT_EQ(error.source, "Quarrow2.MetaData.1");
    EXPECT_TRUE(IsEqualGUID(error.guid, IID_IMetaData));
    const std::string systemText = Narrow(SystemText(ERROR_ACCESS_DENIED));
    ASSERT_GE(systemText.size(), 2u);
    EXPECT_EQ(systemText.substr(systemText.size() - 2), "\r\n");
    EXPECT_EQ(error.description, "Unable to put text. " + systemText);
}

// The size limit is reported when the value is committed, at the end of the write sequence:
// a put over it fails with the system's reason and leaves the old value.
void ExpectRefusedForSize(IMetaData* item, const ItemFile& file, size_t bytes) {
    const std::optional<std::string> before = RawStream(file.file(), "T");
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(PutData(item, Bytes(bytes, 'd')), E_FAIL);
    const std::string description = TakeRichError().description;
    EXPECT_TRUE(description == WithSystemText("Unable to put data.", ERROR_FILE_TOO_LARGE) ||
                description == WithSystemText("Unable to put data.", ERROR_DISK_FULL))
        << description;
    EXPECT_EQ(PutText(item, WString(bytes / 2, OLESTR('t'))), E_FAIL);
    EXPECT_EQ(TakeRichError().description.rfind("Unable to put text. ", 0), 0u);
    EXPECT_EQ(RawStream(file.file(), "T"), before);
    EXPECT_EQ(Text(item), "kept");
}

TEST(MetaDataXattr, AValueOverTheAttributeLimitIsRefusedAndTheOldOneKept) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();
    ASSERT_EQ(PutText(item.get(), W("kept")), S_OK);
    // No Linux file system takes an attribute value over 64 KiB.
    ExpectRefusedForSize(item.get(), file, 70000);
}

TEST(MetaDataXattr, AValueOverTheExt4BlockLimitIsRefusedAndTheOldOneKept) {
    ItemFile file;
    struct statfs volume {};
    ASSERT_EQ(statfs(file.file().parent_path().c_str(), &volume), 0);
    if (volume.f_type != 0xEF53) GTEST_SKIP() << "the temporary folder is not on ext4";
    // Probed past the library: with the ea_inode feature, large values fit.
    MakeFile(file.file().parent_path() / "probe");
    const std::string large(8000, 'p');
    if (setxattr((file.file().parent_path() / "probe").c_str(), "user.probe", large.data(),
                 large.size(), 0) == 0)
        GTEST_SKIP() << "this ext4 volume stores large attribute values (ea_inode)";

    ComPtr<IMetaData> item = file.Item();
    ASSERT_EQ(PutText(item.get(), W("kept")), S_OK);
    ExpectRefusedForSize(item.get(), file, 8000);
}

TEST(MetaDataXattr, AnotherProcessMeetsTheItemsShareMode) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();
    ASSERT_EQ(PutText(item.get(), W("shared")), S_OK);
    const WString path = file.streamPath();

    const std::string report = RunInChild([&]() -> std::string {
        // Both of the library's opens are refused while the item holds the stream.
        Opened writer = OpenItem(path);
        if (writer.ok() || writer.error != ERROR_SHARING_VIOLATION)
            return "read-write open: " + std::to_string(writer.error);
        Opened fallback = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        if (fallback.ok() || fallback.error != ERROR_SHARING_VIOLATION)
            return "read-only open: " + std::to_string(fallback.error);
        if (DeleteFileW(path.c_str()) || GetLastError() != ERROR_SHARING_VIOLATION)
            return "removal: " + std::to_string(GetLastError());
        // A reader that lets the writer be reads the whole value.
        Opened reader = OpenReader(path);
        if (!reader.ok()) return "reader: " + std::to_string(reader.error);
        std::optional<std::string> value = GetValue(reader.handle.get());
        if (value != Raw(Utf16Bytes(W("shared")))) return "value read by the reader";
        return std::string();
    });
    EXPECT_EQ(report, "");

    ASSERT_EQ(item->Close(), S_OK);
    EXPECT_EQ(RunInChild([&]() -> std::string {
                  Opened writer = OpenItem(path);
                  return writer.ok() ? std::string() : "open after Close: " + std::to_string(writer.error);
              }),
              "");
}

TEST(MetaDataXattr, AnotherProcesssRangeLockKeepsPutsOutUntilItGoes) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();
    ASSERT_EQ(PutText(item.get(), W("old")), S_OK);
    const WString path = file.streamPath();

    for (bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "locker killed" : "locker unlocks");
        Child locker([&](Child& self) {
            Opened reader = OpenReader(path);
            if (!reader.ok() || !LockFile(reader.handle.get(), 0, 0, 4, 0)) {
                self.Send("no lock");
                return 1;
            }
            self.Send("locked");
            self.Receive();
            UnlockFile(reader.handle.get(), 0, 0, 4, 0);
            return 0;
        });
        ASSERT_TRUE(locker.started());
        ASSERT_EQ(locker.Receive(), "locked");

        EXPECT_EQ(PutText(item.get(), W("new value")), E_FAIL);
        EXPECT_TRUE(IsMetaDataError("Unable to put text.", ERROR_LOCK_VIOLATION));
        EXPECT_EQ(PutData(item.get(), {1, 2}), E_FAIL);
        EXPECT_TRUE(IsMetaDataError("Unable to put data.", ERROR_LOCK_VIOLATION));
        EXPECT_EQ(RawStream(file.file(), "T"), Raw(Utf16Bytes(W("old"))));

        if (killed) {
            locker.Kill();
        } else {
            locker.Send("go");
            EXPECT_EQ(locker.Wait(), 0);
        }
        EXPECT_EQ(PutText(item.get(), W("new value")), S_OK);
        EXPECT_EQ(RawStream(file.file(), "T"), Raw(Utf16Bytes(W("new value"))));
        ASSERT_EQ(PutText(item.get(), W("old")), S_OK);
    }
}

// What another process finds on disk while an item writes is always one whole value: never
// the new bytes over the rest of the old ones, never a value cut short. (A foreign handle
// that shares writing and reads in two steps, size then bytes, may pair one value's size
// with another's bytes; the library's own opens never share writing, so items never meet
// that.)
TEST(MetaDataXattr, AnotherProcessFindsOnlyWholeValuesOnDisk) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();
    const WString longText(300, OLESTR('L'));
    const WString shortText(5, OLESTR('s'));
    const std::string longer = Raw(Utf16Bytes(longText));
    const std::string shorter = Raw(Utf16Bytes(shortText));
    ASSERT_EQ(PutText(item.get(), shortText), S_OK);
    const fs::path path = file.file();

    Child watcher([&](Child& self) {
        self.Send("ready");
        int mixed = 0;
        while (!self.HasLine()) {
            std::optional<std::string> value = RawStream(path, "T");
            if (!value || (*value != longer && *value != shorter)) ++mixed;
        }
        return mixed == 0 ? 0 : 1;
    });
    ASSERT_TRUE(watcher.started());
    ASSERT_EQ(watcher.Receive(), "ready");
    for (int round = 0; round < 200; ++round)
        EXPECT_EQ(PutText(item.get(), round % 2 ? longText : shortText), S_OK);
    watcher.Send("stop");
    EXPECT_EQ(watcher.Wait(), 0);
}

}  // namespace
}  // namespace quarrow2::test::metadata

// Items and other processes that hold the same stream. (The bytes items leave: the stored
// form suite and tests/peers; size limits through items: stress_limits_test.cpp.)
#include <gtest/gtest.h>

#include "platform_fixture.h"
#include "portable/metadata_fixture.h"

namespace quarrow2::test::metadata {
namespace {

std::string Raw(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

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
                  return writer.ok() ? std::string()
                                     : "open after Close: " + std::to_string(writer.error);
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

}  // namespace
}  // namespace quarrow2::test::metadata

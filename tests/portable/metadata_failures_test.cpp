// Failures of an item: each reports its message with the system's text for the call that
// failed, and none of them loses the stored value.
#include <gtest/gtest.h>

#include "metadata_fixture.h"

namespace quarrow2::test::metadata {
namespace {

// Every kind of put is refused with the system's text for `code`.
void ExpectEveryPutRefused(IMetaData* item, DWORD code) {
    EXPECT_EQ(PutText(item, W("new")), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to put text.", code));
    EXPECT_EQ(PutData(item, {1, 2, 3, 4, 5, 6, 7, 8}), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to put data.", code));
    EXPECT_EQ(PutText(item, WString()), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to put text.", code));
}

// A removed item reads as closed: no name, no length.
void ExpectClosed(IMetaData* item) {
    UniqueBstr name;
    EXPECT_EQ(item->get_Name(name.out()), S_OK);
    EXPECT_EQ(Narrow(name.get()), "");
    EXPECT_EQ(Length(item), 0);
}

TEST(MetaDataFailures, AReadOnlyHandleReadsButEveryPutIsRefused) {
    ItemFile file;
    file.Store(Utf16Bytes(W("old")));
    ComPtr<IMetaData> item =
        ItemFile::MakeItem(file.OpenStream(GENERIC_READ), file.streamPath(), OLESTR("T"));
    EXPECT_EQ(Text(item.get()), "old");
    ExpectEveryPutRefused(item.get(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(file.Stored(), Utf16Bytes(W("old")));
    EXPECT_EQ(Text(item.get()), "old");
}

TEST(MetaDataFailures, APutOverARangeLockedByAnotherHandleLeavesTheOldValue) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();
    ASSERT_EQ(PutText(item.get(), W("old value")), S_OK);
    UniqueHandle other(file.OpenStream(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
    ASSERT_TRUE(other.valid()) << GetLastError();
    ASSERT_TRUE(LockFile(other.get(), 0, 0, 4, 0));
    ExpectEveryPutRefused(item.get(), ERROR_LOCK_VIOLATION);
    ASSERT_TRUE(UnlockFile(other.get(), 0, 0, 4, 0));
    EXPECT_EQ(file.Stored(), Utf16Bytes(W("old value")));
    EXPECT_EQ(Text(item.get()), "old value");
    // Once the range is free, the put goes through.
    EXPECT_EQ(PutText(item.get(), W("new")), S_OK);
    EXPECT_EQ(file.Stored(), Utf16Bytes(W("new")));
}

TEST(MetaDataFailures, ARemovalRefusedBySharingStillClosesTheItem) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();
    ASSERT_EQ(PutText(item.get(), W("held")), S_OK);
    UniqueHandle other(file.OpenStream(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
    ASSERT_TRUE(other.valid()) << GetLastError();
    EXPECT_EQ(item->Delete(), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to delete file.", ERROR_SHARING_VIOLATION));
    ExpectClosed(item.get());
    EXPECT_EQ(item->Delete(), S_OK);
    other.reset();
    EXPECT_EQ(file.Stored(), Utf16Bytes(W("held")));
}

TEST(MetaDataFailures, DeleteRemovesOnlyTheItemsStream) {
    ItemFile file;
    const WString otherPath = file.otherStreamPath("U");
    for (const WString& path : {PathW(file.file()), otherPath}) {
        UniqueHandle made(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(made.valid()) << GetLastError();
    }
    ComPtr<IMetaData> item = file.Item();
    ASSERT_EQ(PutText(item.get(), W("gone")), S_OK);
    EXPECT_EQ(item->Delete(), S_OK);
    EXPECT_FALSE(file.StreamExists());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(std::filesystem::exists(file.file()));
    UniqueHandle otherStream(CreateFileW(otherPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(otherStream.valid()) << GetLastError();
    ExpectClosed(item.get());
}

TEST(MetaDataFailures, AReadThatFailsHandsOutZeroesNotOldMemory) {
    ItemFile file;
    const Bytes stored = Utf16Bytes(W("secret value"));
    file.Store(stored);
    // Writing only: the size can be asked for, the bytes cannot be read.
    ComPtr<IMetaData> item =
        ItemFile::MakeItem(file.OpenStream(GENERIC_WRITE), file.streamPath(), OLESTR("T"));
    UniqueBstr text;
    EXPECT_EQ(item->get_Text(text.out()), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to get text.", ERROR_ACCESS_DENIED));
    EXPECT_EQ(BstrBytes(text.get()), Bytes(stored.size(), 0));

    UniqueVariant data;
    EXPECT_EQ(item->get_Data(data.get()), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to get data.", ERROR_ACCESS_DENIED));
    ASSERT_EQ(data->vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(ArrayBytes(*data), Bytes(stored.size(), 0));
}

TEST(MetaDataFailures, AHandleTheSystemRefusesFailsEveryCallThatUsesIt) {
    ItemFile file;
    // Not the "no handle" value, so the item passes it to the system, which refuses it.
    ComPtr<IMetaData> item = ItemFile::MakeItem(nullptr, file.streamPath(), OLESTR("T"));
    LONG length = -1;
    EXPECT_EQ(item->get_Length(&length), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to find metadata length.", ERROR_INVALID_HANDLE));
    EXPECT_EQ(length, 0);

    UniqueBstr text;
    EXPECT_EQ(item->get_Text(text.out()), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to get text.", ERROR_INVALID_HANDLE));
    EXPECT_EQ(Narrow(text.get()), "");
    UniqueVariant data;
    EXPECT_EQ(item->get_Data(data.get()), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to get data.", ERROR_INVALID_HANDLE));
    EXPECT_EQ(data->vt, VT_EMPTY);
    EXPECT_EQ(PutText(item.get(), W("x")), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to put text.", ERROR_INVALID_HANDLE));
}

TEST(MetaDataFailures, AValueThatIsNotAByteArrayIsRefusedAndChangesNothing) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();
    ASSERT_EQ(PutText(item.get(), W("old")), S_OK);

    UniqueVariant text;
    text.get()->vt = VT_BSTR;
    text.get()->bstrVal = SysAllocString(OLESTR("new"));
    UniqueVariant number;
    number.get()->vt = VT_I4;
    number.get()->lVal = 7;
    UniqueVariant variants;
    variants.get()->vt = VT_ARRAY | VT_VARIANT;
    variants.get()->parray = NewArray(VT_VARIANT, 3, 0);
    UniqueVariant empty;

    const VARIANT* refused[] = {text.operator->(), number.operator->(), variants.operator->(),
                                empty.operator->()};
    for (const VARIANT* value : refused) {
        SCOPED_TRACE(value->vt);
        SetLastError(0);
        EXPECT_EQ(item->put_Data(*value), E_FAIL);
        EXPECT_TRUE(IsMetaDataError("Unable to put data.", 0));
    }
    EXPECT_EQ(file.Stored(), Utf16Bytes(W("old")));
}

}  // namespace
}  // namespace quarrow2::test::metadata

// The item as an automation object: its life, what it does once it has no stream, and its
// failures: each reports its message with the system's text for the call that failed, and
// none of them loses the stored value.
#include <gtest/gtest.h>

#include "metadata_fixture.h"
#include "server/module_lock.h"

namespace quarrow2::test::metadata {
namespace {

// Every operation on an item without a handle, with the thread's last error set to `code`
// beforehand: the reports name whatever the thread last recorded.
void ExpectNoStreamBehaviour(IMetaData* item, DWORD code) {
    SetErrorInfo(0, nullptr);
    UniqueBstr name;
    EXPECT_EQ(item->get_Name(name.out()), S_OK);
    ASSERT_NE(name.get(), nullptr);
    EXPECT_EQ(SysStringLen(name.get()), 0u);
    LONG length = -1;
    EXPECT_EQ(item->get_Length(&length), S_OK);
    EXPECT_EQ(length, 0);
    EXPECT_FALSE(TakeRichError().present);

    SetLastError(code);
    UniqueBstr text(SysAllocString(OLESTR("stale")));
    BSTR given = text.release();  // the get must not free what the caller passed in
    BSTR received = given;
    EXPECT_EQ(item->get_Text(&received), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to get text.", code));
    ASSERT_NE(received, given);
    ASSERT_NE(received, nullptr);
    EXPECT_EQ(SysStringLen(received), 0u);
    SysFreeString(received);
    SysFreeString(given);

    SetLastError(code);
    EXPECT_EQ(PutText(item, W("AB")), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to put text.", code));

    SetLastError(code);
    UniqueVariant data;
    EXPECT_EQ(item->get_Data(data.get()), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to get data.", code));
    EXPECT_EQ(data->vt, VT_EMPTY);

    // The client's array is accessed and released all the same.
    UniqueVariant value;
    SetByteArray(value.get(), {1, 2});
    SetLastError(code);
    EXPECT_EQ(item->put_Data(*value), E_FAIL);
    EXPECT_TRUE(IsMetaDataError("Unable to put data.", code));
    EXPECT_TRUE(ArrayIsUnlocked(value->parray));

    EXPECT_EQ(item->Delete(), S_OK);
    EXPECT_EQ(item->Close(), S_OK);
    EXPECT_FALSE(TakeRichError().present);
}

TEST(MetaDataStates, AClosedItemAnswersWithoutItsStream) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();
    ASSERT_EQ(PutText(item.get(), W("kept")), S_OK);
    ASSERT_EQ(item->Close(), S_OK);
    // The reports name whatever system error the thread recorded before the call.
    for (DWORD code : {DWORD(0), DWORD(ERROR_ACCESS_DENIED)})
        ExpectNoStreamBehaviour(item.get(), code);
    // Neither Close nor the Delete after it touched the stream.
    EXPECT_EQ(file.Stored(), Utf16Bytes(W("kept")));
    // The handle was released: the stream opens for writing again.
    UniqueHandle writer(file.OpenStream(GENERIC_READ | GENERIC_WRITE));
    EXPECT_TRUE(writer.valid()) << GetLastError();
}

TEST(MetaDataStates, AnItemNeverAttachedAnswersLikeAClosedOne) {
    ComPtr<MetaData> made = New<MetaData>();
    ComPtr<IMetaData> item;
    ASSERT_EQ(made->QueryInterface(IID_IMetaData, item.out_void()), S_OK);
    ExpectNoStreamBehaviour(item.get(), 0);
}

TEST(MetaDataObject, HoldsTheLibraryForItsLifeAndClosesItsHandleAtTheEnd) {
    ItemFile file;
    const LONG before = server::ModuleLockCount();

    ComPtr<MetaData> made = New<MetaData>();
    ASSERT_TRUE(made);
    EXPECT_EQ(server::ModuleLockCount(), before + 1);
    made->Attach(file.OpenStream(GENERIC_READ | GENERIC_WRITE), file.streamPath().c_str(),
                 OLESTR("T"));
    // Discarded without ever being handed out: the handle goes with it.
    made.reset();
    EXPECT_EQ(server::ModuleLockCount(), before);
    UniqueHandle reopened(file.OpenStream(GENERIC_READ | GENERIC_WRITE));
    EXPECT_TRUE(reopened.valid()) << GetLastError();
    reopened.reset();

    // Released by its last reference, never closed by the client: the same.
    ComPtr<IMetaData> item = file.Item();
    EXPECT_EQ(server::ModuleLockCount(), before + 1);
    item->AddRef();
    EXPECT_EQ(item->Release(), 1u);
    UniqueHandle blocked(file.OpenStream(GENERIC_READ | GENERIC_WRITE));
    EXPECT_FALSE(blocked.valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    item.reset();
    EXPECT_EQ(server::ModuleLockCount(), before);
    reopened.reset(file.OpenStream(GENERIC_READ | GENERIC_WRITE));
    EXPECT_TRUE(reopened.valid()) << GetLastError();
}

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

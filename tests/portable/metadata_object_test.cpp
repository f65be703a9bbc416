// The item as an automation object: its interfaces, its life, and what it does once it has
// no stream.
#include <gtest/gtest.h>

#include "metadata_fixture.h"
#include "server/module_lock.h"

namespace quarrow2::test::metadata {
namespace {

// Every operation on an item without a handle, with the thread's last error set to `code`
// beforehand: the reports name whatever the thread last recorded.
void ExpectNoStreamBehaviour(IMetaData* item, DWORD code) {
    ClearRichError();
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
    {
        SCOPED_TRACE("no system error");
        ExpectNoStreamBehaviour(item.get(), 0);
    }
    {
        SCOPED_TRACE("a system error recorded before the call");
        ExpectNoStreamBehaviour(item.get(), ERROR_ACCESS_DENIED);
    }
    // Neither Close nor the Delete after it touched the stream.
    EXPECT_EQ(file.Stored(), Utf16Bytes(W("kept")));
    // The handle was released: the stream opens for writing again.
    UniqueHandle writer(file.OpenStream(GENERIC_READ | GENERIC_WRITE));
    EXPECT_TRUE(writer.valid()) << GetLastError();
}

TEST(MetaDataStates, AnItemNeverAttachedAnswersLikeAClosedOne) {
    ComPtr<MetaData> made = New<MetaData>();
    ASSERT_TRUE(made);
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

}  // namespace
}  // namespace quarrow2::test::metadata

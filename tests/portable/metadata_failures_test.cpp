// The item as an automation object: its life, what it does without a stream, its failures:
// each reports its message with the system's text of the failed call; none loses the value.
#include "metadata_fixture.h"

namespace quarrow2::test::metadata {
using items::MetaData;
namespace {

// An item without a handle: the reports name whatever error the thread last recorded.
void ExpectNoStreamBehaviour(IMetaData* item, DWORD code) {
    SetErrorInfo(0, nullptr);
    UniqueBstr name;
    EXPECT_EQ(item->get_Name(name.out()), S_OK);
    EXPECT_TRUE(name.get() && SysStringLen(name.get()) == 0);
    EXPECT_EQ(LengthOf(item), 0);
    EXPECT_EQ(item->Delete(), S_OK);
    EXPECT_EQ(item->Close(), S_OK);
    EXPECT_FALSE(TakeRichError().present);

    const UniqueBstr given(SysAllocString(OLESTR("stale")));  // the get must not free it
    BSTR received = given.get();
    SetLastError(code);
    EXPECT_TRUE(Refused(item->get_Text(&received), "Unable to get text.", code));
    EXPECT_TRUE(received && received != given.get() && SysStringLen(received) == 0);
    SysFreeString(received);
    UniqueVariant data, value;
    SetByteArray(value.get(), {1, 2});
    SetLastError(code);
    EXPECT_TRUE(Refused(item->get_Data(data.get()), "Unable to get data.", code));
    EXPECT_EQ(data->vt, VT_EMPTY);
    SetLastError(code);
    EXPECT_TRUE(Refused(PutText(item, W("AB")), "Unable to put text.", code));
    SetLastError(code);
    EXPECT_TRUE(Refused(item->put_Data(*value), "Unable to put data.", code));
    EXPECT_TRUE(ArrayIsUnlocked(value->parray)) << "the client's array is released all the same";
}

// An item holds the library for its life, and its handle until Close, its last release, or
// the end of an object never handed out.
TEST(MetaDataStates, ClosedAndNeverAttachedItemsAnswerWithoutAStreamAndHoldTheLibrary) {
    ItemFile file;
    const LONG before = store::ModuleLockCount();
    const auto streamIsFree = [&] { return platform::UniqueHandle(file.OpenStream()).valid(); };
    ComPtr<MetaData> made = platform::New<MetaData>();
    ASSERT_TRUE(made);
    EXPECT_EQ(store::ModuleLockCount(), before + 1);
    made->Attach(file.OpenStream(), file.streamPath().c_str(), OLESTR("T"));
    made.reset();
    EXPECT_TRUE(streamIsFree());
    ComPtr<IMetaData> item = file.Item();
    item.reset();
    EXPECT_EQ(store::ModuleLockCount(), before);
    EXPECT_TRUE(streamIsFree());

    item = file.Item();
    item->AddRef();
    EXPECT_EQ(item->Release(), 1u);
    ASSERT_EQ(PutText(item.get(), W("kept")), S_OK);
    EXPECT_FALSE(streamIsFree());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    ASSERT_EQ(item->Close(), S_OK);
    for (DWORD code : {DWORD(0), DWORD(ERROR_ACCESS_DENIED)})
        ExpectNoStreamBehaviour(item.get(), code);
    // Neither Close nor the Delete after it touched the stream, and the handle is released.
    EXPECT_EQ(file.Stored(), Utf16Bytes(W("kept")));
    EXPECT_TRUE(streamIsFree());
    ASSERT_EQ(platform::New<MetaData>()->QueryInterface(IID_IMetaData, item.out_void()), S_OK);
    ExpectNoStreamBehaviour(item.get(), 0);
}

// Each handle lacks a right, or is no handle the system knows: reads hand out zeroes or
// nothing, never old memory; puts keep the stored value. A refused Delete closes the item all
// the same (what a Delete leaves of the file and its other items: hostile_input_test.cpp).
TEST(MetaDataFailures, RefusalsKeepTheValueAndARefusedDeleteClosesTheItem) {
    ItemFile file;
    const Bytes stored = Utf16Bytes(W("secret value"));
    ASSERT_EQ(PutData(file.Item().get(), stored), S_OK);
    ComPtr<IMetaData> item = file.Item(GENERIC_READ);
    const DWORD denied = ERROR_ACCESS_DENIED;
    EXPECT_TRUE(Refused(PutText(item.get(), W("new")), "Unable to put text.", denied));
    EXPECT_TRUE(Refused(PutData(item.get(), {1, 2, 3, 4, 5}), "Unable to put data.", denied));
    EXPECT_TRUE(Refused(PutText(item.get(), WString()), "Unable to put text.", denied));
    EXPECT_EQ(file.Stored(), stored);

    item.reset();  // then one that can write only: the size can be had, the bytes cannot
    item = file.Item(GENERIC_WRITE);
    UniqueBstr text;
    EXPECT_TRUE(Refused(item->get_Text(text.out()), "Unable to get text.", denied));
    EXPECT_EQ(BstrBytes(text.get()), Bytes(stored.size(), 0));
    UniqueVariant data;
    EXPECT_TRUE(Refused(item->get_Data(data.get()), "Unable to get data.", denied));
    ASSERT_EQ(data->vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(ArrayBytes(*data), Bytes(stored.size(), 0));

    // Not the "no handle" value, so the item passes it to the system, which refuses it.
    item = ItemFile::MakeItem(nullptr, file.streamPath());
    LONG length = -1;
    EXPECT_TRUE(Refused(item->get_Length(&length), "Unable to find metadata length.",
                        ERROR_INVALID_HANDLE));
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(Refused(item->get_Text(text.out()), "Unable to get text.", ERROR_INVALID_HANDLE));
    EXPECT_EQ(Narrow(text.get()), "");
    EXPECT_TRUE(Refused(item->get_Data(data.out()), "Unable to get data.", ERROR_INVALID_HANDLE));
    EXPECT_EQ(data->vt, VT_EMPTY);
    EXPECT_TRUE(Refused(PutText(item.get(), W("x")), "Unable to put text.", ERROR_INVALID_HANDLE));

    item = file.Item();
    ASSERT_EQ(PutText(item.get(), W("held")), S_OK);
    platform::UniqueHandle other(file.OpenStream(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_TRUE(Refused(item->Delete(), "Unable to delete file.", ERROR_SHARING_VIOLATION));
    EXPECT_EQ(item->get_Name(text.out()), S_OK);
    EXPECT_EQ(Narrow(text.get()) + std::to_string(LengthOf(item.get())), "0");
    EXPECT_EQ(item->Delete(), S_OK);
    other.reset();
    EXPECT_EQ(file.Stored(), Utf16Bytes(W("held")));
    item = file.Item();
    EXPECT_EQ(item->Delete(), S_OK);
    EXPECT_FALSE(file.StreamExists());
}

}  // namespace
}  // namespace quarrow2::test::metadata

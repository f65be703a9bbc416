// What an item stores in its stream and how the stream's bytes read back as text and bytes.
#include <gtest/gtest.h>

#include "metadata_fixture.h"

namespace quarrow2::test::metadata {
namespace {

// Data of an item as bytes; none where it is not a byte array.
Bytes DataOf(IMetaData* item) {
    UniqueVariant value;
    item->get_Data(value.get());
    return value->vt == (VT_ARRAY | VT_UI1) ? ArrayBytes(*value) : Bytes();
}

void ExpectEmptyData(IMetaData* item) {
    UniqueVariant value;
    const HRESULT hr = item->get_Data(value.get());
    ExpectEmptyByteArray(hr, *value);
}

TEST(MetaDataStoredForm, AnEmptyValueIsStoredAsTheMarker) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();
    const Bytes marker = EmptyValueMarker();
    ASSERT_EQ(marker.size(), 32u);

    struct EmptyPut {
        const char* how;
        HRESULT (*put)(IMetaData*);
    };
    const EmptyPut puts[] = {
        {"empty text", [](IMetaData* i) { return PutText(i, WString()); }},
        {"absent string", [](IMetaData* i) { return i->put_Text(nullptr); }},
        {"the marker's own text", [](IMetaData* i) { return PutText(i, W("---***NULL***---")); }},
        {"array of no elements", [](IMetaData* i) { return PutData(i, Bytes()); }},
        {"array of no elements, lower bound 4",
         [](IMetaData* i) { return PutData(i, Bytes(), 4); }},
    };
    for (const EmptyPut& p : puts) {
        SCOPED_TRACE(p.how);
        ASSERT_EQ(PutText(item.get(), W("something longer than the marker itself")), S_OK);
        ASSERT_EQ(p.put(item.get()), S_OK);
        EXPECT_EQ(file.Stored(), marker);
        EXPECT_EQ(Length(item.get()), 32);
        UniqueBstr text;
        EXPECT_EQ(item->get_Text(text.out()), S_OK);
        ASSERT_NE(text.get(), nullptr);
        EXPECT_EQ(SysStringByteLen(text.get()), 0u);
        ExpectEmptyData(item.get());
    }
}

TEST(MetaDataStoredForm, NearMarkersAreOrdinaryValues) {
    ItemFile file;
    Bytes withTerminator = EmptyValueMarker();
    withTerminator.push_back(0);
    withTerminator.push_back(0);
    file.Store(withTerminator);
    ComPtr<IMetaData> item = file.Item();
    UniqueBstr text;
    ASSERT_EQ(item->get_Text(text.out()), S_OK);
    EXPECT_EQ(SysStringLen(text.get()), 17u);
    EXPECT_EQ(DataOf(item.get()), withTerminator);

    Bytes lastUnitChanged = EmptyValueMarker();
    lastUnitChanged[30] = '+';
    ASSERT_EQ(PutData(item.get(), lastUnitChanged), S_OK);
    EXPECT_EQ(Text(item.get()), "---***NULL***--+");
    EXPECT_EQ(DataOf(item.get()), lastUnitChanged);
}

TEST(MetaDataStoredForm, TextIsStoredAsItsUtf16UnitsAndNothingElse) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();

    ASSERT_EQ(PutText(item.get(), W("AB")), S_OK);
    EXPECT_EQ(file.Stored(), (Bytes{0x41, 0x00, 0x42, 0x00}));
    EXPECT_EQ(Length(item.get()), 4);
    EXPECT_EQ(DataOf(item.get()), (Bytes{0x41, 0x00, 0x42, 0x00}));
    EXPECT_EQ(Text(item.get()), "AB");

    // A shorter value cuts the longer one before it.
    ASSERT_EQ(PutText(item.get(), W("abcde")), S_OK);
    ASSERT_EQ(PutText(item.get(), W("xy")), S_OK);
    EXPECT_EQ(file.Stored(), Utf16Bytes(W("xy")));
    EXPECT_EQ(Length(item.get()), 4);

    // Embedded zero units are part of the value.
    WString zeros = W("a");
    zeros.push_back(0);
    zeros += W("b\xc3\xa9");
    zeros.push_back(0);
    ASSERT_EQ(PutText(item.get(), zeros), S_OK);
    EXPECT_EQ(file.Stored(), Utf16Bytes(zeros));
    UniqueBstr text;
    ASSERT_EQ(item->get_Text(text.out()), S_OK);
    EXPECT_EQ(WString(text.get(), SysStringLen(text.get())), zeros);

    // A string made with an odd byte length stores its whole units only.
    UniqueBstr odd(SysAllocStringByteLen("abc", 3));
    ASSERT_EQ(item->put_Text(odd.get()), S_OK);
    EXPECT_EQ(file.Stored(), (Bytes{'a', 'b'}));
}

TEST(MetaDataStoredForm, BytesAndTextAreTwoViewsOfTheSameValue) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();

    ASSERT_EQ(PutData(item.get(), {0x01, 0x02, 0x03}), S_OK);
    EXPECT_EQ(file.Stored(), (Bytes{0x01, 0x02, 0x03}));
    EXPECT_EQ(Length(item.get()), 3);
    UniqueBstr text;
    ASSERT_EQ(item->get_Text(text.out()), S_OK);
    EXPECT_EQ(SysStringByteLen(text.get()), 3u);
    ASSERT_EQ(SysStringLen(text.get()), 1u);
    EXPECT_EQ(static_cast<uint16_t>(text.get()[0]), 0x0201);
    EXPECT_EQ(BstrBytes(text.get()), (Bytes{0x01, 0x02, 0x03}));

    // A client array's bytes are stored in index order, whatever its lower bound.
    ASSERT_EQ(PutData(item.get(), {9, 8, 7, 6, 5}, -3), S_OK);
    EXPECT_EQ(file.Stored(), (Bytes{9, 8, 7, 6, 5}));

    // By reference as by value.
    UniqueVariant owner;
    SetByteArray(owner.get(), {0x41, 0x00, 0x43, 0x00}, 1);
    SAFEARRAY* array = owner->parray;
    VARIANT byReference;
    VariantInit(&byReference);
    byReference.vt = VT_ARRAY | VT_UI1 | VT_BYREF;
    byReference.pparray = &array;
    ASSERT_EQ(item->put_Data(byReference), S_OK);
    EXPECT_EQ(Text(item.get()), "AC");
    // The client's array is left as it was and free again.
    EXPECT_EQ(ArrayBytes(*owner), (Bytes{0x41, 0x00, 0x43, 0x00}));
    EXPECT_TRUE(ArrayIsUnlocked(array));
}

TEST(MetaDataStoredForm, AStreamOfNoBytesReadsAsTheEmptyValue) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();  // the stream is made, and left empty
    EXPECT_EQ(Length(item.get()), 0);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Text(item.get(), &hr), "");
    EXPECT_EQ(hr, S_OK);
    ExpectEmptyData(item.get());
    EXPECT_TRUE(file.Stored().empty());
}

TEST(MetaDataStoredForm, NameIsTheTypeExactlyAsAttached) {
    ItemFile file;
    WString type = W("Au thor \xc3\xa9:x");
    ComPtr<IMetaData> item =
        ItemFile::MakeItem(file.OpenStream(GENERIC_READ | GENERIC_WRITE), file.streamPath(), type);
    UniqueBstr name;
    ASSERT_EQ(item->get_Name(name.out()), S_OK);
    EXPECT_EQ(WString(name.get(), SysStringLen(name.get())), type);
    // Each call hands out a new copy, the caller's to free.
    UniqueBstr again;
    ASSERT_EQ(item->get_Name(again.out()), S_OK);
    EXPECT_NE(again.get(), name.get());

    // The type is read up to its first zero unit.
    WString withZero = W("ab");
    withZero.push_back(0);
    withZero += W("cd");
    ComPtr<IMetaData> other = ItemFile::MakeItem(INVALID_HANDLE_VALUE, file.streamPath(), withZero);
    ASSERT_EQ(other->get_Name(name.out()), S_OK);
    EXPECT_EQ(Narrow(name.get()), "ab");
}

}  // namespace
}  // namespace quarrow2::test::metadata

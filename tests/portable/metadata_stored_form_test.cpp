// What an item stores in its stream and how the stream's bytes read back as text and bytes;
// clients' byte arrays opened in place and byte arrays built from raw bytes.
#include "items/byte_array.h"
#include "metadata_fixture.h"

namespace quarrow2::test::metadata {
using items::ByteArrayAccess;
using items::PtrToVARIANT;
namespace {

TEST(MetaDataStoredForm, TextAndBytesViewTheStoredValueEmptyIsTheMarkerOnlyByteArraysPut) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();  // the stream is made, and left empty
    EXPECT_EQ(TextOf(item.get()), "");
    UniqueVariant none;
    ExpectEmptyByteArray(item->get_Data(none.get()), *none);
    EXPECT_EQ(LengthOf(item.get()), 0);
    const Bytes marker = EmptyValueMarker();
    ASSERT_EQ(marker.size(), 32u);
    Bytes terminated = marker;
    terminated.insert(terminated.end(), {0, 0});
    Bytes changed = marker;
    changed[30] = '+';
    const Bytes zeros = Utf16Bytes({'a', 0, 'b', 0xE9, 0});
    enum Put { kText, kAbsentText, kData };
    const struct {
        const char* how;
        Put put;
        Bytes value;  // a text's bytes
        LONG lower;
        Bytes stored;  // the marker stands for the empty value
    } cases[] = {{"empty text", kText, {}, 0, marker},
                 {"absent string", kAbsentText, {}, 0, marker},
                 {"the marker's own text", kText, marker, 0, marker},
                 {"array of no elements", kData, {}, 0, marker},
                 {"array of no elements from 4", kData, {}, 4, marker},
                 {"text", kText, {0x41, 0, 0x42, 0}, 0, {0x41, 0, 0x42, 0}},
                 {"zero units", kText, zeros, 0, zeros},
                 {"odd byte length: whole units only", kText, {'a', 'b', 'c'}, 0, {'a', 'b'}},
                 {"bytes", kData, {1, 2, 3}, 0, {1, 2, 3}},
                 {"bytes from -3, in index order", kData, {9, 8, 7}, -3, {9, 8, 7}},
                 {"marker and terminator", kData, terminated, 0, terminated},
                 {"marker with its last unit changed", kData, changed, 0, changed}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        // A longer value before: the put cuts it.
        ASSERT_EQ(PutText(item.get(), W("something longer than the marker itself")), S_OK);
        UniqueBstr text(c.put != kText
                            ? nullptr
                            : SysAllocStringByteLen(reinterpret_cast<const char*>(c.value.data()),
                                                    static_cast<UINT>(c.value.size())));
        ASSERT_EQ(
            c.put == kData ? PutData(item.get(), c.value, c.lower) : item->put_Text(text.get()),
            S_OK);
        EXPECT_EQ(file.Stored(), c.stored);
        EXPECT_EQ(LengthOf(item.get()), static_cast<LONG>(c.stored.size()));
        EXPECT_EQ(item->get_Text(text.out()), S_OK);
        ASSERT_NE(text.get(), nullptr);
        UniqueVariant data;
        const HRESULT hr = item->get_Data(data.get());
        if (c.stored == marker) {
            EXPECT_EQ(SysStringByteLen(text.get()), 0u);
            ExpectEmptyByteArray(hr, *data);
        } else {
            EXPECT_EQ(BstrBytes(text.get()), c.stored);
            std::string bounds;
            EXPECT_EQ(ArrayBytes(*data, &bounds), c.stored);
            EXPECT_EQ(bounds, "0.." + std::to_string(c.stored.size() - 1));
            EXPECT_TRUE(ArrayIsUnlocked(data->parray)) << "no access is left open on the array";
        }
    }

    // By reference as by value; the client's array is left as it was and free again.
    UniqueVariant owner;
    SetByteArray(owner.get(), {0x41, 0x00, 0x43, 0x00}, 1);
    SAFEARRAY* array = owner->parray;
    VARIANT byReference;
    byReference.vt = VT_ARRAY | VT_UI1 | VT_BYREF;
    byReference.pparray = &array;
    ASSERT_EQ(item->put_Data(byReference), S_OK);
    EXPECT_EQ(TextOf(item.get()), "AC");
    EXPECT_EQ(ArrayBytes(*owner), (Bytes{0x41, 0x00, 0x43, 0x00}));
    EXPECT_TRUE(ArrayIsUnlocked(array));

    // A put of anything but a one-dimensional byte array changes nothing. The runtime makes
    // byte arrays of one dimension only, so the client builds the grid itself.
    UniqueVariant twoDimensions, longs, text, empty;
    BYTE cells[4] = {};
    struct {
        SAFEARRAY array;
        SAFEARRAYBOUND first;
    } grid{{2, FADF_AUTO, 1, 0, cells, {{2, 0}}}, {2, 0}};
    twoDimensions.get()->vt = VT_ARRAY | VT_UI1;
    twoDimensions.get()->parray = &grid.array;
    longs.get()->vt = VT_ARRAY | VT_I4;
    longs.get()->parray = SafeArrayCreateVector(VT_UI1, 0, 4);
    text.get()->vt = VT_BSTR;
    text.get()->bstrVal = SysAllocString(OLESTR("AB"));
    for (const UniqueVariant* value : {&twoDimensions, &longs, &text, &empty}) {
        SetLastError(0);
        EXPECT_TRUE(Refused(item->put_Data(**value), "Unable to put data.", 0));
    }
    EXPECT_EQ(file.Stored(), Utf16Bytes(W("AC")));
    EXPECT_TRUE(ArrayIsUnlocked(&grid.array) && ArrayIsUnlocked(longs->parray))
        << "nothing was left open";
    twoDimensions.get()->vt = VT_EMPTY;
}

// (A copy of its own each time: the sanitizers see a double free otherwise.)
TEST(MetaDataStoredForm, NameIsTheTypeAsAttachedUpToItsFirstZeroUnit) {
    for (const WString& type : {W("Au thor \xc3\xa9:x"), WString{'a', 'b', 0, 'c', 'd'}}) {
        ComPtr<IMetaData> item = ItemFile::MakeItem(INVALID_HANDLE_VALUE, W("F:T"), type);
        UniqueBstr name;
        ASSERT_EQ(item->get_Name(name.out()), S_OK);
        EXPECT_EQ(WString(name.get(), SysStringLen(name.get())), WString(type.c_str()));
    }
}

// The access's answers to every kind of variant: tests/fuzz/byte_array_fuzz.cpp.
TEST(ByteArrayConversion, OpensAClientArrayInPlaceAndBuildsNoneFromMissingBytes) {
    UniqueVariant owner;
    SetByteArray(owner.get(), {7, 8, 9}, -2);
    void* first = owner->parray->pvData;
    {
        const ByteArrayAccess bytes(*owner);
        ASSERT_EQ(bytes.result(), S_OK);
        EXPECT_EQ(bytes.count(), 3);
        EXPECT_EQ(bytes.data(), first);
        EXPECT_FALSE(ArrayIsUnlocked(owner->parray)) << "locked while the access is open";
    }
    EXPECT_TRUE(ArrayIsUnlocked(owner->parray)) << "free to be destroyed again";

    UniqueVariant none;
    ExpectEmptyByteArray(PtrToVARIANT(nullptr, 0, none.get()), *none);
    EXPECT_EQ(PtrToVARIANT(nullptr, -1, none.out()), E_INVALIDARG);
    EXPECT_EQ(none->vt, VT_EMPTY);
    EXPECT_EQ(PtrToVARIANT(nullptr, 4, none.out()), E_POINTER);
    EXPECT_EQ(none->vt, VT_EMPTY);
    EXPECT_EQ(PtrToVARIANT("ab", 2, nullptr), E_POINTER);
}

}  // namespace
}  // namespace quarrow2::test::metadata

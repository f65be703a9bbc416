// What an item stores in its stream and how the stream's bytes read back as text and bytes;
// clients' byte arrays opened in place and byte arrays built from raw bytes.
#include <gtest/gtest.h>

#include "items/byte_array.h"
#include "metadata_fixture.h"

namespace quarrow2::test::metadata {
namespace {

TEST(MetaDataStoredForm, TextAndBytesAreTwoViewsOfTheStoredValueAndEmptyIsTheMarker) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();
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
        EXPECT_EQ(Length(item.get()), static_cast<LONG>(c.stored.size()));
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
    EXPECT_EQ(Text(item.get()), "AC");
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
    UniqueVariant data;
    hr = item->get_Data(data.get());
    ExpectEmptyByteArray(hr, *data);
    EXPECT_TRUE(file.Stored().empty());
}

TEST(MetaDataStoredForm, NameIsTheTypeAsAttachedUpToItsFirstZeroUnit) {
    ItemFile file;
    for (const WString& type : {W("Au thor \xc3\xa9:x"), WString{'a', 'b', 0, 'c', 'd'}}) {
        ComPtr<IMetaData> item = ItemFile::MakeItem(INVALID_HANDLE_VALUE, file.streamPath(), type);
        UniqueBstr name, again;
        ASSERT_EQ(item->get_Name(name.out()), S_OK);
        EXPECT_EQ(WString(name.get(), SysStringLen(name.get())), WString(type.c_str()));
        ASSERT_EQ(item->get_Name(again.out()), S_OK);
        EXPECT_NE(again.get(), name.get()) << "each call hands out a copy of its own";
    }
}

TEST(ByteArrayConversion, BuildsNoArrayFromANegativeCountOrMissingBytes) {
    UniqueVariant none;
    const HRESULT hr = PtrToVARIANT(nullptr, 0, none.get());
    ExpectEmptyByteArray(hr, *none);
    EXPECT_EQ(PtrToVARIANT(nullptr, -1, none.out()), E_INVALIDARG);
    EXPECT_EQ(none->vt, VT_EMPTY);
    EXPECT_EQ(PtrToVARIANT(nullptr, 4, none.out()), E_POINTER);
    EXPECT_EQ(none->vt, VT_EMPTY);
    EXPECT_EQ(PtrToVARIANT("ab", 2, nullptr), E_POINTER);
}

TEST(ByteArrayConversion, OpensAClientArrayInPlaceByValueOrByReference) {
    UniqueVariant owner;
    SetByteArray(owner.get(), {7, 8, 9}, -2);
    SAFEARRAY* array = owner->parray;
    void* first = nullptr;
    LONG index = -2;
    ASSERT_EQ(SafeArrayPtrOfIndex(array, &index, &first), S_OK);
    {
        const ByteArrayAccess bytes(*owner);
        ASSERT_EQ(bytes.result(), S_OK);
        EXPECT_EQ(bytes.count(), 3);
        EXPECT_EQ(bytes.data(), first);
        EXPECT_FALSE(ArrayIsUnlocked(array)) << "locked while the access is open";
    }
    VARIANT byReference;
    byReference.vt = VT_ARRAY | VT_UI1 | VT_BYREF;
    byReference.pparray = &array;
    void* data = nullptr;
    LONG count = 0;
    ASSERT_EQ(AccessVARIANT(byReference, &data, &count), S_OK);
    EXPECT_FALSE(ArrayIsUnlocked(array));
    ASSERT_EQ(UnaccessVARIANT(byReference), S_OK);
    EXPECT_EQ(data, first);
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(ArrayIsUnlocked(array)) << "free to be resized or destroyed again";

    // An array of no elements: access granted without a data pointer is ended again.
    UniqueVariant none;
    SetByteArray(none.get(), {}, 3);
    const HRESULT hr = AccessVARIANT(*none, &data, &count);
    EXPECT_EQ(count, 0);
    if (hr == S_OK) {
        EXPECT_EQ(UnaccessVARIANT(*none), S_OK);
    } else {
        EXPECT_EQ(hr, E_POINTER);
        EXPECT_EQ(data, nullptr);
    }
    EXPECT_TRUE(ArrayIsUnlocked(none->parray));
}

// Everything but a one-dimensional byte array is refused, by the access and by an item's
// put, which changes nothing; the first three pass the type test of UnaccessVARIANT.
TEST(ByteArrayConversion, RefusesEverythingButAOneDimensionalByteArray) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();
    ASSERT_EQ(PutText(item.get(), W("old")), S_OK);
    std::vector<UniqueVariant> values(9);
    const auto set = [&values](size_t i, VARTYPE vt, SAFEARRAY* array) {
        values[i].get()->vt = vt;
        values[i].get()->parray = array;
    };
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    set(0, VT_ARRAY | VT_UI1, SafeArrayCreate(VT_UI1, 2, bounds));  // two dimensions
    set(1, VT_ARRAY | VT_UI1, nullptr);                             // no array
    SAFEARRAY* missing = nullptr;
    values[2].get()->vt = VT_ARRAY | VT_UI1 | VT_BYREF;  // no array by reference
    values[2].get()->pparray = &missing;
    set(3, VT_ARRAY | VT_I4, NewArray(VT_I4, 2, 0));
    set(4, VT_ARRAY | VT_VARIANT, NewArray(VT_VARIANT, 2, 0));
    values[5].get()->vt = VT_BSTR;
    values[5].get()->bstrVal = SysAllocString(OLESTR("AB"));
    values[6].get()->vt = VT_I4;
    values[6].get()->lVal = 65;
    values[7].get()->vt = VT_UI1;
    values[7].get()->bVal = 65;  // values[8] is empty
    for (size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(i);
        void* data = reinterpret_cast<void*>(1);
        LONG count = 5;
        EXPECT_EQ(AccessVARIANT(*values[i], &data, &count), E_INVALIDARG);
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(UnaccessVARIANT(*values[i]), i < 3 ? S_OK : E_INVALIDARG);
        SetLastError(0);
        EXPECT_TRUE(Refused(item->put_Data(*values[i]), "Unable to put data.", 0));
    }
    EXPECT_EQ(file.Stored(), Utf16Bytes(W("old")));
    values[2].get()->vt = VT_EMPTY;
    // Nothing was left open on the arrays that were refused.
    EXPECT_EQ(SafeArrayDestroy(values[0].get()->parray), S_OK);
    values[0].get()->vt = VT_EMPTY;
    EXPECT_TRUE(ArrayIsUnlocked(values[3]->parray));
}

}  // namespace
}  // namespace quarrow2::test::metadata

// Byte arrays built from raw bytes and clients' byte arrays opened in place.
#include <gtest/gtest.h>

#include "items/byte_array.h"
#include "metadata_fixture.h"

namespace quarrow2::test::metadata {
namespace {

TEST(ByteArrayConversion, BuildsAByValueArrayFromBytes) {
    const Bytes source = {0x10, 0x00, 0xFF};
    UniqueVariant v;
    ASSERT_EQ(PtrToVARIANT(source.data(), 3, v.get()), S_OK);
    EXPECT_EQ(v->vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(SafeArrayGetDim(v->parray), 1u);
    std::string bounds;
    EXPECT_EQ(ArrayBytes(*v, &bounds), source);
    EXPECT_EQ(bounds, "0..2");
    EXPECT_TRUE(ArrayIsUnlocked(v->parray)) << "no access is left open on the new array";

    UniqueVariant none;
    const HRESULT hr = PtrToVARIANT(nullptr, 0, none.get());
    ExpectEmptyByteArray(hr, *none);

    // A negative count or missing bytes are refused.
    UniqueVariant refused;
    EXPECT_EQ(PtrToVARIANT(nullptr, -1, refused.get()), E_INVALIDARG);
    EXPECT_EQ(refused->vt, VT_EMPTY);
    EXPECT_EQ(PtrToVARIANT(nullptr, 4, refused.get()), E_POINTER);
    EXPECT_EQ(refused->vt, VT_EMPTY);
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
    VariantInit(&byReference);
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
}

TEST(ByteArrayConversion, RefusesEverythingButAOneDimensionalByteArray) {
    // Each refused value, and whether it passes the type test of UnaccessVARIANT.
    std::vector<UniqueVariant> values(9);
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    values[0].get()->vt = VT_ARRAY | VT_UI1;
    values[0].get()->parray = SafeArrayCreate(VT_UI1, 2, bounds);  // two dimensions
    values[1].get()->vt = VT_ARRAY | VT_UI1;
    values[1].get()->parray = nullptr;  // no array: VariantInit sets the type field alone
    SAFEARRAY* missing = nullptr;
    values[2].get()->vt = VT_ARRAY | VT_UI1 | VT_BYREF;  // no array by reference
    values[2].get()->pparray = &missing;
    values[3].get()->vt = VT_ARRAY | VT_I4;
    values[3].get()->parray = NewArray(VT_I4, 2, 0);
    values[4].get()->vt = VT_ARRAY | VT_VARIANT;
    values[4].get()->parray = NewArray(VT_VARIANT, 2, 0);
    values[5].get()->vt = VT_BSTR;
    values[5].get()->bstrVal = SysAllocString(OLESTR("AB"));
    values[6].get()->vt = VT_I4;
    values[6].get()->lVal = 65;
    values[7].get()->vt = VT_UI1;
    values[7].get()->bVal = 65;
    // values[8] is empty.
    for (size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(i);
        void* data = reinterpret_cast<void*>(1);
        LONG count = 5;
        EXPECT_EQ(AccessVARIANT(*values[i], &data, &count), E_INVALIDARG);
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(UnaccessVARIANT(*values[i]), i < 3 ? S_OK : E_INVALIDARG);
    }
    values[2].get()->vt = VT_EMPTY;
    // Nothing was left open on the arrays that were refused.
    EXPECT_EQ(SafeArrayDestroy(values[0].get()->parray), S_OK);
    values[0].get()->vt = VT_EMPTY;
    EXPECT_TRUE(ArrayIsUnlocked(values[3]->parray));
}

TEST(ByteArrayConversion, OpensAClientArrayOfNoElements) {
    UniqueVariant v;
    v.get()->vt = VT_ARRAY | VT_UI1;
    v.get()->parray = NewArray(VT_UI1, 0, 3);
    void* data = nullptr;
    LONG count = -1;
    const HRESULT hr = AccessVARIANT(*v, &data, &count);
    EXPECT_EQ(count, 0);
    if (hr == S_OK) {
        EXPECT_EQ(UnaccessVARIANT(*v), S_OK);
    } else {
        // Access granted without a data pointer is ended again and read as a failure.
        EXPECT_EQ(hr, E_POINTER);
        EXPECT_EQ(data, nullptr);
    }
    EXPECT_TRUE(ArrayIsUnlocked(v->parray));
}

}  // namespace
}  // namespace quarrow2::test::metadata

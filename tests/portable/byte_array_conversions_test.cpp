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
    // No access is left open on the new array.
    EXPECT_TRUE(ArrayIsUnlocked(v->parray));
}

TEST(ByteArrayConversion, BuildsAnArrayOfNoElements) {
    UniqueVariant v;
    const HRESULT hr = PtrToVARIANT(nullptr, 0, v.get());
    ExpectEmptyByteArray(hr, *v);
}

TEST(ByteArrayConversion, RefusesANegativeCountOrMissingBytes) {
    UniqueVariant v;
    EXPECT_EQ(PtrToVARIANT(nullptr, -1, v.get()), E_INVALIDARG);
    EXPECT_EQ(v->vt, VT_EMPTY);
    EXPECT_EQ(PtrToVARIANT(nullptr, 4, v.get()), E_POINTER);
    EXPECT_EQ(v->vt, VT_EMPTY);
    EXPECT_EQ(PtrToVARIANT("ab", 2, nullptr), E_POINTER);
}

TEST(ByteArrayConversion, OpensAClientArrayInPlaceWhateverItsLowerBound) {
    UniqueVariant v;
    SetByteArray(v.get(), {7, 8, 9}, 1);
    void* first = nullptr;
    LONG index = 1;
    ASSERT_EQ(SafeArrayPtrOfIndex(v->parray, &index, &first), S_OK);

    {
        const ByteArrayAccess bytes(*v);
        ASSERT_EQ(bytes.result(), S_OK);
        EXPECT_EQ(bytes.count(), 3);
        EXPECT_EQ(bytes.data(), first);
        EXPECT_EQ(static_cast<const BYTE*>(bytes.data())[0], 7);
        EXPECT_EQ(static_cast<const BYTE*>(bytes.data())[2], 9);
        // Locked while the access is open...
        EXPECT_FALSE(ArrayIsUnlocked(v->parray));
    }
    // ...and free to be resized or destroyed again once it is ended.
    EXPECT_TRUE(ArrayIsUnlocked(v->parray));
}

TEST(ByteArrayConversion, TakesAnArrayByReferenceLikeTheSameArrayByValue) {
    UniqueVariant owner;
    SetByteArray(owner.get(), {1, 2, 3, 4}, -2);
    VARIANT byValue;
    VariantInit(&byValue);
    byValue.vt = VT_ARRAY | VT_UI1;
    byValue.parray = owner->parray;
    VARIANT byReference;
    VariantInit(&byReference);
    byReference.vt = VT_ARRAY | VT_UI1 | VT_BYREF;
    SAFEARRAY* array = owner->parray;
    byReference.pparray = &array;

    void* valueData = nullptr;
    LONG valueCount = 0;
    ASSERT_EQ(AccessVARIANT(byValue, &valueData, &valueCount), S_OK);
    ASSERT_EQ(UnaccessVARIANT(byValue), S_OK);
    void* referenceData = nullptr;
    LONG referenceCount = 0;
    ASSERT_EQ(AccessVARIANT(byReference, &referenceData, &referenceCount), S_OK);
    EXPECT_FALSE(ArrayIsUnlocked(array));
    ASSERT_EQ(UnaccessVARIANT(byReference), S_OK);

    EXPECT_EQ(referenceData, valueData);
    EXPECT_EQ(referenceCount, 4);
    EXPECT_EQ(valueCount, 4);
    EXPECT_TRUE(ArrayIsUnlocked(array));
}

TEST(ByteArrayConversion, RefusesEverythingButAOneDimensionalByteArray) {
    UniqueVariant twoDimensions;
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    twoDimensions.get()->vt = VT_ARRAY | VT_UI1;
    twoDimensions.get()->parray = SafeArrayCreate(VT_UI1, 2, bounds);

    UniqueVariant noArray;
    noArray.get()->vt = VT_ARRAY | VT_UI1;
    noArray.get()->parray = nullptr;  // VariantInit sets the type field alone

    VARIANT noArrayByReference;
    VariantInit(&noArrayByReference);
    SAFEARRAY* missing = nullptr;
    noArrayByReference.vt = VT_ARRAY | VT_UI1 | VT_BYREF;
    noArrayByReference.pparray = &missing;

    UniqueVariant integers;
    integers.get()->vt = VT_ARRAY | VT_I4;
    integers.get()->parray = NewArray(VT_I4, 2, 0);

    UniqueVariant variants;
    variants.get()->vt = VT_ARRAY | VT_VARIANT;
    variants.get()->parray = NewArray(VT_VARIANT, 2, 0);

    UniqueVariant text;
    text.get()->vt = VT_BSTR;
    text.get()->bstrVal = SysAllocString(OLESTR("AB"));

    UniqueVariant number;
    number.get()->vt = VT_I4;
    number.get()->lVal = 65;

    UniqueVariant singleByte;
    singleByte.get()->vt = VT_UI1;
    singleByte.get()->bVal = 65;

    UniqueVariant empty;

    const struct {
        const char* kind;
        const VARIANT& value;
        bool passesTypeTest;
    } refused[] = {
        {"two dimensions", *twoDimensions, true},
        {"no array", *noArray, true},
        {"no array by reference", noArrayByReference, true},
        {"4-byte integers", *integers, false},
        {"variants", *variants, false},
        {"string", *text, false},
        {"number", *number, false},
        {"single byte", *singleByte, false},
        {"empty", *empty, false},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.kind);
        void* data = reinterpret_cast<void*>(1);
        LONG count = 5;
        EXPECT_EQ(AccessVARIANT(c.value, &data, &count), E_INVALIDARG);
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(count, 0);
        // Only a variant of the byte-array type can be passed back; the others are refused.
        EXPECT_EQ(UnaccessVARIANT(c.value), c.passesTypeTest ? S_OK : E_INVALIDARG);
    }
    // Nothing was left open on the arrays that were refused.
    EXPECT_EQ(SafeArrayDestroy(twoDimensions.get()->parray), S_OK);
    twoDimensions.get()->vt = VT_EMPTY;
    EXPECT_TRUE(ArrayIsUnlocked(integers->parray));
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

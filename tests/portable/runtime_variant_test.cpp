// VARIANT ownership: what VariantCopy duplicates and VariantClear releases.
#include <gtest/gtest.h>

#include "portable/runtime_test_objects.h"

namespace quarrow2::test {
namespace {

VARIANT Holding(VARTYPE vt) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    return v;
}

TEST(RuntimeVariant, CopiesOfStringsAndDecimalsAreDeepAndWhole) {
    VARIANT source = Holding(VT_BSTR);
    source.bstrVal = SysAllocStringByteLen("abc", 3);
    UniqueVariant copy;
    ASSERT_EQ(VariantCopy(copy.get(), &source), S_OK);
    EXPECT_EQ(copy->vt, VT_BSTR);
    EXPECT_NE(copy->bstrVal, source.bstrVal);
    EXPECT_EQ(SysStringByteLen(copy->bstrVal), 3u);
    EXPECT_EQ(VariantClear(&source), S_OK);
    EXPECT_EQ(source.vt, VT_EMPTY);
    EXPECT_EQ(std::memcmp(copy->bstrVal, "abc", 3), 0) << "the copy outlives its source";
    // Copying onto itself changes nothing.
    BSTR before = copy->bstrVal;
    ASSERT_EQ(VariantCopy(copy.get(), copy.get()), S_OK);
    EXPECT_EQ(copy->bstrVal, before);

    source.decVal.Lo64 = 123456789;
    source.decVal.Hi32 = 5;
    source.decVal.scale = 3;
    source.decVal.sign = 0x80;
    source.vt = VT_DECIMAL;  // the type field overlays the decimal's reserved word
    ASSERT_EQ(VariantCopy(copy.get(), &source), S_OK);
    EXPECT_EQ(copy->vt, VT_DECIMAL);
    EXPECT_EQ(copy->decVal.Lo64, 123456789u);
    EXPECT_EQ(copy->decVal.Hi32, 5u);
    EXPECT_EQ(copy->decVal.scale, 3);
    EXPECT_EQ(copy->decVal.sign, 0x80);
}

TEST(RuntimeVariant, InterfacesAndArraysAreOwnedAndByReferenceValuesAreNot) {
    CountedUnknown object;
    VARIANT holder = Holding(VT_UNKNOWN);
    holder.punkVal = &object;
    object.AddRef();  // the reference the variant owns
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &holder), S_OK);
    EXPECT_EQ(copy.punkVal, &object);
    EXPECT_EQ(object.references(), 3u);
    // Copying into a variant that holds something releases what it held first.
    VARIANT number = Holding(VT_I4);
    number.lVal = 7;
    ASSERT_EQ(VariantCopy(&copy, &number), S_OK);
    EXPECT_EQ(object.references(), 2u);
    EXPECT_EQ(copy.lVal, 7);
    // A by-reference variant points at a reference someone else owns.
    IUnknown* slot = &object;
    VARIANT byRef = Holding(VT_UNKNOWN | VT_BYREF);
    byRef.ppunkVal = &slot;
    ASSERT_EQ(VariantCopy(&copy, &byRef), S_OK);
    EXPECT_EQ(copy.ppunkVal, &slot);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(object.references(), 2u);
    EXPECT_EQ(VariantClear(&holder), S_OK);
    EXPECT_EQ(object.references(), 1u);

    holder = Holding(VT_ARRAY | VT_UNKNOWN);
    holder.parray = SafeArrayCreateVector(VT_UNKNOWN, 1, 2);
    ASSERT_NE(holder.parray, nullptr);
    LONG index = 2;
    ASSERT_EQ(SafeArrayPutElement(holder.parray, &index, &object), S_OK);
    ASSERT_EQ(VariantCopy(&copy, &holder), S_OK);
    ASSERT_EQ(copy.vt, VT_ARRAY | VT_UNKNOWN);
    EXPECT_NE(copy.parray, holder.parray);
    EXPECT_EQ(object.references(), 3u);
    LONG lower = 0;
    EXPECT_EQ(SafeArrayGetLBound(copy.parray, 1, &lower), S_OK);
    EXPECT_EQ(lower, 1);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(VariantClear(&holder), S_OK);
    EXPECT_EQ(object.references(), 1u);
    // An array variant without an array copies as such.
    VARIANT none = Holding(VT_ARRAY | VT_I4);
    none.parray = nullptr;
    ASSERT_EQ(VariantCopy(&copy, &none), S_OK);
    EXPECT_EQ(copy.vt, VT_ARRAY | VT_I4);
    EXPECT_EQ(copy.parray, nullptr);
}

TEST(RuntimeVariant, ClearingALockedArrayFails) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 3);
    ASSERT_NE(array, nullptr);
    VARIANT holder = Holding(VT_ARRAY | VT_I4);
    holder.parray = array;
    ASSERT_EQ(SafeArrayLock(array), S_OK);
    EXPECT_EQ(VariantClear(&holder), DISP_E_ARRAYISLOCKED);
    // Whether the variant lets go of the array differs between runtimes (this one keeps it,
    // so nothing is lost); either way the array can be freed once unlocked.
    ASSERT_EQ(SafeArrayUnlock(array), S_OK);
    if (kOwnRuntime) {
        EXPECT_EQ(holder.vt, VT_ARRAY | VT_I4);
    }
    EXPECT_EQ(holder.vt == VT_EMPTY ? SafeArrayDestroy(array) : VariantClear(&holder), S_OK);
}

TEST(RuntimeVariant, BadTypesAreRefusedAndChangeNothing) {
    for (VARTYPE bad :
         {VARTYPE(15), VARTYPE(VT_VOID), VARTYPE(VT_HRESULT), VARTYPE(VT_ARRAY | VT_EMPTY),
          VARTYPE(VT_BYREF | VT_NULL), VARTYPE(VT_RESERVED | VT_I4), VARTYPE(0x1000 | VT_I4)}) {
        VARIANT v = Holding(bad);
        EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << std::hex << bad;
        EXPECT_EQ(v.vt, bad);
        VARIANT target = Holding(VT_I4);
        target.lVal = 42;
        EXPECT_EQ(VariantCopy(&target, &v), DISP_E_BADVARTYPE) << std::hex << bad;
        EXPECT_EQ(target.vt, VT_I4);
        EXPECT_EQ(target.lVal, 42);
    }
    for (VARTYPE good : {VARTYPE(VT_EMPTY), VARTYPE(VT_NULL), VARTYPE(VT_DECIMAL), VARTYPE(VT_UINT),
                         VARTYPE(VT_BYREF | VT_I4), VARTYPE(VT_BYREF | VT_VARIANT)}) {
        VARIANT v = Holding(good);
        v.byref = nullptr;
        EXPECT_EQ(VariantClear(&v), S_OK) << std::hex << good;
        EXPECT_EQ(v.vt, VT_EMPTY);
    }
}

}  // namespace
}  // namespace quarrow2::test

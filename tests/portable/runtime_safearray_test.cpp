// SAFEARRAY: bounds, layout, locks, element ownership, resizing and copies.
#include <gtest/gtest.h>

#include "portable/runtime_test_objects.h"

namespace quarrow2::test {
namespace {

// Destroys an array at the end of a test, also when an assertion ends it early.
struct ArrayOwner {
    SAFEARRAY* array;
    ~ArrayOwner() {
        if (array) SafeArrayDestroy(array);
    }
};

LONG Bound(SAFEARRAY* array, UINT dim, bool upper) {
    LONG value = 0x7777;
    EXPECT_EQ(
        upper ? SafeArrayGetUBound(array, dim, &value) : SafeArrayGetLBound(array, dim, &value),
        S_OK);
    return value;
}

TEST(RuntimeSafeArray, VectorWithNegativeLowerBound) {
    ArrayOwner owner{SafeArrayCreateVector(VT_UI1, -5, 4)};
    SAFEARRAY* array = owner.array;
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(SafeArrayGetDim(array), 1u);
    EXPECT_EQ(Bound(array, 1, false), -5);
    EXPECT_EQ(Bound(array, 1, true), -2);
    for (LONG i = -5; i <= -2; ++i) {
        BYTE value = static_cast<BYTE>(0x10 - i);
        ASSERT_EQ(SafeArrayPutElement(array, &i, &value), S_OK) << i;
    }
    for (LONG outside : {-6, -1, 0, 1000}) {
        BYTE value = 0;
        void* element = nullptr;
        EXPECT_EQ(SafeArrayPutElement(array, &outside, &value), DISP_E_BADINDEX) << outside;
        EXPECT_EQ(SafeArrayGetElement(array, &outside, &value), DISP_E_BADINDEX) << outside;
        EXPECT_EQ(SafeArrayPtrOfIndex(array, &outside, &element), DISP_E_BADINDEX) << outside;
    }
    BYTE* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, reinterpret_cast<void**>(&data)), S_OK);
    EXPECT_EQ(data[0], 0x15);  // index -5 is the first byte
    EXPECT_EQ(data[3], 0x12);
    LONG index = -3;
    void* element = nullptr;
    EXPECT_EQ(SafeArrayPtrOfIndex(array, &index, &element), S_OK);
    EXPECT_EQ(element, data + 2);
    EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
}

TEST(RuntimeSafeArray, FirstIndexVariesFastestAndBoundsAreStoredReversed) {
    SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, 10}};  // [1..2, 10..12]
    ArrayOwner owner{SafeArrayCreate(VT_I4, 2, bounds)};
    SAFEARRAY* array = owner.array;
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(array->rgsabound[0].cElements, 3u);
    EXPECT_EQ(array->rgsabound[1].lLbound, 1);
    EXPECT_EQ(Bound(array, 1, true), 2);
    EXPECT_EQ(Bound(array, 2, false), 10);
    LONG ignored;
    EXPECT_EQ(SafeArrayGetLBound(array, 0, &ignored), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(array, 3, &ignored), DISP_E_BADINDEX);
    for (LONG i = 1; i <= 2; ++i) {
        for (LONG j = 10; j <= 12; ++j) {
            LONG indices[2] = {i, j};
            LONG value = i * 100 + j;
            ASSERT_EQ(SafeArrayPutElement(array, indices, &value), S_OK);
        }
    }
    const LONG expected[6] = {110, 210, 111, 211, 112, 212};
    EXPECT_EQ(std::memcmp(array->pvData, expected, sizeof expected), 0);
    // Resizing changes the last dimension and keeps every element that stays.
    SAFEARRAYBOUND longer = {4, 10};
    ASSERT_EQ(SafeArrayRedim(array, &longer), S_OK);
    EXPECT_EQ(Bound(array, 2, true), 13);
    EXPECT_EQ(std::memcmp(array->pvData, expected, sizeof expected), 0);
    LONG added[2] = {2, 13};
    LONG value = -1;
    ASSERT_EQ(SafeArrayGetElement(array, added, &value), S_OK);
    EXPECT_EQ(value, 0);
}

TEST(RuntimeSafeArray, ArrayOfNoElements) {
    ArrayOwner owner{SafeArrayCreateVector(VT_UI1, 0, 0)};
    ASSERT_NE(owner.array, nullptr);
    EXPECT_EQ(Bound(owner.array, 1, true), -1);
    // Access to no elements is granted with a real pointer, as Windows gives one.
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(owner.array, &data), S_OK);
    EXPECT_NE(data, nullptr);
    EXPECT_EQ(SafeArrayUnaccessData(owner.array), S_OK);
    LONG index = 0;
    BYTE value = 1;
    EXPECT_EQ(SafeArrayPutElement(owner.array, &index, &value), DISP_E_BADINDEX);
    SAFEARRAYBOUND three = {3, 0};
    ASSERT_EQ(SafeArrayRedim(owner.array, &three), S_OK);
    index = 2;
    EXPECT_EQ(SafeArrayPutElement(owner.array, &index, &value), S_OK);

    SAFEARRAYBOUND bounds[2] = {{0, 7}, {5, 0}};
    ArrayOwner flat{SafeArrayCreate(VT_BSTR, 2, bounds)};
    ASSERT_NE(flat.array, nullptr);
    EXPECT_EQ(Bound(flat.array, 1, true), 6);
}

TEST(RuntimeSafeArray, LocksRefuseDestroyAndRedim) {
    ArrayOwner owner{SafeArrayCreateVector(VT_I4, 0, 4)};
    SAFEARRAY* array = owner.array;
    ASSERT_NE(array, nullptr);
    SAFEARRAYBOUND bigger = {8, 0};
    ASSERT_EQ(SafeArrayLock(array), S_OK);
    ASSERT_EQ(SafeArrayLock(array), S_OK);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayRedim(array, &bigger), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(Bound(array, 1, true), 3);
    LONG index = 1, value = 9;
    EXPECT_EQ(SafeArrayPutElement(array, &index, &value), S_OK) << "reachable while locked";
    EXPECT_EQ(SafeArrayUnlock(array), S_OK);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnlock(array), S_OK);
    EXPECT_EQ(SafeArrayUnlock(array), E_UNEXPECTED);
    // Data access holds a lock until it ends.
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
    EXPECT_EQ(SafeArrayRedim(array, &bigger), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(array), E_UNEXPECTED);
    EXPECT_EQ(SafeArrayRedim(array, &bigger), S_OK);
}

TEST(RuntimeSafeArray, MissingArraysAndBadArguments) {
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
    EXPECT_EQ(SafeArrayLock(nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayUnlock(nullptr), E_INVALIDARG);
    void* data = nullptr;
    EXPECT_EQ(SafeArrayAccessData(nullptr, &data), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
    EXPECT_EQ(SafeArrayGetElemsize(nullptr), 0u);
    LONG bound;
    EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &bound), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetUBound(nullptr, 1, &bound), E_INVALIDARG);
    VARTYPE vt;
    EXPECT_EQ(SafeArrayGetVartype(nullptr, &vt), E_INVALIDARG);
    SAFEARRAY* copy = reinterpret_cast<SAFEARRAY*>(1);
    EXPECT_EQ(SafeArrayCopy(nullptr, &copy), S_OK);
    EXPECT_EQ(copy, nullptr);

    SAFEARRAYBOUND one = {1, 0};
    EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &one), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
    for (VARTYPE unsupported : {VARTYPE(VT_EMPTY), VARTYPE(VT_NULL), VARTYPE(15), VARTYPE(VT_VOID),
                                VARTYPE(VT_HRESULT), VARTYPE(VT_LPSTR)})
        EXPECT_EQ(SafeArrayCreate(unsupported, 1, &one), nullptr) << unsupported;

    ArrayOwner owner{SafeArrayCreateVector(VT_I4, 0, 1)};
    ASSERT_NE(owner.array, nullptr);
    EXPECT_EQ(SafeArrayAccessData(owner.array, nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetLBound(owner.array, 1, nullptr), E_INVALIDARG);
    LONG index = 0;
    EXPECT_EQ(SafeArrayGetElement(owner.array, nullptr, &bound), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetElement(owner.array, &index, nullptr), E_INVALIDARG);
}

TEST(RuntimeSafeArray, ElementSizesAndKinds) {
    const USHORT vt = FADF_HAVEVARTYPE;
    const struct {
        VARTYPE vt;
        ULONG size;
        USHORT features;
    } table[] = {{VT_UI1, 1, vt},
                 {VT_I1, 1, vt},
                 {VT_I2, 2, vt},
                 {VT_UI2, 2, vt},
                 {VT_BOOL, 2, vt},
                 {VT_I4, 4, vt},
                 {VT_UI4, 4, vt},
                 {VT_INT, 4, vt},
                 {VT_UINT, 4, vt},
                 {VT_R4, 4, vt},
                 {VT_ERROR, 4, vt},
                 {VT_R8, 8, vt},
                 {VT_CY, 8, vt},
                 {VT_DATE, 8, vt},
                 {VT_I8, 8, vt},
                 {VT_UI8, 8, vt},
                 {VT_DECIMAL, sizeof(DECIMAL), vt},
                 {VT_BSTR, sizeof(BSTR), vt | FADF_BSTR},
                 {VT_VARIANT, sizeof(VARIANT), vt | FADF_VARIANT},
                 {VT_UNKNOWN, sizeof(IUnknown*), FADF_HAVEIID | FADF_UNKNOWN},
                 {VT_DISPATCH, sizeof(IDispatch*), FADF_HAVEIID | FADF_DISPATCH}};
    const USHORT kindBits = FADF_HAVEVARTYPE | FADF_HAVEIID | FADF_BSTR | FADF_VARIANT |
                            FADF_UNKNOWN | FADF_DISPATCH | FADF_RECORD;
    for (const auto& e : table) {
        ArrayOwner owner{SafeArrayCreateVector(e.vt, 0, 2)};
        ASSERT_NE(owner.array, nullptr) << e.vt;
        EXPECT_EQ(SafeArrayGetElemsize(owner.array), e.size) << e.vt;
        EXPECT_EQ(owner.array->fFeatures & kindBits, e.features) << e.vt;
        VARTYPE got = 0;
        EXPECT_EQ(SafeArrayGetVartype(owner.array, &got), S_OK);
        EXPECT_EQ(got, e.vt);
        if (e.features & FADF_HAVEVARTYPE) {
            // The element type is kept in the four bytes before the descriptor.
            DWORD hidden;
            std::memcpy(&hidden, reinterpret_cast<const char*>(owner.array) - sizeof hidden,
                        sizeof hidden);
            EXPECT_EQ(hidden, e.vt);
        }
    }
}

// Elements that own something are copied in and out, and freed when replaced, dropped by a
// resize or destroyed with the array (the sanitizers see a leak otherwise).
TEST(RuntimeSafeArray, OwningElementsAreCopiedAndFreed) {
    ArrayOwner strings{SafeArrayCreateVector(VT_BSTR, 0, 3)};
    ASSERT_NE(strings.array, nullptr);
    UniqueBstr mine(SysAllocStringByteLen("odd", 3));
    LONG index = 1;
    ASSERT_EQ(SafeArrayPutElement(strings.array, &index, mine.get()), S_OK);
    BSTR* slots = static_cast<BSTR*>(strings.array->pvData);
    EXPECT_NE(slots[1], mine.get()) << "the array keeps its own copy";
    EXPECT_EQ(SysStringByteLen(slots[1]), 3u);
    UniqueBstr other(SysAllocString(OLESTR("replacement")));
    ASSERT_EQ(SafeArrayPutElement(strings.array, &index, other.get()), S_OK);
    UniqueBstr got;
    ASSERT_EQ(SafeArrayGetElement(strings.array, &index, got.out()), S_OK);
    EXPECT_NE(got.get(), slots[1]);
    EXPECT_EQ(Narrow(got.get()), "replacement");
    index = 2;
    ASSERT_EQ(SafeArrayPutElement(strings.array, &index, mine.get()), S_OK);
    SAFEARRAYBOUND two = {2, 0};
    ASSERT_EQ(SafeArrayRedim(strings.array, &two), S_OK);
    EXPECT_EQ(SafeArrayGetElement(strings.array, &index, got.out()), DISP_E_BADINDEX);

    CountedUnknown object;
    {
        ArrayOwner owner{SafeArrayCreateVector(VT_UNKNOWN, 0, 2)};
        ASSERT_NE(owner.array, nullptr);
        for (index = 0; index < 2; ++index)
            ASSERT_EQ(SafeArrayPutElement(owner.array, &index, &object), S_OK);
        EXPECT_EQ(object.references(), 3u);
        ComPtr<IUnknown> out;
        index = 1;
        ASSERT_EQ(SafeArrayGetElement(owner.array, &index, out.out()), S_OK);
        EXPECT_EQ(object.references(), 4u);
        out.reset();
        ASSERT_EQ(SafeArrayPutElement(owner.array, &index, nullptr), S_OK);
        EXPECT_EQ(object.references(), 2u);
        SAFEARRAYBOUND none = {0, 0};
        ASSERT_EQ(SafeArrayRedim(owner.array, &none), S_OK);
        EXPECT_EQ(object.references(), 1u);
    }
    {
        ArrayOwner owner{SafeArrayCreateVector(VT_VARIANT, 0, 2)};
        ASSERT_NE(owner.array, nullptr);
        VARIANT holder;
        VariantInit(&holder);
        holder.vt = VT_UNKNOWN;
        holder.punkVal = &object;
        index = 1;
        ASSERT_EQ(SafeArrayPutElement(owner.array, &index, &holder), S_OK);
        EXPECT_EQ(object.references(), 2u);
        UniqueVariant out;
        ASSERT_EQ(SafeArrayGetElement(owner.array, &index, out.get()), S_OK);
        EXPECT_EQ(out->vt, VT_UNKNOWN);
        EXPECT_EQ(object.references(), 3u);
    }
    EXPECT_EQ(object.references(), 1u) << "destroying the array released its variants";
}

TEST(RuntimeSafeArray, CopiesAreDeepAndUnlocked) {
    CountedUnknown object;
    ArrayOwner source{SafeArrayCreateVector(VT_VARIANT, 3, 2)};
    ASSERT_NE(source.array, nullptr);
    VARIANT element;
    VariantInit(&element);
    element.vt = VT_BSTR;
    element.bstrVal = SysAllocString(OLESTR("first"));
    LONG index = 3;
    ASSERT_EQ(SafeArrayPutElement(source.array, &index, &element), S_OK);
    EXPECT_EQ(VariantClear(&element), S_OK);
    element.vt = VT_UNKNOWN;
    element.punkVal = &object;
    index = 4;
    ASSERT_EQ(SafeArrayPutElement(source.array, &index, &element), S_OK);
    ASSERT_EQ(SafeArrayLock(source.array), S_OK);

    ArrayOwner copy{nullptr};
    ASSERT_EQ(SafeArrayCopy(source.array, &copy.array), S_OK);
    ASSERT_NE(copy.array, nullptr);
    EXPECT_EQ(copy.array->cLocks, 0u);
    EXPECT_EQ(Bound(copy.array, 1, false), 3);
    EXPECT_EQ(Bound(copy.array, 1, true), 4);
    VARTYPE vt = 0;
    EXPECT_EQ(SafeArrayGetVartype(copy.array, &vt), S_OK);
    EXPECT_EQ(vt, VT_VARIANT);
    EXPECT_EQ(object.references(), 3u);
    const VARIANT* copied = static_cast<const VARIANT*>(copy.array->pvData);
    EXPECT_NE(copied[0].bstrVal, static_cast<const VARIANT*>(source.array->pvData)[0].bstrVal);

    ASSERT_EQ(SafeArrayUnlock(source.array), S_OK);
    EXPECT_EQ(SafeArrayDestroy(source.array), S_OK);
    source.array = nullptr;
    EXPECT_EQ(object.references(), 2u);
    EXPECT_EQ(Narrow(copied[0].bstrVal), "first");
    EXPECT_EQ(SafeArrayDestroy(copy.array), S_OK);
    copy.array = nullptr;
    EXPECT_EQ(object.references(), 1u);
}

TEST(RuntimeSafeArray, SizesThatOverflowAreRefused) {
    if (!kOwnRuntime) GTEST_SKIP() << "the Windows runtime's limits for huge arrays are its own";
    SAFEARRAYBOUND huge[2] = {{0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, huge), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_UI1, 2, huge), nullptr);
    SAFEARRAYBOUND small[2] = {{16, 0}, {16, 0}};
    ArrayOwner owner{SafeArrayCreate(VT_VARIANT, 2, small)};
    ASSERT_NE(owner.array, nullptr);
    SAFEARRAYBOUND tooMany = {0xFFFFFFFFu, 0};
    EXPECT_EQ(SafeArrayRedim(owner.array, &tooMany), E_OUTOFMEMORY);
    EXPECT_EQ(Bound(owner.array, 2, true), 15) << "a failed resize changes nothing";
}

}  // namespace
}  // namespace quarrow2::test

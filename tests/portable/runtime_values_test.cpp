// Automation strings, variants and safe arrays: layout, bounds, locks and what values own.
#include <cstring>

#include "portable/runtime_test_objects.h"

namespace quarrow2::test {
namespace {

// Counts the references the runtime takes and drops, starting with the test's own.
class CountedUnknown : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }
    HRESULT Noted(HRESULT hr) {
        noted_.push_back(references_);
        return hr;
    }
    ULONG references_ = 1;
    std::vector<ULONG> noted_;
};

VARIANT Holding(VARTYPE vt, IUnknown* object = nullptr) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.punkVal = object;
    return v;
}

using Types = std::vector<VARTYPE>;

// A string's bytes from its length prefix on, `n` bytes of content and terminator included.
std::string Raw(BSTR s, size_t n) {
    return std::string(reinterpret_cast<const char*>(s) - 4, 4 + n);
}

TEST(RuntimeBstr, LayoutLengthsAndReallocation) {
    const OLECHAR text[] = {'a', 0, 'c'};  // embedded zeros are content
    UniqueBstr s(SysAllocStringLen(text, 3)), odd(SysAllocStringByteLen("abc", 3));
    UniqueBstr empty(SysAllocString(OLESTR(""))), sized(SysAllocStringLen(nullptr, 4));
    UniqueBstr bytes(SysAllocStringByteLen(nullptr, 5)), none(SysAllocStringLen(nullptr, 0));
    ASSERT_TRUE(s.get() && odd.get() && empty.get() && sized.get() && bytes.get() && none.get());
    EXPECT_EQ(Raw(s.get(), 8), std::string("\6\0\0\0a\0\0\0c\0\0\0", 12));
    EXPECT_EQ(Raw(odd.get(), 5), std::string("\3\0\0\0abc\0\0", 9)) << "odd lengths stay";
    EXPECT_EQ(Raw(empty.get(), 2), std::string(6, '\0')) << "empty is a string, not null";
    EXPECT_EQ(Counts({s.length(), odd.length(), sized.byte_length(), bytes.byte_length(),
                      none.length(), SysStringLen(nullptr), SysStringByteLen(nullptr)}),
              Counts({3, 1, 8, 5, 0, 0, 0}));
    // Without a source the string still has its terminator; this runtime zeros it all.
    EXPECT_EQ(sized.get()[4], OLECHAR(0));
    EXPECT_TRUE(!kOwnRuntime || Raw(sized.get(), 10) == Raw(sized.get(), 0) + std::string(10, 0));
    SysFreeString(nullptr);
    // No source is no string, and lengths beyond what the byte count holds fail.
    for (BSTR refused :
         {SysAllocString(nullptr), SysAllocStringLen(nullptr, 0xFFFFFFFFu),
          SysAllocStringLen(nullptr, 0x80000000u), SysAllocStringByteLen(nullptr, 0xFFFFFFFFu)})
        EXPECT_EQ(refused, nullptr);

    BSTR raw = SysAllocString(OLESTR("hello"));
    ASSERT_TRUE(SysReAllocString(&raw, OLESTR("a longer text than before")));
    EXPECT_EQ(Narrow(raw), "a longer text than before");
    ASSERT_TRUE(SysReAllocStringLen(&raw, raw + 2, 6)) << "the source may lie inside";
    EXPECT_EQ(Narrow(raw), "longer");
    // Without a source the old content is kept as far as the new length reaches.
    ASSERT_TRUE(SysReAllocStringLen(&raw, nullptr, 4));
    s.reset(raw);
    EXPECT_EQ(Raw(s.get(), 10), std::string("\10\0\0\0l\0o\0n\0g\0\0\0", 14));
    EXPECT_FALSE(SysReAllocString(nullptr, OLESTR("x")));
    // Wine's runtime dereferences a missing string pointer here; this one refuses it.
    EXPECT_FALSE(kOwnRuntime && SysReAllocStringLen(nullptr, OLESTR("x"), 1));
}

TEST(RuntimeVariant, CopiesOwnWhatTheyHoldAndBadTypesChangeNothing) {
    VARIANT source;
    UniqueVariant copy;
    // A decimal fills the whole variant: its first word, the type, is the decimal's own.
    std::memcpy(&source, "\16\0\3\x80\5\0\0\0\x15\xcd\x5b\x07\0\0\0\0", sizeof(DECIMAL));
    ASSERT_EQ(VariantCopy(copy.get(), &source), S_OK);
    EXPECT_EQ(std::memcmp(copy.get(), &source, sizeof(DECIMAL)), 0);

    // Copying over a value releases what the target held; a by-reference variant points at a
    // reference someone else owns; an array variant may hold no array.
    CountedUnknown object;
    IUnknown* slot = &object;
    VARIANT holder = Holding(VT_UNKNOWN, &object), number = Holding(VT_I4);
    VARIANT byRef = Holding(VT_UNKNOWN | VT_BYREF), none = Holding(VT_ARRAY | VT_I4);
    object.AddRef();  // the reference `holder` owns
    byRef.ppunkVal = &slot;
    EXPECT_EQ(Results({object.Noted(VariantCopy(copy.get(), &holder)),
                       object.Noted(VariantCopy(copy.get(), &number)),
                       object.Noted(VariantCopy(copy.get(), &byRef)),
                       object.Noted(VariantClear(copy.get())), object.Noted(VariantClear(&holder)),
                       VariantCopy(copy.get(), &none)}),
              Results(6, S_OK));
    EXPECT_EQ(object.noted_, Counts({3, 2, 2, 2, 1}));
    EXPECT_EQ(copy->vt, VT_ARRAY | VT_I4);
    EXPECT_EQ(copy->parray, nullptr);

    // A locked array cannot be cleared. Whether the variant lets go of it differs between
    // runtimes (this one keeps it, so nothing is lost); either way it is freed once unlocked.
    holder.vt = VT_ARRAY | VT_I4;
    SAFEARRAY* array = holder.parray = SafeArrayCreateVector(VT_I4, 0, 3);
    ASSERT_EQ(SafeArrayLock(array), S_OK);
    EXPECT_EQ(VariantClear(&holder), DISP_E_ARRAYISLOCKED);
    ASSERT_EQ(SafeArrayUnlock(array), S_OK);
    EXPECT_TRUE(!kOwnRuntime || holder.vt == (VT_ARRAY | VT_I4));
    EXPECT_EQ(holder.vt == VT_EMPTY ? SafeArrayDestroy(array) : VariantClear(&holder), S_OK);

    for (VARTYPE bad : Types{15, VT_VOID, VT_HRESULT, VT_ARRAY | VT_EMPTY, VT_BYREF | VT_NULL,
                             VT_RESERVED | VT_I4, 0x1000 | VT_I4}) {
        VARIANT v = Holding(bad), target = Holding(VT_I4);
        target.lVal = 42;
        EXPECT_EQ(Results({VariantClear(&v), VariantCopy(&target, &v)}),
                  Results(2, DISP_E_BADVARTYPE))
            << std::hex << bad;
        EXPECT_EQ(Counts({v.vt, target.vt, ULONG(target.lVal)}), Counts({bad, VT_I4, 42}));
    }
    for (VARTYPE good :
         Types{VT_EMPTY, VT_NULL, VT_DECIMAL, VT_UINT, VT_BYREF | VT_I4, VT_BYREF | VT_VARIANT}) {
        VARIANT v = Holding(good);
        EXPECT_EQ(VariantClear(&v), S_OK) << std::hex << good;
        EXPECT_EQ(v.vt, VT_EMPTY);
    }
}

// Destroys an array also when an assertion ends the test early.
struct ArrayOwner {
    SAFEARRAY* array;
    ~ArrayOwner() { SafeArrayDestroy(array); }
};

std::string Bounds(SAFEARRAY* array, UINT dim) {
    LONG lower = 0x7777, upper = 0x7777;
    if (SafeArrayGetLBound(array, dim, &lower) || SafeArrayGetUBound(array, dim, &upper))
        return "failed";
    return std::to_string(lower) + ".." + std::to_string(upper);
}

TEST(RuntimeSafeArray, BoundsAndLayout) {
    // The first index varies fastest, and the descriptor keeps the bounds in reverse.
    SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, 10}};  // [1..2, 10..12]
    ArrayOwner owner{SafeArrayCreateVector(VT_UI1, -5, 4)}, grid{SafeArrayCreate(VT_I4, 2, bounds)};
    ArrayOwner empty{SafeArrayCreateVector(VT_UI1, 0, 0)};
    SAFEARRAY* array = owner.array;
    ASSERT_TRUE(array && grid.array && empty.array);
    EXPECT_EQ(SafeArrayGetDim(array), 1u);
    EXPECT_EQ(Bounds(array, 1), "-5..-2");
    for (LONG i = -5; i <= -2; ++i) {
        BYTE value = static_cast<BYTE>(0x10 - i);
        ASSERT_EQ(SafeArrayPutElement(array, &i, &value), S_OK) << i;
    }
    BYTE byte = 1;
    void* element = nullptr;
    for (LONG outside : {-6, -1, 0, 1000})
        EXPECT_EQ(Results({SafeArrayPutElement(array, &outside, &byte),
                           SafeArrayGetElement(array, &outside, &byte),
                           SafeArrayPtrOfIndex(array, &outside, &element)}),
                  Results(3, DISP_E_BADINDEX))
            << outside;
    LONG index = -3;
    EXPECT_EQ(SafeArrayPtrOfIndex(array, &index, &element), S_OK);
    ArrayAccess access(array);
    ASSERT_TRUE(access.granted());
    EXPECT_EQ(std::memcmp(access.data(), "\x15\x14\x13\x12", 4), 0) << "-5 is the first";
    EXPECT_EQ(element, static_cast<BYTE*>(access.data()) + 2);

    EXPECT_EQ(Counts({grid.array->rgsabound[0].cElements, ULONG(grid.array->rgsabound[1].lLbound)}),
              Counts({3, 1}));
    EXPECT_EQ(Bounds(grid.array, 1) + " " + Bounds(grid.array, 2), "1..2 10..12");
    LONG ignored, indices[2];
    EXPECT_EQ(Results({SafeArrayGetLBound(grid.array, 0, &ignored),
                       SafeArrayGetUBound(grid.array, 3, &ignored)}),
              Results(2, DISP_E_BADINDEX));
    for (LONG value = 0; value < 6; ++value) {
        indices[0] = 1 + value % 2;
        indices[1] = 10 + value / 2;
        ASSERT_EQ(SafeArrayPutElement(grid.array, indices, &value), S_OK);
    }
    const LONG expected[6] = {0, 1, 2, 3, 4, 5};
    EXPECT_EQ(std::memcmp(grid.array->pvData, expected, sizeof expected), 0);
    // Resizing changes the last dimension and keeps every element that stays.
    SAFEARRAYBOUND longer = {4, 10};
    ASSERT_EQ(SafeArrayRedim(grid.array, &longer), S_OK);
    EXPECT_EQ(Bounds(grid.array, 2), "10..13");
    EXPECT_EQ(std::memcmp(grid.array->pvData, expected, sizeof expected), 0);
    indices[1] = 13;
    ASSERT_EQ(SafeArrayGetElement(grid.array, indices, &ignored), S_OK);
    EXPECT_EQ(ignored, 0);

    // An empty array grows by resizing.
    LONG first = 0, third = 2;
    SAFEARRAYBOUND three = {3, 0};
    EXPECT_EQ(Results({SafeArrayPutElement(empty.array, &first, &byte),
                       SafeArrayRedim(empty.array, &three),
                       SafeArrayPutElement(empty.array, &third, &byte)}),
              Results({DISP_E_BADINDEX, S_OK, S_OK}));
}
TEST(RuntimeSafeArray, LocksRefuseDestroyAndRedim) {
    ArrayOwner owner{SafeArrayCreateVector(VT_I4, 0, 4)};
    SAFEARRAY* array = owner.array;
    ASSERT_NE(array, nullptr);
    SAFEARRAYBOUND bigger = {8, 0};
    LONG index = 1, value = 9;
    void* data = nullptr;
    // Locked twice, elements stay reachable; data access holds a lock until it ends.
    EXPECT_EQ(Results({SafeArrayLock(array), SafeArrayLock(array), SafeArrayDestroy(array),
                       SafeArrayRedim(array, &bigger), SafeArrayPutElement(array, &index, &value),
                       SafeArrayUnlock(array), SafeArrayDestroy(array), SafeArrayUnlock(array),
                       SafeArrayUnlock(array), SafeArrayAccessData(array, &data),
                       SafeArrayRedim(array, &bigger), SafeArrayUnaccessData(array),
                       SafeArrayUnaccessData(array), SafeArrayRedim(array, &bigger)}),
              Results({S_OK, S_OK, DISP_E_ARRAYISLOCKED, DISP_E_ARRAYISLOCKED, S_OK, S_OK,
                       DISP_E_ARRAYISLOCKED, S_OK, E_UNEXPECTED, S_OK, DISP_E_ARRAYISLOCKED, S_OK,
                       E_UNEXPECTED, S_OK}));
    EXPECT_EQ(Bounds(array, 1), "0..7");
}

TEST(RuntimeSafeArray, MissingArraysBadArgumentsAndSizesThatOverflowAreRefused) {
    void* data = nullptr;
    LONG bound, index = 0;
    VARTYPE vt;
    SAFEARRAY* copy = reinterpret_cast<SAFEARRAY*>(1);
    ArrayOwner owner{SafeArrayCreateVector(VT_I4, 0, 1)};
    EXPECT_EQ(Results({SafeArrayLock(nullptr), SafeArrayUnlock(nullptr),
                       SafeArrayAccessData(nullptr, &data), SafeArrayGetLBound(nullptr, 1, &bound),
                       SafeArrayGetUBound(nullptr, 1, &bound), SafeArrayGetVartype(nullptr, &vt),
                       SafeArrayAccessData(owner.array, nullptr),
                       SafeArrayGetLBound(owner.array, 1, nullptr),
                       SafeArrayGetElement(owner.array, nullptr, &bound),
                       SafeArrayGetElement(owner.array, &index, nullptr)}),
              Results(10, E_INVALIDARG));
    EXPECT_EQ(Results({SafeArrayDestroy(nullptr), SafeArrayCopy(nullptr, &copy)}),
              Results(2, S_OK));
    EXPECT_EQ(SafeArrayGetDim(nullptr) + SafeArrayGetElemsize(nullptr), 0u);
    EXPECT_EQ(copy, nullptr);
    SAFEARRAYBOUND one = {1, 0};
    EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &one), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
    for (VARTYPE unsupported : Types{VT_EMPTY, VT_NULL, 15, VT_VOID, VT_HRESULT, VT_LPSTR})
        EXPECT_EQ(SafeArrayCreate(unsupported, 1, &one), nullptr) << unsupported;
    if (!kOwnRuntime) return;  // the Windows runtime's limits for huge arrays are its own
    SAFEARRAYBOUND huge[2] = {{0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, huge), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_UI1, 2, huge), nullptr);
    SAFEARRAYBOUND small[2] = {{16, 0}, {16, 0}}, tooMany = {0xFFFFFFFFu, 0};
    ArrayOwner grid{SafeArrayCreate(VT_VARIANT, 2, small)};
    ASSERT_NE(grid.array, nullptr);
    EXPECT_EQ(SafeArrayRedim(grid.array, &tooMany), E_OUTOFMEMORY);
    EXPECT_EQ(Bounds(grid.array, 2), "0..15") << "a failed resize changes nothing";
}

TEST(RuntimeSafeArray, ElementSizesAndKinds) {
    const USHORT kindBits = FADF_HAVEVARTYPE | FADF_HAVEIID | FADF_BSTR | FADF_VARIANT |
                            FADF_UNKNOWN | FADF_DISPATCH | FADF_RECORD;
    const struct {
        Types types;
        ULONG size;
        USHORT features;
    } table[] = {
        {{VT_UI1, VT_I1}, 1, FADF_HAVEVARTYPE},
        {{VT_I2, VT_UI2, VT_BOOL}, 2, FADF_HAVEVARTYPE},
        {{VT_I4, VT_UI4, VT_INT, VT_UINT, VT_R4, VT_ERROR}, 4, FADF_HAVEVARTYPE},
        {{VT_R8, VT_CY, VT_DATE, VT_I8, VT_UI8}, 8, FADF_HAVEVARTYPE},
        {{VT_DECIMAL}, sizeof(DECIMAL), FADF_HAVEVARTYPE},
        {{VT_BSTR}, sizeof(BSTR), FADF_HAVEVARTYPE | FADF_BSTR},
        {{VT_VARIANT}, sizeof(VARIANT), FADF_HAVEVARTYPE | FADF_VARIANT},
        {{VT_UNKNOWN}, sizeof(IUnknown*), FADF_HAVEIID | FADF_UNKNOWN},
        {{VT_DISPATCH}, sizeof(IDispatch*), FADF_HAVEIID | FADF_DISPATCH},
    };
    for (const auto& row : table) {
        for (VARTYPE vt : row.types) {
            ArrayOwner owner{SafeArrayCreateVector(vt, 0, 2)};
            ASSERT_NE(owner.array, nullptr) << vt;
            VARTYPE got = 0;
            EXPECT_EQ(SafeArrayGetVartype(owner.array, &got), S_OK);
            // The element type is kept in the four bytes before the descriptor.
            DWORD hidden = vt;
            const char* descriptor = reinterpret_cast<const char*>(owner.array);
            if (row.features & FADF_HAVEVARTYPE) std::memcpy(&hidden, descriptor - 4, 4);
            EXPECT_EQ(Counts({SafeArrayGetElemsize(owner.array),
                              ULONG(owner.array->fFeatures & kindBits), got, hidden}),
                      Counts({row.size, row.features, vt, vt}))
                << vt;
        }
    }
}

TEST(RuntimeSafeArray, OwnedElementsAreCopiedInAndOutAndFreed) {
    ArrayOwner strings{SafeArrayCreateVector(VT_BSTR, 0, 3)};
    ASSERT_NE(strings.array, nullptr);
    UniqueBstr mine(SysAllocStringByteLen("odd", 3)), got, gone, other = Bstr("replacement");
    LONG index = 1, last = 2;
    SAFEARRAYBOUND two = {2, 0}, none = {0, 0};
    ASSERT_EQ(SafeArrayPutElement(strings.array, &index, mine.get()), S_OK);
    BSTR* slots = static_cast<BSTR*>(strings.array->pvData);
    EXPECT_NE(slots[1], mine.get()) << "the array keeps its own copy";
    EXPECT_EQ(SysStringByteLen(slots[1]), 3u);
    EXPECT_EQ(Results({SafeArrayPutElement(strings.array, &index, other.get()),
                       SafeArrayGetElement(strings.array, &index, got.out()),
                       SafeArrayPutElement(strings.array, &last, mine.get()),
                       SafeArrayRedim(strings.array, &two),
                       SafeArrayGetElement(strings.array, &last, gone.out())}),
              Results({S_OK, S_OK, S_OK, S_OK, DISP_E_BADINDEX}));
    EXPECT_NE(got.get(), static_cast<BSTR*>(strings.array->pvData)[1]);
    EXPECT_EQ(Narrow(got.get()), "replacement");

    CountedUnknown object;
    ArrayOwner owner{SafeArrayCreateVector(VT_UNKNOWN, 0, 2)};
    SAFEARRAY* copy = nullptr;
    IUnknown* out = nullptr;
    LONG zero = 0;
    EXPECT_EQ(Results({SafeArrayPutElement(owner.array, &zero, &object),
                       object.Noted(SafeArrayPutElement(owner.array, &index, &object)),
                       object.Noted(SafeArrayCopy(owner.array, &copy)),
                       object.Noted(SafeArrayDestroy(copy)),
                       object.Noted(SafeArrayGetElement(owner.array, &index, &out)),
                       SafeArrayPutElement(owner.array, &index, nullptr),
                       object.Noted(SafeArrayRedim(owner.array, &none))}),
              Results(7, S_OK));
    EXPECT_EQ(out, &object);
    out->Release();
    EXPECT_EQ(object.noted_, Counts({3, 5, 3, 4, 2}))
        << "a copy and a read hold their own references; replacing and dropping release";
}

TEST(RuntimeSafeArray, VariantsCopyTheirArraysDeepAndUnlocked) {
    CountedUnknown object;
    UniqueVariant source, copy, first;
    *source.get() = Holding(VT_ARRAY | VT_VARIANT);
    SAFEARRAY* array = source.get()->parray = SafeArrayCreateVector(VT_VARIANT, 3, 2);
    *first.get() = Holding(VT_BSTR);
    first.get()->bstrVal = SysAllocStringByteLen("abc", 3);
    VARIANT second = Holding(VT_UNKNOWN, &object);
    LONG index = 3, next = 4;
    ASSERT_EQ(Results({SafeArrayPutElement(array, &index, first.get()),
                       SafeArrayPutElement(array, &next, &second),
                       SafeArrayGetElement(array, &next, first.out())}),
              Results(3, S_OK));
    EXPECT_EQ(Counts({first->vt, object.references_}), Counts({VT_UNKNOWN, 3}))
        << "the array's reference and the one handed out";
    ASSERT_EQ(Results({VariantClear(first.get()), SafeArrayLock(array),
                       VariantCopy(copy.get(), source.get()), SafeArrayUnlock(array)}),
              Results(4, S_OK));
    SAFEARRAY* copied = copy->parray;
    ASSERT_EQ(copy->vt, VT_ARRAY | VT_VARIANT);
    ASSERT_NE(copied, array);
    ASSERT_EQ(VariantCopy(copy.get(), copy.get()), S_OK);
    EXPECT_EQ(copy->parray, copied) << "copying onto itself changes nothing";
    VARTYPE vt = 0;
    EXPECT_EQ(SafeArrayGetVartype(copied, &vt), S_OK);
    EXPECT_EQ(Counts({vt, copied->cLocks, object.references_}), Counts({VT_VARIANT, 0, 3}));
    EXPECT_EQ(Bounds(copied, 1), "3..4");
    const BSTR text = static_cast<const VARIANT*>(copied->pvData)[0].bstrVal;
    EXPECT_NE(text, static_cast<const VARIANT*>(array->pvData)[0].bstrVal);
    EXPECT_EQ(VariantClear(source.get()), S_OK);
    EXPECT_EQ(object.references_, 2u);
    EXPECT_EQ(Raw(text, 5), std::string("\3\0\0\0abc\0\0", 9)) << "outlives it";
    EXPECT_EQ(VariantClear(copy.get()), S_OK);
    EXPECT_EQ(object.references_, 1u);
}

}  // namespace
}  // namespace quarrow2::test

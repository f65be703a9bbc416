// Automation strings, variants and arrays: layout, bounds, locks and what values own.
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

TEST(RuntimeBstr, LayoutAndLengths) {
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
    VARIANT byRef = Holding(VT_UNKNOWN | VT_BYREF), none = Holding(VT_ARRAY | VT_UI1);
    object.AddRef();  // the reference `holder` owns
    byRef.ppunkVal = &slot;
    EXPECT_EQ(Results({object.Noted(VariantCopy(copy.get(), &holder)),
                       object.Noted(VariantCopy(copy.get(), &number)),
                       object.Noted(VariantCopy(copy.get(), &byRef)),
                       object.Noted(VariantClear(copy.get())), object.Noted(VariantClear(&holder)),
                       VariantCopy(copy.get(), &none)}),
              Results(6, S_OK));
    EXPECT_EQ(object.noted_, Counts({3, 2, 2, 2, 1}));
    EXPECT_EQ(copy->vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(copy->parray, nullptr);

    // A locked array cannot be cleared. Whether the variant lets go of it differs between
    // runtimes (this one keeps it, so nothing is lost); either way it is freed once unlocked.
    holder.vt = VT_ARRAY | VT_UI1;
    SAFEARRAY* array = holder.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
    EXPECT_EQ(VariantClear(&holder), DISP_E_ARRAYISLOCKED);
    // This runtime copies no arrays (nothing of the interfaces asks it to) and says so.
    EXPECT_TRUE(!kOwnRuntime || VariantCopy(copy.get(), &holder) == E_NOTIMPL);
    ASSERT_EQ(SafeArrayUnaccessData(array), S_OK);
    EXPECT_TRUE(!kOwnRuntime || holder.vt == (VT_ARRAY | VT_UI1));
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

TEST(RuntimeSafeArray, ByteArraysBoundsLayoutAndLocks) {
    ArrayOwner owner{SafeArrayCreateVector(VT_UI1, -5, 4)},
        empty{SafeArrayCreateVector(VT_UI1, 0, 0)};
    SAFEARRAYBOUND bound = {2, 7};
    ArrayOwner made{SafeArrayCreate(VT_UI1, 1, &bound)};
    SAFEARRAY* array = owner.array;
    ASSERT_TRUE(array && empty.array && made.array);
    EXPECT_EQ(Counts({SafeArrayGetDim(array), array->cbElements, array->cLocks}),
              Counts({1, 1, 0}));
    EXPECT_EQ(Bounds(array, 1) + " " + Bounds(empty.array, 1) + " " + Bounds(made.array, 1),
              "-5..-2 0..-1 7..8");
    // The element type is kept in the four bytes before the descriptor.
    DWORD hidden = 0;
    std::memcpy(&hidden, reinterpret_cast<const char*>(array) - 4, 4);
    EXPECT_EQ(Counts({hidden, ULONG(array->fFeatures & FADF_HAVEVARTYPE)}),
              Counts({VT_UI1, FADF_HAVEVARTYPE}));
    {
        const ArrayAccess none(empty.array);
        EXPECT_TRUE(none.granted() && none.data()) << "an empty array has data all the same";
        const ArrayAccess access(array);
        ASSERT_TRUE(access.granted());
        EXPECT_EQ(std::string(static_cast<const char*>(access.data()), 4), std::string(4, '\0'));
    }
    // Each data access holds a lock: a locked array is not destroyed, and more releases
    // than accesses are refused.
    void* data = nullptr;
    EXPECT_EQ(
        Results({SafeArrayAccessData(array, &data), SafeArrayAccessData(array, &data),
                 SafeArrayDestroy(array), SafeArrayUnaccessData(array), SafeArrayDestroy(array),
                 SafeArrayUnaccessData(array), SafeArrayUnaccessData(array)}),
        Results(
            {S_OK, S_OK, DISP_E_ARRAYISLOCKED, S_OK, DISP_E_ARRAYISLOCKED, S_OK, E_UNEXPECTED}));
    EXPECT_EQ(data, array->pvData);
}

// IFile2's Items shape: rows first, as a script indexes a(row, column), each cell a variant
// that goes with the array; VariantTable reads it from 0 whatever the bounds.
TEST(RuntimeSafeArray, TablesOfVariantsAreReadByCellAndFreedWithTheirCells) {
    CountedUnknown object;
    SAFEARRAYBOUND bounds[2] = {{3, 1}, {2, -1}}, none[2] = {{0, 0}, {2, 0}};
    UniqueVariant table, empty, bytes;
    table.get()->parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
    empty.get()->parray = SafeArrayCreate(VT_VARIANT, 2, none);
    bytes.get()->parray = SafeArrayCreateVector(VT_UI1, 0, 6);
    ASSERT_TRUE(table->parray && empty->parray && bytes->parray);
    table.get()->vt = empty.get()->vt = VT_ARRAY | VT_VARIANT;
    bytes.get()->vt = VT_ARRAY | VT_UI1;
    EXPECT_EQ(Bounds(table->parray, 1) + " " + Bounds(table->parray, 2), "1..3 -1..0");
    {
        ArrayAccess access(table->parray);
        ASSERT_TRUE(access.granted());
        VARIANT* cells = static_cast<VARIANT*>(access.data());
        for (int i = 0; i < 6; ++i) EXPECT_EQ(cells[i].vt, VT_EMPTY);
        cells[1] = Holding(VT_BSTR);
        cells[1].bstrVal = SysAllocString(OLESTR("row 1, column 0"));
        object.AddRef();
        cells[5] = Holding(VT_UNKNOWN, &object);
    }
    {
        const VariantTable cells(*table), noCells(*empty), notOne(*bytes);
        EXPECT_EQ(Results({cells.result(), noCells.result(), notOne.result()}),
                  Results({S_OK, S_OK, E_INVALIDARG}));
        EXPECT_EQ(Counts({cells.rows(), cells.columns(), noCells.rows(), notOne.rows()}),
                  Counts({3, 2, 0, 0}));
        EXPECT_EQ(Narrow(cells.at(1, 0).bstrVal), "row 1, column 0");
        EXPECT_EQ(cells.at(2, 1).punkVal, &object);
    }
    table.out();  // clearing the variant frees the array, its string and its reference
    EXPECT_EQ(object.references_, 1u);
}

TEST(RuntimeSafeArray, MissingArraysBadArgumentsAndOtherShapesAreRefused) {
    void* data = nullptr;
    LONG bound;
    ArrayOwner owner{SafeArrayCreateVector(VT_UI1, 0, 1)};
    EXPECT_EQ(
        Results({SafeArrayAccessData(nullptr, &data), SafeArrayUnaccessData(nullptr),
                 SafeArrayGetLBound(nullptr, 1, &bound), SafeArrayGetUBound(nullptr, 1, &bound),
                 SafeArrayAccessData(owner.array, nullptr),
                 SafeArrayGetLBound(owner.array, 1, nullptr)}),
        Results(6, E_INVALIDARG));
    EXPECT_EQ(Results({SafeArrayGetLBound(owner.array, 0, &bound),
                       SafeArrayGetUBound(owner.array, 2, &bound), SafeArrayDestroy(nullptr)}),
              Results({DISP_E_BADINDEX, DISP_E_BADINDEX, S_OK}));
    EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
    SAFEARRAYBOUND one = {1, 0};
    EXPECT_EQ(SafeArrayCreate(VT_UI1, 0, &one), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_UI1, 1, nullptr), nullptr);
    if (!kOwnRuntime) return;  // the Windows runtime makes every kind
    SAFEARRAYBOUND two[2] = {{2, 0}, {2, 0}};
    SAFEARRAYBOUND three[3] = {{2, 0}, {2, 0}, {2, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_UI1, 2, two), nullptr) << "one dimension only";
    EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 3, three), nullptr) << "one or two dimensions only";
    for (VARTYPE other : Types{VT_I1, VT_I4, VT_BSTR, VT_UNKNOWN, VT_EMPTY})
        EXPECT_EQ(SafeArrayCreateVector(other, 0, 1), nullptr)
            << "bytes or variants, not " << other;
}

}  // namespace
}  // namespace quarrow2::test

// libFuzzer target: the byte-array conversions on variants of any type over arrays and held
// locks (the runtime makes one-dimensional byte arrays only; other shapes come out missing).
// Access must succeed exactly for one-dimensional byte arrays, hand out every byte it counts
// (read here under AddressSanitizer) and leave the locks as it found them.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "items/byte_array.h"

using namespace quarrow2;
using namespace quarrow2::items;

constexpr VARTYPE kElementTypes[] = {VT_UI1,   VT_I1,      VT_I2,      VT_UI2,    VT_I4,
                                     VT_UI4,   VT_R8,      VT_CY,      VT_BSTR,   VT_BOOL,
                                     VT_ERROR, VT_VARIANT, VT_UNKNOWN, VT_DECIMAL};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    FuzzedDataProvider in(input, size);
    const VARTYPE elementType = in.PickValueInArray(kElementTypes);
    const unsigned dims = in.ConsumeIntegralInRange<unsigned>(0, 3);
    SAFEARRAYBOUND bounds[3] = {};
    ULONG elements = dims ? 1 : 0;
    for (unsigned d = 0; d < dims; ++d) {
        bounds[d].cElements = in.ConsumeIntegralInRange<ULONG>(0, d == 0 ? 4096 : 16);
        bounds[d].lLbound = in.ConsumeIntegral<LONG>();
        elements *= bounds[d].cElements;
    }
    SAFEARRAY* array = dims ? SafeArrayCreate(elementType, dims, bounds) : nullptr;
    void* data = nullptr;
    if (array && elementType == VT_UI1 && elements &&
        SUCCEEDED(SafeArrayAccessData(array, &data)) && data) {
        const std::vector<uint8_t> fill = in.ConsumeBytes<uint8_t>(elements);
        if (!fill.empty()) std::memcpy(data, fill.data(), fill.size());
        SafeArrayUnaccessData(array);
    }
    const unsigned heldLocks = array ? in.ConsumeIntegralInRange<unsigned>(0, 2) : 0;
    for (unsigned i = 0; i < heldLocks; ++i) Require(SafeArrayAccessData(array, &data) == S_OK);
    const ULONG locksBefore = array ? array->cLocks : 0;

    VARIANT value{};
    const int form = in.ConsumeIntegralInRange<int>(0, 2);
    value.vt = form == 2 ? in.ConsumeIntegral<VARTYPE>()
                         : static_cast<VARTYPE>(VT_ARRAY | (form ? VT_BYREF : 0) | elementType);
    if (in.ConsumeBool()) value.vt = static_cast<VARTYPE>((value.vt & ~0xFFF) | VT_UI1);
    // The data field points at something valid whatever the type says.
    SAFEARRAY* byReference = array;
    if (value.vt & VT_BYREF)
        value.pparray = &byReference;
    else
        value.parray = array;

    data = reinterpret_cast<void*>(1);
    LONG count = -1;
    const HRESULT hr = AccessVARIANT(value, &data, &count);
    const bool byteArrayType =
        (value.vt & VT_ARRAY) && (value.vt & ~(VT_ARRAY | VT_BYREF)) == VT_UI1;
    if (SUCCEEDED(hr)) {
        Require(byteArrayType && array && dims == 1 && data && count >= 0 &&
                static_cast<ULONG>(count) == bounds[0].cElements);
        const std::vector<uint8_t> handedOut(static_cast<uint8_t*>(data),
                                             static_cast<uint8_t*>(data) + count);
        Require(array->cLocks == locksBefore + 1 && UnaccessVARIANT(value) == S_OK);
    } else {
        Require(data == nullptr &&
                (!byteArrayType || !array || dims != 1 || hr == E_POINTER || hr == E_INVALIDARG));
        if (!byteArrayType) Require(hr == E_INVALIDARG && UnaccessVARIANT(value) == E_INVALIDARG);
    }
    if (array) Require(array->cLocks == locksBefore);

    for (unsigned i = 0; i < heldLocks; ++i) SafeArrayUnaccessData(array);
    if (array) Require(SafeArrayDestroy(array) == S_OK);

    const std::vector<uint8_t> bytes =
        in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 4096));
    count = in.ConsumeBool() ? static_cast<LONG>(bytes.size())
                             : in.ConsumeIntegralInRange<LONG>(-3, static_cast<LONG>(bytes.size()));
    std::memset(&value, 0x5A, sizeof value);
    const HRESULT made = PtrToVARIANT(bytes.data(), count, &value);
    if (FAILED(made)) {
        Require(value.vt == VT_EMPTY && (count < 0 || made == E_POINTER || made == E_OUTOFMEMORY));
        return 0;
    }
    Require(value.vt == (VT_ARRAY | VT_UI1) && value.parray);
    LONG got = -1;
    const HRESULT access = AccessVARIANT(value, &data, &got);
    if (SUCCEEDED(access)) {
        Require(got == count &&
                (count == 0 || std::memcmp(data, bytes.data(), static_cast<size_t>(count)) == 0));
        Require(UnaccessVARIANT(value) == S_OK);
    } else {
        Require(access == E_POINTER && count == 0);
    }
    Require(VariantClear(&value) == S_OK);
    return 0;
}

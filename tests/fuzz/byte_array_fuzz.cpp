// libFuzzer target: the byte-array conversions on arbitrary variants. The input picks a
// variant type (any 16 bits, or an array type with or without VT_BYREF), an array of 0 to
// 3 dimensions with arbitrary bounds and element type, locks already held on it, and bytes
// for a round trip through PtrToVARIANT. Access must succeed exactly for one-dimensional
// byte-array variants, hand out every byte it counts (AddressSanitizer reads them all),
// and leave the array's locks as it found them.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "items/byte_array.h"

namespace {

using quarrow2::AccessVARIANT;
using quarrow2::PtrToVARIANT;
using quarrow2::UnaccessVARIANT;

void Require(bool condition) {
    if (!condition) std::abort();
}

constexpr VARTYPE kElementTypes[] = {VT_UI1,   VT_I1,      VT_I2,      VT_UI2,    VT_I4,
                                     VT_UI4,   VT_R8,      VT_CY,      VT_BSTR,   VT_BOOL,
                                     VT_ERROR, VT_VARIANT, VT_UNKNOWN, VT_DECIMAL};

bool IsByteArrayType(VARTYPE vt) {
    return (vt & VT_ARRAY) && (vt & ~(VT_ARRAY | VT_BYREF)) == VT_UI1;
}

// PtrToVARIANT, then AccessVARIANT of what it made: the same bytes come back.
void RoundTrip(FuzzedDataProvider& in) {
    const std::vector<uint8_t> bytes =
        in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 4096));
    const LONG count = in.ConsumeBool()
                           ? static_cast<LONG>(bytes.size())
                           : in.ConsumeIntegralInRange<LONG>(-3, static_cast<LONG>(bytes.size()));
    VARIANT made;
    std::memset(&made, 0x5A, sizeof made);
    const HRESULT hr = PtrToVARIANT(bytes.data(), count, &made);
    if (FAILED(hr)) {
        Require(made.vt == VT_EMPTY);
        Require(count < 0 || hr == E_POINTER || hr == E_OUTOFMEMORY);
        return;
    }
    Require(made.vt == (VT_ARRAY | VT_UI1) && made.parray);
    void* data = nullptr;
    LONG got = -1;
    const HRESULT access = AccessVARIANT(made, &data, &got);
    if (SUCCEEDED(access)) {
        Require(got == count &&
                (count == 0 || std::memcmp(data, bytes.data(), static_cast<size_t>(count)) == 0));
        Require(UnaccessVARIANT(made) == S_OK);
    } else {
        Require(access == E_POINTER && count == 0);
    }
    Require(VariantClear(&made) == S_OK);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    FuzzedDataProvider in(input, size);

    const VARTYPE elementType = in.PickValueInArray(kElementTypes);
    const unsigned dims = in.ConsumeIntegralInRange<unsigned>(0, 3);
    SAFEARRAYBOUND bounds[3] = {};
    for (unsigned d = 0; d < dims; ++d) {
        bounds[d].cElements = in.ConsumeIntegralInRange<ULONG>(0, d == 0 ? 4096 : 16);
        bounds[d].lLbound = in.ConsumeIntegral<LONG>();
    }
    SAFEARRAY* array = dims ? SafeArrayCreate(elementType, dims, bounds) : nullptr;
    ULONG elements = dims ? 1 : 0;
    for (unsigned d = 0; d < dims; ++d) elements *= bounds[d].cElements;
    if (array && elementType == VT_UI1 && elements) {
        void* data = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(array, &data)) && data) {
            const std::vector<uint8_t> fill = in.ConsumeBytes<uint8_t>(elements);
            if (!fill.empty()) std::memcpy(data, fill.data(), fill.size());
            SafeArrayUnaccessData(array);
        }
    }
    const unsigned heldLocks = array ? in.ConsumeIntegralInRange<unsigned>(0, 2) : 0;
    for (unsigned i = 0; i < heldLocks; ++i) Require(SafeArrayLock(array) == S_OK);
    const ULONG locksBefore = array ? array->cLocks : 0;

    VARIANT value;
    VariantInit(&value);
    SAFEARRAY* byReference = array;
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
            value.vt = static_cast<VARTYPE>(VT_ARRAY | elementType);
            break;
        case 1:
            value.vt = static_cast<VARTYPE>(VT_ARRAY | VT_BYREF | elementType);
            break;
        default:
            value.vt = in.ConsumeIntegral<VARTYPE>();
            break;
    }
    if (in.ConsumeBool()) value.vt = static_cast<VARTYPE>((value.vt & ~0xFFF) | VT_UI1);
    // The data field points at something valid whatever the type says.
    if (value.vt & VT_BYREF) {
        value.pparray = &byReference;
    } else {
        value.parray = array;
    }

    void* data = reinterpret_cast<void*>(1);
    LONG count = -1;
    const HRESULT hr = AccessVARIANT(value, &data, &count);
    const bool accessible = IsByteArrayType(value.vt) && array && dims == 1;
    if (SUCCEEDED(hr)) {
        Require(accessible && count >= 0 && static_cast<ULONG>(count) == bounds[0].cElements);
        Require(data != nullptr);
        uint8_t sum = 0;
        for (LONG i = 0; i < count; ++i)
            sum = static_cast<uint8_t>(sum + static_cast<const uint8_t*>(data)[i]);
        (void)sum;
        Require(array->cLocks == locksBefore + 1);
        Require(UnaccessVARIANT(value) == S_OK);
    } else {
        Require(data == nullptr);
        Require(!accessible || hr == E_POINTER || hr == E_INVALIDARG);
        if (!IsByteArrayType(value.vt))
            Require(hr == E_INVALIDARG && UnaccessVARIANT(value) == E_INVALIDARG);
    }
    if (array) Require(array->cLocks == locksBefore);

    for (unsigned i = 0; i < heldLocks; ++i) SafeArrayUnlock(array);
    if (array) Require(SafeArrayDestroy(array) == S_OK);

    RoundTrip(in);
    return 0;
}

// VARIANT ownership: a variant owns the string, interface reference or array it holds by
// value; by-reference variants own nothing. Arrays are cleared but not copied: nothing the
// interfaces hand out copies one. An array of variants owns them in turn, so arrays are
// freed here too, where variants are cleared.
#include <cstdlib>

#include "platform/posix/runtime/array_layout.h"
#include "platform/posix/runtime/bstr_copy.h"

namespace {

// Data that the array does not own: it belongs to a stack frame, a static or a structure.
constexpr USHORT kForeignData = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;

constexpr VARTYPE kVector = 0x1000;
constexpr VARTYPE kClsid = 72;

// The types a variant may carry, as the Windows runtime checks them. Records are not part
// of this runtime (no IRecordInfo), so a variant claiming one is refused rather than
// cleared or copied half-way.
bool IsValidVariantType(VARTYPE vt) {
    if (vt & (VT_RESERVED | kVector)) return false;
    const VARTYPE base = vt & VT_TYPEMASK;
    const bool known = base <= VT_DECIMAL || (base >= VT_I1 && base <= VT_UINT) || base == kClsid;
    if (!known) return false;
    const bool indirect = (vt & (VT_BYREF | VT_ARRAY)) != 0;
    return !(indirect && base <= VT_NULL);
}

bool OwnsValue(VARTYPE vt) { return !(vt & VT_BYREF); }

}  // namespace

// A locked array is refused, and stays whole for the one who holds the lock.
HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    ULONG unlocked = 0;
    if (!__atomic_compare_exchange_n(&psa->cLocks, &unlocked, 1, false, __ATOMIC_SEQ_CST,
                                     __ATOMIC_SEQ_CST))
        return DISP_E_ARRAYISLOCKED;
    if (!(psa->fFeatures & kForeignData)) {
        size_t count = 0;
        if ((psa->fFeatures & FADF_VARIANT) && psa->pvData &&
            quarrow2::platform::ElementCount(psa, count))
            for (size_t i = 0; i < count; ++i) VariantClear(static_cast<VARIANT*>(psa->pvData) + i);
        std::free(psa->pvData);
    }
    std::free(quarrow2::platform::HiddenBytes(psa));
    return S_OK;
}

void VariantInit(VARIANTARG* pvarg) {
    if (pvarg) pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (!pvarg) return E_INVALIDARG;
    const VARTYPE vt = pvarg->vt;
    if (!IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
    if (OwnsValue(vt)) {
        if (vt & VT_ARRAY) {
            // A locked array stays with the variant, so that clearing again after the lock
            // is released frees it instead of losing it.
            HRESULT hr = SafeArrayDestroy(pvarg->parray);
            if (FAILED(hr)) return hr;
        } else if (vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        } else if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && pvarg->punkVal) {
            pvarg->punkVal->Release();
        }
    }
    pvarg->vt = VT_EMPTY;
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    const VARTYPE vt = pvargSrc->vt;
    if (!IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
    if (pvargDest == pvargSrc) return S_OK;
    if (OwnsValue(vt) && (vt & VT_ARRAY) && pvargSrc->parray) return E_NOTIMPL;
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) return hr;

    // The whole structure is copied, so a DECIMAL (which overlays the type field) arrives
    // intact; the owned parts are then duplicated.
    VARIANT copy = *pvargSrc;
    if (OwnsValue(vt)) {
        if (vt == VT_BSTR) {
            copy.bstrVal = quarrow2::platform::CopyBstr(pvargSrc->bstrVal);
            if (pvargSrc->bstrVal && !copy.bstrVal) return E_OUTOFMEMORY;
        } else if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && pvargSrc->punkVal) {
            pvargSrc->punkVal->AddRef();
        }
    }
    *pvargDest = copy;
    return S_OK;
}

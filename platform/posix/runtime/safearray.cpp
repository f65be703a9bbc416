// SAFEARRAYs as the interfaces use them: one dimension of bytes (IMetaData's Data) and one or
// two dimensions of variants (IFile3's Names, IFile2's Items), laid out as array_layout.h says.
// This runtime makes no other shape; the description calls also answer for arrays a client built
// itself, so that the library can refuse those of another shape. SafeArrayDestroy is variant.cpp's.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/runtime/array_layout.h"

namespace {

using quarrow2::platform::ElementCount;
using quarrow2::platform::kHiddenArrayBytes;

// Windows refuses the 65536th concurrent lock of one array.
constexpr ULONG kMaxLocks = 0xFFFF;

// The kinds made: bytes in one dimension, variants in one or two; 0 for any other.
size_t ElementBytes(VARTYPE vt, UINT dims) {
    if (vt == VT_UI1 && dims == 1) return 1;
    return vt == VT_VARIANT && (dims == 1 || dims == 2) ? sizeof(VARIANT) : 0;
}

// An array of zeroed elements (for variants: VT_EMPTY), or null when memory runs out or the
// kind is not one this runtime makes. The data block is real also for no elements, so
// access to an empty array yields a pointer, as on Windows and Wine.
SAFEARRAY* NewArray(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds) {
    const size_t elementBytes = ElementBytes(vt, dims);
    if (!elementBytes || !bounds) return nullptr;
    const size_t descriptor = sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<unsigned char*>(std::calloc(1, kHiddenArrayBytes + descriptor));
    if (!block) return nullptr;
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHiddenArrayBytes);
    psa->cDims = static_cast<USHORT>(dims);
    SAFEARRAYBOUND* stored = psa->rgsabound;
    for (UINT d = 0; d < dims; ++d) stored[d] = bounds[dims - 1 - d];
    size_t count = 0;
    if (ElementCount(psa, count) && count <= SIZE_MAX / elementBytes)
        psa->pvData = std::calloc(count ? count : 1, elementBytes);
    if (!psa->pvData) {
        std::free(block);
        return nullptr;
    }
    const DWORD vartype = vt;
    std::memcpy(block + kHiddenArrayBytes - sizeof vartype, &vartype, sizeof vartype);
    psa->fFeatures = FADF_HAVEVARTYPE | (vt == VT_VARIANT ? FADF_VARIANT : 0);
    psa->cbElements = static_cast<ULONG>(elementBytes);
    return psa;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    return NewArray(vt, cDims, rgsabound);
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (!psa || !ppvData) return E_INVALIDARG;
    *ppvData = nullptr;
    if (__atomic_add_fetch(&psa->cLocks, 1, __ATOMIC_SEQ_CST) > kMaxLocks) {
        __atomic_sub_fetch(&psa->cLocks, 1, __ATOMIC_SEQ_CST);
        return E_UNEXPECTED;
    }
    *ppvData = psa->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    ULONG current = __atomic_load_n(&psa->cLocks, __ATOMIC_SEQ_CST);
    do {
        if (current == 0) return E_UNEXPECTED;
    } while (!__atomic_compare_exchange_n(&psa->cLocks, &current, current - 1, false,
                                          __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST));
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

// The bounds are stored in reverse order: rgsabound[0] is the last dimension.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (!psa || !plLbound) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (!psa || !plUbound) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - nDim];
    // An empty dimension ends one below its lower bound. The sum is formed in 64 bits and
    // wraps to 32 as the Windows runtime's does for bounds near the ends of the range.
    const int64_t upper = int64_t{bound.lLbound} + int64_t{bound.cElements} - 1;
    *plUbound = static_cast<LONG>(static_cast<uint32_t>(upper));
    return S_OK;
}

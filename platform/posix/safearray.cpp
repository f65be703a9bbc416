// SAFEARRAY life cycle, locking and description.
#include <cstdlib>

#include "platform/posix/safearray_layout.h"

namespace sa = quarrow2::posix::safearray;

namespace {

// Data that the array does not own: it belongs to a stack frame, a static or a structure.
constexpr USHORT kForeignData = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    if (!rgsabound || cDims == 0 || cDims > sa::kMaxDimensions) return nullptr;
    const ULONG elementSize = sa::ElementSize(vt);
    if (elementSize == 0) return nullptr;

    SAFEARRAY* psa = sa::AllocateDescriptor(static_cast<USHORT>(cDims));
    if (!psa) return nullptr;
    psa->cbElements = elementSize;
    sa::SetElementType(psa, vt);
    for (UINT i = 0; i < cDims; ++i) psa->rgsabound[i] = rgsabound[cDims - 1 - i];

    uint64_t cells;
    size_t bytes;
    if (!sa::CellCount(psa, &cells) || !sa::DataBytes(psa, cells, &bytes) ||
        !(psa->pvData = sa::AllocateData(bytes))) {
        sa::FreeDescriptor(psa);
        return nullptr;
    }
    return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    HRESULT hr = sa::AcquireExclusive(psa);
    if (FAILED(hr)) return hr;
    if (psa->pvData) {
        uint64_t cells;
        if (sa::CellCount(psa, &cells)) sa::ClearElements(psa, 0, cells);
        if (!(psa->fFeatures & kForeignData)) std::free(psa->pvData);
    }
    sa::FreeDescriptor(psa);
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) { return psa ? sa::AddLock(psa) : E_INVALIDARG; }

HRESULT SafeArrayUnlock(SAFEARRAY* psa) { return psa ? sa::RemoveLock(psa) : E_INVALIDARG; }

// An array of no elements still has a data block, so access to it yields a pointer (not
// null), as on Windows and Wine; callers that treat a null pointer as failure keep working.
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (!psa || !ppvData) return E_INVALIDARG;
    HRESULT hr = sa::AddLock(psa);
    *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

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

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (!psa || !pvt) return E_INVALIDARG;
    if (psa->fFeatures & FADF_RECORD) {
        *pvt = VT_RECORD;
    } else if (psa->fFeatures & FADF_HAVEIID) {
        *pvt = (psa->fFeatures & FADF_DISPATCH) ? VT_DISPATCH : VT_UNKNOWN;
    } else if (psa->fFeatures & FADF_HAVEVARTYPE) {
        *pvt = sa::HiddenVartype(psa);
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

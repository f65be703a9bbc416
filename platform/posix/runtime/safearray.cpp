// SAFEARRAY life cycle, locking, description and reshaping.

#include <cstdlib>
#include <cstring>

#include "platform/posix/runtime/safearray_layout.h"

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

// Resizing and deep copies of SAFEARRAYs.
namespace sa = quarrow2::posix::safearray;

namespace {

// Arrays whose data this runtime did not allocate, or which promise a fixed size.
constexpr USHORT kNotResizable = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_FIXEDSIZE;

// Features that describe where the source's storage lives, not what a copy is.
constexpr USHORT kStorageFeatures = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_FIXEDSIZE;

// Resizes the data of an exclusively held array to the new bound of its last dimension.
HRESULT ResizeLastDimension(SAFEARRAY* psa, const SAFEARRAYBOUND& newBound) {
    uint64_t oldCells;
    if (!sa::CellCount(psa, &oldCells)) return E_UNEXPECTED;
    // The count is computed on the descriptor itself with the new bound swapped in, then
    // the old bound is put back until the data has been resized.
    const SAFEARRAYBOUND kept = psa->rgsabound[0];
    psa->rgsabound[0] = newBound;
    uint64_t newCells;
    size_t newBytes;
    const bool fits = sa::CellCount(psa, &newCells) && sa::DataBytes(psa, newCells, &newBytes);
    psa->rgsabound[0] = kept;
    if (!fits) return E_OUTOFMEMORY;

    if (newCells < oldCells) {
        sa::ClearElements(psa, newCells, oldCells - newCells);
        // A failed shrink keeps the larger block, which is still correct.
        if (void* smaller = std::realloc(psa->pvData, newBytes ? newBytes : 1))
            psa->pvData = smaller;
    } else if (newCells > oldCells) {
        void* larger = std::realloc(psa->pvData, newBytes);
        if (!larger) return E_OUTOFMEMORY;
        const size_t oldBytes = static_cast<size_t>(oldCells * psa->cbElements);
        std::memset(static_cast<unsigned char*>(larger) + oldBytes, 0, newBytes - oldBytes);
        psa->pvData = larger;
    }
    psa->rgsabound[0] = newBound;
    return S_OK;
}

}  // namespace

// Changes the last dimension (the one stored first), as Windows does; the elements it drops
// are released and those it adds are zero.
HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) {
    if (!psa || !psaboundNew || psa->cDims == 0 || !psa->pvData) return E_INVALIDARG;
    if (psa->fFeatures & kNotResizable) return E_INVALIDARG;
    HRESULT hr = sa::AcquireExclusive(psa);
    if (FAILED(hr)) return hr;
    hr = ResizeLastDimension(psa, *psaboundNew);
    sa::ReleaseExclusive(psa);
    return hr;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (!ppsaOut) return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (!psa) return S_OK;
    if (psa->cDims == 0) return E_INVALIDARG;

    uint64_t cells;
    size_t bytes;
    if (!sa::CellCount(psa, &cells) || !sa::DataBytes(psa, cells, &bytes)) return E_OUTOFMEMORY;

    SAFEARRAY* copy = sa::AllocateDescriptor(psa->cDims);
    if (!copy) return E_OUTOFMEMORY;
    sa::CopyHiddenHeader(psa, copy);
    copy->fFeatures = psa->fFeatures & static_cast<USHORT>(~kStorageFeatures);
    copy->cbElements = psa->cbElements;
    std::memcpy(copy->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));

    if (psa->pvData) {
        copy->pvData = sa::AllocateData(bytes);
        HRESULT hr = copy->pvData ? sa::CopyElements(psa, copy, cells) : E_OUTOFMEMORY;
        if (FAILED(hr)) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

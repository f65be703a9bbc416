// Resizing and deep copies of SAFEARRAYs.
#include <cstdlib>
#include <cstring>

#include "platform/posix/safearray_layout.h"

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
        if (void* smaller = std::realloc(psa->pvData, newBytes ? newBytes : 1)) psa->pvData = smaller;
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

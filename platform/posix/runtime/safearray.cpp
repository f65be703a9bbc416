// SAFEARRAYs as the interfaces use them: one dimension of bytes (IMetaData's Data). This
// runtime makes no other kind; the description calls also answer for arrays a client built
// itself, so that the library can refuse those of another shape.
//
// Layout as on Windows: the descriptor with its bound, preceded by 16 hidden bytes whose
// last four hold the element VARTYPE (FADF_HAVEVARTYPE).

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr size_t kHiddenBytes = 16;
// Windows refuses the 65536th concurrent lock of one array.
constexpr ULONG kMaxLocks = 0xFFFF;
// Data that the array does not own: it belongs to a stack frame, a static or a structure.
constexpr USHORT kForeignData = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;

unsigned char* HiddenBytes(SAFEARRAY* psa) {
    return reinterpret_cast<unsigned char*>(psa) - kHiddenBytes;
}

// A byte array of `elements` zero bytes; null when memory runs out. The data block is real
// also for no elements, so access to an empty array yields a pointer, as on Windows and Wine.
SAFEARRAY* NewByteArray(SAFEARRAYBOUND bound) {
    auto* block = static_cast<unsigned char*>(std::calloc(1, kHiddenBytes + sizeof(SAFEARRAY)));
    if (!block) return nullptr;
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHiddenBytes);
    psa->pvData = std::calloc(1, bound.cElements ? bound.cElements : 1);
    if (!psa->pvData) {
        std::free(block);
        return nullptr;
    }
    const DWORD vartype = VT_UI1;
    std::memcpy(block + kHiddenBytes - sizeof vartype, &vartype, sizeof vartype);
    psa->cDims = 1;
    psa->fFeatures = FADF_HAVEVARTYPE;
    psa->cbElements = 1;
    psa->rgsabound[0] = bound;
    return psa;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    if (vt != VT_UI1 || cDims != 1 || !rgsabound) return nullptr;
    return NewByteArray(*rgsabound);
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

// A locked array is refused, and stays whole for the one who holds the lock.
HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    ULONG unlocked = 0;
    if (!__atomic_compare_exchange_n(&psa->cLocks, &unlocked, 1, false, __ATOMIC_SEQ_CST,
                                     __ATOMIC_SEQ_CST))
        return DISP_E_ARRAYISLOCKED;
    if (!(psa->fFeatures & kForeignData)) std::free(psa->pvData);
    std::free(HiddenBytes(psa));
    return S_OK;
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

#include "platform/posix/runtime/safearray_layout.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/posix/runtime/bstr_copy.h"

namespace quarrow2::posix::safearray {
namespace {

constexpr size_t kHiddenBytes = 16;
static_assert(sizeof(GUID) == kHiddenBytes, "the hidden bytes hold one interface identifier");

// Data larger than this is refused before any allocation is tried: 1 TiB, beyond what any
// machine this runs on can hand out, and small enough that every element offset and size
// computed from bounds within it is exact.
constexpr uint64_t kMaxDataBytes =
    std::min<uint64_t>(uint64_t{1} << 40, std::numeric_limits<ptrdiff_t>::max() / 2);

unsigned char* HiddenBytes(SAFEARRAY* psa) {
    return reinterpret_cast<unsigned char*>(psa) - kHiddenBytes;
}
const unsigned char* HiddenBytes(const SAFEARRAY* psa) {
    return reinterpret_cast<const unsigned char*>(psa) - kHiddenBytes;
}

enum class ElementKind { Plain, String, Interface, Variant };

ElementKind KindOf(const SAFEARRAY* psa) {
    if (psa->fFeatures & FADF_BSTR) return ElementKind::String;
    if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) return ElementKind::Interface;
    if (psa->fFeatures & FADF_VARIANT) return ElementKind::Variant;
    return ElementKind::Plain;
}

}  // namespace

ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
        case VT_UI1:
        case VT_I1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_I8:
        case VT_UI8:
            return 8;
        case VT_DECIMAL:
            return sizeof(DECIMAL);
        case VT_BSTR:
            return sizeof(BSTR);
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return sizeof(IUnknown*);
        case VT_VARIANT:
            return sizeof(VARIANT);
        default:
            return 0;
    }
}

SAFEARRAY* AllocateDescriptor(USHORT dims) {
    if (dims == 0) return nullptr;
    const size_t size =
        kHiddenBytes + sizeof(SAFEARRAY) + (size_t{dims} - 1) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<unsigned char*>(std::calloc(1, size));
    if (!block) return nullptr;
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHiddenBytes);
    psa->cDims = dims;
    return psa;
}

void FreeDescriptor(SAFEARRAY* psa) {
    if (psa) std::free(HiddenBytes(psa));
}

void SetElementType(SAFEARRAY* psa, VARTYPE vt) {
    psa->fFeatures &= static_cast<USHORT>(~(FADF_HAVEVARTYPE | FADF_HAVEIID | FADF_BSTR |
                                            FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT));
    if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        const IID& iid = vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch;
        std::memcpy(HiddenBytes(psa), &iid, sizeof iid);
        psa->fFeatures |= FADF_HAVEIID | (vt == VT_UNKNOWN ? FADF_UNKNOWN : FADF_DISPATCH);
        return;
    }
    const DWORD stored = vt;
    std::memcpy(HiddenBytes(psa) + kHiddenBytes - sizeof stored, &stored, sizeof stored);
    psa->fFeatures |= FADF_HAVEVARTYPE;
    if (vt == VT_BSTR) psa->fFeatures |= FADF_BSTR;
    if (vt == VT_VARIANT) psa->fFeatures |= FADF_VARIANT;
}

void CopyHiddenHeader(const SAFEARRAY* from, SAFEARRAY* to) {
    std::memcpy(HiddenBytes(to), HiddenBytes(from), kHiddenBytes);
}

VARTYPE HiddenVartype(const SAFEARRAY* psa) {
    DWORD stored;
    std::memcpy(&stored, HiddenBytes(psa) + kHiddenBytes - sizeof stored, sizeof stored);
    return static_cast<VARTYPE>(stored);
}

bool CellCount(const SAFEARRAY* psa, uint64_t* cells) {
    *cells = 0;  // set on every path: no caller reads an unset count
    uint64_t total = 1;
    for (USHORT i = 0; i < psa->cDims; ++i) {
        const uint64_t n = psa->rgsabound[i].cElements;
        if (n == 0) return true;
        if (total > kMaxDataBytes / n) return false;
        total *= n;
    }
    *cells = total;
    return true;
}

bool DataBytes(const SAFEARRAY* psa, uint64_t cells, size_t* bytes) {
    const uint64_t size = psa->cbElements;
    if (size != 0 && cells > kMaxDataBytes / size) return false;
    *bytes = static_cast<size_t>(cells * size);
    return true;
}

void* AllocateData(size_t bytes) { return std::calloc(1, bytes ? bytes : 1); }

bool CellOffset(const SAFEARRAY* psa, const LONG* indices, uint64_t* cell) {
    uint64_t offset = 0;
    uint64_t stride = 1;
    for (USHORT dim = 0; dim < psa->cDims; ++dim) {
        const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - 1 - dim];
        const int64_t position = int64_t{indices[dim]} - int64_t{bound.lLbound};
        if (position < 0 || static_cast<uint64_t>(position) >= bound.cElements) return false;
        // Within bounds every partial sum is below the cell count, which CellCount checked.
        offset += static_cast<uint64_t>(position) * stride;
        stride *= bound.cElements;
    }
    *cell = offset;
    return true;
}

void* CellPointer(const SAFEARRAY* psa, uint64_t cell) {
    return static_cast<unsigned char*>(psa->pvData) + cell * psa->cbElements;
}

void ClearElements(SAFEARRAY* psa, uint64_t first, uint64_t count) {
    if (!psa->pvData) return;
    switch (KindOf(psa)) {
        case ElementKind::String:
            for (uint64_t i = first; i < first + count; ++i) {
                auto* slot = static_cast<BSTR*>(CellPointer(psa, i));
                SysFreeString(*slot);
                *slot = nullptr;
            }
            break;
        case ElementKind::Interface:
            for (uint64_t i = first; i < first + count; ++i) {
                auto* slot = static_cast<IUnknown**>(CellPointer(psa, i));
                if (IUnknown* p = *slot) {
                    *slot = nullptr;
                    p->Release();
                }
            }
            break;
        case ElementKind::Variant:
            for (uint64_t i = first; i < first + count; ++i)
                VariantClear(static_cast<VARIANT*>(CellPointer(psa, i)));
            break;
        case ElementKind::Plain:
            break;
    }
}

HRESULT CopyElements(const SAFEARRAY* from, SAFEARRAY* to, uint64_t count) {
    switch (KindOf(from)) {
        case ElementKind::String:
            for (uint64_t i = 0; i < count; ++i) {
                BSTR source = *static_cast<BSTR*>(CellPointer(from, i));
                BSTR copy = CopyBstr(source);
                if (source && !copy) return E_OUTOFMEMORY;
                *static_cast<BSTR*>(CellPointer(to, i)) = copy;
            }
            return S_OK;
        case ElementKind::Interface:
            for (uint64_t i = 0; i < count; ++i) {
                IUnknown* source = *static_cast<IUnknown**>(CellPointer(from, i));
                if (source) source->AddRef();
                *static_cast<IUnknown**>(CellPointer(to, i)) = source;
            }
            return S_OK;
        case ElementKind::Variant:
            for (uint64_t i = 0; i < count; ++i) {
                HRESULT hr = VariantCopy(static_cast<VARIANT*>(CellPointer(to, i)),
                                         static_cast<const VARIANT*>(CellPointer(from, i)));
                if (FAILED(hr)) return hr;
            }
            return S_OK;
        case ElementKind::Plain:
            if (count)
                std::memcpy(to->pvData, from->pvData,
                            static_cast<size_t>(count * from->cbElements));
            return S_OK;
    }
    return E_UNEXPECTED;
}

HRESULT AddLock(SAFEARRAY* psa) {
    ULONG now = __atomic_add_fetch(&psa->cLocks, 1, __ATOMIC_SEQ_CST);
    if (now > kMaxLocks) {
        __atomic_sub_fetch(&psa->cLocks, 1, __ATOMIC_SEQ_CST);
        return E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT RemoveLock(SAFEARRAY* psa) {
    ULONG current = __atomic_load_n(&psa->cLocks, __ATOMIC_SEQ_CST);
    do {
        if (current == 0) return E_UNEXPECTED;
    } while (!__atomic_compare_exchange_n(&psa->cLocks, &current, current - 1, false,
                                          __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST));
    return S_OK;
}

HRESULT AcquireExclusive(SAFEARRAY* psa) {
    ULONG unlocked = 0;
    if (!__atomic_compare_exchange_n(&psa->cLocks, &unlocked, 1, false, __ATOMIC_SEQ_CST,
                                     __ATOMIC_SEQ_CST))
        return DISP_E_ARRAYISLOCKED;
    return S_OK;
}

void ReleaseExclusive(SAFEARRAY* psa) { __atomic_sub_fetch(&psa->cLocks, 1, __ATOMIC_SEQ_CST); }

}  // namespace quarrow2::posix::safearray

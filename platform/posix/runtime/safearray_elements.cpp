// Access to single SAFEARRAY elements. Get and Put hold a lock for the duration, so the
// array cannot be destroyed or resized under them.
#include <cstring>

#include "platform/posix/runtime/bstr_copy.h"
#include "platform/posix/runtime/safearray_layout.h"

namespace sa = quarrow2::posix::safearray;

namespace {

// Holds one lock of an array for a scope.
class ScopedArrayLock {
public:
    explicit ScopedArrayLock(SAFEARRAY* psa) : psa_(psa), status_(sa::AddLock(psa)) {}
    ScopedArrayLock(const ScopedArrayLock&) = delete;
    ScopedArrayLock& operator=(const ScopedArrayLock&) = delete;
    ~ScopedArrayLock() {
        if (SUCCEEDED(status_)) sa::RemoveLock(psa_);
    }
    HRESULT status() const { return status_; }

private:
    SAFEARRAY* psa_;
    HRESULT status_;
};

HRESULT LocateElement(SAFEARRAY* psa, const LONG* indices, void** element) {
    if (psa->cDims == 0 || !psa->pvData) return E_INVALIDARG;
    // Offsets are exact only for bounds whose total size is representable.
    uint64_t cells;
    if (!sa::CellCount(psa, &cells)) return E_INVALIDARG;
    uint64_t cell;
    if (!sa::CellOffset(psa, indices, &cell)) return DISP_E_BADINDEX;
    *element = sa::CellPointer(psa, cell);
    return S_OK;
}

}  // namespace

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) {
    if (!psa || !rgIndices || !ppvData) return E_INVALIDARG;
    return LocateElement(psa, rgIndices, ppvData);
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!psa || !rgIndices || !pv) return E_INVALIDARG;
    ScopedArrayLock lock(psa);
    if (FAILED(lock.status())) return lock.status();
    void* element;
    HRESULT hr = LocateElement(psa, rgIndices, &element);
    if (FAILED(hr)) return hr;

    // The receiver gets its own copy; what pv held before is not looked at.
    if (psa->fFeatures & FADF_VARIANT) {
        auto* out = static_cast<VARIANT*>(pv);
        VariantInit(out);
        return VariantCopy(out, static_cast<VARIANT*>(element));
    }
    if (psa->fFeatures & FADF_BSTR) {
        BSTR source = *static_cast<BSTR*>(element);
        BSTR copy = quarrow2::posix::CopyBstr(source);
        if (source && !copy) return E_OUTOFMEMORY;
        *static_cast<BSTR*>(pv) = copy;
        return S_OK;
    }
    if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* source = *static_cast<IUnknown**>(element);
        if (source) source->AddRef();
        *static_cast<IUnknown**>(pv) = source;
        return S_OK;
    }
    std::memcpy(pv, element, psa->cbElements);
    return S_OK;
}

// For arrays of strings and interfaces pv is the string or interface itself, as on Windows;
// null stores an empty slot. For every other kind pv points at the value.
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!psa || !rgIndices) return E_INVALIDARG;
    const bool pvIsTheValue = (psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) != 0;
    if (!pv && !pvIsTheValue) return E_INVALIDARG;
    ScopedArrayLock lock(psa);
    if (FAILED(lock.status())) return lock.status();
    void* element;
    HRESULT hr = LocateElement(psa, rgIndices, &element);
    if (FAILED(hr)) return hr;

    if (psa->fFeatures & FADF_VARIANT)
        return VariantCopy(static_cast<VARIANT*>(element), static_cast<VARIANT*>(pv));
    if (psa->fFeatures & FADF_BSTR) {
        BSTR source = static_cast<BSTR>(pv);
        BSTR copy = quarrow2::posix::CopyBstr(source);
        if (source && !copy) return E_OUTOFMEMORY;
        auto* slot = static_cast<BSTR*>(element);
        SysFreeString(*slot);
        *slot = copy;
        return S_OK;
    }
    if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* fresh = static_cast<IUnknown*>(pv);
        if (fresh) fresh->AddRef();
        auto* slot = static_cast<IUnknown**>(element);
        IUnknown* old = *slot;
        *slot = fresh;
        if (old) old->Release();
        return S_OK;
    }
    std::memcpy(element, pv, psa->cbElements);
    return S_OK;
}

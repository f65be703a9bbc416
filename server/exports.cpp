// The entry points through which the platform's component runtime reaches the library.
#include "platform/owners.h"
#include "quarrow2/quarrow2.h"
#include "server/class_table.h"
#include "server/file_class_object.h"
#include "server/library_state.h"
#include "store/module_lock.h"

namespace quarrow2::server {
namespace {

// The cached class object, made on the first request. A failed attempt caches nothing, so
// the next request tries again.
HRESULT GetOrMakeClassObject(IUnknown** out) {
    *out = CachedClassObject();
    if (*out) return S_OK;
    platform::CriticalSectionGuard guard(ClassObjectLock());
    *out = CachedClassObject();
    if (*out) return S_OK;
    ComPtr<IClassFactory> made = NewFileClassObject();
    if (!made) return E_OUTOFMEMORY;
    // IClassFactory is the object's IUnknown; the cache keeps the maker's reference.
    *out = made.detach();
    CacheClassObject(*out);
    return S_OK;
}

}  // namespace
}  // namespace quarrow2::server

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    using namespace quarrow2::server;
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const ClassEntry* row = ClassTableBegin(); row != ClassTableEnd(); ++row) {
        if (!row->servesClassObject || !IsEqualCLSID(*row->clsid, rclsid)) continue;
        IUnknown* classObject = nullptr;
        HRESULT hr = GetOrMakeClassObject(&classObject);
        if (FAILED(hr)) return hr;
        return classObject->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return quarrow2::store::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

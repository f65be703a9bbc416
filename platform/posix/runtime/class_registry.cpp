#include "platform/posix/runtime/class_registry.h"

#include <cstring>
#include <iterator>

namespace quarrow2::platform {
namespace {

struct RegisteredClass {
    CLSID clsid;
    LPCOLESTR progId;
    LPCOLESTR versionIndependentProgId;
};

// Constant-initialised and never destroyed: registration runs while the program loads,
// before or after any constructor of a static link, and lookups may come until it exits.
RegisteredClass g_classes[8];
size_t g_count = 0;

OLECHAR AsciiLower(OLECHAR c) {
    return c >= u'A' && c <= u'Z' ? static_cast<OLECHAR>(c - u'A' + u'a') : c;
}

bool SameKey(LPCOLESTR a, LPCOLESTR b) {
    for (; *a && *b; ++a, ++b)
        if (AsciiLower(*a) != AsciiLower(*b)) return false;
    return *a == *b;
}

const RegisteredClass* Registered(REFCLSID clsid) {
    for (size_t i = 0; i < g_count; ++i)
        if (IsEqualGUID(g_classes[i].clsid, clsid)) return &g_classes[i];
    return nullptr;
}

size_t Units(LPCOLESTR s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

}  // namespace

bool RegisterClass(const CLSID& clsid, LPCOLESTR progId, LPCOLESTR versionIndependentProgId) {
    if (g_count == std::size(g_classes)) return false;
    g_classes[g_count++] = {clsid, progId, versionIndependentProgId};
    return true;
}

bool ClassIdFromProgId(LPCOLESTR progId, CLSID* clsid) {
    for (size_t i = 0; i < g_count; ++i) {
        const RegisteredClass& c = g_classes[i];
        if (SameKey(progId, c.progId) || SameKey(progId, c.versionIndependentProgId)) {
            *clsid = c.clsid;
            return true;
        }
    }
    return false;
}

}  // namespace quarrow2::platform

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    if (!lplpszProgID) return E_INVALIDARG;
    *lplpszProgID = nullptr;
    const quarrow2::platform::RegisteredClass* registered = quarrow2::platform::Registered(clsid);
    if (!registered) return REGDB_E_CLASSNOTREG;
    const size_t bytes = (quarrow2::platform::Units(registered->progId) + 1) * sizeof(OLECHAR);
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, registered->progId, bytes);
    *lplpszProgID = copy;
    return S_OK;
}

// Linux has no registry: the class table answers the runtime's questions about ProgIDs,
// as the CLSID and ProgID keys that registration writes answer them on Windows.
#include "platform/posix/runtime/class_registry.h"

#include <cstring>

#include "server/class_table.h"

namespace quarrow2::posix {
namespace {

OLECHAR AsciiLower(OLECHAR c) {
    return c >= u'A' && c <= u'Z' ? static_cast<OLECHAR>(c - u'A' + u'a') : c;
}

bool SameKey(LPCOLESTR a, LPCOLESTR b) {
    for (; *a && *b; ++a, ++b)
        if (AsciiLower(*a) != AsciiLower(*b)) return false;
    return *a == *b;
}

size_t Units(LPCOLESTR s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

}  // namespace

bool ClassIdFromProgId(LPCOLESTR progId, CLSID* clsid) {
    for (const server::ClassEntry* e = server::ClassTableBegin(); e != server::ClassTableEnd();
         ++e) {
        if (SameKey(progId, e->progId) || SameKey(progId, e->versionIndependentProgId)) {
            *clsid = *e->clsid;
            return true;
        }
    }
    return false;
}

}  // namespace quarrow2::posix

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    if (!lplpszProgID) return E_INVALIDARG;
    *lplpszProgID = nullptr;
    const quarrow2::server::ClassEntry* entry = quarrow2::server::FindClass(clsid);
    if (!entry) return REGDB_E_CLASSNOTREG;
    const size_t bytes = (quarrow2::posix::Units(entry->progId) + 1) * sizeof(OLECHAR);
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, entry->progId, bytes);
    *lplpszProgID = copy;
    return S_OK;
}

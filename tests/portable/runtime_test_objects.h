// Helpers for the automation-runtime tests, which run against this project's Linux runtime
// natively and against Wine's real runtime when cross-built.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "support/test_support.h"

namespace quarrow2::test {

// True where the runtime under test is this project's own (Linux); false against the
// Windows runtime. Behaviour that only this runtime promises (its English texts, its class
// table) is checked only here.
#if defined(_WIN32)
constexpr bool kOwnRuntime = false;
#else
constexpr bool kOwnRuntime = true;
#endif

// An object that lives on the test's stack and only counts its references, so a test can
// see every AddRef and Release the runtime makes. It starts with the test's own reference.
class CountedUnknown : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (!IsEqualIID(riid, IID_IUnknown)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }
    ULONG references() const { return references_; }

private:
    std::atomic<ULONG> references_{1};
};

// The 32-bit byte count stored in front of an automation string.
inline uint32_t LengthPrefix(BSTR s) {
    uint32_t n;
    std::memcpy(&n, reinterpret_cast<const char*>(s) - sizeof n, sizeof n);
    return n;
}

// The registry form of an identifier, as UTF-8.
inline std::string GuidText(REFGUID g) {
    OLECHAR text[64] = {};
    int n = StringFromGUID2(g, text, 64);
    return n > 0 ? Narrow(text, static_cast<size_t>(n - 1)) : std::string();
}

}  // namespace quarrow2::test

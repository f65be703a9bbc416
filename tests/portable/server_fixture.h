// Objects obtained as a client obtains them: through DllGetClassObject and File's factory.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "quarrow2/quarrow2.h"
#include "store/module_lock.h"
#include "support/test_support.h"

namespace quarrow2::test {

inline ComPtr<IClassFactory> GetFileClassObject() {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(DllGetClassObject(CLSID_File, IID_IClassFactory, factory.out_void()), S_OK);
    return factory;
}

// A call's result; what it hands out is released, and a refusal must leave null behind.
inline HRESULT Handed(const std::function<HRESULT(void**)>& call) {
    void* out = reinterpret_cast<void*>(static_cast<uintptr_t>(0x10));
    const HRESULT hr = call(&out);
    if (hr == S_OK) static_cast<IUnknown*>(out)->Release();
    EXPECT_TRUE(hr == S_OK || out == nullptr) << "refused with " << std::hex << hr;
    return hr;
}

inline bool CanUnload() { return DllCanUnloadNow() == S_OK; }

// The code late binding fails with: whether the system has the library's type library
// registered (Linux has no type-library registry).
inline HRESULT RegisteredTypeLibrary() {
#if defined(_WIN32)
    ComPtr<ITypeLib> library;
    return LoadRegTypeLib(LIBID_Quarrow2, 1, 0, 0, library.out());
#else
    return TYPE_E_LIBNOTREGISTERED;
#endif
}

// Each test starts as a freshly loaded library does, and leaves no object alive.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(store::ModuleLockCount(), 0) << "objects of an earlier test are still alive";
    }
    void TearDown() override { EXPECT_EQ(store::ModuleLockCount(), 0) << "an object leaked"; }
};

}  // namespace quarrow2::test

// The one class object the library serves (File's), and when the library may be unloaded.
#include <thread>
#include <vector>

#include "server/library_state.h"
#include "server_fixture.h"

namespace quarrow2::test {
namespace {

using ClassObjectTest = ServerTest;

HRESULT GetClassObject(REFCLSID clsid, REFIID iid) {
    return Handed([&](void** out) { return DllGetClassObject(clsid, iid, out); });
}
HRESULT Create(IClassFactory* factory, IUnknown* outer, REFIID iid) {
    return Handed([&](void** out) { return factory->CreateInstance(outer, iid, out); });
}

TEST_F(ClassObjectTest, OnlyFileHasOneCachedClassObjectThatMakesNewFiles) {
    for (const CLSID* clsid :
         {&CLSID_MetaData, &CLSID_Strings, &IID_IFile, &LIBID_Quarrow2, &IID_NULL}) {
        for (const IID* iid : {&IID_IUnknown, &IID_IClassFactory})
            EXPECT_EQ(GetClassObject(*clsid, *iid), CLASS_E_CLASSNOTAVAILABLE);
    }
    EXPECT_EQ(DllGetClassObject(CLSID_File, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(DllGetClassObject(CLSID_MetaData, IID_IClassFactory, nullptr), E_POINTER);
    ComPtr<IUnknown> first, identity, a, b;
    ASSERT_EQ(DllGetClassObject(CLSID_File, IID_IUnknown, first.out_void()), S_OK);
    IUnknown* raw = first.get();
    first.reset();
    // Another interface is refused, and the object stays cached all the same.
    for (const IID* iid : {&IID_IDispatch, &IID_IFile, &IID_ISupportErrorInfo, &IID_IEnumVARIANT})
        EXPECT_EQ(GetClassObject(CLSID_File, *iid), E_NOINTERFACE);
    ComPtr<IClassFactory> factory = GetFileClassObject();
    ASSERT_TRUE(factory);
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, identity.out_void()), S_OK);
    EXPECT_EQ(identity.get(), raw);
    identity.reset();
    EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(Query(factory.get(), IID_IDispatch), E_NOINTERFACE);

    // Any non-null outer object is a request to aggregate, whatever the interface asked.
    for (const IID* iid : {&IID_IUnknown, &IID_IFile, &IID_IDispatch})
        EXPECT_EQ(Create(factory.get(), factory.get(), *iid), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IFile, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(factory.get(), IID_IUnknown, nullptr), E_POINTER);
    for (const IID* iid : {&IID_IClassFactory, &IID_IStrings, &IID_IMetaData, &IID_IEnumVARIANT})
        EXPECT_EQ(Create(factory.get(), nullptr, *iid), E_NOINTERFACE);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, a.out_void()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, b.out_void()), S_OK);
    EXPECT_NE(a.get(), b.get());
    // The client holds the only reference: one AddRef and Release pair leaves it alive.
    EXPECT_EQ(a->AddRef(), 2u);
    EXPECT_EQ(a->Release(), 1u);
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(a->QueryInterface(IID_IDispatch, dispatch.out_void()), S_OK);
    a.reset();
    b.reset();

    // The class object counts once, LockServer(TRUE) until balanced, the library's own not.
    ASSERT_EQ(DllGetClassObject(CLSID_File, IID_IUnknown, identity.out_void()), S_OK);
    EXPECT_EQ(server::ModuleLockCount(), 2) << "one File and the class object";
    identity.reset();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    dispatch.reset();
    for (int unlock = 0; unlock < 2; ++unlock) {
        EXPECT_FALSE(CanUnload()) << "a LockServer(TRUE) is still unbalanced";
        EXPECT_EQ(GetFileClassObject()->LockServer(FALSE), S_OK);
    }
    EXPECT_TRUE(CanUnload());
}

// A client's class object stays usable after the library stops. Threads racing to restart it
// start it once and share one object; every hold and every File they make is counted off.
TEST_F(ClassObjectTest, StoppingReleasesTheClassObjectAndRacingThreadsRestartOnce) {
    ComPtr<IClassFactory> held = GetFileClassObject();
    ASSERT_TRUE(held);
    server::StopLibrary();
    EXPECT_EQ(Create(held.get(), nullptr, IID_IFile), S_OK);
    held.reset();
    EXPECT_TRUE(CanUnload());
    held = GetFileClassObject();
    EXPECT_FALSE(CanUnload());
    held.reset();
    server::StopLibrary();
    server::StopLibrary();
    EXPECT_TRUE(CanUnload());

    constexpr int kThreads = 6;
    std::vector<IUnknown*> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&seen, t] {
            for (int round = 0; round < 300; ++round) {
                ComPtr<IClassFactory> factory;
                if (DllGetClassObject(CLSID_File, IID_IClassFactory, factory.out_void()) != S_OK)
                    return;
                if (round == 0) seen[t] = factory.get();
                ComPtr<IFile> file;
                factory->CreateInstance(nullptr, IID_IFile, file.out_void());
                factory->AddRef();
                factory->Release();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(seen[t] && seen[t] == seen[0]) << t;
    EXPECT_TRUE(CanUnload());
}

}  // namespace
}  // namespace quarrow2::test

// The class objects the library serves: only File's, one for the whole process.
#include <thread>
#include <vector>

#include "server/library_state.h"
#include "server_fixture.h"

namespace quarrow2::test {
namespace {

void* const kStale = reinterpret_cast<void*>(static_cast<uintptr_t>(0x10));

using ClassObjectTest = ServerTest;

TEST_F(ClassObjectTest, OnlyFileHasOneCachedClassObject) {
    for (const CLSID* clsid :
         {&CLSID_MetaData, &CLSID_Strings, &IID_IFile, &LIBID_Quarrow2, &IID_NULL}) {
        for (const IID* iid : {&IID_IUnknown, &IID_IClassFactory}) {
            void* out = kStale;
            EXPECT_EQ(DllGetClassObject(*clsid, *iid, &out), CLASS_E_CLASSNOTAVAILABLE);
            EXPECT_EQ(out, nullptr);
        }
    }
    EXPECT_EQ(DllGetClassObject(CLSID_File, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(DllGetClassObject(CLSID_MetaData, IID_IClassFactory, nullptr), E_POINTER);

    ComPtr<IUnknown> first;
    ASSERT_EQ(DllGetClassObject(CLSID_File, IID_IUnknown, first.out_void()), S_OK);
    IUnknown* raw = first.get();
    first.reset();
    // Another interface is refused, and the object stays cached all the same.
    for (const IID* iid : {&IID_IDispatch, &IID_IFile, &IID_ISupportErrorInfo, &IID_IEnumVARIANT}) {
        void* out = kStale;
        EXPECT_EQ(DllGetClassObject(CLSID_File, *iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    ComPtr<IClassFactory> factory = GetFileClassObject();
    ASSERT_TRUE(factory);
    ComPtr<IUnknown> identity;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, identity.out_void()), S_OK);
    EXPECT_EQ(identity.get(), raw);
    EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
    void* out = kStale;
    EXPECT_EQ(factory->QueryInterface(IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

TEST_F(ClassObjectTest, CreateInstanceHandsOutANewFileOrNothing) {
    ComPtr<IClassFactory> factory = GetFileClassObject();
    ASSERT_TRUE(factory);
    // Any non-null outer object is a request to aggregate, whatever the interface asked.
    IUnknown* outer = factory.get();
    for (const IID* iid : {&IID_IUnknown, &IID_IFile, &IID_IDispatch}) {
        void* out = kStale;
        EXPECT_EQ(factory->CreateInstance(outer, *iid, &out), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IFile, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, nullptr), E_POINTER);
    for (const IID* iid : {&IID_IClassFactory, &IID_IStrings, &IID_IMetaData, &IID_IEnumVARIANT}) {
        void* out = kStale;
        EXPECT_EQ(factory->CreateInstance(nullptr, *iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    ComPtr<IUnknown> a, b;
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
    factory.reset();
    EXPECT_FALSE(CanUnload()) << "the IDispatch reference keeps one File alive";
    dispatch.reset();
    EXPECT_TRUE(CanUnload());
}

// From a stopped library, threads that race for the first class object start the library
// state once and all get one object; every hold and every File they make is counted off.
TEST_F(ClassObjectTest, ConcurrentRequestsShareOneObject) {
    server::StopLibrary();
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
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_NE(seen[t], nullptr);
        EXPECT_EQ(seen[t], seen[0]);
    }
    EXPECT_TRUE(CanUnload());
}

}  // namespace
}  // namespace quarrow2::test

// The server's objects as a client meets them: the one class object (File's), what each object
// answers to, late binding without a type library, and when the library may be unloaded.
#include <thread>
#include <vector>

#include "items/metadata.h"
#include "server/library_state.h"
#include "server_fixture.h"

namespace quarrow2::test {
namespace {

// Answered views lead back to one identity; only `richErrors` (if any) leaves rich errors.
void ExpectInterfaces(IUnknown* object, std::initializer_list<const IID*> answered,
                      std::initializer_list<const IID*> refused, const IID* richErrors) {
    ComPtr<IUnknown> identity;
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, identity.out_void()), S_OK);
    for (const IID* iid : answered) {
        ComPtr<IUnknown> view, back;
        ASSERT_EQ(object->QueryInterface(*iid, view.out_void()), S_OK);
        ASSERT_EQ(view->QueryInterface(IID_IUnknown, back.out_void()), S_OK);
        EXPECT_EQ(back.get(), identity.get());
    }
    for (const IID* iid : refused) EXPECT_EQ(Query(object, *iid), E_NOINTERFACE);
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    if (!richErrors) return;
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, support.out_void()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(*richErrors), S_OK);
    for (const IID* iid :
         {&IID_IUnknown, &IID_IDispatch, &IID_IFile, &IID_IMetaData, &IID_IStrings})
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(*iid), iid == richErrors ? S_OK : S_FALSE);
}

// What a client meets: a bound File, its Types collection, an enumerator of it and an item.
struct Objects {
    TempDir dir;
    ComPtr<IFile> file = CreateBoundFile(dir);
    ComPtr<IStrings> types;
    ComPtr<IUnknown> enumeration;
    ComPtr<IMetaData> item;
    Objects() {
        EXPECT_TRUE(file && file->get_Types(types.out()) == S_OK &&
                    types->get__NewEnum(enumeration.out()) == S_OK);
        ComPtr<MetaData> made = New<MetaData>();
        EXPECT_TRUE(made && made->QueryInterface(IID_IMetaData, item.out_void()) == S_OK);
    }
};

using InterfaceTableTest = ServerTest;
using ClassObjectTest = ServerTest;

TEST_F(InterfaceTableTest, EachObjectAnswersItsOwnInterfaces) {
    Objects o;
    ASSERT_TRUE(o.file && o.types && o.enumeration && o.item);
    ExpectInterfaces(o.file.get(), {&IID_IFile, &IID_IDispatch, &IID_ISupportErrorInfo},
                     {&IID_IMetaData, &IID_IStrings, &IID_IClassFactory, &IID_IEnumVARIANT},
                     &IID_IFile);
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(o.file->QueryInterface(IID_IDispatch, dispatch.out_void()), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(o.file.get()))
        << "IDispatch is the IFile interface itself";
    ExpectInterfaces(o.types.get(), {&IID_IStrings, &IID_IDispatch},
                     {&IID_ISupportErrorInfo, &IID_IFile, &IID_IEnumVARIANT, &IID_IClassFactory},
                     nullptr);
    ExpectInterfaces(o.enumeration.get(), {&IID_IEnumVARIANT},
                     {&IID_IDispatch, &IID_IStrings, &IID_ISupportErrorInfo}, nullptr);
    ExpectInterfaces(o.item.get(), {&IID_IMetaData, &IID_IDispatch, &IID_ISupportErrorInfo},
                     {&IID_IFile, &IID_IStrings, &IID_IEnumVARIANT}, &IID_IMetaData);

    // What a File made outlives it, and keeps the library loaded until it is released.
    ComPtr<IMetaData> added;
    ComPtr<IEnumVARIANT> walker;
    VARIANT_BOOL supported = VARIANT_FALSE;
    ASSERT_EQ(o.file->get_Supported(&supported), S_OK);
    EXPECT_TRUE(!supported || o.file->Add(Bstr("Author").get(), added.out()) == S_OK);
    o.file.reset();
    o.item.reset();
    o.enumeration.reset();
    dispatch.reset();
    EXPECT_TRUE(!added || added->put_Text(Bstr("Jane").get()) == S_OK);
    added.reset();
    EXPECT_FALSE(CanUnload()) << "a Strings collection is alive";
    ASSERT_EQ(o.types->get__NewEnum(o.enumeration.out()), S_OK);
    o.types.reset();
    EXPECT_FALSE(CanUnload()) << "an enumerator is alive and holds its collection";
    ASSERT_EQ(o.enumeration->QueryInterface(IID_IEnumVARIANT, walker.out_void()), S_OK);
    o.enumeration.reset();
    UniqueVariant v;
    ULONG fetched = 7;
    EXPECT_EQ(walker->Next(1, v.get(), &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    walker.reset();
    EXPECT_TRUE(CanUnload());
}

// Unregistered, late binding fails with the platform's code each time; dual interfaces work.
TEST_F(InterfaceTableTest, LateBindingFailsWithoutARegisteredTypeLibrary) {
    ComPtr<ITypeLib> registered;
    HRESULT platform = LoadRegTypeLib(LIBID_Quarrow2, 1, 0, 0, registered.out());
    if (SUCCEEDED(platform)) GTEST_SKIP() << "the type library is registered on this system";
    Objects o;
    ASSERT_TRUE(o.file && o.types && o.item);
    for (IDispatch* object :
         {static_cast<IDispatch*>(o.file.get()), static_cast<IDispatch*>(o.types.get()),
          static_cast<IDispatch*>(o.item.get())}) {
        UINT count = 0;
        EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(object->GetTypeInfo(0, 0, nullptr), E_POINTER);
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(Handed([&](void** out) {
                          return object->GetTypeInfo(0, 0, reinterpret_cast<ITypeInfo**>(out));
                      }),
                      platform);
            UniqueBstr name = Bstr("Count");
            LPOLESTR names[] = {name.get()};
            DISPID id = 1234;
            EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), platform);
            DISPPARAMS none = {nullptr, nullptr, 0, 0};
            UniqueVariant result;
            EXPECT_EQ(object->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.get(),
                                     nullptr, nullptr),
                      platform);
            EXPECT_EQ(result->vt, VT_EMPTY);
        }
    }
    VARIANT_BOOL supported = 1;
    LONG count = -1;
    EXPECT_EQ(o.file->get_Supported(&supported), S_OK);
    EXPECT_EQ(o.types->get_Count(&count), S_OK);
    EXPECT_EQ(count, 0);
}

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

// The server's objects as a client meets them: the one class object (File's), what each object
// answers to, late binding without a type library, and when the library may be unloaded.
#include <algorithm>
#include <thread>

#include "items/metadata.h"
#include "server/library_state.h"
#include "server_fixture.h"

namespace quarrow2::test {
using items::MetaData;
namespace {

using Results = std::vector<HRESULT>;

// Answered views lead back to one identity; only `richErrors` (if any) leave rich errors.
void ExpectInterfaces(IUnknown* object, std::initializer_list<const IID*> answered,
                      std::initializer_list<const IID*> refused,
                      std::initializer_list<const IID*> richErrors) {
    ComPtr<IUnknown> identity;
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, identity.out_void()), S_OK);
    for (const IID* iid : answered) {
        ComPtr<IUnknown> view, back;
        ASSERT_EQ(object->QueryInterface(*iid, view.out_void()), S_OK);
        ASSERT_EQ(view->QueryInterface(IID_IUnknown, back.out_void()), S_OK);
        EXPECT_EQ(back.get(), identity.get());
    }
    for (const IID* iid : refused)
        EXPECT_EQ(Handed([&](void** out) { return object->QueryInterface(*iid, out); }),
                  E_NOINTERFACE);
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    if (richErrors.size() == 0) return;
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, support.out_void()), S_OK);
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_IFile, &IID_IFile2, &IID_IFile3,
                           &IID_IMetaData, &IID_IStrings})
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(*iid),
                  std::count(richErrors.begin(), richErrors.end(), iid) ? S_OK : S_FALSE);
}

struct Objects {
    TempDir dir;
    ComPtr<IFile> file;
    ComPtr<IStrings> types;
    ComPtr<IUnknown> enumeration;
    ComPtr<IMetaData> item;
    Objects() {
        MakeFile(dir / "bound.txt", "x");
        VARIANT_BOOL supported = VARIANT_FALSE;
        EXPECT_TRUE(
            GetFileClassObject()->CreateInstance(nullptr, IID_IFile, file.out_void()) == S_OK &&
            file->SetFile(Bstr(Narrow(PathW(dir / "bound.txt"))).get(), &supported) == S_OK &&
            file->get_Types(types.out()) == S_OK && types->get__NewEnum(enumeration.out()) == S_OK);
        ComPtr<MetaData> made = platform::New<MetaData>();
        EXPECT_TRUE(made && made->QueryInterface(IID_IMetaData, item.out_void()) == S_OK);
    }
};

using InterfaceTableTest = ServerTest;
using ClassObjectTest = ServerTest;

TEST_F(InterfaceTableTest, EachObjectAnswersItsOwnInterfacesAndUnregisteredLateBindingFails) {
    Objects o;
    ASSERT_TRUE(o.file && o.types && o.enumeration && o.item);
    // IFile3 extends IFile2, which extends IFile: one object, answering all three, with rich
    // errors for each.
    ExpectInterfaces(o.file.get(),
                     {&IID_IFile, &IID_IFile2, &IID_IFile3, &IID_IDispatch, &IID_ISupportErrorInfo},
                     {&IID_IMetaData, &IID_IStrings, &IID_IClassFactory, &IID_IEnumVARIANT},
                     {&IID_IFile, &IID_IFile2, &IID_IFile3});
    ExpectInterfaces(o.types.get(), {&IID_IStrings, &IID_IDispatch},
                     {&IID_ISupportErrorInfo, &IID_IFile, &IID_IFile2, &IID_IFile3,
                      &IID_IEnumVARIANT, &IID_IClassFactory},
                     {});
    ExpectInterfaces(o.enumeration.get(), {&IID_IEnumVARIANT},
                     {&IID_IDispatch, &IID_IStrings, &IID_ISupportErrorInfo}, {});
    ExpectInterfaces(o.item.get(), {&IID_IMetaData, &IID_IDispatch, &IID_ISupportErrorInfo},
                     {&IID_IFile, &IID_IFile2, &IID_IFile3, &IID_IStrings, &IID_IEnumVARIANT},
                     {&IID_IMetaData});

    // Unregistered, late binding fails with the platform's code each time.
    const HRESULT platform = RegisteredTypeLibrary();
    if (SUCCEEDED(platform)) return;  // the type library is registered on this system
    IDispatch* const objects[] = {o.file.get(), o.types.get(), o.item.get()};
    for (IDispatch* object : objects) {
        UINT count = 0;
        UniqueBstr name = Bstr("Count");
        LPOLESTR names[] = {name.get()};
        DISPID id = 1234;
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        UniqueVariant result;
        EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(object->GetTypeInfo(0, 0, nullptr), E_POINTER);
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(Handed([&](void** out) {
                          return object->GetTypeInfo(0, 0, reinterpret_cast<ITypeInfo**>(out));
                      }),
                      platform);
            EXPECT_EQ(Results({object->GetIDsOfNames(IID_NULL, names, 1, 0, &id),
                               object->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                                              result.get(), nullptr, nullptr)}),
                      Results(2, platform));
            EXPECT_EQ(result->vt, VT_EMPTY);
        }
    }
}

HRESULT GetClassObject(REFCLSID clsid, REFIID iid) {
    return Handed([&](void** out) { return DllGetClassObject(clsid, iid, out); });
}

// Only File has a class object; it refuses aggregation, stays cached when released, counts
// once, and keeps the library loaded until every LockServer(TRUE) is balanced.
TEST_F(ClassObjectTest, OnlyFileHasOneCachedClassObjectThatMakesNewFiles) {
    for (const CLSID* clsid :
         {&CLSID_MetaData, &CLSID_Strings, &IID_IFile, &LIBID_Quarrow2, &IID_NULL})
        for (const IID* iid : {&IID_IUnknown, &IID_IClassFactory})
            EXPECT_EQ(GetClassObject(*clsid, *iid), CLASS_E_CLASSNOTAVAILABLE);
    for (const IID* iid : {&IID_IDispatch, &IID_IFile, &IID_ISupportErrorInfo, &IID_IEnumVARIANT})
        EXPECT_EQ(GetClassObject(CLSID_File, *iid), E_NOINTERFACE);
    EXPECT_EQ(DllGetClassObject(CLSID_MetaData, IID_IClassFactory, nullptr), E_POINTER);
    ComPtr<IUnknown> first, a, b;
    ASSERT_EQ(DllGetClassObject(CLSID_File, IID_IUnknown, first.out_void()), S_OK);
    IUnknown* raw = first.get();
    first.reset();
    ComPtr<IClassFactory> factory = GetFileClassObject();
    ASSERT_TRUE(factory);
    EXPECT_EQ(static_cast<IUnknown*>(factory.get()), raw);
    auto create = [&](IUnknown* outer, const IID* iid) {
        return Handed([&](void** out) { return factory->CreateInstance(outer, *iid, out); });
    };
    // Any non-null outer object is a request to aggregate, whatever the interface asked.
    for (const IID* iid : {&IID_IUnknown, &IID_IFile, &IID_IDispatch})
        EXPECT_EQ(create(factory.get(), iid), CLASS_E_NOAGGREGATION);
    for (const IID* iid : {&IID_IClassFactory, &IID_IStrings, &IID_IMetaData, &IID_IEnumVARIANT})
        EXPECT_EQ(create(nullptr, iid), E_NOINTERFACE);
    EXPECT_EQ(factory->CreateInstance(factory.get(), IID_IUnknown, nullptr), E_POINTER);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, a.out_void()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, b.out_void()), S_OK);
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(store::ModuleLockCount(), 3) << "two Files and the class object";
    a.reset();
    b.reset();
    EXPECT_EQ(Results({factory->LockServer(TRUE), factory->LockServer(TRUE)}), Results(2, S_OK));
    factory.reset();
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
    EXPECT_EQ(Handed([&](void** out) { return held->CreateInstance(nullptr, IID_IFile, out); }),
              S_OK);
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
    for (int t = 0; t < kThreads; ++t)
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
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(seen[t] && seen[t] == seen[0]) << t;
    EXPECT_TRUE(CanUnload());
}

}  // namespace
}  // namespace quarrow2::test

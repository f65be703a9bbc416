// What each object answers to: interfaces, rich errors, late binding without a type library.
#include "items/metadata.h"
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

}  // namespace
}  // namespace quarrow2::test

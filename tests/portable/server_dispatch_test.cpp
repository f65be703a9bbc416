// What each object answers to: QueryInterface tables, rich-error support and late binding
// without a registered type library.
#include "items/metadata.h"
#include "server_fixture.h"

namespace quarrow2::test {
namespace {

void* const kStale = reinterpret_cast<void*>(static_cast<uintptr_t>(0x10));

// The interfaces an object answers, each checked against the identity of IUnknown.
void ExpectInterfaces(IUnknown* object, std::initializer_list<const IID*> answered,
                      std::initializer_list<const IID*> refused) {
    ComPtr<IUnknown> identity;
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, identity.out_void()), S_OK);
    for (const IID* iid : answered) {
        ComPtr<IUnknown> view;
        ASSERT_EQ(object->QueryInterface(*iid, view.out_void()), S_OK);
        ComPtr<IUnknown> back;
        ASSERT_EQ(view->QueryInterface(IID_IUnknown, back.out_void()), S_OK);
        EXPECT_EQ(back.get(), identity.get()) << "every view leads back to one identity";
    }
    for (const IID* iid : refused) {
        void* out = kStale;
        EXPECT_EQ(object->QueryInterface(*iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

ComPtr<IMetaData> NewUnattachedItem() {
    ComPtr<MetaData> made = New<MetaData>();
    ComPtr<IMetaData> item;
    EXPECT_TRUE(made);
    if (made) {
        EXPECT_EQ(made->QueryInterface(IID_IMetaData, item.out_void()), S_OK);
    }
    return item;
}

using InterfaceTableTest = ServerTest;

TEST_F(InterfaceTableTest, EachObjectAnswersItsOwnInterfaces) {
    TempDir dir;
    ComPtr<IFile> file = CreateBoundFile(dir);
    ASSERT_TRUE(file);
    ExpectInterfaces(file.get(), {&IID_IFile, &IID_IDispatch, &IID_ISupportErrorInfo},
                     {&IID_IMetaData, &IID_IStrings, &IID_IClassFactory, &IID_IEnumVARIANT});
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(file->QueryInterface(IID_IDispatch, dispatch.out_void()), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(file.get()))
        << "IDispatch is the IFile interface itself";

    ComPtr<IStrings> types;
    ASSERT_EQ(file->get_Types(types.out()), S_OK);
    ExpectInterfaces(types.get(), {&IID_IStrings, &IID_IDispatch},
                     {&IID_ISupportErrorInfo, &IID_IFile, &IID_IEnumVARIANT, &IID_IClassFactory});

    ComPtr<IUnknown> enumeration;
    ASSERT_EQ(types->get__NewEnum(enumeration.out()), S_OK);
    ExpectInterfaces(enumeration.get(), {&IID_IEnumVARIANT},
                     {&IID_IDispatch, &IID_IStrings, &IID_ISupportErrorInfo});

    ComPtr<IMetaData> item = NewUnattachedItem();
    ASSERT_TRUE(item);
    ExpectInterfaces(item.get(), {&IID_IMetaData, &IID_IDispatch, &IID_ISupportErrorInfo},
                     {&IID_IFile, &IID_IStrings, &IID_IEnumVARIANT});
}

TEST_F(InterfaceTableTest, RichErrorsAreDeclaredForTheOwnInterfaceOnly) {
    ComPtr<IFile> file = CreateClientFile();
    ASSERT_TRUE(file);
    ComPtr<ISupportErrorInfo> fileSupport;
    ASSERT_EQ(file->QueryInterface(IID_ISupportErrorInfo, fileSupport.out_void()), S_OK);
    EXPECT_EQ(fileSupport->InterfaceSupportsErrorInfo(IID_IFile), S_OK);
    for (const IID* iid : {&IID_IDispatch, &IID_IUnknown, &IID_IMetaData, &IID_IStrings})
        EXPECT_EQ(fileSupport->InterfaceSupportsErrorInfo(*iid), S_FALSE);

    ComPtr<IMetaData> item = NewUnattachedItem();
    ASSERT_TRUE(item);
    ComPtr<ISupportErrorInfo> itemSupport;
    ASSERT_EQ(item->QueryInterface(IID_ISupportErrorInfo, itemSupport.out_void()), S_OK);
    EXPECT_EQ(itemSupport->InterfaceSupportsErrorInfo(IID_IMetaData), S_OK);
    for (const IID* iid : {&IID_IFile, &IID_IDispatch, &IID_IStrings})
        EXPECT_EQ(itemSupport->InterfaceSupportsErrorInfo(*iid), S_FALSE);
}

// Without a registered type library every late-bound member fails with the platform's
// code, each time anew, while the same objects work through their dual interfaces.
TEST_F(InterfaceTableTest, LateBindingFailsWithoutARegisteredTypeLibrary) {
    ComPtr<ITypeLib> registered;
    HRESULT platform = LoadRegTypeLib(LIBID_Quarrow2, 1, 0, 0, registered.out());
    if (SUCCEEDED(platform)) GTEST_SKIP() << "the type library is registered on this system";

    TempDir dir;
    ComPtr<IFile> file = CreateBoundFile(dir);
    ASSERT_TRUE(file);
    ComPtr<IStrings> types;
    ASSERT_EQ(file->get_Types(types.out()), S_OK);
    ComPtr<IMetaData> item = NewUnattachedItem();
    ASSERT_TRUE(item);

    IDispatch* objects[] = {file.get(), types.get(), item.get()};
    for (IDispatch* object : objects) {
        UINT count = 0;
        EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(object->GetTypeInfo(0, 0, nullptr), E_POINTER);
        for (int attempt = 0; attempt < 2; ++attempt) {
            ITypeInfo* info = reinterpret_cast<ITypeInfo*>(kStale);
            EXPECT_EQ(object->GetTypeInfo(0, 0, &info), platform);
            EXPECT_EQ(info, nullptr);
            OLECHAR name[] = OLESTR("Count");
            LPOLESTR names[] = {name};
            DISPID id = 1234;
            EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), platform);
            DISPPARAMS none = {nullptr, nullptr, 0, 0};
            VARIANT result;
            VariantInit(&result);
            EXPECT_EQ(object->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                                     nullptr),
                      platform);
            EXPECT_EQ(V_VT(&result), VT_EMPTY);
        }
    }
    VARIANT_BOOL supported = 1;
    EXPECT_EQ(file->get_Supported(&supported), S_OK);
    LONG count = -1;
    EXPECT_EQ(types->get_Count(&count), S_OK);
    EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace quarrow2::test

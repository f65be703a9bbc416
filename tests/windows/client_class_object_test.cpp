// Quarrow2.dll as component clients reach it: through the registry (CoCreateInstance by
// ProgID and by class identifier) and through its exports directly.
#include "client_support.h"

namespace quarrow2::client {
namespace {

void* const kStale = reinterpret_cast<void*>(static_cast<uintptr_t>(0x10));

class RegisteredClientTest : public ClientTest {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(Library::Get().Register(), S_OK); }
};

TEST_F(RegisteredClientTest, OnlyFileCanBeCreated) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"Quarrow2.File", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_File));
    ASSERT_EQ(CLSIDFromProgID(L"Quarrow2.File.1", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_File));

    ComPtr<IFile> byProgId;
    ASSERT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IFile, byProgId.out_void()),
        S_OK);
    ComPtr<IDispatch> byClsid;
    ASSERT_EQ(CoCreateInstance(CLSID_File, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               byClsid.out_void()),
              S_OK);
    EXPECT_NE(static_cast<void*>(byProgId.get()), static_cast<void*>(byClsid.get()));

    // MetaData and Strings are registered, and their server is this DLL, but it serves no
    // class object for them.
    for (const wchar_t* progId : {L"Quarrow2.MetaData", L"Quarrow2.Strings.1"}) {
        ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK) << progId;
        void* out = kStale;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out),
                  CLASS_E_CLASSNOTAVAILABLE)
            << progId;
        EXPECT_EQ(out, nullptr);
    }

    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_MetaData, &progId), S_OK);
    EXPECT_STREQ(progId, L"Quarrow2.MetaData.1");
    CoTaskMemFree(progId);
}

TEST_F(RegisteredClientTest, TheRichErrorNamesTheRegisteredProgId) {
    ComPtr<IFile> file;
    ASSERT_EQ(
        CoCreateInstance(CLSID_File, nullptr, CLSCTX_INPROC_SERVER, IID_IFile, file.out_void()),
        S_OK);
    UniqueBstr type = MakeBstr(L"Author");
    ComPtr<IMetaData> item;
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(file->Open(type.get(), item.out()), E_FAIL);
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(file->QueryInterface(IID_ISupportErrorInfo, support.out_void()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IFile), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    RichError error = TakeRichError();
    ASSERT_TRUE(error.present);
    EXPECT_EQ(Text(error.description.get()), L"No file path assigned.");
    EXPECT_EQ(Text(error.source.get()), L"Quarrow2.File.1");
    EXPECT_TRUE(IsEqualGUID(error.guid, IID_IFile));
}

using DirectClientTest = ClientTest;

TEST_F(DirectClientTest, ClassObjectRules) {
    const Library& dll = Library::Get();
    for (const CLSID* clsid : {&CLSID_MetaData, &CLSID_Strings}) {
        void* out = kStale;
        EXPECT_EQ(dll.GetClassObject(*clsid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(dll.GetClassObject(CLSID_File, IID_IClassFactory, nullptr), E_POINTER);

    ComPtr<IUnknown> first, second;
    ASSERT_EQ(dll.GetClassObject(CLSID_File, IID_IUnknown, first.out_void()), S_OK);
    void* out = kStale;
    EXPECT_EQ(dll.GetClassObject(CLSID_File, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(dll.GetClassObject(CLSID_File, IID_IUnknown, second.out_void()), S_OK);
    EXPECT_EQ(first.get(), second.get());

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(first->QueryInterface(IID_IClassFactory, factory.out_void()), S_OK);
    for (const IID* iid : {&IID_IUnknown, &IID_IFile}) {
        out = kStale;
        EXPECT_EQ(factory->CreateInstance(first.get(), *iid, &out), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IFile, nullptr), E_POINTER);
    out = kStale;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IStrings, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

TEST_F(DirectClientTest, WhenTheLibraryMayBeUnloaded) {
    const Library& dll = Library::Get();
    EXPECT_EQ(dll.CanUnloadNow(), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(dll.GetClassObject(CLSID_File, IID_IClassFactory, factory.out_void()), S_OK);
    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    ComPtr<IFile> file;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IFile, file.out_void()), S_OK);
    factory.reset();
    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE);

    // A Strings collection outlives the File that made it.
    ComPtr<IStrings> types = TypesOfTempFolder(file.get());
    ASSERT_TRUE(types);
    file.reset();
    ASSERT_EQ(dll.GetClassObject(CLSID_File, IID_IClassFactory, factory.out_void()), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE) << "the collection is alive";
    types.reset();
    EXPECT_EQ(dll.CanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace quarrow2::client

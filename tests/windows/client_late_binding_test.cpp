// Quarrow2.dll registered, as component clients reach it: by ProgID and class identifier,
// through its exports, and late bound through the registered type library as scripts call.
#include "client_support.h"

namespace quarrow2::test {
namespace {

class RegisteredTest : public ClientTest {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(Call("DllRegisterServer"), S_OK); }
};

HRESULT Invoke(IDispatch* object, DISPID id, WORD flags, const wchar_t* text, VARIANT* result,
               EXCEPINFO* exception = nullptr) {
    UniqueVariant arg;
    DISPPARAMS params = {arg.get(), nullptr, text ? 1u : 0u, 0};
    if (text) {
        V_VT(arg.get()) = VT_BSTR;
        V_BSTR(arg.get()) = SysAllocString(text);
    }
    UINT argErr = 0;
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, exception,
                          &argErr);
}

// MetaData and Strings are registered, with this DLL as their server, but it serves no class
// object for them.
TEST_F(RegisteredTest, OnlyFileCanBeCreatedAndItsFailuresNameItsProgId) {
    const std::pair<const wchar_t*, const CLSID*> progIds[] = {
        {L"Quarrow2.File", &CLSID_File},
        {L"Quarrow2.File.1", &CLSID_File},
        {L"Quarrow2.MetaData", &CLSID_MetaData},
        {L"Quarrow2.Strings.1", &CLSID_Strings}};
    for (const auto& [progId, expected] : progIds) {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK) << progId;
        EXPECT_TRUE(IsEqualCLSID(clsid, *expected)) << progId;
        ComPtr<IUnknown> made;
        EXPECT_EQ(
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, made.out_void()),
            expected == &CLSID_File ? S_OK : CLASS_E_CLASSNOTAVAILABLE)
            << progId;
    }
    EXPECT_EQ(ProgIdOf(CLSID_MetaData), "Quarrow2.MetaData.1");
    ComPtr<IFile> file;
    ASSERT_EQ(
        CoCreateInstance(CLSID_File, nullptr, CLSCTX_INPROC_SERVER, IID_IFile, file.out_void()),
        S_OK);
    // Besides the text, the source must be the ProgID the registry gives.
    ExpectFileFailure(Open(file.get(), "Author"), "No file path assigned.");
}

TEST_F(RegisteredTest, TheExportsCountWhatKeepsTheLibraryLoaded) {
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(GetClassObject(CLSID_File, IID_IClassFactory, factory.out_void()), S_OK);
    EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE);
    ComPtr<IFile> file;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IFile, file.out_void()), S_OK);
    factory.reset();
    Bind(file.get(), TempFolder());
    // A Strings collection outlives the File that made it.
    ComPtr<IStrings> types;
    ASSERT_EQ(file->get_Types(types.out()), S_OK);
    file.reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE);
    types.reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
}

TEST_F(RegisteredTest, NamesResolveWithoutRegardToCase) {
    ComPtr<IFile> file = NewFileDirect();
    ASSERT_TRUE(file);
    Bind(file.get(), TempFolder());
    ComPtr<IStrings> types;
    ASSERT_EQ(file->get_Types(types.out()), S_OK);
    const struct {
        IDispatch* object;
        const wchar_t* name;
        DISPID id;
    } names[] = {{file.get(), L"SETFILE", 1},
                 {file.get(), L"setfile", 1},
                 {file.get(), L"SetFile", 1},
                 {file.get(), L"Types", 8},
                 {types.get(), L"Item", DISPID_VALUE},
                 {types.get(), L"_NewEnum", DISPID_NEWENUM},
                 {types.get(), L"count", 1}};
    for (const auto& [object, name, id] : names) {
        std::wstring copy = name;
        LPOLESTR list[] = {&copy[0]};
        DISPID got = 12345;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, list, 1, LOCALE_USER_DEFAULT, &got), S_OK);
        EXPECT_EQ(got, id) << Narrow(copy);
    }
    // A name the interface lacks fails with the platform's code; earlier names keep theirs.
    std::wstring count = L"Count", missing = L"NoSuchMember";
    LPOLESTR list[] = {&count[0], &missing[0]};
    DISPID ids[2] = {99, 99};
    EXPECT_EQ(types->GetIDsOfNames(IID_NULL, list, 2, LOCALE_USER_DEFAULT, ids),
              DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 1);

    // Whatever the index asked, the one type information there is.
    ComPtr<ITypeInfo> zero, three;
    ASSERT_EQ(file->GetTypeInfo(0, LOCALE_USER_DEFAULT, zero.out()), S_OK);
    ASSERT_EQ(file->GetTypeInfo(3, LOCALE_USER_DEFAULT, three.out()), S_OK);
    EXPECT_EQ(zero.get(), three.get());
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(zero->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IFile));
    zero->ReleaseTypeAttr(attr);
}

TEST_F(RegisteredTest, CallsThroughInvoke) {
    ComPtr<IFile> file = NewFileDirect();
    ASSERT_TRUE(file);
    UniqueVariant result;
    ASSERT_EQ(Invoke(file.get(), 1, DISPATCH_METHOD, TempFolder().c_str(), result.out()), S_OK);
    // Wine reports no named streams on its volumes.
    EXPECT_EQ(std::make_pair(result->vt, V_BOOL(result.get())),
              std::make_pair(VARTYPE{VT_BOOL}, VARIANT_BOOL{VARIANT_FALSE}));

    // A failing member reaches a late-bound client as an exception with the rich error.
    EXCEPINFO exception{};
    EXPECT_EQ(Invoke(file.get(), 4, DISPATCH_METHOD, L"Author", result.out(), &exception),
              DISP_E_EXCEPTION);
    const UniqueBstr description(exception.bstrDescription), source(exception.bstrSource),
        helpFile(exception.bstrHelpFile);
    EXPECT_EQ(Narrow(description.get()), "Volume does not support streams.");
    EXPECT_EQ(Narrow(source.get()), "Quarrow2.File.1");
    EXPECT_EQ(exception.scode, E_FAIL);

    ASSERT_EQ(Invoke(file.get(), 8, DISPATCH_PROPERTYGET, nullptr, result.out()), S_OK);
    ASSERT_EQ(result->vt, VT_DISPATCH);
    ComPtr<IDispatch> types = ComPtr<IDispatch>::share(V_DISPATCH(result.get()));
    EXPECT_EQ(Invoke(types.get(), 1, DISPATCH_PROPERTYGET, nullptr, result.out()), S_OK);
    EXPECT_EQ(std::make_pair(result->vt, V_I4(result.get())), std::make_pair(VARTYPE{VT_I4}, 0L));
    EXPECT_EQ(Invoke(types.get(), DISPID_NEWENUM, DISPATCH_PROPERTYGET, nullptr, result.out()),
              S_OK);
    EXPECT_EQ(result->vt, VT_UNKNOWN);
    EXPECT_EQ(Invoke(file.get(), 99, DISPATCH_METHOD, nullptr, result.out()),
              DISP_E_MEMBERNOTFOUND);
}

}  // namespace
}  // namespace quarrow2::test

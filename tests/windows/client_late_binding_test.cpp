// Late binding through the registered type library, as scripts and other automation
// clients call the objects.
#include "client_support.h"

namespace quarrow2::client {
namespace {

class LateBindingTest : public ClientTest {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(Library::Get().Register(), S_OK); }
};

DISPID IdOf(IDispatch* object, const wchar_t* name) {
    std::wstring copy = name;
    LPOLESTR names[] = {&copy[0]};
    DISPID id = 12345;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    EXPECT_EQ(hr, S_OK) << "name " << copy.c_str();
    return id;
}

TEST_F(LateBindingTest, NamesResolveWithoutRegardToCase) {
    ComPtr<IFile> file = NewFileDirect();
    ASSERT_TRUE(file);
    EXPECT_EQ(IdOf(file.get(), L"SETFILE"), 1);
    EXPECT_EQ(IdOf(file.get(), L"setfile"), 1);
    EXPECT_EQ(IdOf(file.get(), L"SetFile"), 1);
    EXPECT_EQ(IdOf(file.get(), L"Types"), 8);

    ComPtr<IStrings> types = TypesOfTempFolder(file.get());
    ASSERT_TRUE(types);
    EXPECT_EQ(IdOf(types.get(), L"Item"), DISPID_VALUE);
    EXPECT_EQ(IdOf(types.get(), L"_NewEnum"), DISPID_NEWENUM);
    EXPECT_EQ(IdOf(types.get(), L"count"), 1);

    // A name the interface lacks fails with the platform's code; earlier names keep theirs.
    std::wstring count = L"Count", missing = L"NoSuchMember";
    LPOLESTR names[] = {&count[0], &missing[0]};
    DISPID ids[2] = {99, 99};
    EXPECT_EQ(types->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids),
              DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 1);
}

TEST_F(LateBindingTest, BothTextMembersShareTheirDispid) {
    // An item needs a volume with named streams to be opened; its dispatch interface can
    // be reached through the type information alone.
    ComPtr<IFile> file = NewFileDirect();
    ASSERT_TRUE(file);
    ComPtr<ITypeInfo> fileInfo;
    ASSERT_EQ(file->GetTypeInfo(0, LOCALE_USER_DEFAULT, fileInfo.out()), S_OK);
    ComPtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(fileInfo->GetContainingTypeLib(library.out(), &index), S_OK);
    ComPtr<ITypeInfo> itemInfo;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IMetaData, itemInfo.out()), S_OK);
    std::wstring text = L"TEXT";
    LPOLESTR names[] = {&text[0]};
    MEMBERID id = 0;
    ASSERT_EQ(itemInfo->GetIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, 3);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(itemInfo->GetTypeAttr(&attr), S_OK);
    UINT functions = attr->cFuncs;
    itemInfo->ReleaseTypeAttr(attr);
    int kinds = 0;
    for (UINT i = 0; i < functions; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(itemInfo->GetFuncDesc(i, &f), S_OK);
        if (f->memid == 3) kinds |= f->invkind;
        itemInfo->ReleaseFuncDesc(f);
    }
    EXPECT_EQ(kinds, INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT);
}

TEST_F(LateBindingTest, TypeInformationIgnoresTheIndex) {
    ComPtr<IFile> file = NewFileDirect();
    ASSERT_TRUE(file);
    ComPtr<ITypeInfo> zero, three;
    ASSERT_EQ(file->GetTypeInfo(0, LOCALE_USER_DEFAULT, zero.out()), S_OK);
    ASSERT_EQ(file->GetTypeInfo(3, LOCALE_USER_DEFAULT, three.out()), S_OK);
    EXPECT_EQ(zero.get(), three.get());
    EXPECT_EQ(file->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(zero->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IFile));
    zero->ReleaseTypeAttr(attr);
    UINT count = 0;
    EXPECT_EQ(file->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
}

TEST_F(LateBindingTest, CallsThroughInvoke) {
    ComPtr<IFile> file = NewFileDirect();
    ASSERT_TRUE(file);
    wchar_t folder[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    UniqueVariant arg, result;
    V_VT(arg.get()) = VT_BSTR;
    V_BSTR(arg.get()) = SysAllocString(folder);
    ASSERT_EQ(Invoke(file.get(), 1, DISPATCH_METHOD, arg.get(), 1, result.out(), nullptr), S_OK);
    EXPECT_EQ(result->vt, VT_BOOL);
    // Wine reports no named streams on its volumes.
    EXPECT_EQ(V_BOOL(result.get()), VARIANT_FALSE);

    // A failing member reaches a late-bound client as an exception with the rich error.
    VariantClear(arg.get());
    V_VT(arg.get()) = VT_BSTR;
    V_BSTR(arg.get()) = SysAllocString(L"Author");
    EXCEPINFO exception{};
    EXPECT_EQ(Invoke(file.get(), 4, DISPATCH_METHOD, arg.get(), 1, result.out(), &exception),
              DISP_E_EXCEPTION);
    const UniqueBstr description(exception.bstrDescription), source(exception.bstrSource),
        helpFile(exception.bstrHelpFile);
    EXPECT_EQ(Text(description.get()), L"Volume does not support streams.");
    EXPECT_EQ(Text(source.get()), L"Quarrow2.File.1");
    EXPECT_EQ(exception.scode, E_FAIL);

    ASSERT_EQ(Invoke(file.get(), 8, DISPATCH_PROPERTYGET, nullptr, 0, result.out(), nullptr), S_OK);
    ASSERT_EQ(result->vt, VT_DISPATCH);
    ComPtr<IDispatch> types = ComPtr<IDispatch>::share(V_DISPATCH(result.get()));
    EXPECT_EQ(Invoke(types.get(), 1, DISPATCH_PROPERTYGET, nullptr, 0, result.out(), nullptr),
              S_OK);
    EXPECT_EQ(result->vt, VT_I4);
    EXPECT_EQ(V_I4(result.get()), 0);
    EXPECT_EQ(Invoke(types.get(), DISPID_NEWENUM, DISPATCH_PROPERTYGET, nullptr, 0, result.out(),
                     nullptr),
              S_OK);
    EXPECT_EQ(result->vt, VT_UNKNOWN);
    EXPECT_EQ(Invoke(file.get(), 99, DISPATCH_METHOD, nullptr, 0, result.out(), nullptr),
              DISP_E_MEMBERNOTFOUND);
}

}  // namespace
}  // namespace quarrow2::client

// Quarrow2.dll as an automation server: registered in the real registry and read back key
// by key, created through the registry, and late bound through the registered type library
// as scripts call it.
#include <map>

#include "client_support.h"

namespace quarrow2::test {
namespace {

// The DISPID of a name, or the failure code where there is none.
std::pair<HRESULT, DISPID> IdOf(IDispatch* object, std::wstring name) {
    LPOLESTR names[] = {&name[0]};
    DISPID id = 12345;
    const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return {hr, id};
}

// Every key and value below the roots under HKEY_CLASSES_ROOT: "key" maps to its default
// value (empty where it has none), "key@name" to a named one.
using Entries = std::map<std::wstring, std::wstring>;

void Dump(const std::wstring& path, Entries& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    out[path];
    std::vector<std::wstring> subkeys;
    wchar_t name[256], data[1024];
    for (DWORD i = 0, nameSize = 256, size = sizeof data;
         RegEnumValueW(key, i, name, &nameSize, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                       &size) == ERROR_SUCCESS;
         ++i, nameSize = 256, size = sizeof data)
        out[nameSize ? path + L"@" + name : path] = std::wstring(data, wcsnlen(data, size / 2));
    for (DWORD i = 0, nameSize = 256; RegEnumKeyExW(key, i, name, &nameSize, nullptr, nullptr,
                                                    nullptr, nullptr) == ERROR_SUCCESS;
         ++i, nameSize = 256)
        subkeys.emplace_back(name);
    RegCloseKey(key);
    for (const std::wstring& subkey : subkeys) Dump(path + L"\\" + subkey, out);
}

std::wstring Guid(REFGUID guid) {
    wchar_t text[40];
    return std::wstring(text, StringFromGUID2(guid, text, 40) - 1);
}

const std::pair<std::wstring, const CLSID*> kClasses[] = {
    {L"File", &CLSID_File}, {L"MetaData", &CLSID_MetaData}, {L"Strings", &CLSID_Strings}};
const std::wstring kFileKey = L"CLSID\\" + Guid(CLSID_File);

// What the three classes register, or with `withTypeLibrary` everything the DLL registers.
Entries Registered(bool withTypeLibrary = false) {
    Entries entries;
    for (const auto& [name, clsid] : kClasses) {
        for (const std::wstring& root :
             {L"Quarrow2." + name + L".1", L"Quarrow2." + name, L"CLSID\\" + Guid(*clsid)})
            Dump(root, entries);
    }
    if (withTypeLibrary) Dump(L"TypeLib\\" + Guid(LIBID_Quarrow2), entries);
    return entries;
}

Entries Expected() {
    Entries e;
    for (const auto& [name, clsid] : kClasses) {
        const std::wstring progId = L"Quarrow2." + name, key = L"CLSID\\" + Guid(*clsid);
        e[progId + L".1"] = e[progId] = e[key] = name + L" Class";
        e[progId + L".1\\CLSID"] = e[progId + L"\\CLSID"] = Guid(*clsid);
        e[progId + L"\\CurVer"] = e[key + L"\\ProgID"] = progId + L".1";
        e[key + L"\\VersionIndependentProgID"] = progId;
        e[key + L"\\Programmable"] = L"";
        e[key + L"\\InprocServer32"] = DllPath();
        e[key + L"\\InprocServer32@ThreadingModel"] = L"Both";
        e[key + L"\\TypeLib"] = Guid(LIBID_Quarrow2);
    }
    return e;
}

void Put(const std::wstring& key, const std::wstring& value) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, value.c_str(),
                              static_cast<DWORD>((value.size() + 1) * 2)),
              ERROR_SUCCESS);
}

void ExpectNothingRegistered(const Entries& left = {}) {
    EXPECT_EQ(Registered(true), left);
    HKEY classes = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_READ, &classes), ERROR_SUCCESS);
    RegCloseKey(classes);
}

using RegistrationTest = ClientTest;

// In a process of its own: it starts with nothing registered, before anything has loaded
// the type information, which a process loads once. It leaves the DLL registered.
TEST_F(RegistrationTest, EntriesWrittenKeptAndRemovedAndLateBindingFollows) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kFileKey.c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Quarrow2.File");
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    ExpectNothingRegistered();
    ComPtr<ITypeLib> registered;
    const HRESULT platform = LoadRegTypeLib(LIBID_Quarrow2, 1, 0, 0, registered.out());
    ASSERT_TRUE(FAILED(platform));
    ComPtr<IFile> file = NewFileDirect();
    ASSERT_TRUE(file);
    Bind(file.get(), TempFolder());  // early binding needs no type library
    EXPECT_EQ(IdOf(file.get(), L"SetFile").first, platform);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(file->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.out()), platform);

    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(Registered(), Expected());
    Entries all = Registered(true);
    const std::wstring version = L"TypeLib\\" + Guid(LIBID_Quarrow2) + L"\\1.0";
    EXPECT_EQ(all[version], L"Quarrow 2.0 Library");
    // Both DLLs carry a type library for 32-bit Windows.
    EXPECT_EQ(all[version + L"\\0\\win32"], DllPath());
    EXPECT_EQ(LoadRegTypeLib(LIBID_Quarrow2, 1, 0, 0, registered.out()), S_OK);
    EXPECT_EQ(IdOf(file.get(), L"SetFile"), std::make_pair(S_OK, 1L));

    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(Registered(true), all) << "a second registration changes nothing";

    // A foreign subkey under a class key is replaced; one beside the entries stays, and
    // holds its key when the entries go.
    Put(kFileKey + L"\\Foreign", L"stale");
    Put(L"Quarrow2.File\\Foreign", L"kept");
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    Entries withForeign = Expected();
    withForeign[L"Quarrow2.File\\Foreign"] = L"kept";
    EXPECT_EQ(Registered(), withForeign);
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    ExpectNothingRegistered(
        {{L"Quarrow2.File", L"File Class"}, {L"Quarrow2.File\\Foreign", L"kept"}});
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Quarrow2.File");
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    ExpectNothingRegistered();

    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    Put(kFileKey + L"\\Foreign", L"foreign");
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    ExpectNothingRegistered({{kFileKey, L"File Class"}, {kFileKey + L"\\Foreign", L"foreign"}});
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kFileKey.c_str());

    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(Registered(), Expected());
}

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

// Made through the registry; a live object keeps the library loaded. MetaData and Strings
// are registered too, but the DLL serves no class object for them.
TEST_F(RegisteredTest, CreatedThroughTheRegistryAndCountedByTheExports) {
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"Quarrow2.File", &clsid), S_OK);
    ComPtr<IFile> file;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IFile, file.out_void()),
              S_OK);
    EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE);
    // Besides the text, the source must be the ProgID the registry gives.
    ExpectFileFailure(Open(file.get(), "Author"), "No file path assigned.");
    file.reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
    ComPtr<IUnknown> made;
    EXPECT_EQ(CoCreateInstance(CLSID_Strings, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               made.out_void()),
              CLASS_E_CLASSNOTAVAILABLE);
}

// As scripts call: members through Invoke, failures as exceptions with the rich error, and
// names in any case.
TEST_F(RegisteredTest, LateBound) {
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
    for (const auto& [object, name, id] : names)
        EXPECT_EQ(IdOf(object, name), std::make_pair(S_OK, id)) << Narrow(WString(name));
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
}

}  // namespace
}  // namespace quarrow2::test

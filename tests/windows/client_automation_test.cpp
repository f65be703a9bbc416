// Quarrow2.dll registered in the real registry, read back key by key, and late bound.
#include <map>
#include <tuple>

#include "client_support.h"

namespace quarrow2::test {
namespace {

// The DISPIDs of names (99 where none was given), and the code GetIDsOfNames returned.
std::pair<HRESULT, std::vector<DISPID>> IdsOf(IDispatch* object, std::vector<std::wstring> names) {
    std::vector<LPOLESTR> list;
    for (std::wstring& name : names) list.push_back(&name[0]);
    std::vector<DISPID> ids(names.size(), 99);
    const UINT count = static_cast<UINT>(names.size());
    return {object->GetIDsOfNames(IID_NULL, list.data(), count, LOCALE_USER_DEFAULT, ids.data()),
            ids};
}

// Every key and value below the roots under HKEY_CLASSES_ROOT: "key" maps to its default
// value (empty where it has none), "key@name" to a named one.
using Entries = std::map<std::wstring, std::wstring>;

void Dump(const std::wstring& path, Entries& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    out[path];
    wchar_t name[256], data[1024];
    for (DWORD i = 0, nameSize = 256, size = sizeof data;
         RegEnumValueW(key, i, name, &nameSize, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                       &size) == ERROR_SUCCESS;
         ++i, nameSize = 256, size = sizeof data)
        out[nameSize ? path + L"@" + name : path] = std::wstring(data, wcsnlen(data, size / 2));
    for (DWORD i = 0, nameSize = 256; RegEnumKeyExW(key, i, name, &nameSize, nullptr, nullptr,
                                                    nullptr, nullptr) == ERROR_SUCCESS;
         ++i, nameSize = 256)
        Dump(path + L"\\" + name, out);
    RegCloseKey(key);
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
    for (const auto& [name, clsid] : kClasses)
        for (const std::wstring& root :
             {L"Quarrow2." + name + L".1", L"Quarrow2." + name, L"CLSID\\" + Guid(*clsid)})
            Dump(root, entries);
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

using RegistrationTest = ClientTest;

// In a process of its own: it starts with nothing registered, before anything has loaded
// the type information, which a process loads once. It leaves the DLL registered.
TEST_F(RegistrationTest, EntriesWrittenKeptAndRemovedAndLateBindingFollows) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kFileKey.c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Quarrow2.File");
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    EXPECT_EQ(Registered(true), Entries());
    ComPtr<ITypeLib> registered;
    const HRESULT platform = LoadRegTypeLib(LIBID_Quarrow2, 1, 0, 0, registered.out());
    ASSERT_TRUE(FAILED(platform));
    ComPtr<IFile> file = NewFileDirect();
    ASSERT_TRUE(file);
    Bind(file.get(), TempFolder());  // early binding needs no type library
    EXPECT_EQ(IdsOf(file.get(), {L"SetFile"}).first, platform);

    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(Registered(), Expected());
    Entries all = Registered(true);
    const std::wstring version = L"TypeLib\\" + Guid(LIBID_Quarrow2) + L"\\1.0";
    EXPECT_EQ(all[version], L"Quarrow 2.0 Library");
    // Both DLLs carry a type library for 32-bit Windows.
    EXPECT_EQ(all[version + L"\\0\\win32"], DllPath());
    EXPECT_EQ(IdsOf(file.get(), {L"SetFile"}).second, std::vector<DISPID>{1});
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(Registered(true), all) << "a second registration changes nothing";

    // A foreign subkey under a class key is replaced, one beside it kept; either keeps its key.
    Put(kFileKey + L"\\Foreign", L"stale");
    Put(L"Quarrow2.File\\Foreign", L"kept");
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    Entries withForeign = Expected();
    withForeign[L"Quarrow2.File\\Foreign"] = L"kept";
    EXPECT_EQ(Registered(), withForeign);
    Put(kFileKey + L"\\Foreign", L"foreign");
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    EXPECT_EQ(Registered(true), Entries({{L"Quarrow2.File", L"File Class"},
                                         {L"Quarrow2.File\\Foreign", L"kept"},
                                         {kFileKey, L"File Class"},
                                         {kFileKey + L"\\Foreign", L"foreign"}}));
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Quarrow2.File");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kFileKey.c_str());
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    // Removal goes on past an entry that is already gone.
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Quarrow2.File.1");
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    EXPECT_EQ(Registered(true), Entries());
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
}

// tests/scripts/file_object.vbs calls the members by their names as written; names in
// another case come from the type information, not the DLL's cache of exact names.
TEST_F(ClientTest, LateBound) {
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    ComPtr<IFile> file = NewFileDirect();
    ASSERT_TRUE(file);
    Bind(file.get(), TempFolder());
    ComPtr<IStrings> types;
    ASSERT_EQ(file->get_Types(types.out()), S_OK);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(file->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    // A name the interface lacks fails with the platform's code; earlier names keep theirs.
    const struct {
        IDispatch* object;
        std::vector<std::wstring> names;
        std::pair<HRESULT, std::vector<DISPID>> expected;
    } names[] = {
        {file.get(), {L"SETFILE", L"setfile", L"SetFile", L"Types"}, {S_OK, {1, 1, 1, 8}}},
        // IFile2's and IFile3's members, on the File's one dispatch interface.
        {file.get(), {L"Items", L"ReadText", L"readdata", L"names"}, {S_OK, {9, 10, 11, 12}}},
        {types.get(), {L"Item", L"_NewEnum", L"count"}, {S_OK, {DISPID_VALUE, DISPID_NEWENUM, 1}}},
        {types.get(), {L"Count", L"NoSuchMember"}, {DISP_E_UNKNOWNNAME, {1, DISPID_UNKNOWN}}}};
    for (const auto& [object, asked, expected] : names)
        EXPECT_EQ(IdsOf(object, asked), expected) << Narrow(WString(asked[0]));
    // IFile2's and IFile3's failures reach a late-bound caller with their own status.
    for (DISPID listing : {9, 12}) {
        EXCEPINFO info = {};
        UniqueVariant items;
        EXPECT_EQ(file->Invoke(listing, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, items.out(),
                               &info, nullptr),
                  DISP_E_EXCEPTION);
        const UniqueBstr description(info.bstrDescription), source(info.bstrSource);
        SysFreeString(info.bstrHelpFile);
        EXPECT_EQ(std::make_tuple(info.scode, Narrow(description.get()), Narrow(source.get())),
                  std::make_tuple(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED),
                                  std::string("Volume does not support streams."),
                                  std::string("Quarrow2.File.1")))
            << listing;
    }
    // Whatever the index asked, the one type information there is.
    ComPtr<ITypeInfo> zero, three;
    ASSERT_EQ(file->GetTypeInfo(0, LOCALE_USER_DEFAULT, zero.out()), S_OK);
    ASSERT_EQ(file->GetTypeInfo(3, LOCALE_USER_DEFAULT, three.out()), S_OK);
    EXPECT_EQ(zero.get(), three.get());
}

}  // namespace
}  // namespace quarrow2::test

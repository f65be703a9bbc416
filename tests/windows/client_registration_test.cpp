// DllRegisterServer and DllUnregisterServer in the real registry, read back key by key, and
// late binding, which follows the registration of the type library.
#include <map>

#include "client_support.h"

namespace quarrow2::test {
namespace {

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
    if (withTypeLibrary) {
        Dump(L"TypeLib\\" + Guid(LIBID_Quarrow2), entries);
        for (const IID* iid : {&IID_IFile, &IID_IMetaData, &IID_IStrings})
            Dump(L"Interface\\" + Guid(*iid), entries);
    }
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

HRESULT IdOfSetFile(IFile* file, DISPID* id) {
    std::wstring name = L"SetFile";
    LPOLESTR names[] = {&name[0]};
    return file->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
}

using RegistrationTest = ClientTest;

// In a process of its own: it starts with nothing registered, before anything has loaded
// the type information, which a process loads once. It leaves the DLL registered.
TEST_F(RegistrationTest, EntriesWrittenKeptAndRemovedAndLateBindingFollows) {
    for (const wchar_t* leftover : {kFileKey.c_str(), L"Quarrow2.File"}) {
        EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
        RegDeleteTreeW(HKEY_CLASSES_ROOT, leftover);
    }
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    ExpectNothingRegistered();
    ComPtr<ITypeLib> registered;
    const HRESULT platform = LoadRegTypeLib(LIBID_Quarrow2, 1, 0, 0, registered.out());
    ASSERT_TRUE(FAILED(platform));
    ComPtr<IFile> file = NewFileDirect();
    ASSERT_TRUE(file);
    Bind(file.get(), TempFolder());  // early binding needs no type library
    DISPID id = 0;
    EXPECT_EQ(IdOfSetFile(file.get(), &id), platform);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(file->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.out()), platform);

    const HMODULE before = Dll();
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(Registered(), Expected());
    Entries all = Registered(true);
    const std::wstring libid = Guid(LIBID_Quarrow2), version = L"TypeLib\\" + libid + L"\\1.0";
    EXPECT_EQ(all[version], L"Quarrow 2.0 Library");
    // Both DLLs carry a type library for 32-bit Windows.
    EXPECT_EQ(all[version + L"\\0\\win32"], DllPath());
    const std::pair<const IID*, std::wstring> interfaces[] = {
        {&IID_IFile, L"IFile"}, {&IID_IMetaData, L"IMetaData"}, {&IID_IStrings, L"IStrings"}};
    for (const auto& [iid, name] : interfaces) {
        EXPECT_EQ(all[L"Interface\\" + Guid(*iid)], name);
        EXPECT_EQ(all[L"Interface\\" + Guid(*iid) + L"\\TypeLib"], libid);
    }
    EXPECT_EQ(LoadRegTypeLib(LIBID_Quarrow2, 1, 0, 0, registered.out()), S_OK);
    EXPECT_EQ(IdOfSetFile(file.get(), &id), S_OK);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(GetModuleHandleW(DllPath().c_str()), before);

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

}  // namespace
}  // namespace quarrow2::test

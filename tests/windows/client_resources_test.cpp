// What Quarrow2.dll carries besides its code: version information, its name, the type
// library and the three registration scripts, as a client or an installer reads them.
#include <vector>

#include "client_support.h"

namespace quarrow2::client {
namespace {

std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* name) {
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || !value)
        return L"<missing>";
    return length ? std::wstring(static_cast<const wchar_t*>(value)) : std::wstring();
}

TEST(ResourcesTest, VersionInformation) {
    std::wstring path = DllPath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);

    EXPECT_EQ(VersionString(block, L"FileDescription"), L"Quarrow MetaData Library");
    EXPECT_EQ(VersionString(block, L"FileVersion"), L"2.0.0.1");
    EXPECT_EQ(VersionString(block, L"ProductVersion"), L"2.0.0.1");
    EXPECT_EQ(VersionString(block, L"InternalName"), L"Quarrow");
    EXPECT_EQ(VersionString(block, L"ProductName"), L"Quarrow");
    EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"Quarrow2.DLL");
    EXPECT_EQ(VersionString(block, L"OLESelfRegister"), L"") << "marks the DLL self-registering";
}

TEST(ResourcesTest, NameTypeLibraryAndScripts) {
    HMODULE dll = LoadLibraryExW(DllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(dll, nullptr);
    wchar_t name[32] = {};
    EXPECT_EQ(LoadStringW(dll, 100, name, 32), 7);
    EXPECT_STREQ(name, L"Quarrow");

    const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    EXPECT_NE(FindResourceExW(dll, L"TYPELIB", MAKEINTRESOURCEW(1), english), nullptr);
    for (WORD id : {101, 102, 103}) {
        HRSRC script = FindResourceExW(dll, L"REGISTRY", MAKEINTRESOURCEW(id), english);
        ASSERT_NE(script, nullptr) << id;
        const char* text = static_cast<const char*>(LockResource(LoadResource(dll, script)));
        std::string body(text, SizeofResource(dll, script));
        EXPECT_NE(body.find("%MODULE%"), std::string::npos) << id;
        EXPECT_NE(body.find("key CLSID keep"), std::string::npos) << id;
    }
    EXPECT_EQ(FindResourceW(dll, MAKEINTRESOURCEW(104), L"REGISTRY"), nullptr);
    FreeLibrary(dll);
}

}  // namespace
}  // namespace quarrow2::client

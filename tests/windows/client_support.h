// Quarrow2.dll of this build loaded as clients load it, its exports, an apartment per test.
#pragma once

#include <cstdlib>

#include "portable/file_fixture.h"
#include "quarrow2/client.h"

namespace quarrow2::test {

inline std::wstring DllPath() {
    wchar_t self[MAX_PATH];
    std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"Quarrow2.dll";
}

// The DLL, loaded once for the whole process and never unloaded.
inline HMODULE Dll() {
    static const HMODULE dll = LoadLibraryW(DllPath().c_str());
    if (!dll) std::abort();
    return dll;
}

template <class F>
F Export(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(Dll(), name)));
}
// DllRegisterServer, DllUnregisterServer or DllCanUnloadNow.
inline HRESULT Call(const char* name) {
    auto* f = Export<HRESULT(STDAPICALLTYPE*)()>(name);
    return f ? f() : E_NOTIMPL;
}

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
    void TearDown() override { CoUninitialize(); }
};

// A new File through the DLL's class object, without the registry; null where none is made.
inline ComPtr<IFile> NewFileDirect() {
    ComPtr<IClassFactory> factory;
    ComPtr<IFile> file;
    auto* get = Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    if (get(CLSID_File, IID_IClassFactory, factory.out_void()) == S_OK)
        factory->CreateInstance(nullptr, IID_IFile, file.out_void());
    return file;
}

inline WString TempFolder() {
    wchar_t folder[MAX_PATH];
    return WString(folder, GetTempPathW(MAX_PATH, folder));
}

}  // namespace quarrow2::test

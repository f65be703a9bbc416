#include "client_support.h"

#include <cstdlib>

namespace quarrow2::client {

std::wstring DllPath() {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"Quarrow2.dll";
}

Library& Library::Get() {
    static Library library;
    return library;
}

Library::Library() : module_(LoadLibraryW(DllPath().c_str())) {
    if (!module_) {
        ADD_FAILURE() << "cannot load Quarrow2.dll, error " << GetLastError();
        std::abort();
    }
}

HRESULT Library::Register() const {
    return Export<HRESULT(STDAPICALLTYPE*)()>("DllRegisterServer")();
}

HRESULT Library::Unregister() const {
    return Export<HRESULT(STDAPICALLTYPE*)()>("DllUnregisterServer")();
}

HRESULT Library::GetClassObject(REFCLSID clsid, REFIID iid, void** out) const {
    using Fn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    return Export<Fn>("DllGetClassObject")(clsid, iid, out);
}

HRESULT Library::CanUnloadNow() const {
    return Export<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow")();
}

void ClientTest::SetUp() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
    initialized_ = true;
}

void ClientTest::TearDown() {
    if (initialized_) CoUninitialize();
}

std::wstring Text(BSTR s) { return s ? std::wstring(s, SysStringLen(s)) : std::wstring(); }

UniqueBstr MakeBstr(const wchar_t* s) { return UniqueBstr(SysAllocString(s)); }

ComPtr<IFile> NewFileDirect() {
    ComPtr<IClassFactory> factory;
    ComPtr<IFile> file;
    EXPECT_EQ(Library::Get().GetClassObject(CLSID_File, IID_IClassFactory, factory.out_void()),
              S_OK);
    if (factory) {
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IFile, file.out_void()), S_OK);
    }
    return file;
}

ComPtr<IStrings> TypesOfTempFolder(IFile* file) {
    wchar_t folder[MAX_PATH];
    EXPECT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    UniqueBstr path = MakeBstr(folder);
    VARIANT_BOOL supported = VARIANT_TRUE;
    EXPECT_EQ(file->SetFile(path.get(), &supported), S_OK);
    ComPtr<IStrings> types;
    EXPECT_EQ(file->get_Types(types.out()), S_OK);
    return types;
}

HRESULT Invoke(IDispatch* object, DISPID id, WORD flags, VARIANT* args, UINT count, VARIANT* result,
               EXCEPINFO* exception) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {args, nullptr, count, 0};
    if (flags & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &named;
        params.cNamedArgs = 1;
    }
    UINT argErr = 0;
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, exception,
                          &argErr);
}

}  // namespace quarrow2::client

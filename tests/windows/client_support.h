// What the client tests share: Quarrow2.dll loaded as a client loads it, its exports, and
// a component apartment for each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "quarrow2/client.h"

namespace quarrow2::client {

// Quarrow2.dll of this build, which sits beside the test program.
std::wstring DllPath();

// The DLL, loaded once for the whole process and never unloaded.
class Library {
public:
    static Library& Get();

    HMODULE module() const { return module_; }
    HRESULT Register() const;
    HRESULT Unregister() const;
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) const;
    HRESULT CanUnloadNow() const;

private:
    Library();
    template <class F>
    F Export(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

    HMODULE module_;
};

// One apartment per test; every object is released before it closes.
class ClientTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    bool initialized_ = false;
};

std::wstring Text(BSTR s);
UniqueBstr MakeBstr(const wchar_t* s);

// A new File through the DLL's class object, without the registry.
ComPtr<IFile> NewFileDirect();

// The Types of a File bound to the temporary folder (empty under Wine, which reports no
// named streams).
ComPtr<IStrings> TypesOfTempFolder(IFile* file);

// Late-bound call through IDispatch with the arguments given in reverse order, as
// DISPPARAMS holds them.
HRESULT Invoke(IDispatch* object, DISPID id, WORD flags, VARIANT* args, UINT count, VARIANT* result,
               EXCEPINFO* exception);

}  // namespace quarrow2::client

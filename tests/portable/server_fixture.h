// Objects obtained the way a client obtains them: through DllGetClassObject and the File
// class object.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "quarrow2/quarrow2.h"
#include "server/module_lock.h"
#include "support/test_support.h"

namespace quarrow2::test {

inline ComPtr<IClassFactory> GetFileClassObject() {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(DllGetClassObject(CLSID_File, IID_IClassFactory, factory.out_void()), S_OK);
    return factory;
}

// A new File, as CoCreateInstance would hand it out: the class object is released again.
inline ComPtr<IFile> CreateClientFile() {
    ComPtr<IFile> file;
    ComPtr<IClassFactory> factory = GetFileClassObject();
    if (factory) {
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IFile, file.out_void()), S_OK);
    }
    return file;
}

// A File bound to an existing empty file in `dir`.
inline ComPtr<IFile> CreateBoundFile(const TempDir& dir) {
    std::filesystem::path path = dir / "bound.txt";
    std::ofstream(path).put('x');
    ComPtr<IFile> file = CreateClientFile();
    if (!file) return file;
    WString w = PathW(path);
    UniqueBstr p(SysAllocStringLen(w.data(), static_cast<UINT>(w.size())));
    VARIANT_BOOL supported = VARIANT_FALSE;
    EXPECT_EQ(file->SetFile(p.get(), &supported), S_OK);
    return file;
}

inline bool CanUnload() { return DllCanUnloadNow() == S_OK; }

// Every test starts where a freshly loaded library starts; an object left alive by an
// earlier test of the same process shows up here.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(server::ModuleLockCount(), 0) << "objects of an earlier test are still alive";
    }
    void TearDown() override { EXPECT_EQ(server::ModuleLockCount(), 0) << "an object leaked"; }
};

}  // namespace quarrow2::test

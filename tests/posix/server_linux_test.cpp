// libquarrow2.so loaded and unloaded as a client program does it.
#include <dlfcn.h>

#include "../portable/server_fixture.h"

namespace quarrow2::test {
namespace {

TEST(SharedLibraryTest, AClientLoadsCreatesAndUnloads) {
    const auto path =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libquarrow2.so";
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "libquarrow2.so is not built beside the tests";
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto getClassObject = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(
        dlsym(library, "DllGetClassObject"));
    auto canUnloadNow = reinterpret_cast<HRESULT (*)()>(dlsym(library, "DllCanUnloadNow"));
    ASSERT_TRUE(getClassObject && canUnloadNow);
    // Registration is a Windows matter, and internal functions stay hidden.
    EXPECT_EQ(dlsym(library, "DllRegisterServer"), nullptr);
    EXPECT_EQ(dlsym(library, "_ZN8quarrow26server12StartLibraryEPv"), nullptr);

    EXPECT_EQ(canUnloadNow(), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_File, IID_IClassFactory, factory.out_void()), S_OK);
    void* none = nullptr;
    EXPECT_EQ(getClassObject(CLSID_Strings, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    ComPtr<IFile> file;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IFile, file.out_void()), S_OK);
    factory.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    file.reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
    // Unloading releases the cached class object; nothing of it may run afterwards.
    EXPECT_EQ(dlclose(library), 0);
}

}  // namespace
}  // namespace quarrow2::test

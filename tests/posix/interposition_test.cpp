// libquarrow2.so in a process where a preloaded library (interposer.cpp) defines two of its
// exports once more. The library's own calls stay with its own definitions. A client's calls
// of those names go where the dynamic linker's ordinary rules send them: to the first
// definition in the process's lookup order, where a preloaded library comes before
// libquarrow2.so.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "quarrow2/client.h"

namespace {

using quarrow2::ComPtr;

// The names the interposer defines again, each with a client's call of it.
struct Interposed {
    const char* name;
    void (*call)();
};
const Interposed kInterposed[] = {
    {"SysFreeString", [] { SysFreeString(nullptr); }},
    {"VariantInit",
     [] {
         VARIANT variant;
         VariantInit(&variant);
     }},
};

// Strings the library hands out go back to the library's own SysFreeString, found through
// its handle, so that while an item is worked on only the library could call the interposer.
void (*libraryFreeString)(BSTR) = nullptr;
struct LibraryFreedKind : quarrow2::NullMeansNone<BSTR> {
    static void Close(BSTR text) { libraryFreeString(text); }
};
using LibraryBstr = quarrow2::UniqueOwner<LibraryFreedKind>;

class InterpositionTest : public testing::Test {
protected:
    void SetUp() override {
        count_ = reinterpret_cast<int (*)(const char*)>(dlsym(RTLD_DEFAULT, "InterposedCalls"));
        if (!count_) GTEST_SKIP() << "the interposer is not preloaded (LD_PRELOAD)";
        library_ = dlopen("libquarrow2.so.2", RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(library_, nullptr) << dlerror();
        libraryFreeString = reinterpret_cast<void (*)(BSTR)>(dlsym(library_, "SysFreeString"));
        ASSERT_NE(libraryFreeString, nullptr);
    }
    void TearDown() override {
        if (library_) dlclose(library_);
    }

    // The interposer's calls so far, by name.
    std::map<std::string, int> Calls() const {
        std::map<std::string, int> calls;
        for (const Interposed& interposed : kInterposed)
            calls[interposed.name] = count_(interposed.name);
        return calls;
    }

    int (*count_)(const char*) = nullptr;
    void* library_ = nullptr;
};

// Writes, reads, lists and deletes an item; inside the library each step frees strings or
// initialises variants.
TEST_F(InterpositionTest, TheLibraryCallsItsOwnDefinitions) {
    const auto path =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / "interposition-scratch.txt";
    std::filesystem::remove(path);
    std::ofstream(path).close();
    const auto before = Calls();
    {
        ComPtr<IClassFactory> factory;
        ComPtr<IFile> file;
        ASSERT_EQ(DllGetClassObject(CLSID_File, IID_IClassFactory, factory.out_void()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IFile, file.out_void()), S_OK);
        LibraryBstr name(SysAllocString(path.u16string().c_str()));
        LibraryBstr type(SysAllocString(u"Author"));
        LibraryBstr author(SysAllocString(u"Jane Doe"));
        VARIANT_BOOL streams = VARIANT_FALSE;
        ASSERT_EQ(file->SetFile(name.get(), &streams), S_OK);
        if (streams != VARIANT_TRUE) GTEST_SKIP() << path << " keeps no user. attributes";

        ComPtr<IMetaData> item;
        ASSERT_EQ(file->Add(type.get(), item.out()), S_OK);
        ASSERT_EQ(item->put_Text(author.get()), S_OK);
        LibraryBstr text;
        ASSERT_EQ(item->get_Text(text.out()), S_OK);
        EXPECT_EQ(std::u16string(text.get()), u"Jane Doe");
        VARIANT data;
        ASSERT_EQ(item->get_Data(&data), S_OK);
        EXPECT_EQ(data.vt, VT_ARRAY | VT_UI1);
        VariantClear(&data);
        ComPtr<IStrings> types;
        ASSERT_EQ(file->get_Types(types.out()), S_OK);
        VARIANT listed{};  // VT_EMPTY, as VariantInit leaves it
        ASSERT_EQ(types->get_Item(1, &listed), S_OK);
        EXPECT_EQ(std::u16string(listed.bstrVal), u"Author");
        VariantClear(&listed);
        EXPECT_EQ(item->Delete(), S_OK);
    }
    EXPECT_EQ(Calls(), before) << "the library called the interposer's definitions";
    std::filesystem::remove(path);
}

TEST_F(InterpositionTest, AClientCallsThePreloadedDefinitions) {
    for (const Interposed& interposed : kInterposed) {
        const int before = count_(interposed.name);
        interposed.call();
        EXPECT_EQ(count_(interposed.name), before + 1) << interposed.name;
    }
}

}  // namespace

// When the library may be unloaded: the library lock count through the sequences a client
// goes through.
#include "server/library_state.h"
#include "server_fixture.h"

namespace quarrow2::test {
namespace {

using UnloadTest = ServerTest;

TEST_F(UnloadTest, ClassObjectHoldsAndLockServerCountUntilBalanced) {
    EXPECT_TRUE(CanUnload());
    ComPtr<IClassFactory> factory = GetFileClassObject();
    ASSERT_TRUE(factory);
    EXPECT_FALSE(CanUnload());
    // More references of the client count once.
    ComPtr<IUnknown> second;
    ASSERT_EQ(DllGetClassObject(CLSID_File, IID_IUnknown, second.out_void()), S_OK);
    EXPECT_EQ(server::ModuleLockCount(), 1);
    second.reset();
    EXPECT_FALSE(CanUnload());
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_FALSE(CanUnload()) << "the library's own reference must not keep it loaded";
    for (int unlock = 0; unlock < 2; ++unlock) {
        EXPECT_FALSE(CanUnload()) << "a LockServer(TRUE) is still unbalanced";
        factory = GetFileClassObject();
        EXPECT_EQ(factory->LockServer(FALSE), S_OK);
        factory.reset();
    }
    EXPECT_TRUE(CanUnload());
}

TEST_F(UnloadTest, ObjectsMadeByAFileOutliveIt) {
    TempDir dir;
    ComPtr<IFile> file = CreateBoundFile(dir);
    ASSERT_TRUE(file);
    ComPtr<IStrings> types;
    ASSERT_EQ(file->get_Types(types.out()), S_OK);
    ComPtr<IMetaData> item;
    VARIANT_BOOL supported = VARIANT_FALSE;
    ASSERT_EQ(file->get_Supported(&supported), S_OK);
    if (supported == VARIANT_TRUE) {
        UniqueBstr type = Bstr("Author");
        ASSERT_EQ(file->Add(type.get(), item.out()), S_OK);
    }
    file.reset();
    if (item) {
        UniqueBstr text = Bstr("Jane");
        EXPECT_EQ(item->put_Text(text.get()), S_OK);
        item.reset();
    }
    EXPECT_FALSE(CanUnload()) << "a Strings collection is alive";
    ComPtr<IUnknown> enumeration;
    ASSERT_EQ(types->get__NewEnum(enumeration.out()), S_OK);
    types.reset();
    EXPECT_FALSE(CanUnload()) << "an enumerator is alive and holds its collection";
    ComPtr<IEnumVARIANT> walker;
    ASSERT_EQ(enumeration->QueryInterface(IID_IEnumVARIANT, walker.out_void()), S_OK);
    enumeration.reset();
    UniqueVariant v;
    ULONG fetched = 7;
    EXPECT_EQ(walker->Next(1, v.get(), &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    walker.reset();
    EXPECT_TRUE(CanUnload());
}

// Unloading releases the library's reference to the class object. A client that still
// holds it (which a correct client does not do at unload) keeps a usable object until its
// own release, and the library starts again on the next request.
TEST_F(UnloadTest, StoppingReleasesTheCachedClassObject) {
    ComPtr<IClassFactory> held = GetFileClassObject();
    ASSERT_TRUE(held);
    server::StopLibrary();
    ComPtr<IFile> file;
    EXPECT_EQ(held->CreateInstance(nullptr, IID_IFile, file.out_void()), S_OK);
    file.reset();
    held.reset();
    EXPECT_TRUE(CanUnload());
    ComPtr<IClassFactory> fresh = GetFileClassObject();
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(CanUnload());
    fresh.reset();
    server::StopLibrary();
    server::StopLibrary();
    EXPECT_TRUE(CanUnload());
}

}  // namespace
}  // namespace quarrow2::test

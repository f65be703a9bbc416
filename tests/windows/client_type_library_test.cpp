// The type library inside Quarrow2.dll: its six types, and the agreement of every member
// with the interfaces that include/quarrow2/quarrow2.h declares.
#include <cstring>
#include <vector>

#include "client_support.h"

namespace quarrow2::client {
namespace {

// The byte offset of a virtual member in its interface's function table. GCC represents a
// pointer to a virtual member function as 1 plus that offset.
template <class Member>
SHORT TableOffset(Member member) {
    struct Raw {
        ptrdiff_t pointer;
        ptrdiff_t adjustment;
    };
    static_assert(sizeof(Member) == sizeof(Raw), "a pointer to member of the Itanium ABI");
    Raw raw;
    std::memcpy(&raw, &member, sizeof raw);
    return static_cast<SHORT>(raw.pointer - 1);
}

struct Member {
    const wchar_t* name;
    MEMBERID id;
    INVOKEKIND kind;
    SHORT offset;
    SHORT params;
    const wchar_t* help;
};

const Member kFileMembers[] = {
    {L"SetFile", 1, INVOKE_FUNC, TableOffset(&IFile::SetFile), 2,
     L"Use this method to specify the file to work with"},
    {L"Close", 2, INVOKE_FUNC, TableOffset(&IFile::Close), 0,
     L"Releases all resources associated with this object"},
    {L"Open", 3, INVOKE_FUNC, TableOffset(&IFile::Open), 2, L"Opens an existing item of metadata"},
    {L"Add", 4, INVOKE_FUNC, TableOffset(&IFile::Add), 2, L"Opens or creates an item of metadata"},
    {L"Supported", 5, INVOKE_PROPERTYGET, TableOffset(&IFile::get_Supported), 1,
     L"Whether the specified file supports metadata"},
    {L"Exists", 6, INVOKE_PROPERTYGET, TableOffset(&IFile::get_Exists), 1,
     L"Whether the file currently exists"},
    {L"Length", 7, INVOKE_PROPERTYGET, TableOffset(&IFile::get_Length), 1,
     L"The total number of bytes of metadata stored"},
    {L"Types", 8, INVOKE_PROPERTYGET, TableOffset(&IFile::get_Types), 1,
     L"The metadata types associated with this file"},
};

const Member kMetaDataMembers[] = {
    {L"Name", 1, INVOKE_PROPERTYGET, TableOffset(&IMetaData::get_Name), 1,
     L"The name of the metadata type"},
    {L"Length", 2, INVOKE_PROPERTYGET, TableOffset(&IMetaData::get_Length), 1,
     L"The length of the metadata in bytes"},
    {L"Text", 3, INVOKE_PROPERTYGET, TableOffset(&IMetaData::get_Text), 1, L"The metadata as text"},
    {L"Text", 3, INVOKE_PROPERTYPUT, TableOffset(&IMetaData::put_Text), 1, L"The metadata as text"},
    {L"Data", 4, INVOKE_PROPERTYGET, TableOffset(&IMetaData::get_Data), 1,
     L"The metadata as an array of bytes"},
    {L"Data", 4, INVOKE_PROPERTYPUT, TableOffset(&IMetaData::put_Data), 1,
     L"The metadata as an array of bytes"},
    {L"Delete", 5, INVOKE_FUNC, TableOffset(&IMetaData::Delete), 0, L"Deletes the metadata"},
    {L"Close", 6, INVOKE_FUNC, TableOffset(&IMetaData::Close), 0,
     L"Releases all resources associated with this object"},
};

const Member kStringsMembers[] = {
    {L"_NewEnum", DISPID_NEWENUM, INVOKE_PROPERTYGET, TableOffset(&IStrings::get__NewEnum), 1,
     L"internal property _NewEnum"},
    {L"Item", DISPID_VALUE, INVOKE_PROPERTYGET, TableOffset(&IStrings::get_Item), 2,
     L"Returns a particular string referenced by index"},
    {L"Count", 1, INVOKE_PROPERTYGET, TableOffset(&IStrings::get_Count), 1,
     L"The number of strings available"},
};

std::wstring Name(ITypeInfo* info, MEMBERID id, std::wstring* help = nullptr) {
    UniqueBstr name, doc;
    EXPECT_EQ(info->GetDocumentation(id, name.out(), doc.out(), nullptr, nullptr), S_OK);
    if (help) *help = Text(doc.get());
    return Text(name.get());
}

class TypeLibraryTest : public ClientTest {
protected:
    void SetUp() override {
        ClientTest::SetUp();
        ASSERT_EQ(LoadTypeLibEx(DllPath().c_str(), REGKIND_NONE, library_.out()), S_OK);
    }
    void TearDown() override {
        library_.reset();
        ClientTest::TearDown();
    }

    ComPtr<ITypeLib> library_;
};

TEST_F(TypeLibraryTest, LibraryAttributes) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library_->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_Quarrow2));
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->lcid, 0u);
    EXPECT_EQ(attr->syskind, SYS_WIN32) << "one type library for both DLLs";
    // The runtime adds LIBFLAG_FHASDISKIMAGE for a library it read from a file.
    EXPECT_EQ(attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, 0);
    library_->ReleaseTLibAttr(attr);
    UniqueBstr name, doc, helpFile;
    ASSERT_EQ(library_->GetDocumentation(-1, name.out(), doc.out(), nullptr, helpFile.out()), S_OK);
    EXPECT_EQ(Text(name.get()), L"Quarrow2");
    EXPECT_EQ(Text(doc.get()), L"Quarrow 2.0 Library");
    EXPECT_EQ(helpFile.get(), nullptr);
}

TEST_F(TypeLibraryTest, SixTypesInOrder) {
    struct Type {
        const wchar_t* name;
        TYPEKIND kind;
        WORD flags;
        const wchar_t* help;
        const GUID* guid;
        const wchar_t* defaultInterface;
    };
    // The dispatch view of a dual interface; its function-table view carries
    // TYPEFLAG_FOLEAUTOMATION as well (checked with the members below).
    const WORD dual = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    const Type types[] = {
        {L"File", TKIND_COCLASS, TYPEFLAG_FCANCREATE, L"An object that holds a reference to a file",
         &CLSID_File, L"IFile"},
        {L"IFile", TKIND_DISPATCH, dual, L"IFile Interface", &IID_IFile, nullptr},
        {L"IMetaData", TKIND_DISPATCH, dual, L"IMetaData Interface", &IID_IMetaData, nullptr},
        {L"IStrings", TKIND_DISPATCH, dual, L"IStrings Interface", &IID_IStrings, nullptr},
        {L"MetaData", TKIND_COCLASS, 0, L"An item of metadata associated with a file",
         &CLSID_MetaData, L"IMetaData"},
        {L"Strings", TKIND_COCLASS, 0, L"A collection of strings", &CLSID_Strings, L"IStrings"},
    };
    ASSERT_EQ(library_->GetTypeInfoCount(), 6u);
    for (UINT i = 0; i < 6; ++i) {
        const Type& expected = types[i];
        UniqueBstr name, help;
        ASSERT_EQ(library_->GetDocumentation(static_cast<INT>(i), name.out(), help.out(), nullptr,
                                             nullptr),
                  S_OK);
        EXPECT_EQ(Text(name.get()), expected.name) << i;
        EXPECT_EQ(Text(help.get()), expected.help) << i;
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(library_->GetTypeInfo(i, info.out()), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(attr->typekind, expected.kind) << expected.name;
        EXPECT_EQ(attr->wTypeFlags, expected.flags) << expected.name;
        EXPECT_TRUE(IsEqualGUID(attr->guid, *expected.guid)) << expected.name;
        if (expected.defaultInterface) {
            ASSERT_EQ(attr->cImplTypes, 1) << expected.name;
            INT implFlags = 0;
            ASSERT_EQ(info->GetImplTypeFlags(0, &implFlags), S_OK);
            EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT) << expected.name;
            HREFTYPE ref = 0;
            ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
            ComPtr<ITypeInfo> implemented;
            ASSERT_EQ(info->GetRefTypeInfo(ref, implemented.out()), S_OK);
            EXPECT_EQ(Name(implemented.get(), MEMBERID_NIL), expected.defaultInterface);
        }
        info->ReleaseTypeAttr(attr);
    }
}

// For each interface, its function table as the type library records it must be the one
// the header declares: same names, DISPIDs, kinds and slots, after IUnknown and IDispatch.
void ExpectAgreement(ITypeLib* library, REFIID iid, const Member* members, size_t count) {
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(library->GetTypeInfoOfGuid(iid, dispatch.out()), S_OK);
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK)
        << "a dual interface has a function-table form";
    ComPtr<ITypeInfo> table;
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, table.out()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(table->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(attr->cFuncs, count);
    // Recorded for 32-bit Windows: four bytes per slot, whatever the client's pointers.
    EXPECT_EQ(attr->cbSizeVft, (7 + count) * 4);
    UINT functions = attr->cFuncs;
    table->ReleaseTypeAttr(attr);
    ASSERT_EQ(functions, count);
    for (UINT i = 0; i < functions; ++i) {
        const Member& expected = members[i];
        FUNCDESC* f = nullptr;
        ASSERT_EQ(table->GetFuncDesc(i, &f), S_OK);
        std::wstring help;
        EXPECT_EQ(Name(table.get(), f->memid, &help), expected.name) << i;
        EXPECT_EQ(help, expected.help) << expected.name;
        EXPECT_EQ(f->memid, expected.id) << expected.name;
        EXPECT_EQ(f->invkind, expected.kind) << expected.name;
        EXPECT_EQ(f->oVft, expected.offset) << expected.name << " sits in another slot";
        EXPECT_EQ(f->cParams, expected.params) << expected.name;
        EXPECT_EQ(f->callconv, CC_STDCALL) << expected.name;
        EXPECT_EQ(f->wFuncFlags, 0) << expected.name;
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT) << expected.name;
        table->ReleaseFuncDesc(f);
    }
}

TEST_F(TypeLibraryTest, InterfacesAgreeWithTheHeader) {
    ExpectAgreement(library_.get(), IID_IFile, kFileMembers, std::size(kFileMembers));
    ExpectAgreement(library_.get(), IID_IMetaData, kMetaDataMembers, std::size(kMetaDataMembers));
    ExpectAgreement(library_.get(), IID_IStrings, kStringsMembers, std::size(kStringsMembers));
}

// Runs in a process of its own: the type information is loaded once per process.
TEST_F(ClientTest, TypeLibraryRegistrationLateBindingFollowsIt) {
    const Library& dll = Library::Get();
    EXPECT_EQ(dll.Unregister(), S_OK);
    ComPtr<ITypeLib> registered;
    HRESULT platform = LoadRegTypeLib(LIBID_Quarrow2, 1, 0, 0, registered.out());
    ASSERT_TRUE(FAILED(platform));

    ComPtr<IFile> file = NewFileDirect();
    ASSERT_TRUE(file);
    wchar_t folder[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    UniqueBstr path = MakeBstr(folder);
    VARIANT_BOOL supported = VARIANT_TRUE;
    EXPECT_EQ(file->SetFile(path.get(), &supported), S_OK) << "early binding needs no library";
    std::wstring name = L"SetFile";
    LPOLESTR names[] = {&name[0]};
    DISPID id = 0;
    EXPECT_EQ(file->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), platform);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(file->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.out()), platform);

    HMODULE before = dll.module();
    ASSERT_EQ(dll.Register(), S_OK);
    EXPECT_EQ(LoadRegTypeLib(LIBID_Quarrow2, 1, 0, 0, registered.out()), S_OK)
        << "this process finds the type library it registered";
    EXPECT_EQ(file->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(GetModuleHandleW(DllPath().c_str()), before);
}

}  // namespace
}  // namespace quarrow2::client

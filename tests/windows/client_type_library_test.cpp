// Quarrow2.dll's type library, member by member against quarrow2.h; version, name, scripts.
#include <cstring>
#include <tuple>

#include "client_support.h"

namespace quarrow2::test {
namespace {

// The byte offset of a virtual member in its interface's function table. GCC represents a
// pointer to a virtual member function as 1 plus that offset.
template <class Member>
SHORT Slot(Member member) {
    ptrdiff_t raw[2];  // the pointer and the adjustment
    static_assert(sizeof(Member) == sizeof raw, "a pointer to member of the Itanium ABI");
    std::memcpy(raw, &member, sizeof raw);
    return static_cast<SHORT>(raw[0] - 1);
}

// "name: help" of the library (id -1), one of its types or a member.
template <class T>
std::wstring Doc(T* owner, LONG id) {
    UniqueBstr name, help, file;
    EXPECT_EQ(owner->GetDocumentation(id, name.out(), help.out(), nullptr, file.out()), S_OK);
    EXPECT_EQ(file.get(), nullptr) << "no help file";
    return std::wstring(name.get() ? name.get() : L"") + L": " + (help.get() ? help.get() : L"");
}

// Each function: its slot, then "name DISPID invoke-kind parameters: help".
using Function = std::pair<SHORT, std::wstring>;
const std::vector<Function> kFile = {
    {Slot(&IFile::SetFile), L"SetFile 1 1 2: Use this method to specify the file to work with"},
    {Slot(&IFile::Close), L"Close 2 1 0: Releases all resources associated with this object"},
    {Slot(&IFile::Open), L"Open 3 1 2: Opens an existing item of metadata"},
    {Slot(&IFile::Add), L"Add 4 1 2: Opens or creates an item of metadata"},
    {Slot(&IFile::get_Supported), L"Supported 5 2 1: Whether the specified file supports metadata"},
    {Slot(&IFile::get_Exists), L"Exists 6 2 1: Whether the file currently exists"},
    {Slot(&IFile::get_Length), L"Length 7 2 1: The total number of bytes of metadata stored"},
    {Slot(&IFile::get_Types), L"Types 8 2 1: The metadata types associated with this file"}};
// IFile2's own members, after IFile's.
const std::vector<Function> kFile2 = {
    {Slot(&IFile2::get_Items),
     L"Items 9 2 1: The metadata items of this file, each with its size in bytes"},
    {Slot(&IFile2::ReadText), L"ReadText 10 1 2: Reads one item of metadata as text"},
    {Slot(&IFile2::ReadData), L"ReadData 11 1 2: Reads one item of metadata as an array of bytes"}};
const std::vector<Function> kFile3 = {
    {Slot(&IFile3::get_Names), L"Names 12 2 1: The names of the metadata items of this file"}};
const std::vector<Function> kMetaData = {
    {Slot(&IMetaData::get_Name), L"Name 1 2 1: The name of the metadata type"},
    {Slot(&IMetaData::get_Length), L"Length 2 2 1: The length of the metadata in bytes"},
    {Slot(&IMetaData::get_Text), L"Text 3 2 1: The metadata as text"},
    {Slot(&IMetaData::put_Text), L"Text 3 4 1: The metadata as text"},
    {Slot(&IMetaData::get_Data), L"Data 4 2 1: The metadata as an array of bytes"},
    {Slot(&IMetaData::put_Data), L"Data 4 4 1: The metadata as an array of bytes"},
    {Slot(&IMetaData::Delete), L"Delete 5 1 0: Deletes the metadata"},
    {Slot(&IMetaData::Close), L"Close 6 1 0: Releases all resources associated with this object"}};
const std::vector<Function> kStrings = {
    {Slot(&IStrings::get__NewEnum), L"_NewEnum -4 2 1: internal property _NewEnum"},
    {Slot(&IStrings::get_Item), L"Item 0 2 2: Returns a particular string referenced by index"},
    {Slot(&IStrings::get_Count), L"Count 1 2 1: The number of strings available"}};

// "index name: help; kind flags", then the one type it implements, by name, and its flags.
std::wstring Describe(ITypeLib* library, REFGUID guid) {
    ComPtr<ITypeInfo> info, implemented;
    ComPtr<ITypeLib> containing;
    UINT index = 0;
    HREFTYPE ref = 0;
    INT flags = -1;
    TYPEATTR* attr = nullptr;
    if (FAILED(library->GetTypeInfoOfGuid(guid, info.out())) ||
        FAILED(info->GetContainingTypeLib(containing.out(), &index)) ||
        FAILED(info->GetImplTypeFlags(0, &flags)) || FAILED(info->GetRefTypeOfImplType(0, &ref)) ||
        FAILED(info->GetRefTypeInfo(ref, implemented.out())) || FAILED(info->GetTypeAttr(&attr)))
        return L"missing";
    const std::wstring doc = Doc(implemented.get(), MEMBERID_NIL);
    const std::wstring text = std::to_wstring(index) + L" " + Doc(info.get(), MEMBERID_NIL) +
                              L"; " + std::to_wstring(attr->typekind) + L" " +
                              std::to_wstring(attr->wTypeFlags) + L", " +
                              std::to_wstring(attr->cImplTypes) + L" " +
                              doc.substr(0, doc.find(L':')) + L" " + std::to_wstring(flags);
    info->ReleaseTypeAttr(attr);
    return text;
}

// The function-table form of a dual interface, as the library records it; `inherited`: the
// slots of the interface it extends, beyond IDispatch's.
std::vector<Function> FunctionTable(ITypeLib* library, REFIID iid, UINT inherited = 0) {
    std::vector<Function> functions;
    ComPtr<ITypeInfo> dispatch, table;
    HREFTYPE ref = 0;
    TYPEATTR* attr = nullptr;
    if (FAILED(library->GetTypeInfoOfGuid(iid, dispatch.out())) ||
        FAILED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) ||
        FAILED(dispatch->GetRefTypeInfo(ref, table.out())) || FAILED(table->GetTypeAttr(&attr)))
        return functions;
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    // Recorded for 32-bit Windows: four bytes per slot after IUnknown's and IDispatch's seven.
    EXPECT_EQ(attr->cbSizeVft, (7 + inherited + attr->cFuncs) * 4);
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(table->GetFuncDesc(i, &f))) break;
        EXPECT_EQ(std::make_tuple(f->callconv, f->wFuncFlags, f->elemdescFunc.tdesc.vt),
                  std::make_tuple(CC_STDCALL, 0, VT_HRESULT));
        std::wstring doc = Doc(table.get(), f->memid);
        doc.insert(doc.find(L':'), L" " + std::to_wstring(f->memid) + L" " +
                                       std::to_wstring(f->invkind) + L" " +
                                       std::to_wstring(f->cParams));
        functions.emplace_back(f->oVft, doc);
        table->ReleaseFuncDesc(f);
    }
    table->ReleaseTypeAttr(attr);
    return functions;
}

TEST_F(ClientTest, TypeLibraryAgreesWithTheHeader) {
    ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(DllPath().c_str(), REGKIND_NONE, library.out()), S_OK);
    TLIBATTR* lib = nullptr;
    ASSERT_EQ(library->GetLibAttr(&lib), S_OK);
    EXPECT_TRUE(IsEqualGUID(lib->guid, LIBID_Quarrow2));
    // One library for both DLLs; the runtime adds LIBFLAG_FHASDISKIMAGE as it reads a file.
    EXPECT_EQ(std::make_tuple(lib->wMajorVerNum, lib->wMinorVerNum, lib->lcid, lib->syskind,
                              lib->wLibFlags & ~LIBFLAG_FHASDISKIMAGE),
              std::make_tuple(1, 0, 0ul, SYS_WIN32, 0));
    library->ReleaseTLibAttr(lib);
    EXPECT_EQ(Doc(library.get(), -1), L"Quarrow2: Quarrow 2.0 Library");

    // TKIND_COCLASS 5, TKIND_DISPATCH 4; 4160 = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE.
    const std::pair<const GUID*, std::wstring> types[] = {
        // File's default interface is IFile3, which extends IFile2 and IFile; all are listed.
        {&CLSID_File, L"0 File: An object that holds a reference to a file; 5 2, 3 IFile3 1"},
        {&IID_IFile, L"1 IFile: IFile Interface; 4 4160, 1 IDispatch 0"},
        {&IID_IMetaData, L"2 IMetaData: IMetaData Interface; 4 4160, 1 IDispatch 0"},
        {&IID_IStrings, L"3 IStrings: IStrings Interface; 4 4160, 1 IDispatch 0"},
        {&IID_IFile2, L"4 IFile2: IFile2 Interface; 4 4160, 1 IDispatch 0"},
        {&IID_IFile3, L"5 IFile3: IFile3 Interface; 4 4160, 1 IDispatch 0"},
        {&CLSID_MetaData,
         L"6 MetaData: An item of metadata associated with a file; 5 0, 1 IMetaData 1"},
        {&CLSID_Strings, L"7 Strings: A collection of strings; 5 0, 1 IStrings 1"}};
    EXPECT_EQ(library->GetTypeInfoCount(), std::size(types));
    for (const auto& [guid, expected] : types) EXPECT_EQ(Describe(library.get(), *guid), expected);
    EXPECT_EQ(FunctionTable(library.get(), IID_IFile), kFile);
    EXPECT_EQ(FunctionTable(library.get(), IID_IFile2, 8), kFile2);
    EXPECT_EQ(FunctionTable(library.get(), IID_IFile3, 11), kFile3);
    EXPECT_EQ(FunctionTable(library.get(), IID_IMetaData), kMetaData);
    EXPECT_EQ(FunctionTable(library.get(), IID_IStrings), kStrings);
}

TEST(ResourcesTest, VersionNameAndScripts) {
    const std::wstring path = DllPath();
    std::vector<BYTE> block(GetFileVersionInfoSizeW(path.c_str(), nullptr));
    const DWORD size = static_cast<DWORD>(block.size());
    ASSERT_TRUE(size && GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    UINT length = 0;
    auto query = [&](const std::wstring& what) {
        void* value = nullptr;
        return VerQueryValueW(block.data(), what.c_str(), &value, &length) ? value : nullptr;
    };
    const auto* fixed = static_cast<VS_FIXEDFILEINFO*>(query(L"\\"));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(
        std::make_tuple(fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS,
                        fixed->dwProductVersionLS, fixed->dwFileOS, fixed->dwFileType),
        std::make_tuple(0x20000ul, 1ul, 0x20000ul, 1ul, DWORD{VOS__WINDOWS32}, DWORD{VFT_DLL}));
    const auto* translation = static_cast<WORD*>(query(L"\\VarFileInfo\\Translation"));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(std::make_pair(translation[0], translation[1]),
              std::make_pair(WORD{0x409}, WORD{1200}));
    // OLESelfRegister, present and empty, marks the DLL self-registering.
    const std::pair<const wchar_t*, std::wstring> strings[] = {
        {L"FileDescription", L"Quarrow MetaData Library"},
        {L"FileVersion", L"2.0.0.1"},
        {L"ProductVersion", L"2.0.0.1"},
        {L"InternalName", L"Quarrow"},
        {L"ProductName", L"Quarrow"},
        {L"OriginalFilename", L"Quarrow2.DLL"},
        {L"OLESelfRegister", L""}};
    for (const auto& [name, value] : strings) {
        const auto* text = static_cast<const wchar_t*>(
            query(std::wstring(L"\\StringFileInfo\\040904B0\\") + name));
        EXPECT_EQ(!text ? L"<missing>" : std::wstring(length ? text : L""), value);
    }
    const HMODULE dll = Dll();
    wchar_t name[32] = {};
    EXPECT_EQ(LoadStringW(dll, 100, name, 32), 7);
    EXPECT_STREQ(name, L"Quarrow");
    // The registration test shows the scripts' entries; not that each keeps CLSID on removal.
    for (WORD id : {101, 102, 103}) {
        HRSRC script = FindResourceW(dll, MAKEINTRESOURCEW(id), L"REGISTRY");
        const char* text = static_cast<const char*>(LockResource(LoadResource(dll, script)));
        EXPECT_NE(std::string(text, SizeofResource(dll, script)).find("key CLSID keep"),
                  std::string::npos)
            << id;
    }
}

}  // namespace
}  // namespace quarrow2::test

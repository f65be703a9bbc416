#include "metadata_client.h"

#include <cstring>
#include <filesystem>
#include <new>

#include "console.h"
#include "failure.h"

namespace quarrow2::tool {
namespace {

namespace fs = std::filesystem;

UniqueBstr make_bstr(const WString& text) {
    UniqueBstr result(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    if (!result.get()) throw std::bad_alloc();
    return result;
}

WString absolute_library_path(const std::string& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(fs::u8path(path), error);
    if (error) throw Failure("Unable to resolve the path: " + error.message() + ".", path);
    std::string utf8 = absolute.u8string();
    if (find_invalid_utf8(utf8)) throw Failure("The path is not valid UTF-8.", path);
    return utf16_from_utf8(utf8);
}

ComPtr<IFile> create_file_object(const Library& library, const std::string& path) {
    ComPtr<IClassFactory> factory;
    HRESULT status = library.get_class_object(CLSID_File, IID_IClassFactory, factory.out_void());
    if (FAILED(status))
        throw Failure("Unable to get the File class object: " +
                          take_error_description(nullptr, IID_NULL, status),
                      path);
    ComPtr<IFile> file;
    status = factory->CreateInstance(nullptr, IID_IFile, file.out_void());
    if (FAILED(status))
        throw Failure(
            "Unable to create a File object: " + take_error_description(nullptr, IID_NULL, status),
            path);
    return file;
}

}  // namespace

MetadataItem::MetadataItem(ComPtr<IMetaData> item, std::string path, std::string type)
    : item_(std::move(item)), path_(std::move(path)), type_(std::move(type)) {}

void MetadataItem::fail(HRESULT status) {
    throw Failure(take_error_description(item_.get(), IID_IMetaData, status), path_, type_);
}

std::uint32_t MetadataItem::length() {
    LONG length = 0;
    HRESULT status = item_->get_Length(&length);
    if (FAILED(status)) fail(status);
    return static_cast<std::uint32_t>(length);
}

std::string MetadataItem::text_utf8() {
    UniqueBstr text;
    HRESULT status = item_->get_Text(text.out());
    if (FAILED(status)) fail(status);
    const char* not_text = nullptr;
    std::optional<std::string> utf8;
    if (text.byte_length() % 2 != 0)
        not_text = "The value is not text: it has an odd number of bytes.";
    else if (!(utf8 = utf8_from_utf16(text.get(), text.length())))
        not_text = "The value is not text: it holds an unpaired surrogate.";
    if (not_text)
        throw Failure(std::string(not_text) + " Read it with --bytes or --hex.", path_, type_);
    return *utf8;
}

Bytes MetadataItem::bytes() {
    UniqueVariant data;
    HRESULT status = item_->get_Data(data.out());
    if (FAILED(status)) fail(status);
    const VARIANT& value = data.value();
    if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray)
        throw Failure("The library returned something other than a byte array.", path_, type_);
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(value.parray, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(value.parray, 1, &upper)))
        throw Failure("The byte array has no bounds.", path_, type_);
    Bytes bytes;
    if (upper < lower) return bytes;
    ArrayAccess access(value.parray);
    if (!access.granted() || !access.data())
        throw Failure("The byte array cannot be read.", path_, type_);
    bytes.resize(static_cast<size_t>(upper) - static_cast<size_t>(lower) + 1);
    std::memcpy(bytes.data(), access.data(), bytes.size());
    return bytes;
}

void MetadataItem::put_text(const WString& text) {
    UniqueBstr value = make_bstr(text);
    HRESULT status = item_->put_Text(value.get());
    if (FAILED(status)) fail(status);
}

void MetadataItem::put_bytes(const Bytes& bytes) {
    UniqueVariant data;
    SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    if (!array) throw std::bad_alloc();
    data.get()->vt = VT_ARRAY | VT_UI1;
    data.get()->parray = array;
    if (!bytes.empty()) {
        ArrayAccess access(array);
        if (!access.granted() || !access.data()) throw std::bad_alloc();
        std::memcpy(access.data(), bytes.data(), bytes.size());
    }
    HRESULT status = item_->put_Data(data.value());
    if (FAILED(status)) fail(status);
}

void MetadataItem::remove() {
    HRESULT status = item_->Delete();
    if (FAILED(status)) fail(status);
}

MetadataFile::MetadataFile(const Library& library, const std::string& path)
    : file_(create_file_object(library, path)), path_(path) {
    UniqueBstr library_path = make_bstr(absolute_library_path(path));
    VARIANT_BOOL supported = VARIANT_FALSE;
    HRESULT status = file_->SetFile(library_path.get(), &supported);
    if (FAILED(status)) fail(status);
    supports_streams_ = supported != VARIANT_FALSE;
}

void MetadataFile::fail(HRESULT status, const std::optional<std::string>& type) {
    throw Failure(take_error_description(file_.get(), IID_IFile, status), path_, type);
}

bool MetadataFile::exists() {
    VARIANT_BOOL exists = VARIANT_FALSE;
    HRESULT status = file_->get_Exists(&exists);
    if (FAILED(status)) fail(status);
    return exists != VARIANT_FALSE;
}

std::vector<WString> MetadataFile::types() {
    ComPtr<IStrings> strings;
    HRESULT status = file_->get_Types(strings.out());
    if (FAILED(status)) fail(status);

    // Walked as a script's For Each walks it, through the collection's enumerator.
    ComPtr<IUnknown> unknown;
    ComPtr<IEnumVARIANT> walk;
    status = strings->get__NewEnum(unknown.out());
    if (SUCCEEDED(status)) status = unknown->QueryInterface(IID_IEnumVARIANT, walk.out_void());
    if (FAILED(status))
        throw Failure(
            "Unable to list the types: " + take_error_description(nullptr, IID_NULL, status),
            path_);

    std::vector<WString> types;
    for (;;) {
        UniqueVariant entry;
        ULONG fetched = 0;
        status = walk->Next(1, entry.out(), &fetched);
        if (FAILED(status))
            throw Failure(
                "Unable to list the types: " + take_error_description(nullptr, IID_NULL, status),
                path_);
        if (status == S_FALSE || fetched == 0) break;
        const VARIANT& value = entry.value();
        if (value.vt == VT_ERROR)
            throw Failure("Unable to list the types: " +
                              take_error_description(nullptr, IID_NULL, value.scode),
                          path_);
        if (value.vt != VT_BSTR)
            throw Failure("The type list holds something other than text.", path_);
        types.push_back(value.bstrVal ? WString(value.bstrVal, SysStringLen(value.bstrVal))
                                      : WString());
    }
    if (carries_both_layouts(path_))
        report_failure(
            "warning: \"" + path_ +
            "\" carries items in both layouts (user.T and Samba's "
            "user.DosStream.T:$DATA); only those of its file system's layout are shown.");
    return types;
}

std::uint32_t MetadataFile::total_length() {
    LONG length = 0;
    HRESULT status = file_->get_Length(&length);
    if (FAILED(status)) fail(status);
    return static_cast<std::uint32_t>(length);
}

MetadataItem MetadataFile::open(const WString& type, const std::string& shown_type) {
    return item(&IFile::Open, type, shown_type);
}

MetadataItem MetadataFile::add(const WString& type, const std::string& shown_type) {
    return item(&IFile::Add, type, shown_type);
}

MetadataItem MetadataFile::item(ItemMethod method, const WString& type,
                                const std::string& shown_type) {
    UniqueBstr name = make_bstr(type);
    ComPtr<IMetaData> item;
    HRESULT status = (file_.get()->*method)(name.get(), item.out());
    if (FAILED(status)) fail(status, shown_type);
    return MetadataItem(std::move(item), path_, shown_type);
}

}  // namespace quarrow2::tool

#include "python/extension/library_objects.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "python/extension/values.h"

namespace quarrow2::python {
namespace {

namespace py = pybind11;

std::u16string Units(const UniqueBstr& text) {
    return text.get() ? std::u16string(text.get(), text.length()) : std::u16string();
}

std::u16string DescribeStatus(HRESULT status) {
    if (status == E_OUTOFMEMORY) return u"Not enough memory.";
    if (status == E_INVALIDARG) return u"Invalid argument.";
    char text[64];
    std::snprintf(text, sizeof text, "The library failed with status 0x%08X.",
                  static_cast<unsigned>(status));
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

// Runs on the thread of the failed call, before anything else can leave a rich error there.
LibraryError TakeFailure(IUnknown* object, REFIID iid, HRESULT status) {
    LibraryError error{status, {}, {}, 0, {}};
    if (OffersRichErrors(object, iid)) {
        RichError rich = TakeRichError();
        error.code = rich.code;
        error.message = Units(rich.description);
        while (!error.message.empty() &&
               (error.message.back() == u'\n' || error.message.back() == u'\r' ||
                error.message.back() == u' '))
            error.message.pop_back();
        error.source = Units(rich.source);
    }
    // HRESULT_FROM_WIN32(code): the status itself names the cause.
    if (error.code == 0 && (static_cast<uint32_t>(status) & 0xFFFF0000u) == 0x80070000u)
        error.code = static_cast<DWORD>(status) & 0xFFFFu;
    if (error.message.empty()) error.message = DescribeStatus(status);
    return error;
}

// One call into the library, with the GIL released for its whole length; a failure names
// the file the object was bound to.
template <class Interface, class Call>
void Invoke(const Reference<Interface>& reference, REFIID iid, const Binding& binding, Call call) {
    const ComPtr<Interface>& object = reference.get();
    std::optional<LibraryError> failure;
    {
        py::gil_scoped_release unlocked;
        const HRESULT status = call(object.get());
        if (FAILED(status)) failure = TakeFailure(object.get(), iid, status);
    }
    if (failure) {
        failure->filename = binding.filename;
        throw *failure;
    }
}

template <class Interface, class Declaring, class Value>
Value Get(const Reference<Interface>& object, REFIID iid, const Binding& binding,
          HRESULT (STDMETHODCALLTYPE Declaring::*getter)(Value*)) {
    Value value{};
    Invoke(object, iid, binding, [&](Interface* o) { return (o->*getter)(&value); });
    return value;
}

ComPtr<IFile3> CreateFileObject() {
    ComPtr<IFile3> file;
    HRESULT status;
    {
        py::gil_scoped_release unlocked;
        status = MakeFile(DllGetClassObject, IID_IFile3, file);
    }
    if (FAILED(status)) throw LibraryError{status, DescribeStatus(status), {}, 0, {}};
    return file;
}

Item OpenItem(const Reference<IFile3>& file, const Binding& binding, py::handle type,
              HRESULT (STDMETHODCALLTYPE IFile::*method)(BSTR, IMetaData**)) {
    UniqueBstr name = BstrFromName(type);
    ComPtr<IMetaData> item;
    Invoke(file, IID_IFile, binding,
           [&](IFile* f) { return (f->*method)(name.get(), item.out()); });
    return Item(std::move(item), binding, py::reinterpret_borrow<py::object>(type));
}

// A size cell of Items: a Long, a Double from 2 GiB on, Null for a name no item can have.
py::object SizeOf(const VARIANT& size) {
    if (size.vt == VT_I4) return py::int_(size.lVal);
    if (size.vt == VT_R8) return py::int_(static_cast<unsigned long long>(size.dblVal));
    if (size.vt == VT_NULL) return py::none();
    throw py::type_error("the library's list of items holds a size that is not a number");
}

const Binding kNoBinding;

}  // namespace

py::str Item::Name() const {
    UniqueBstr name;
    Invoke(item_, IID_IMetaData, binding_, [&](IMetaData* i) { return i->get_Name(name.out()); });
    return StrFromBstr(name);
}

LONG Item::Length() const { return Get(item_, IID_IMetaData, binding_, &IMetaData::get_Length); }

py::str Item::Text() const {
    UniqueBstr text;
    Invoke(item_, IID_IMetaData, binding_, [&](IMetaData* i) { return i->get_Text(text.out()); });
    return StrFromBstr(text);
}

void Item::SetText(py::handle text) const {
    UniqueBstr value = BstrFromStr(text);
    Invoke(item_, IID_IMetaData, binding_, [&](IMetaData* i) { return i->put_Text(value.get()); });
}

py::bytes Item::Data() const {
    UniqueVariant data;
    Invoke(item_, IID_IMetaData, binding_, [&](IMetaData* i) { return i->get_Data(data.out()); });
    return BytesFromByteArray(data.value());
}

void Item::SetData(py::handle data) const {
    UniqueVariant value;
    ByteArrayFromBuffer(data, value);
    Invoke(item_, IID_IMetaData, binding_,
           [&](IMetaData* i) { return i->put_Data(value.value()); });
}

void Item::Delete() const {
    Invoke(item_, IID_IMetaData, binding_, [](IMetaData* i) { return i->Delete(); });
}

void Item::Close() const {
    Invoke(item_, IID_IMetaData, binding_, [](IMetaData* i) { return i->Close(); });
}

py::str Item::Repr() const {
    return py::str("<quarrow2.MetaData {!r} of {!r}>").format(type_, binding_.filename);
}

LONG Strings::Count() const {
    return Get(strings_, IID_IStrings, kNoBinding, &IStrings::get_Count);
}

py::str Strings::Item(LONG index) const {
    UniqueVariant entry;
    Invoke(strings_, IID_IStrings, kNoBinding,
           [&](IStrings* s) { return s->get_Item(index, entry.out()); });
    if (entry->vt != VT_BSTR)
        throw py::type_error("the collection holds something other than text");
    return StrFromUtf16(entry->bstrVal, SysStringByteLen(entry->bstrVal));
}

py::list Strings::All() const {
    std::vector<UniqueBstr> names;
    Invoke(strings_, IID_IStrings, kNoBinding, [&](IStrings* s) {
        LONG count = 0;
        HRESULT status = s->get_Count(&count);
        for (LONG i = 1; SUCCEEDED(status) && i <= count; ++i) {
            UniqueVariant entry;
            status = s->get_Item(i, entry.out());
            if (SUCCEEDED(status) && entry->vt != VT_BSTR) status = DISP_E_TYPEMISMATCH;
            if (SUCCEEDED(status)) {
                names.emplace_back(entry.get()->bstrVal);
                entry.get()->vt = VT_EMPTY;  // the string is the list's now
            }
        }
        return status;
    });
    py::list result(names.size());
    for (size_t i = 0; i < names.size(); ++i) result[i] = StrFromBstr(names[i]);
    return result;
}

py::str Strings::At(py::ssize_t index) const {
    const LONG count = Count();
    if (index < 0) index += count;
    if (index < 0 || index >= count) throw py::index_error("Types index out of range");
    return Item(static_cast<LONG>(index) + 1);
}

File::File() : file_(CreateFileObject()) {}

bool File::SetFile(py::handle path, py::object filename, py::object keeper) {
    UniqueBstr library_path = BstrFromName(path);
    Binding binding{filename.is_none() ? py::reinterpret_borrow<py::object>(path) : filename,
                    std::move(keeper)};
    VARIANT_BOOL streams = VARIANT_FALSE;
    Invoke(file_, IID_IFile, binding,
           [&](IFile* f) { return f->SetFile(library_path.get(), &streams); });
    binding_ = std::move(binding);
    return streams != VARIANT_FALSE;
}

void File::Close() {
    Invoke(file_, IID_IFile, binding_, [](IFile* f) { return f->Close(); });
    binding_ = Binding();
}

Item File::Open(py::handle type) const { return OpenItem(file_, binding_, type, &IFile::Open); }

Item File::Add(py::handle type) const { return OpenItem(file_, binding_, type, &IFile::Add); }

bool File::Supported() const {
    return Get(file_, IID_IFile, binding_, &IFile::get_Supported) != VARIANT_FALSE;
}

bool File::Exists() const {
    return Get(file_, IID_IFile, binding_, &IFile::get_Exists) != VARIANT_FALSE;
}

LONG File::Length() const { return Get(file_, IID_IFile, binding_, &IFile::get_Length); }

Strings File::Types() const {
    ComPtr<IStrings> strings;
    Invoke(file_, IID_IFile, binding_, [&](IFile* f) { return f->get_Types(strings.out()); });
    return Strings(std::move(strings));
}

template <class Row>
void File::EachItem(Row row) const {
    UniqueVariant items;
    Invoke(file_, IID_IFile2, binding_, [&](IFile2* f) { return f->get_Items(items.out()); });
    VariantTable table(items.value());
    if (FAILED(table.result()) || (table.rows() && table.columns() != 2))
        throw py::type_error("the library's list of items is not a table of names and sizes");
    for (ULONG i = 0; i < table.rows(); ++i) {
        const VARIANT& name = table.at(i, 0);
        if (name.vt != VT_BSTR)
            throw py::type_error("the library's list of items holds a name that is not text");
        row(name.bstrVal, table.at(i, 1));
    }
}

py::tuple File::Items() const {
    py::list rows;
    EachItem([&](BSTR name, const VARIANT& size) {
        rows.append(py::make_tuple(StrFromUtf16(name, SysStringByteLen(name)), SizeOf(size)));
    });
    return py::tuple(std::move(rows));
}

py::tuple File::Names() const {
    UniqueVariant names;
    Invoke(file_, IID_IFile3, binding_, [&](IFile3* f) { return f->get_Names(names.out()); });
    // One column of names, as VariantTable reads a one-dimensional array.
    VariantTable list(names.value());
    if (FAILED(list.result()) || list.columns() > 1)
        throw py::type_error("the library's list of names is not a list");
    py::tuple result(list.rows());
    for (ULONG i = 0; i < list.rows(); ++i) {
        const VARIANT& name = list.at(i, 0);
        if (name.vt != VT_BSTR)
            throw py::type_error("the library's list of names holds a name that is not text");
        result[i] = StrFromUtf16(name.bstrVal, SysStringByteLen(name.bstrVal));
    }
    return result;
}

py::str File::ReadText(py::handle type) const {
    UniqueBstr name = BstrFromName(type);
    UniqueBstr text;
    Invoke(file_, IID_IFile2, binding_,
           [&](IFile2* f) { return f->ReadText(name.get(), text.out()); });
    return StrFromBstr(text);
}

py::bytes File::ReadData(py::handle type) const {
    UniqueBstr name = BstrFromName(type);
    UniqueVariant data;
    Invoke(file_, IID_IFile2, binding_,
           [&](IFile2* f) { return f->ReadData(name.get(), data.out()); });
    return BytesFromByteArray(data.value());
}

py::str File::Repr() const {
    if (!binding_.filename) return py::str("<quarrow2.File (no path)>");
    return py::str("<quarrow2.File {!r}>").format(binding_.filename);
}

}  // namespace quarrow2::python

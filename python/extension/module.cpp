// _quarrow2: the library's File, MetaData and Strings objects for Python, by the names and
// with the members the automation interfaces give them, so a script written against the
// Windows server runs unchanged. The package quarrow2 adds the Pythonic layer on top.
#include <pybind11/pybind11.h>

#include "python/extension/library_objects.h"
#include "python/extension/values.h"

namespace py = pybind11;
using quarrow2::python::File;
using quarrow2::python::Item;
using quarrow2::python::LibraryError;
using quarrow2::python::Strings;

namespace {

py::str Text(const std::u16string& units) {
    return quarrow2::python::StrFromUtf16(units.data(), units.size() * sizeof(char16_t));
}

template <class Object>
void Closable(py::class_<Object>& type, const char* what) {
    type.def("__enter__", [](py::object self) { return self; })
        .def(
            "__exit__", [](const Object& self, py::args) { self.Close(); },
            (std::string("Closes the ") + what + " at the end of a with block.").c_str());
}

}  // namespace

PYBIND11_MODULE(_quarrow2, m) {
    m.doc() = "The library's objects by their automation names (use the package quarrow2).";

    static py::exception<LibraryError> error(m, "Error");
    error.doc() =
        "A failure the library reported: str() and .message are its rich error's text (the "
        "fixed message, then the system's), .hresult its status (signed, as HRESULTs are), "
        ".source the ProgID of the class that reported it.";
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const LibraryError& e) {
            py::str message = Text(e.message);
            py::object instance = py::handle(error.ptr())(message);
            instance.attr("message") = message;
            instance.attr("hresult") = static_cast<int32_t>(e.status);
            instance.attr("source") = Text(e.source);
            PyErr_SetObject(error.ptr(), instance.ptr());
        }
    });

    py::class_<Strings> strings(m, "Strings", "A read-only collection of strings (File.Types).");
    strings.def_property_readonly("Count", &Strings::Count, "How many strings it holds.")
        .def("Item", &Strings::Item, py::arg("index"), "The string at index (from 1).")
        .def("__call__", &Strings::Item, py::arg("index"), "Item(index), the default member.")
        .def("__len__", &Strings::Count)
        .def("__iter__", [](const Strings& s) { return py::iter(s.All()); });

    py::class_<Item> item(m, "MetaData", "One item of metadata: one named stream of one file.");
    item.def_property_readonly("Name", &Item::Name, "The item's type name.")
        .def_property_readonly("Length", &Item::Length, "The stored size in bytes.")
        .def_property("Text", &Item::Text, &Item::SetText,
                      "The value as text (UTF-16 stored); UnicodeDecodeError when its byte "
                      "count is odd.")
        .def_property("Data", &Item::Data, &Item::SetData,
                      "The value as bytes; set from any bytes-like object.")
        .def("Delete", &Item::Delete, "Removes the item from its file and closes it.")
        .def("Close", &Item::Close, "Closes the item; later calls fail.");
    Closable(item, "item");

    py::class_<File> file(m, "File", "A reference to one file by its path.");
    file.def(py::init<>())
        .def("SetFile", &File::SetFile, py::arg("path"),
             "Binds the object to the file at path (str); True when its volume keeps named "
             "streams.")
        .def("Close", &File::Close, "Releases the binding to the file.")
        .def("Open", &File::Open, py::arg("type"), "The existing item of this type name.")
        .def("Add", &File::Add, py::arg("type"),
             "The item of this type name, made empty when missing (with the file).")
        .def_property_readonly("Supported", &File::Supported,
                               "Whether the file's volume keeps named streams.")
        .def_property_readonly("Exists", &File::Exists, "Whether the file can be opened.")
        .def_property_readonly("Length", &File::Length, "The sizes of all items together.")
        .def_property_readonly("Types", &File::Types, "The type names of the file's items.");
    Closable(file, "file");
}

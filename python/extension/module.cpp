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
            "__exit__", [](Object& self, py::args) { self.Close(); },
            (std::string("Closes the ") + what + " at the end of a with block.").c_str());
}

}  // namespace

PYBIND11_MODULE(_quarrow2, m) {
    m.doc() = "The library's objects by their automation names (use the package quarrow2).";

    // Failures become the exceptions of quarrow2._errors: OSErrors by the code behind them.
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const LibraryError& e) {
            py::object error =
                py::module_::import("quarrow2._errors")
                    .attr("library_error")(Text(e.message), static_cast<int32_t>(e.status),
                                           Text(e.source), e.code,
                                           e.filename ? e.filename : py::none());
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
        }
    });

    py::class_<Strings> strings(m, "Strings", "A read-only collection of strings (File.Types).");
    strings.def_property_readonly("Count", &Strings::Count, "How many strings it holds.")
        .def("Item", &Strings::Item, py::arg("index"), "The string at index (from 1).")
        .def("__call__", &Strings::Item, py::arg("index"), "Item(index), the default member.")
        .def("__len__", &Strings::Count)
        .def("__iter__", [](const Strings& s) { return py::iter(s.All()); })
        .def("__getitem__", &Strings::At, py::arg("index"),
             "The string at index, from 0 (negative: from the end), as sequences count.")
        .def("__getitem__",
             [](const Strings& s, py::slice slice) -> py::object {
                 py::list all = s.All();
                 return all[slice];
             })
        .def(
            "index",
            [](const Strings& s, py::handle value) { return s.All().attr("index")(value); },
            py::arg("value"), "The first index (from 0) of value; ValueError when absent.")
        .def(
            "count",
            [](const Strings& s, py::handle value) { return s.All().attr("count")(value); },
            py::arg("value"), "How many times value occurs.");

    py::class_<Item> item(m, "MetaData", "One item of metadata: one named stream of one file.");
    item.def_property_readonly("Name", &Item::Name, "The item's type name.")
        .def_property_readonly("Length", &Item::Length, "The stored size in bytes.")
        .def_property("Text", &Item::Text, &Item::SetText,
                      "The value as text (UTF-16 stored); UnicodeDecodeError when its byte "
                      "count is odd.")
        .def_property("Data", &Item::Data, &Item::SetData,
                      "The value as bytes; set from any bytes-like object.")
        .def("Delete", &Item::Delete, "Removes the item from its file and closes it.")
        .def("Close", &Item::Close, "Closes the item; later calls fail.")
        .def("__repr__", &Item::Repr);
    Closable(item, "item");

    py::class_<File> file(m, "File", "A reference to one file by its path.");
    file.def(py::init<>())
        .def("SetFile", &File::SetFile, py::arg("path"), py::arg("filename") = py::none(),
             py::arg("keeper") = py::none(),
             "Binds the object to the file at path (str); True when its volume keeps named "
             "streams. filename names the file in errors and repr (path when None); keeper "
             "lives as long as the binding and the items opened through it.")
        .def("Close", &File::Close, "Releases the binding to the file.")
        .def("Open", &File::Open, py::arg("type"), "The existing item of this type name.")
        .def("Add", &File::Add, py::arg("type"),
             "The item of this type name, made empty when missing (with the file).")
        .def_property_readonly("Supported", &File::Supported,
                               "Whether the file's volume keeps named streams.")
        .def_property_readonly("Exists", &File::Exists, "Whether the file can be opened.")
        .def_property_readonly("Length", &File::Length, "The sizes of all items together.")
        .def_property_readonly("Types", &File::Types, "The type names of the file's items.")
        .def_property_readonly(
            "Items", &File::Items,
            "The file's items in one walk, as rows (type name, size in bytes), in the file "
            "system's order; a name that no item can have (another program's attribute whose "
            "name holds a colon) has None as its size. Fails with the cause where Types and "
            "Length answer no items: an empty tuple is a file without items.")
        .def("ReadText", &File::ReadText, py::arg("type"),
             "The item's value as text, read once, sharing the item with every other reader "
             "and writer; FileNotFoundError (winerror 1168) when the file has no such item.")
        .def("ReadData", &File::ReadData, py::arg("type"),
             "The item's value as bytes, read as ReadText reads it.")
        .def_property_readonly(
            "Names", &File::Names,
            "The type names of the file's items, in the file system's order, listed without "
            "their sizes; another program's attribute whose name holds a colon is left out. "
            "Fails as Items does.")
        .def("__repr__", &File::Repr);
    Closable(file, "file");
}

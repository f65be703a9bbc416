// The library's objects as the module hands them to Python: File (by IFile3, which extends
// IFile2 and IFile), MetaData and Strings, each holding one reference to its interface, so two
// threads sharing one object never race on the holder, and the Python objects that name its file
// (touched with the GIL held only). Every call into the library runs with the GIL released, the
// last Release too (it closes the object's handles); a failure throws LibraryError with the rich
// error the call left and the file it concerned.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "quarrow2/client.h"

namespace quarrow2::python {

// Holds one reference, dropped with the GIL released.
template <class Interface>
class Reference {
public:
    explicit Reference(ComPtr<Interface> object) : object_(std::move(object)) {}
    Reference(Reference&&) = default;
    ~Reference() {
        if (!object_) return;
        pybind11::gil_scoped_release unlocked;
        object_.reset();
    }
    const ComPtr<Interface>& get() const { return object_; }

private:
    ComPtr<Interface> object_;
};

// A failed call: its status and, when the object offers one, its rich error. The message
// is the description as the C++ tool reads it (line ends trimmed), or an account of the
// status when there is none; the code is the Windows code behind it (0: none): the one the
// rich error leaves as the last error, else the one a HRESULT_FROM_WIN32 status carries
// (IFile2's members name their cause that way).
struct LibraryError {
    HRESULT status;
    std::u16string message;
    std::u16string source;
    DWORD code = 0;
    pybind11::object filename;  // the file as the caller named it; null when none
};

// What a File is bound to, as Python sees it: the file as the caller named it (for errors
// and repr), and an object that must live as long as anything uses the path handed to the
// library (the descriptor that a /proc/self/fd path goes through), items included.
struct Binding {
    pybind11::object filename;
    pybind11::object keeper;
};

class Item {
public:
    Item(ComPtr<IMetaData> item, Binding binding, pybind11::object type)
        : binding_(std::move(binding)), type_(std::move(type)), item_(std::move(item)) {}

    pybind11::str Name() const;
    LONG Length() const;
    pybind11::str Text() const;
    void SetText(pybind11::handle text) const;
    pybind11::bytes Data() const;
    void SetData(pybind11::handle data) const;
    void Delete() const;
    void Close() const;
    pybind11::str Repr() const;

private:
    // The item goes first, so its handle is closed before anything its path needs.
    Binding binding_;
    pybind11::object type_;
    Reference<IMetaData> item_;
};

class Strings {
public:
    explicit Strings(ComPtr<IStrings> strings) : strings_(std::move(strings)) {}

    LONG Count() const;
    // Indexed from 1, as automation collections are.
    pybind11::str Item(LONG index) const;
    // Every string, read in one pass with the GIL released.
    pybind11::list All() const;
    // As a Python sequence: from 0, negative indexes from the end, slices as lists.
    pybind11::str At(pybind11::ssize_t index) const;

private:
    Reference<IStrings> strings_;
};

class File {
public:
    File();

    // `filename` (the path itself when None) names the file in errors and repr; `keeper`
    // lives as long as this binding and every item opened through it.
    bool SetFile(pybind11::handle path, pybind11::object filename, pybind11::object keeper);
    void Close();
    Item Open(pybind11::handle type) const;
    Item Add(pybind11::handle type) const;
    bool Supported() const;
    bool Exists() const;
    LONG Length() const;
    Strings Types() const;
    // IFile2: the items in one walk as rows (name, size), a size of None for a name that no
    // item can have, as win32com hands a two-dimensional array to Python; and the one-shot
    // reads, which share the item with every other reader and writer.
    pybind11::tuple Items() const;
    pybind11::str ReadText(pybind11::handle type) const;
    pybind11::bytes ReadData(pybind11::handle type) const;
    // IFile3: the names of the items (another program's colon-named attributes left out),
    // listed without a size asked for each: the mapping's keys.
    pybind11::tuple Names() const;
    pybind11::str Repr() const;

private:
    // get_Items' table, each row handed to `row` (name, size cell) with the GIL held.
    template <class Row>
    void EachItem(Row row) const;

    Binding binding_;
    Reference<IFile3> file_;
};

}  // namespace quarrow2::python

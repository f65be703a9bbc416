// The library's objects as the module hands them to Python: File, MetaData and Strings,
// each holding one reference to its interface and nothing else, so two threads sharing
// one object never race on the holder. Every call into the library runs with the GIL
// released, the last Release too (it closes the object's handles); a failure throws
// LibraryError with the rich error the call left.
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
// status when there is none.
struct LibraryError {
    HRESULT status;
    std::u16string message;
    std::u16string source;
};

class Item {
public:
    explicit Item(ComPtr<IMetaData> item) : item_(std::move(item)) {}

    pybind11::str Name() const;
    LONG Length() const;
    pybind11::str Text() const;
    void SetText(pybind11::handle text) const;
    pybind11::bytes Data() const;
    void SetData(pybind11::handle data) const;
    void Delete() const;
    void Close() const;

private:
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

private:
    Reference<IStrings> strings_;
};

class File {
public:
    File();

    bool SetFile(pybind11::handle path) const;
    void Close() const;
    Item Open(pybind11::handle type) const;
    Item Add(pybind11::handle type) const;
    bool Supported() const;
    bool Exists() const;
    LONG Length() const;
    Strings Types() const;

private:
    Reference<IFile> file_;
};

}  // namespace quarrow2::python

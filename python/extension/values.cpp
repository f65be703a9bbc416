#include "python/extension/values.h"

#include <new>

namespace quarrow2::python {

namespace py = pybind11;

UniqueBstr BstrFromStr(py::handle text) {
    if (!PyUnicode_Check(text.ptr())) throw py::type_error("expected str");
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text.ptr());
    const int kind = PyUnicode_KIND(text.ptr());
    const void* data = PyUnicode_DATA(text.ptr());
    size_t units = static_cast<size_t>(length);
    if (kind == PyUnicode_4BYTE_KIND)
        for (Py_ssize_t i = 0; i < length; ++i)
            if (PyUnicode_READ(kind, data, i) > 0xFFFF) ++units;
    if (units > 0x7FFFFFFF / sizeof(OLECHAR)) throw py::value_error("the text is too long");
    UniqueBstr result(SysAllocStringLen(nullptr, static_cast<UINT>(units)));
    if (!result.get()) throw std::bad_alloc();
    OLECHAR* out = result.get();
    for (Py_ssize_t i = 0; i < length; ++i) {
        const Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c > 0xFFFF) {
            *out++ = static_cast<OLECHAR>(0xD800 + ((c - 0x10000) >> 10));
            *out++ = static_cast<OLECHAR>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            *out++ = static_cast<OLECHAR>(c);
        }
    }
    return result;
}

UniqueBstr BstrFromName(py::handle name) {
    UniqueBstr result = BstrFromStr(name);
    for (UINT i = 0; i < result.length(); ++i)
        if (result.get()[i] == 0) throw py::value_error("embedded null character");
    return result;
}

py::str StrFromUtf16(const void* bytes, size_t count) {
    int little_endian = -1;
    PyObject* text =
        PyUnicode_DecodeUTF16(static_cast<const char*>(bytes), static_cast<Py_ssize_t>(count),
                              "surrogatepass", &little_endian);
    if (!text) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(text);
}

void ByteArrayFromBuffer(py::handle value, UniqueVariant& out) {
    if (PyUnicode_Check(value.ptr())) throw py::type_error("expected bytes, not str");
    Py_buffer view;
    if (PyObject_GetBuffer(value.ptr(), &view, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    struct Release {
        Py_buffer* view;
        ~Release() { PyBuffer_Release(view); }
    } release{&view};
    if (view.len > 0x7FFFFFFF) throw py::value_error("the value is too long");
    if (FAILED(PutByteArray(view.buf, static_cast<size_t>(view.len), out))) throw std::bad_alloc();
}

py::bytes BytesFromByteArray(const VARIANT& value) {
    const ByteArrayView view(value);
    if (view.problem() == ByteArrayView::kNotAByteArray)
        throw py::type_error("the library returned something other than a byte array");
    if (view.problem() == ByteArrayView::kNoBounds)
        throw py::type_error("the byte array has no bounds");
    if (view.problem() == ByteArrayView::kNoAccess) throw std::bad_alloc();
    return py::bytes(static_cast<const char*>(view.data()), view.size());
}

}  // namespace quarrow2::python

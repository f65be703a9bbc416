#include "python/extension/values.h"

#include <cstring>
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

void ByteArrayFromBuffer(py::handle value, VARIANT* out) {
    if (PyUnicode_Check(value.ptr())) throw py::type_error("expected bytes, not str");
    Py_buffer view;
    if (PyObject_GetBuffer(value.ptr(), &view, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    struct Release {
        Py_buffer* view;
        ~Release() { PyBuffer_Release(view); }
    } release{&view};
    if (view.len > 0x7FFFFFFF) throw py::value_error("the value is too long");
    SAFEARRAYBOUND bound{static_cast<ULONG>(view.len), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    if (!array) throw std::bad_alloc();
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = array;  // the caller's variant owns it from here
    if (view.len == 0) return;
    ArrayAccess access(array);
    if (!access.granted() || !access.data()) throw std::bad_alloc();
    std::memcpy(access.data(), view.buf, static_cast<size_t>(view.len));
}

py::bytes BytesFromByteArray(const VARIANT& value) {
    if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray)
        throw py::type_error("the library returned something other than a byte array");
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(value.parray, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(value.parray, 1, &upper)))
        throw py::type_error("the byte array has no bounds");
    if (upper < lower) return py::bytes();
    ArrayAccess access(value.parray);
    if (!access.granted() || !access.data()) throw std::bad_alloc();
    return py::bytes(static_cast<const char*>(access.data()),
                     static_cast<size_t>(upper) - static_cast<size_t>(lower) + 1);
}

}  // namespace quarrow2::python

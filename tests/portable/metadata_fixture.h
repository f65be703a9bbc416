// Items made the way OpenItem makes them, on a stream of a file in a fresh folder; byte
// arrays built and read back; the rich error a MetaData failure is expected to leave.
#pragma once

#include <algorithm>

#include "file_fixture.h"
#include "items/metadata.h"

// A namespace of its own: other suites linked into the same programs have helpers so named.
namespace quarrow2::test::metadata {
using items::MetaData;

using test::PutText;

inline Bytes BytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The bytes of a string, its length prefix aside (odd byte lengths included).
inline Bytes BstrBytes(BSTR s) {
    const BYTE* p = reinterpret_cast<const BYTE*>(s);
    return s ? Bytes(p, p + SysStringByteLen(s)) : Bytes();
}

// A by-value byte-array variant that owns its array of `bytes`.
inline void SetByteArray(VARIANT* v, const Bytes& bytes, LONG lowerBound = 0) {
    VariantClear(v);
    SAFEARRAYBOUND bound = {static_cast<ULONG>(bytes.size()), lowerBound};
    v->vt = VT_ARRAY | VT_UI1;
    v->parray = SafeArrayCreate(VT_UI1, 1, &bound);
    ArrayAccess access(v->parray);
    if (access.granted() && access.data())
        std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(access.data()));
}

// The elements of a byte-array variant in index order; "bounds" receives "lower..upper".
inline Bytes ArrayBytes(const VARIANT& v, std::string* bounds = nullptr) {
    SAFEARRAY* array = (v.vt & VT_BYREF) ? *v.pparray : v.parray;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    if (bounds) *bounds = std::to_string(lower) + ".." + std::to_string(upper);
    const ArrayAccess access(array);
    const BYTE* p = static_cast<const BYTE*>(access.data());
    return p ? Bytes(p, p + (upper - lower + 1)) : Bytes();
}

// The empty value as a byte-array variant: an array of no elements, or, where the runtime
// grants access to such an array without a data pointer, E_POINTER and VT_EMPTY.
inline void ExpectEmptyByteArray(HRESULT hr, const VARIANT& v) {
    if (hr == E_POINTER) {
        EXPECT_EQ(v.vt, VT_EMPTY);
        return;
    }
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
    std::string bounds;
    EXPECT_TRUE(ArrayBytes(v, &bounds).empty());
    EXPECT_EQ(bounds, "0..-1");
}

// Whether the array is free of access locks: only then can it be destroyed.
inline bool ArrayIsUnlocked(SAFEARRAY* array) { return array->cLocks == 0; }

// A call that failed with E_FAIL and left the thread the MetaData report of `message` and
// `code` (the report is taken, and so cleared).
inline ::testing::AssertionResult Refused(HRESULT hr, const std::string& message, DWORD code) {
    if (hr != E_FAIL) return ::testing::AssertionFailure() << "status " << hr;
    const RichError e = TakeRichError();
    const std::string expected = WithSystemText(message, code);
    if (e.present && e.description == expected && e.source == ProgIdOf(CLSID_MetaData) &&
        IsEqualGUID(e.guid, IID_IMetaData) && e.code == (expected == message ? 0 : code))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "rich error \"" << e.description << "\" from \"" << e.source << "\" with code "
           << e.code << ", expected \"" << expected << "\"";
}

inline HRESULT PutData(IMetaData* item, const Bytes& bytes, LONG lowerBound = 0) {
    UniqueVariant value;
    SetByteArray(value.get(), bytes, lowerBound);
    return item->put_Data(*value);
}

// A file "F" in a fresh folder and its stream "T".
class ItemFile {
public:
    // Where streams are plain files "F:T" (Wine), the folder's removal does not cope with them.
    ~ItemFile() { DeleteFileW(stream_.c_str()); }

    const WString& streamPath() const { return stream_; }

    // A handle on the stream, made if missing.
    HANDLE OpenStream(DWORD access = GENERIC_READ | GENERIC_WRITE, DWORD share = FILE_SHARE_READ,
                      DWORD disposition = OPEN_ALWAYS) const {
        return CreateFileW(streamPath().c_str(), access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    // A new item holding `handle`, handed out with one reference as OpenItem hands it.
    static ComPtr<IMetaData> MakeItem(HANDLE handle, const WString& streamPath,
                                      const WString& type = OLESTR("T")) {
        ComPtr<MetaData> made = platform::New<MetaData>();
        ComPtr<IMetaData> item;
        if (made) made->Attach(handle, streamPath.c_str(), type.c_str());
        EXPECT_EQ(made ? made->QueryInterface(IID_IMetaData, item.out_void()) : E_FAIL, S_OK);
        return item;
    }

    ComPtr<IMetaData> Item(DWORD access = GENERIC_READ | GENERIC_WRITE) const {
        HANDLE handle = OpenStream(access);
        EXPECT_NE(handle, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        return MakeItem(handle, streamPath());
    }

    // The stream's whole content, read through a handle of its own.
    Bytes Stored() const {
        platform::UniqueHandle h(OpenExisting());
        Bytes bytes(h.valid() ? GetFileSize(h.get(), nullptr) : 0);
        DWORD read = 0;
        EXPECT_TRUE(
            h.valid() &&
            ReadFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
            read == bytes.size())
            << "the stream cannot be read, error " << GetLastError();
        return bytes;
    }

    bool StreamExists() const { return platform::UniqueHandle(OpenExisting()).valid(); }

private:
    HANDLE OpenExisting() const {
        return OpenStream(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          OPEN_EXISTING);
    }

    TempDir dir_;
    const WString stream_ = PathW(dir_ / "F") + OLESTR(":T");
};

}  // namespace quarrow2::test::metadata

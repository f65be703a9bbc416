#include "items/metadata.h"

#include <cstring>
#include <memory>
#include <new>

#include "items/byte_array.h"
#include "items/stored_value.h"
#include "store/error_report.h"

namespace quarrow2::items {
namespace {

BSTR NewEmptyString() { return SysAllocString(OLESTR("")); }

// Values are read into this much stack first, which spares asking their size: ext4 keeps
// none larger, and a 4 KiB one still leaves room to tell that it is whole. Only a value
// that fills the buffer is read again, sized.
constexpr DWORD kSmallValueBytes = 4096 + 64;

}  // namespace

MetaData::MetaData() { InitializeCriticalSection(&itemLock_); }

MetaData::~MetaData() {
    CloseItem();
    DeleteCriticalSection(&itemLock_);
}

void MetaData::Attach(HANDLE itemHandle, const WCHAR* streamPath, const WCHAR* typeName) {
    platform::CriticalSectionGuard guard(itemLock_);
    itemHandle_.reset(itemHandle);
    streamPath_.reset(SysAllocString(streamPath ? streamPath : OLESTR("")));
    typeName_.reset(SysAllocString(typeName ? typeName : OLESTR("")));
}

// ---- IMetaData -----------------------------------------------------------------------------

HRESULT MetaData::get_Name(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    platform::CriticalSectionGuard guard(itemLock_);
    // Byte for byte, so a name is handed back exactly as it was given.
    *pVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(typeName_.get()),
                                  SysStringByteLen(typeName_.get()));
    return *pVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT MetaData::get_Length(LONG* pVal) {
    if (!pVal) return E_POINTER;
    platform::CriticalSectionGuard guard(itemLock_);
    const DWORD size = itemHandle_.valid() ? GetFileSize(itemHandle_.get(), nullptr) : 0;
    if (size == INVALID_FILE_SIZE) {
        *pVal = 0;
        return Report(OLESTR("Unable to find metadata length."));
    }
    *pVal = static_cast<LONG>(size);
    return S_OK;
}

HRESULT MetaData::get_Text(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    platform::CriticalSectionGuard guard(itemLock_);
    *pVal = nullptr;
    HRESULT result = S_OK;

    BYTE small[kSmallValueBytes];
    DWORD smallSize = 0;
    if (ReadSmall(small, smallSize)) {
        UniqueBstr copy(TextOfStoredValue(small, smallSize));
        if (!copy.get()) return Report(OLESTR("Unable to get text."));
        *pVal = copy.release();
        return S_OK;
    }

    const DWORD size = StreamSize();
    // Read straight into the client's string: one allocation, no copy.
    UniqueBstr text;
    if (size != INVALID_FILE_SIZE) text.reset(SysAllocStringByteLen(nullptr, size));
    const DWORD read = text.get() ? ReadWhole(text.get(), size) : 0;
    if (read != size) result = Report(OLESTR("Unable to get text."));

    if (text.get() && IsEmptyValueMarker(text.get(), size)) text.reset(NewEmptyString());
    if (!text.get()) text.reset(NewEmptyString());
    *pVal = text.release();
    return result;
}

HRESULT MetaData::put_Text(BSTR newVal) {
    platform::CriticalSectionGuard guard(itemLock_);
    // Whole code units only: a trailing odd byte is not part of the text.
    DWORD n = SysStringLen(newVal) * static_cast<DWORD>(sizeof(WCHAR));
    const void* bytes = newVal;
    if (n == 0) {
        n = kMarkerBytes;
        bytes = kEmptyValueMarker;
    }
    if (!WriteWhole(bytes, n)) return Report(OLESTR("Unable to put text."));
    return S_OK;
}

HRESULT MetaData::get_Data(VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    platform::CriticalSectionGuard guard(itemLock_);
    VariantInit(pVal);
    HRESULT reported = S_OK;

    BYTE small[kSmallValueBytes];
    DWORD smallSize = 0;
    if (ReadSmall(small, smallSize)) return DataOfStoredValue(small, smallSize, pVal);

    DWORD size = StreamSize();
    std::unique_ptr<BYTE[]> buffer;
    if (size != INVALID_FILE_SIZE) buffer.reset(new (std::nothrow) BYTE[size]);
    const DWORD read = buffer ? ReadWhole(buffer.get(), size) : 0;
    if (read != size) reported = Report(OLESTR("Unable to get data."));

    if (!buffer) return reported;
    if (IsEmptyValueMarker(buffer.get(), size)) size = 0;
    const HRESULT converted = PtrToVARIANT(buffer.get(), static_cast<LONG>(size), pVal);
    return FAILED(reported) ? reported : converted;
}

HRESULT MetaData::put_Data(VARIANT newVal) {
    platform::CriticalSectionGuard guard(itemLock_);
    bool stored = false;
    {
        const ByteArrayAccess bytes(newVal);
        if (SUCCEEDED(bytes.result())) {
            stored = bytes.count() > 0 ? WriteWhole(bytes.data(), static_cast<DWORD>(bytes.count()))
                                       : WriteWhole(kEmptyValueMarker, kMarkerBytes);
        }
    }
    if (!stored) return Report(OLESTR("Unable to put data."));
    return S_OK;
}

HRESULT MetaData::Delete() {
    platform::CriticalSectionGuard guard(itemLock_);
    if (!itemHandle_.valid()) return S_OK;
    // The stream cannot be removed while this item holds it open.
    itemHandle_.reset();
    // The path is kept to the end of the call, after any report, so freeing it cannot
    // touch the last error that the report names.
    UniqueBstr streamPath(streamPath_.release());
    typeName_.reset();
    if (!DeleteFileW(streamPath.get() ? streamPath.get() : OLESTR("")))
        return Report(OLESTR("Unable to delete file."));
    return S_OK;
}

HRESULT MetaData::Close() {
    platform::CriticalSectionGuard guard(itemLock_);
    CloseItem();
    return S_OK;
}

// ---- Stream access -------------------------------------------------------------------------

DWORD MetaData::StreamSize() const {
    return itemHandle_.valid() ? GetFileSize(itemHandle_.get(), nullptr) : INVALID_FILE_SIZE;
}

DWORD MetaData::ReadWhole(void* buffer, DWORD size) const {
    SetFilePointer(itemHandle_.get(), 0, nullptr, FILE_BEGIN);
    DWORD read = 0;
    ReadFile(itemHandle_.get(), buffer, size, &read, nullptr);
    if (read > size) read = size;
    // A short read must not hand out whatever the allocation held before.
    std::memset(static_cast<BYTE*>(buffer) + read, 0, size - read);
    return read;
}

bool MetaData::ReadSmall(BYTE* small, DWORD& size) const {
    if (!itemHandle_.valid()) return false;
    SetFilePointer(itemHandle_.get(), 0, nullptr, FILE_BEGIN);
    DWORD read = 0;
    if (!ReadFile(itemHandle_.get(), small, kSmallValueBytes, &read, nullptr) ||
        read >= kSmallValueBytes)
        return false;
    size = read;
    return true;
}

bool MetaData::WriteWhole(const void* bytes, DWORD n) {
    if (!itemHandle_.valid()) return false;
    const HANDLE handle = itemHandle_.get();
    SetFilePointer(handle, 0, nullptr, FILE_BEGIN);
    // Keeps other handles out of the range while it is written; fails at once if any of
    // it is locked already.
    if (!LockFile(handle, 0, 0, n, 0)) return false;
    DWORD written = 0;
    // Where the platform commits the value only when the end is set (one atomic
    // replacement), a commit failure surfaces here; it must not pass for a stored value.
    // A failed write never sets the end, so the old value is not cut.
    const bool stored = WriteFile(handle, bytes, n, &written, nullptr) && SetEndOfFile(handle);
    const platform::KeepLastError keepWriteError;
    UnlockFile(handle, 0, 0, n, 0);
    return stored;
}

void MetaData::CloseItem() {
    itemHandle_.reset();
    streamPath_.reset();
    typeName_.reset();
}

HRESULT MetaData::Report(const WCHAR* message) {
    return store::ReportWithLastError(CLSID_MetaData, message, IID_IMetaData, E_FAIL);
}

}  // namespace quarrow2::items

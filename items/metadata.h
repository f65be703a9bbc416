// One item of metadata: one named data stream of one file, read and written whole through
// the stream handle the item owns. Made only by the library (OpenItem), handed to clients
// as IMetaData.
#pragma once

#include "platform/owners.h"
#include "platform/platform.h"
#include "quarrow2/quarrow2.h"
#include "store/error_reporting_object.h"
#include "store/module_lock.h"

namespace quarrow2::items {

class MetaData final : public store::ErrorReportingObject<MetaData, IMetaData, IID_IMetaData> {
public:
    // Made with platform::New<MetaData>(), with no handle; IUnknown and ISupportErrorInfo come with
    // the base. An item never handed out goes, closing its handle, with its maker's
    // reference.
    MetaData();

    // Takes ownership of the stream handle and copies both zero-terminated strings. Called
    // once, before the item is handed to anyone.
    void Attach(HANDLE itemHandle, const WCHAR* streamPath, const WCHAR* typeName);

    // IMetaData.
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Length(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Text(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE put_Text(BSTR newVal) override;
    HRESULT STDMETHODCALLTYPE get_Data(VARIANT* pVal) override;
    HRESULT STDMETHODCALLTYPE put_Data(VARIANT newVal) override;
    HRESULT STDMETHODCALLTYPE Delete() override;
    HRESULT STDMETHODCALLTYPE Close() override;

private:
    ~MetaData() override;

    // The stream's size, or INVALID_FILE_SIZE when there is no handle or the query failed.
    DWORD StreamSize() const;
    // Reads `size` bytes from offset 0 in one call; what the read did not reach is zeroed.
    DWORD ReadWhole(void* buffer, DWORD size) const;
    // Reads the whole value into `small` (kSmallValueBytes) without asking its size first:
    // false when it may be larger, or the read failed, which the sized read then tells.
    bool ReadSmall(BYTE* small, DWORD& size) const;
    // Replaces the whole value by `n` bytes under a byte-range lock; false when nothing
    // could be stored, with the reason left as the thread's last error.
    bool WriteWhole(const void* bytes, DWORD n);
    // Releases the handle and forgets both strings.
    void CloseItem();
    // Reports `message` with the system text of the thread's last error.
    static HRESULT Report(const WCHAR* message);

    // Declared first so it is given back last, after everything else is released.
    store::ModuleLock moduleLock_;
    platform::UniqueHandle itemHandle_;
    UniqueBstr streamPath_;
    UniqueBstr typeName_;
    // Re-entrant; every operation that reads or changes the fields above holds it, so a
    // handle is never closed under another thread's read or write.
    CRITICAL_SECTION itemLock_;
};

}  // namespace quarrow2::items

#include "store/stream_open.h"

#include <new>

#include "items/metadata.h"
#include "items/stored_value.h"
#include "platform/com_object.h"
#include "store/type_names.h"

namespace quarrow2::store {
namespace {

// Hands the open stream to a new item. The handle is closed on every failure.
HRESULT WrapInItem(platform::UniqueHandle handle, const WString& streamPath, const WCHAR* type,
                   IMetaData** out) {
    // Until the query below hands a reference out, this one owns the item: on a failure the
    // item goes, and its handle with it.
    ComPtr<items::MetaData> item = platform::New<items::MetaData>();
    if (!item) {
        // The caller reports the last error; the open's own code would mislead there.
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return E_OUTOFMEMORY;
    }
    item->Attach(handle.release(), streamPath.c_str(), type);
    return item->QueryInterface(IID_IMetaData, reinterpret_cast<void**>(out));
}

// Opens with `access`; with `create`, a missing stream (and file) is made holding the empty
// value's stored form, since an empty stream is not a value.
HANDLE OpenWith(const WCHAR* streamPath, DWORD access, bool create) {
    if (create)
        return CreateStreamHolding(streamPath, access, FILE_SHARE_READ, items::kEmptyValueMarker,
                                   items::kMarkerBytes);
    return CreateFileW(streamPath, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

platform::UniqueHandle OpenStream(const WCHAR* streamPath, bool create) {
    platform::UniqueHandle handle(OpenWith(streamPath, GENERIC_READ | GENERIC_WRITE, create));
    const DWORD refusal = handle.valid() ? ERROR_SUCCESS : GetLastError();
    if (refusal == ERROR_ACCESS_DENIED || refusal == ERROR_WRITE_PROTECT) {
        // Readable but not writable (read-only file or volume, no write permission): the item
        // then reads, and its puts fail with the reason. Any other failure (another process
        // holding the item, a missing file) stands as it is, so the caller hears its cause
        // and may wait for a busy item rather than get one it cannot write.
        handle.reset(OpenWith(streamPath, GENERIC_READ, create));
    }
    return handle;
}

HRESULT OpenItem(const WCHAR* filePath, const WCHAR* type, bool create, IMetaData** out) {
    *out = nullptr;
    const WCHAR* typeName = type ? type : OLESTR("");
    // Refused as the system refuses every other name no stream can have, before the
    // system gets to resolve it as a path to some other file.
    if (!CanNameAStream(typeName)) {
        SetLastError(ERROR_INVALID_NAME);
        return E_FAIL;
    }
    try {
        const WString streamPath = ComposeStreamPath(filePath, typeName);
        if (streamPath.empty()) return E_FAIL;
        platform::UniqueHandle handle = OpenStream(streamPath.c_str(), create);
        if (!handle.valid()) return E_FAIL;
        return WrapInItem(std::move(handle), streamPath, typeName, out);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return E_OUTOFMEMORY;
    }
}

}  // namespace quarrow2::store

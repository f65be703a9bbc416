#include "store/file.h"

#include <new>

#include "items/stored_value.h"
#include "platform/item_streams.h"
#include "store/error_report.h"
#include "store/stream_open.h"
#include "store/type_names.h"
#include "store/volume_probe.h"

namespace quarrow2::store {
namespace {

const OLECHAR kForbiddenType[] = OLESTR("Access to this data type forbidden.");
const OLECHAR kCannotOpen[] = OLESTR("Unable to open metadata.");
const OLECHAR kCannotAdd[] = OLESTR("Unable to add metadata.");
const OLECHAR kCannotGetText[] = OLESTR("Unable to get text.");
const OLECHAR kCannotGetData[] = OLESTR("Unable to get data.");
// Most values are this small: read with no question about their size.
constexpr size_t kFirstRead = 4096 + 64;

// Sets the rich error of a File failure; E_FAIL.
HRESULT Report(const OLECHAR* text) { return ReportError(CLSID_File, text, IID_IFile, E_FAIL); }

}  // namespace

// ---- IFile ---------------------------------------------------------------------------

const WCHAR* File::PathOrEmpty() const { return HasPath() ? path_.get() : OLESTR(""); }

HRESULT File::SetFile(BSTR inPath, VARIANT_BOOL* outSupportsStreams) {
    if (!outSupportsStreams) return E_POINTER;
    // The path is read up to its first zero unit, and replaced before the volume is asked.
    BSTR copy = nullptr;
    if (inPath && inPath[0]) {
        copy = SysAllocString(inPath);
        if (!copy) {
            // Keeping the old path would bind the object to a file the client moved away
            // from; unbind it instead.
            Close();
            *outSupportsStreams = supportsStreams_;
            return E_OUTOFMEMORY;
        }
    }
    path_.reset(copy);
    supportsStreams_ = ProbeVolume(PathOrEmpty(), volumeQueryError_) ? VARIANT_TRUE : VARIANT_FALSE;
    *outSupportsStreams = supportsStreams_;
    return S_OK;
}

HRESULT File::Close() {
    path_.reset();
    supportsStreams_ = VARIANT_FALSE;
    volumeQueryError_ = 0;
    return S_OK;
}

HRESULT File::Open(BSTR inType, IMetaData** outMD) { return OpenOrAdd(inType, false, outMD); }

HRESULT File::Add(BSTR inType, IMetaData** outMD) { return OpenOrAdd(inType, true, outMD); }

HRESULT File::OpenOrAdd(BSTR inType, bool create, IMetaData** outMD) {
    if (!outMD) return E_POINTER;
    *outMD = nullptr;
    // In this order: a forbidden name is refused even before a path is set.
    if (IsForbiddenType(inType)) return Report(kForbiddenType);
    if (!HasPath()) return ReportNoPath();
    if (supportsStreams_ == VARIANT_FALSE) return Report(File::kNoStreams);
    const HRESULT hr = OpenItem(path_.get(), inType, create, outMD);
    if (SUCCEEDED(hr)) return hr;
    return ReportWithLastError(CLSID_File, create ? kCannotAdd : kCannotOpen, IID_IFile, E_FAIL);
}

HRESULT File::get_Supported(VARIANT_BOOL* outTruth) {
    if (!outTruth) return E_POINTER;
    *outTruth = supportsStreams_;
    return S_OK;
}

HRESULT File::get_Exists(VARIANT_BOOL* outTruth) {
    if (!outTruth) return E_POINTER;
    // The very path the items are opened by, in UTF-16 and whole: no conversion, and no
    // colon taken for a stream separator, that could name another file.
    bool exists = false;
    if (HasPath()) exists = platform::UniqueHandle(OpenFileItself(path_.get())).valid();
    *outTruth = exists ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

// ---- IFile2's reads ------------------------------------------------------------------

HRESULT File::ReadValue(BSTR inType, const WCHAR* message, std::vector<unsigned char>& value) {
    // In IFile's order: a forbidden name is refused even before a path is set.
    if (IsForbiddenType(inType))
        return ReportError(CLSID_File, kForbiddenType, IID_IFile2,
                           HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
    if (HRESULT hr = CheckStreamsReachable(); FAILED(hr)) return hr;
    const WCHAR* type = inType ? inType : OLESTR("");
    // Refused as OpenItem refuses it, before the system resolves it as a path elsewhere.
    if (!CanNameAStream(type)) return ReportCause(message, ERROR_INVALID_NAME);
    DWORD error = 0;
    try {
        value.reserve(kFirstRead);
        error =
            platform::ReadStream(path_.get(), ComposeStreamPath(path_.get(), type).c_str(), value);
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    return error ? ReportCause(message, error) : S_OK;
}

HRESULT File::ReadText(BSTR inType, BSTR* outText) {
    if (!outText) return E_POINTER;
    *outText = nullptr;
    std::vector<unsigned char> value;
    if (HRESULT hr = ReadValue(inType, kCannotGetText, value); FAILED(hr)) return hr;
    *outText = items::TextOfStoredValue(value.data(), value.size());
    return *outText ? S_OK : E_OUTOFMEMORY;
}

HRESULT File::ReadData(BSTR inType, VARIANT* outData) {
    if (!outData) return E_POINTER;
    VariantInit(outData);
    std::vector<unsigned char> value;
    if (HRESULT hr = ReadValue(inType, kCannotGetData, value); FAILED(hr)) return hr;
    return items::DataOfStoredValue(value.data(), value.size(), outData);
}

}  // namespace quarrow2::store

#include "store/file.h"

#include <new>

#include "store/error_report.h"
#include "store/stream_open.h"
#include "store/type_names.h"
#include "store/volume_probe.h"

namespace quarrow2::store {
namespace {

const OLECHAR kForbiddenType[] = OLESTR("Access to this data type forbidden.");
const OLECHAR kNoStreams[] = OLESTR("Volume does not support streams.");
const OLECHAR kCannotOpen[] = OLESTR("Unable to open metadata.");
const OLECHAR kCannotAdd[] = OLESTR("Unable to add metadata.");

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
    supportsStreams_ = ProbeVolume(PathOrEmpty()) ? VARIANT_TRUE : VARIANT_FALSE;
    *outSupportsStreams = supportsStreams_;
    return S_OK;
}

HRESULT File::Close() {
    path_.reset();
    supportsStreams_ = VARIANT_FALSE;
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
    if (supportsStreams_ == VARIANT_FALSE) return Report(kNoStreams);
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

}  // namespace quarrow2::store

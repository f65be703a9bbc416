// The File object: one file, named by its path, and the client's way into its items.
#pragma once

#include "platform/owners.h"
#include "quarrow2/quarrow2.h"
#include "store/error_report.h"
#include "store/error_reporting_object.h"
#include "store/module_lock.h"

namespace quarrow2::store {

// Holds a path and the snapshot of whether its volume supports named streams; holds no
// handle and no item. Meant for one thread at a time: SetFile and Close replace the path
// the other methods read, and nothing locks it.
class File final : public ErrorReportingObject<File, IFile, IID_IFile> {
public:
    // Made with platform::New<File>(); IUnknown and ISupportErrorInfo come with the base.
    File() = default;

    // IFile
    HRESULT STDMETHODCALLTYPE SetFile(BSTR inPath, VARIANT_BOOL* outSupportsStreams) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE Open(BSTR inType, IMetaData** outMD) override;
    HRESULT STDMETHODCALLTYPE Add(BSTR inType, IMetaData** outMD) override;
    HRESULT STDMETHODCALLTYPE get_Supported(VARIANT_BOOL* outTruth) override;
    HRESULT STDMETHODCALLTYPE get_Exists(VARIANT_BOOL* outTruth) override;
    // Length and Types are the stream walk's: discovery/file_properties.cpp defines them.
    HRESULT STDMETHODCALLTYPE get_Length(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Types(IStrings** pVal) override;

private:
    ~File() override = default;

    bool HasPath() const { return path_.length() != 0; }
    // The stored path as a terminated string, never null.
    const WCHAR* PathOrEmpty() const;
    HRESULT OpenOrAdd(BSTR inType, bool create, IMetaData** outMD);
    // Reports "No file path assigned." as File's rich error; E_FAIL. Inline, so that the
    // walk's Length and Types (discovery/) call nothing back in file.cpp.
    static HRESULT ReportNoPath() {
        return ReportError(CLSID_File, OLESTR("No file path assigned."), IID_IFile, E_FAIL);
    }

    ModuleLock moduleLock_;
    UniqueBstr path_;
    VARIANT_BOOL supportsStreams_ = VARIANT_FALSE;
};

}  // namespace quarrow2::store

// The File object: one file, named by its path, and the client's way into its items.
#pragma once

#include <vector>

#include "platform/owners.h"
#include "quarrow2/quarrow2.h"
#include "store/error_report.h"
#include "store/error_reporting_object.h"
#include "store/module_lock.h"

namespace quarrow2::store {

// Holds a path and the snapshot of whether its volume supports named streams; holds no
// handle and no item. Meant for one thread at a time: SetFile and Close replace the path
// the other methods read, and nothing locks it. Answers as IFile2, and as IFile, which it
// extends.
class File final : public ErrorReportingObject<File, IFile2, IID_IFile2, IID_IFile> {
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

    // IFile2: Items is the walk's too (discovery/file_properties.cpp); the reads are here.
    HRESULT STDMETHODCALLTYPE get_Items(VARIANT* pVal) override;
    HRESULT STDMETHODCALLTYPE ReadText(BSTR inType, BSTR* outText) override;
    HRESULT STDMETHODCALLTYPE ReadData(BSTR inType, VARIANT* outData) override;

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

    // IFile2's members report with a status that names the cause, for IFile2.
    static constexpr OLECHAR kNoStreams[] = OLESTR("Volume does not support streams.");
    // In place of the system's text when the file is there without the item.
    static constexpr OLECHAR kNoItem[] = OLESTR("The file has no item of this type.");
    // S_OK when a path is bound on a volume with named streams, or on one the caller was
    // not let ask about (a folder on the way it may not search): then the member goes on,
    // and its own call meets the refusal and names it, where "no named streams" would send
    // the caller after the wrong fault. A path that names no volume (a relative one, say)
    // still has none. Else the failure, reported. Inline, as ReportNoPath.
    HRESULT CheckStreamsReachable() const {
        if (!HasPath())
            return ReportError(CLSID_File, OLESTR("No file path assigned."), IID_IFile2,
                               OLE_E_BLANK);
        if (supportsStreams_ == VARIANT_FALSE && volumeQueryError_ != ERROR_ACCESS_DENIED)
            return ReportError(CLSID_File, kNoStreams, IID_IFile2,
                               HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
        return S_OK;
    }
    // `message` and why the system failed (`code`), or that the item is missing
    // (ERROR_NOT_FOUND), with HRESULT_FROM_WIN32(code).
    static HRESULT ReportCause(const WCHAR* message, DWORD code) {
        return store::ReportCause(CLSID_File, message, code,
                                  code == ERROR_NOT_FOUND ? kNoItem : nullptr, IID_IFile2);
    }
    // The whole stored value of the item `inType` into `value`, or the failure, reported
    // with `message`.
    HRESULT ReadValue(BSTR inType, const WCHAR* message, std::vector<unsigned char>& value);

    ModuleLock moduleLock_;
    UniqueBstr path_;
    VARIANT_BOOL supportsStreams_ = VARIANT_FALSE;
    // Why the volume could not be asked at SetFile; 0 when it answered.
    DWORD volumeQueryError_ = 0;
};

}  // namespace quarrow2::store

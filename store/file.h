// The File object: one file, named by its path, and the client's way into its items.
#pragma once

#include <atomic>

#include "platform/owners.h"
#include "quarrow2/quarrow2.h"
#include "store/error_reporting_object.h"
#include "server/module_lock.h"

namespace quarrow2 {

// Holds a path and the snapshot of whether its volume supports named streams; holds no
// handle and no item. Meant for one thread at a time: SetFile and Close replace the path
// the other methods read, and nothing locks it.
class File : public ErrorReportingObject<IFile, IID_IFile> {
public:
    // A new object with a reference count of 0, for the class object to query.
    static HRESULT Create(File** out);

    virtual ~File() = default;

    // IUnknown; QueryInterface and ISupportErrorInfo come with the base.
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IFile
    HRESULT STDMETHODCALLTYPE SetFile(BSTR inPath, VARIANT_BOOL* outSupportsStreams) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE Open(BSTR inType, IMetaData** outMD) override;
    HRESULT STDMETHODCALLTYPE Add(BSTR inType, IMetaData** outMD) override;
    HRESULT STDMETHODCALLTYPE get_Supported(VARIANT_BOOL* outTruth) override;
    HRESULT STDMETHODCALLTYPE get_Exists(VARIANT_BOOL* outTruth) override;
    HRESULT STDMETHODCALLTYPE get_Length(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Types(IStrings** pVal) override;

private:
    File() = default;

    bool HasPath() const { return path_.length() != 0; }
    // The stored path as a terminated string, never null.
    const WCHAR* PathOrEmpty() const;
    HRESULT OpenOrAdd(BSTR inType, bool create, IMetaData** outMD);

    std::atomic<ULONG> refCount_{0};
    server::ModuleLock moduleLock_;
    UniqueBstr path_;
    VARIANT_BOOL supportsStreams_ = VARIANT_FALSE;
};

}  // namespace quarrow2

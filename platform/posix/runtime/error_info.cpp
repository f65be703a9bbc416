// The error-information object: filled through ICreateErrorInfo by the code that reports
// an error, read through IErrorInfo by the client that receives it.
// Each thread holds its current one until the next report replaces it.

#include "platform/com_object.h"
#include "platform/owners.h"
#include "platform/posix/runtime/bstr_copy.h"

namespace {

using quarrow2::UniqueBstr;

// Replaces a stored field with a copy of a caller's zero-terminated text; null clears it.
HRESULT StoreText(UniqueBstr& field, LPOLESTR text) {
    BSTR copy = SysAllocString(text);
    if (text && !copy) return E_OUTOFMEMORY;
    field.reset(copy);
    return S_OK;
}

// Hands out a copy of a stored field; an unset field gives a null string.
HRESULT CopyText(const UniqueBstr& field, BSTR* out) {
    if (!out) return E_INVALIDARG;
    *out = quarrow2::platform::CopyBstr(field.get());
    return field.get() && !*out ? E_OUTOFMEMORY : S_OK;
}

class ErrorInfo final
    : public quarrow2::platform::RefCounted<ErrorInfo, IErrorInfo, ICreateErrorInfo> {
public:
    using Table = quarrow2::platform::InterfaceTable<
        quarrow2::platform::Answers<IErrorInfo, IID_IUnknown>,
        quarrow2::platform::Answers<IErrorInfo, IID_IErrorInfo>,
        quarrow2::platform::Answers<ICreateErrorInfo, IID_ICreateErrorInfo>>;

    // IErrorInfo
    HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) override {
        if (!pGUID) return E_INVALIDARG;
        *pGUID = guid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* pBstrSource) override {
        return CopyText(source_, pBstrSource);
    }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pBstrDescription) override {
        return CopyText(description_, pBstrDescription);
    }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* pBstrHelpFile) override {
        return CopyText(helpFile_, pBstrHelpFile);
    }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* pdwHelpContext) override {
        if (!pdwHelpContext) return E_INVALIDARG;
        *pdwHelpContext = helpContext_;
        return S_OK;
    }

    // ICreateErrorInfo
    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) override {
        guid_ = rguid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR szSource) override {
        return StoreText(source_, szSource);
    }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR szDescription) override {
        return StoreText(description_, szDescription);
    }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR szHelpFile) override {
        return StoreText(helpFile_, szHelpFile);
    }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD dwHelpContext) override {
        helpContext_ = dwHelpContext;
        return S_OK;
    }

private:
    ~ErrorInfo() override = default;

    GUID guid_{};
    UniqueBstr source_;
    UniqueBstr description_;
    UniqueBstr helpFile_;
    DWORD helpContext_ = 0;
};

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
    if (!pperrinfo) return E_INVALIDARG;
    *pperrinfo = nullptr;
    *pperrinfo = quarrow2::platform::New<ErrorInfo>().detach();
    return *pperrinfo ? S_OK : E_OUTOFMEMORY;
}

// The calling thread's current error information: one reference per thread, replaced by
// the next report, handed over (and so cleared) by GetErrorInfo, released when the thread
// ends.
namespace {

thread_local quarrow2::ComPtr<IErrorInfo> current_error;

}  // namespace

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
    if (dwReserved != 0) return E_INVALIDARG;
    // The old object is released only after the new one is in place, so that its release
    // (which may run arbitrary code) sees a consistent thread state.
    quarrow2::ComPtr<IErrorInfo> previous = std::move(current_error);
    current_error = quarrow2::ComPtr<IErrorInfo>::share(perrinfo);
    return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
    if (dwReserved != 0 || !pperrinfo) return E_INVALIDARG;
    *pperrinfo = current_error.detach();
    return *pperrinfo ? S_OK : S_FALSE;
}

// The calling thread's current error information: one reference per thread, replaced by
// the next report, handed over (and so cleared) by GetErrorInfo, released when the thread
// ends.
#include "platform/owners.h"

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

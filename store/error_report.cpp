#include "store/error_report.h"

#include <new>

namespace quarrow2::store {

namespace {

// Installs the rich error; the thread's last error is the caller's to set.
void Install(REFCLSID reportingClass, const WCHAR* description, REFIID iid) noexcept {
    ComPtr<ICreateErrorInfo> creator;
    if (FAILED(CreateErrorInfo(creator.out())) || !creator) return;
    creator->SetGUID(iid);
    LPOLESTR progId = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(reportingClass, &progId))) {
        if (progId) creator->SetSource(progId);
        CoTaskMemFree(progId);
    }
    creator->SetHelpFile(nullptr);
    creator->SetHelpContext(0);
    creator->SetDescription(const_cast<LPOLESTR>(description));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(creator->QueryInterface(IID_IErrorInfo, info.out_void())) && info)
        SetErrorInfo(0, info.get());
}

}  // namespace

HRESULT ReportError(REFCLSID reportingClass, const WCHAR* description, REFIID iid,
                    HRESULT status) noexcept {
    Install(reportingClass, description, iid);
    // No system text, so no code behind the description: a client reading the last error
    // must not find one that an earlier, successful step happened to leave.
    SetLastError(ERROR_SUCCESS);
    return status;
}

HRESULT ReportError(REFCLSID reportingClass, const WString& message, REFIID iid,
                    HRESULT status) noexcept {
    return ReportError(reportingClass, message.c_str(), iid, status);
}

void AppendSystemMessage(DWORD code, WString& message) noexcept {
    if (code == 0) return;
    LPWSTR text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text),
        0, nullptr);
    if (length && text) {
        try {
            // Room first, so the message gains the whole text or nothing.
            message.reserve(message.size() + 1 + length);
            message.push_back(OLESTR(' '));
            message.append(text, length);
        } catch (const std::bad_alloc&) {
        }
    }
    if (text) LocalFree(text);
}

HRESULT ReportWithLastError(REFCLSID reportingClass, const WCHAR* message, REFIID iid,
                            HRESULT status) noexcept {
    // Read before anything here allocates: the failing call's code is the one to name.
    const DWORD code = GetLastError();
    bool withText = false;
    try {
        WString text(message);
        const size_t bare = text.size();
        AppendSystemMessage(code, text);
        withText = text.size() != bare;
        Install(reportingClass, text.c_str(), iid);
    } catch (const std::bad_alloc&) {
        Install(reportingClass, message, iid);
    }
    // Left for the client as the code of the text it was given, whatever reporting called.
    SetLastError(withText ? code : ERROR_SUCCESS);
    return status;
}

HRESULT ReportCause(REFCLSID reportingClass, const WCHAR* message, DWORD code, const WCHAR* reason,
                    REFIID iid) noexcept {
    if (code == ERROR_NOT_ENOUGH_MEMORY) return E_OUTOFMEMORY;
    const HRESULT status = code ? HRESULT_FROM_WIN32(code) : E_FAIL;
    try {
        WString text(message);
        if (reason)
            text.append(OLESTR(" ")).append(reason);
        else
            AppendSystemMessage(code, text);
        return ReportError(reportingClass, text, iid, status);
    } catch (const std::bad_alloc&) {
        return ReportError(reportingClass, message, iid, status);
    }
}

}  // namespace quarrow2::store

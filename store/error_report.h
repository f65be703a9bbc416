// Rich errors: every reported failure of File and MetaData leaves a description, its
// class's ProgID as source and its dual interface's identifier on the calling thread, and
// as the thread's last error the Windows code whose system text ends the description (0
// when it ends with none), for clients that handle failures by their cause.
#pragma once

#include "platform/owners.h"
#include "platform/platform.h"

namespace quarrow2::store {

// Installs the rich error for the calling thread, sets its last error to 0 and returns
// `status`. Never fails outward: whatever cannot be built is left out of the error.
HRESULT ReportError(REFCLSID reportingClass, const WCHAR* message, REFIID iid,
                    HRESULT status) noexcept;
HRESULT ReportError(REFCLSID reportingClass, const WString& message, REFIID iid,
                    HRESULT status) noexcept;

// Appends one blank and the system's text for `code` (line end included) to `message`;
// leaves it alone for code 0 or when the system has no text.
void AppendSystemMessage(DWORD code, WString& message) noexcept;

// The common case in one call: `message`, extended by the system text of the thread's
// last error as it stands on entry, reported for `reportingClass`; the last error is that
// code again afterwards (0 when no text could be appended).
HRESULT ReportWithLastError(REFCLSID reportingClass, const WCHAR* message, REFIID iid,
                            HRESULT status) noexcept;

// For the interfaces whose statuses name the cause (IFile2): `message`, one blank and
// `reason`, or without a reason the system's text for `code`, reported with the status
// HRESULT_FROM_WIN32(code) (E_FAIL for code 0). Memory running out is E_OUTOFMEMORY, plain.
HRESULT ReportCause(REFCLSID reportingClass, const WCHAR* message, DWORD code, const WCHAR* reason,
                    REFIID iid) noexcept;

}  // namespace quarrow2::store

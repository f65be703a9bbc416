// HANDLE values of the layer's files. A value is never reused, so a closed or made-up
// handle is always recognised as one.
#pragma once

#include <memory>

#include "platform/platform.h"
#include "platform/posix/files/file_object.h"

namespace quarrow2::platform {

HANDLE AddHandle(std::shared_ptr<FileObject> file);

// The file behind `handle`; null, with ERROR_INVALID_HANDLE as the last error, when there
// is none. The object stays alive while the caller holds it, even if another thread
// closes the handle meanwhile.
std::shared_ptr<FileObject> FindHandle(HANDLE handle);

// Takes the file out of the table; null, with ERROR_INVALID_HANDLE, when there is none.
std::shared_ptr<FileObject> RemoveHandle(HANDLE handle);

}  // namespace quarrow2::platform

// CloseHandle: writes still held back reach the stream before the handle goes; its
// descriptor, and with it every lock it held, goes with the last user of the handle.
#include <mutex>

#include "platform/platform.h"
#include "platform/posix/handle_table.h"
#include "platform/posix/stream_content.h"
#include "platform/posix/system_errors.h"

using namespace quarrow2::posix;

BOOL CloseHandle(HANDLE hObject) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        std::shared_ptr<FileObject> file = RemoveHandle(hObject);
        if (!file) return FALSE;
        std::lock_guard<std::mutex> guard(file->mutex);
        if (DWORD error = file->named() ? StoreHeldWrites(*file) : 0) return FailWith(error, FALSE);
        return TRUE;
    });
}

// The table of open handles, and CloseHandle, which removes one.

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/posix/files/handle_table.h"
#include "platform/posix/files/stream_content.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

// Windows hands out multiples of 4; so does this table, from a start that no pointer-sized
// sentinel (0, -1, small pseudo-handles) can meet.
constexpr uintptr_t kFirstHandle = 0x10000;
constexpr uintptr_t kHandleStep = 4;

struct HandleTable {
    std::mutex mutex;
    uintptr_t next = kFirstHandle;
    std::unordered_map<uintptr_t, std::shared_ptr<FileObject>> files;
};

// Built on first use and never destroyed, so handles closed by other static destructors
// at exit still find it.
HandleTable& Table() {
    static HandleTable* table = new HandleTable;
    return *table;
}

std::shared_ptr<FileObject> TakeOrFind(HANDLE handle, bool take) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.mutex);
    auto found = table.files.find(reinterpret_cast<uintptr_t>(handle));
    if (found == table.files.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!take) return found->second;
    std::shared_ptr<FileObject> file = std::move(found->second);
    table.files.erase(found);
    return file;
}

}  // namespace

HANDLE AddHandle(std::shared_ptr<FileObject> file) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.mutex);
    uintptr_t value = table.next;
    table.files.emplace(value, std::move(file));
    table.next += kHandleStep;
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<FileObject> FindHandle(HANDLE handle) { return TakeOrFind(handle, false); }

std::shared_ptr<FileObject> RemoveHandle(HANDLE handle) { return TakeOrFind(handle, true); }

}  // namespace quarrow2::platform

// CloseHandle: writes still held back reach the stream before the handle goes; its
// descriptor, and with it every lock it held, goes with the last user of the handle.
using namespace quarrow2::platform;

BOOL CloseHandle(HANDLE hObject) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        std::shared_ptr<FileObject> file = RemoveHandle(hObject);
        if (!file) return FALSE;
        std::lock_guard<std::mutex> guard(file->mutex);
        if (DWORD error = file->named() ? StoreHeldWrites(*file) : 0) return FailWith(error, FALSE);
        return TRUE;
    });
}

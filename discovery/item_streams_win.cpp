// Windows: the listing and the one-shot read of platform/item_streams.h. The listing is the
// stream walk that Types makes, here with the reason it ends early; the read one CreateFileW
// and ReadFile.
#include "platform/item_streams.h"

#include <new>

#include "discovery/stream_walk.h"

namespace quarrow2::discovery {
namespace {

using platform::StreamEntry;

constexpr DWORD kShareEverything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct EntryCollector {
    std::vector<StreamEntry>& streams;
    DWORD status = 0;
};

LONG CollectEntry(const WIN32_STREAM_ID& header, const WCHAR* name, void* context) {
    if (header.dwStreamId != BACKUP_ALTERNATE_DATA) return 0;
    auto& into = *static_cast<EntryCollector*>(context);
    try {
        const std::basic_string_view<WCHAR> type = TypeNameOf(name);
        into.streams.push_back({WString(type), static_cast<ULONGLONG>(header.Size.QuadPart),
                                type.find(OLESTR(':')) != type.npos});
    } catch (const std::bad_alloc&) {
        into.status = ERROR_NOT_ENOUGH_MEMORY;
        return 1;
    }
    return 0;
}

}  // namespace
}  // namespace quarrow2::discovery

using quarrow2::discovery::CollectEntry;
using quarrow2::discovery::EntryCollector;
using quarrow2::discovery::kShareEverything;
using quarrow2::platform::UniqueHandle;

// The walk reads each stream's header, size and all, so the sizes cost nothing more.
DWORD quarrow2::platform::ListStreams(LPCWSTR path, std::vector<StreamEntry>& streams, bool) {
    streams.clear();
    // Backup semantics let a folder open; sharing everything, the walk refuses no one.
    UniqueHandle file(CreateFileW(path, GENERIC_READ, kShareEverything, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) return GetLastError();
    EntryCollector collector{streams};
    const DWORD ended = discovery::WalkStreams(file.get(), CollectEntry, &collector);
    return collector.status ? collector.status : ended;
}

DWORD quarrow2::platform::ReadStream(LPCWSTR filePath, LPCWSTR streamPath,
                                     std::vector<unsigned char>& value) {
    UniqueHandle stream(CreateFileW(streamPath, GENERIC_READ, kShareEverything, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!stream.valid()) {
        const DWORD error = GetLastError();
        // The same answer for a missing file and a missing stream: the file tells which.
        if (error == ERROR_FILE_NOT_FOUND &&
            GetFileAttributesW(filePath) != INVALID_FILE_ATTRIBUTES)
            return ERROR_NOT_FOUND;
        return error;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(stream.get(), &size)) return GetLastError();
    // An item's value is handed out whole, as one string or array.
    if (size.QuadPart > 0x7FFFFFF0) return ERROR_FILE_TOO_LARGE;
    try {
        value.resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    size_t done = 0;
    while (done < value.size()) {
        DWORD got = 0;
        if (!ReadFile(stream.get(), value.data() + done, static_cast<DWORD>(value.size() - done),
                      &got, nullptr))
            return GetLastError();
        if (got == 0) break;  // cut short since its size was asked
        done += got;
    }
    value.resize(done);
    return 0;
}

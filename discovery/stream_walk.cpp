#include "discovery/stream_walk.h"

#include <cstring>
#include <new>
#include <string_view>

namespace quarrow2::discovery {
namespace {

// The walk only ever reads, and lets others read alongside it. The path names the file
// itself, whole: a colon in its name is part of it, not a stream separator.
platform::UniqueHandle OpenForWalk(LPCWSTR path) {
    if (!path) return platform::UniqueHandle();
    return platform::UniqueHandle(OpenFileItself(path));
}

// Why a read of the backup stream failed, as the reader left it.
DWORD ReadFailure() {
    const DWORD code = GetLastError();
    return code ? code : ERROR_READ_FAULT;
}

}  // namespace

std::basic_string_view<WCHAR> TypeNameOf(const WCHAR* rawName) {
    std::basic_string_view<WCHAR> name(rawName);
    if (!name.empty() && name.front() == OLESTR(':')) name.remove_prefix(1);
    size_t suffix = name.find(OLESTR(":$DATA"));
    if (suffix != name.npos) name = name.substr(0, suffix);
    return name;
}

DWORD WalkBackupStream(BackupReader& reader, StreamVisitor visitor, void* context) {
    WIN32_STREAM_ID header;
    std::memset(&header, 0, sizeof header);
    // Room for the longest raw name and its terminator, so every name arrives whole.
    WCHAR name[kMaxRawStreamNameUnits + 1];
    for (;;) {
        DWORD got = 0;
        if (!reader.Read(&header, kStreamHeaderBytes, &got)) return ReadFailure();
        if (got == 0) return 0;  // past the last stream
        // A header cut short would leave fields of the one before it in place.
        if (got != kStreamHeaderBytes) return ERROR_INVALID_DATA;

        const DWORD nameBytes = header.dwStreamNameSize;
        // No file system makes a longer name; reading part of one would leave the walk in
        // the middle of it, so the walk ends here instead.
        if (nameBytes > kMaxRawStreamNameUnits * sizeof(WCHAR)) return ERROR_INVALID_DATA;
        got = 0;
        if (!reader.Read(name, nameBytes, &got)) return ReadFailure();
        if (got != nameBytes) return ERROR_INVALID_DATA;
        name[got / sizeof(WCHAR)] = 0;

        if (visitor(header, name, context) != 0) return 0;
        if (!reader.Skip(static_cast<ULONGLONG>(header.Size.QuadPart))) return ReadFailure();
    }
}

DWORD WalkStreams(HANDLE file, StreamVisitor visitor, void* context) {
    HandleBackupReader reader(file);
    return WalkBackupStream(reader, visitor, context);
}

LONG TypeNameVisitor(const WIN32_STREAM_ID& header, const WCHAR* name, void* collector) {
    if (header.dwStreamId != BACKUP_ALTERNATE_DATA) return 0;
    auto& into = *static_cast<TypeNameCollector*>(collector);
    std::basic_string_view<WCHAR> typeName = TypeNameOf(name);
    UniqueBstr copy(SysAllocStringLen(typeName.data(), static_cast<UINT>(typeName.size())));
    if (!copy.get()) {
        into.status = E_OUTOFMEMORY;
        return 1;
    }
    try {
        into.names.push_back(std::move(copy));
    } catch (const std::bad_alloc&) {
        into.status = E_OUTOFMEMORY;
        return 1;
    }
    return 0;
}

LONG SizeVisitor(const WIN32_STREAM_ID& header, const WCHAR*, void* total) {
    if (header.dwStreamId != BACKUP_ALTERNATE_DATA) return 0;
    LONG& sum = *static_cast<LONG*>(total);
    sum = static_cast<LONG>(static_cast<DWORD>(sum) + header.Size.u.LowPart);
    return 0;
}

HRESULT ListStreamTypes(LPCWSTR path, TypeNameList& names) {
    platform::UniqueHandle file = OpenForWalk(path);
    if (!file.valid()) return S_OK;
    TypeNameCollector collector{names};
    WalkStreams(file.get(), TypeNameVisitor, &collector);
    return collector.status;
}

void TotalStreamLength(LPCWSTR path, LONG* total) {
    *total = 0;
    platform::UniqueHandle file = OpenForWalk(path);
    if (!file.valid()) return;
    WalkStreams(file.get(), SizeVisitor, total);
}

}  // namespace quarrow2::discovery

// BackupRead and BackupSeek: the backup stream of a file, made up from its main stream and
// its "user." attributes. Each stream is a 20-byte header, its name in UTF-16 and its
// content: first BACKUP_DATA for the main stream (no name), then one BACKUP_ALTERNATE_DATA
// record per attribute that holds a stream, named ":T:$DATA", in the order the file system
// lists them.
//
// Sizes come from size queries; a content is fetched only when it is read, so skipping it
// with BackupSeek costs nothing however large it is.
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/files/handle_table.h"
#include "platform/posix/files/positional_io.h"
#include "quarrow2/names.h"
#include "platform/posix/files/stream_layout.h"
#include "platform/posix/files/stream_path.h"
#include "platform/posix/files/stream_value.h"
#include "platform/posix/system/errors.h"

namespace quarrow2::platform {
namespace {

constexpr size_t kHeaderBytes = 20;  // WIN32_STREAM_ID up to its name

struct Attribute {
    std::string name;    // "user.T"
    WString streamName;  // ":T:$DATA"
};

// The context that BackupRead hands its caller; one per walk.
struct BackupWalk {
    HANDLE file = nullptr;
    bool listed = false;
    bool mainStreamDone = false;
    std::vector<Attribute> attributes;
    size_t nextAttribute = 0;
    StreamLayout layout = StreamLayout::kNative;  // of the file's streams; a named handle's own

    // The record being read: header and name, then `size` bytes of content.
    bool inRecord = false;
    std::string source;  // attribute that holds the content; empty for the main stream
    std::vector<unsigned char> headerAndName;
    size_t headerAndNameRead = 0;
    uint64_t size = 0;
    uint64_t contentRead = 0;
    std::optional<std::vector<unsigned char>> value;  // a named content, once fetched
};

// Walks alive in this process; a context that is not one of them is refused, not used.
struct WalkRegistry {
    std::mutex mutex;
    std::unordered_map<BackupWalk*, std::unique_ptr<BackupWalk>> walks;
};

WalkRegistry& Registry() {
    static WalkRegistry* registry = new WalkRegistry;
    return *registry;
}

BackupWalk* StartWalk(HANDLE file) {
    auto walk = std::make_unique<BackupWalk>();
    walk->file = file;
    BackupWalk* key = walk.get();
    WalkRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    registry.walks.emplace(key, std::move(walk));
    return key;
}

BackupWalk* FindWalk(LPVOID context) {
    WalkRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    auto found = registry.walks.find(static_cast<BackupWalk*>(context));
    return found == registry.walks.end() ? nullptr : found->second.get();
}

bool EndWalk(LPVOID context) {
    WalkRegistry& registry = Registry();
    std::unique_ptr<BackupWalk> walk;
    std::lock_guard<std::mutex> guard(registry.mutex);
    auto found = registry.walks.find(static_cast<BackupWalk*>(context));
    if (found == registry.walks.end()) return false;
    walk = std::move(found->second);
    registry.walks.erase(found);
    return true;
}

DWORD ListAttributes(int fd, StreamLayout layout, std::vector<Attribute>& out) {
    std::vector<char> list;
    if (DWORD error = ListAttributeNames(fd, list)) return error;
    for (size_t at = 0; at < list.size();) {
        std::string name(list.data() + at);
        at += name.size() + 1;
        std::string stream;
        // Another program's attribute whose name holds a colon ("user.x:$DATA") is no
        // stream NTFS could have, and read as one its name would alias another's.
        if (!StreamNameOf(layout, name, stream) || stream.find(':') != stream.npos) continue;
        Attribute attribute;
        attribute.streamName = NameUtf16FromBytes(stream.data(), stream.size());
        attribute.streamName.insert(attribute.streamName.begin(), u':');
        attribute.streamName.append(u":$DATA");
        attribute.name = std::move(name);
        out.push_back(std::move(attribute));
    }
    return 0;
}

void BeginRecord(BackupWalk& walk, DWORD kind, const WString& name, uint64_t size,
                 std::string source) {
    const DWORD attributes = STREAM_NORMAL_ATTRIBUTE;
    const DWORD nameBytes = static_cast<DWORD>(name.size() * sizeof(WCHAR));
    walk.headerAndName.assign(kHeaderBytes + nameBytes, 0);
    unsigned char* header = walk.headerAndName.data();
    std::memcpy(header + 0, &kind, 4);
    std::memcpy(header + 4, &attributes, 4);
    std::memcpy(header + 8, &size, 8);
    std::memcpy(header + 16, &nameBytes, 4);
    if (nameBytes) std::memcpy(header + kHeaderBytes, name.data(), nameBytes);
    walk.headerAndNameRead = 0;
    walk.size = size;
    walk.contentRead = 0;
    walk.source = std::move(source);
    walk.value.reset();
    walk.inRecord = true;
}

// Moves to the next stream; false at the end of the file's streams.
DWORD NextRecord(BackupWalk& walk, FileObject& file, bool& found) {
    found = false;
    const int fd = file.fd.get();
    if (!walk.listed) {
        // The streams of a named stream's handle are that stream alone.
        walk.layout = file.layout;
        if (!file.named()) {
            if (file.layoutError) return file.layoutError;
            if (DWORD error = ListAttributes(fd, walk.layout, walk.attributes)) return error;
        }
        walk.listed = true;
    }
    if (!walk.mainStreamDone) {
        walk.mainStreamDone = true;
        // A directory has no data of its own, only its named streams.
        if (!file.directory) {
            uint64_t size = 0;
            if (file.named()) {
                DWORD error = StoredValueSize(fd, file.attribute, size, file.layout);
                if (error && error != ERROR_FILE_NOT_FOUND) return error;
            } else {
                struct stat st;
                if (::fstat(fd, &st) != 0) return Win32ErrorFromErrno(errno);
                size = static_cast<uint64_t>(st.st_size);
            }
            BeginRecord(walk, BACKUP_DATA, WString(), size, file.attribute);
            found = true;
            return 0;
        }
    }
    while (walk.nextAttribute < walk.attributes.size()) {
        const Attribute& attribute = walk.attributes[walk.nextAttribute++];
        uint64_t size = 0;
        DWORD error = StoredValueSize(fd, attribute.name, size, walk.layout);
        if (error == ERROR_FILE_NOT_FOUND) continue;  // removed since the listing
        if (error) return error;
        BeginRecord(walk, BACKUP_ALTERNATE_DATA, attribute.streamName, size, attribute.name);
        found = true;
        return 0;
    }
    return 0;
}

// Copies content bytes [walk.contentRead, + count) into `out`. A content that shrank since
// its size was given reads as zeros past its end, so the record keeps the size it announced.
DWORD ReadRecordContent(BackupWalk& walk, FileObject& file, unsigned char* out, size_t count) {
    std::memset(out, 0, count);
    if (walk.source.empty()) {
        size_t done = 0;
        return ReadAt(file.fd.get(), walk.contentRead, out, count, done);
    }
    if (!walk.value) {
        std::vector<unsigned char> value;
        DWORD error = ReadStoredValue(file.fd.get(), walk.source, value, walk.layout);
        if (error && error != ERROR_FILE_NOT_FOUND) return error;
        walk.value = std::move(value);
    }
    const std::vector<unsigned char>& value = *walk.value;
    if (walk.contentRead < value.size()) {
        size_t available =
            static_cast<size_t>(std::min<uint64_t>(count, value.size() - walk.contentRead));
        std::memcpy(out, value.data() + walk.contentRead, available);
    }
    return 0;
}

void EndRecordIfDone(BackupWalk& walk) {
    if (walk.headerAndNameRead == walk.headerAndName.size() && walk.contentRead == walk.size) {
        walk.inRecord = false;
        walk.value.reset();
    }
}

// Reads on from where the walk stands, up to the end of the current stream at most.
DWORD ReadWalk(BackupWalk& walk, FileObject& file, unsigned char* buffer, DWORD wanted,
               DWORD& delivered) {
    delivered = 0;
    if (wanted == 0) return 0;
    if (!walk.inRecord) {
        bool found = false;
        if (DWORD error = NextRecord(walk, file, found)) return error;
        if (!found) return 0;
    }
    size_t fromHeader =
        std::min<size_t>(wanted, walk.headerAndName.size() - walk.headerAndNameRead);
    std::memcpy(buffer, walk.headerAndName.data() + walk.headerAndNameRead, fromHeader);
    walk.headerAndNameRead += fromHeader;
    size_t fromContent = 0;
    if (walk.headerAndNameRead == walk.headerAndName.size())
        fromContent = static_cast<size_t>(
            std::min<uint64_t>(wanted - fromHeader, walk.size - walk.contentRead));
    if (fromContent) {
        if (DWORD error = ReadRecordContent(walk, file, buffer + fromHeader, fromContent)) {
            walk.headerAndNameRead -= fromHeader;
            return error;
        }
        walk.contentRead += fromContent;
    }
    delivered = static_cast<DWORD>(fromHeader + fromContent);
    EndRecordIfDone(walk);
    return 0;
}

BOOL Read(HANDLE hFile, LPBYTE buffer, DWORD wanted, LPDWORD bytesRead, BOOL abort,
          LPVOID* context) {
    if (bytesRead) *bytesRead = 0;
    if (!context) return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    if (abort) {
        if (*context && !EndWalk(*context)) return FailWith(ERROR_INVALID_PARAMETER, FALSE);
        *context = nullptr;
        return TRUE;
    }
    std::shared_ptr<FileObject> file = FindHandle(hFile);
    if (!file) return FALSE;
    if (!(file->access & kReadAccess)) return FailWith(ERROR_ACCESS_DENIED, FALSE);
    if (wanted && !buffer) return FailWith(ERROR_NOACCESS, FALSE);
    BackupWalk* walk = *context ? FindWalk(*context) : nullptr;
    if (*context && (!walk || walk->file != hFile)) return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    if (!walk) *context = walk = StartWalk(hFile);
    DWORD delivered = 0;
    if (DWORD error = ReadWalk(*walk, *file, buffer, wanted, delivered))
        return FailWith(error, FALSE);
    if (bytesRead) *bytesRead = delivered;
    return TRUE;
}

BOOL Seek(HANDLE hFile, uint64_t distance, LPDWORD movedLow, LPDWORD movedHigh, LPVOID* context) {
    if (movedLow) *movedLow = 0;
    if (movedHigh) *movedHigh = 0;
    if (!context) return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    if (!FindHandle(hFile)) return FALSE;
    if (!*context) return FailWith(ERROR_SEEK, FALSE);  // no stream started yet
    BackupWalk* walk = FindWalk(*context);
    if (!walk || walk->file != hFile) return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    // Only a content can be skipped, never a header.
    if (!walk->inRecord || walk->headerAndNameRead < kHeaderBytes)
        return distance == 0 ? TRUE : FailWith(ERROR_SEEK, FALSE);
    walk->headerAndNameRead = walk->headerAndName.size();  // what is left of the name
    const uint64_t step = std::min(distance, walk->size - walk->contentRead);
    walk->contentRead += step;
    EndRecordIfDone(*walk);
    if (movedLow) *movedLow = static_cast<DWORD>(step);
    if (movedHigh) *movedHigh = static_cast<DWORD>(step >> 32);
    // Past the end of the content the walk stands at the next header, and says so.
    if (step < distance) return FailWith(ERROR_SEEK, FALSE);
    return TRUE;
}

}  // namespace
}  // namespace quarrow2::platform

using namespace quarrow2::platform;

BOOL BackupRead(HANDLE hFile, LPBYTE lpBuffer, DWORD nNumberOfBytesToRead,
                LPDWORD lpNumberOfBytesRead, BOOL bAbort, BOOL, LPVOID* lpContext) {
    return Guarded<BOOL>(FALSE, [&] {
        return Read(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, bAbort, lpContext);
    });
}

BOOL BackupSeek(HANDLE hFile, DWORD dwLowBytesToSeek, DWORD dwHighBytesToSeek,
                LPDWORD lpdwLowByteSeeked, LPDWORD lpdwHighByteSeeked, LPVOID* lpContext) {
    return Guarded<BOOL>(FALSE, [&] {
        uint64_t distance = (static_cast<uint64_t>(dwHighBytesToSeek) << 32) | dwLowBytesToSeek;
        return Seek(hFile, distance, lpdwLowByteSeeked, lpdwHighByteSeeked, lpContext);
    });
}

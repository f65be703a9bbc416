#include "platform/posix/files/stream_content.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/files/stream_value.h"

namespace quarrow2::platform {
namespace {

// A stream that another handle removed meanwhile reads as empty, and writing makes it
// again.
DWORD StoredSizeOrNothing(FileObject& file, uint64_t& size) {
    size = 0;
    DWORD error = StoredValueSize(file.fd.get(), file.attribute, size, file.layout);
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;
}

DWORD StoredValueOrNothing(FileObject& file, std::vector<unsigned char>& value) {
    value.clear();
    DWORD error = ReadStoredValue(file.fd.get(), file.attribute, value, file.layout);
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;
}

// Appends what the stored value has past the held bytes, so that they are the whole value.
DWORD CompleteHeldWrites(FileObject& file) {
    HeldWrites& held = *file.held;
    if (!held.storedTail) return 0;
    uint64_t storedSize = 0;
    if (DWORD error = StoredSizeOrNothing(file, storedSize)) return error;
    if (storedSize > held.bytes.size()) {
        std::vector<unsigned char> stored;
        if (DWORD error = StoredValueOrNothing(file, stored)) return error;
        if (stored.size() > held.bytes.size())
            held.bytes.insert(held.bytes.end(), stored.begin() + held.bytes.size(), stored.end());
    }
    held.storedTail = false;
    return 0;
}

DWORD WholeContent(FileObject& file, std::vector<unsigned char>& value) {
    if (!file.held) return StoredValueOrNothing(file, value);
    if (DWORD error = CompleteHeldWrites(file)) return error;
    value = file.held->bytes;
    return 0;
}

void Overlay(std::vector<unsigned char>& value, uint64_t offset, const unsigned char* data,
             size_t size) {
    // A gap before the write reads as zeros. The written bytes are copied once: growing
    // the value first would zero them before the copy, a whole second pass over a value
    // that a put writes in full.
    if (value.size() < offset) value.resize(offset);
    const size_t overwritten = static_cast<size_t>(std::min<uint64_t>(size, value.size() - offset));
    if (overwritten) std::memcpy(value.data() + offset, data, overwritten);
    if (overwritten < size) value.insert(value.end(), data + overwritten, data + size);
}

DWORD Store(FileObject& file, const std::vector<unsigned char>& value) {
    return StoreValue(file.fd.get(), file.attribute, value.data(), value.size(), file.layout);
}

}  // namespace

DWORD ContentSize(FileObject& file, uint64_t& size) {
    if (!file.held) return StoredSizeOrNothing(file, size);
    size = file.held->bytes.size();
    if (!file.held->storedTail) return 0;
    uint64_t storedSize = 0;
    if (DWORD error = StoredSizeOrNothing(file, storedSize)) return error;
    size = std::max<uint64_t>(size, storedSize);
    return 0;
}

DWORD ReadContent(FileObject& file, uint64_t offset, void* buffer, size_t capacity, size_t& count) {
    count = 0;
    if (offset == 0 && !file.held) {
        // The usual whole-value read: straight into the caller's buffer.
        bool fits = true;
        DWORD error = ReadStoredValueInto(file.fd.get(), file.attribute, buffer, capacity, count,
                                          fits, file.layout);
        if (error == ERROR_FILE_NOT_FOUND) return 0;
        if (error || fits) return error;
    }
    std::vector<unsigned char> value;
    if (DWORD error = WholeContent(file, value)) return error;
    if (offset < value.size()) {
        count = static_cast<size_t>(std::min<uint64_t>(capacity, value.size() - offset));
        std::memcpy(buffer, value.data() + offset, count);
    }
    return 0;
}

bool InsideOwnLock(const FileObject& file, uint64_t offset, uint64_t length) {
    return std::any_of(file.locks.begin(), file.locks.end(), [&](const ByteRange& lock) {
        return lock.offset <= offset && offset - lock.offset <= lock.length &&
               length <= lock.length - (offset - lock.offset);
    });
}

DWORD WriteContent(FileObject& file, uint64_t offset, const unsigned char* data, size_t size) {
    if (offset > kMaxStreamValue || size > kMaxStreamValue - offset) return ERROR_FILE_TOO_LARGE;
    if (InsideOwnLock(file, offset, size)) {
        if (!file.held) file.held.emplace();
        HeldWrites& held = *file.held;
        // A gap before the write is the stored value's, so that must be known first.
        if (offset > held.bytes.size())
            if (DWORD error = CompleteHeldWrites(file)) return error;
        Overlay(held.bytes, offset, data, size);
        return 0;
    }
    std::vector<unsigned char> value;
    if (DWORD error = WholeContent(file, value)) return error;
    Overlay(value, offset, data, size);
    if (DWORD error = Store(file, value)) return error;
    file.held.reset();
    return 0;
}

DWORD StoreContentEndingAt(FileObject& file, uint64_t end) {
    if (end > kMaxStreamValue) {
        file.held.reset();
        return ERROR_FILE_TOO_LARGE;
    }
    if (!file.held) {
        uint64_t size = 0;
        if (DWORD error = StoredSizeOrNothing(file, size)) return error;
        if (size == end) return 0;
        std::vector<unsigned char> value;
        if (DWORD error = StoredValueOrNothing(file, value)) return error;
        value.resize(end);
        return Store(file, value);
    }
    DWORD error = 0;
    if (end > file.held->bytes.size()) error = CompleteHeldWrites(file);
    if (!error) {
        file.held->bytes.resize(end);
        error = Store(file, file.held->bytes);
    }
    file.held.reset();
    return error;
}

DWORD StoreHeldWrites(FileObject& file) {
    if (!file.held) return 0;
    DWORD error = CompleteHeldWrites(file);
    if (!error) error = Store(file, file.held->bytes);
    file.held.reset();
    return error;
}

}  // namespace quarrow2::platform

// The stored value of a named stream: one extended attribute, read and replaced whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/files/stream_layout.h"

namespace quarrow2::platform {

// The largest value Linux lets an attribute hold (XATTR_SIZE_MAX); file systems may allow
// less.
constexpr uint64_t kMaxStreamValue = 65536;

// Each returns 0 or a Windows code; ERROR_FILE_NOT_FOUND says the stream does not exist.
// Sizes and values are the stream's content, whatever the layout stores with it.
DWORD StoredValueSize(int fd, const std::string& attribute, uint64_t& size,
                      StreamLayout layout = StreamLayout::kNative);
DWORD ReadStoredValue(int fd, const std::string& attribute, std::vector<unsigned char>& value,
                      StreamLayout layout = StreamLayout::kNative);

// Reads the whole value straight into `buffer` when it fits; `fits` is false (and nothing
// is read) when the value is larger than `capacity`.
DWORD ReadStoredValueInto(int fd, const std::string& attribute, void* buffer, size_t capacity,
                          size_t& count, bool& fits, StreamLayout layout = StreamLayout::kNative);

// Replaces the value in one atomic step: readers see the old value or the new one, never a
// mix, whatever happens to this process. A value over the limits is refused with
// ERROR_FILE_TOO_LARGE, or ERROR_EA_TABLE_FULL when the file's attribute space is full
// (ERROR_DISK_FULL when the disk is), and the old value stays.
DWORD StoreValue(int fd, const std::string& attribute, const unsigned char* data, size_t size,
                 StreamLayout layout = StreamLayout::kNative);

// The Windows code for `err`, the errno of a refused attribute write on `fd`.
DWORD WhyValueWasRefused(int fd, int err);

}  // namespace quarrow2::platform

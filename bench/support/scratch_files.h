// Files the benchmarks work on, made with plain system calls so that their making is not
// part of anything measured.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarrow2::bench {

// The value sizes every item benchmark runs with.
constexpr size_t kValueSizes[] = {16, 1024, 4096, 60 * 1024};

// "16 B", "1 KiB", "60 KiB", "100 MiB".
std::string SizeName(uint64_t bytes);

// `n` bytes of a fixed pattern: a valid UTF-16LE text when `n` is even.
std::string PatternBytes(size_t n);

// The extended attribute that holds the item of type `type`.
std::string AttributeOf(const std::string& type);

// The type name of the i-th of many items: "Item0000", "Item0001", ...
std::string NumberedType(size_t i);

// A new regular file at `path` whose main stream holds `mainStreamBytes` real bytes (written,
// not a hole, so that a size is never cheaper to skip than it claims); false with `why` when
// that fails.
bool MakeFile(const std::string& path, uint64_t mainStreamBytes, std::string& why);

// Stores the items NumberedType(0) ... NumberedType(count - 1), each `valueBytes` long. False
// with `why` when the file system cannot hold them all (ext4 without ea_inode keeps about
// 4 KiB of attributes per file), saying how many it held.
bool AddNumberedItems(const std::string& path, size_t count, size_t valueBytes, std::string& why);

// Stores one item of type `type` holding `value`; false with `why` when it does not fit.
bool AddItem(const std::string& path, const std::string& type, const std::string& value,
             std::string& why);

// Bytes the file system really keeps for the file's main stream (st_blocks), to tell a real
// main stream from a hole.
uint64_t AllocatedBytes(const std::string& path);

}  // namespace quarrow2::bench

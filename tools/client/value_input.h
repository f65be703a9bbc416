// Where set takes its value from (the command line, a file or standard input) and where
// restore takes its input from, each read in pieces and no further than can be used, so an
// endless source (/dev/zero, `yes |`) is refused instead of filling memory.
#pragma once

#include <optional>
#include <string>

namespace quarrow2::tool {

// The most a dump or getfattr text given to restore may hold: an item's stored size is a
// signed 32-bit count, and a document is read whole.
constexpr size_t kLargestInputBytes = 0x7FFFFFFF;

// The whole content of `source` (a file, or standard input for "-"), as bytes; UsageError
// when it cannot be read or holds more than kLargestInputBytes. Reading stops early at a
// zero byte, which neither a dump nor getfattr text holds.
std::string ReadInput(const std::string& source);

// The content of `source` (as ReadInput), with whitespace dropped as it comes when
// `dropSpace` (hex digits); nothing once it holds more than `limit` bytes, which are all
// that is read of it.
std::optional<std::string> ReadBoundedValue(const std::string& source, size_t limit,
                                            bool dropSpace);

// The message of a value refused for its size: the library's own first sentence for a put
// ("Unable to put text." or "Unable to put data.") and the bound, LargestValueBytes().
std::string ValueTooLarge(bool text);

}  // namespace quarrow2::tool

// Where `set` takes its value from: the command line, a file or standard input.
#pragma once

#include <string>

namespace quarrow2::tool {

// An item's stored size is a signed 32-bit count; no value may need more bytes.
constexpr size_t kLargestValueBytes = 0x7FFFFFFF;

// The whole content, as bytes; UsageError when it cannot be read or holds more than
// kLargestValueBytes.
std::string ReadValueFile(const std::string& path);
std::string ReadStandardInput();

}  // namespace quarrow2::tool

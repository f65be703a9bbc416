// The library as a program sees it: a File made through DllGetClassObject, items and
// collections through IFile, strings and arrays from the automation runtime, held by the
// owners every client uses.
#pragma once

#include <string>

#include "quarrow2/client.h"

namespace quarrow2::bench {

// A new File bound to `path` on a volume with named streams; empty, with `why`, otherwise.
ComPtr<IFile> BoundFile(const std::string& path, std::string& why);

// An automation string of the byte name `bytes` (paths and type names), by the library's
// own name codec.
UniqueBstr Utf16(const std::string& bytes);

// An automation string whose bytes are `bytes` (an even count: whole UTF-16 units).
UniqueBstr TextOfBytes(const std::string& bytes);

// `what`, the status code and the rich error's description, for a failure message.
std::string Failure(const std::string& what, HRESULT hr);

}  // namespace quarrow2::bench

// The library as a program sees it: a File made through DllGetClassObject, items and
// collections through IFile, strings and arrays from the automation runtime. The owners
// are the command-line tool's, which is such a program too.
#pragma once

#include <string>

#include "quarrow2/quarrow2.h"
#include "tools/client_owners.h"

namespace quarrow2::bench {

using tool::Bstr;
using tool::Ref;
using tool::Variant;

// A new File bound to `path` on a volume with named streams; empty, with `why`, otherwise.
Ref<IFile> BoundFile(const std::string& path, std::string& why);

// An automation string of the ASCII text `ascii` (paths and type names).
Bstr Utf16(const std::string& ascii);

// An automation string whose bytes are `bytes` (an even count: whole UTF-16 units).
Bstr TextOfBytes(const std::string& bytes);

// A byte-array variant holding `bytes`; false when the runtime refuses.
bool ByteArrayOf(const std::string& bytes, Variant& out);

// `what`, the status code and the rich error's description, for a failure message.
std::string Failure(const std::string& what, HRESULT hr);

}  // namespace quarrow2::bench

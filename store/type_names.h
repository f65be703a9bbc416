// Type names and the stream paths built from them.
#pragma once

#include "platform/owners.h"

namespace quarrow2 {

// True for a type name that must never be opened as an item: names that would reach the
// file's main stream ("$DATA", the empty name, and every name that starts with a colon,
// since NTFS compares stream types without regard to case). Read up to the first zero
// unit; a null name is the empty name.
bool IsForbiddenType(const WCHAR* type);

// True when the type name holds a path separator. No stream name can hold one, and the
// system would resolve it as a path, so that the "stream" lands on another file.
bool HasPathSeparator(const WCHAR* type);

// The file path, then ":" and the type name when that is not empty. Both are read up to
// their first zero unit; null counts as empty. Throws std::bad_alloc.
WString ComposeStreamPath(const WCHAR* filePath, const WCHAR* type);

}  // namespace quarrow2

// Type names and the stream paths built from them.
#pragma once

#include "platform/owners.h"

namespace quarrow2::store {

// True for a type name that must never be opened as an item: names that would reach the
// file's main stream ("$DATA", the empty name, and every name that starts with a colon,
// since NTFS compares stream types without regard to case), and names made only of dots
// and blanks, which Windows trims away to the file itself. Read up to the first zero unit;
// a null name is the empty name.
bool IsForbiddenType(const WCHAR* type);

// False for a type name that no named stream can have because the system would read it
// as more than a stream name: a path separator ("/", "\\") would make it a path to
// another file, and a colon (other than in a closing ":$DATA", the stream kind) would
// split it at a file whose own name holds a colon. Read up to the first zero unit.
bool CanNameAStream(const WCHAR* type);

// The file path, then ":" and the type name when that is not empty; a type name's closing
// ":$DATA" (the stream kind, in any case) is left out. Both are read up to their first zero
// unit; null counts as empty. Throws std::bad_alloc.
WString ComposeStreamPath(const WCHAR* filePath, const WCHAR* type);

}  // namespace quarrow2::store

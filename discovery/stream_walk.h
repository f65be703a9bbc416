// Which items a file carries and how many bytes they hold, learnt from the file system alone:
// a walk over the file's backup stream that reads stream headers and names and skips every
// content unread, so that it costs the same for a large main stream as for an empty one.
#pragma once

#include <string_view>
#include <vector>

#include "discovery/backup_reader.h"
#include "platform/owners.h"
#include "platform/platform.h"

namespace quarrow2::discovery {

// The fixed part of a stream header, before its name.
constexpr DWORD kStreamHeaderBytes = 20;
// The longest raw stream name there can be: a colon, a name of NTFS's 255 units, ":$DATA".
constexpr DWORD kMaxRawStreamNameUnits = 1 + 255 + 6;

// Called once per stream with its header, its raw name (zero-terminated; empty for the main
// stream) and the caller's context. 0 lets the walk go on; anything else stops it.
using StreamVisitor = LONG (*)(const WIN32_STREAM_ID& header, const WCHAR* name, void* context);

// Walks the backup stream of an open file. Reads every raw name whole, never a content
// byte; ends at the end of the backup stream, at a failed, short or malformed read (a raw
// name longer than any the file system can make included), or when the visitor says so.
// Frees its read context on every path; the handle stays the caller's. 0 when it went to the
// end or the visitor stopped it; else why it ended early: the reason a read failed (the
// thread's last error, ERROR_READ_FAULT when there is none), or ERROR_INVALID_DATA for a
// short or malformed one. Types and Length ignore it, as no failure of theirs is reported.
DWORD WalkStreams(HANDLE file, StreamVisitor visitor, void* context);
// The same walk over any backup stream.
DWORD WalkBackupStream(BackupReader& reader, StreamVisitor visitor, void* context);

// The type name in a raw stream name: without its one leading colon, cut before the first
// ":$DATA".
std::basic_string_view<WCHAR> TypeNameOf(const WCHAR* rawName);

// Type names, in the order the file system reports the streams.
using TypeNameList = std::vector<UniqueBstr>;

// Context of TypeNameVisitor: the list it appends to, and E_OUTOFMEMORY once a name could
// not be copied (the walk stops there; the names before it stand).
struct TypeNameCollector {
    TypeNameList& names;
    HRESULT status = S_OK;
};

// Appends the type name of each named data stream: the raw name without its one leading
// colon, cut before the first ":$DATA".
LONG TypeNameVisitor(const WIN32_STREAM_ID& header, const WCHAR* name, void* collector);
// Adds the low 32 bits of each named data stream's size to the LONG total, wrapping round.
LONG SizeVisitor(const WIN32_STREAM_ID& header, const WCHAR* name, void* total);

// Appends the type names of the file's named data streams to the list. A file that cannot
// be opened (missing, a directory, held open for writing elsewhere) leaves it as it was.
// S_OK, or E_OUTOFMEMORY when a name could not be copied.
HRESULT ListStreamTypes(LPCWSTR path, TypeNameList& names);
// The total size of the file's named data streams, modulo 2^32; 0 when it cannot be opened.
void TotalStreamLength(LPCWSTR path, LONG* total);

}  // namespace quarrow2::discovery

// A file's named streams in the library's own terms, beside the system calls platform.h
// declares: the listing of a file's streams with their sizes, in one walk, and one read of a
// stream's whole value. Both fail with the cause, where the walk behind File's Types and
// Length ends quietly. Linux answers them from the extended attributes directly
// (platform/posix/files/item_streams.cpp); Windows with the backup-read walk and
// CreateFileW/ReadFile (discovery/item_streams_win.cpp, beside the walk).
#pragma once

#include <vector>

#include "platform/owners.h"
#include "platform/platform.h"

namespace quarrow2::platform {

// One named stream of a file.
struct StreamEntry {
    WString name;          // what follows the file's path and ":" in the stream's path
    ULONGLONG size = 0;    // its content's bytes
    bool foreign = false;  // a name no stream can have (it holds ":"): another program's
                           // attribute, which no stream path of the file reaches
};

// The named streams of the file or folder that the whole of `path` names (colons and all),
// in the order the file system keeps them: 0, or the Windows code of why they cannot be
// listed (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_BAD_ENVIRONMENT for a layout
// word that names no layout, ...). A file without streams is an empty listing. Without
// `sizes` the names alone are wanted and the sizes are not to be used: where a size costs a
// call of its own (Linux), only the first is asked, which refuses a caller who may not read
// the items as the listing with sizes refuses them; where the walk tells them anyway
// (Windows), they are kept.
DWORD ListStreams(LPCWSTR path, std::vector<StreamEntry>& streams, bool sizes = true);

// The whole content of the stream `streamPath` of the file `filePath`, read for reading only
// and shared with every other reader, writer and deleter, so that it never refuses nor waits
// for an item held open elsewhere: 0; ERROR_NOT_FOUND when the file is there but has no such
// stream; else the Windows code of why it could not be read. `value` is read into the
// capacity it has first, so that a small value needs no question about its size.
DWORD ReadStream(LPCWSTR filePath, LPCWSTR streamPath, std::vector<unsigned char>& value);

}  // namespace quarrow2::platform

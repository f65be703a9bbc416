// How a folder tree keeps named streams in extended attributes. The native layout keeps the
// stream T as "user.T" with the content as it is. Samba's streams_xattr module, which file
// servers use so that the named streams of their Windows clients survive, keeps it as
// "user.DosStream.T:$DATA" with the content followed by one zero byte. A marker on a folder
// (a share's folder, say) names the layout of everything below it, so that every program
// reaching those files, locally, through another mount or over SMB, sees the same items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quarrow2::platform {

struct StreamPath;

enum class StreamLayout { kNative, kSamba };

// The override every folder follows when it is set: "native" or "samba".
constexpr char kLayoutVariable[] = "QUARROW2_LAYOUT";
// The attribute on a folder that names the layout of its tree, the same words. It is no item
// in either layout.
constexpr char kLayoutMarker[] = "user.quarrow2.layout";

// The layout of the items of the file or folder that `path` names, as ResolveStreamPath or
// ResolveWholePath left it (a missing file is taken to be made in its folder), or as a split
// path whose `file_stat` the caller filled from the file itself: the override;
// else the marker of the nearest folder holding one, from the folder itself (or, for a
// file, the folder that holds it; for a symbolic link, the one that holds its target) up
// to the top of its file system; else native. The walk up stays on the file system: at the
// root of a mount of one of its folders (a bind mount) it goes on where a mount of more of
// that file system shows the same folder, so each path to a file gives the same answer
// where the marker can be seen at all. Each folder's answer is kept for the process, so a
// file whose folder is known costs no system call here. ERROR_BAD_ENVIRONMENT for an
// override or a marker that names no layout: guessing could put a file's items where the
// other side never looks.
DWORD StreamLayoutOf(StreamPath& path, StreamLayout& layout);

// The same for the folder open as `folder` (O_PATH will do), whose own items and files
// share the answer: a walk asks once per folder, at the cost of one statx.
DWORD FolderStreamLayout(int folder, StreamLayout& layout);

// The names of `fd`'s extended attributes, each ended by a zero byte, in the file system's
// order; none where the file system keeps no attributes.
DWORD ListAttributeNames(int fd, std::vector<char>& list);

// Moves a resolved named stream path (its attribute "user.T") into the layout of the file
// (StreamLayoutOf). ERROR_FILENAME_EXCED_RANGE when the layout's longer name passes the
// 255-byte limit of an attribute name; ERROR_INVALID_NAME for the stream whose native
// attribute is the marker, which no item may change.
DWORD PlaceInLayout(StreamPath& path);

// The stream name that `attribute` holds in `layout`; false for an attribute that is no
// stream there (Samba's own "user.DOSATTRIB", say, or the marker).
bool StreamNameOf(StreamLayout layout, const std::string& attribute, std::string& name);

// Bytes that the layout stores after each content: Samba's zero byte.
constexpr size_t StoredSuffixBytes(StreamLayout layout) {
    return layout == StreamLayout::kSamba ? 1 : 0;
}

// The content size of a stored value. A Samba value without its zero byte (made by hand)
// counts as empty.
inline uint64_t ContentSizeOf(StreamLayout layout, uint64_t storedSize) {
    const size_t suffix = StoredSuffixBytes(layout);
    return storedSize > suffix ? storedSize - suffix : 0;
}

// The bytes to store for a content of `size` bytes: `data` itself in the native layout,
// else a copy with the suffix in `scratch`.
const unsigned char* StoredForm(StreamLayout layout, const unsigned char* data, size_t size,
                                std::vector<unsigned char>& scratch, size_t& storedSize);

// ERROR_EA_LIST_INCONSISTENT when a new stream in `layout` would give the file of `fd`
// items in both layouts: a native item is any "user." attribute but Samba's own
// ("user.DOSATTRIB", "user.DosStream.*") and the marker; a Samba item is a
// "user.DosStream.T:$DATA" attribute. A walk shows the items of the file's layout.
DWORD RefuseMixing(int fd, StreamLayout layout);

}  // namespace quarrow2::platform

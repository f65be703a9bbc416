// How a file system keeps named streams in extended attributes. The native layout keeps the
// stream T as "user.T" with the content as it is. Samba's streams_xattr module, which file
// servers use so that the named streams of their Windows clients survive, keeps it as
// "user.DosStream.T:$DATA" with the content followed by one zero byte. One layout holds for
// a whole file system, so that every program reaching it, locally or over SMB, sees the same
// items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quarrow2::platform {

struct StreamPath;

enum class StreamLayout { kNative, kSamba };

// The override every file system follows when it is set: "native" or "samba".
constexpr char kLayoutVariable[] = "QUARROW2_LAYOUT";
// The attribute on the root folder of a file system that names its layout, the same words.
constexpr char kLayoutMarker[] = "user.quarrow2.layout";

// The layout of the file system that holds `fd` (any descriptor, O_PATH included): the
// override; else the marker on that file system's root, read once per file system in a
// process; else native. ERROR_BAD_ENVIRONMENT for an override or a marker that names no
// layout: guessing could put a file's items where the other side never looks.
DWORD StreamLayoutOf(int fd, StreamLayout& layout);
// The same for the file system of device `device`.
DWORD StreamLayoutOn(dev_t device, StreamLayout& layout);

// The names of `fd`'s extended attributes, each ended by a zero byte, in the file system's
// order; none where the file system keeps no attributes.
DWORD ListAttributeNames(int fd, std::vector<char>& list);

// Moves a resolved named stream path (its attribute "user.T") into the layout of the file
// system that holds the file, or that will hold it when the file is still to be made.
// ERROR_FILENAME_EXCED_RANGE when the layout's longer name passes the 255-byte limit of an
// attribute name.
DWORD PlaceInLayout(StreamPath& path);

// The stream name that `attribute` holds in `layout`; false for an attribute that is no
// stream there (Samba's own "user.DOSATTRIB", say).
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
// "user.DosStream.T:$DATA" attribute. A walk shows the items of its file system's layout.
DWORD RefuseMixing(int fd, StreamLayout layout);

}  // namespace quarrow2::platform

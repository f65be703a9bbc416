// Opening the stream of one item and wrapping it in a MetaData object.
#pragma once

#include "platform/owners.h"
#include "quarrow2/quarrow2.h"

namespace quarrow2::store {

// Opens the stream for reading and writing, sharing it with readers only; when that is
// refused, opens it for reading alone. With `create`, a missing stream (and file) is made,
// the stream holding the empty value from the start. On failure the handle is invalid and
// the thread's last error says why.
platform::UniqueHandle OpenStream(const WCHAR* streamPath, bool create);

// Opens (or, with `create`, opens or creates) the item `type` of the file and hands out a
// new MetaData item holding its stream: *out then carries the item's only reference. A
// newly created item holds the empty value. On failure *out is null, the result is a
// failure code and the thread's last error is the reason the open failed.
HRESULT OpenItem(const WCHAR* filePath, const WCHAR* type, bool create, IMetaData** out);

}  // namespace quarrow2::store

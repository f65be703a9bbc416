// The Length and Types properties of a File, from its path (file_properties.cpp also
// defines File's members, which check that a path is bound first). Neither reports a rich
// error: a file that cannot be walked simply has no items. IFile2's Items and IFile3's Names,
// which fail with the cause instead, are built here from the platform's listing.
#pragma once

#include <vector>

#include "platform/item_streams.h"
#include "platform/platform.h"
#include "quarrow2/quarrow2.h"

namespace quarrow2::discovery {

// The total size of the file's items (modulo 2^32, so above 2147483647 it reads negative)
// into *pVal; S_OK, also when the file cannot be opened (total 0).
HRESULT FileLength(LPCWSTR path, LONG* pVal);

// A new Strings collection of the file's type names, in the order the file system reports
// them, into *pVal with the only reference to it. The file is walked only when supported is
// VARIANT_TRUE; otherwise, or when it cannot be opened, the collection is empty. On failure
// (E_OUTOFMEMORY) nothing is handed out and *pVal is not written.
HRESULT FileTypes(LPCWSTR path, VARIANT_BOOL supported, IStrings** pVal);

// IFile2's Items for these streams: a new n x 2 array of variants in *pVal, row i the name
// (VT_BSTR) and the size (VT_I4, VT_R8 from 2 GiB on, VT_NULL for a foreign name).
// E_OUTOFMEMORY with *pVal left VT_EMPTY.
HRESULT ItemTable(const std::vector<platform::StreamEntry>& streams, VARIANT* pVal);

// IFile3's Names for these streams: a new one-dimensional array of variants in *pVal, each a
// name (VT_BSTR), foreign names left out. E_OUTOFMEMORY with *pVal left VT_EMPTY.
HRESULT NameList(const std::vector<platform::StreamEntry>& streams, VARIANT* pVal);

}  // namespace quarrow2::discovery

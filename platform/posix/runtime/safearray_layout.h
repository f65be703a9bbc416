// What the SAFEARRAY functions share: the memory layout Windows gives an array, its element
// kinds, size arithmetic that cannot overflow, and the lock count.
//
// Layout: 16 hidden bytes, then the descriptor with its bounds, as on Windows. For arrays of
// interfaces the hidden bytes hold the interface identifier (FADF_HAVEIID); for all others
// their last four bytes hold the element VARTYPE (FADF_HAVEVARTYPE). The bounds are stored
// in reverse order (rgsabound[0] is the last dimension), and the first index varies fastest
// in the data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace quarrow2::posix::safearray {

constexpr USHORT kMaxDimensions = 0xFFFF;
// Windows refuses the 65536th concurrent lock of one array.
constexpr ULONG kMaxLocks = 0xFFFF;

// Bytes per element, or 0 for an element type this runtime does not store in arrays.
ULONG ElementSize(VARTYPE vt);

// A zeroed descriptor with room for `dims` bounds and the hidden bytes in front; null when
// memory runs out. FreeDescriptor takes only what AllocateDescriptor gave.
SAFEARRAY* AllocateDescriptor(USHORT dims);
void FreeDescriptor(SAFEARRAY* psa);

// Sets the element kind: the FADF_ feature bits and the hidden bytes.
void SetElementType(SAFEARRAY* psa, VARTYPE vt);
// Copies the hidden bytes (vartype or interface identifier) of one array to another.
void CopyHiddenHeader(const SAFEARRAY* from, SAFEARRAY* to);
// The element VARTYPE recorded in the hidden bytes.
VARTYPE HiddenVartype(const SAFEARRAY* psa);

// The number of elements and the size of the data. False when the total would not fit the
// address space (the descriptor is then unusable for allocation).
bool CellCount(const SAFEARRAY* psa, uint64_t* cells);
bool DataBytes(const SAFEARRAY* psa, uint64_t cells, size_t* bytes);

// Zeroed data of `bytes` bytes; never null for 0 bytes (Windows hands out a real block for
// an array of no elements, so access to its data yields a pointer), null when out of memory.
void* AllocateData(size_t bytes);

// The element offset of a set of indices (one per dimension, first dimension first), or
// false when any index is outside its dimension.
bool CellOffset(const SAFEARRAY* psa, const LONG* indices, uint64_t* cell);
void* CellPointer(const SAFEARRAY* psa, uint64_t cell);

// Releases what `count` elements starting at `first` own (strings, interface references,
// variant contents) and leaves them empty.
void ClearElements(SAFEARRAY* psa, uint64_t first, uint64_t count);
// Deep-copies `count` elements into the zeroed data of `to`, which has the same element
// kind. On failure the elements copied so far stay in `to` for the caller to clear.
HRESULT CopyElements(const SAFEARRAY* from, SAFEARRAY* to, uint64_t count);

// The lock count, changed atomically.
HRESULT AddLock(SAFEARRAY* psa);
HRESULT RemoveLock(SAFEARRAY* psa);
// Takes the first lock, or fails with DISP_E_ARRAYISLOCKED when the array is locked: the
// array cannot be locked by anyone else until ReleaseExclusive.
HRESULT AcquireExclusive(SAFEARRAY* psa);
void ReleaseExclusive(SAFEARRAY* psa);

}  // namespace quarrow2::posix::safearray

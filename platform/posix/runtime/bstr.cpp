// Automation strings with the Windows layout: a 32-bit byte length, the UTF-16 units, and
// zero bytes after them. The pointer handed out is the first unit, so clients that read the
// length prefix or rely on the terminator see what they would see on Windows.
// Task memory, the other kind of block handed across the interface, is zeroed likewise: no
// caller ever sees memory it has not written.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

using ByteLength = uint32_t;

// Three zero bytes after the content: a whole zero unit follows every string, also one whose
// byte length is odd (its last unit then holds one content byte and one zero byte).
constexpr size_t kTrailingZeros = 3;

// Longest content whose block size still fits the 32-bit length prefix with room to spare.
constexpr uint64_t kMaxByteLength = 0x7FFFFFF0u;

char* BlockOf(BSTR s) { return reinterpret_cast<char*>(s) - sizeof(ByteLength); }

ByteLength StoredByteLength(BSTR s) {
    ByteLength n;
    std::memcpy(&n, BlockOf(s), sizeof n);
    return n;
}

// A zero-filled string of `bytes` bytes (Windows leaves the content of a string made
// without a source uninitialised); null when the length is out of range or memory runs out.
BSTR AllocateZeroed(uint64_t bytes) {
    if (bytes > kMaxByteLength) return nullptr;
    const ByteLength length = static_cast<ByteLength>(bytes);
    char* block = static_cast<char*>(std::calloc(1, sizeof(ByteLength) + length + kTrailingZeros));
    if (!block) return nullptr;
    std::memcpy(block, &length, sizeof length);
    return reinterpret_cast<BSTR>(block + sizeof(ByteLength));
}

BSTR AllocateCopy(const void* source, uint64_t bytes) {
    BSTR s = AllocateZeroed(bytes);
    if (s && source && bytes) std::memcpy(s, source, static_cast<size_t>(bytes));
    return s;
}

size_t UnitsUpToZero(const OLECHAR* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    return AllocateCopy(psz, uint64_t{UnitsUpToZero(psz)} * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    return AllocateCopy(strIn, uint64_t{ui} * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) { return AllocateCopy(psz, len); }

void SysFreeString(BSTR bstrString) {
    if (bstrString) std::free(BlockOf(bstrString));
}

UINT SysStringLen(BSTR pbstr) { return pbstr ? StoredByteLength(pbstr) / sizeof(OLECHAR) : 0; }

UINT SysStringByteLen(BSTR bstr) { return bstr ? StoredByteLength(bstr) : 0; }

// Task memory: blocks that one side allocates and the other frees (ProgIDs, for instance). A
// request for 0 bytes still yields a block of its own, as on Windows.
LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::calloc(1, cb ? cb : 1); }

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

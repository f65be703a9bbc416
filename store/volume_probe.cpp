#include "store/volume_probe.h"

namespace quarrow2::store {
namespace {

// A root never runs longer than this, so that the backslash and terminator always fit.
constexpr size_t kMaxCopiedUnits = 244;
constexpr int kBackslashesOfUncShare = 4;

}  // namespace

void GetVolumeRoot(const WCHAR* path, WCHAR (&root)[kVolumeRootCapacity]) {
    const WCHAR* p = path ? path : OLESTR("");
    size_t n = 0;
    if (p[0] != 0 && p[1] == OLESTR(':')) {
        // Drive letter, colon and whatever third unit follows ("C:\", "C:r", or "C:").
        for (; n < 3 && p[n] != 0; ++n) root[n] = p[n];
        root[n] = 0;
        return;
    }
    int backslashes = 0;
    for (; n < kMaxCopiedUnits && p[n] != 0; ++n) {
        if (p[n] == OLESTR('\\') && ++backslashes == kBackslashesOfUncShare) break;
        root[n] = p[n];
    }
    root[n++] = OLESTR('\\');
    root[n] = 0;
}

DWORD ProbeVolume(const WCHAR* path, DWORD& queryError) {
    WCHAR root[kVolumeRootCapacity] = {};
    GetVolumeRoot(path, root);
    DWORD maxComponentLength = 0;
    DWORD flags = 0;
    WCHAR fileSystemName[MAX_PATH];
    // A failed query leaves the flags at 0: no named streams.
    queryError = GetVolumeInformationW(root, nullptr, 0, nullptr, &maxComponentLength, &flags,
                                       fileSystemName, MAX_PATH)
                     ? 0
                     : GetLastError();
    return flags & FILE_NAMED_STREAMS;
}

}  // namespace quarrow2::store

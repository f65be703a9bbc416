// What the system keeps items in, as the tool asks it: the largest value an item takes, the
// library's two Linux layouts (user.T and Samba's user.DosStream.T:$DATA) with the folder
// markers that choose between them, and Samba's configuration, read through testparm.
// storage_posix.cpp answers on Linux; storage_win.cpp, where NTFS keeps named streams
// itself, refuses the layout calls.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tools/formats/text.h"

namespace quarrow2::tool {

// The largest value, in bytes, that the tool stores on one item: on Linux 64 KiB, the most
// the kernel takes for one extended attribute; on Windows 64 MiB, the tool's own bound (a
// named stream takes far more, but a value is held whole in memory a few times over on its
// way), well inside the interface's signed 32-bit sizes.
size_t LargestValueBytes();

// Has the library keep items in the layout named ("native" or "samba") on every file system,
// as its QUARROW2_LAYOUT variable does; called before the library is first used. Throws
// UsageError where the system keeps streams one way only (Windows).
void ChooseStorageLayout(const std::string& layout);

// Whether the file carries items in both of the library's Linux layouts (user.T and Samba's
// user.DosStream.T:$DATA), of which a listing shows one; never on Windows.
bool CarriesBothLayouts(const std::string& path);

// Whether CarriesBothLayouts must be asked of a file that the library listed with items
// (`listedAny`: any name, items or not) and `foreign` names: in the native layout Samba's
// items are among the foreign names, and only Samba's layout hides items of the other, so
// it is asked when a foreign name is one of Samba's, or when the layout of the file may be
// Samba's: the override says so, or `keptNatively` (asked last) does not know it is native.
// Never on Windows.
bool MayCarryBothLayouts(bool listedAny, const std::vector<WString>& foreign,
                         const std::function<bool()>& keptNatively);

// The word of the layout marker (user.quarrow2.layout) on the folder itself, as stored;
// empty when it carries none. Failure when it cannot be read. UsageError on Windows, as for
// every layout call below.
std::string LayoutMarkerOf(const std::string& folder);

// The nearest marker at or above `folder` on its file system, with the folder that holds it
// in `holder`; empty when there is none. What the library follows, seen by path.
std::string NearestLayoutMarker(const std::string& folder, std::string& holder);

// Sets the folder's marker to `layout`, or removes it when `layout` is empty (nothing to
// remove is no failure). Failure with the system's reason.
void MarkLayout(const std::string& folder, const std::string& layout);

// Runs `program` (looked up in PATH) with `arguments`, its standard output into `output`
// and its standard error into `errors`; its exit status, or -1 when it is not installed.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               std::string& output, std::string& errors);

}  // namespace quarrow2::tool
